#include "http/httpprot.h"

#include "net/wsocket.h"
#include "platform/application.h"

#include <algorithm>
#include <cctype>

namespace {

std::string ErrorText(std::uint16_t error)
{
    return WSocketErrorDesc(error) + " (Error #" + std::to_string(error) + ")";
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool IsTlsError(std::uint16_t error) { return error == WSocketErrSsl || error == WSocketErrSslCertificate; }

} // namespace

THttpCli::THttpCli() : receiveBuffer_(ReceiveBufferSize + 1, '\0'), postBuffer_(PostBufferSize, '\0')
{
    window_ = std::make_unique<THiddenWindow>([this, alive = alive_](TMessage& msg) {
        // An exception from a user handler must not unwind through the
        // event loop; the application's handler reports it.
        try {
            WndProc(msg);
        } catch (const std::exception& e) {
            if (*alive)
                Application::HandleException(e);
        }
    });
    httpSocket_ = std::make_unique<TWSocket>();
    httpSocket_->OnDnsLookupDone = [this](TCustomWSocket*, std::uint16_t error) { SocketDnsLookupDone(error); };
    httpSocket_->OnSessionConnected = [this](TCustomWSocket*, std::uint16_t error) { SocketSessionConnected(error); };
    httpSocket_->OnDataAvailable = [this](TCustomWSocket*, std::uint16_t error) { SocketDataAvailable(error); };
    httpSocket_->OnDataSent = [this](TCustomWSocket*, std::uint16_t error) { SocketDataSent(error); };
    httpSocket_->OnSslHandshakeDone = [this](TCustomWSocket*, std::uint16_t error) { SocketSslHandshakeDone(error); };
    httpSocket_->OnSslVerifyPeer = [this](TCustomWSocket*, const TSslCertInfo& cert, bool& accept) {
        accept = CertificateTrusted(cert);
    };
    RouteSessionClosed(false);
}

THttpCli::~THttpCli()
{
    *alive_ = false;
    httpSocket_->OnDnsLookupDone = nullptr;
    httpSocket_->OnSessionConnected = nullptr;
    httpSocket_->OnDataAvailable = nullptr;
    httpSocket_->OnDataSent = nullptr;
    httpSocket_->OnSessionClosed = nullptr;
    httpSocket_->OnSslHandshakeDone = nullptr;
    httpSocket_->OnSslVerifyPeer = nullptr;
    // Destroying the window from one of its own messages (an OnRequestDone
    // handler freeing the component) is allowed by the window.
    window_->SetHandler({});
}

void THttpCli::SetMultiThreaded(bool value)
{
    multiThreaded_ = value;
    httpSocket_->SetMultiThreaded(value);
}

// --- Starting requests -------------------------------------------------------

void THttpCli::Get() { DoRequestSync(httpGET); }
void THttpCli::Head() { DoRequestSync(httpHEAD); }
void THttpCli::Post() { DoRequestSync(httpPOST); }
void THttpCli::GetASync() { DoRequestAsync(httpGET); }
void THttpCli::HeadASync() { DoRequestAsync(httpHEAD); }
void THttpCli::PostASync() { DoRequestAsync(httpPOST); }

void THttpCli::DoRequestAsync(THttpRequest RqType)
{
    if (state_ != httpReady)
        throw EHttpException("HTTP component is busy", httperrBusy);
    if (RqType == httpPOST && SendStream == nullptr)
        throw EHttpException("HTTP component has nothing to post", httperrNothingToPost);

    ++requestSerial_;
    requestEnded_ = false;
    localClose_ = false;
    localErrorCode_ = 0;
    localErrorText_.clear();
    redirectCount_ = 0;
    redirectPending_ = false;
    receiveCount_ = 0;

    rcvdHeader_.clear();
    requestType_ = RqType;
    requestDoneError_ = 0;
    RouteSessionClosed(false);
    SetState(httpNotConnected);
    docName_.clear();
    statusCode_ = 0;
    rcvdCount_ = 0;
    sentCount_ = 0;
    headerLineCount_ = 0;
    bodyLineCount_ = 0;
    contentLength_ = -1;
    contentType_.clear();
    postPending_ = false;
    location_ = URL;
    tunnelHeader_.clear();
    acceptedCertificates_.clear();
    certificatePending_ = false;
    certificateAsked_ = false;
    headerBytes_ = 0;
    sendMethod_ = RqType;
    postStart_ = SendStream != nullptr ? SendStream->tellg() : std::streampos(0);

    std::string proto, user, pass, host, port, path;
    ParseURL(URL, proto, user, pass, host, port, path);
    docName_ = path;
    // Credentials written in the URL are for this request only; the
    // properties stay as the caller set them.
    requestUser_ = user.empty() ? Username : user;
    requestPass_ = user.empty() ? Password : pass;
    if (!SetTarget(URL)) {
        SocketSessionClosed(0);
        return;
    }
    credentialOrigin_ = scheme_ + "://" + Lower(targetHost_) + ":" + targetPort_;
    sendCredentials_ = true;

    if (docName_.empty() || docName_ == "/") {
        docName_ = "document.htm";
    } else {
        if (docName_.back() == '/')
            docName_.pop_back();
        const std::size_t slash = docName_.rfind('/');
        if (slash != std::string::npos)
            docName_.erase(0, slash + 1);
        if (docName_.size() > 255)
            docName_.resize(255);
        const std::size_t query = docName_.find('?');
        if (query != std::string::npos)
            docName_.erase(query);
        // A path made only of a query ("/?a=1") leaves nothing to save under.
        if (docName_.empty())
            docName_ = "document.htm";
    }

    Login();
}

void THttpCli::DoRequestSync(THttpRequest RqType)
{
    DoRequestAsync(RqType);
    const std::shared_ptr<bool> alive = alive_;
    while (*alive && state_ != httpReady) {
        if (Application::Terminated()) {
            Abort();
            break;
        }
        Application::WaitForMessage(1000);
    }
    if (!*alive)
        return;
    if (localErrorCode_ != 0)
        throw EHttpException(localErrorText_, localErrorCode_);
    if (statusCode_ >= 400)
        throw EHttpException(reasonPhrase_, static_cast<std::uint16_t>(statusCode_));
}

bool THttpCli::SetTarget(const std::string& Url)
{
    std::string proto, user, pass, host, port, path;
    ParseURL(Url, proto, user, pass, host, port, path);
    const std::string scheme = proto.empty() ? std::string("http") : Lower(proto);
    if (scheme != "http" && scheme != "https") {
        // Never fetched as something else: an ftp:// address sent to port
        // 80 as HTTP would even carry its credentials there.
        statusCode_ = 404;
        reasonPhrase_ = "Unsupported protocol: " + proto;
        localErrorCode_ = httperrUnsupportedProtocol;
        localErrorText_ = reasonPhrase_;
        requestDoneError_ = httperrUnsupportedProtocol;
        localClose_ = true;
        return false;
    }
    scheme_ = scheme;
    targetHost_ = host;
    targetPort_ = port.empty() ? std::string(scheme == "https" ? "443" : "80") : port;
    currentUrl_ = scheme + "://" + UrlHostPort(host, port) + (path.empty() ? "/" : path);
    hostHeader_ = UrlHost(host);
    tunnel_ = false;
    if (Proxy.empty()) {
        requestTarget_ = path;
        serverHost_ = host;
        serverPort_ = targetPort_;
    } else {
        if (scheme == "https") {
            // The proxy only opens a tunnel; the request inside it is the
            // server's own.
            tunnel_ = true;
            requestTarget_ = path;
        } else {
            requestTarget_ = scheme + "://" + UrlHostPort(host, port) + path;
        }
        std::string pProto, pUser, pPass, pHost, pPort, pPath;
        ParseURL(Proxy, pProto, pUser, pPass, pHost, pPort, pPath);
        serverHost_ = pHost;
        serverPort_ = pPort.empty() ? ProxyPort : pPort;
    }
    if (requestTarget_.empty())
        requestTarget_ = "/";
    return true;
}

// What the socket found in its last handshake, as long as the current hop
// is an https one (a later plain connection keeps nothing of it).
const std::string& THttpCli::SslVersion() const
{
    static const std::string none;
    return scheme_ == "https" ? httpSocket_->SslVersion() : none;
}

const std::string& THttpCli::SslCipher() const
{
    static const std::string none;
    return scheme_ == "https" ? httpSocket_->SslCipher() : none;
}

const TSslCertInfo& THttpCli::SslPeerCert() const
{
    static const TSslCertInfo none;
    return scheme_ == "https" ? httpSocket_->SslPeerCert() : none;
}

bool THttpCli::CertificateTrusted(const TSslCertInfo& Cert)
{
    if (Cert.Fingerprint.empty())
        return false;
    const auto accepted = acceptedCertificates_.find(TSslTrustStore::Key(targetHost_, targetPort_));
    if (accepted != acceptedCertificates_.end() && accepted->second == Cert.Fingerprint)
        return true;
    return SslUseTrustStore &&
           TSslTrustStore::Check(targetHost_, targetPort_, Cert.Fingerprint) == TSslTrustStore::trustMatches;
}

void THttpCli::AskCertificate()
{
    if (!certificatePending_)
        return;
    certificatePending_ = false;
    const std::shared_ptr<bool> alive = alive_;
    const std::uint32_t serial = requestSerial_;
    const TSslTrustAnswer answer = OnCertificateCheck ? OnCertificateCheck(this, certificateQuestion_) : sslTrustCancel;
    if (!*alive || serial != requestSerial_ || state_ == httpReady || state_ == httpAborting || requestEnded_)
        return; // aborted while the question was open
    const std::string fingerprint = certificateQuestion_.Cert.Fingerprint;
    if (answer == sslTrustCancel || fingerprint.empty()) {
        requestDoneError_ = WSocketErrSslCertificate;
        statusCode_ = 404;
        reasonPhrase_ = "TLS error: certificate rejected: " + certificateQuestion_.Cert.VerifyReason;
        localClose_ = true;
        SocketSessionClosed(0);
        return;
    }
    if (answer == sslTrustAlways)
        TSslTrustStore::Trust(certificateQuestion_.Host, certificateQuestion_.Port, fingerprint);
    acceptedCertificates_[TSslTrustStore::Key(certificateQuestion_.Host, certificateQuestion_.Port)] = fingerprint;
    // A new connection, now with a certificate this request accepts.
    Login();
}

void THttpCli::Abort()
{
    if (state_ == httpReady) {
        if (httpSocket_->State() != wsClosed)
            httpSocket_->Close();
        return;
    }
    const bool lookupRunning = state_ == httpDnsLookup;
    SetState(httpAborting);
    if (lookupRunning) {
        try {
            httpSocket_->CancelDnsLookup();
        } catch (...) {
            // The lookup is given up either way.
        }
    }
    statusCode_ = 404;
    reasonPhrase_ = "Connection aborted on request";
    requestDoneError_ = httperrAborted;
    localClose_ = true;
    redirectPending_ = false;
    certificatePending_ = false;
    RouteSessionClosed(false);
    if (!lookupRunning)
        httpSocket_->Close();
    // Also covers a socket that was already closed (between a redirection's
    // close and its new lookup), which fires no close event.
    SocketSessionClosed(0);
    SetState(httpReady);
}

// --- Window messages and state ----------------------------------------------

void THttpCli::WndProc(TMessage& Msg)
{
    switch (Msg.Msg) {
    case RequestDoneMsg:
        // The values travel with the message: a new request may have started
        // before a synchronous call's completion is delivered.
        if (OnRequestDone)
            OnRequestDone(this, static_cast<THttpRequest>(Msg.WParam), static_cast<std::uint16_t>(Msg.LParam));
        break;
    case SetReadyMsg:
        if (static_cast<std::uint32_t>(Msg.WParam) == requestSerial_)
            SetState(httpReady);
        break;
    case LoginMsg:
        if (static_cast<std::uint32_t>(Msg.WParam) == requestSerial_ && state_ != httpReady && state_ != httpAborting)
            Login();
        break;
    case CertificateMsg:
        if (static_cast<std::uint32_t>(Msg.WParam) == requestSerial_)
            AskCertificate();
        break;
    default:
        break;
    }
}

void THttpCli::SetState(THttpState NewState)
{
    if (NewState == state_)
        return;
    state_ = NewState;
    // A handler may free the component once it is ready again.
    const std::shared_ptr<bool> alive = alive_;
    Fire(OnStateChange);
    if (!*alive)
        return;
    if (NewState == httpReady && window_)
        PostMessage(window_->Handle(), RequestDoneMsg, static_cast<WPARAM>(requestType_), requestDoneError_);
}

void THttpCli::Fire(const TNotifyEvent& Event)
{
    if (Event)
        Event(this);
}

void THttpCli::PostToSelf(unsigned Msg)
{
    if (window_)
        PostMessage(window_->Handle(), Msg, requestSerial_, 0);
}

void THttpCli::RouteSessionClosed(bool toLocation)
{
    if (toLocation)
        httpSocket_->OnSessionClosed = [this](TCustomWSocket* s, std::uint16_t error) {
            LocationSessionClosed(s, error);
        };
    else
        httpSocket_->OnSessionClosed = [this](TCustomWSocket*, std::uint16_t error) {
            // A connection given up while the user decides about its
            // certificate does not end the request.
            if (!certificatePending_)
                SocketSessionClosed(error);
        };
}

// --- Connection ---------------------------------------------------------------

void THttpCli::Login()
{
    resolvedAddr_.clear();
    SetState(httpDnsLookup);
    try {
        httpSocket_->DnsLookup(serverHost_);
    } catch (const Exception&) {
        // An empty or unusable host name: reported like a failed lookup.
        if (state_ != httpDnsLookup)
            return;
        requestDoneError_ = WSAEINVAL;
        statusCode_ = 404;
        reasonPhrase_ = "can't resolve hostname to IP address";
        SocketSessionClosed(0);
    }
}

void THttpCli::Logout()
{
    localClose_ = true;
    httpSocket_->Close();
    socketConnected_ = false;
}

void THttpCli::SocketDnsLookupDone(std::uint16_t Error)
{
    // A cancelled lookup reports here while aborting; nothing is left to do.
    if (state_ != httpDnsLookup)
        return;
    if (Error != 0) {
        requestDoneError_ = Error;
        statusCode_ = 404;
        reasonPhrase_ = "can't resolve hostname to IP address";
        SocketSessionClosed(0);
        return;
    }
    resolvedAddr_ = httpSocket_->DnsResult();
    SetState(httpDnsLookupDone);
    try {
        httpSocket_->SetAddr(resolvedAddr_);
        httpSocket_->SetPort(serverPort_);
        httpSocket_->SetProto("tcp");
        // https: TLS from the first byte, unless a proxy tunnel comes first.
        httpSocket_->SetSslEnable(scheme_ == "https" && !tunnel_);
        httpSocket_->SetSslServerName(targetHost_);
        httpSocket_->SetSslCAFile(SslCAFile);
        httpSocket_->SetSslVerifyPeer(SslVerifyPeer);
        // The socket forgets its proxy settings at every close.
        if (!SocksServer.empty()) {
            httpSocket_->SetSocksServer(SocksServer);
            httpSocket_->SetSocksPort(SocksPort);
            httpSocket_->SetSocksLevel(SocksLevel);
        }
        httpSocket_->Connect();
    } catch (const Exception& e) {
        const int error = httpSocket_->LastError();
        statusCode_ = 404;
        // Refusals found before any socket call (a bad port text) carry no
        // error number: their own message says more than "No Error", and
        // the completion must not read as a success.
        requestDoneError_ = static_cast<std::uint16_t>(error != 0 ? error : WSAEINVAL);
        reasonPhrase_ = "can't connect: " + (error != 0 ? ErrorText(static_cast<std::uint16_t>(error)) : e.Message());
        localClose_ = true;
        httpSocket_->Close();
        SocketSessionClosed(0);
    }
}

void THttpCli::SocketSessionConnected(std::uint16_t Error)
{
    if (Error != 0) {
        ConnectionFailed(Error);
        return;
    }
    socketConnected_ = true;
    if (tunnel_) {
        SendTunnelRequest();
        return;
    }
    ConnectionReady();
}

void THttpCli::SocketSslHandshakeDone(std::uint16_t Error)
{
    // Only the TLS started inside a proxy tunnel is this client's to
    // follow; TLS from the first byte reports through the connection.
    if (!tunnel_ || state_ == httpReady || requestEnded_ || lineHandler_ != TLineHandler::Tunnel)
        return;
    if (Error != 0) {
        ConnectionFailed(Error);
        return;
    }
    ConnectionReady();
}

void THttpCli::ConnectionFailed(std::uint16_t Error)
{
    if (Error == WSocketErrSslCertificate && OnCertificateCheck && !certificateAsked_ &&
        httpSocket_->SslPeerCert().Present && state_ != httpAborting) {
        // Asked from the message loop: the socket is closing this
        // connection, and the answer may need a new one.
        certificateAsked_ = true;
        certificatePending_ = true;
        certificateQuestion_ = TSslTrustQuestion();
        certificateQuestion_.Host = targetHost_;
        certificateQuestion_.Port = targetPort_;
        certificateQuestion_.Cert = httpSocket_->SslPeerCert();
        const std::string stored = TSslTrustStore::Fingerprint(targetHost_, targetPort_);
        if (stored != certificateQuestion_.Cert.Fingerprint)
            certificateQuestion_.StoredFingerprint = stored;
        PostToSelf(CertificateMsg);
        return;
    }
    requestDoneError_ = Error;
    statusCode_ = 404;
    reasonPhrase_ = IsTlsError(Error) ? "TLS error: " + httpSocket_->SslErrorText() : ErrorText(Error);
    localClose_ = true;
    SocketSessionClosed(0);
}

void THttpCli::ConnectionReady()
{
    socketConnected_ = true;
    SetState(httpConnected);
    TriggerSessionConnected();
    if (state_ != httpConnected)
        return; // aborted from the handler
    lineHandler_ = TLineHandler::Header;
    SetState(httpWaitingHeader);
    try {
        switch (sendMethod_) {
        case httpGET:
            SendRequest("GET", "1.0");
            break;
        case httpPOST:
            SendRequest("POST", "1.0");
            TriggerSendBegin();
            postPending_ = true;
            SendNextPostChunk();
            break;
        case httpHEAD:
            SendRequest("HEAD", "1.0");
            break;
        case httpAbort:
            break;
        }
    } catch (const Exception& e) {
        // The request could not be written: end it as a failure rather than
        // as an empty success.
        if (requestDoneError_ == 0) {
            requestDoneError_ = static_cast<std::uint16_t>(httpSocket_->LastError());
            statusCode_ = 404;
            reasonPhrase_ = e.Message();
        }
        Logout();
        SocketSessionClosed(0);
    }
}

void THttpCli::SocketSessionClosed(std::uint16_t)
{
    if (requestEnded_)
        return;
    requestEnded_ = true;
    socketConnected_ = false;
    const bool bodyExpected = requestType_ != httpHEAD && statusCode_ != 204 && statusCode_ != 304 &&
                              !(statusCode_ >= 100 && statusCode_ < 200);
    if (!localClose_ && state_ == httpWaitingBody && bodyExpected && contentLength_ >= 0 &&
        rcvdCount_ < contentLength_ && requestDoneError_ == 0) {
        // The server announced more than it delivered: a truncated document
        // must not pass for a complete one.
        requestDoneError_ = httperrDocumentIncomplete;
        localErrorCode_ = httperrDocumentIncomplete;
        localErrorText_ = "Connection closed before the end of the document";
    }
    if (!localClose_ && state_ == httpWaitingHeader && statusCode_ == 0 && requestDoneError_ == 0) {
        // Closed without a status line: nothing usable came back.
        requestDoneError_ = httperrNoResponse;
        localErrorCode_ = httperrNoResponse;
        localErrorText_ = "Connection closed without a response";
    }
    if (bodyLineCount_ > 0)
        TriggerDocEnd();
    PostToSelf(SetReadyMsg);
}

void THttpCli::LocationSessionClosed(TCustomWSocket*, std::uint16_t)
{
    socketConnected_ = false;
    redirectPending_ = false;
    RouteSessionClosed(false);
    Fire(OnLocationChange);
    PostToSelf(LoginMsg);
}

void THttpCli::FailRequest(std::uint16_t Code, const std::string& Reason)
{
    localErrorCode_ = Code;
    localErrorText_ = Reason;
    requestDoneError_ = Code;
    statusCode_ = 404;
    reasonPhrase_ = Reason;
    receiveCount_ = 0;
    redirectPending_ = false;
    localClose_ = true;
    RouteSessionClosed(false);
    httpSocket_->Abort();
    SocketSessionClosed(0);
}

// --- Triggers -----------------------------------------------------------------

void THttpCli::TriggerCookie(const std::string& Data, bool& Accept)
{
    if (OnCookie)
        OnCookie(this, Data, Accept);
}

void THttpCli::TriggerSessionConnected() { Fire(OnSessionConnected); }
void THttpCli::TriggerRequestHeaderBegin() { Fire(OnRequestHeaderBegin); }
void THttpCli::TriggerRequestHeaderEnd() { Fire(OnRequestHeaderEnd); }
void THttpCli::TriggerHeaderBegin() { Fire(OnHeaderBegin); }
void THttpCli::TriggerHeaderEnd() { Fire(OnHeaderEnd); }
void THttpCli::TriggerDocBegin() { Fire(OnDocBegin); }
void THttpCli::TriggerDocEnd() { Fire(OnDocEnd); }
void THttpCli::TriggerSendBegin() { Fire(OnSendBegin); }
void THttpCli::TriggerSendEnd() { Fire(OnSendEnd); }

void THttpCli::TriggerDocData(const char* Data, std::int64_t Len)
{
    if (OnDocData)
        OnDocData(this, Data, Len);
}

void THttpCli::TriggerSendData(const char* Data, std::int64_t Len)
{
    if (OnSendData)
        OnSendData(this, Data, Len);
}
