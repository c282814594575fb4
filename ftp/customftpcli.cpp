#include "ftp/customftpcli.h"

#include "net/wsocketerror.h"
#include "platform/tickcount.h"

#include "net/esocketexception.h"

TCustomFtpCli::TCustomFtpCli()
{
    FWindow = std::make_unique<THiddenWindow>([this](TMessage& msg) { WndProc(msg); });
    FControlSocket = std::make_unique<TWSocket>();
    FControlSocket->OnSessionConnected = [this](TCustomWSocket*, std::uint16_t error) {
        ControlSocketSessionConnected(error);
    };
    FControlSocket->OnDataAvailable = [this](TCustomWSocket*, std::uint16_t error) {
        ControlSocketDataAvailable(error);
    };
    FControlSocket->OnSessionClosed = [this](TCustomWSocket*, std::uint16_t error) {
        ControlSocketSessionClosed(error);
    };
    FControlSocket->OnDnsLookupDone = [this](TCustomWSocket*, std::uint16_t error) {
        ControlSocketDnsLookupDone(error);
    };
    SetTlsHandlers();
    FData = std::make_unique<TFtpDataChannel>();
    FData->OnSample = [this] { SampleUpload(); };
}

TCustomFtpCli::~TCustomFtpCli()
{
    // The window goes first so that no late message reaches a half-destroyed
    // object; the sockets must not call back into us while they close.
    FWindow->SetHandler({});
    FWindow.reset();
    FData->OnSample = nullptr;
    FData->End();
    for (TWSocket* s : {FControlSocket.get(), DataSocket()}) {
        s->OnSslHandshakeDone = nullptr;
        s->OnSslVerifyPeer = nullptr;
        s->OnSessionConnected = nullptr;
        s->OnSessionAvailable = nullptr;
        s->OnDataAvailable = nullptr;
        s->OnDataSent = nullptr;
        s->OnSessionClosed = nullptr;
        s->OnDnsLookupDone = nullptr;
    }
    FData.reset();
    FControlSocket.reset();
}

// --- properties ---------------------------------------------------------------

TFtpShareMode TCustomFtpCli::ShareMode() const
{
    switch (FShareFlags) {
    case 0x0000:
        return ftpShareCompat;
    case 0x0020:
        return ftpShareDenyWrite;
    case 0x0030:
        return ftpShareDenyRead;
    case 0x0040:
        return ftpShareDenyNone;
    default:
        return ftpShareExclusive;
    }
}

void TCustomFtpCli::SetShareMode(TFtpShareMode v)
{
    switch (v) {
    case ftpShareCompat:
        FShareFlags = 0x0000;
        break;
    case ftpShareDenyWrite:
        FShareFlags = 0x0020;
        break;
    case ftpShareDenyRead:
        FShareFlags = 0x0030;
        break;
    case ftpShareDenyNone:
        FShareFlags = 0x0040;
        break;
    default:
        FShareFlags = 0x0010;
        break;
    }
}

void TCustomFtpCli::SetDisplayFileMode(TFtpDisplayFileMode v)
{
    FDisplayFileMode = unsigned(v) > 1 ? ftpLineByLine : v;
}

bool TCustomFtpCli::GetConnected() const { return FControlSocket && FControlSocket->State() != wsClosed; }

// --- small operations ----------------------------------------------------------

void TCustomFtpCli::StateChange(TFtpState newState)
{
    if (FState == newState)
        return;
    FState = newState;
    TriggerStateChange();
}

void TCustomFtpCli::TriggerStateChange()
{
    if (OnStateChange)
        OnStateChange(this);
}

void TCustomFtpCli::TriggerDisplay(const std::string& msg)
{
    if (!OnDisplay)
        return;
    std::string text = msg;
    OnDisplay(this, text);
}

void TCustomFtpCli::TriggerDisplayFile(const std::string& msg)
{
    if (!OnDisplayFile)
        return;
    std::string text = msg;
    OnDisplayFile(this, text);
}

void TCustomFtpCli::TriggerError(const std::string& msg)
{
    if (!OnError)
        return;
    std::string text = msg;
    OnError(this, text);
}

void TCustomFtpCli::TriggerReadyToTransmit(bool& cancel)
{
    if (OnReadyToTransmit)
        OnReadyToTransmit(this, cancel);
}

void TCustomFtpCli::DisplayLastResponse() { TriggerDisplay("< " + FromWire(FLastResponse)); }

void TCustomFtpCli::SetErrorMessage()
{
    if (FErrorMessage.empty())
        FErrorMessage = FLastResponse;
}

void TCustomFtpCli::HandleError(const std::string& msg)
{
    FRefusal = msg;
    if (OnError) {
        TriggerError(msg);
        return;
    }
    throw FtpException(msg);
}

bool TCustomFtpCli::CheckReady()
{
    if (FState == ftpReady || FState == ftpInternalReady)
        return true;
    HandleError("FTP component not ready");
    return false;
}

namespace {

bool HoldsLineBreakOrNul(const std::string& s)
{
    return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

bool IsPassCommand(const std::string& cmd)
{
    if (cmd.size() < 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        const char c = char(cmd[std::size_t(i)] & ~0x20);
        if (c != "PASS"[i])
            return false;
    }
    return cmd.size() == 4 || cmd[4] == ' ';
}

} // namespace

void TCustomFtpCli::SendCommand(const std::string& cmd)
{
    std::string text = cmd;
    if (OnCommand)
        OnCommand(this, text);

    // A line break inside the text would smuggle a second command onto the
    // control connection (a hostile file name, a pasted name): refuse it and
    // end the request in progress instead.
    if (HoldsLineBreakOrNul(text)) {
        const std::string refusal = "501 Command refused: it contains a CR, LF or NUL character";
        TriggerDisplay("! " + refusal);
        EndWithFailure(501, refusal, TFailText::Reply);
        return;
    }

    // Names go out in the connection's encoding; one it cannot write ends
    // the request instead of reaching the server as another name.
    std::string wire;
    std::string why;
    if (!ToWire(text, wire, why)) {
        const std::string refusal = "501 Command refused: " + why;
        TriggerDisplay("! " + refusal);
        EndWithFailure(501, refusal, TFailText::Reply);
        return;
    }

    // The log (and whoever reads it over the user's shoulder) never sees
    // the password.
    if (IsPassCommand(text))
        TriggerDisplay("> " + text.substr(0, 4) + " ********");
    else
        TriggerDisplay("> " + text);

    if (FControlSocket->State() == wsConnected)
        FControlSocket->SendStr(wire + "\r\n");
}

// --- request engine -------------------------------------------------------------

void TCustomFtpCli::ExecAsync(TFtpRequest rqType, const std::string& cmd,
                              std::initializer_list<std::uint16_t> okResponses, TFtpNextProc doneAsync)
{
    if (!CheckReady())
        return;
    if (!FControlConnected) {
        HandleError("FTP component not connected");
        return;
    }
    if (!FHighLevelMode)
        FRequestType = rqType;

    std::size_t i = 0;
    for (const std::uint16_t code : okResponses) {
        if (i + 1 >= FAcceptedCodes.size())
            break;
        FAcceptedCodes[i++] = code;
    }
    FAcceptedCodes[i] = 0;

    FDoneReported = false;
    FNext = &TCustomFtpCli::NextExecAsync;
    FDoneAsync = doneAsync;
    StateChange(ftpWaitingResponse);
    SendCommand(cmd);
}

bool TCustomFtpCli::IsFinalLine() const
{
    if (FLastResponse.empty() || FLastResponse[0] < '0' || FLastResponse[0] > '9')
        return false;
    std::size_t pos = 0;
    ReadNumber(FLastResponse, pos);
    return pos >= FLastResponse.size() || FLastResponse[pos] != '-';
}

void TCustomFtpCli::NextExecAsync()
{
    DisplayLastResponse();
    if (!IsFinalLine())
        return;

    if (FAcceptedCodes[0] == 0) {
        if (FStatusCode < 500) {
            FRequestResult = 0;
        } else {
            FRequestResult = FStatusCode;
            SetErrorMessage();
        }
    } else {
        FRequestResult = FStatusCode;
        for (const std::uint16_t code : FAcceptedCodes) {
            if (code == 0)
                break;
            if (code == FStatusCode) {
                FRequestResult = 0;
                break;
            }
        }
        if (FRequestResult != 0)
            SetErrorMessage();
    }

    if (FPassive && FStatusCode == 227)
        FPasvReply = FLastResponse;

    ExtractMoreResults();

    if (FDoneAsync) {
        (this->*FDoneAsync)();
        return;
    }
    TriggerRequestDone(ErrorValue(FRequestResult));
}

std::uint16_t TCustomFtpCli::ErrorValue(std::int64_t result)
{
    if (result == 0)
        return 0;
    if (result > 0 && result <= 0xFFFF)
        return std::uint16_t(result);
    return 500;
}

void TCustomFtpCli::TriggerRequestDone(std::uint16_t error)
{
    if (FDoneReported)
        return;
    FDoneReported = true;

    if (error == 0 && FChainStep) {
        if (FState != ftpAbort)
            StateChange(ftpInternalReady);
        (this->*FChainStep)();
        return;
    }

    StateChange(ftpReady);
    if (DataSocket()->State() != wsClosed)
        CloseDataSocket();
    FData->End();
    if (FHighLevelMode && FSavedStatusCode >= 0) {
        FLastResponse = FSavedResponse;
        FStatusCode = FSavedStatusCode;
    }
    FHighLevelMode = false;
    FChainStep = nullptr;
    FPendingFcts.Clear();
    if (PostMessage(Handle(), WM_FTP_REQUEST_DONE, 0, LPARAM(error))) {
        ++FDonePending;
        ++FDonePosted;
    }
}

void TCustomFtpCli::WndProc(TMessage& msg)
{
    try {
        switch (msg.Msg) {
        case WM_FTP_REQUEST_DONE:
            if (FDonePending > 0)
                --FDonePending;
            if (OnRequestDone)
                OnRequestDone(this, FRequestType, std::uint16_t(msg.LParam));
            break;
        case WM_FTP_SENDDATA:
            WMFtpSendData();
            break;
        case WM_FTP_SENDNEXT:
            DataSocketPutDataSent(0);
            break;
        default:
            break;
        }
    } catch (const Exception& e) {
        HandleBackGroundException(e);
    }
}

void TCustomFtpCli::HandleBackGroundException(const std::exception& e)
{
    bool canClose = true;
    if (!OnBgException)
        return;
    try {
        OnBgException(this, e, canClose);
    } catch (...) {
        // A failing handler must not take the message loop down with it.
    }
}

// --- connecting and closing ------------------------------------------------------

void TCustomFtpCli::OpenAsync()
{
    if (!CheckReady())
        return;
    if (FControlConnected) {
        HandleError("FTP component already connected");
        return;
    }
    if (!FHighLevelMode)
        FRequestType = ftpOpenAsync;
    FLastFct = ftpFctOpen;
    FDoneReported = false;
    FReplyLen = 0;
    FMultiLineCode = 0;
    FRequestResult = 0;
    FDnsResult.clear();
    ResetSessionFeatures();
    FClosingOnPurpose = false;
    FControlCloseHandled = false;
    FDiscardReplies = false;
    PrepareControlTls();
    StateChange(ftpDnsLookup);
    try {
        FControlSocket->DnsLookup(FHostName);
    } catch (const Exception& e) {
        // A name the resolver refuses outright (an empty one) is a refusal
        // of the request, not a request left hanging in the lookup state.
        if (FState == ftpDnsLookup)
            StateChange(ftpReady);
        HandleError(e.Message());
    }
}

std::string ExceptionClassName(const Exception& e)
{
    if (dynamic_cast<const ESocketException*>(&e))
        return "ESocketException";
    if (dynamic_cast<const FtpException*>(&e))
        return "FtpException";
    return "Exception";
}

namespace {

std::string SocketFailureLine(std::uint16_t error)
{
    return "500 " + WSocketErrorDesc(error) + " (Winsock error #" + std::to_string(error) + ")";
}

} // namespace

void TCustomFtpCli::ControlSocketDnsLookupDone(std::uint16_t error)
{
    // An abort cancels the lookup; the open request then ends without a
    // completion of its own.
    if (FState == ftpAbort || FState != ftpDnsLookup)
        return;
    if (error != 0) {
        EndWithFailure(error, SocketFailureLine(error), TFailText::Reply, 500);
        return;
    }
    FDnsResult = FControlSocket->DnsResult();
    try {
        FControlSocket->SetAddr(FDnsResult);
        FControlSocket->SetProto("tcp");
        FControlSocket->SetPort(ControlPort());
        StateChange(ftpWaitingBanner);
        FControlSocket->Connect();
    } catch (const Exception& e) {
        EndWithFailure(500, "500 " + ExceptionClassName(e) + ": " + e.Message(), TFailText::Reply);
    }
}

void TCustomFtpCli::ControlSocketSessionConnected(std::uint16_t error)
{
    if (error == 0) {
        FControlConnected = true;
        return;
    }
    FChainStep = nullptr;
    const std::string tls = TlsFailureText(FControlSocket.get(), error);
    EndWithFailure(error, tls.empty() ? SocketFailureLine(error) : tls, TFailText::Reply, 500);
    FClosingOnPurpose = true;
    FControlSocket->Close();
    StateChange(ftpReady);
}

void TCustomFtpCli::ControlSocketSessionClosed(std::uint16_t error)
{
    if (FControlCloseHandled)
        return;
    FControlCloseHandled = true;

    // A request still waiting for its reply when the server drops the
    // connection has failed; it must not be reported as a success.
    const bool requestOpen = !FDoneReported && !FClosingOnPurpose &&
                             (FState == ftpWaitingResponse || FState == ftpWaitingBanner);
    if (requestOpen && FRequestResult == 0) {
        const std::string tls = TlsFailureText(FControlSocket.get(), error);
        FLastResponse = tls.empty() ? "421 Connection closed by the server" : "421 " + tls;
        FStatusCode = 421;
        SetErrorMessage();
        FRequestResult = 421;
    }
    FClosingOnPurpose = false;

    if (FControlConnected) {
        FControlConnected = false;
        if (FState != ftpAbort)
            StateChange(ftpNotConnected);
        if (OnSessionClosed)
            OnSessionClosed(this, error);
    }
    if (FState != ftpAbort)
        StateChange(ftpInternalReady);
    TriggerRequestDone(ErrorValue(FRequestResult));
}

void TCustomFtpCli::QuitDone() { CloseControlLater(true); }

void TCustomFtpCli::CloseControlLater(bool onPurpose)
{
    // This runs inside the control socket's own data event, possibly while
    // it reports the server's close; closing it there would leave the socket
    // unable to report the close of the next connection. The close is made
    // from the message loop instead, and reports completion as usual.
    if (onPurpose)
        FClosingOnPurpose = true;
    FDiscardReplies = true;
    FControlSocket->CloseDelayed();
}

void TCustomFtpCli::AbortAsync()
{
    const bool wasLookup = FState == ftpDnsLookup;
    // An open request that is cut off has not succeeded.
    if (FState != ftpReady && FState != ftpInternalReady && !FDoneReported) {
        FRequestResult = 426;
        if (FHighLevelMode || FErrorMessage.empty())
            FErrorMessage = "426 Operation aborted.";
    }
    StateChange(ftpAbort);
    FData->CloseLocalFile();
    if (wasLookup)
        FControlSocket->CancelDnsLookup();
    if (FControlSocket->State() != wsClosed)
        FControlSocket->Close();
    if (DataSocket()->State() != wsClosed)
        CloseDataSocket();
    FData->End();
    FControlConnected = false;
    // Nothing of an interrupted chain may run after the abort: a later
    // request starts from a clean slate.
    FHighLevelMode = false;
    FChainStep = nullptr;
    FPendingFcts.Clear();
    FMultiLineCode = 0;
    StateChange(ftpReady);
}

void TCustomFtpCli::EndWithFailure(std::uint16_t code, const std::string& text, TFailText how, int status)
{
    // A socket error completes with its own number; the reply code the
    // caller reads for it is the one given.
    FStatusCode = status > 0 ? status : code;
    switch (how) {
    case TFailText::Reply:
        FLastResponse = text;
        SetErrorMessage();
        break;
    case TFailText::Local:
        FErrorMessage = text;
        TriggerDisplay("! " + text);
        break;
    case TFailText::IfNone:
        if (FErrorMessage.empty())
            FErrorMessage = text;
        break;
    }
    FNext = nullptr;
    FRequestResult = code;
    if (DataSocket()->State() != wsClosed)
        CloseDataSocket();
    FData->End();
    TriggerRequestDone(code);
}
