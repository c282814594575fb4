#include "profiles/settform.h"

#include "dialogtest.h"
#include "ui/helpfile.h"
#include "platform/application.h"
#include "profiles/accountstore.h"
#include "profiles/inifile.h"
#include "support/gui/scriptedprompts.h"
#include "tempfolder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>

namespace {

const QString kAccountError = QStringLiteral(
    "Account Error|You must provide a profile name, username, password and host address");
const QString kProxyError = QStringLiteral(
    "Proxy Account Error|You must provide a proxy name and port number to set up a Proxy account");

// A profile manager over a fresh folder, with the main window's
// quick-connect list standing by.
struct TSettFixture {
    TTempFolder folder;
    testsupport::ScriptedPrompts prompts;
    testsupport::RecordingShell shell;
    QComboBox quick;
    int quickFills = 0;
    TProfileHooks hooks;

    TSettFixture()
    {
        hooks.Folder = folder.Path();
        hooks.FillQuickConnectList = [this] {
            ++quickFills;
            FillQuickConnectList(quick, folder.Path());
        };
    }

    void Fill(TSettForm& form, const QString& name, const QString& user, const QString& pass, const QString& host)
    {
        Child<QLineEdit>(form, "Edit_Name")->setText(name);
        Child<QLineEdit>(form, "Edit_User")->setText(user);
        Child<QLineEdit>(form, "Edit_Pass")->setText(pass);
        Child<QLineEdit>(form, "Edit_Host")->setText(host);
    }

    TIniFile File() const
    {
        TIniFile file(folder.File());
        file.Load();
        return file;
    }
};

void Click(TSettForm& form, const char* button) { Child<QPushButton>(form, button)->click(); }

TEST(ProfilesSettForm, OpensWithTheStoredProfilesAndRefreshesTheQuickConnectList)
{
    TSettFixture f;
    AccountStore(f.hooks.Folder).SaveProfile("First", false, "", "h", "u", "p", "21", false, false);
    AccountStore(f.hooks.Folder).SaveProfile("Second", false, "", "h", "u", "p", "21", false, false);
    TSettForm form(f.hooks);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Profile Settings"));
    EXPECT_EQ(ItemTexts(*Child<QListWidget>(form, "List_Prof")), (QStringList{"First", "Second"}));
    EXPECT_EQ(f.quickFills, 1);
    EXPECT_EQ(f.quick.currentText(), QStringLiteral("First"));
    EXPECT_EQ(Child<QLineEdit>(form, "Port_Edit")->text(), QStringLiteral("21"));
    EXPECT_FALSE(Child<QLineEdit>(form, "Proxy_Edit")->isEnabled());
}

TEST(ProfilesSettForm, ValidationShowsEachMissingPartAndSavesNothing)
{
    TSettFixture f;
    TSettForm form(f.hooks);
    f.Fill(form, "Work", "ann", "secret", "ftp.work");
    Child<QCheckBox>(form, "CheckProxy")->setChecked(true);
    Click(form, "ButSave");
    EXPECT_EQ(f.prompts.Notices(), QStringList{kProxyError});
    EXPECT_EQ(f.prompts.Records().first().noticeKind, 0);
    EXPECT_FALSE(f.folder.Exists());
    EXPECT_EQ(Child<QLineEdit>(form, "Edit_Name")->text(), QStringLiteral("Work"));

    f.prompts.Clear();
    Child<QLineEdit>(form, "Edit_Name")->clear();
    Click(form, "ButSave");
    EXPECT_EQ(f.prompts.Notices(), (QStringList{kAccountError, kProxyError}));

    f.prompts.Clear();
    Child<QCheckBox>(form, "CheckProxy")->setChecked(false);
    f.Fill(form, "Work", "ann", "", "ftp.work");
    Click(form, "ButSave");
    EXPECT_EQ(f.prompts.Notices(), QStringList{kAccountError});
    EXPECT_FALSE(f.folder.Exists());
}

TEST(ProfilesSettForm, SaveStoresTheFieldsClearsThemAndListsTheProfile)
{
    TSettFixture f;
    TSettForm form(f.hooks);
    ShowAndSettle(form);
    f.Fill(form, "Proxied", "ann", "secret", "ftp.work");
    Child<QCheckBox>(form, "CheckProxy")->setChecked(true);
    Child<QLineEdit>(form, "Proxy_Edit")->setText(QStringLiteral("proxy.lan"));
    Child<QLineEdit>(form, "Port_Edit")->setText(QStringLiteral("8021"));
    Click(form, "ButSave");
    EXPECT_TRUE(f.prompts.Notices().isEmpty());

    const TIniFile saved = f.File();
    EXPECT_EQ(saved.ReadString("Proxied", "Passive", ""), "1");
    EXPECT_EQ(saved.ReadString("Proxied", "Proxy", ""), "1");
    EXPECT_EQ(saved.ReadString("Proxied", "ProxyName", ""), "proxy.lan");
    EXPECT_EQ(saved.ReadString("Proxied", "Port", ""), "8021");

    auto* proxy = Child<QLineEdit>(form, "Proxy_Edit");
    for (const char* name : {"Edit_Name", "Edit_User", "Edit_Pass", "Edit_Host", "Proxy_Edit"})
        EXPECT_TRUE(Child<QLineEdit>(form, name)->text().isEmpty()) << name;
    EXPECT_EQ(Child<QLineEdit>(form, "Port_Edit")->text(), QStringLiteral("21"));
    EXPECT_FALSE(Child<QCheckBox>(form, "CheckProxy")->isChecked());
    EXPECT_FALSE(proxy->isEnabled());
    EXPECT_EQ(proxy->palette().color(QPalette::Disabled, QPalette::Base), QColor(192, 192, 192));
    EXPECT_EQ(form.focusWidget(), Child<QLineEdit>(form, "Edit_Name"));
    EXPECT_EQ(ItemTexts(*Child<QListWidget>(form, "List_Prof")), QStringList{"Proxied"});
    EXPECT_EQ(f.quick.currentText(), QStringLiteral("Proxied"));

    // Without the proxy box: not passive, and the port is stored as typed,
    // even when empty.
    f.Fill(form, "Direct", "bob", "pw", "ftp.home");
    Child<QLineEdit>(form, "Port_Edit")->clear();
    Click(form, "ButSave");
    EXPECT_EQ(f.File().ReadString("Direct", "Passive", ""), "0");
    EXPECT_EQ(f.File().ReadString("Direct", "Port", "missing"), "");

    // Saving an existing name replaces it in place.
    f.Fill(form, "proxied", "carol", "pw", "ftp.new");
    Click(form, "ButSave");
    EXPECT_EQ(ItemTexts(*Child<QListWidget>(form, "List_Prof")), (QStringList{"Proxied", "Direct"}));
    EXPECT_EQ(f.File().ReadString("Proxied", "UserName", ""), "carol");
}

TEST(ProfilesSettForm, ClickingAProfileLoadsItsFields)
{
    TSettFixture f;
    AccountStore(f.hooks.Folder).SaveProfile("Anon", true, "proxy.lan", "ftp.pub", "stored", "me@x", "990", true, true);
    AccountStore(f.hooks.Folder).SaveProfile("Plain", false, "", "ftp.plain", "bob", "pw", "2121", false, false);
    TSettForm form(f.hooks);
    ShowAndSettle(form);
    auto* list = Child<QListWidget>(form, "List_Prof");

    ClickItem(*list, QStringLiteral("Anon"));
    EXPECT_EQ(Child<QLineEdit>(form, "Edit_Name")->text(), QStringLiteral("Anon"));
    EXPECT_EQ(Child<QLineEdit>(form, "Edit_Host")->text(), QStringLiteral("ftp.pub"));
    EXPECT_EQ(Child<QLineEdit>(form, "Edit_Pass")->text(), QStringLiteral("me@x"));
    EXPECT_EQ(Child<QLineEdit>(form, "Port_Edit")->text(), QStringLiteral("990"));
    EXPECT_EQ(Child<QLineEdit>(form, "Proxy_Edit")->text(), QStringLiteral("proxy.lan"));
    EXPECT_TRUE(Child<QLineEdit>(form, "Proxy_Edit")->isEnabled());
    EXPECT_TRUE(Child<QCheckBox>(form, "AnonBox")->isChecked());
    // The box became checked after the stored user name was filled in.
    EXPECT_EQ(Child<QLineEdit>(form, "Edit_User")->text(), QStringLiteral("anonymous"));

    ClickItem(*list, QStringLiteral("Plain"));
    EXPECT_EQ(Child<QLineEdit>(form, "Edit_User")->text(), QStringLiteral("bob"));
    EXPECT_FALSE(Child<QCheckBox>(form, "CheckProxy")->isChecked());
    EXPECT_FALSE(Child<QLineEdit>(form, "Proxy_Edit")->isEnabled());
    EXPECT_FALSE(Child<QCheckBox>(form, "AnonBox")->isChecked());
    EXPECT_TRUE(f.prompts.Notices().isEmpty());
}

TEST(ProfilesSettForm, AnonymousAndProxyBoxes)
{
    TSettFixture f;
    TSettForm form(f.hooks);
    ShowAndSettle(form);
    auto* user = Child<QLineEdit>(form, "Edit_User");
    auto* anon = Child<QCheckBox>(form, "AnonBox");
    user->setText(QStringLiteral("ann"));
    QTest::mouseClick(anon, Qt::LeftButton);
    EXPECT_EQ(user->text(), QStringLiteral("anonymous"));
    user->setText(QStringLiteral("typed"));
    QTest::mouseClick(anon, Qt::LeftButton);
    EXPECT_EQ(user->text(), QStringLiteral("typed"));

    auto* proxy = Child<QLineEdit>(form, "Proxy_Edit");
    QTest::mouseClick(Child<QCheckBox>(form, "CheckProxy"), Qt::LeftButton);
    EXPECT_TRUE(proxy->isEnabled());
    EXPECT_EQ(proxy->palette().color(QPalette::Active, QPalette::Base), QColor(Qt::white));
    EXPECT_EQ(form.focusWidget(), proxy);

    QTest::keyClicks(Child<QLineEdit>(form, "Port_Edit"), QStringLiteral("x"));
    EXPECT_EQ(f.prompts.Notices(), QStringList{QStringLiteral("Digits Only|You can enter digits only in this field!")});
    EXPECT_EQ(Child<QLineEdit>(form, "Port_Edit")->text(), QStringLiteral("21"));
}

TEST(ProfilesSettForm, DeleteNeedsASelectionAndUpdatesBothLists)
{
    TSettFixture f;
    AccountStore(f.hooks.Folder).SaveProfile("One", false, "", "h", "u", "p", "21", false, false);
    AccountStore(f.hooks.Folder).SaveProfile("Two", false, "", "h", "u", "p", "21", false, false);
    TSettForm form(f.hooks);
    ShowAndSettle(form);
    Click(form, "ButDel");
    EXPECT_EQ(f.prompts.Notices(), QStringList{QStringLiteral("Delete Error|You need to select a profile to delete!")});
    EXPECT_EQ(f.quick.count(), 2);

    ClickItem(*Child<QListWidget>(form, "List_Prof"), QStringLiteral("One"));
    Click(form, "ButDel");
    EXPECT_EQ(ItemTexts(*Child<QListWidget>(form, "List_Prof")), QStringList{"Two"});
    EXPECT_EQ(f.quick.count(), 1);
    EXPECT_EQ(f.quick.currentText(), QStringLiteral("Two"));
    EXPECT_TRUE(Child<QLineEdit>(form, "Edit_Name")->text().isEmpty());
    EXPECT_EQ(f.prompts.Notices().size(), 1);
}

TEST(ProfilesSettForm, AWriteTheSystemRefusesReachesTheApplicationsErrorHandling)
{
    TSettFixture f;
    ASSERT_TRUE(QDir(f.folder.Path()).mkdir(QStringLiteral("Accounts.dat")));
    QStringList errors;
    Application::SetExceptionHook([&errors](const std::exception& e) { errors << QString::fromUtf8(e.what()); });
    TSettForm form(f.hooks);
    f.Fill(form, "Work", "ann", "secret", "ftp.work");
    Click(form, "ButSave");
    Application::SetExceptionHook({});
    EXPECT_EQ(errors, QStringList{QStringLiteral("Unable to write to ") + QString::fromStdString(f.folder.File())});
    EXPECT_EQ(Child<QLineEdit>(form, "Edit_Name")->text(), QStringLiteral("Work"));
}

TEST(ProfilesSettForm, WithoutAFolderTheApplicationFolderHoldsTheProfiles)
{
    TTempFolder folder;
    const QByteArray oldHome = qgetenv("TARVIK_HOME");
    qputenv("TARVIK_HOME", folder.Path().toLocal8Bit());
    EXPECT_EQ(AccountStore().FileName(), folder.File());
    AccountStore().SaveProfile("Here", false, "", "h", "u", "p", "21", false, false);
    QComboBox quick;
    FillQuickConnectList(quick);
    if (oldHome.isNull())
        qunsetenv("TARVIK_HOME");
    else
        qputenv("TARVIK_HOME", oldHome);
    EXPECT_TRUE(folder.Exists());
    EXPECT_EQ(quick.currentText(), QStringLiteral("Here"));
}

TEST(ProfilesSettForm, HelpOpensItsTopicInTheHelpFile)
{
    TSettFixture f;
    THelpFile::SetSearchFolders({f.folder.Path()});
    const QString helpFile = f.folder.Path() + QStringLiteral("/") + THelpFile::FileName();
    QFile file(helpFile);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    TSettForm form(f.hooks);
    Click(form, "ButHelp");
    ASSERT_EQ(f.shell.opened.size(), 1);
    EXPECT_EQ(f.shell.opened.first().toLocalFile(), helpFile);
    EXPECT_EQ(f.shell.opened.first().fragment(), QStringLiteral("IDH_settings"));

    QFile::remove(helpFile);
    Click(form, "ButHelp");
    THelpFile::SetSearchFolders({});
    EXPECT_EQ(f.shell.opened.size(), 1);
    ASSERT_EQ(f.prompts.Notices().size(), 1);
    EXPECT_TRUE(f.prompts.Notices().first().startsWith(QStringLiteral("Help|")));
}

} // namespace

namespace {

TEST(ProfilesSettForm, PassiveModeIsOnForNewProfilesAndKeptUnderItsOwnKey)
{
    TSettFixture f;
    TSettForm form(f.hooks);
    ShowAndSettle(form);
    auto* passive = Child<QCheckBox>(form, "PassiveBox");
    auto* password = Child<QLineEdit>(form, "Edit_Pass");
    EXPECT_TRUE(passive->isChecked());
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    EXPECT_EQ(Child<QLabel>(form, "StorageLabel")->text(),
              QStringLiteral("Passwords are stored in Accounts.dat (readable only by you)"));

    // Typed as a user types, the passive box clicked off, Enter in the port
    // field pressing nothing and refusing nothing.
    QTest::keyClicks(Child<QLineEdit>(form, "Edit_Name"), QStringLiteral("Active"));
    QTest::keyClicks(Child<QLineEdit>(form, "Edit_User"), QStringLiteral("dan"));
    QTest::keyClicks(password, QStringLiteral("pw"));
    QTest::keyClicks(Child<QLineEdit>(form, "Edit_Host"), QStringLiteral("ftp.lan"));
    auto* port = Child<QLineEdit>(form, "Port_Edit");
    QTest::keyClick(port, Qt::Key_Return);
    EXPECT_TRUE(f.prompts.Notices().isEmpty());
    QTest::mouseClick(passive, Qt::LeftButton);
    EXPECT_FALSE(passive->isChecked());
    Click(form, "ButSave");
    EXPECT_EQ(f.File().ReadString("Active", "PassiveMode", ""), "0");
    EXPECT_EQ(f.File().ReadString("Active", "Passive", ""), "0");
    EXPECT_EQ(f.File().ReadString("Active", "PassWord", ""), "pw");
    EXPECT_TRUE(passive->isChecked()); // cleared for the next new profile

    ClickItem(*Child<QListWidget>(form, "List_Prof"), QStringLiteral("Active"));
    EXPECT_FALSE(passive->isChecked());
    EXPECT_EQ(password->text(), QStringLiteral("pw"));
}

} // namespace
