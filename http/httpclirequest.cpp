#include "http/httpprot.h"

#include "net/wsocket.h"

// Request assembly and the POST body.

void THttpCli::SendCommand(const std::string& Cmd)
{
    std::string line = Cmd;
    if (OnCommand)
        OnCommand(this, line);
    // A line the handler emptied is left out: a bare CR LF here would end
    // the header early and turn the remaining lines into body.
    if (line.empty())
        return;
    requestBuffer_ += line;
    requestBuffer_ += "\r\n";
}

void THttpCli::SendRequest(const std::string& Method, const std::string& Version)
{
    requestBuffer_.clear();
    TriggerRequestHeaderBegin();
    SendCommand(Method + " " + requestTarget_ + " HTTP/" + Version);
    if (!Sender.empty())
        SendCommand("From: " + Sender);
    if (!Accept.empty())
        SendCommand("Accept: " + Accept);
    if (!Reference.empty())
        SendCommand("Referer: " + Reference);
    if (Method == "POST" && !ContentTypePost.empty())
        SendCommand("Content-Type: " + ContentTypePost);
    if (!Agent.empty())
        SendCommand("User-Agent: " + Agent);
    SendCommand("Host: " + hostHeader_);
    if (NoCache)
        SendCommand("Pragma: no-cache");
    if (Method == "POST") {
        // What is left from the stream's position is what goes out, so that
        // is what the length announces.
        std::int64_t remaining = 0;
        if (SendStream != nullptr) {
            SendStream->clear();
            const std::streampos pos = SendStream->tellg();
            SendStream->seekg(0, std::ios::end);
            const std::streampos end = SendStream->tellg();
            SendStream->seekg(pos);
            if (pos >= 0 && end >= pos)
                remaining = static_cast<std::int64_t>(end - pos);
        }
        SendCommand("Content-Length: " + std::to_string(remaining));
    }
    if (ModifiedSince != 0)
        SendCommand("If-Modified-Since: " + RFC1123_Date(ModifiedSince) + " GMT");
    if (sendCredentials_ && !requestUser_.empty())
        SendCommand("Authorization: Basic " + EncodeStr(encBase64, requestUser_ + ":" + requestPass_));
    // Inside a tunnel the request goes to the server itself: the proxy's
    // credentials must not travel with it.
    if (!Proxy.empty() && !ProxyUsername.empty() && !tunnel_)
        SendCommand("Proxy-Authorization: Basic " + EncodeStr(encBase64, ProxyUsername + ":" + ProxyPassword));
    if (!Cookie.empty())
        SendCommand("Cookie: " + Cookie);
    if (!ContentRangeBegin.empty() || !ContentRangeEnd.empty()) {
        SendCommand("Range: bytes=" + ContentRangeBegin + "-" + ContentRangeEnd);
        ContentRangeBegin.clear();
        ContentRangeEnd.clear();
    }
    acceptRanges_.clear();
    TriggerRequestHeaderEnd();
    requestBuffer_ += "\r\n";
    const std::string buffer = std::move(requestBuffer_);
    requestBuffer_.clear();
    httpSocket_->Send(buffer.data(), static_cast<int>(buffer.size()));
}

void THttpCli::SocketDataSent(std::uint16_t)
{
    if (postPending_)
        SendNextPostChunk();
}

void THttpCli::SendNextPostChunk()
{
    if (!postPending_)
        return;
    std::int64_t count = 0;
    if (SendStream != nullptr) {
        SendStream->read(postBuffer_.data(), PostBufferSize);
        count = SendStream->gcount();
    }
    if (count <= 0) {
        postPending_ = false;
        TriggerSendEnd();
        return;
    }
    sentCount_ += count;
    TriggerSendData(postBuffer_.data(), count);
    httpSocket_->Send(postBuffer_.data(), static_cast<int>(count));
}

void THttpCli::SendTunnelRequest()
{
    // The proxy's answer is read line by line like a header, but it is the
    // proxy's: it goes to TunnelLine, not to the response.
    const std::string authority = UrlHostPort(targetHost_, targetPort_);
    std::string request = "CONNECT " + authority + " HTTP/1.0\r\nHost: " + authority + "\r\n";
    if (!Agent.empty())
        request += "User-Agent: " + Agent + "\r\n";
    if (!ProxyUsername.empty())
        request += "Proxy-Authorization: Basic " + EncodeStr(encBase64, ProxyUsername + ":" + ProxyPassword) + "\r\n";
    request += "\r\n";
    tunnelStatus_ = 0;
    tunnelReason_.clear();
    lineHandler_ = TLineHandler::Tunnel;
    SetState(httpWaitingHeader);
    httpSocket_->Send(request.data(), static_cast<int>(request.size()));
}
