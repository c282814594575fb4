#include "profiles/settform.h"

#include "ui/helpfile.h"
#include "ui/prompts.h"
#include "platform/application.h"
#include "profiles/accountstore.h"
#include "profiles/formparts.h"
#include "profiles/profilelist.h"
#include "profiles/sitechoices.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <exception>
#include <vector>

TSettForm::TSettForm(TProfileHooks hooks, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::WindowStaysOnTopHint),
      hooks_(std::move(hooks))
{
    setObjectName(QStringLiteral("SettForm"));
    setWindowTitle(QStringLiteral("Profile Settings"));
    BuildControls();
    SetProxy();
    RefreshList();
    Edit_Name->setFocus();
}

void TSettForm::BuildControls()
{
    auto* fieldsBox = new QGroupBox(QStringLiteral("Profile Settings"), this);
    Edit_Name = MakeEdit(fieldsBox, "Edit_Name");
    Edit_User = MakeEdit(fieldsBox, "Edit_User");
    Edit_Pass = MakeEdit(fieldsBox, "Edit_Pass");
    MaskPassword(*Edit_Pass);
    Edit_Host = MakeEdit(fieldsBox, "Edit_Host");
    AnonBox = MakeCheck(fieldsBox, "AnonBox", QStringLiteral("Anonymous Login"));
    CheckProxy = MakeCheck(fieldsBox, "CheckProxy", QStringLiteral("Use Proxy"));
    PassiveBox = MakePassiveCheck(fieldsBox);
    Proxy_Edit = MakeEdit(fieldsBox, "Proxy_Edit");
    Port_Edit = MakePortEdit(fieldsBox);
    EncryptionBox = MakeEncryptionChoice(fieldsBox, Port_Edit);
    EncodingBox = MakeEncodingChoice(fieldsBox);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Profile Name:"), Edit_Name);
    form->addRow(QStringLiteral("User Name:"), Edit_User);
    form->addRow(QStringLiteral("Password:"), Edit_Pass);
    form->addRow(QStringLiteral("Host Address:"), Edit_Host);
    auto* boxes = new QHBoxLayout;
    boxes->addWidget(AnonBox);
    boxes->addWidget(CheckProxy);
    boxes->addWidget(PassiveBox);
    boxes->addStretch(1);
    form->addRow(boxes);
    auto* proxyRow = new QHBoxLayout;
    proxyRow->addWidget(Proxy_Edit, 1);
    auto* portLabel = new QLabel(QStringLiteral("Port:"), fieldsBox);
    portLabel->setBuddy(Port_Edit);
    proxyRow->addWidget(portLabel);
    proxyRow->addWidget(Port_Edit);
    form->addRow(QStringLiteral("Proxy:"), proxyRow);
    form->addRow(QStringLiteral("Encryption:"), EncryptionBox);
    form->addRow(QStringLiteral("Server encoding:"), EncodingBox);
    fieldsBox->setLayout(form);
    Edit_Name->setMinimumWidth(180);

    auto* listBox = new QGroupBox(QStringLiteral("Current Profiles"), this);
    List_Prof = MakeProfileList(listBox, QStringLiteral("List_Prof"));
    auto* listLayout = new QVBoxLayout(listBox);
    listLayout->addWidget(List_Prof);

    Button1 = MakeButton(this, "Button1", QStringLiteral("&New"));
    ButSave = MakeButton(this, "ButSave", QStringLiteral("&Save"));
    ButDel = MakeButton(this, "ButDel", QStringLiteral("&Delete"));
    ButHelp = MakeButton(this, "ButHelp", QStringLiteral("&Help"));
    ButCancel = MakeButton(this, "ButCancel", QStringLiteral("&Cancel"));

    auto* top = new QHBoxLayout;
    top->addWidget(fieldsBox, 3);
    top->addWidget(listBox, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (QPushButton* button : {Button1, ButSave, ButDel, ButHelp, ButCancel})
        buttons->addWidget(button);
    // Where the passwords go, so that nobody has to guess.
    StorageLabel = new QLabel(PasswordStorageText(), this);
    StorageLabel->setObjectName(QStringLiteral("StorageLabel"));
    auto* root = new QVBoxLayout(this);
    root->addLayout(top);
    root->addWidget(StorageLabel);
    root->addLayout(buttons);
    root->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(Edit_Name, Edit_User);
    setTabOrder(Edit_User, Edit_Pass);
    setTabOrder(Edit_Pass, Edit_Host);
    setTabOrder(Edit_Host, AnonBox);
    setTabOrder(AnonBox, CheckProxy);
    setTabOrder(CheckProxy, PassiveBox);
    setTabOrder(PassiveBox, Proxy_Edit);
    setTabOrder(Proxy_Edit, Port_Edit);
    setTabOrder(Port_Edit, EncryptionBox);
    setTabOrder(EncryptionBox, EncodingBox);
    setTabOrder(EncodingBox, List_Prof);
    setTabOrder(List_Prof, Button1);
    setTabOrder(Button1, ButSave);
    setTabOrder(ButSave, ButDel);
    setTabOrder(ButDel, ButHelp);
    setTabOrder(ButHelp, ButCancel);

    connect(Button1, &QPushButton::clicked, this, &TSettForm::ButNewClick);
    connect(ButSave, &QPushButton::clicked, this, &TSettForm::ButSaveClick);
    connect(ButDel, &QPushButton::clicked, this, &TSettForm::ButDelClick);
    connect(ButHelp, &QPushButton::clicked, this, &TSettForm::ButHelpClick);
    connect(ButCancel, &QPushButton::clicked, this, &TSettForm::ButCancelClick);
    // toggled, not clicked: loading a profile changes the boxes the same way
    // a click does.
    connect(AnonBox, &QCheckBox::toggled, this, &TSettForm::AnonBoxToggled);
    connect(CheckProxy, &QCheckBox::toggled, this, &TSettForm::SetProxy);
    connect(List_Prof, &QListWidget::itemClicked, this, &TSettForm::List_ProfClick);
}

void TSettForm::RefreshList()
{
    FillProfileList(*List_Prof, hooks_);
    if (hooks_.FillQuickConnectList)
        hooks_.FillQuickConnectList();
}

void TSettForm::ClearEntries()
{
    Edit_Name->clear();
    Edit_User->clear();
    Edit_Pass->clear();
    Edit_Host->clear();
    Proxy_Edit->clear();
    Port_Edit->setText(QStringLiteral("21"));
    CheckProxy->setChecked(false);
    SetProxy();
    AnonBox->setChecked(false);
    PassiveBox->setChecked(true);
    ShowSiteChoices(*EncryptionBox, *EncodingBox, TSiteChoices{});
    Edit_Name->setFocus();
}

void TSettForm::SetProxy() { ShowProxyState(*Proxy_Edit, CheckProxy->isChecked()); }

void TSettForm::AnonBoxToggled(bool checked)
{
    if (checked)
        Edit_User->setText(QStringLiteral("anonymous"));
}

void TSettForm::ButNewClick() { ClearEntries(); }

void TSettForm::ButSaveClick()
{
    const QString name = Edit_Name->text();
    const bool proxy = CheckProxy->isChecked();
    const QString proxyName = QString::fromStdString(HostFieldText(Proxy_Edit->text().toStdString()));
    // A literal IPv6 address is kept without brackets; "[::1]:2121" also
    // fills the port.
    std::string typedPort = Port_Edit->text().toStdString();
    const QString host = QString::fromStdString(HostFieldText(Edit_Host->text().toStdString(), typedPort));
    Port_Edit->setText(QString::fromStdString(typedPort));
    const QString user = Edit_User->text();
    const QString password = Edit_Pass->text();
    const QString port = Port_Edit->text();
    const bool anonymous = AnonBox->isChecked();
    const bool passiveMode = PassiveBox->isChecked();
    const TSiteChoices choices = ChosenSiteChoices(*EncryptionBox, *EncodingBox);

    bool valid = true;
    if (name.isEmpty() || host.isEmpty() || user.isEmpty() || password.isEmpty()) {
        Prompts().Notice(QStringLiteral("Account Error"),
                         QStringLiteral("You must provide a profile name, username, password and host address"), 0);
        valid = false;
    }
    if (proxy && (proxyName.isEmpty() || port.isEmpty())) {
        Prompts().Notice(QStringLiteral("Proxy Account Error"),
                         QStringLiteral("You must provide a proxy name and port number to set up a Proxy account"), 0);
        valid = false;
    }
    if (!valid)
        return;

    try {
        // "Passive" follows the proxy (a proxy only works passive), as older
        // readers of the file expect; the box has a key of its own.
        SaveAccount(AccountStore(hooks_.Folder), name, proxy, proxyName, host, user, password, port, anonymous, proxy,
                    passiveMode, choices);
    } catch (const std::exception& error) {
        Application::HandleException(error);
        return;
    }
    ClearEntries();
    RefreshList();
}

void TSettForm::ButDelClick()
{
    const QString name = SelectedProfileName(*List_Prof);
    if (List_Prof->selectedItems().isEmpty()) {
        Prompts().Notice(QStringLiteral("Delete Error"), QStringLiteral("You need to select a profile to delete!"), 0);
        return;
    }
    try {
        DeleteAccount(AccountStore(hooks_.Folder), name);
    } catch (const std::exception& error) {
        Application::HandleException(error);
        return;
    }
    ClearEntries();
    RefreshList();
}

void TSettForm::ButHelpClick() { THelpFile::ShowTopic(QStringLiteral("IDH_settings")); }

void TSettForm::ButCancelClick() { close(); }

void TSettForm::List_ProfClick()
{
    LoadProfileFields(hooks_.Folder, SelectedProfileName(*List_Prof),
                      {Edit_Name, CheckProxy, Proxy_Edit, Edit_Host, Edit_User, Edit_Pass, Port_Edit, AnonBox,
                       PassiveBox, EncryptionBox, EncodingBox});
}
