// The data connection: PORT (listening socket) or PASV (outgoing
// connection), REST, accepting and adopting the data connection, and the one
// completion every transfer shares. A transfer completes only when both the
// server's closing reply and the close of the data connection have been
// seen, in whichever order; one that did not move every byte fails, whatever
// the closing reply says. Retrievals and uploads are in ftpretrieve.cpp and
// ftpupload.cpp.

#include "ftp/customftpcli.h"

#include "net/wsocketaddress.h"
#include "platform/tickcount.h"

#include <algorithm>

namespace {

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

std::int64_t TCustomFtpCli::TransferTick()
{
    // Never 0: a zero StartTick means "sending has not started yet".
    return std::max<std::int64_t>(1, GetTickCount64());
}

std::string TCustomFtpCli::LocalFailureReason(const Exception& e)
{
    // The reason of a local file error without the operation in front of it.
    const std::string& m = e.Message();
    const std::size_t colon = m.rfind(": ");
    return colon == std::string::npos ? m : m.substr(colon + 2);
}

// --- PORT / PASV ---------------------------------------------------------------

void TCustomFtpCli::PortAsync()
{
    if (!CheckReady())
        return;
    if (!FControlConnected) {
        HandleError("FTP component not connected");
        return;
    }

    sockaddr_storage controlLocal{};
    int len = sizeof(controlLocal);
    WSocket_getsockname(FControlSocket->HSocket(), reinterpret_cast<sockaddr*>(&controlLocal), &len);

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
            data->SetAddr(WSocketAddrText(reinterpret_cast<const sockaddr*>(&controlLocal)));
            // The notification of a connection is given once; remember one
            // that comes before the transfer step is there to take it.
            data->OnSessionAvailable = [this](TCustomWSocket*, std::uint16_t) { FEarlyDataConnection = true; };
            data->SetLingerOnOff(wsLingerOn);
            data->SetLingerTimeout(10);
            data->Listen();
            FData->SetPhase(TFtpDataPhase::Listening);
            sockaddr_storage local{};
            int localLen = sizeof(local);
            WSocket_getsockname(data->HSocket(), reinterpret_cast<sockaddr*>(&local), &localLen);
            dataPort = local.ss_family == AF_INET6 ? WSocket_ntohs(reinterpret_cast<sockaddr_in6&>(local).sin6_port)
                                                   : WSocket_ntohs(reinterpret_cast<sockaddr_in&>(local).sin_port);
        }
    } catch (const Exception& e) {
        // A data socket that cannot listen fails the request instead of
        // leaving a chain without a completion.
        FDoneReported = false;
        EndWithFailure(550, "550 " + ExceptionClassName(e) + ": " + e.Message(), TFailText::Reply);
        return;
    }

    FDataLocal = controlLocal;
    FDataPort = dataPort;
    FPortCommand = DataPortCommand(controlLocal, dataPort);
    FPortSavedError = FErrorMessage;
    FByteCount = 0;
    FLastFct = ftpFctPort;
    ExecAsync(ftpPortAsync, FPortCommand, {200, 227, 229}, &TCustomFtpCli::PortReplyDone);
}

bool TCustomFtpCli::PassivePortFromReply(std::string& port)
{
    // The reply is "227 text (h1,h2,h3,h4,p1,p2)"; some servers leave the
    // parentheses out. The address numbers are ignored: the data connection
    // goes to the server of the control connection.
    const std::string& r = FPasvReply;
    if (r.compare(0, 3, "229") == 0)
        return ExtendedPassivePort(r, port);
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
        data->SetAddr(FControlSocket->GetPeerAddr());
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
    sockaddr_storage server{};
    int serverLen = sizeof(server);
    const bool knowServer = WSocket_getpeername(FControlSocket->HSocket(), reinterpret_cast<sockaddr*>(&server),
                                                &serverLen) == 0;
    for (;;) {
        sockaddr_storage peer{};
        int peerLen = sizeof(peer);
        const SOCKET accepted = WSocket_accept(DataSocket()->HSocket(), reinterpret_cast<sockaddr*>(&peer), &peerLen);
        if (accepted == INVALID_SOCKET)
            return INVALID_SOCKET;
        const std::string peerText = WSocketAddrText(reinterpret_cast<const sockaddr*>(&peer));
        if (knowServer && peerText == WSocketAddrText(reinterpret_cast<const sockaddr*>(&server)))
            return accepted;
        WSocket_closesocket(accepted);
        TriggerDisplay("! Refused data connection from " + peerText);
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
    StartDataTls();
    if (FData->Direction() != TFtpDataChannel::TDirection::Send) {
        FData->StartTick = TransferTick();
        return;
    }
    if (FData->ReplySeen && FData->StartTick == 0)
        PostMessage(Handle(), WM_FTP_SENDDATA, 0, 0);
}

void TCustomFtpCli::DataSocketSessionConnected(std::uint16_t error)
{
    SetDataHandlers();
    FData->StartTick = TransferTick();
    if (error != 0) {
        FData->SetPhase(TFtpDataPhase::Closed);
        EndWithFailure(550, "Unable to establish data connection, error #" + std::to_string(error), TFailText::Reply);
        return;
    }
    FData->SetPhase(TFtpDataPhase::Open);
    FData->DataOpen = true;
    if (FData->Direction() != TFtpDataChannel::TDirection::Send) {
        StartDataTls();
        return;
    }
    // A passive upload sends its command once the connection is there (and
    // TLS starts after it: some servers drop a handshake that comes first).
    FData->StartTick = 0;
    StateChange(ftpWaitingResponse);
    FNext = &TCustomFtpCli::Next1PutAsync;
    SendCommand((FAppendMode ? "APPE " : "STOR ") + FHostFileName);
    if (!FDoneReported)
        StartDataTls();
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
    if (FRequestType != ftpRestPutAsync && FRequestType != ftpRestartPutAsync && !FOptions.Contains(ftpNoAutoResumeAt))
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
    FData->StopTick = TransferTick();
    const std::int64_t elapsed = FData->StartTick == 0 ? 0 : FData->StopTick - FData->StartTick;
    std::string line = "! " + std::to_string(FByteCount) + " bytes received/sent in " + std::to_string(elapsed / 1000) +
                       " seconds";
    if (elapsed > 0) {
        const std::int64_t rate = FByteCount <= 32767 ? FByteCount * 1000 / elapsed : (FByteCount / elapsed) * 1000;
        line += " (" + std::to_string(rate) + " Bytes/sec)";
    }
    TriggerDisplay(line);
}
