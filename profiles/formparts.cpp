#include "profiles/formparts.h"

#include "profiles/accountstore.h"
#include "ui/digitsonlyfilter.h"
#include "profiles/fieldcolor.h"
#include "profiles/sitechoices.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

QLineEdit* MakeEdit(QWidget* parent, const char* name)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    return edit;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& caption)
{
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QLineEdit* MakePortEdit(QWidget* parent)
{
    QLineEdit* port = MakeEdit(parent, "Port_Edit");
    port->setText(QStringLiteral("21"));
    port->setFixedWidth(port->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 16);
    PaintFieldWhite(*port);
    TDigitsOnlyFilter::Install(port);
    return port;
}

void ShowProxyState(QLineEdit& proxy, bool enabled)
{
    proxy.setEnabled(enabled);
    if (!enabled) {
        PaintFieldSilver(proxy);
        return;
    }
    PaintFieldWhite(proxy);
    proxy.setFocus();
}

void LoadProfileFields(const QString& folder, const QString& name, const TProfileFields& fields)
{
    if (name.isEmpty())
        return;
    std::vector<std::string> profile;
    AccountStore(folder).LoadProfile(profile, name.toStdString());
    if (profile.size() < 9)
        return;
    const auto text = [&profile](std::size_t i) { return QString::fromStdString(profile[i]); };
    fields.Name->setText(text(0));
    fields.Proxy->setChecked(profile[1] == "true");
    fields.ProxyName->setText(text(2));
    fields.Host->setText(text(3));
    fields.User->setText(text(4));
    fields.Password->setText(AccountPassword(AccountStore(folder), name, text(5)));
    fields.Port->setText(text(6));
    fields.Anonymous->setChecked(profile[7] == "true");
    fields.Passive->setChecked(AccountStore(folder).LoadPassiveMode(name.toStdString()));
    ShowSiteChoices(*fields.Encryption, *fields.Encoding, AccountStore(folder).LoadSiteChoices(name.toStdString()));
}

QComboBox* MakeEncryptionChoice(QWidget* parent, QLineEdit* port)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QStringLiteral("EncryptionBox"));
    combo->addItem(QStringLiteral("None (plain FTP)"), int(TFtpEncryption::None));
    combo->addItem(QStringLiteral("Explicit TLS (required)"), int(TFtpEncryption::ExplicitRequired));
    combo->addItem(QStringLiteral("Explicit TLS if offered"), int(TFtpEncryption::ExplicitIfOffered));
    combo->addItem(QStringLiteral("Implicit TLS"), int(TFtpEncryption::Implicit));
    combo->setToolTip(QStringLiteral("Whether the session is encrypted with TLS (FTPS)"));
    // Only a choice the user makes moves the port; loading a profile shows
    // its stored port as it is.
    QObject::connect(combo, &QComboBox::activated, combo, [combo, port](int) {
        const auto encryption = TFtpEncryption(combo->currentData().toInt());
        port->setText(QString::fromStdString(SuggestedPort(encryption, port->text().toStdString())));
    });
    return combo;
}

QComboBox* MakeEncodingChoice(QWidget* parent)
{
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QStringLiteral("EncodingBox"));
    combo->addItem(QStringLiteral("Auto"), int(TFtpServerEncoding::Auto));
    combo->addItem(QStringLiteral("UTF-8"), int(TFtpServerEncoding::Utf8));
    combo->addItem(QStringLiteral("Latin-1"), int(TFtpServerEncoding::Latin1));
    combo->setToolTip(QStringLiteral(
        "How the server encodes file names (Auto: UTF-8; bytes that are not UTF-8 are kept as they are)"));
    return combo;
}

TSiteChoices ChosenSiteChoices(const QComboBox& encryption, const QComboBox& encoding)
{
    TSiteChoices choices;
    choices.Encryption = TFtpEncryption(encryption.currentData().toInt());
    choices.Encoding = TFtpServerEncoding(encoding.currentData().toInt());
    return choices;
}

void ShowSiteChoices(QComboBox& encryption, QComboBox& encoding, const TSiteChoices& choices)
{
    encryption.setCurrentIndex(std::max(0, encryption.findData(int(choices.Encryption))));
    encoding.setCurrentIndex(std::max(0, encoding.findData(int(choices.Encoding))));
}

QCheckBox* MakePassiveCheck(QWidget* parent)
{
    QCheckBox* box = MakeCheck(parent, "PassiveBox", QStringLiteral("Passive mode"));
    box->setChecked(true);
    box->setToolTip(QStringLiteral("The client opens the data connections (works behind NAT and firewalls)"));
    return box;
}

void MaskPassword(QLineEdit& field)
{
    field.setEchoMode(QLineEdit::Password);
    field.setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
}
