#include "ui/certificatetrust.h"

TSslTrustAnswer AskCertificateTrust(QWidget* parent, const TCertificatePrompt& prompt)
{
    switch (Prompts().Certificate(parent, prompt)) {
    case TCertificateAnswer::TrustOnce:
        return sslTrustOnce;
    case TCertificateAnswer::TrustAlways:
        return sslTrustAlways;
    case TCertificateAnswer::Cancel:
        break;
    }
    return sslTrustCancel;
}
