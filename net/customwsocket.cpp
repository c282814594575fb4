// Construction, the hidden window and its message dispatch, properties,
// error reporting and the small helpers of the socket core.

#include "net/customwsocket.h"

#include "net/wsocketaddress.h"
#include "net/wsocketerror.h"
#include "platform/application.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {
// Handlers are called through a copy: a handler may replace itself (or the
// whole set, as ReadLine does) while it runs.
template <typename Event, typename... Args>
void Fire(const Event& event, Args... args)
{
    if (!event)
        return;
    const Event handler = event;
    handler(args...);
}

// Assigned from named strings: g++ 12 at -O3 warns wrongly (-Wrestrict) on
// assigning short literals to a std::string.
const std::string DefaultProto = "tcp";
const std::string DefaultLocalPort = "0";
const std::string DefaultLocalAddr = "0.0.0.0";
} // namespace

TCustomWSocket::TCustomWSocket() : FLookupBuffer(LookupBufferSize, '\0')
{
    // The window handler reaches the object through the alive token, so a
    // message that is already being dispatched when the object dies cannot
    // touch it.
    TAliveToken alive = FAlive;
    FWindow = std::make_unique<THiddenWindow>([this, alive](TMessage& msg) {
        if (!*alive)
            return;
        WndProc(msg);
    });
    AssignDefaultValue();
    WSocketInstanceAdded();
}

TCustomWSocket::~TCustomWSocket()
{
    FDestroying = true;
    try {
        CancelDnsLookup();
    } catch (...) {
        // Nobody is left to tell.
    }
    if (FState != wsClosed) {
        try {
            InternalClose(true, 0);
        } catch (...) {
        }
    }
    // A handle that a failed close left behind must not outlive us.
    if (FSocketHandle != INVALID_SOCKET) {
        try {
            WSocket_closesocket(FSocketHandle);
        } catch (...) {
        }
        FSocketHandle = INVALID_SOCKET;
    }
    WSocketInstanceRemoved();
    FSendQueue.clear();
    *FAlive = false;
    // Posted messages still queued for the window are dropped with it. The
    // window may be dispatching the message that destroys us (Release, or a
    // handler deleting its own socket); deleting a QObject inside its own
    // event() is allowed, and the dispatcher holds its own handler copy.
    FWindow->SetHandler({});
    FWindow.reset();
}

HWND TCustomWSocket::MessageWindow() const { return FWindow ? FWindow->Handle() : 0; }

void TCustomWSocket::WndProc(TMessage& MsgRec)
{
    const TAliveToken alive = FAlive;
    try {
        switch (MsgRec.Msg) {
        case WM_ASYNCSELECT:
            WMASyncSelect(MsgRec);
            break;
        case WM_ASYNCGETHOSTBYNAME:
            WMAsyncGetHostByName(MsgRec);
            break;
        case WM_ASYNCGETHOSTBYADDR:
            WMAsyncGetHostByAddr(MsgRec);
            break;
        case WM_CLOSE_DELAYED:
            WMCloseDelayed(MsgRec);
            break;
        case WM_WSOCKET_RELEASE:
            WMRelease(MsgRec);
            break;
        case WM_TRIGGER_EXCEPTION:
            throw ESocketException("Test exception in WSocket");
        default:
            MsgRec.Result = 0;
            break;
        }
    } catch (const std::exception& E) {
        // Any exception, not only the framework's own: letting one unwind
        // into the event loop would end the program.
        if (*alive)
            HandleBackGroundException(E);
    }
}

void TCustomWSocket::HandleBackGroundException(const std::exception& E)
{
    const TAliveToken alive = FAlive;
    bool CanClose = true;
    if (OnBgException) {
        try {
            const TBgExceptionEvent handler = OnBgException;
            handler(this, E, CanClose);
        } catch (...) {
        }
    }
    if (!*alive)
        return;
    if (CanClose) {
        try {
            Abort();
        } catch (...) {
        }
    }
}

void TCustomWSocket::WMCloseDelayed(TMessage&) { Close(); }

void TCustomWSocket::WMRelease(TMessage&)
{
    // Release is the way for a handler to free the socket that called it:
    // the object was created with `new` and handed over to this message, so
    // deleting it here is the owner's intent. Nothing touches the object
    // after this line.
    delete this;
}

void TCustomWSocket::CloseDelayed() { PostMessage(MessageWindow(), WM_CLOSE_DELAYED, 0, 0); }

void TCustomWSocket::Release() { PostMessage(MessageWindow(), WM_WSOCKET_RELEASE, 0, 0); }

void TCustomWSocket::ThrowTestException() { PostMessage(MessageWindow(), WM_TRIGGER_EXCEPTION, 0, 0); }

void TCustomWSocket::AssignDefaultValue()
{
    std::memset(&FRemoteAddress, 0, sizeof FRemoteAddress);
    FRemoteAddress.sin_family = AF_INET;
    std::memset(&FRemoteAddress6, 0, sizeof FRemoteAddress6);
    FConnectAddresses.clear();
    FConnectIndex = 0;
    FAddressFamily = AF_INET;
    FPortAssigned = false;
    FAddrAssigned = false;
    FAddrResolved = false;
    FPortResolved = false;
    FProtoResolved = false;
    FLocalPortResolved = false;
    FProtoAssigned = true;
    FProtocol = IPPROTO_TCP;
    FProtoText = DefaultProto;
    FSocketType = SOCK_STREAM;
    FLocalPortText = DefaultLocalPort;
    FLocalAddr = DefaultLocalAddr;
    FLingerOnOff = wsLingerOn;
    FLingerTimeout = 0;
    FSocketHandle = INVALID_SOCKET;
    FState = wsClosed;
    FSendQueueEmpty = true;
    FPaused = false;
    FReadCount = 0;
    FSessionClosedFired = false;
    FFlushTimeout = 60;
}

// --- Properties ---------------------------------------------------------------

void TCustomWSocket::SetAddr(const std::string& Value)
{
    if (FAddrAssigned && Value == FAddrText)
        return;
    if (FState != wsClosed) {
        RaiseException("Cannot change Addr if not closed");
        return;
    }
    FAddrText = TrimBlanks(Value);
    if (!FAddrText.empty())
        FAddrResolved = false;
    FAddrAssigned = !FAddrText.empty();
}

void TCustomWSocket::SetRemotePort(const std::string& sPort)
{
    if (FPortAssigned && sPort == FPortText)
        return;
    if (FState != wsClosed) {
        RaiseException("Cannot change Port if not closed");
        return;
    }
    FPortText = TrimBlanks(sPort);
    if (!FPortText.empty())
        FPortResolved = false;
    FPortAssigned = !FPortText.empty();
}

void TCustomWSocket::SetProto(const std::string& sProto)
{
    if (FProtoAssigned && sProto == FProtoText)
        return;
    if (FState != wsClosed) {
        RaiseException("Cannot change Proto if not closed");
        return;
    }
    FProtoText = TrimBlanks(sProto);
    if (!FProtoText.empty())
        FProtoResolved = false;
    FProtoAssigned = !FProtoText.empty();
}

void TCustomWSocket::SetLocalPort(const std::string& Value)
{
    if (FState != wsClosed) {
        RaiseException("Cannot change LocalPort if not closed");
        return;
    }
    FLocalPortText = Value;
    FLocalPortResolved = false;
}

void TCustomWSocket::SetLocalAddr(const std::string& Value)
{
    if (FState != wsClosed) {
        RaiseException("Cannot change LocalAddr if not closed");
        return;
    }
    const std::string text = Value.empty() ? std::string("0.0.0.0") : Value;
    in_addr addr;
    addr.s_addr = WSocket_inet_addr(text.c_str());
    if (addr.s_addr == INADDR_NONE)
        RaiseException("SetLocalAddr(): Invalid IP address");
    FLocalAddr = WSocket_inet_ntoa(addr);
}

TSocketSendFlags TCustomWSocket::SendFlags()
{
    switch (FSendFlags) {
    case 0:
        return wsSendNormal;
    case 1:
        return wsSendUrgent;
    default:
        RaiseException("Invalid internal SendFlags");
        return wsSendNormal;
    }
}

void TCustomWSocket::SetSendFlags(TSocketSendFlags Value)
{
    switch (Value) {
    case wsSendNormal:
        FSendFlags = 0;
        break;
    case wsSendUrgent:
        FSendFlags = MSG_OOB;
        break;
    default:
        RaiseException("Invalid SendFlags");
        break;
    }
}

std::int64_t TCustomWSocket::BufferedByteCount() const
{
    std::int64_t total = 0;
    for (const auto& block : FSendQueue)
        total += block->DataCount();
    return total;
}

// --- Errors -------------------------------------------------------------------

void TCustomWSocket::RaiseException(const std::string& Msg)
{
    if (OnError) {
        TriggerError();
        return;
    }
    throw ESocketException(Msg);
}

void TCustomWSocket::RaiseExceptionFmt(const char* Fmt, ...)
{
    char text[1024];
    va_list args;
    va_start(args, Fmt);
    std::vsnprintf(text, sizeof text, Fmt, args);
    va_end(args);
    RaiseException(text);
}

void TCustomWSocket::TriggerError() { Fire(OnError, this); }

void TCustomWSocket::SocketError(const std::string& FunctionName)
{
    const int ErrCode = WSocket_WSAGetLastError();
    const std::string line = "Error " + std::to_string(ErrCode) + " in function " + FunctionName + "\r\n" +
                             WSocketErrorDesc(ErrCode);
    if (ErrCode == WSAECONNRESET || ErrCode == WSAENOTCONN) {
        if (FSocketHandle != INVALID_SOCKET)
            WSocket_closesocket(FSocketHandle);
        FSocketHandle = INVALID_SOCKET;
        ChangeState(wsClosed);
    }
    FLastError = ErrCode;
    RaiseException(line);
}

// --- State and events -------------------------------------------------------

void TCustomWSocket::ChangeState(TSocketState NewState)
{
    const TSocketState OldState = FState;
    FState = NewState;
    // The owner may be half destroyed when it destroys us: no events then.
    if (FDestroying)
        return;
    TriggerChangeState(OldState, NewState);
}

void TCustomWSocket::TriggerChangeState(TSocketState OldState, TSocketState NewState)
{
    Fire(OnChangeState, this, OldState, NewState);
}

void TCustomWSocket::TriggerSessionConnected(std::uint16_t Error) { Fire(OnSessionConnected, this, Error); }

void TCustomWSocket::TriggerSessionAvailable(std::uint16_t Error) { Fire(OnSessionAvailable, this, Error); }

void TCustomWSocket::TriggerSessionClosed(std::uint16_t Error) { Fire(OnSessionClosed, this, Error); }

bool TCustomWSocket::TriggerDataAvailable(std::uint16_t Error)
{
    if (!OnDataAvailable)
        return false;
    Fire(OnDataAvailable, this, Error);
    return true;
}

void TCustomWSocket::TriggerDataSent(std::uint16_t Error) { Fire(OnDataSent, this, Error); }

void TCustomWSocket::TriggerDNSLookupDone(std::uint16_t Error) { Fire(OnDnsLookupDone, this, Error); }

// --- Waiting ------------------------------------------------------------------

void TCustomWSocket::MessagePump()
{
    if (FMultiThreaded) {
        ProcessMessages();
        return;
    }
    Application::ProcessMessages();
}

bool TCustomWSocket::ProcessMessage()
{
    if (Application::Terminated()) {
        FTerminated = true;
        return false;
    }
    Application::ProcessMessages();
    return true;
}

void TCustomWSocket::ProcessMessages() { ProcessMessage(); }

void TCustomWSocket::MessageLoop()
{
    const TAliveToken alive = FAlive;
    while (!Application::Terminated()) {
        Application::WaitForMessage(1000);
        if (!*alive)
            return;
    }
    FTerminated = true;
}

void TCustomWSocket::WaitForEvents(int MaxWaitMs)
{
    Application::WaitForMessage(MaxWaitMs);
    if (FMultiThreaded && Application::Terminated())
        FTerminated = true;
}

// --- Timers -------------------------------------------------------------------

bool TCustomWSocket::TimerIsSet(const timeval& tvp) { return tvp.tv_sec != 0 || tvp.tv_usec != 0; }

void TCustomWSocket::TimerClear(timeval& tvp)
{
    tvp.tv_sec = 0;
    tvp.tv_usec = 0;
}

bool TCustomWSocket::TimerCmp(const timeval& tvp, const timeval& uvp, bool IsEqual)
{
    const bool same = tvp.tv_sec == uvp.tv_sec && tvp.tv_usec == uvp.tv_usec;
    return same ? IsEqual : !IsEqual;
}

// --- Addresses ----------------------------------------------------------------

int TCustomWSocket::GetSockName(sockaddr_in& saddr, int& saddrlen)
{
    return WSocket_getsockname(FSocketHandle, reinterpret_cast<sockaddr*>(&saddr), &saddrlen);
}

int TCustomWSocket::GetPeerName(sockaddr_in& Name, int NameLen)
{
    if (FState != wsConnected)
        return -1;
    return WSocket_getpeername(FSocketHandle, reinterpret_cast<sockaddr*>(&Name), &NameLen);
}

std::string TCustomWSocket::GetPeerAddr()
{
    if (FState != wsConnected)
        return "error";
    TWSocketAddress peer;
    peer.Length = sizeof peer.Storage;
    if (WSocket_getpeername(FSocketHandle, reinterpret_cast<sockaddr*>(&peer.Storage), &peer.Length) != 0) {
        SocketError("GetPeerName");
        return "error";
    }
    return WSocketAddrText(peer.Addr());
}

std::string TCustomWSocket::GetPeerPort()
{
    if (FState != wsConnected)
        return "error";
    TWSocketAddress peer;
    peer.Length = sizeof peer.Storage;
    if (WSocket_getpeername(FSocketHandle, reinterpret_cast<sockaddr*>(&peer.Storage), &peer.Length) != 0) {
        SocketError("GetPeerPort");
        return "error";
    }
    return std::to_string(peer.Port());
}

std::string TCustomWSocket::GetSockAddr()
{
    if (FState != wsBound && FState != wsConnected && FState != wsListening)
        return "error";
    TWSocketAddress local;
    local.Length = sizeof local.Storage;
    if (WSocket_getsockname(FSocketHandle, reinterpret_cast<sockaddr*>(&local.Storage), &local.Length) != 0)
        return "error";
    return WSocketAddrText(local.Addr());
}

std::string TCustomWSocket::GetXPort()
{
    if (FState != wsBound && FState != wsConnected && FState != wsListening)
        return "error";
    TWSocketAddress local;
    local.Length = sizeof local.Storage;
    if (WSocket_getsockname(FSocketHandle, reinterpret_cast<sockaddr*>(&local.Storage), &local.Length) != 0)
        return "error";
    return std::to_string(local.Port());
}

void TCustomWSocket::Shutdown(int How)
{
    if (FSocketHandle != INVALID_SOCKET)
        WSocket_shutdown(FSocketHandle, How);
}

void TCustomWSocket::Pause()
{
    FPaused = true;
    if (FSocketHandle != INVALID_SOCKET)
        WSocket_WSAAsyncSelect(FSocketHandle, MessageWindow(), 0, 0);
}

void TCustomWSocket::Resume()
{
    FPaused = false;
    if (FSocketHandle != INVALID_SOCKET)
        WSocket_WSAAsyncSelect(FSocketHandle, MessageWindow(), WM_ASYNCSELECT,
                               FD_READ | FD_WRITE | FD_CONNECT | FD_CLOSE);
}
