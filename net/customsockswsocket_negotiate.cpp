// The SOCKS dialogue: the requests this side sends, the proxy's replies in
// each state, success and failure.

#include "net/customsockswsocket.h"

#include "net/wsocketaddress.h"

namespace {

// Fixed parts of each request around its variable texts.
constexpr int Socks4Fixed = 9;     // version, command, port, address, 0
constexpr int Socks4AFixed = 10;   // ... and the 0 after the host name
constexpr int Socks5Fixed = 7;     // version, command, reserved, type, length, port
constexpr int Socks5AuthFixed = 3; // version, two lengths

const std::string TooLong4 = "Socks 4 request too long: the user id may have at most 119 characters";
const std::string TooLong4A =
    "Socks 4A request too long: the user id and the host name may have at most 118 characters together";
const std::string TooLong5 = "Socks 5 request too long: the host name may have at most 121 characters";
const std::string TooLong5Auth = "Socks 5 authentication request too long: the user name and the password may "
                                 "have at most 125 characters together";

// Code of a request that does not fit its block (the settings changed after
// Connect checked them).
constexpr std::int32_t SocksErrorRequestTooLong = 20014;

std::string ExceptionClassName(const std::exception& E)
{
    if (dynamic_cast<const ESocketException*>(&E))
        return "ESocketException";
    return "Exception";
}

void AppendPort(std::string& Request, std::uint16_t Port)
{
    Request.push_back(char(Port >> 8));
    Request.push_back(char(Port & 0xFF));
}

} // namespace

std::string TCustomSocksWSocket::SocksRequestTooLong() const
{
    const std::size_t block = SocksRequestSize;
    if (FSocksLevel == "4")
        return Socks4Fixed + FSocksUsercode.size() > block ? TooLong4 : "";
    if (FSocksLevel == "4A")
        return Socks4AFixed + FSocksUsercode.size() + FAddrText.size() > block ? TooLong4A : "";
    if (Socks5Fixed + FAddrText.size() > block)
        return TooLong5;
    if (FSocksAuthentication == socksAuthenticateUsercode &&
        Socks5AuthFixed + FSocksUsercode.size() + FSocksPassword.size() > block)
        return TooLong5Auth;
    return "";
}

// --- Requests ---------------------------------------------------------------

void TCustomSocksWSocket::SocksSendQuietly(const std::string& Request)
{
    try {
        Send(Request.data(), int(Request.size()));
    } catch (const std::exception&) {
        // A socket that is gone already reports its close on its own.
    }
}

void TCustomSocksWSocket::SocksSendGreeting()
{
    FSocksMethod = FSocksAuthentication == socksAuthenticateUsercode ? 2 : 0;
    FSocksReplyCount = 0;
    const char greeting[3] = {5, 1, char(FSocksMethod)};
    Send(greeting, sizeof greeting);
}

void TCustomSocksWSocket::SocksDoAuthenticate()
{
    const TAliveToken alive = AliveToken();
    FSocksState = socksAuthenticate;
    FSocksReplyCount = 0;
    TriggerSocksAuthState(socksAuthStart);
    if (!*alive || FState != wsConnected || FSocksState != socksAuthenticate)
        return;
    if (Socks5AuthFixed + FSocksUsercode.size() + FSocksPassword.size() > std::size_t(SocksRequestSize)) {
        DataAvailableError(SocksErrorRequestTooLong, TooLong5Auth);
        return;
    }
    std::string request;
    request.reserve(SocksRequestSize);
    request.push_back(1);
    request.push_back(char(FSocksUsercode.size()));
    request += FSocksUsercode;
    request.push_back(char(FSocksPassword.size()));
    request += FSocksPassword;
    SocksSendQuietly(request);
}

void TCustomSocksWSocket::SocksDoConnect()
{
    FSocksState = socksConnect;
    FSocksReplyCount = 0;
    if (SocksLevel4())
        SocksDoConnect4();
    else
        SocksDoConnect5();
}

void TCustomSocksWSocket::SocksDoConnect4()
{
    const bool levelA = FSocksLevel == "4A";
    const std::size_t length = (levelA ? Socks4AFixed + FAddrText.size() : std::size_t(Socks4Fixed)) +
                               FSocksUsercode.size();
    if (length > std::size_t(SocksRequestSize)) {
        DataAvailableError(SocksErrorRequestTooLong, levelA ? TooLong4A : TooLong4);
        return;
    }
    std::uint32_t address = 0; // network order
    if (levelA) {
        // 0.0.0.1: the proxy resolves the name that follows the user id.
        address = WSocket_htonl(1);
    } else {
        try {
            address = WSocketResolveHost(FAddrText);
        } catch (const std::exception& E) {
            DataAvailableError(20017, ExceptionClassName(E) + " " + E.what());
            return;
        }
    }
    std::string request;
    request.reserve(SocksRequestSize);
    request.push_back(4);
    request.push_back(1);
    AppendPort(request, FPortNumber);
    request.append(reinterpret_cast<const char*>(&address), 4);
    request += FSocksUsercode;
    request.push_back(0);
    if (levelA) {
        request += FAddrText;
        request.push_back(0);
    }
    SocksSendQuietly(request);
}

void TCustomSocksWSocket::SocksDoConnect5()
{
    if (Socks5Fixed + FAddrText.size() > std::size_t(SocksRequestSize)) {
        DataAvailableError(SocksErrorRequestTooLong, TooLong5);
        return;
    }
    std::string request;
    request.reserve(SocksRequestSize);
    request.push_back(5);
    request.push_back(1);
    request.push_back(0);
    request.push_back(3); // the target goes by name, also a dotted one
    request.push_back(char(FAddrText.size()));
    request += FAddrText;
    AppendPort(request, FPortNumber);
    SocksSendQuietly(request);
}

// --- Replies --------------------------------------------------------------------

bool TCustomSocksWSocket::SocksReceive(int Limit)
{
    const int room = Limit - FSocksReplyCount;
    if (room <= 0)
        return true;
    const int got = TCustomWSocket::DoRecv(FSocksReply.data() + FSocksReplyCount, room, 0);
    if (got < 0) {
        const int err = WSocket_WSAGetLastError();
        if (err == WSAEWOULDBLOCK)
            return true;
        DataAvailableError(err, "data receive error");
        return false;
    }
    // 0 is the end of the stream: the close notification follows.
    FSocksReplyCount += got;
    return true;
}

bool TCustomSocksWSocket::SocksDataAvailable(std::uint16_t Error)
{
    if (Error != 0) {
        DataAvailableError(Error, "data receive error");
        return false;
    }
    switch (FSocksState) {
    case socksNegociateMethods:
        SocksMethodsReply();
        return true;
    case socksAuthenticate:
        SocksAuthenticateReply();
        return true;
    case socksConnect:
        if (SocksLevel4())
            SocksConnectReply4();
        else
            SocksConnectReply5();
        return true;
    default:
        DataAvailableError(20013, "internal error");
        return false;
    }
}

void TCustomSocksWSocket::SocksMethodsReply()
{
    if (!SocksReceive(SocksReplySize - 1))
        return;
    if (SocksLevel4()) {
        DataAvailableError(20001, "TWSocket logic error");
        return;
    }
    if (FSocksReplyCount < 2)
        return;
    FSocksReplyCount = 0;
    if (FSocksReply[0] != 5) {
        DataAvailableError(20002, "socks version error");
        return;
    }
    const unsigned chosen = FSocksReply[1];
    if (chosen == 0) {
        if (FSocksMethod == 2) {
            const TAliveToken alive = AliveToken();
            TriggerSocksAuthState(socksAuthNotRequired);
            if (!*alive || FState != wsConnected || FSocksState != socksNegociateMethods)
                return;
        }
        SocksDoConnect();
        return;
    }
    // The user's name and password go only to a proxy that was offered them.
    if (chosen == 2 && FSocksMethod == 2) {
        SocksDoAuthenticate();
        return;
    }
    DataAvailableError(20003, "authentification method not acceptable");
}

void TCustomSocksWSocket::SocksAuthenticateReply()
{
    if (!SocksReceive(SocksReplySize - 1))
        return;
    if (FSocksReplyCount >= 1 && FSocksReply[0] != 1) {
        DataAvailableError(20002, "socks version error");
        return;
    }
    if (FSocksReplyCount < 2)
        return;
    if (FSocksReplyCount > 2) {
        DataAvailableError(20001, "too much data availaible");
        return;
    }
    if (FSocksReply[1] != 0) {
        DataAvailableError(20015, "socks authentication failed");
        return;
    }
    FSocksReplyCount = 0;
    const TAliveToken alive = AliveToken();
    TriggerSocksAuthState(socksAuthSuccess);
    if (!*alive || FState != wsConnected || FSocksState != socksAuthenticate)
        return;
    SocksDoConnect();
}

void TCustomSocksWSocket::SocksConnectReply4()
{
    // Exactly the reply: what follows it is the target's and stays in the
    // socket.
    if (!SocksReceive(8))
        return;
    if (FSocksReplyCount < 8)
        return;
    FSocksReplyCount = 0;
    if (FSocksReply[0] != 0) {
        DataAvailableError(20002, "socks version error");
        return;
    }
    const unsigned code = FSocksReply[1];
    switch (code) {
    case 90:
        SocksSuccess();
        return;
    case 91:
        DataAvailableError(20016, "request rejected or failed");
        return;
    case 92:
        DataAvailableError(20008, "connection refused");
        return;
    case 93:
        DataAvailableError(20015, "authentification failed");
        return;
    default:
        DataAvailableError(20012, "unassigned error #" + std::to_string(code));
        return;
    }
}

void TCustomSocksWSocket::SocksConnectReply5()
{
    if (!SocksReceive(SocksReplySize - 1))
        return;
    if (FSocksReplyCount >= 1 && FSocksReply[0] != 5) {
        DataAvailableError(20002, "socks version error");
        return;
    }
    if (FSocksReplyCount >= 2 && FSocksReply[1] != 0) {
        const unsigned code = FSocksReply[1];
        switch (code) {
        case 1:
            DataAvailableError(20004, "general SOCKS server failure");
            return;
        case 2:
            DataAvailableError(20005, "connection not allowed by ruleset");
            return;
        case 3:
            DataAvailableError(20006, "network unreachable");
            return;
        case 4:
            DataAvailableError(20007, "host unreachable");
            return;
        case 5:
            DataAvailableError(20008, "connection refused");
            return;
        case 6:
            DataAvailableError(20009, "time to live expired");
            return;
        case 7:
            DataAvailableError(20010, "command not supported");
            return;
        case 8:
            DataAvailableError(20011, "address type not supported");
            return;
        default:
            DataAvailableError(20012, "unassigned error #" + std::to_string(code));
            return;
        }
    }
    if (FSocksReplyCount <= 4)
        return;
    int length = 0;
    switch (FSocksReply[3]) {
    case 1:
        length = 10;
        break;
    case 3:
        length = 7 + FSocksReply[4];
        break;
    default:
        DataAvailableError(20011, "address type not supported");
        return;
    }
    if (FSocksReplyCount < length)
        return;
    FSocksLeftover = length;
    FSocksLeftoverCount = FSocksReplyCount - length;
    FSocksReplyCount = 0;
    SocksSuccess();
}

// --- Outcome --------------------------------------------------------------------

void TCustomSocksWSocket::SocksSuccess()
{
    FSocksState = socksData;
    const TAliveToken alive = AliveToken();
    const SOCKET handle = FSocketHandle;
    auto gone = [&] { return !*alive || FSocketHandle != handle || FState != wsConnected; };
    // Through the whole chain: a layer above (TLS) may start its own
    // negotiation on the tunnel before the connection is reported.
    TriggerSessionConnected(0);
    if (gone())
        return;
    // What came with the reply, or behind it, is handed on at once; through
    // the whole chain, so line mode sees it too. A handler that leaves the
    // leftover unread is not called again here (that would spin); its next
    // Receive still gets it first.
    for (;;) {
        const int before = FSocksLeftoverCount;
        if (before == 0) {
            std::uint32_t pending = 0;
            if (WSocket_ioctlsocket(FSocketHandle, FIONREAD, &pending) == SOCKET_ERROR || pending == 0)
                return;
        }
        TriggerDataAvailable(0);
        if (gone())
            return;
        // Bytes still in the socket bring their own notification.
        if (before == 0 || FSocksLeftoverCount == before)
            return;
    }
}

void TCustomSocksWSocket::DataAvailableError(std::int32_t Code, const std::string& Msg)
{
    const TAliveToken alive = AliveToken();
    TriggerSocksError(Code, Msg);
    if (!*alive)
        return;
    TCustomWSocket::TriggerSessionConnected(std::uint16_t(Code));
    if (!*alive)
        return;
    InternalClose(true, std::uint16_t(Code));
    if (!*alive)
        return;
    // Also when a handler closed the socket already, or the close failed.
    FSocksState = socksData;
}
