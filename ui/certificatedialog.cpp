#include "ui/certificatedialog.h"

#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

QLabel* Value(const QString& text, QWidget* parent, bool fixed = false)
{
    auto* label = new QLabel(text.toHtmlEscaped(), parent);
    label->setTextFormat(Qt::RichText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    if (fixed)
        label->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    return label;
}

} // namespace

TCertificateDialog::TCertificateDialog(const TCertificatePrompt& prompt, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CertificateDialog"));
    const bool changed = !prompt.StoredFingerprint.isEmpty();
    setWindowTitle(changed ? QStringLiteral("Certificate changed") : QStringLiteral("Unknown certificate"));

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap(
        style()->standardIcon(changed ? QStyle::SP_MessageBoxCritical : QStyle::SP_MessageBoxWarning).pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);
    top->addWidget(icon);

    auto* headline = new QLabel(this);
    headline->setObjectName(QStringLiteral("Headline"));
    headline->setWordWrap(true);
    headline->setTextFormat(Qt::RichText);
    if (changed) {
        headline->setText(
            QStringLiteral("<p style='color:#b00000; font-size:large'><b>WARNING: the certificate of %1 has "
                           "CHANGED.</b></p><p>You trusted another certificate for this host before. Someone may "
                           "be intercepting the connection to read your password and your files. Only go on if "
                           "you know that the server's certificate was replaced.</p>")
                .arg(prompt.Host.toHtmlEscaped()));
    } else {
        headline->setText(QStringLiteral("<p><b>The certificate of %1 could not be verified:</b> %2.</p>"
                                         "<p>Check its fingerprint with the server's administrator before you "
                                         "trust it.</p>")
                              .arg(prompt.Host.toHtmlEscaped(), prompt.Reason.toHtmlEscaped()));
    }
    top->addWidget(headline, 1);
    layout->addLayout(top);

    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight);
    if (changed)
        form->addRow(QStringLiteral("Reason:"), Value(prompt.Reason, this));
    form->addRow(QStringLiteral("Subject:"), Value(prompt.Subject, this));
    form->addRow(QStringLiteral("Issuer:"), Value(prompt.Issuer, this));
    form->addRow(QStringLiteral("Valid from:"), Value(prompt.ValidFrom, this));
    form->addRow(QStringLiteral("Valid until:"), Value(prompt.ValidTo, this));
    if (changed) {
        form->addRow(QStringLiteral("Trusted before (SHA-256):"), Value(prompt.StoredFingerprint, this, true));
        form->addRow(QStringLiteral("Offered now (SHA-256):"), Value(prompt.Fingerprint, this, true));
    } else {
        form->addRow(QStringLiteral("Fingerprint (SHA-256):"), Value(prompt.Fingerprint, this, true));
    }
    layout->addLayout(form);

    TrustOnceButton = new QPushButton(QStringLiteral("Trust once"), this);
    TrustOnceButton->setObjectName(QStringLiteral("TrustOnce"));
    TrustAlwaysButton = new QPushButton(QStringLiteral("Always trust this certificate for this host"), this);
    TrustAlwaysButton->setObjectName(QStringLiteral("TrustAlways"));
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("Cancel"));
    // Enter and Escape both refuse: trusting takes a deliberate click.
    for (QPushButton* b : {TrustOnceButton, TrustAlwaysButton})
        b->setAutoDefault(false);
    CancelButton->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(TrustOnceButton);
    buttons->addWidget(TrustAlwaysButton);
    buttons->addWidget(CancelButton);
    layout->addLayout(buttons);

    connect(TrustOnceButton, &QPushButton::clicked, this, [this] {
        answer_ = TCertificateAnswer::TrustOnce;
        accept();
    });
    connect(TrustAlwaysButton, &QPushButton::clicked, this, [this] {
        answer_ = TCertificateAnswer::TrustAlways;
        accept();
    });
    connect(CancelButton, &QPushButton::clicked, this, [this] {
        answer_ = TCertificateAnswer::Cancel;
        reject();
    });
    setMinimumWidth(620);
    CancelButton->setFocus();
}
