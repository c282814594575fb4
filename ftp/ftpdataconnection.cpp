// The data connection: PORT (listening socket) or PASV (outgoing
// connection), REST, the retrievals RETR/LIST/NLST and the uploads STOR/APPE.
// A transfer completes only when both the server's closing reply and the
// close of the data connection have been seen, in whichever order.

#include "ftp/customftpcli.h"

#include "platform/tickcount.h"

#include <algorithm>

namespace {

std::int64_t Now()
{
    // Never 0: a zero StartTick means "sending has not started yet".
    return std::max<std::int64_t>(1, GetTickCount64());
}

bool ParseByte(const std::string& text, std::size_t& pos, int& value)
{
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
    const std::size_t start = pos;
    value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 4) {
        value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    while (pos < text.size() && text[pos] == ' ')
        ++pos;
    return pos > start && value <= 255;
}

} // namespace

// --- PORT / PASV ---------------------------------------------------------------

void TCustomFtpCli::PortAsync()
{
    if (!CheckReady())
        return;
    if (!FControlConnected) {
        HandleError("FTP component not connected");
        return;
    }

    std::uint16_t dataPort = 0;
    try {
        FDataSocket->SetProto("tcp");
        FDataSocket->SetAddr("0.0.0.0");
        FDataSocket->SetPort("0");
        FDataSocket->OnSessionAvailable = nullptr;
        FDataSocket->OnSessionClosed = nullptr;
        FDataSocket->OnDataAvailable = nullptr;
        FEarlyDataConnection = false;
        if (!FPassive) {
            // The notification of a connection is given once; remember one
            // that comes before the transfer step is there to take it.
            FDataSocket->OnSessionAvailable = [this](TCustomWSocket*, std::uint16_t) {
                FEarlyDataConnection = true;
            };
            FDataSocket->SetLingerOnOff(wsLingerOn);
            FDataSocket->SetLingerTimeout(10);
            FDataSocket->Listen();
            sockaddr_in local{};
            int len = sizeof(local);
            FDataSocket->GetSockName(local, len);
            dataPort = WSocket_ntohs(local.sin_port);
        }
    } catch (const Exception& e) {
        // A data socket that cannot listen fails the request instead of
        // leaving a chain without a completion.
        FLastResponse = "550 " + ExceptionClassName(e) + ": " + e.Message();
        FStatusCode = 550;
        SetErrorMessage();
        FRequestResult = 550;
        FDoneReported = false;
        TriggerRequestDone(550);
        return;
    }

    sockaddr_in controlLocal{};
    int len = sizeof(controlLocal);
    FControlSocket->GetSockName(controlLocal, len);

    std::string cmd;
    if (FPassive) {
        cmd = "PASV";
    } else {
        const std::uint32_t a = WSocket_ntohl(controlLocal.sin_addr.s_addr);
        cmd = "PORT " + std::to_string((a >> 24) & 0xFF) + "," + std::to_string((a >> 16) & 0xFF) + "," +
              std::to_string((a >> 8) & 0xFF) + "," + std::to_string(a & 0xFF) + "," +
              std::to_string(dataPort >> 8) + "," + std::to_string(dataPort & 0xFF);
    }
    FByteCount = 0;
    FLastFct = ftpFctPort;
    ExecAsync(ftpPortAsync, cmd, {200, 227});
}

bool TCustomFtpCli::PassivePortFromReply(std::string& port)
{
    // The reply is "227 text (h1,h2,h3,h4,p1,p2)"; some servers leave the
    // parentheses out. The address numbers are ignored: the data connection
    // goes to the server of the control connection.
    const std::string& r = FPasvReply;
    std::size_t pos = r.find('(');
    if (pos != std::string::npos) {
        ++pos;
    } else {
        pos = r.find_first_of("0123456789", std::min<std::size_t>(r.size(), 4));
        if (pos == std::string::npos)
            return false;
    }
    int numbers[6] = {};
    for (int i = 0; i < 6; ++i) {
        if (!ParseByte(r, pos, numbers[i]))
            return false;
        if (i < 5) {
            if (pos >= r.size() || r[pos] != ',')
                return false;
            ++pos;
        }
    }
    port = std::to_string(numbers[4] * 256 + numbers[5]);
    return numbers[4] * 256 + numbers[5] != 0;
}

void TCustomFtpCli::FailPassivePort(std::uint16_t code)
{
    FLastResponse = "Unable to establish data connection, invalid 227 reply: " + FPasvReply;
    FStatusCode = code;
    SetErrorMessage();
    FLocalStream.reset();
    CloseDataSocket();
    FRequestResult = code;
    TriggerRequestDone(code);
}

// --- REST ------------------------------------------------------------------------

void TCustomFtpCli::RestAsync()
{
    FLastFct = ftpFctRest;
    if (FRequestType != ftpRestPutAsync && FRequestType != ftpRestartPutAsync &&
        !FOptions.Contains(ftpNoAutoResumeAt))
        FResumeAt = TFtpLocalFile::FileSize(TFtpLocalFile::ExpandFileName(FLocalFileName));
    if (FResumeAt <= 0) {
        FDoneReported = false;
        FNext = &TCustomFtpCli::NextExecAsync;
        FDoneAsync = nullptr;
        TriggerRequestDone(0);
        return;
    }
    ExecAsync(ftpRestAsync, "REST " + std::to_string(FResumeAt), {0});
}

// --- retrieval -------------------------------------------------------------------

void TCustomFtpCli::ExecGetAsync()
{
    ExecTransferAsync(ftpGetAsync);
}

void TCustomFtpCli::ExecDirAsync()
{
    ExecTransferAsync(ftpDirAsync);
}

void TCustomFtpCli::ExecLsAsync()
{
    ExecTransferAsync(ftpLsAsync);
}

void TCustomFtpCli::ExecTransferAsync(TFtpRequest rqType)
{
    const std::string word = rqType == ftpDirAsync ? "LIST" : rqType == ftpLsAsync ? "NLST" : "RETR";
    if (!CheckReady())
        return;
    if (!FControlConnected) {
        HandleError(word + ": not connected");
        return;
    }
    if (FLocalFileName.empty() && !FDisplayFileFlag) {
        HandleError("LocalFileName empty");
        return;
    }
    if (!FHighLevelMode)
        FRequestType = rqType;
    FTransferCommand = word;
    FServerDone = false;
    FGetDataClosed = false;
    FDoneReported = false;
    FByteCount = 0;
    FDataError = 0;
    FServerFailCode = 0;
    FServerFailLine.clear();
    FDataSocket->OnSessionAvailable = [this](TCustomWSocket*, std::uint16_t e) { DataSocketGetSessionAvailable(e); };

    if (!FDisplayFileFlag) {
        FLocalStream.reset();
        try {
            if (FResumeAt > 0) {
                FLocalStream = std::make_unique<TFtpLocalFile>(FLocalFileName, TFtpLocalFile::Mode::Update);
                FLocalStream->Seek(FResumeAt);
            } else {
                FLocalStream = std::make_unique<TFtpLocalFile>(FLocalFileName, TFtpLocalFile::Mode::Create);
            }
        } catch (const Exception&) {
            FLocalStream.reset();
            FLastResponse = "Unable to open local file " + FLocalFileName;
            FStatusCode = 550;
            SetErrorMessage();
            CloseDataSocket();
            FRequestResult = 550;
            TriggerRequestDone(550);
            return;
        }
    }

    if (FPassive) {
        std::string port;
        if (!PassivePortFromReply(port)) {
            FailPassivePort(550);
            return;
        }
        try {
            FDataSocket->SetAddr(FControlSocket->Addr());
            FDataSocket->SetPort(port);
            FDataSocket->OnSessionConnected = [this](TCustomWSocket*, std::uint16_t e) {
                DataSocketGetSessionConnected(e);
            };
            FDataSocket->SetLingerOnOff(wsLingerOff);
            FDataSocket->SetLingerTimeout(0);
            FDataSocket->Connect();
        } catch (const Exception& e) {
            FLastResponse = "550 " + ExceptionClassName(e) + ": " + e.Message();
            FStatusCode = 550;
            SetErrorMessage();
            FLocalStream.reset();
            CloseDataSocket();
            FRequestResult = 550;
            TriggerRequestDone(550);
            return;
        }
    }

    FAbortRequested = false;
    StateChange(ftpWaitingResponse);
    FNext = &TCustomFtpCli::Next1GetAsync;
    TakeEarlyDataConnection();
    SendCommand(FHostFileName.empty() ? FTransferCommand : FTransferCommand + " " + FHostFileName);
}

void TCustomFtpCli::TakeEarlyDataConnection()
{
    if (!FEarlyDataConnection || FDataSocket->State() != wsListening)
        return;
    FEarlyDataConnection = false;
    if (FDataSocket->OnSessionAvailable)
        FDataSocket->OnSessionAvailable(FDataSocket.get(), 0);
}

std::uint16_t TCustomFtpCli::TransferResult()
{
    // A transfer cut short by the application has not succeeded, even when
    // the server acknowledged what it had sent or received.
    if (FAbortRequested && FDataError == 0) {
        if (FErrorMessage.empty())
            FErrorMessage = "426 Transfer aborted by the application";
        return 426;
    }
    return FDataError;
}

void TCustomFtpCli::Next1GetAsync()
{
    DisplayLastResponse();
    if (FStatusCode == 125 || FStatusCode == 150) {
        FNext = &TCustomFtpCli::Next2GetAsync;
        return;
    }
    SetErrorMessage();
    FNext = nullptr;
    CloseDataSocket();
    FLocalStream.reset();
    FResumeAt = 0;
    FRequestResult = FStatusCode;
    TriggerRequestDone(std::uint16_t(FStatusCode));
}

void TCustomFtpCli::Next2GetAsync()
{
    DisplayLastResponse();
    // The transfer already failed and only waits for its data connection to
    // close: a line the server adds changes nothing.
    if (FServerFailCode != 0)
        return;
    if (FStatusCode == 125 || FStatusCode == 226 || FStatusCode == 250) {
        FServerDone = true;
        Next3GetAsync();
        return;
    }
    SetErrorMessage();
    FRequestResult = FStatusCode;
    if (!FGetDataClosed && DataConnectionToDrain()) {
        // What the server sent before it gave up may still be waiting in
        // the data connection. It is kept, so that a resumed download does
        // not fetch it again; the request ends, with this reply's code, once
        // the server has closed the connection.
        TriggerDisplay("! RETR/LIST/NLST Failed");
        FServerFailCode = std::uint16_t(FStatusCode);
        FServerFailLine = FLastResponse;
        FServerDone = true;
        return;
    }
    FLocalStream.reset();
    CloseDataSocket();
    TriggerDisplay("! RETR/LIST/NLST Failed");
    TriggerRequestDone(std::uint16_t(FStatusCode));
}

bool TCustomFtpCli::DataConnectionToDrain()
{
    switch (FDataSocket->State()) {
    case wsConnected:
        return true;
    case wsConnecting: {
        // Connected already, but the report of it is still in the queue.
        sockaddr_in peer{};
        int len = sizeof(peer);
        return WSocket_getpeername(FDataSocket->HSocket(), reinterpret_cast<sockaddr*>(&peer), &len) == 0;
    }
    case wsListening: {
        // The server connects before it sends anything, so a connection it
        // made is queued on the listener by the time its reply is read.
        const SOCKET accepted = WSocket_accept(FDataSocket->HSocket(), nullptr, nullptr);
        if (accepted == INVALID_SOCKET)
            return false;
        FDataSocket->Close();
        AdoptGetDataConnection(accepted);
        return true;
    }
    default:
        return false;
    }
}

void TCustomFtpCli::Next3GetAsync()
{
    // A request that already ended (aborted, failed) keeps its result.
    if (FDoneReported)
        return;
    if (!FServerDone || !FGetDataClosed)
        return;
    if (FServerFailCode != 0) {
        // Replies that came while the data connection drained do not
        // replace the one that failed the transfer.
        FStatusCode = FServerFailCode;
        FLastResponse = FServerFailLine;
        FRequestResult = FServerFailCode;
        TriggerRequestDone(FServerFailCode);
        return;
    }
    TransfertStats();
    FResumeAt = 0;
    const std::uint16_t result = TransferResult();
    FRequestResult = result;
    TriggerRequestDone(result);
}

void TCustomFtpCli::DataSocketGetSessionAvailable(std::uint16_t)
{
    const SOCKET accepted = FDataSocket->Accept();
    FDataSocket->Close();
    if (accepted == INVALID_SOCKET)
        return;
    AdoptGetDataConnection(accepted);
}

void TCustomFtpCli::AdoptGetDataConnection(SOCKET accepted)
{
    FDataSocket->OnSessionClosed = [this](TCustomWSocket*, std::uint16_t e) { DataSocketGetSessionClosed(e); };
    FDataSocket->OnDataAvailable = [this](TCustomWSocket*, std::uint16_t e) { DataSocketGetDataAvailable(e); };
    FDataSocket->OnDataSent = nullptr;
    // Closing the listener reset the linger setting to an abortive close.
    FDataSocket->SetLingerOnOff(wsLingerOff);
    FDataSocket->SetLingerTimeout(0);
    FDataSocket->Dup(accepted);
    FStartTick = Now();
}

void TCustomFtpCli::DataSocketGetSessionConnected(std::uint16_t error)
{
    FDataSocket->OnSessionClosed = [this](TCustomWSocket*, std::uint16_t e) { DataSocketGetSessionClosed(e); };
    FDataSocket->OnDataAvailable = [this](TCustomWSocket*, std::uint16_t e) { DataSocketGetDataAvailable(e); };
    FDataSocket->OnDataSent = nullptr;
    FStartTick = Now();
    if (error == 0)
        return;
    FLastResponse = "Unable to establish data connection, error #" + std::to_string(error);
    FStatusCode = 550;
    SetErrorMessage();
    CloseDataSocket();
    FLocalStream.reset();
    FRequestResult = 550;
    TriggerRequestDone(550);
}

void TCustomFtpCli::DataSocketGetDataAvailable(std::uint16_t)
{
    if (!Progress())
        return;
    if (FReceiveBlock.size() != std::size_t(DataReceiveSize))
        FReceiveBlock.resize(std::size_t(DataReceiveSize));
    const int len = FDataSocket->Receive(FReceiveBlock.data(), DataReceiveSize);
    if (len == 0)
        return;
    if (len < 0) {
        if (FDataSocket->State() == wsConnected && FDataSocket->LastError() != WSAEWOULDBLOCK) {
            TriggerDisplay("! Data: Receive error " + std::to_string(FDataSocket->LastError()));
            FDataSocket->Shutdown(2);
        }
        return;
    }
    FByteCount += len;
    if (FLocalStream) {
        try {
            FLocalStream->Write(FReceiveBlock.data(), len);
        } catch (const Exception&) {
            TriggerDisplay("! Error writing local file");
            FDataSocket->Shutdown(2);
            return;
        }
    }
    if (FDisplayFileFlag)
        DeliverDisplayFile(FReceiveBlock.data(), len);
}

void TCustomFtpCli::DeliverDisplayFile(const char* data, std::int64_t len)
{
    if (FDisplayFileMode == ftpBinary) {
        TriggerDisplayFile(std::string(data, std::size_t(len)));
        return;
    }
    std::int64_t pos = 0;
    while (pos < len) {
        const std::int64_t start = pos;
        while (pos < len && data[pos] != '\r' && data[pos] != '\n')
            ++pos;
        TriggerDisplayFile(std::string(data + start, std::size_t(pos - start)));
        while (pos < len && (data[pos] == '\r' || data[pos] == '\n'))
            ++pos;
    }
}

void TCustomFtpCli::DataSocketGetSessionClosed(std::uint16_t error)
{
    if (FGetDataClosed)
        return; // reported twice when closed from inside its close event
    FLocalStream.reset();
    FGetDataClosed = true;
    FDataError = error;
    Next3GetAsync();
}

// --- upload ------------------------------------------------------------------------

void TCustomFtpCli::ExecPutAsync()
{
    FAppendMode = false;
    FRequestType = ftpPutAsync;
    ExecUploadAsync();
}

void TCustomFtpCli::ExecAppendAsync()
{
    FAppendMode = true;
    FRequestType = ftpAppendAsync;
    ExecUploadAsync();
}

void TCustomFtpCli::ExecUploadAsync()
{
    if (!CheckReady())
        return;
    if (!FControlConnected) {
        HandleError("STOR/APPE: not connected");
        return;
    }
    if (FLocalFileName.empty()) {
        HandleError("LocalFileName empty");
        return;
    }
    FServerDone = false;
    FPutDataClosed = false;
    FDoneReported = false;
    FPutDataOpen = false;
    FStoreReplySeen = false;
    FStartTick = 0;
    FByteCount = 0;
    FDataError = 0;

    bool cancel = false;
    TriggerReadyToTransmit(cancel);
    if (cancel) {
        FErrorMessage = "426 Transmit cancelled by application";
        FStatusCode = 426;
        TriggerDisplay("! " + FErrorMessage);
        FRequestResult = 426;
        TriggerRequestDone(426);
        return;
    }

    FDataSocket->OnSessionAvailable = [this](TCustomWSocket*, std::uint16_t e) { DataSocketPutSessionAvailable(e); };

    FLocalStream.reset();
    try {
        FLocalStream = std::make_unique<TFtpLocalFile>(FLocalFileName, TFtpLocalFile::Mode::Read);
        FEndOfFile = false;
        if (FResumeAt > 0)
            FLocalStream->Seek(FResumeAt);
    } catch (const Exception&) {
        FLocalStream.reset();
        FErrorMessage = "426 Unable to open local file " + FLocalFileName;
        FStatusCode = 426;
        TriggerDisplay("! " + FErrorMessage);
        CloseDataSocket();
        FRequestResult = 426;
        TriggerRequestDone(426);
        return;
    }

    FAbortRequested = false;
    if (!FPassive) {
        StateChange(ftpWaitingResponse);
        FNext = &TCustomFtpCli::Next1PutAsync;
        TakeEarlyDataConnection();
        SendCommand((FAppendMode ? "APPE " : "STOR ") + FHostFileName);
        return;
    }

    std::string port;
    if (!PassivePortFromReply(port)) {
        FailPassivePort(550);
        return;
    }
    try {
        FDataSocket->SetAddr(FControlSocket->Addr());
        FDataSocket->SetPort(port);
        FDataSocket->OnSessionConnected = [this](TCustomWSocket*, std::uint16_t e) {
            DataSocketPutSessionConnected(e);
        };
        FDataSocket->SetLingerOnOff(wsLingerOff);
        FDataSocket->SetLingerTimeout(0);
        FDataSocket->Connect();
    } catch (const Exception& e) {
        FLastResponse = "426 " + ExceptionClassName(e) + ": " + e.Message();
        FStatusCode = 426;
        SetErrorMessage();
        FLocalStream.reset();
        CloseDataSocket();
        FRequestResult = 426;
        TriggerRequestDone(426);
        return;
    }
    // Busy from here on, so that no other request slips in while the data
    // connection is being made; a reply that comes meanwhile (a server
    // closing the session) fails the upload.
    StateChange(ftpWaitingResponse);
    FNext = &TCustomFtpCli::Next1PutAsync;
}

void TCustomFtpCli::DataSocketPutSessionConnected(std::uint16_t error)
{
    FDataSocket->OnSessionClosed = [this](TCustomWSocket*, std::uint16_t e) { DataSocketPutSessionClosed(e); };
    FDataSocket->OnDataAvailable = nullptr;
    FDataSocket->OnDataSent = nullptr;
    FPutDataOpen = true;
    FStartTick = Now();
    if (error != 0) {
        FLastResponse = "Unable to establish data connection, error #" + std::to_string(error);
        FStatusCode = 550;
        SetErrorMessage();
        CloseDataSocket();
        FLocalStream.reset();
        FRequestResult = 550;
        TriggerRequestDone(550);
        return;
    }
    StateChange(ftpWaitingResponse);
    FNext = &TCustomFtpCli::Next1PutAsync;
    SendCommand((FAppendMode ? "APPE " : "STOR ") + FHostFileName);
}

void TCustomFtpCli::DataSocketPutSessionAvailable(std::uint16_t)
{
    const SOCKET accepted = FDataSocket->Accept();
    FDataSocket->Close();
    if (accepted == INVALID_SOCKET)
        return;
    FDataSocket->OnSessionClosed = [this](TCustomWSocket*, std::uint16_t e) { DataSocketPutSessionClosed(e); };
    FDataSocket->OnDataAvailable = [this](TCustomWSocket*, std::uint16_t e) { DataSocketPutDataAvailable(e); };
    FDataSocket->OnDataSent = [this](TCustomWSocket*, std::uint16_t e) { DataSocketPutDataSent(e); };
    FDataSocket->SetLingerOnOff(wsLingerOff);
    FDataSocket->SetLingerTimeout(10);
    FDataSocket->Dup(accepted);

    int sndBuf = 0;
    int optLen = sizeof(sndBuf);
    if (WSocket_getsockopt(accepted, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&sndBuf), &optLen) != 0) {
        HandleError("winsock.getsockopt(SO_SNDBUF) failed");
        return;
    }
    FPutDataOpen = true;
    if (FStoreReplySeen && FStartTick == 0)
        PostMessage(Handle(), WM_FTP_SENDDATA, 0, 0);
}

void TCustomFtpCli::DataSocketPutDataAvailable(std::uint16_t)
{
    char discard[2048];
    FDataSocket->Receive(discard, sizeof(discard));
}

void TCustomFtpCli::Next1PutAsync()
{
    DisplayLastResponse();
    if (FStatusCode == 125 || FStatusCode == 150) {
        FStoreReplySeen = true;
        FNext = &TCustomFtpCli::Next2PutAsync;
        if (FPassive) {
            FDataSocket->OnDataSent = [this](TCustomWSocket*, std::uint16_t e) { DataSocketPutDataSent(e); };
            DataSocketPutDataSent(0);
        } else if (FPutDataOpen && FStartTick == 0) {
            PostMessage(Handle(), WM_FTP_SENDDATA, 0, 0);
        }
        return;
    }
    SetErrorMessage();
    FNext = nullptr;
    CloseDataSocket();
    FLocalStream.reset();
    FResumeAt = 0;
    FRequestResult = FStatusCode;
    TriggerRequestDone(std::uint16_t(FStatusCode));
}

void TCustomFtpCli::WMFtpSendData()
{
    FStartTick = Now();
    DataSocketPutDataSent(0);
}

void TCustomFtpCli::DataSocketPutDataSent(std::uint16_t error)
{
    if (!FLocalStream)
        return;
    if (!Progress())
        return;
    if (error != 0) {
        TriggerDisplay("! Error #" + std::to_string(error) + " sending data");
        CloseDataSocket();
        return;
    }
    if (FEndOfFile || !FStoreReplySeen || !FPutDataOpen)
        return;
    if (FSendBlock.size() != std::size_t(UploadBlockSize))
        FSendBlock.resize(std::size_t(UploadBlockSize));
    std::int64_t len = 0;
    try {
        len = FLocalStream->Read(FSendBlock.data(), UploadBlockSize);
    } catch (const Exception&) {
        TriggerDisplay("! Error reading file");
        CloseDataSocket();
        return;
    }
    if (len == 0) {
        // The queue has drained, so closing now sends nothing short.
        FEndOfFile = true;
        CloseDataSocket();
        return;
    }
    FByteCount += len;
    SendUploadBlock(len);
}

void TCustomFtpCli::SendUploadBlock(std::int64_t len)
{
    // The socket's send queue hands the network one small block per call;
    // a whole upload block goes out in one call instead when nothing is
    // queued, and the queue keeps only what the network did not take. Flow
    // control is unchanged: the next block is read once this one is gone.
    const char* data = FSendBlock.data();
    int sent = 0;
    if (FDataSocket->State() == wsConnected && FDataSocket->AllSent()) {
        sent = WSocket_send(FDataSocket->HSocket(), data, int(len), 0);
        if (sent < 0) {
            const int error = WSocket_WSAGetLastError();
            if (error != WSAEWOULDBLOCK) {
                TriggerDisplay("! Error #" + std::to_string(error) + " sending data");
                CloseDataSocket();
                return;
            }
            sent = 0;
        }
    }
    if (sent < len) {
        FDataSocket->Send(data + sent, int(len - sent));
        return;
    }
    PostMessage(Handle(), WM_FTP_SENDNEXT, 0, 0);
}

void TCustomFtpCli::Next2PutAsync()
{
    DisplayLastResponse();
    if (FStatusCode == 226 || FStatusCode == 250) {
        FServerDone = true;
        Next3PutAsync();
        return;
    }
    SetErrorMessage();
    FLocalStream.reset();
    CloseDataSocket();
    TriggerDisplay("! STOR Failed");
    FRequestResult = FStatusCode;
    TriggerRequestDone(std::uint16_t(FStatusCode));
}

void TCustomFtpCli::DataSocketPutSessionClosed(std::uint16_t error)
{
    if (FPutDataClosed)
        return; // reported twice when closed from inside its close event
    FLocalStream.reset();
    FPutDataClosed = true;
    FDataError = error;
    Next3PutAsync();
}

void TCustomFtpCli::Next3PutAsync()
{
    // A request that already ended (aborted, failed) keeps its result.
    if (FDoneReported)
        return;
    if (!FServerDone || !FPutDataClosed)
        return;
    TransfertStats();
    FResumeAt = 0;
    const std::uint16_t result = TransferResult();
    FRequestResult = result;
    TriggerRequestDone(result);
}

// --- progress and statistics ------------------------------------------------------

bool TCustomFtpCli::Progress()
{
    bool abort = false;
    if (OnProgress)
        OnProgress(this, FByteCount + FResumeAt, abort);
    if (!abort)
        return true;
    TriggerDisplay("! Abort requested");
    FAbortRequested = true;
    CloseDataSocket();
    return false;
}

void TCustomFtpCli::TransfertStats()
{
    FStopTick = Now();
    const std::int64_t elapsed = FStartTick == 0 ? 0 : FStopTick - FStartTick;
    std::string line = "! " + std::to_string(FByteCount) + " bytes received/sent in " +
                       std::to_string(elapsed / 1000) + " seconds";
    if (elapsed > 0) {
        const std::int64_t rate = FByteCount <= 32767 ? FByteCount * 1000 / elapsed : (FByteCount / elapsed) * 1000;
        line += " (" + std::to_string(rate) + " Bytes/sec)";
    }
    TriggerDisplay(line);
}
