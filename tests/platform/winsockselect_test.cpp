// The select emulation against real loopback peers (plain POSIX sockets).
#include "platform/winsock.h"
#include "support/eventwait.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

constexpr unsigned SelectMsg = WM_USER + 1;

struct Note {
    SOCKET s;
    int event;
    int error;
};

// Collects the notifications posted to one window.
class Recorder {
public:
    Recorder()
        : window_([this](TMessage& m) {
              notes.push_back({SOCKET(m.WParam), LoWord(m.LParam), HiWord(m.LParam)});
          })
    {
    }
    HWND Handle() const { return window_.Handle(); }
    int Count(int event) const
    {
        int n = 0;
        for (const Note& note : notes)
            n += note.event == event;
        return n;
    }
    std::vector<Note> notes;

private:
    THiddenWindow window_;
};

// A listening POSIX socket on 127.0.0.1 with a kernel-chosen port.
class Listener {
public:
    Listener()
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(::listen(fd, 8), 0);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        address = a;
    }
    ~Listener() { ::close(fd); }
    int Accept() { return ::accept(fd, nullptr, nullptr); }
    int fd = -1;
    sockaddr_in address{};
};

SOCKET ConnectAsync(const Recorder& rec, const sockaddr_in& to, long events)
{
    const SOCKET s = ws_socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_NE(s, INVALID_SOCKET);
    EXPECT_EQ(ws_WSAAsyncSelect(s, rec.Handle(), SelectMsg, events), 0);
    const int rc = ws_connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (rc == SOCKET_ERROR) {
        EXPECT_EQ(ws_WSAGetLastError(), WSAEWOULDBLOCK);
    }
    return s;
}

constexpr long AllEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;

// The peer closes with a reset (SO_LINGER of 0); true once the socket has
// reported the close.
bool ResetByPeer(int peer, const Recorder& rec)
{
    linger hard{1, 0};
    ::setsockopt(peer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(peer);
    return testsupport::WaitFor([&] { return rec.Count(FD_CLOSE) == 1; });
}

} // namespace

// Tests that start from a socket selected for every event, connected to a
// loopback listener; `peer` is the listener's side of the connection.
class WinsockSelectConnected : public ::testing::Test {
protected:
    void SetUp() override
    {
        s = ConnectAsync(rec, server.address, AllEvents);
        peer = server.Accept();
        ASSERT_TRUE(testsupport::WaitFor([&] { return rec.Count(FD_WRITE) == 1; }));
    }

    Listener server;
    Recorder rec;
    SOCKET s = INVALID_SOCKET;
    int peer = -1;
};

TEST(WinsockSelect, ConnectPostsConnectThenWriteAndNeverInsideTheCall)
{
    Listener server;
    Recorder rec;
    const SOCKET s = ConnectAsync(rec, server.address, AllEvents);
    EXPECT_TRUE(rec.notes.empty());
    ASSERT_TRUE(testsupport::WaitFor([&] { return rec.Count(FD_WRITE) == 1; }));
    ASSERT_GE(rec.notes.size(), 2u);
    EXPECT_EQ(rec.notes[0].event, FD_CONNECT);
    EXPECT_EQ(rec.notes[0].error, 0);
    EXPECT_EQ(rec.notes[0].s, s);
    EXPECT_EQ(rec.notes[1].event, FD_WRITE);
    ws_closesocket(s);
}

TEST(WinsockSelect, RefusedConnectIsReportedThroughFdConnect)
{
    sockaddr_in closed{};
    {
        Listener gone; // learn a free port, then close it
        closed = gone.address;
    }
    Recorder rec;
    const SOCKET s = ConnectAsync(rec, closed, AllEvents);
    ASSERT_TRUE(testsupport::WaitFor([&] { return rec.Count(FD_CONNECT) == 1; }));
    EXPECT_EQ(rec.notes[0].error, WSAECONNREFUSED);
    testsupport::RunFor(30);
    EXPECT_EQ(rec.Count(FD_WRITE), 0);
    ws_closesocket(s);
}

TEST_F(WinsockSelectConnected, ReadIsPostedOnceAndReArmedByRecvThenCloseAfterTheData)
{

    ASSERT_EQ(::send(peer, "hello world", 11, 0), 11);
    ASSERT_TRUE(testsupport::WaitFor([&] { return rec.Count(FD_READ) == 1; }));
    testsupport::RunFor(30);
    EXPECT_EQ(rec.Count(FD_READ), 1) << "no second FD_READ before a recv";

    char buf[5];
    ASSERT_EQ(ws_recv(s, buf, 5, 0), 5); // leaves 6 bytes: another FD_READ
    ASSERT_TRUE(testsupport::WaitFor([&] { return rec.Count(FD_READ) == 2; }));

    ::close(peer); // orderly close while 6 bytes are unread
    testsupport::RunFor(30);
    EXPECT_EQ(rec.Count(FD_CLOSE), 0) << "FD_CLOSE must wait until the data is read";
    char rest[16];
    ASSERT_EQ(ws_recv(s, rest, sizeof rest, 0), 6);
    ASSERT_TRUE(testsupport::WaitFor([&] { return rec.Count(FD_CLOSE) == 1; }));
    EXPECT_EQ(rec.notes.back().error, 0);
    ws_closesocket(s);
}

TEST_F(WinsockSelectConnected, ResetIsReportedAsConnReset)
{
    ASSERT_TRUE(ResetByPeer(peer, rec));
    EXPECT_EQ(rec.notes.back().error, WSAECONNRESET);
    ws_closesocket(s);
}

TEST_F(WinsockSelectConnected, WriteIsPostedAgainOnlyAfterWouldBlock)
{

    std::string block(65536, 'x');
    int sent = 0;
    while (true) {
        const int n = ws_send(s, block.data(), int(block.size()), 0);
        if (n == SOCKET_ERROR) {
            ASSERT_EQ(ws_WSAGetLastError(), WSAEWOULDBLOCK);
            break;
        }
        sent += n;
    }
    testsupport::RunFor(30);
    EXPECT_EQ(rec.Count(FD_WRITE), 1) << "peer has not read yet";

    // Drain at the peer; the socket becomes writable: exactly one FD_WRITE.
    std::vector<char> sink(1 << 20);
    int drained = 0;
    while (drained < sent) {
        const ssize_t n = ::recv(peer, sink.data(), sink.size(), 0);
        ASSERT_GT(n, 0);
        drained += int(n);
    }
    ASSERT_TRUE(testsupport::WaitFor([&] { return rec.Count(FD_WRITE) == 2; }));
    testsupport::RunFor(30);
    EXPECT_EQ(rec.Count(FD_WRITE), 2);
    ::close(peer);
    ws_closesocket(s);
}

TEST(WinsockSelect, AcceptIsPostedAndReArmedByAccept)
{
    Recorder rec;
    const SOCKET listener = ws_socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(ws_bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    int len = sizeof a;
    ASSERT_EQ(ws_getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
    ASSERT_EQ(ws_listen(listener, 5), 0);
    ASSERT_EQ(ws_WSAAsyncSelect(listener, rec.Handle(), SelectMsg, FD_ACCEPT), 0);

    const int c1 = ::socket(AF_INET, SOCK_STREAM, 0);
    const int c2 = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(c1, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::connect(c2, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_TRUE(testsupport::WaitFor([&] { return rec.Count(FD_ACCEPT) == 1; }));
    testsupport::RunFor(30);
    EXPECT_EQ(rec.Count(FD_ACCEPT), 1);

    const SOCKET first = ws_accept(listener, nullptr, nullptr);
    ASSERT_NE(first, INVALID_SOCKET);
    ASSERT_TRUE(testsupport::WaitFor([&] { return rec.Count(FD_ACCEPT) == 2; }));
    const SOCKET second = ws_accept(listener, nullptr, nullptr);
    ASSERT_NE(second, INVALID_SOCKET);
    EXPECT_NE(first, second);
    ws_closesocket(first);
    ws_closesocket(second);
    ws_closesocket(listener);
    ::close(c1);
    ::close(c2);
}

TEST_F(WinsockSelectConnected, ClosedHandlesGetNoMoreNotificationsAndAreNotReused)
{
    const int open = WinsockOpenSocketCount();
    ASSERT_EQ(ws_closesocket(s), 0);
    EXPECT_EQ(WinsockOpenSocketCount(), open - 1);
    ::send(peer, "x", 1, 0);
    testsupport::RunFor(50);
    EXPECT_EQ(rec.Count(FD_READ), 0);

    const SOCKET again = ws_socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_NE(again, s);
    ws_closesocket(again);
    ::close(peer);
}

TEST(WinsockSelect, DatagramSocketsPostReads)
{
    Recorder rec;
    const SOCKET s = ws_socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(ws_bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    int len = sizeof a;
    ws_getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ASSERT_EQ(ws_WSAAsyncSelect(s, rec.Handle(), SelectMsg, FD_READ | FD_WRITE), 0);

    const int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
    ::sendto(sender, "ping", 4, 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ASSERT_TRUE(testsupport::WaitFor([&] { return rec.Count(FD_READ) == 1; }));
    char buf[16];
    sockaddr_in from{};
    int fromLen = sizeof from;
    EXPECT_EQ(ws_recvfrom(s, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &fromLen), 4);
    EXPECT_EQ(from.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    ::close(sender);
    ws_closesocket(s);
}

namespace {

// A file of `size` bytes in a pattern that shows any lost or moved byte.
struct PatternFile {
    explicit PatternFile(std::size_t size)
    {
        char name[] = "/tmp/tarvik-transmit-XXXXXX";
        fd = ::mkstemp(name);
        ::unlink(name);
        bytes.resize(size);
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = char((i * 7) % 251);
        EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
        ::lseek(fd, 0, SEEK_SET);
    }
    ~PatternFile() { ::close(fd); }
    int fd = -1;
    std::vector<char> bytes;
};

} // namespace

TEST_F(WinsockSelectConnected, TransmitFileSendsTheWholeFileAndWaitsForWriteWhenTheSocketIsFull)
{

    const PatternFile file(16 << 20);
    std::vector<char> received;
    std::vector<char> sink(1 << 20);
    bool blockedOnce = false;
    for (;;) {
        const int n = ws_TransmitFile(s, file.fd, 1 << 20);
        if (n == 0)
            break;
        if (n > 0)
            continue;
        ASSERT_EQ(ws_WSAGetLastError(), WSAEWOULDBLOCK);
        if (!blockedOnce) {
            blockedOnce = true;
            testsupport::RunFor(30);
            EXPECT_EQ(rec.Count(FD_WRITE), 1) << "the peer has not read yet";
        }
        const int writes = rec.Count(FD_WRITE);
        // The peer reads; the socket becomes writable and says so once.
        while (true) {
            const ssize_t got = ::recv(peer, sink.data(), sink.size(), MSG_DONTWAIT);
            if (got <= 0)
                break;
            received.insert(received.end(), sink.data(), sink.data() + got);
        }
        ASSERT_TRUE(testsupport::WaitFor([&] { return rec.Count(FD_WRITE) == writes + 1; }));
    }
    EXPECT_TRUE(blockedOnce) << "16 MiB should fill a loopback socket's buffer";
    ws_shutdown(s, 1);
    for (;;) {
        const ssize_t got = ::recv(peer, sink.data(), sink.size(), 0);
        if (got <= 0)
            break;
        received.insert(received.end(), sink.data(), sink.data() + got);
    }
    EXPECT_TRUE(received == file.bytes) << "received " << received.size() << " of " << file.bytes.size();
    ::close(peer);
    ws_closesocket(s);
}

TEST_F(WinsockSelectConnected, TransmitFileToAResetPeerFailsWithoutEndingTheProcess)
{
    // With SIGPIPE at its default, a raised signal would end this test run.
    struct sigaction previous {};
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &standard, &previous);

    ASSERT_TRUE(ResetByPeer(peer, rec));

    const PatternFile file(1 << 20);
    // The first call reports the reset; later ones write to a connection
    // that is gone, which is where the kernel raises the signal.
    std::vector<int> errors;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(ws_TransmitFile(s, file.fd, 1 << 20), SOCKET_ERROR);
        errors.push_back(ws_WSAGetLastError());
    }
    for (const int error : errors)
        EXPECT_NE(error, WSAEWOULDBLOCK);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0) << "a raised signal was left pending";
    ws_closesocket(s);
    ::sigaction(SIGPIPE, &previous, nullptr);
}
