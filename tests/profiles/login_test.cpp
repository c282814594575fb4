#include "profiles/login.h"

#include "dialogtest.h"
#include "ui/helpfile.h"
#include "profiles/accountstore.h"
#include "support/gui/scriptedprompts.h"
#include "tempfolder.h"

#include <QCheckBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

#include <optional>

namespace {

const QString kLoginError = QStringLiteral(
    "Login Error|You must provide a username, password and host address to connect");

// A login dialog over a fresh folder, recording what it asks of the main
// window.
struct TLoginFixture {
    TTempFolder folder;
    testsupport::ScriptedPrompts prompts;
    testsupport::RecordingShell shell;
    TProfileHooks hooks;
    int aborts = 0;
    std::vector<TSiteFields> sessions;
    bool visibleDuringSession = false;

    TLoginFixture() { hooks.Folder = folder.Path(); }

    void Attach(TLogForm& form)
    {
        form.OnAbort = [this] { ++aborts; };
        form.OnOpenSession = [this, &form](const TSiteFields& fields) {
            visibleDuringSession = form.isVisible();
            sessions.push_back(fields);
        };
    }

    void Type(TLogForm& form, const QString& host, const QString& user, const QString& pass)
    {
        Child<QLineEdit>(form, "Host_Edit")->setText(host);
        Child<QLineEdit>(form, "User_Edit")->setText(user);
        Child<QLineEdit>(form, "Pass_Edit")->setText(pass);
    }
};

void Click(TLogForm& form, const char* button) { Child<QPushButton>(form, button)->click(); }

TEST(ProfilesLogForm, ConnectNeedsHostUserAndPassword)
{
    TLoginFixture f;
    TLogForm form(f.hooks);
    f.Attach(form);
    ShowAndSettle(form);
    EXPECT_EQ(form.windowTitle(), QStringLiteral("User Login"));
    auto* pass = Child<QLineEdit>(form, "Pass_Edit");
    EXPECT_EQ(pass->echoMode(), QLineEdit::Password);
    EXPECT_EQ(pass->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, pass), int('*'));

    for (const auto& [host, user, pass] :
         {std::tuple{"", "u", "p"}, std::tuple{"h", "", "p"}, std::tuple{"h", "u", ""}}) {
        f.Type(form, QString::fromLatin1(host), QString::fromLatin1(user), QString::fromLatin1(pass));
        Click(form, "Button1");
    }
    EXPECT_EQ(f.prompts.Notices(), (QStringList{kLoginError, kLoginError, kLoginError}));
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.ConnectChosen());
    EXPECT_TRUE(f.sessions.empty());
}

TEST(ProfilesLogForm, DirectConnectUsesTheTypedPort)
{
    TLoginFixture f;
    TLogForm form(f.hooks);
    f.Attach(form);
    ShowAndSettle(form);
    f.Type(form, QStringLiteral("ftp.example.org"), QStringLiteral("ann"), QStringLiteral("secret"));
    auto* port = Child<QLineEdit>(form, "Port_Edit");
    port->clear();
    QTest::keyClicks(port, QStringLiteral("990"));
    Click(form, "Button1");

    ASSERT_EQ(f.sessions.size(), 1u);
    EXPECT_TRUE(f.visibleDuringSession);
    const TSiteFields& s = f.sessions.front();
    EXPECT_EQ(s.SiteHost, "ftp.example.org");
    EXPECT_EQ(s.SiteUser, "ann");
    EXPECT_EQ(s.SitePassword, "secret");
    EXPECT_EQ(s.SitePort, "990");
    // "Passive mode" is on unless the user turns it off.
    EXPECT_TRUE(s.SitePassive);
    EXPECT_FALSE(s.SiteProxy);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_TRUE(form.ConnectChosen());
    EXPECT_EQ(form.SiteFields().SitePort, "990");
    EXPECT_EQ(f.aborts, 0);
}

TEST(ProfilesLogForm, ProxyConnectGoesToTheProxyAsUserAtHost)
{
    TLoginFixture f;
    TLogForm form(f.hooks);
    f.Attach(form);
    ShowAndSettle(form);
    f.Type(form, QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("pw"));
    QTest::mouseClick(Child<QCheckBox>(form, "CheckProxy"), Qt::LeftButton);
    auto* proxy = Child<QLineEdit>(form, "Proxy_Edit");
    EXPECT_TRUE(proxy->isEnabled());
    EXPECT_EQ(form.focusWidget(), proxy);
    QTest::keyClicks(proxy, QStringLiteral("p"));
    Child<QLineEdit>(form, "Port_Edit")->setText(QStringLiteral("8021"));
    Click(form, "Button1");

    ASSERT_EQ(f.sessions.size(), 1u);
    const TSiteFields& s = f.sessions.front();
    EXPECT_EQ(s.SiteHost, "p");
    EXPECT_EQ(s.SiteUser, "u@h");
    EXPECT_EQ(s.SitePort, "8021");
    EXPECT_TRUE(s.SitePassive);
    EXPECT_TRUE(s.SiteProxy);
}

TEST(ProfilesLogForm, AnEmptyPortMeansTheFtpPort)
{
    for (const bool proxy : {false, true}) {
        TLoginFixture f;
        TLogForm form(f.hooks);
        f.Attach(form);
        ShowAndSettle(form);
        f.Type(form, QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("pw"));
        Child<QCheckBox>(form, "CheckProxy")->setChecked(proxy);
        Child<QLineEdit>(form, "Port_Edit")->clear();
        Click(form, "Button1");
        ASSERT_EQ(f.sessions.size(), 1u);
        EXPECT_EQ(f.sessions.front().SitePort, "21") << proxy;
    }
}

TEST(ProfilesLogForm, CancelEscapeAndTheCloseBoxNeverConnect)
{
    TLoginFixture f;
    {
        TLogForm form(f.hooks);
        f.Attach(form);
        ShowAndSettle(form);
        f.Type(form, QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("pw"));
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        Click(form, "Button2");
        EXPECT_FALSE(form.isVisible());
        EXPECT_EQ(form.result(), QDialog::Rejected);
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }
    EXPECT_EQ(f.aborts, 1);
    {
        TLogForm form(f.hooks);
        f.Attach(form);
        ShowAndSettle(form);
        f.Type(form, QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("pw"));
        QTest::keyClick(Child<QLineEdit>(form, "Host_Edit"), Qt::Key_Escape);
        EXPECT_FALSE(form.isVisible());
    }
    EXPECT_EQ(f.aborts, 2);
    {
        TLogForm form(f.hooks);
        f.Attach(form);
        ShowAndSettle(form);
        f.Type(form, QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("pw"));
        form.close();
        EXPECT_FALSE(form.isVisible());
        EXPECT_FALSE(form.ConnectChosen());
    }
    EXPECT_EQ(f.aborts, 2);
    EXPECT_TRUE(f.sessions.empty());
}

TEST(ProfilesLogForm, AnonymousBoxFillsTheUserAndLeavesThePassword)
{
    TLoginFixture f;
    TLogForm form(f.hooks);
    f.Attach(form);
    ShowAndSettle(form);
    f.Type(form, QStringLiteral("ftp.pub"), QStringLiteral("ann"), QString());
    auto* anon = Child<QCheckBox>(form, "AnonBox");
    QTest::mouseClick(anon, Qt::LeftButton);
    EXPECT_EQ(Child<QLineEdit>(form, "User_Edit")->text(), QStringLiteral("anonymous"));
    EXPECT_TRUE(Child<QLineEdit>(form, "Pass_Edit")->text().isEmpty());
    Child<QLineEdit>(form, "User_Edit")->setText(QStringLiteral("kept"));
    QTest::mouseClick(anon, Qt::LeftButton);
    EXPECT_EQ(Child<QLineEdit>(form, "User_Edit")->text(), QStringLiteral("kept"));

    // An anonymous login still needs a password.
    Click(form, "Button1");
    EXPECT_EQ(f.prompts.Notices(), QStringList{kLoginError});
}

TEST(ProfilesLogForm, ProfilesLoadOnClickAndConnectOnDoubleClick)
{
    TLoginFixture f;
    AccountStore(f.hooks.Folder).SaveProfile("Proxied", true, "proxy.lan", "ftp.far", "ann", "pw", "2121", false, true);
    AccountStore(f.hooks.Folder).SaveProfile("Plain", false, "", "ftp.near", "bob", "pw2", "990", false, false);
    TLogForm form(f.hooks);
    f.Attach(form);
    ShowAndSettle(form);
    auto* list = Child<QListWidget>(form, "List_Prof");
    EXPECT_EQ(ItemTexts(*list), (QStringList{"Proxied", "Plain"}));

    ClickItem(*list, QStringLiteral("Proxied"));
    EXPECT_EQ(Child<QLineEdit>(form, "Edit_Name")->text(), QStringLiteral("Proxied"));
    EXPECT_EQ(Child<QLineEdit>(form, "Host_Edit")->text(), QStringLiteral("ftp.far"));
    EXPECT_EQ(Child<QLineEdit>(form, "Proxy_Edit")->text(), QStringLiteral("proxy.lan"));
    EXPECT_TRUE(Child<QLineEdit>(form, "Proxy_Edit")->isEnabled());
    EXPECT_EQ(Child<QLineEdit>(form, "Port_Edit")->text(), QStringLiteral("2121"));

    // Clicking empty space selects nothing and changes nothing.
    list->clearSelection();
    const QPoint below(4, list->viewport()->height() - 4);
    ASSERT_EQ(list->itemAt(below), nullptr);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, below);
    EXPECT_EQ(Child<QLineEdit>(form, "Host_Edit")->text(), QStringLiteral("ftp.far"));
    EXPECT_TRUE(f.sessions.empty());

    const QList<QListWidgetItem*> plain = list->findItems(QStringLiteral("Plain"), Qt::MatchExactly);
    ASSERT_EQ(plain.size(), 1);
    const QPoint at = list->visualItemRect(plain.first()).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    ASSERT_EQ(f.sessions.size(), 1u);
    EXPECT_EQ(f.sessions.front().SiteHost, "ftp.near");
    EXPECT_EQ(f.sessions.front().SiteUser, "bob");
    EXPECT_EQ(f.sessions.front().SitePort, "990");
    EXPECT_FALSE(f.sessions.front().SitePassive);
    EXPECT_FALSE(form.isVisible());
}

TEST(ProfilesLogForm, TheProfileManagerOpensFromItAndTheListFollows)
{
    TLoginFixture f;
    int quickFills = 0;
    f.hooks.FillQuickConnectList = [&quickFills] { ++quickFills; };
    TLogForm form(f.hooks);
    f.Attach(form);
    ShowAndSettle(form);
    EXPECT_EQ(Child<QListWidget>(form, "List_Prof")->count(), 0);

    bool sawManager = false;
    QTimer::singleShot(0, [&] {
        QWidget* manager = QApplication::activeModalWidget();
        if (manager == nullptr || manager->windowTitle() != QStringLiteral("Profile Settings"))
            return;
        sawManager = true;
        Child<QLineEdit>(*manager, "Edit_Name")->setText(QStringLiteral("New one"));
        Child<QLineEdit>(*manager, "Edit_User")->setText(QStringLiteral("u"));
        Child<QLineEdit>(*manager, "Edit_Pass")->setText(QStringLiteral("p"));
        Child<QLineEdit>(*manager, "Edit_Host")->setText(QStringLiteral("h"));
        Child<QPushButton>(*manager, "ButSave")->click();
        Child<QPushButton>(*manager, "ButCancel")->click();
    });
    Click(form, "Button3");
    EXPECT_TRUE(sawManager);
    EXPECT_EQ(ItemTexts(*Child<QListWidget>(form, "List_Prof")), QStringList{"New one"});
    EXPECT_EQ(quickFills, 2);
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(f.sessions.empty());
}

TEST(ProfilesLogForm, PortFieldTakesDigitsOnlyAndHelpOpensItsTopic)
{
    TLoginFixture f;
    THelpFile::SetSearchFolders({f.folder.Path()});
    QFile file(f.folder.Path() + QStringLiteral("/") + THelpFile::FileName());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    TLogForm form(f.hooks);
    ShowAndSettle(form);
    auto* port = Child<QLineEdit>(form, "Port_Edit");
    port->setCursorPosition(2);
    QTest::keyClicks(port, QStringLiteral("a"));
    EXPECT_EQ(port->text(), QStringLiteral("21"));
    EXPECT_EQ(f.prompts.Notices(), QStringList{QStringLiteral("Digits Only|You can enter digits only in this field!")});
    QTest::keyClick(port, Qt::Key_Backspace);
    EXPECT_EQ(port->text(), QStringLiteral("2"));

    Click(form, "ButHelp");
    THelpFile::SetSearchFolders({});
    ASSERT_EQ(f.shell.opened.size(), 1);
    EXPECT_EQ(f.shell.opened.first().fragment(), QStringLiteral("IDH_login"));
}

} // namespace

namespace {

TEST(ProfilesLogForm, ThePassiveBoxDecidesWithoutAProxy)
{
    TLoginFixture f;
    TLogForm form(f.hooks);
    f.Attach(form);
    ShowAndSettle(form);
    auto* passive = Child<QCheckBox>(form, "PassiveBox");
    EXPECT_TRUE(passive->isChecked());
    f.Type(form, QStringLiteral("ftp.example.org"), QStringLiteral("ann"), QStringLiteral("secret"));
    QTest::mouseClick(passive, Qt::LeftButton);
    EXPECT_FALSE(passive->isChecked());
    // Enter in the port field refuses nothing.
    QTest::keyClick(Child<QLineEdit>(form, "Port_Edit"), Qt::Key_Return);
    EXPECT_TRUE(f.prompts.Notices().isEmpty());
    Click(form, "Button1");
    ASSERT_EQ(f.sessions.size(), 1u);
    EXPECT_FALSE(f.sessions.front().SitePassive);
}

} // namespace
