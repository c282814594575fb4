#pragma once

// The asynchronous socket core: a non-blocking socket driven entirely by
// messages posted to the object's own hidden window.

#include "net/esocketexception.h"
#include "net/winsockloader.h"
#include "net/wsockbuf.h"
#include "net/wsocketaddress.h"
#include "net/wsockettypes.h"
#include "platform/hiddenwindow.h"
#include "platform/winsock.h"

#include <sys/time.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

// Private messages of the socket window.
constexpr unsigned WM_ASYNCSELECT = WM_USER + 1;            // 1025
constexpr unsigned WM_ASYNCGETHOSTBYNAME = WM_USER + 2;     // 1026
constexpr unsigned WM_ASYNCGETHOSTBYADDR = WM_USER + 3;     // 1027
constexpr unsigned WM_CLOSE_DELAYED = WM_USER + 4;          // 1028
constexpr unsigned WM_WSOCKET_RELEASE = WM_USER + 5;        // 1029
constexpr unsigned WM_TRIGGER_EXCEPTION = WM_USER + 6;      // 1030
constexpr unsigned WM_TRIGGER_DATAAVAILABLE = WM_USER + 20; // 1044

// Size of every new send queue block.
constexpr std::int32_t SendBlockSizeDefault = 1514;
// Length handed to the resolver with each asynchronous lookup.
constexpr int LookupBufferSize = 1025;

class TCustomWSocket {
public:
    TCustomWSocket();
    virtual ~TCustomWSocket();

    TCustomWSocket(const TCustomWSocket&) = delete;
    TCustomWSocket& operator=(const TCustomWSocket&) = delete;

    // Component base: free for the owner's use.
    std::string Name;
    std::intptr_t Tag = 0;

    // --- Events (fired only when assigned) ---------------------------------
    // A handler may replace any handler, close the socket, or free it with
    // Release (or even delete it): the object stops touching itself then.
    // No event fires from the destructor.
    TChangeState OnChangeState;
    TSessionConnected OnSessionConnected;
    TSessionAvailable OnSessionAvailable;
    // Called again while data is pending, as long as each call reads
    // something. A handler that reads nothing is not called again at once
    // (that would spin): the bytes stay in the socket until the handler's
    // own next Receive, and reading them re-arms the notification.
    TDataAvailable OnDataAvailable;
    TDataSent OnDataSent;
    TSendData OnSendData;
    TSessionClosed OnSessionClosed;
    TDnsLookupDone OnDnsLookupDone;
    TSocketNotifyEvent OnError;
    TBgExceptionEvent OnBgException;

    // --- Properties ----------------------------------------------------------
    const std::string& Addr() const { return FAddrText; }
    void SetAddr(const std::string& Value);
    const std::string& Port() const { return FPortText; }
    void SetPort(const std::string& Value) { SetRemotePort(Value); }
    const std::string& Proto() const { return FProtoText; }
    const std::string& LocalAddr() const { return FLocalAddr; }
    void SetLocalAddr(const std::string& Value);
    const std::string& LocalPort() const { return FLocalPortText; }
    void SetLocalPort(const std::string& Value);
    std::string PeerAddr() { return GetPeerAddr(); }
    std::string PeerPort() { return GetPeerPort(); }
    const std::string& DnsResult() const { return FDnsResult; }
    const std::vector<std::string>& DnsResultList() const { return FDnsResultList; }
    TSocketState State() const { return FState; }
    // Bytes received through Receive/ReceiveFrom since the last reset.
    std::int64_t ReadCount() const { return FReadCount; }
    // Bytes a receive would return now.
    std::int64_t RcvdCount() { return GetRcvdCount(); }
    int LastError() const { return FLastError; }
    bool MultiThreaded() const { return FMultiThreaded; }
    void SetMultiThreaded(bool Value) { FMultiThreaded = Value; }
    TSocketSendFlags SendFlags();
    void SetSendFlags(TSocketSendFlags Value);
    TSocketLingerOnOff LingerOnOff() const { return FLingerOnOff; }
    void SetLingerOnOff(TSocketLingerOnOff Value) { FLingerOnOff = Value; }
    std::int32_t LingerTimeout() const { return FLingerTimeout; }
    void SetLingerTimeout(std::int32_t Value) { FLingerTimeout = Value; }
    std::int32_t FlushTimeout() const { return FFlushTimeout; }
    void SetFlushTimeout(std::int32_t Value) { FFlushTimeout = Value; }
    SOCKET SocketHandle() const { return FSocketHandle; }
    SOCKET HSocket() const { return FSocketHandle; }
    HWND MessageWindow() const;
    bool Terminated() const { return FTerminated; }
    std::int32_t SendBlockSize() const { return FSendBlockSize; }
    // Bytes queued and not yet handed to the socket.
    std::int64_t BufferedByteCount() const;
    bool AllSent() const { return FSendQueueEmpty; }

    // --- Operations ---------------------------------------------------------
    virtual void Connect();
    virtual void Close();
    // Closes from the message loop, so a handler may close its own socket.
    virtual void CloseDelayed();
    // Destroys the object from the message loop, so a handler may free its
    // own socket. Only for objects created with `new` whose owner has given
    // them up: the message handler deletes the object.
    virtual void Release();
    virtual void Abort();
    // Waits (in the event loop) until everything queued went to the socket.
    virtual void Flush();
    virtual void WaitForClose();
    virtual void Listen();
    virtual SOCKET Accept();
    virtual int Receive(void* Buffer, int BufferSize);
    virtual std::string ReceiveStr();
    virtual int ReceiveFrom(void* Buffer, int BufferSize, sockaddr_in& From, int& FromLen);
    // The same for a sender of either family (FromLen: sizeof From).
    int ReceiveFrom(void* Buffer, int BufferSize, sockaddr_storage& From, int& FromLen);
    int PeekData(void* Buffer, int BufferSize);
    virtual int Send(const void* Data, int Len);
    virtual int SendTo(const sockaddr_in& Dest, int DestLen, const void* Data, int Len);
    // The same to an address of either family (as ReceiveFrom gave it).
    int SendTo(const sockaddr_storage& Dest, int DestLen, const void* Data, int Len);
    virtual int SendStr(const std::string& Str);
    void SendText(const std::string& Str) { SendStr(Str); }
    void PutDataInSendBuffer(const void* Data, int Len);
    void PutStringInSendBuffer(const std::string& Str);
    virtual void DnsLookup(const std::string& HostName);
    virtual void ReverseDnsLookup(const std::string& HostAddr);
    virtual void CancelDnsLookup();
    // The peer's address as text ("127.0.0.1", "::1"), or "error".
    virtual std::string GetPeerAddr();
    // The local address the socket is bound to, as text, or "error".
    std::string GetSockAddr();
    virtual std::string GetPeerPort();
    virtual int GetPeerName(sockaddr_in& Name, int NameLen);
    virtual std::string GetXPort();
    virtual bool TimerIsSet(const timeval& tvp);
    virtual void TimerClear(timeval& tvp);
    virtual bool TimerCmp(const timeval& tvp, const timeval& uvp, bool IsEqual);
    virtual int GetSockName(sockaddr_in& saddr, int& saddrlen);
    virtual void Dup(SOCKET NewHSocket);
    virtual void Shutdown(int How);
    virtual void Pause();
    virtual void Resume();
    // Handles the messages that are waiting, then returns.
    virtual void MessagePump();
    // The private pump used when MultiThreaded is set: handles what is
    // waiting; sets Terminated once the application is quitting.
    bool ProcessMessage();
    void ProcessMessages();
    // Runs the loop of a thread that owns sockets until the application
    // quits (blocking between events), then sets Terminated.
    void MessageLoop();
    virtual std::int64_t GetRcvdCount();
    virtual void SetRemotePort(const std::string& sPort);
    virtual void SetProto(const std::string& sProto);

    // Posts the test message whose handler raises "Test exception in WSocket".
    void ThrowTestException();

protected:
    virtual void WndProc(TMessage& MsgRec);
    virtual void AssignDefaultValue();
    virtual void InternalClose(bool bShut, std::uint16_t Error);
    virtual void BindSocket();
    virtual int RealSend(const void* Data, int Len);
    virtual void RaiseExceptionFmt(const char* Fmt, ...) __attribute__((format(printf, 2, 3)));
    virtual void RaiseException(const std::string& Msg);
    virtual void HandleBackGroundException(const std::exception& E);
    // True when a handler consumed the notification.
    virtual bool TriggerDataAvailable(std::uint16_t Error);
    virtual void TriggerSessionAvailable(std::uint16_t Error);
    virtual void TriggerSessionConnected(std::uint16_t Error);
    virtual void TriggerSessionClosed(std::uint16_t Error);
    virtual void TriggerDataSent(std::uint16_t Error);
    virtual void TriggerChangeState(TSocketState OldState, TSocketState NewState);
    virtual void TriggerDNSLookupDone(std::uint16_t Error);
    virtual void TriggerError();
    virtual int DoRecv(void* Buffer, int BufferSize, int Flags);
    virtual int DoRecvFrom(SOCKET FHSocket, void* Buffer, int BufferSize, int Flags, sockaddr_in& From, int& FromLen);

    // The addresses Connect tries, in order, for the host text Addr (when
    // Addr is the first answer of the last DnsLookup, every address of that
    // answer); a test may override it to hand in its own list.
    virtual std::vector<TWSocketAddress> ResolveAddrAll(const std::string& Host);

    void ChangeState(TSocketState NewState);
    void SocketError(const std::string& FunctionName);
    void SetLingerOption();
    void TryToSend();
    // Sends bulk data without queueing it first; returns the count handled
    // (sent or queued) or -1 when the connection failed.
    int SendDirect(const void* Data, int Len);
    void ReportSendFailure(int err);
    void DeleteBufferedData();
    void ASyncReceive(std::uint16_t Error);
    // Blocks in the event loop for at most MaxWaitMs (never spins).
    void WaitForEvents(int MaxWaitMs);
    // True once the destructor has started: events are no longer fired.
    bool Destroying() const { return FDestroying; }

    // Message handlers.
    void WMASyncSelect(TMessage& msg);
    void WMAsyncGetHostByName(TMessage& msg);
    void WMAsyncGetHostByAddr(TMessage& msg);
    void WMCloseDelayed(TMessage& msg);
    void WMRelease(TMessage& msg);

    // Tells whether this object still exists after an event handler ran:
    // a handler may delete its own socket, so code that goes on after firing
    // an event checks the token it took before.
    using TAliveToken = std::shared_ptr<bool>;
    TAliveToken AliveToken() const { return FAlive; }

    SOCKET FSocketHandle = INVALID_SOCKET;
    std::deque<std::unique_ptr<TBuffer>> FSendQueue;
    std::int32_t FSendBlockSize = SendBlockSizeDefault;
    bool FSendQueueEmpty = true;
    std::string FAddrText;
    std::string FPortText;
    std::string FProtoText = "tcp";
    bool FAddrAssigned = false;
    bool FPortAssigned = false;
    bool FProtoAssigned = true;
    bool FAddrResolved = false;
    bool FPortResolved = false;
    bool FProtoResolved = false;
    bool FLocalPortResolved = false;
    int FAddressFamily = AF_INET;
    int FSocketType = SOCK_STREAM;
    int FProtocol = IPPROTO_TCP;
    std::uint16_t FPortNumber = 0;
    std::int32_t FLocalPortNumber = 0;
    sockaddr_in FRemoteAddress{};
    // The remote address while FAddressFamily is AF_INET6 (FRemoteAddress
    // still holds the port).
    sockaddr_in6 FRemoteAddress6{};
    // Every address Addr resolved to, tried in order by Connect, and the
    // one in use.
    std::vector<TWSocketAddress> FConnectAddresses;
    std::size_t FConnectIndex = 0;
    bool FPaused = false;
    bool FSessionClosedFired = false;
    ASYNC_HANDLE FLookupHandle = 0;
    std::vector<char> FLookupBuffer;
    SOCKET FAcceptedHandle = INVALID_SOCKET;
    bool FTerminated = false;
    TSocketState FState = wsClosed;
    std::int64_t FReadCount = 0;
    int FLastError = 0;
    bool FMultiThreaded = false;
    int FSendFlags = 0;
    TSocketLingerOnOff FLingerOnOff = wsLingerOn;
    std::int32_t FLingerTimeout = 0;
    std::int32_t FFlushTimeout = 60;
    std::string FLocalAddr = "0.0.0.0";
    std::string FLocalPortText = "0";
    std::string FDnsResult;
    std::vector<std::string> FDnsResultList;
    // Counts read calls, so the receive loop can tell a data handler that
    // consumed nothing.
    std::uint64_t FRecvCalls = 0;
    bool FLastRecvDrained = false;
    // Bytes taken from the socket by reads (peeks excluded).
    std::int64_t FRecvBytes = 0;

private:
    // Makes address Index of FConnectAddresses the target (family, address;
    // the port stays).
    void UseConnectAddress(std::size_t Index);
    const sockaddr* RemoteSockAddr() const;
    int RemoteSockAddrLen() const;
    // After a failed attempt: connects to the next address. Returns 0 while
    // an attempt is under way, else the error of the last one that failed.
    std::uint16_t ConnectNextAddress(std::uint16_t Error);

    std::unique_ptr<THiddenWindow> FWindow;
    TAliveToken FAlive = std::make_shared<bool>(true);
    bool FDestroying = false;
    bool FInTryToSend = false;
};
