// The main window's answer to a server certificate that failed
// verification: the certificate dialog through the prompts interface; the
// engine keeps "always" in the trust store.

#include "app/formmain.h"

#include "ui/certificatetrust.h"
#include "ui/prompts.h"
#include "ftp/ftpclient.h"

#include <QCursor>
#include <QGuiApplication>

namespace {

QString Utf8(const std::string& text) { return QString::fromUtf8(text.data(), qsizetype(text.size())); }

} // namespace

void TFormMain::WireCertificateCheck()
{
    FTPC1->OnCertificateCheck = [this](TCustomFtpCli*, const TSslTrustQuestion& question) {
        return FTPC1CertificateCheck(question);
    };
}

TSslTrustAnswer TFormMain::FTPC1CertificateCheck(const TSslTrustQuestion& question)
{
    TCertificatePrompt prompt;
    prompt.Host = Utf8(question.Host + ":" + question.Port);
    prompt.Reason = Utf8(question.Cert.VerifyReason);
    prompt.Subject = Utf8(question.Cert.Subject);
    prompt.Issuer = Utf8(question.Cert.Issuer);
    prompt.ValidFrom = Utf8(question.Cert.ValidFrom);
    prompt.ValidTo = Utf8(question.Cert.ValidTo);
    prompt.Fingerprint = Utf8(question.Cert.Fingerprint);
    prompt.StoredFingerprint = Utf8(question.StoredFingerprint);
    // The hourglass of the connect would sit over the dialog.
    int hourglasses = 0;
    while (QGuiApplication::overrideCursor() != nullptr && hourglasses < 16) {
        QGuiApplication::restoreOverrideCursor();
        ++hourglasses;
    }
    const TSslTrustAnswer answer = AskCertificateTrust(this, prompt);
    for (int i = 0; i < hourglasses; ++i)
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    return answer;
}
