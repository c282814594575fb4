#pragma once

// The certificate dialog: a server's certificate failed verification, and
// the user decides whether to go on. A certificate that differs from the one
// trusted before for the host is shown as a warning with both fingerprints.

#include "ui/prompts.h"

#include <QDialog>

class QPushButton;

class TCertificateDialog : public QDialog {
public:
    explicit TCertificateDialog(const TCertificatePrompt& prompt, QWidget* parent = nullptr);

    TCertificateAnswer Answer() const { return answer_; }

    QPushButton* TrustOnceButton = nullptr;
    QPushButton* TrustAlwaysButton = nullptr;
    QPushButton* CancelButton = nullptr;

private:
    TCertificateAnswer answer_ = TCertificateAnswer::Cancel;
};
