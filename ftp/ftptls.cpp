// FTPS: AUTH TLS on the control connection (or TLS from the first byte),
// PBSZ/PROT, TLS on the data connections with the control connection's
// session resumed, and the decision about certificates that failed
// verification.
//
// Encryption that is required is never given up: a refusal of AUTH TLS ends
// the session before the user name or the password is sent. Servers that
// check session reuse (vsftpd require_ssl_reuse) refuse a data connection
// that did not resume the control connection's session: that proves the
// data connection comes from the client that logged in.

#include "ftp/customftpcli.h"

#include <algorithm>
#include <cctype>

namespace {

bool IsTlsError(std::uint16_t error) { return error == WSocketErrSsl || error == WSocketErrSslCertificate; }

bool RefusesDataConnection(int code, const std::string& reply)
{
    if (code == 425 || code == 450 || code == 522 || code == 534)
        return true;
    std::string lower = reply;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return lower.find("reuse") != std::string::npos || lower.find("resum") != std::string::npos;
}

} // namespace

// --- settings ------------------------------------------------------------------

bool TCustomFtpCli::ControlTlsActive() const { return FControlSocket && FControlSocket->SslState() == sslEstablished; }

std::string TCustomFtpCli::ControlPort() const
{
    if (FEncryption == TFtpEncryption::Implicit && (FPort.empty() || FPort == "ftp"))
        return "990";
    return FPort;
}

void TCustomFtpCli::SetTlsHandlers()
{
    FControlSocket->OnSslHandshakeDone = [this](TCustomWSocket*, std::uint16_t error) {
        ControlSslHandshakeDone(error);
    };
    FControlSocket->OnSslVerifyPeer = [this](TCustomWSocket*, const TSslCertInfo& cert, bool& accept) {
        ControlVerifyPeer(cert, accept);
    };
    FControlSocket->OnSslError = [this](TCustomWSocket*, std::int32_t error, const std::string&) {
        ControlSslError(std::uint16_t(error));
    };
}

void TCustomFtpCli::PrepareControlTls()
{
    FAuthHandshake = false;
    FDataProtected = false;
    FDataTls = false;
    FTlsAcceptedFingerprint.clear();
    FDataResumeSession.reset();
    FDataSessionBefore.reset();
    TWSocket* const s = FControlSocket.get();
    s->SetSslEnable(FEncryption == TFtpEncryption::Implicit);
    // The certificate must name the host the user asked for, not the
    // address it resolved to.
    s->SetSslServerName(FHostName);
    s->SetSslCAFile(FSslCAFile);
    s->SetSslVerifyPeer(FSslVerifyPeer);
    s->SetSslMinVersion(FSslMinVersion);
    s->SetSslMaxVersion(FSslMaxVersion);
    s->SetSslSession({});
}

std::string TCustomFtpCli::TlsFailureText(TWSocket* socket, std::uint16_t error) const
{
    if (!IsTlsError(error))
        return {};
    const std::string& why = socket->SslErrorText();
    if (error == WSocketErrSslCertificate)
        return "TLS error: " + (why.empty() ? std::string("certificate rejected") : why);
    return "TLS error: " + (why.empty() ? std::string("negotiation failed") : why);
}

// --- AUTH TLS ------------------------------------------------------------------

void TCustomFtpCli::AuthAsync()
{
    FLastFct = ftpFctAuth;
    if (ControlTlsActive()) {
        HandleError("TLS is already active on the control connection");
        return;
    }
    ExecAsync(ftpAuthAsync, "AUTH TLS", {234}, &TCustomFtpCli::AuthDone);
}

void TCustomFtpCli::AuthDone()
{
    if (FRequestResult == 0) {
        // The server waits for the handshake; nothing else is sent before it.
        FAuthHandshake = true;
        try {
            FControlSocket->StartTLS();
        } catch (const Exception& e) {
            FAuthHandshake = false;
            FailControlTls(500, "TLS error: " + e.Message());
            CloseControlLater(true);
        }
        return;
    }
    const bool refused = FStatusCode >= 400 && FStatusCode <= 599;
    if (refused && FEncryption == TFtpEncryption::ExplicitIfOffered) {
        TriggerDisplay("! The server refused AUTH TLS: continuing WITHOUT encryption");
        if (FErrorMessage == FLastResponse)
            FErrorMessage.clear();
        FRequestResult = 0;
        TriggerRequestDone(0);
        return;
    }
    // Required TLS, or an answer that is no refusal at all (a "230 logged
    // in" to AUTH): the session ends here, before USER and PASS.
    const std::string reply = FLastResponse;
    const std::uint16_t code = refused ? ErrorValue(FStatusCode) : 534;
    FailControlTls(code, "TLS required, but the server answered AUTH TLS with \"" + reply +
                             "\": session closed, user name and password not sent");
    CloseControlLater(true);
}

void TCustomFtpCli::FailControlTls(std::uint16_t code, const std::string& text)
{
    // The request ends when the control connection has closed (the close
    // reports the result), so that the caller finds the client ready and
    // disconnected, never logged in over clear text.
    FNext = nullptr;
    FChainStep = nullptr;
    FPendingFcts.Clear();
    FErrorMessage = text;
    FLastResponse = text;
    FStatusCode = code < 600 ? code : 500;
    FRequestResult = code;
    TriggerDisplay("! " + text);
}

void TCustomFtpCli::ControlSslHandshakeDone(std::uint16_t error)
{
    if (error == 0) {
        FTlsAcceptedFingerprint = FControlSocket->SslPeerCert().Fingerprint;
        TriggerDisplay("! TLS connection: " + FControlSocket->SslVersion() + ", cipher " + FControlSocket->SslCipher());
        const TSslCertInfo& cert = FControlSocket->SslPeerCert();
        if (!FSslVerifyPeer)
            TriggerDisplay("! Certificate NOT verified (insecure mode): " + cert.Subject + ", SHA-256 " +
                           cert.Fingerprint);
        else if (cert.Verified())
            TriggerDisplay("! Certificate verified: " + cert.Subject);
    }
    // A failure (also a certificate refused after the handshake) comes
    // through ControlSslError; TLS from the first byte reports through the
    // connection itself.
    if (!FAuthHandshake || error != 0)
        return;
    FAuthHandshake = false;
    TriggerRequestDone(0);
}

void TCustomFtpCli::ControlSslError(std::uint16_t error)
{
    if (!FAuthHandshake)
        return; // later failures close the connection, which reports them
    FAuthHandshake = false;
    // The socket closes the connection right after this event.
    FailControlTls(error, TlsFailureText(FControlSocket.get(), error));
}

bool TCustomFtpCli::RefuseClearLogin()
{
    const bool required = FEncryption == TFtpEncryption::ExplicitRequired || FEncryption == TFtpEncryption::Implicit;
    if (!required || !FControlConnected || ControlTlsActive())
        return false;
    HandleError("TLS required: the control connection is not encrypted, the login is not sent");
    return true;
}

// --- certificates --------------------------------------------------------------

void TCustomFtpCli::ControlVerifyPeer(const TSslCertInfo& cert, bool& accept)
{
    accept = false;
    if (cert.Fingerprint.empty())
        return;
    const std::string port = ControlPort();
    if (cert.Fingerprint == FTlsAcceptedFingerprint) {
        accept = true;
        return;
    }
    TSslTrustQuestion question;
    question.Host = FHostName;
    question.Port = port;
    question.Cert = cert;
    if (FSslUseTrustStore) {
        switch (TSslTrustStore::Check(FHostName, port, cert.Fingerprint)) {
        case TSslTrustStore::trustMatches:
            TriggerDisplay("! Certificate trusted before for " + TSslTrustStore::Key(FHostName, port) + ": " +
                           cert.Subject);
            FTlsAcceptedFingerprint = cert.Fingerprint;
            accept = true;
            return;
        case TSslTrustStore::trustChanged:
            question.StoredFingerprint = TSslTrustStore::Fingerprint(FHostName, port);
            TriggerDisplay("! WARNING: the certificate of " + TSslTrustStore::Key(FHostName, port) +
                           " CHANGED: trusted SHA-256 " + question.StoredFingerprint + ", now SHA-256 " +
                           cert.Fingerprint);
            break;
        case TSslTrustStore::trustUnknown:
            break;
        }
    }
    TriggerDisplay("! Certificate not trusted: " + cert.VerifyReason + " (" + cert.Subject + ")");
    const TSslTrustAnswer answer = OnCertificateCheck ? OnCertificateCheck(this, question) : sslTrustCancel;
    if (answer == sslTrustCancel) {
        TriggerDisplay("! Certificate rejected");
        return;
    }
    if (answer == sslTrustAlways && FSslUseTrustStore)
        TSslTrustStore::Trust(FHostName, port, cert.Fingerprint);
    TriggerDisplay(answer == sslTrustAlways ? "! Certificate trusted from now on"
                                            : "! Certificate trusted for this session");
    FTlsAcceptedFingerprint = cert.Fingerprint;
    accept = true;
}

// --- PBSZ / PROT ---------------------------------------------------------------

void TCustomFtpCli::PbszAsync()
{
    FLastFct = ftpFctPbsz;
    ExecAsync(ftpPbszAsync, "PBSZ 0", {200});
}

void TCustomFtpCli::ProtAsync()
{
    FLastFct = ftpFctProt;
    ExecAsync(ftpProtAsync, "PROT P", {200}, &TCustomFtpCli::ProtDone);
}

void TCustomFtpCli::ProtDone()
{
    if (FRequestResult == 0) {
        FDataProtected = true;
        TriggerDisplay("! Data connections are protected by TLS");
    }
    TriggerRequestDone(ErrorValue(FRequestResult));
}

void TCustomFtpCli::ProtectAsync() { HighLevelAsync(ftpProtAsync, {ftpFctPbsz, ftpFctProt}); }

bool TCustomFtpCli::SkipTlsStep(TFtpFct fct) const
{
    switch (fct) {
    case ftpFctAuth:
        return (FEncryption != TFtpEncryption::ExplicitRequired && FEncryption != TFtpEncryption::ExplicitIfOffered) ||
               ControlTlsActive();
    case ftpFctPbsz:
    case ftpFctProt:
        return !ControlTlsActive() || FDataProtected;
    default:
        return false;
    }
}

void TCustomFtpCli::AddTlsSteps(TFtpFctSet& fcts) const
{
    if (FEncryption == TFtpEncryption::None || !fcts.Contains(ftpFctOpen))
        return;
    fcts.Include(ftpFctAuth);
    fcts.Include(ftpFctPbsz);
    fcts.Include(ftpFctProt);
}

// --- data connections ----------------------------------------------------------

void TCustomFtpCli::StartDataTls()
{
    FDataTls = false;
    if (!FDataProtected || !ControlTlsActive())
        return;
    TWSocket* const data = DataSocket();
    data->SetSslEnable(false);
    data->SetSslServerName(FControlSocket->SslServerName());
    data->SetSslCAFile(FSslCAFile);
    data->SetSslVerifyPeer(FSslVerifyPeer);
    data->SetSslMinVersion(FSslMinVersion);
    data->SetSslMaxVersion(FSslMaxVersion);
    // A TLS 1.3 ticket is good for one resumption with some servers: each
    // data connection offers the newest one, from the data connection
    // before it when that brought one, else the control connection's.
    data->SetSslSession(FDataResumeSession ? FDataResumeSession : FControlSocket->SslSession());
    FDataSessionBefore = data->SslSession();
    // The data connection must come from the server the control
    // connection's certificate was accepted for.
    data->OnSslVerifyPeer = [this](TCustomWSocket*, const TSslCertInfo& cert, bool& accept) {
        accept = !FTlsAcceptedFingerprint.empty() && cert.Fingerprint == FTlsAcceptedFingerprint;
    };
    data->OnSslHandshakeDone = [this](TCustomWSocket*, std::uint16_t error) {
        TWSocket* const s = DataSocket();
        if (error != 0) {
            // The close that follows records the failure.
            TriggerDisplay("! " + DataTlsFailureText(error));
            return;
        }
        FData->TlsStage = s->SslSessionReused() ? TFtpDataChannel::TTlsStage::Resumed
                                                : TFtpDataChannel::TTlsStage::NewSession;
        TriggerDisplay("! Data connection: " + s->SslVersion() + ", " +
                       (s->SslSessionReused() ? "TLS session resumed" : "new TLS session"));
    };
    try {
        FData->TlsStage = TFtpDataChannel::TTlsStage::Handshaking;
        data->StartTLS();
        FDataTls = true;
    } catch (const Exception& e) {
        FData->TlsStage = TFtpDataChannel::TTlsStage::Failed;
        FData->Fail(426, "TLS handshake of the data connection failed: " + e.Message());
        CloseDataSocket();
    }
}

std::string TCustomFtpCli::DataTlsFailureText(std::uint16_t error) const
{
    TWSocket* const data = DataSocket();
    const std::string& why = data->SslErrorText();
    if (error == WSocketErrSslCertificate) {
        // The certificate was checked against the control connection's,
        // not against the authorities: say whose it is.
        const TSslCertInfo& cert = data->SslPeerCert();
        return "Certificate of the data connection does not match the control connection's: " + cert.Subject +
               ", SHA-256 " + cert.Fingerprint;
    }
    using S = TFtpDataChannel::TTlsStage;
    if (FData->TlsStage == S::Handshaking || (FData->TlsStage == S::Failed && data->SslVersion().empty()))
        return "TLS handshake of the data connection failed: " +
               (why.empty() ? std::string("negotiation failed") : why);
    const bool upload = FData->Direction() == TFtpDataChannel::TDirection::Send;
    return std::string("TLS error on the data connection while ") + (upload ? "sending" : "receiving") + ": " +
           (why.empty() ? std::string("connection failed") : why);
}

std::string TCustomFtpCli::DataTlsReplyFailureText() const
{
    using S = TFtpDataChannel::TTlsStage;
    // A refusal of a data connection that made a session of its own: the
    // server wants the control connection's session resumed. Servers say
    // so with 425 or 522 (vsftpd), 450 or 534, or in the text.
    if (FData->TlsStage == S::NewSession && (FData->Moved() == 0 || RefusesDataConnection(FStatusCode, FLastResponse)))
        return "TLS session of the data connection not resumed; the server answered: " + FLastResponse;
    // The data connection's own failure made the server give up.
    if (FData->TlsStage == S::Failed && FData->Failed())
        return FData->FailMessage() + "; the server answered: " + FLastResponse;
    return {};
}

void TCustomFtpCli::CheckDataTlsClose(std::uint16_t error)
{
    if (!FDataTls)
        return;
    FDataTls = false;
    TWSocket* const data = DataSocket();
    if (data->SslSession() && data->SslSession() != FDataSessionBefore)
        FDataResumeSession = data->SslSession();
    if (FData->Failed() || FData->AbortRequested)
        return;
    if (IsTlsError(error)) {
        const std::string text = DataTlsFailureText(error);
        FData->TlsStage = TFtpDataChannel::TTlsStage::Failed;
        FData->Fail(426, text);
        return;
    }
    // Without close_notify an attacker's cut looks like the end of the file.
    if (FData->Direction() == TFtpDataChannel::TDirection::Receive && error == 0 && !data->SslCloseNotifyReceived())
        FData->Fail(426, "Data connection closed without TLS close_notify: the transfer may be truncated");
}
