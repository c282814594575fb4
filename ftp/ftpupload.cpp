// Uploads: STOR and APPE, sent block by block; progress follows what the
// peer has taken.

#include "ftp/customftpcli.h"

namespace {

// A TLS connection encrypts each block in the socket: the file read, the
// encryption and the copy into the kernel each pass over the block. A
// block of this size stays in the processor's cache between the three,
// which saves more than the extra trips through the event loop cost.
constexpr int TlsUploadBlockSize = 64 * 1024;

int UploadBlockSizeFor(TWSocket* data)
{
    return data->SslState() == sslNone ? TCustomFtpCli::UploadBlockSize : TlsUploadBlockSize;
}

// Bytes offered to the kernel per call when it sends straight from the file:
// it takes what fits in the socket's buffer and the rest waits for the next
// write notification, so a large offer costs nothing and saves calls.
constexpr int TransmitFileBlockSize = 1024 * 1024;

// A clear connection whose send queue is empty can take the file's bytes
// straight from the file; TLS encrypts in the socket, and queued bytes must
// go first.
bool CanBypassQueue(TWSocket* data)
{
    return data->State() == wsConnected && data->AllSent() && data->SslState() == sslNone;
}

} // namespace

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
        SendCommand((FAppendMode ? "APPE " : "STOR ") + FHostFileName);
        // A connection the server made early is taken once the command is out.
        if (!FDoneReported)
            TakeEarlyDataConnection();
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
            FData->StartTick = TransferTick();
            DataSocketPutDataSent(0);
        } else {
            PostMessage(Handle(), WM_FTP_SENDDATA, 0, 0);
        }
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

void TCustomFtpCli::WMFtpSendData()
{
    if (FData->StartTick != 0)
        return;
    FData->StartTick = TransferTick();
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
    if (!FData->CopyThroughBlocks && TransmitFromFile())
        return;
    const int blockSize = UploadBlockSizeFor(DataSocket());
    std::vector<char>& block = FData->Block(std::size_t(blockSize));
    std::int64_t len = 0;
    try {
        len = FData->LocalFile()->Read(block.data(), blockSize);
    } catch (const Exception& e) {
        TriggerDisplay("! Error reading file");
        FData->Fail(426, "Error reading local file: " + LocalFailureReason(e));
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

bool TCustomFtpCli::TransmitFromFile()
{
    // The kernel copies from the file's pages into the connection: no pass
    // through a block here, which saves a copy of every byte uploaded.
    TWSocket* const data = DataSocket();
    if (!CanBypassQueue(data)) {
        // TLS encrypts in the socket, and bytes already queued go first:
        // this transfer goes through blocks from here on.
        FData->CopyThroughBlocks = true;
        return false;
    }
    const int sent = WSocket_TransmitFile(data->HSocket(), FData->LocalFile()->Descriptor(), TransmitFileBlockSize);
    if (sent > 0) {
        FData->AddMoved(sent);
        PostMessage(Handle(), WM_FTP_SENDNEXT, 0, 0);
        return true;
    }
    if (sent == 0) {
        FinishUpload();
        return true;
    }
    if (WSocket_WSAGetLastError() == WSAEWOULDBLOCK)
        return true; // the write notification comes back here
    // Anything else goes the read-and-send way from here on: a file system
    // that cannot do this works there, and a real fault of the file or the
    // connection shows there with its own wording.
    FData->CopyThroughBlocks = true;
    return false;
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
    if (FData->KernelQueued() > 0 || !DataSocket()->AllSent())
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
    const char* const bytes = FData->Block(std::size_t(UploadBlockSizeFor(data))).data();
    int sent = 0;
    // A TLS connection encrypts in the socket: no bypass there.
    if (CanBypassQueue(data)) {
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
    if (const std::string tls = DataTlsReplyFailureText(); !tls.empty()) {
        EndWithFailure(ErrorValue(FStatusCode), tls, TFailText::Local);
        return;
    }
    if (FData->Failed()) {
        EndWithFailure(FData->FailCode(), FData->FailMessage(), TFailText::Local);
        return;
    }
    EndWithFailure(ErrorValue(FStatusCode), FLastResponse, TFailText::Reply);
}
