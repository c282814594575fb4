// The SOCKS layer: its settings, Connect through the proxy, the routing of
// the socket's notifications while the proxy is still answering, and the
// bytes that came behind the proxy's last reply. The dialogue itself is in
// customsockswsocket_negotiate.cpp.

#include "net/customsockswsocket.h"

#include "net/wsocketaddress.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {
const std::string DefaultSocksLevel = "5";

std::string Lower(std::string S)
{
    std::transform(S.begin(), S.end(), S.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return S;
}
} // namespace

TCustomSocksWSocket::TCustomSocksWSocket()
{
    // The base constructor ran the core reset; ours extends it.
    FSocksState = socksData;
    FSocksLeftoverCount = 0;
    FSocksServerAssigned = false;
    FSocksPortAssigned = false;
    FSocksServer.clear();
    FSocksPort.clear();
    FSocksLevel = DefaultSocksLevel;
}

void TCustomSocksWSocket::AssignDefaultValue()
{
    TCustomWSocket::AssignDefaultValue();
    FSocksState = socksData;
    FSocksLeftoverCount = 0;
    FSocksLeftover = 0;
    FSocksReplyCount = 0;
    FSocksServerAssigned = false;
    FSocksPortAssigned = false;
    FSocksServer.clear();
    FSocksPort.clear();
    FSocksLevel = DefaultSocksLevel;
}

// --- Settings -----------------------------------------------------------------

void TCustomSocksWSocket::SetSocksServer(const std::string& sServer)
{
    if (FState != wsClosed) {
        RaiseException("Can't change socks server if not closed");
        return;
    }
    FSocksServer = TrimBlanks(sServer);
    FSocksServerAssigned = !FSocksServer.empty();
}

void TCustomSocksWSocket::SetSocksPort(const std::string& sPort)
{
    if (FState != wsClosed) {
        RaiseException("Can't change socks port if not closed");
        return;
    }
    FSocksPort = TrimBlanks(sPort);
    FSocksPortAssigned = !FSocksPort.empty();
}

void TCustomSocksWSocket::SetSocksLevel(const std::string& Value)
{
    if (FState != wsClosed) {
        RaiseException("Can't change socks level if not closed");
        return;
    }
    if (Value != "4" && Value != "5" && Value != "4A" && Value != "4a") {
        RaiseException("Invalid socks level. Must be 4, 4A or 5.");
        return;
    }
    FSocksLevel = Value;
    if (FSocksLevel == "4a")
        FSocksLevel[1] = 'A';
}

// --- Connect and Listen ---------------------------------------------------------

void TCustomSocksWSocket::Connect()
{
    if (!FSocksServerAssigned) {
        TCustomWSocket::Connect();
        return;
    }
    // A socket in use, or a target not named: the core refuses these with
    // its own messages, before the proxy settings touch a live connection.
    if ((FSocketHandle != INVALID_SOCKET && FState != wsClosed) || !FPortAssigned || !FAddrAssigned ||
        !FProtoAssigned) {
        TCustomWSocket::Connect();
        return;
    }
    if (Lower(FProtoText) != "tcp") {
        RaiseException("tcp is the only protocol supported thru socks server");
        return;
    }
    const std::string tooLong = SocksRequestTooLong();
    if (!tooLong.empty()) {
        RaiseException(tooLong);
        return;
    }

    // The core connects to the proxy: its address and port take the place
    // of the target's, and are marked resolved so the core keeps them. They
    // are resolved on every connect, since the resolved flags describe Addr
    // and Port, which name the target here.
    std::uint16_t proxyPort = 0;
    std::uint32_t proxyAddress = 0;
    std::uint16_t targetPort = 0;
    try {
        proxyPort = WSocketResolvePort(FSocksPort, FProtoText);
        proxyAddress = WSocketResolveHost(FSocksServer);
        targetPort = WSocketResolvePort(FPortText, FProtoText);
    } catch (const std::exception& E) {
        RaiseException(std::string("connect: ") + E.what());
        return;
    }
    FRemoteAddress.sin_port = WSocket_htons(proxyPort);
    FRemoteAddress.sin_addr.s_addr = proxyAddress;
    FPortResolved = true;
    FAddrResolved = true;
    FPortNumber = targetPort;
    FSocksState = socksNegociateMethods;
    FSocksReplyCount = 0;
    FSocksLeftoverCount = 0;
    FSocksLeftover = 0;

    const TAliveToken alive = AliveToken();
    // When the core refuses, nothing is negotiating, and the proxy's address
    // must not pass for the target's on a later direct connect.
    auto undo = [&] {
        if (!*alive || FSocketHandle != INVALID_SOCKET)
            return;
        FSocksState = socksData;
        FPortResolved = false;
        FAddrResolved = false;
    };
    try {
        TCustomWSocket::Connect();
    } catch (...) {
        undo();
        throw;
    }
    undo();
}

void TCustomSocksWSocket::Listen()
{
    if (FSocksServerAssigned) {
        RaiseException("Listening is not supported thru socks server");
        return;
    }
    TCustomWSocket::Listen();
}

// --- Notifications --------------------------------------------------------------

void TCustomSocksWSocket::WndProc(TMessage& MsgRec)
{
    const std::uint16_t events = LoWord(MsgRec.LParam);
    if (MsgRec.Msg != WM_ASYNCSELECT || FSocksState == socksData || (events & (FD_READ | FD_CLOSE)) == 0) {
        TCustomWSocket::WndProc(MsgRec);
        return;
    }
    // While the proxy is still answering, its bytes belong to this layer:
    // they must not reach the layers above (line mode would take them as a
    // line), and its closing the connection ends the negotiation. The other
    // notifications go to the core one by one, in the core's own order.
    SplitNotification(
        MsgRec, [this](std::uint16_t bit) { return FSocksState != socksData && (bit == FD_READ || bit == FD_CLOSE); },
        [this](std::uint16_t bit, std::uint16_t error) {
            if (bit == FD_READ)
                SocksReadNotification(error);
            else
                SocksCloseNotification(error);
        },
        [this](const TMessage& one) {
            TMessage copy = one;
            TCustomWSocket::WndProc(copy);
        });
}

void TCustomSocksWSocket::SplitNotification(const TMessage& MsgRec, const std::function<bool(std::uint16_t)>& Owns,
                                            const std::function<void(std::uint16_t, std::uint16_t)>& Own,
                                            const std::function<void(const TMessage&)>& Down)
{
    const std::uint16_t events = LoWord(MsgRec.LParam);
    const TAliveToken alive = AliveToken();
    const SOCKET handle = FSocketHandle;
    const std::uint16_t error = HiWord(MsgRec.LParam);
    static constexpr std::uint16_t order[] = {FD_CONNECT, FD_READ, FD_WRITE, FD_ACCEPT, FD_CLOSE};
    for (const std::uint16_t bit : order) {
        if ((events & bit) == 0)
            continue;
        if (!*alive || MsgRec.WParam != WPARAM(handle) || FSocketHandle != handle || handle == INVALID_SOCKET ||
            FPaused)
            return;
        if (!Owns(bit)) {
            TMessage one = MsgRec;
            one.LParam = MakeLong(bit, error);
            Down(one);
            continue;
        }
        try {
            Own(bit, error);
        } catch (const std::exception& E) {
            if (*alive)
                HandleBackGroundException(E);
        }
    }
}

void TCustomSocksWSocket::SocksReadNotification(std::uint16_t Error) { SocksDataAvailable(Error); }

void TCustomSocksWSocket::SocksCloseNotification(std::uint16_t Error)
{
    // As in the core: a close while the connect is pending is reported by
    // the connect notification.
    if (FState == wsConnecting)
        return;
    const TAliveToken alive = AliveToken();
    const SOCKET handle = FSocketHandle;
    // The last bytes may still finish (or fail) the negotiation.
    if (Error == 0) {
        SocksDataAvailable(0);
        if (!*alive || FSocketHandle != handle)
            return;
    }
    if (FSocksState == socksData) {
        // Negotiated after all: the close is an ordinary one now.
        TMessage close{};
        close.Msg = WM_ASYNCSELECT;
        close.WParam = WPARAM(handle);
        close.LParam = MakeLong(FD_CLOSE, Error);
        TCustomWSocket::WndProc(close);
        return;
    }
    DataAvailableError(Error != 0 ? std::int32_t(Error) : std::int32_t(WSAECONNABORTED),
                       "socks server closed the connection");
}

void TCustomSocksWSocket::TriggerSessionConnected(std::uint16_t Error)
{
    if (FSocksState != socksNegociateMethods) {
        TCustomWSocket::TriggerSessionConnected(Error);
        return;
    }
    const TAliveToken alive = AliveToken();
    TriggerSocksConnected(Error);
    if (!*alive)
        return;
    if (Error != 0) {
        // The proxy could not be reached: the core closes at once.
        FSocksState = socksData;
        TCustomWSocket::TriggerSessionConnected(Error);
        return;
    }
    if (FState != wsConnected || FSocksState != socksNegociateMethods)
        return; // a handler closed the socket
    if (SocksLevel4()) {
        SocksDoConnect();
        return;
    }
    SocksSendGreeting();
}

void TCustomSocksWSocket::TriggerSessionClosed(std::uint16_t Error)
{
    if (FSocksState == socksAuthenticate) {
        const TAliveToken alive = AliveToken();
        TriggerSocksAuthState(socksAuthFailure);
        if (!*alive)
            return;
    }
    TCustomWSocket::TriggerSessionClosed(Error);
}

bool TCustomSocksWSocket::TriggerDataAvailable(std::uint16_t Error)
{
    if (FSocksState == socksData)
        return TCustomWSocket::TriggerDataAvailable(Error);
    return SocksDataAvailable(Error);
}

void TCustomSocksWSocket::TriggerDataSent(std::uint16_t Error)
{
    // The requests sent so far are this layer's own: a handler that sends
    // more on OnDataSent must not write into the dialogue with the proxy.
    if (FSocksState != socksData)
        return;
    TCustomWSocket::TriggerDataSent(Error);
}

// --- Bytes behind the last reply ------------------------------------------------

std::int64_t TCustomSocksWSocket::GetRcvdCount()
{
    if (FSocksLeftoverCount > 0)
        return FSocksLeftoverCount;
    return TCustomWSocket::GetRcvdCount();
}

int TCustomSocksWSocket::DoRecv(void* Buffer, int BufferSize, int Flags)
{
    if (FSocksLeftoverCount <= 0)
        return TCustomWSocket::DoRecv(Buffer, BufferSize, Flags);
    ++FRecvCalls;
    if (BufferSize <= 0)
        return 0;
    const int count = std::min(BufferSize, FSocksLeftoverCount);
    std::memcpy(Buffer, FSocksReply.data() + FSocksLeftover, std::size_t(count));
    if ((Flags & MSG_PEEK) == 0) {
        FSocksLeftover += count;
        FSocksLeftoverCount -= count;
    }
    return count;
}

// --- Events ---------------------------------------------------------------------

void TCustomSocksWSocket::TriggerSocksConnected(std::uint16_t Error)
{
    if (!OnSocksConnected)
        return;
    const auto handler = OnSocksConnected;
    handler(this, Error);
}

void TCustomSocksWSocket::TriggerSocksError(std::int32_t Error, const std::string& Msg)
{
    if (!OnSocksError)
        return;
    const auto handler = OnSocksError;
    handler(this, Error, Msg);
}

void TCustomSocksWSocket::TriggerSocksAuthState(TSocksAuthState AuthState)
{
    if (!OnSocksAuthState)
        return;
    const auto handler = OnSocksAuthState;
    handler(this, AuthState);
}
