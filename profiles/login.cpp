#include "profiles/login.h"

#include "ui/helpfile.h"
#include "ui/prompts.h"
#include "platform/application.h"
#include "profiles/accountstore.h"
#include "profiles/fieldcolor.h"
#include "profiles/formparts.h"
#include "profiles/profilelist.h"
#include "profiles/settform.h"
#include "profiles/sitechoices.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <exception>
#include <vector>

TLogForm::TLogForm(TProfileHooks hooks, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      hooks_(std::move(hooks))
{
    setObjectName(QStringLiteral("LogForm"));
    setWindowTitle(QStringLiteral("User Login"));
    BuildControls();
    SetProxy();
    FillList();
    Host_Edit->setFocus();
    NoConnect = true;
}

void TLogForm::BuildControls()
{
    auto* group = new QGroupBox(QStringLiteral("Login to remote host"), this);
    Edit_Name = MakeEdit(group, "Edit_Name");
    Edit_Name->setReadOnly(true);
    PaintFieldSilver(*Edit_Name);
    Host_Edit = MakeEdit(group, "Host_Edit");
    User_Edit = MakeEdit(group, "User_Edit");
    Pass_Edit = MakeEdit(group, "Pass_Edit");
    MaskPassword(*Pass_Edit);
    AnonBox = MakeCheck(group, "AnonBox", QStringLiteral("Anonymous Login"));
    CheckProxy = MakeCheck(group, "CheckProxy", QStringLiteral("Use Proxy"));
    PassiveBox = MakePassiveCheck(group);
    Proxy_Edit = MakeEdit(group, "Proxy_Edit");
    Port_Edit = MakePortEdit(group);
    EncryptionBox = MakeEncryptionChoice(group, Port_Edit);
    EncodingBox = MakeEncodingChoice(group);
    List_Prof = MakeProfileList(group, QStringLiteral("List_Prof"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Profile :"), Edit_Name);
    form->addRow(QStringLiteral("Host :"), Host_Edit);
    form->addRow(QStringLiteral("Username :"), User_Edit);
    form->addRow(QStringLiteral("Password :"), Pass_Edit);
    auto* boxes = new QHBoxLayout;
    boxes->addWidget(AnonBox);
    boxes->addWidget(CheckProxy);
    boxes->addWidget(PassiveBox);
    boxes->addStretch(1);
    form->addRow(boxes);
    auto* proxyRow = new QHBoxLayout;
    proxyRow->addWidget(Proxy_Edit, 1);
    auto* portLabel = new QLabel(QStringLiteral("Port:"), group);
    portLabel->setBuddy(Port_Edit);
    proxyRow->addWidget(portLabel);
    proxyRow->addWidget(Port_Edit);
    form->addRow(QStringLiteral("Proxy:"), proxyRow);
    form->addRow(QStringLiteral("Encryption:"), EncryptionBox);
    form->addRow(QStringLiteral("Server encoding:"), EncodingBox);
    Host_Edit->setMinimumWidth(170);

    auto* inside = new QHBoxLayout(group);
    inside->addLayout(form, 3);
    inside->addWidget(List_Prof, 2);

    Button1 = MakeButton(this, "Button1", QStringLiteral("C&onnect"));
    Button3 = MakeButton(this, "Button3", QStringLiteral("&Profiles"));
    ButHelp = MakeButton(this, "ButHelp", QStringLiteral("&Help"));
    Button2 = MakeButton(this, "Button2", QStringLiteral("&Cancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (QPushButton* button : {Button1, Button3, ButHelp, Button2})
        buttons->addWidget(button);

    auto* root = new QVBoxLayout(this);
    root->addWidget(group);
    root->addLayout(buttons);
    root->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(Host_Edit, User_Edit);
    setTabOrder(User_Edit, Pass_Edit);
    setTabOrder(Pass_Edit, Proxy_Edit);
    setTabOrder(Proxy_Edit, Port_Edit);
    setTabOrder(Port_Edit, EncryptionBox);
    setTabOrder(EncryptionBox, EncodingBox);
    setTabOrder(EncodingBox, CheckProxy);
    setTabOrder(CheckProxy, AnonBox);
    setTabOrder(AnonBox, PassiveBox);
    setTabOrder(PassiveBox, List_Prof);
    setTabOrder(List_Prof, Edit_Name);
    setTabOrder(Edit_Name, Button1);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Button3);
    setTabOrder(Button3, ButHelp);

    connect(Button1, &QPushButton::clicked, this, &TLogForm::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TLogForm::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TLogForm::Button3Click);
    connect(ButHelp, &QPushButton::clicked, this, &TLogForm::ButHelpClick);
    // toggled, not clicked: loading a profile changes the boxes the same way
    // a click does.
    connect(AnonBox, &QCheckBox::toggled, this, &TLogForm::AnonBoxToggled);
    connect(CheckProxy, &QCheckBox::toggled, this, &TLogForm::SetProxy);
    connect(List_Prof, &QListWidget::itemClicked, this, &TLogForm::List_ProfClick);
    connect(List_Prof, &QListWidget::itemDoubleClicked, this, &TLogForm::List_ProfDblClick);
}

void TLogForm::FillList() { FillProfileList(*List_Prof, hooks_); }

void TLogForm::SetProxy() { ShowProxyState(*Proxy_Edit, CheckProxy->isChecked()); }

void TLogForm::AnonBoxToggled(bool checked)
{
    if (checked)
        User_Edit->setText(QStringLiteral("anonymous"));
}

void TLogForm::showEvent(QShowEvent* event)
{
    NoConnect = true;
    QDialog::showEvent(event);
}

void TLogForm::Button1Click()
{
    if (Host_Edit->text().isEmpty() || User_Edit->text().isEmpty() || Pass_Edit->text().isEmpty()) {
        Prompts().Notice(QStringLiteral("Login Error"),
                         QStringLiteral("You must provide a username, password and host address to connect"), 0);
        return;
    }
    NoConnect = false;

    // The port the user typed counts with or without a proxy; an empty
    // field means the usual port of the encryption chosen. A bracketed
    // IPv6 address with a port ("[::1]:2121") in the connecting host's
    // field gives the port as well.
    const bool proxy = CheckProxy->isChecked();
    const TSiteChoices choices = ChosenSiteChoices(*EncryptionBox, *EncodingBox);
    std::string port = Port_Edit->text().isEmpty() ? SuggestedPort(choices.Encryption, "21")
                                                   : Port_Edit->text().toStdString();
    std::string unused = port;
    const std::string host = HostFieldText(Host_Edit->text().toStdString(), proxy ? unused : port);
    fields_.SiteProxy = proxy;
    fields_.SiteHost = proxy ? HostFieldText(Proxy_Edit->text().toStdString(), port) : host;
    fields_.SiteUser = proxy ? User_Edit->text().toStdString() + "@" + host : User_Edit->text().toStdString();
    fields_.SitePassword = Pass_Edit->text().toStdString();
    fields_.SitePort = port;
    fields_.SiteEncryption = choices.Encryption;
    fields_.SiteEncoding = choices.Encoding;
    // A proxy only works passive; without one the box decides.
    fields_.SitePassive = proxy || PassiveBox->isChecked();
    close();
}

void TLogForm::Button2Click()
{
    if (OnAbort) {
        try {
            OnAbort();
        } catch (const std::exception& error) {
            Application::HandleException(error);
        }
    }
    NoConnect = true;
    close();
    while (QGuiApplication::overrideCursor())
        QGuiApplication::restoreOverrideCursor();
}

void TLogForm::reject()
{
    // Escape presses Cancel.
    Button2Click();
}

void TLogForm::closeEvent(QCloseEvent* event)
{
    if (!NoConnect && OnOpenSession) {
        try {
            OnOpenSession(fields_);
        } catch (const std::exception& error) {
            Application::HandleException(error);
        }
    }
    event->accept();
    done(NoConnect ? QDialog::Rejected : QDialog::Accepted);
}

void TLogForm::Button3Click()
{
    {
        TSettForm settings(hooks_, this);
        settings.exec();
    }
    FillList();
}

void TLogForm::ButHelpClick() { THelpFile::ShowTopic(QStringLiteral("IDH_login")); }

void TLogForm::List_ProfClick()
{
    LoadProfileFields(hooks_.Folder, SelectedProfileName(*List_Prof),
                      {Edit_Name, CheckProxy, Proxy_Edit, Host_Edit, User_Edit, Pass_Edit, Port_Edit, AnonBox,
                       PassiveBox, EncryptionBox, EncodingBox});
}

void TLogForm::List_ProfDblClick()
{
    List_ProfClick();
    Button1Click();
}
