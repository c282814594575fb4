// The data connection: PORT (listening socket) or PASV (outgoing
// connection), REST, the retrievals RETR/LIST/NLST and the uploads STOR/APPE.
// A transfer completes only when both the server's closing reply and the
// close of the data connection have been seen, in whichever order; one that
// did not move every byte fails, whatever the closing reply says.

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

std::string Dotted(const in_addr& addr)
{
    const std::uint32_t a = WSocket_ntohl(addr.s_addr);
    return std::to_string((a >> 24) & 0xFF) + "." + std::to_string((a >> 16) & 0xFF) + "." +
           std::to_string((a >> 8) & 0xFF) + "." + std::to_string(a & 0xFF);
}

// The size in a "150 ... (1000 bytes)" reply, or -1.
std::int64_t AnnouncedSize(const std::string& reply)
{
    const std::size_t open = reply.rfind('(');
    if (open == std::string::npos)
        return -1;
    std::size_t pos = open + 1;
    std::int64_t value = 0;
    const std::size_t digits = pos;
    while (pos < reply.size() && reply[pos] >= '0' && reply[pos] <= '9' && pos - digits < 18)
        value = value * 10 + (reply[pos++] - '0');
    if (pos == digits || reply.compare(pos, 7, " bytes)") != 0)
        return -1;
    return value;
}

// The reason of a local file error without the operation in front of it.
std::string Reason(const Exception& e)
{
    const std::string& m = e.Message();
    const std::size_t colon = m.rfind(": ");
    return colon == std::string::npos ? m : m.substr(colon + 2);
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

    sockaddr_in controlLocal{};
    int len = sizeof(controlLocal);
    FControlSocket->GetSockName(controlLocal, len);

    TWSocket* const data = DataSocket();
    std::uint16_t dataPort = 0;
    try {
        if (data->State() != wsClosed)
            CloseDataSocket();
        FData->SetPhase(TFtpDataPhase::Idle);
        data->SetProto("tcp");
        data->SetPort("0");
        data->OnSessionAvailable = nullptr;
        data->OnSessionClosed = nullptr;
        data->OnDataAvailable = nullptr;
        data->OnDataSent = nullptr;
        FEarlyDataConnection = false;
        if (!FPassive) {
            // Only the address the server reaches us on, not every interface.
            data->SetAddr(Dotted(controlLocal.sin_addr));
            // The notification of a connection is given once; remember one
            // that comes before the transfer step is there to take it.
            data->OnSessionAvailable = [this](TCustomWSocket*, std::uint16_t) { FEarlyDataConnection = true; };
            data->SetLingerOnOff(wsLingerOn);
            data->SetLingerTimeout(10);
            data->Listen();
            FData->SetPhase(TFtpDataPhase::Listening);
            sockaddr_in local{};
            int localLen = sizeof(local);
            data->GetSockName(local, localLen);
            dataPort = WSocket_ntohs(local.sin_port);
        }
    } catch (const Exception& e) {
        // A data socket that cannot listen fails the request instead of
        // leaving a chain without a completion.
        FDoneReported = false;
        EndWithFailure(550, "550 " + ExceptionClassName(e) + ": " + e.Message(), TFailText::Reply);
        return;
    }

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

bool TCustomFtpCli::ConnectPassive(std::uint16_t failCode)
{
    std::string port;
    if (!PassivePortFromReply(port)) {
        EndWithFailure(failCode, "Unable to establish data connection, invalid 227 reply: " + FPasvReply,
                       TFailText::Reply);
        return false;
    }
    TWSocket* const data = DataSocket();
    try {
        data->SetAddr(FControlSocket->Addr());
        data->SetPort(port);
        data->OnSessionConnected = [this](TCustomWSocket*, std::uint16_t e) { DataSocketSessionConnected(e); };
        data->SetLingerOnOff(wsLingerOff);
        data->SetLingerTimeout(0);
        FData->SetPhase(TFtpDataPhase::Connecting);
        data->Connect();
    } catch (const Exception& e) {
        EndWithFailure(failCode, std::to_string(failCode) + " " + ExceptionClassName(e) + ": " + e.Message(),
                       TFailText::Reply);
        return false;
    }
    return true;
}

SOCKET TCustomFtpCli::AcceptFromControlPeer()
{
    // Only the server we talk to may deliver or take the data: any other
    // connection is closed at once and the wait goes on.
    sockaddr_in server{};
    int serverLen = sizeof(server);
    const bool knowServer =
        WSocket_getpeername(FControlSocket->HSocket(), reinterpret_cast<sockaddr*>(&server), &serverLen) == 0;
    for (;;) {
        sockaddr_in peer{};
        int peerLen = sizeof(peer);
        const SOCKET accepted =
            WSocket_accept(DataSocket()->HSocket(), reinterpret_cast<sockaddr*>(&peer), &peerLen);
        if (accepted == INVALID_SOCKET)
            return INVALID_SOCKET;
        if (knowServer && peer.sin_addr.s_addr == server.sin_addr.s_addr)
            return accepted;
        WSocket_closesocket(accepted);
        TriggerDisplay("! Refused data connection from " + Dotted(peer.sin_addr));
    }
}

void TCustomFtpCli::DataSocketSessionAvailable(std::uint16_t)
{
    const SOCKET accepted = AcceptFromControlPeer();
    if (accepted == INVALID_SOCKET)
        return;
    DataSocket()->Close();
    AdoptDataConnection(accepted);
}

void TCustomFtpCli::SetDataHandlers()
{
    TWSocket* const data = DataSocket();
    data->OnSessionClosed = [this](TCustomWSocket*, std::uint16_t e) { DataSocketSessionClosed(e); };
    if (FData->Direction() == TFtpDataChannel::TDirection::Send) {
        // Whatever a server sends on an upload connection is read and dropped.
        data->OnDataAvailable = [this](TCustomWSocket*, std::uint16_t) {
            char discard[2048];
            DataSocket()->Receive(discard, sizeof(discard));
        };
        data->OnDataSent = [this](TCustomWSocket*, std::uint16_t e) { DataSocketPutDataSent(e); };
    } else {
        data->OnDataAvailable = [this](TCustomWSocket*, std::uint16_t e) { DataSocketGetDataAvailable(e); };
        data->OnDataSent = nullptr;
    }
}

void TCustomFtpCli::AdoptDataConnection(SOCKET accepted)
{
    TWSocket* const data = DataSocket();
    FData->DataClosed = false;
    SetDataHandlers();
    // Closing the listener reset the linger setting to an abortive close.
    data->SetLingerOnOff(wsLingerOff);
    data->SetLingerTimeout(0);
    data->Dup(accepted);
    FData->SetPhase(TFtpDataPhase::Open);
    FData->DataOpen = true;
    if (FData->Direction() != TFtpDataChannel::TDirection::Send) {
        FData->StartTick = Now();
        return;
    }
    if (FData->ReplySeen && FData->StartTick == 0)
        PostMessage(Handle(), WM_FTP_SENDDATA, 0, 0);
}

void TCustomFtpCli::DataSocketSessionConnected(std::uint16_t error)
{
    SetDataHandlers();
    FData->StartTick = Now();
    if (error != 0) {
        FData->SetPhase(TFtpDataPhase::Closed);
        EndWithFailure(550, "Unable to establish data connection, error #" + std::to_string(error),
                       TFailText::Reply);
        return;
    }
    FData->SetPhase(TFtpDataPhase::Open);
    FData->DataOpen = true;
    if (FData->Direction() != TFtpDataChannel::TDirection::Send)
        return;
    // A passive upload sends its command once the connection is there.
    FData->StartTick = 0;
    StateChange(ftpWaitingResponse);
    FNext = &TCustomFtpCli::Next1PutAsync;
    SendCommand((FAppendMode ? "APPE " : "STOR ") + FHostFileName);
}

void TCustomFtpCli::TakeEarlyDataConnection()
{
    if (!FEarlyDataConnection || DataSocket()->State() != wsListening)
        return;
    FEarlyDataConnection = false;
    if (DataSocket()->OnSessionAvailable)
        DataSocket()->OnSessionAvailable(DataSocket(), 0);
}

void TCustomFtpCli::CloseDataSocket()
{
    DataSocket()->Close();
    if (FData->Phase() != TFtpDataPhase::Idle)
        FData->SetPhase(TFtpDataPhase::Closed);
    // A listener or a connection still being made reports no close.
    FData->DataClosed = true;
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
    FDoneReported = false;
    FByteCount = 0;
    FData->Begin(TFtpDataChannel::TDirection::Receive);
    if (word == "RETR" && Binary() && FSizeKnown && FSizeFileName == FHostFileName)
        FData->Announced = FSizeResult;
    DataSocket()->OnSessionAvailable = [this](TCustomWSocket*, std::uint16_t e) { DataSocketSessionAvailable(e); };

    // The local file is opened only once the server agreed to send (or its
    // first byte arrives): a refusal leaves an existing file untouched.
    if (FPassive && !ConnectPassive(550))
        return;

    StateChange(ftpWaitingResponse);
    FNext = &TCustomFtpCli::Next1GetAsync;
    TakeEarlyDataConnection();
    SendCommand(FHostFileName.empty() ? FTransferCommand : FTransferCommand + " " + FHostFileName);
}

bool TCustomFtpCli::OpenDownloadFile()
{
    if (FDisplayFileFlag || FData->LocalOpened || FData->Failed())
        return true;
    FData->LocalOpened = true;
    try {
        FData->OpenForWrite(FLocalFileName, FResumeAt);
    } catch (const Exception&) {
        // The server is already sending: the data connection is dropped and
        // the request ends when its closing reply has come.
        FLastResponse = "Unable to open local file " + FLocalFileName;
        FStatusCode = 550;
        FData->Fail(550, FLastResponse);
        CloseDataSocket();
        return false;
    }
    return true;
}

void TCustomFtpCli::Next1GetAsync()
{
    DisplayLastResponse();
    if (FStatusCode == 125 || FStatusCode == 150) {
        FNext = &TCustomFtpCli::Next2GetAsync;
        if (FTransferCommand == "RETR" && Binary()) {
            const std::int64_t announced = AnnouncedSize(FLastResponse);
            if (announced >= 0)
                FData->Announced = announced;
        }
        OpenDownloadFile();
        return;
    }
    FNext = nullptr;
    FResumeAt = 0;
    EndWithFailure(ErrorValue(FStatusCode), FLastResponse, TFailText::Reply);
}

void TCustomFtpCli::Next2GetAsync()
{
    DisplayLastResponse();
    // The transfer already failed and only waits for its data connection to
    // close: a line the server adds changes nothing.
    if (FData->ServerFailCode != 0)
        return;
    if (FStatusCode == 125 || FStatusCode == 226 || FStatusCode == 250) {
        FData->ServerDone = true;
        CheckTransferDone();
        return;
    }
    TriggerDisplay("! RETR/LIST/NLST Failed");
    // A local failure that made the server give up is the reason to report.
    if (FData->Failed()) {
        EndWithFailure(FData->FailCode(), FData->FailMessage(), TFailText::Local);
        return;
    }
    SetErrorMessage();
    FRequestResult = FStatusCode;
    if (!FData->DataClosed && DataConnectionToDrain()) {
        // What the server sent before it gave up may still be waiting in
        // the data connection. It is kept, so that a resumed download does
        // not fetch it again; the request ends, with this reply's code, once
        // the server has closed the connection.
        FData->ServerFailCode = ErrorValue(FStatusCode);
        FData->ServerFailLine = FLastResponse;
        FData->ServerDone = true;
        return;
    }
    EndWithFailure(ErrorValue(FStatusCode), FLastResponse, TFailText::Reply);
}

bool TCustomFtpCli::DataConnectionToDrain()
{
    TWSocket* const data = DataSocket();
    switch (data->State()) {
    case wsConnected:
        return true;
    case wsConnecting: {
        // Connected already, but the report of it is still in the queue.
        sockaddr_in peer{};
        int len = sizeof(peer);
        return WSocket_getpeername(data->HSocket(), reinterpret_cast<sockaddr*>(&peer), &len) == 0;
    }
    case wsListening: {
        // The server connects before it sends anything, so a connection it
        // made is queued on the listener by the time its reply is read.
        const SOCKET accepted = AcceptFromControlPeer();
        if (accepted == INVALID_SOCKET)
            return false;
        data->Close();
        AdoptDataConnection(accepted);
        return true;
    }
    default:
        return false;
    }
}

void TCustomFtpCli::DataSocketGetDataAvailable(std::uint16_t)
{
    if (!Progress())
        return;
    std::vector<char>& block = FData->Block(std::size_t(DataReceiveSize));
    TWSocket* const data = DataSocket();
    const int len = data->Receive(block.data(), DataReceiveSize);
    if (len == 0)
        return;
    if (len < 0) {
        if (data->State() == wsConnected && data->LastError() != WSAEWOULDBLOCK) {
            const int error = data->LastError();
            TriggerDisplay("! Data: Receive error " + std::to_string(error));
            FData->Fail(426, "Error receiving data: " + WSocketErrorDesc(error));
            CloseDataSocket();
        }
        return;
    }
    FData->AddMoved(len);
    FByteCount = FData->Taken();
    if (FData->Failed())
        return; // the connection is on its way out; nothing more is kept
    if (!OpenDownloadFile())
        return;
    if (TFtpLocalFile* const local = FData->LocalFile()) {
        try {
            local->Write(block.data(), len);
        } catch (const Exception& e) {
            TriggerDisplay("! Error writing local file");
            FData->Fail(426, "Error writing local file: " + Reason(e));
            FData->CloseLocalFile();
            CloseDataSocket();
            return;
        }
    }
    if (FDisplayFileFlag)
        DeliverDisplayFile(block.data(), len);
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

void TCustomFtpCli::DataSocketSessionClosed(std::uint16_t error)
{
    if (FData->DataClosed)
        return; // reported twice when closed from inside its close event
    // A peer that closes while part of the upload is still unacknowledged
    // has not taken the whole file.
    if (FData->Phase() == TFtpDataPhase::Draining && error == 0 && FData->KernelQueued() > 0) {
        FData->Sample();
        FData->Fail(426, "Transfer incomplete: " + std::to_string(FData->Taken()) + " of " +
                             std::to_string(FData->ToSend) + " bytes sent");
    }
    FData->SetPhase(TFtpDataPhase::Closed);
    FData->DataClosed = true;
    FData->CloseError = error;
    FData->CloseLocalFile();
    if (FData->Direction() == TFtpDataChannel::TDirection::Send && !FData->EndOfFile &&
        !FData->AbortRequested && error == 0)
        FData->Fail(426, "Transfer incomplete: " + std::to_string(FData->Taken()) + " of " +
                             std::to_string(FData->ToSend) + " bytes sent");
    CheckTransferDone();
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
    FDoneReported = false;
    FByteCount = 0;
    FSizeKnown = false;
    FData->Begin(TFtpDataChannel::TDirection::Send);

    bool cancel = false;
    TriggerReadyToTransmit(cancel);
    if (cancel) {
        EndWithFailure(426, "426 Transmit cancelled by application", TFailText::Local);
        return;
    }

    DataSocket()->OnSessionAvailable = [this](TCustomWSocket*, std::uint16_t e) { DataSocketSessionAvailable(e); };

    try {
        FData->OpenForRead(FLocalFileName, FResumeAt);
    } catch (const Exception&) {
        EndWithFailure(426, "426 Unable to open local file " + FLocalFileName, TFailText::Local);
        return;
    }

    if (!FPassive) {
        StateChange(ftpWaitingResponse);
        FNext = &TCustomFtpCli::Next1PutAsync;
        TakeEarlyDataConnection();
        SendCommand((FAppendMode ? "APPE " : "STOR ") + FHostFileName);
        return;
    }
    if (!ConnectPassive(426))
        return;
    // Busy from here on, so that no other request slips in while the data
    // connection is being made; a reply that comes meanwhile (a server
    // closing the session) fails the upload.
    StateChange(ftpWaitingResponse);
    FNext = &TCustomFtpCli::Next1PutAsync;
}

void TCustomFtpCli::Next1PutAsync()
{
    DisplayLastResponse();
    if (FStatusCode == 125 || FStatusCode == 150) {
        FData->ReplySeen = true;
        FNext = &TCustomFtpCli::Next2PutAsync;
        if (!FData->DataOpen || FData->StartTick != 0)
            return;
        if (FPassive) {
            FData->StartTick = Now();
            DataSocketPutDataSent(0);
        } else {
            PostMessage(Handle(), WM_FTP_SENDDATA, 0, 0);
        }
        return;
    }
    FNext = nullptr;
    FResumeAt = 0;
    EndWithFailure(ErrorValue(FStatusCode), FLastResponse, TFailText::Reply);
}

void TCustomFtpCli::WMFtpSendData()
{
    if (FData->StartTick != 0)
        return;
    FData->StartTick = Now();
    DataSocketPutDataSent(0);
}

void TCustomFtpCli::DataSocketPutDataSent(std::uint16_t error)
{
    if (!FData->HasLocalFile() || FData->Phase() != TFtpDataPhase::Open)
        return;
    if (FData->Sample())
        FByteCount = FData->Taken();
    if (!Progress())
        return;
    if (error != 0) {
        TriggerDisplay("! Error #" + std::to_string(error) + " sending data");
        FData->Fail(426, "Error sending data: " + WSocketErrorDesc(error));
        CloseDataSocket();
        return;
    }
    if (FData->EndOfFile || !FData->ReplySeen || !FData->DataOpen)
        return;
    std::vector<char>& block = FData->Block(std::size_t(UploadBlockSize));
    std::int64_t len = 0;
    try {
        len = FData->LocalFile()->Read(block.data(), UploadBlockSize);
    } catch (const Exception& e) {
        TriggerDisplay("! Error reading file");
        FData->Fail(426, "Error reading local file: " + Reason(e));
        CloseDataSocket();
        return;
    }
    if (len == 0) {
        FinishUpload();
        return;
    }
    FData->AddMoved(len);
    SendUploadBlock(len);
}

void TCustomFtpCli::FinishUpload()
{
    // Everything is in the socket. The connection is half-closed so the
    // server sees the end of the file, and kept until the peer has taken
    // the rest of the kernel's queue: that is what progress and the time-out
    // watch meanwhile. The server's own close (or the sampler) ends it.
    FData->EndOfFile = true;
    FData->CloseLocalFile();
    FData->SetPhase(TFtpDataPhase::Draining);
    DataSocket()->Shutdown(1);
    SampleUpload();
}

void TCustomFtpCli::SampleUpload()
{
    const TFtpDataPhase phase = FData->Phase();
    if (phase != TFtpDataPhase::Open && phase != TFtpDataPhase::Draining)
        return;
    // A progress event for every step the peer takes, also after the last
    // block went into the socket.
    if (FData->Sample()) {
        FByteCount = FData->Taken();
        if (!Progress())
            return;
    }
    if (phase == TFtpDataPhase::Draining)
        EndDrainedUpload();
}

void TCustomFtpCli::EndDrainedUpload()
{
    // Closed only once the peer has acknowledged every byte (and the end of
    // the file); a reset it sent instead fails the upload.
    if (FData->KernelQueued() > 0)
        return;
    if (const int error = FData->BrokenBy())
        FData->Fail(426, "Data connection failed: " + WSocketErrorDesc(error));
    CloseDataSocket();
}

void TCustomFtpCli::SendUploadBlock(std::int64_t len)
{
    // The socket's send queue hands the network one small block per call;
    // a whole upload block goes out in one call instead when nothing is
    // queued, and the queue keeps only what the network did not take. Flow
    // control is unchanged: the next block is read once this one is gone.
    TWSocket* const data = DataSocket();
    const char* const bytes = FData->Block(std::size_t(UploadBlockSize)).data();
    int sent = 0;
    if (data->State() == wsConnected && data->AllSent()) {
        sent = WSocket_send(data->HSocket(), bytes, int(len), 0);
        if (sent < 0) {
            const int error = WSocket_WSAGetLastError();
            if (error != WSAEWOULDBLOCK) {
                TriggerDisplay("! Error #" + std::to_string(error) + " sending data");
                FData->Fail(426, "Error sending data: " + WSocketErrorDesc(error));
                CloseDataSocket();
                return;
            }
            sent = 0;
        }
    }
    if (sent < len) {
        data->Send(bytes + sent, int(len - sent));
        return;
    }
    PostMessage(Handle(), WM_FTP_SENDNEXT, 0, 0);
}

void TCustomFtpCli::Next2PutAsync()
{
    DisplayLastResponse();
    if (FStatusCode == 226 || FStatusCode == 250) {
        FData->ServerDone = true;
        // The server has read to the end of the file: nothing is left to
        // wait for on a half-closed connection.
        if (FData->Phase() == TFtpDataPhase::Draining)
            EndDrainedUpload();
        CheckTransferDone();
        return;
    }
    TriggerDisplay("! STOR Failed");
    if (FData->Failed()) {
        EndWithFailure(FData->FailCode(), FData->FailMessage(), TFailText::Local);
        return;
    }
    EndWithFailure(ErrorValue(FStatusCode), FLastResponse, TFailText::Reply);
}

// --- completion ----------------------------------------------------------------------

void TCustomFtpCli::CheckTransferDone()
{
    // A request that already ended (aborted, failed) keeps its result.
    if (FDoneReported)
        return;
    if (!FData->ReadyToComplete())
        return;
    if (FData->ServerFailCode != 0) {
        // Replies that came while the data connection drained do not
        // replace the one that failed the transfer.
        FStatusCode = FData->ServerFailCode;
        FLastResponse = FData->ServerFailLine;
        EndWithFailure(FData->ServerFailCode, FData->ServerFailLine, TFailText::Reply);
        return;
    }
    const bool upload = FData->Direction() == TFtpDataChannel::TDirection::Send;
    if (upload && FData->EndOfFile && !FData->Failed())
        FData->AllTaken();
    FByteCount = FData->Taken();
    TransfertStats();

    if (!FData->Failed() && FData->CloseError != 0 && !FData->AbortRequested)
        FData->Fail(FData->CloseError, "Data connection failed: " + WSocketErrorDesc(FData->CloseError));
    if (!FData->Failed() && !upload && FData->Announced >= 0 && !FData->AbortRequested) {
        // A server that announced the size and sent less has not delivered
        // the file, whatever its reply says. A restarted download may be
        // announced either whole or from the restart offset.
        const std::int64_t received = FData->Moved();
        const std::int64_t expected = FData->Announced;
        if (received < expected && received + FResumeAt < expected)
            FData->Fail(426, "Transfer incomplete: " + std::to_string(received + FResumeAt) + " of " +
                                 std::to_string(expected) + " bytes received");
    }
    FResumeAt = 0;
    if (FData->Failed()) {
        EndWithFailure(FData->FailCode(), FData->FailMessage(), TFailText::Local);
        return;
    }
    if (FData->AbortRequested) {
        // A transfer cut short by the application has not succeeded, even
        // when the server acknowledged what it had sent or received.
        EndWithFailure(426, "426 Transfer aborted by the application", TFailText::IfNone);
        return;
    }
    FData->End();
    FRequestResult = 0;
    TriggerRequestDone(0);
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
    FData->AbortRequested = true;
    CloseDataSocket();
    return false;
}

void TCustomFtpCli::TransfertStats()
{
    FData->StopTick = Now();
    const std::int64_t elapsed = FData->StartTick == 0 ? 0 : FData->StopTick - FData->StartTick;
    std::string line = "! " + std::to_string(FByteCount) + " bytes received/sent in " +
                       std::to_string(elapsed / 1000) + " seconds";
    if (elapsed > 0) {
        const std::int64_t rate = FByteCount <= 32767 ? FByteCount * 1000 / elapsed : (FByteCount / elapsed) * 1000;
        line += " (" + std::to_string(rate) + " Bytes/sec)";
    }
    TriggerDisplay(line);
}
