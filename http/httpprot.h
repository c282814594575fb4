#pragma once

// THttpCli: an asynchronous HTTP/1.0 client. One GET, HEAD or POST at a time
// over its own socket; completion always arrives through OnRequestDone from
// the event loop, and the synchronous forms wait in the event loop.

#include "http/httpexception.h"
#include "http/httpurl.h"
#include "net/sslcertinfo.h"
#include "net/ssltruststore.h"
#include "platform/hiddenwindow.h"

#include <cstdint>
#include <functional>
#include <istream>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

class TCustomWSocket;
class TWSocket;

enum THttpState : int {
    httpReady = 0,
    httpNotConnected = 1,
    httpConnected = 2,
    httpDnsLookup = 3,
    httpDnsLookupDone = 4,
    httpWaitingHeader = 5,
    httpWaitingBody = 6,
    httpAborting = 7,
};

enum THttpRequest : int {
    httpAbort = 0,
    httpGET = 1,
    httpPOST = 2,
    httpHEAD = 3,
};

class THttpCli;

using TOnCommand = std::function<void(THttpCli* Sender, std::string& S)>;
using TDocDataEvent = std::function<void(THttpCli* Sender, const char* Buffer, std::int64_t Len)>;
using TCookieRcvdEvent = std::function<void(THttpCli* Sender, const std::string& Data, bool& Accept)>;
using THttpRequestDone = std::function<void(THttpCli* Sender, THttpRequest RqType, std::uint16_t Error)>;
// Asked when a server's certificate failed verification and is not among
// the trusted ones; the request goes on only with a "trust" answer.
using TCertificateCheckEvent = std::function<TSslTrustAnswer(THttpCli* Sender, const TSslTrustQuestion& Question)>;

class THttpCli {
public:
    using TNotifyEvent = std::function<void(THttpCli* Sender)>;

    // Private messages of the component's own hidden window.
    static constexpr unsigned RequestDoneMsg = WM_USER + 1;
    static constexpr unsigned SetReadyMsg = WM_USER + 2;
    static constexpr unsigned LoginMsg = WM_USER + 3;
    static constexpr unsigned CertificateMsg = WM_USER + 4;

    // Redirections followed for one request before it ends with an error.
    static constexpr int MaxRedirections = 20;
    // Limits of one response's header: more ends the request with "Too
    // large response headers".
    static constexpr std::int64_t MaxHeaderBytes = 300 * 1024;
    static constexpr int MaxHeaderLines = 1000;

    THttpCli();
    virtual ~THttpCli();

    THttpCli(const THttpCli&) = delete;
    THttpCli& operator=(const THttpCli&) = delete;

    // Synchronous requests: they return once the request has ended and
    // raise EHttpException for a status of 400 or more (or a local failure).
    void Get();
    void Head();
    void Post();
    // Asynchronous requests: they return at once; OnRequestDone follows.
    void GetASync();
    void HeadASync();
    void PostASync();
    void Abort();

    // Published properties.
    std::string URL;
    std::string Proxy;
    std::string ProxyPort = "80";
    std::string Sender;
    std::string Agent = "Mozilla/3.0 (compatible)";
    std::string Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
    std::string Reference;
    std::string Username;
    std::string Password;
    std::string ProxyUsername;
    std::string ProxyPassword;
    bool NoCache = false;
    TDateTime ModifiedSince = 0;
    std::string Cookie;
    std::string ContentTypePost = "application/x-www-form-urlencoded";
    std::string ContentRangeBegin;
    std::string ContentRangeEnd;
    // https: authorities trusted besides the system's (PEM file); whether
    // certificates are verified at all; whether certificates the user chose
    // to trust (the trust store in the settings) are accepted.
    std::string SslCAFile;
    bool SslVerifyPeer = true;
    bool SslUseTrustStore = true;
    // A SOCKS proxy for the connection (empty: none), as the socket layer
    // takes it: server, port and level "4", "4A" or "5".
    std::string SocksServer;
    std::string SocksPort = "1080";
    std::string SocksLevel = "5";
    // Redirections followed for one request before it ends with "Too many
    // redirections".
    int MaxRedirects = MaxRedirections;

    const std::string& AcceptRanges() const { return acceptRanges_; }
    bool MultiThreaded() const { return multiThreaded_; }
    void SetMultiThreaded(bool value);

    // Public state of the current or last request.
    THttpState State() const { return state_; }
    std::int32_t StatusCode() const { return statusCode_; }
    const std::string& ReasonPhrase() const { return reasonPhrase_; }
    const std::vector<std::string>& RcvdHeader() const { return rcvdHeader_; }
    // Values of every WWW-Authenticate header received; never cleared here.
    std::vector<std::string>& AuthenticateHeaders() { return authenticateHeaders_; }
    const std::string& DocName() const { return docName_; }
    void SetDocName(const std::string& value) { docName_ = value; }
    std::int64_t ContentLength() const { return contentLength_; }
    const std::string& ContentType() const { return contentType_; }
    std::int64_t RcvdCount() const { return rcvdCount_; }
    std::int64_t SentCount() const { return sentCount_; }
    const std::string& Location() const { return location_; }
    // TLS of the current or last connection (empty version: none).
    const std::string& SslVersion() const;
    const std::string& SslCipher() const;
    const TSslCertInfo& SslPeerCert() const;

    // Not owned: every body byte is written to RcvdStream when it is set; a
    // POST body is read from SendStream's current position.
    std::ostream* RcvdStream = nullptr;
    std::istream* SendStream = nullptr;

    // Events, fired only when set.
    TNotifyEvent OnStateChange;
    TNotifyEvent OnSessionConnected;
    TNotifyEvent OnRequestHeaderBegin;
    TNotifyEvent OnRequestHeaderEnd;
    TOnCommand OnCommand;
    TNotifyEvent OnSendBegin;
    TNotifyEvent OnSendEnd;
    TDocDataEvent OnSendData;
    TNotifyEvent OnHeaderBegin;
    TNotifyEvent OnHeaderData;
    TCookieRcvdEvent OnCookie;
    TNotifyEvent OnHeaderEnd;
    TNotifyEvent OnDocBegin;
    TDocDataEvent OnDocData;
    TNotifyEvent OnDocEnd;
    TNotifyEvent OnLocationChange;
    THttpRequestDone OnRequestDone;
    TCertificateCheckEvent OnCertificateCheck;
    // Kept for callers that assign it; the component never fires it.
    TNotifyEvent OnTrace;

protected:
    virtual void WndProc(TMessage& Msg);
    virtual void SendCommand(const std::string& Cmd);
    virtual void Login();
    virtual void Logout();
    virtual void LocationSessionClosed(TCustomWSocket* Sender, std::uint16_t Error);
    virtual void TriggerCookie(const std::string& Data, bool& Accept);
    virtual void TriggerSessionConnected();
    virtual void TriggerRequestHeaderBegin();
    virtual void TriggerRequestHeaderEnd();
    virtual void TriggerHeaderBegin();
    virtual void TriggerHeaderEnd();
    virtual void TriggerDocBegin();
    virtual void TriggerDocData(const char* Data, std::int64_t Len);
    virtual void TriggerDocEnd();
    virtual void TriggerSendBegin();
    virtual void TriggerSendData(const char* Data, std::int64_t Len);
    virtual void TriggerSendEnd();

    TWSocket& HttpSocket() { return *httpSocket_; }

private:
    enum class TLineHandler {
        Header,
        Body,
        Tunnel
    };

    void DoRequestSync(THttpRequest RqType);
    void DoRequestAsync(THttpRequest RqType);
    void SetState(THttpState NewState);
    void Fire(const TNotifyEvent& Event);
    void PostToSelf(unsigned Msg);

    void SocketDnsLookupDone(std::uint16_t Error);
    void SocketSessionConnected(std::uint16_t Error);
    void SocketSslHandshakeDone(std::uint16_t Error);
    void ConnectionReady();
    void ConnectionFailed(std::uint16_t Error);
    bool CertificateTrusted(const TSslCertInfo& Cert);
    void AskCertificate();
    bool SetTarget(const std::string& Url);
    void SendTunnelRequest();
    void TunnelLine(const std::string& Line);
    bool ApplyRedirect();
    void SocketDataAvailable(std::uint16_t Error);
    void SocketDataSent(std::uint16_t Error);
    void SocketSessionClosed(std::uint16_t Error);
    void RouteSessionClosed(bool toLocation);

    void ReceiveData();
    void HandleLine(const std::string& Line, const std::string& LineEnd);
    void HeaderLine(const std::string& Line, const std::string& LineEnd);
    void HeaderField(const std::string& Name, const std::string& Value);
    void HeaderEnd();
    void BodyData(const char* Data, std::int64_t Len);
    void SendRequest(const std::string& Method, const std::string& Version);
    void SendNextPostChunk();
    void FlushHeldBody(const std::string& Prefix);
    void FailRequest(std::uint16_t Code, const std::string& Reason);
    void ConnectFailed(std::uint16_t Error, const std::string& Reason);

    // Cleared by the destructor, so a wait or a message handler that
    // outlives the component stops touching it.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    std::unique_ptr<THiddenWindow> window_;
    std::unique_ptr<TWSocket> httpSocket_;

    THttpState state_ = httpReady;
    THttpRequest requestType_ = httpAbort;
    std::uint16_t requestDoneError_ = 0;
    std::int32_t statusCode_ = 0;
    std::string reasonPhrase_;
    std::vector<std::string> rcvdHeader_;
    std::vector<std::string> authenticateHeaders_;
    std::string docName_;
    std::int64_t contentLength_ = -1;
    std::string contentType_;
    std::int64_t rcvdCount_ = 0;
    std::int64_t sentCount_ = 0;
    std::string location_;
    std::string acceptRanges_;
    bool multiThreaded_ = false;

    std::string serverHost_;
    std::string serverPort_;
    std::string hostHeader_;
    std::string requestTarget_;
    std::string resolvedAddr_;
    bool socketConnected_ = false;
    static constexpr int ReceiveBufferSize = 8192;
    std::vector<char> receiveBuffer_;
    int receiveCount_ = 0;
    static constexpr int BodyBufferSize = 64 * 1024;
    std::vector<char> bodyBuffer_;
    static constexpr int PostBufferSize = 8193;
    std::vector<char> postBuffer_;
    std::string requestBuffer_;
    TLineHandler lineHandler_ = TLineHandler::Header;
    std::int64_t headerLineCount_ = 0;
    std::int64_t bodyLineCount_ = 0;
    bool postPending_ = false;
    bool redirectPending_ = false;

    // Bookkeeping that keeps one request's late messages away from the next.
    std::uint32_t requestSerial_ = 0;
    bool requestEnded_ = false;
    // The connection was closed by this side (error status, failure,
    // abort), so a short document is expected.
    bool localClose_ = false;
    int redirectCount_ = 0;
    // A local failure that ends the request and that the synchronous forms
    // raise with its own code instead of the status code.
    std::uint16_t localErrorCode_ = 0;
    std::string localErrorText_;

    // Where the current hop goes (after redirections too).
    std::string scheme_ = "http";
    std::string targetHost_;
    std::string targetPort_;
    // The absolute URL of this hop, against which a Location is resolved.
    std::string currentUrl_;
    // The method sent on this hop: a 303 (or a 301/302 after a POST)
    // continues as GET without a body.
    THttpRequest sendMethod_ = httpAbort;
    std::streampos postStart_ = 0;
    // Credentials of this request (from its URL, else the properties) and
    // whether this hop may carry them: only to the origin they were given
    // for (scheme, host and port).
    std::string requestUser_;
    std::string requestPass_;
    std::string credentialOrigin_;
    bool sendCredentials_ = false;
    std::string pendingLocation_;
    // Limits of the response header being read.
    std::int64_t headerBytes_ = 0;
    // https through an HTTP proxy: CONNECT first, then TLS in the tunnel.
    bool tunnel_ = false;
    std::int32_t tunnelStatus_ = 0;
    std::string tunnelReason_;
    std::vector<std::string> tunnelHeader_;
    // Certificates the user accepted for this request, by host:port; and a
    // question waiting for its answer.
    std::map<std::string, std::string> acceptedCertificates_;
    bool certificatePending_ = false;
    bool certificateAsked_ = false;
    TSslTrustQuestion certificateQuestion_;
};
