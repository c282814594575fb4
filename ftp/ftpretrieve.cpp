// Retrievals: RETR, LIST and NLST into a local file or OnDisplayFile.

#include "ftp/customftpcli.h"

namespace {

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

} // namespace

// --- retrieval -------------------------------------------------------------------

void TCustomFtpCli::ExecGetAsync() { ExecTransferAsync(ftpGetAsync); }

void TCustomFtpCli::ExecDirAsync() { ExecTransferAsync(ftpDirAsync); }

void TCustomFtpCli::ExecLsAsync() { ExecTransferAsync(ftpLsAsync); }

void TCustomFtpCli::ExecTransferAsync(TFtpRequest rqType)
{
    const std::string word = rqType == ftpDirAsync    ? "LIST"
                             : rqType == ftpLsAsync   ? "NLST"
                             : rqType == ftpMlsdAsync ? "MLSD"
                                                      : "RETR";
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
    SendCommand(TransferCommandLine());
    // A connection the server made early is taken once the command is out.
    if (!FDoneReported)
        TakeEarlyDataConnection();
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
    if (const std::string tls = DataTlsReplyFailureText(); !tls.empty()) {
        EndWithFailure(ErrorValue(FStatusCode), tls, TFailText::Local);
        return;
    }
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
    if (const std::string tls = DataTlsReplyFailureText(); !tls.empty()) {
        EndWithFailure(ErrorValue(FStatusCode), tls, TFailText::Local);
        return;
    }
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
            if (FDataTls) {
                // TLS refused the records (or the connection under them).
                FData->Fail(426, DataTlsFailureText(WSocketErrSsl));
                FData->TlsStage = TFtpDataChannel::TTlsStage::Failed;
            } else {
                FData->Fail(426, "Error receiving data: " + WSocketErrorDesc(error));
            }
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
            FData->Fail(426, "Error writing local file: " + LocalFailureReason(e));
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
    CheckDataTlsClose(error);
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
    if (FData->Direction() == TFtpDataChannel::TDirection::Send && !FData->EndOfFile && !FData->AbortRequested &&
        error == 0)
        FData->Fail(426, "Transfer incomplete: " + std::to_string(FData->Taken()) + " of " +
                             std::to_string(FData->ToSend) + " bytes sent");
    CheckTransferDone();
}
