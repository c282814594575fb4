#include "profiles/formparts.h"

#include "profiles/accountstore.h"
#include "ui/digitsonlyfilter.h"
#include "profiles/fieldcolor.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

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
