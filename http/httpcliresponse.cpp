#include "http/httpprot.h"

#include "http/httpuri.h"
#include "net/wsocket.h"

#include <algorithm>
#include <cctype>
#include <cstring>

// Response side: splitting the received bytes into header lines, the
// header fields, redirections and the document.

namespace {

std::string LowerCase(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::string UpperCase(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.compare(0, std::strlen(prefix), prefix) == 0; }

// Strict decimal parse: digits only (surrounding blanks allowed).
bool ParseInt64(const std::string& text, std::int64_t& value)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    std::size_t end = text.size();
    while (end > i && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    if (i == end || end - i > 18)
        return false;
    std::int64_t v = 0;
    for (; i < end; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return false;
        v = v * 10 + (text[i] - '0');
    }
    value = v;
    return true;
}

} // namespace

void THttpCli::SocketDataAvailable(std::uint16_t)
{
    try {
        ReceiveData();
    } catch (const EHttpException& e) {
        // Ends the request here instead of leaving the socket's receive loop
        // to swallow the error while the connection idles on.
        FailRequest(e.ErrorCode(), e.Message());
    }
}

void THttpCli::ReceiveData()
{
    if (state_ == httpWaitingBody && receiveCount_ == 0) {
        // The document passes through in the chunks it comes in; a larger
        // block than a header line needs saves calls on bulk data.
        if (bodyBuffer_.empty())
            bodyBuffer_.resize(BodyBufferSize);
        const int count = httpSocket_->Receive(bodyBuffer_.data(), BodyBufferSize);
        if (requestType_ == httpAbort || count <= 0)
            return;
        BodyData(bodyBuffer_.data(), count);
        return;
    }
    const int freeSpace = ReceiveBufferSize - receiveCount_;
    if (freeSpace < 1)
        throw EHttpException("HTTP line too long", httperrLineTooLong);
    const int count = httpSocket_->Receive(receiveBuffer_.data() + receiveCount_, freeSpace);
    if (requestType_ == httpAbort || count <= 0)
        return;
    receiveCount_ += count;
    receiveBuffer_[static_cast<std::size_t>(receiveCount_)] = '\0';

    if (state_ == httpWaitingBody) {
        const std::int64_t len = receiveCount_;
        receiveCount_ = 0;
        BodyData(receiveBuffer_.data(), len);
        return;
    }

    const std::uint32_t serial = requestSerial_;
    while (receiveCount_ > 0 && serial == requestSerial_) {
        char* const start = receiveBuffer_.data();
        const char* const lf = static_cast<const char*>(
            std::memchr(start, '\n', static_cast<std::size_t>(receiveCount_)));
        if (lf == nullptr)
            break;
        std::size_t lineLen = static_cast<std::size_t>(lf - start);
        static const std::string bareLf = "\n";
        static const std::string crLf = "\r\n";
        bool endsWithCrLf = false;
        if (lineLen > 0 && start[lineLen - 1] == '\r') {
            --lineLen;
            endsWithCrLf = true;
        }
        const std::string line(start, lineLen);
        const int consumed = static_cast<int>(lf - start) + 1;
        std::memmove(start, start + consumed, static_cast<std::size_t>(receiveCount_ - consumed));
        receiveCount_ -= consumed;
        if (state_ == httpWaitingHeader || state_ == httpWaitingBody)
            HandleLine(line, endsWithCrLf ? crLf : bareLf);
    }
    if (serial == requestSerial_ && state_ == httpWaitingHeader && receiveCount_ >= ReceiveBufferSize)
        throw EHttpException("HTTP line too long", httperrLineTooLong);
}

void THttpCli::HandleLine(const std::string& Line, const std::string& LineEnd)
{
    if (lineHandler_ == TLineHandler::Tunnel) {
        TunnelLine(Line);
        return;
    }
    if (lineHandler_ == TLineHandler::Header) {
        HeaderLine(Line, LineEnd);
        return;
    }
    const std::string chunk = Line + LineEnd;
    BodyData(chunk.data(), static_cast<std::int64_t>(chunk.size()));
}

// Hands everything held after the header to the body handler in one chunk.
void THttpCli::FlushHeldBody(const std::string& Prefix)
{
    std::string chunk = Prefix;
    chunk.append(receiveBuffer_.data(), static_cast<std::size_t>(receiveCount_));
    receiveCount_ = 0;
    if (!chunk.empty())
        BodyData(chunk.data(), static_cast<std::int64_t>(chunk.size()));
}

void THttpCli::HeaderLine(const std::string& Line, const std::string& LineEnd)
{
    if (headerLineCount_ == 0)
        TriggerHeaderBegin();
    ++headerLineCount_;
    // A server may send header lines without end; what is kept of them
    // (RcvdHeader) must stay small.
    // The empty line that ends the header is not counted.
    headerBytes_ += static_cast<std::int64_t>(Line.size() + LineEnd.size());
    if (!Line.empty() && (headerLineCount_ > MaxHeaderLines || headerBytes_ > MaxHeaderBytes))
        throw EHttpException("Too large response headers", httperrHeadersTooLarge);

    if (UpperCase(Line.substr(0, 6)) == "<HTML>") {
        // A document without a header. Its first line keeps its line end,
        // and whatever followed it in the buffer is document too.
        if (contentType_.empty())
            contentType_ = "text/html";
        SetState(httpWaitingBody);
        lineHandler_ = TLineHandler::Body;
        TriggerHeaderEnd();
        FlushHeldBody(Line + LineEnd);
        return;
    }

    if (Line.empty()) {
        HeaderEnd();
        return;
    }

    rcvdHeader_.push_back(Line);
    if (StartsWith(Line, "HTTP/1.0") || StartsWith(Line, "HTTP/1.1")) {
        std::int64_t code = 0;
        statusCode_ = ParseInt64(Line.size() > 9 ? Line.substr(9, 3) : std::string(), code)
                          ? static_cast<std::int32_t>(code)
                          : 0;
        reasonPhrase_ = Line.size() > 13 ? Line.substr(13) : std::string();
    } else {
        const std::size_t colon = Line.find(':');
        if (colon != std::string::npos) {
            const std::string name = LowerCase(Line.substr(0, colon));
            std::size_t valueStart = colon + 1;
            while (valueStart < Line.size() && (Line[valueStart] == ' ' || Line[valueStart] == '\t'))
                ++valueStart;
            HeaderField(name, Line.substr(valueStart));
        }
    }
    Fire(OnHeaderData);
    if (statusCode_ >= 400 && httpSocket_->State() != wsClosed) {
        localClose_ = true;
        httpSocket_->Close();
    }
}

void THttpCli::HeaderField(const std::string& Name, const std::string& Value)
{
    if (Name == "location") {
        // Followed once the header is complete, when the status is known.
        redirectPending_ = true;
        pendingLocation_ = Value;
    } else if (Name == "content-length") {
        // A value that is no number is treated as absent: the body ends with
        // the connection anyway.
        std::int64_t length = 0;
        if (ParseInt64(Value, length))
            contentLength_ = length;
    } else if (Name == "content-range") {
        const std::size_t dash = Value.find('-');
        if (Value.size() < 7 || dash == std::string::npos || dash < 6) {
            ContentRangeBegin.clear();
            ContentRangeEnd.clear();
            return;
        }
        ContentRangeBegin = Value.substr(6, dash - 6);
        const std::size_t slash = Value.find('/');
        ContentRangeEnd = slash == std::string::npos || slash < dash ? Value.substr(dash + 1)
                                                                     : Value.substr(dash + 1, slash - dash - 1);
    } else if (Name == "accept-ranges") {
        acceptRanges_ = Value;
    } else if (Name == "content-type") {
        contentType_ = LowerCase(Value);
    } else if (Name == "www-authenticate") {
        authenticateHeaders_.push_back(Value);
    } else if (Name == "set-cookie") {
        bool accept = true;
        TriggerCookie(Value, accept);
    }
}

void THttpCli::HeaderEnd()
{
    if (redirectPending_ && socketConnected_ && !requestEnded_) {
        if (redirectCount_ >= MaxRedirects) {
            TriggerHeaderEnd();
            FailRequest(httperrTooManyRedirections, "Too many redirections");
            return;
        }
        ++redirectCount_;
        TriggerHeaderEnd();
        if (state_ != httpWaitingHeader)
            return; // aborted from the handler
        receiveCount_ = 0;
        headerLineCount_ = 0;
        headerBytes_ = 0;
        bodyLineCount_ = 0;
        if (!ApplyRedirect())
            return;
        RouteSessionClosed(true);
        httpSocket_->Close();
        return;
    }
    redirectPending_ = false;

    const std::size_t dot = docName_.rfind('.');
    if (contentType_ == "text/html" && dot != std::string::npos && LowerCase(docName_.substr(dot)) == ".exe")
        docName_ = docName_.substr(0, dot + 1) + "htm";

    if (requestEnded_) {
        // The connection was closed after an error status; the request is
        // over and no document follows.
        TriggerHeaderEnd();
        receiveCount_ = 0;
        return;
    }
    SetState(httpWaitingBody);
    lineHandler_ = TLineHandler::Body;
    TriggerHeaderEnd();
    if (state_ == httpWaitingBody)
        FlushHeldBody(std::string());
}

bool THttpCli::ApplyRedirect()
{
    // The Location is resolved against the URL of this hop (RFC 3986):
    // "x", "../x", "/x", "//host/x" and absolute URLs alike.
    const std::string next = ResolveUrl(currentUrl_, pendingLocation_);
    pendingLocation_.clear();
    std::string proto, user, pass, host, port, path;
    ParseURL(next, proto, user, pass, host, port, path);
    if (!SetTarget(next)) {
        FailRequest(httperrUnsupportedProtocol, reasonPhrase_);
        return false;
    }
    location_ = next;
    if (!user.empty()) {
        requestUser_ = user;
        requestPass_ = pass;
        credentialOrigin_ = scheme_ + "://" + LowerCase(targetHost_) + ":" + targetPort_;
    }
    // Credentials go only to where they were given: another scheme, host
    // or port gets none.
    sendCredentials_ = credentialOrigin_ == scheme_ + "://" + LowerCase(targetHost_) + ":" + targetPort_;
    // 303 means "get it there"; 301 and 302 after a POST are taken the same
    // way. 307 and 308 repeat the request as it was, body included.
    if ((statusCode_ == 303 && sendMethod_ != httpHEAD) ||
        ((statusCode_ == 301 || statusCode_ == 302) && sendMethod_ == httpPOST))
        sendMethod_ = httpGET;
    if (sendMethod_ == httpPOST && SendStream != nullptr && postStart_ != std::streampos(-1)) {
        SendStream->clear();
        SendStream->seekg(postStart_);
    }
    return true;
}

void THttpCli::TunnelLine(const std::string& Line)
{
    if (tunnelHeader_.empty() && tunnelStatus_ == 0) {
        if (!StartsWith(Line, "HTTP/1.")) {
            FailRequest(httperrNoResponse, "The proxy did not answer the tunnel request");
            return;
        }
        std::int64_t code = 0;
        tunnelStatus_ = ParseInt64(Line.size() > 9 ? Line.substr(9, 3) : std::string(), code)
                            ? static_cast<std::int32_t>(code)
                            : 0;
        tunnelReason_ = Line.size() > 13 ? Line.substr(13) : std::string();
    }
    if (!Line.empty()) {
        tunnelHeader_.push_back(Line);
        if (static_cast<int>(tunnelHeader_.size()) > MaxHeaderLines)
            throw EHttpException("Too large response headers", httperrHeadersTooLarge);
        return;
    }
    receiveCount_ = 0;
    if (tunnelStatus_ >= 200 && tunnelStatus_ < 300) {
        // The tunnel is open: TLS with the server runs inside it; the
        // request follows once the handshake is done.
        try {
            httpSocket_->StartTLS();
        } catch (const std::exception& e) {
            FailRequest(WSocketErrSsl, std::string("TLS error: ") + e.what());
        }
        return;
    }
    // The proxy refused: its answer is the outcome (a 407 raises like any
    // status of 400 or more).
    statusCode_ = tunnelStatus_ != 0 ? tunnelStatus_ : 404;
    reasonPhrase_ = tunnelReason_;
    rcvdHeader_ = tunnelHeader_;
    localClose_ = true;
    httpSocket_->Close();
}

void THttpCli::BodyData(const char* Data, std::int64_t Len)
{
    if (bodyLineCount_ == 0)
        TriggerDocBegin();
    ++bodyLineCount_;
    rcvdCount_ += Len;
    if (RcvdStream != nullptr)
        RcvdStream->write(Data, static_cast<std::streamsize>(Len));
    TriggerDocData(Data, Len);
}
