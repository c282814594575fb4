// WSAAsyncSelect on Linux.
//
// Two QSocketNotifiers per socket watch readability and writability; they
// are switched on only while Winsock would be willing to post the matching
// notification, and off again as soon as it has been posted, so a socket
// whose owner does not read costs nothing (no busy loop on a level-triggered
// descriptor). The rules follow Winsock's "re-enabling functions":
//   FD_READ    posted once; re-armed by every recv/recvfrom.
//   FD_WRITE   posted after a connect succeeds, when selecting on a
//              connected socket, and after a send failed with WSAEWOULDBLOCK
//              once the socket is writable again.
//   FD_CONNECT posted once with the connect result.
//   FD_ACCEPT  posted once; re-armed by every accept.
//   FD_CLOSE   posted once, when a read would return end-of-stream (error
//              0) or a reset (WSAECONNRESET); never while data is unread.
// Every notification is posted to the window, never delivered inside the
// call that caused it.

#include "platform/winsock.h"
#include "platform/winsock_p.h"

#include <QSocketNotifier>

#include <cerrno>
#include <fcntl.h>

struct SelectState {
    HWND window = 0;
    unsigned msg = 0;
    long events = 0;
    bool closeReported = false;
    bool writeWanted = false;
    std::unique_ptr<QSocketNotifier> readNotifier;
    std::unique_ptr<QSocketNotifier> writeNotifier;
};

SocketRecord::SocketRecord() = default;
SocketRecord::~SocketRecord() = default;

namespace {

void Post(const SelectState& st, SOCKET s, long event, int error)
{
    if ((st.events & event) == 0)
        return;
    PostMessage(st.window, st.msg, WPARAM(s), MakeLong(std::uint16_t(event), std::uint16_t(error)));
}

bool WantsRead(const SelectState& st, const SocketRecord& rec)
{
    if (rec.listening)
        return (st.events & FD_ACCEPT) != 0;
    return (st.events & (FD_READ | FD_CLOSE)) != 0 && !st.closeReported;
}

void ArmRead(SelectState& st, const SocketRecord& rec)
{
    if (st.readNotifier && WantsRead(st, rec))
        st.readNotifier->setEnabled(true);
}

void OnReadable(SOCKET s)
{
    SocketRecord* rec = FindSocket(s);
    if (!rec || !rec->select)
        return;
    SelectState& st = *rec->select;
    st.readNotifier->setEnabled(false);

    if (rec->listening) {
        Post(st, s, FD_ACCEPT, 0);
        return;
    }
    if (rec->type != SOCK_STREAM) {
        Post(st, s, FD_READ, 0);
        return;
    }
    char probe = 0;
    const ssize_t n = ::recv(rec->fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n > 0) {
        if (st.events & FD_READ)
            Post(st, s, FD_READ, 0);
        else if (st.events & FD_CLOSE)
            st.readNotifier->setEnabled(false); // nobody reads: wait for a recv
        return;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        st.readNotifier->setEnabled(true); // spurious wake-up
        return;
    }
    st.closeReported = true;
    Post(st, s, FD_CLOSE, n == 0 ? 0 : WinsockErrorFromErrno(errno));
}

void OnWritable(SOCKET s)
{
    SocketRecord* rec = FindSocket(s);
    if (!rec || !rec->select)
        return;
    SelectState& st = *rec->select;
    st.writeNotifier->setEnabled(false);

    if (rec->connecting) {
        rec->connecting = false;
        int soError = 0;
        socklen_t len = sizeof soError;
        if (::getsockopt(rec->fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0)
            soError = errno;
        const int error = WinsockErrorFromErrno(soError);
        Post(st, s, FD_CONNECT, error);
        if (error == 0) {
            Post(st, s, FD_WRITE, 0);
            ArmRead(st, *rec);
        }
        return;
    }
    if (st.writeWanted) {
        st.writeWanted = false;
        Post(st, s, FD_WRITE, 0);
    }
}

bool IsConnected(const SocketRecord& rec)
{
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    return ::getpeername(rec.fd, reinterpret_cast<sockaddr*>(&peer), &len) == 0;
}

} // namespace

int ws_WSAAsyncSelect(SOCKET s, HWND window, unsigned msg, long events)
{
    SocketRecord* rec = FindSocket(s);
    if (!rec)
        return SOCKET_ERROR;
    // Winsock makes the socket non-blocking as a side effect.
    const int flags = ::fcntl(rec->fd, F_GETFL);
    if (flags < 0 || ::fcntl(rec->fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        SetWinsockErrorFromErrno();
        return SOCKET_ERROR;
    }
    SelectRelease(*rec);
    if (events == 0)
        return 0;

    auto st = std::make_unique<SelectState>();
    st->window = window;
    st->msg = msg;
    st->events = events;
    st->readNotifier = std::make_unique<QSocketNotifier>(rec->fd, QSocketNotifier::Read);
    st->writeNotifier = std::make_unique<QSocketNotifier>(rec->fd, QSocketNotifier::Write);
    st->readNotifier->setEnabled(false);
    st->writeNotifier->setEnabled(false);
    QObject::connect(st->readNotifier.get(), &QSocketNotifier::activated, [s] { OnReadable(s); });
    QObject::connect(st->writeNotifier.get(), &QSocketNotifier::activated, [s] { OnWritable(s); });
    rec->select = std::move(st);
    SelectState& state = *rec->select;

    if (rec->listening) {
        ArmRead(state, *rec);
    } else if (rec->connecting) {
        state.writeNotifier->setEnabled(true);
    } else if (rec->type != SOCK_STREAM) {
        ArmRead(state, *rec);
        Post(state, s, FD_WRITE, 0);
    } else if (IsConnected(*rec)) {
        Post(state, s, FD_WRITE, 0);
        ArmRead(state, *rec);
    }
    return 0;
}

void SelectRelease(SocketRecord& rec) { rec.select.reset(); }

void SelectAfterRecv(SOCKET, SocketRecord& rec)
{
    if (rec.select)
        ArmRead(*rec.select, rec);
}

void SelectAfterAccept(SOCKET, SocketRecord& rec)
{
    if (rec.select)
        ArmRead(*rec.select, rec);
}

void SelectAfterListen(SOCKET, SocketRecord& rec)
{
    if (rec.select)
        ArmRead(*rec.select, rec);
}

void SelectWouldBlockOnSend(SOCKET, SocketRecord& rec)
{
    if (!rec.select)
        return;
    rec.select->writeWanted = true;
    rec.select->writeNotifier->setEnabled(true);
}

void SelectConnectStarted(SOCKET, SocketRecord& rec)
{
    rec.connecting = true;
    if (rec.select)
        rec.select->writeNotifier->setEnabled(true);
}

void SelectConnectFinishedAtOnce(SOCKET s, SocketRecord& rec, int error)
{
    rec.connecting = false;
    if (!rec.select)
        return;
    Post(*rec.select, s, FD_CONNECT, error);
    if (error == 0) {
        Post(*rec.select, s, FD_WRITE, 0);
        ArmRead(*rec.select, rec);
    }
}

void SelectInheritForAccepted(SOCKET listener, SOCKET accepted)
{
    SocketRecord* from = FindSocket(listener);
    if (!from || !from->select)
        return;
    const HWND window = from->select->window;
    const unsigned msg = from->select->msg;
    const long events = from->select->events;
    ws_WSAAsyncSelect(accepted, window, msg, events);
}
