// Profile passwords in a real Secret Service (gnome-keyring in a private
// D-Bus session, started by the with-keyring wrapper).
#include "profiles/accountstore.h"
#include "profiles/inifile.h"
#include "profiles/passwordvault.h"
#include "profiles/settform.h"

#include "dialogtest.h"
#include "support/gui/scriptedprompts.h"
#include "tempfolder.h"

#include <QLabel>
#include <QPushButton>
#include <QLineEdit>
#include <QListWidget>

#include <cstdlib>

namespace {

class Keyring : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The dialog tests' main keeps keyrings out; this test wants one.
        unsetenv("TARVIK_NO_KEYRING");
        if (const char* reason = std::getenv("TARVIK_KEYRING_UNAVAILABLE"))
            GTEST_SKIP() << "No Secret Service for this test: " << reason;
        if (!std::getenv("DBUS_SESSION_BUS_ADDRESS"))
            GTEST_SKIP() << "No Secret Service for this test: run it through tests/profiles/with-keyring";
        ASSERT_TRUE(passwordvault::Available()) << "gnome-keyring started but no Secret Service answered";
    }

    TIniFile File() const
    {
        TIniFile file(folder.File());
        file.Load();
        return file;
    }

    TTempFolder folder;
    testsupport::ScriptedPrompts prompts;
};

TEST_F(Keyring, SavingMovesEveryPasswordIntoTheKeyringAndLoadingFindsThem)
{
    const TRegistrySet store = AccountStore(folder.Path());
    // Written while no keyring ran: the passwords stand in the file.
    store.SaveProfile("Old", false, "", "old.host", "ann", "old secret", "21", false, false);
    ASSERT_EQ(File().ReadString("Old", "PassWord", ""), "old secret");

    SaveAccount(store, QStringLiteral("New"), false, QString(), QStringLiteral("new.host"), QStringLiteral("bob"),
                QStringLiteral("new secret"), QStringLiteral("2121"), false, false, true);
    EXPECT_EQ(File().ReadString("New", "PassWord", "missing"), "");
    EXPECT_EQ(File().ReadString("Old", "PassWord", "missing"), "");
    EXPECT_EQ(File().ReadString("New", "HostName", ""), "new.host");
    EXPECT_EQ(passwordvault::Read(QString::fromStdString(store.FileName()), QStringLiteral("New")),
              QStringLiteral("new secret"));

    TSiteFields fields;
    LoadQuickConnectFields(store, QStringLiteral("Old"), fields);
    EXPECT_EQ(fields.SitePassword, "old secret");
    EXPECT_EQ(fields.SiteHost, "old.host");

    // Another account file keeps its own entries.
    TTempFolder other;
    EXPECT_EQ(AccountPassword(AccountStore(other.Path()), QStringLiteral("New"), QString()), QString());

    DeleteAccount(store, QStringLiteral("New"));
    EXPECT_FALSE(passwordvault::Read(QString::fromStdString(store.FileName()), QStringLiteral("New")).has_value());
    EXPECT_EQ(ProfileNames(folder.Path()), QStringList{QStringLiteral("Old")});
}

TEST_F(Keyring, TheProfileManagerShowsTheKeyringsPasswordAndSaysWhereItIs)
{
    TProfileHooks hooks;
    hooks.Folder = folder.Path();
    TSettForm form(hooks);
    ShowAndSettle(form);
    EXPECT_EQ(Child<QLabel>(form, "StorageLabel")->text(),
              QStringLiteral("Passwords are stored in the desktop keyring"));
    Child<QLineEdit>(form, "Edit_Name")->setText(QStringLiteral("Site"));
    Child<QLineEdit>(form, "Edit_User")->setText(QStringLiteral("carol"));
    Child<QLineEdit>(form, "Edit_Pass")->setText(QStringLiteral("pw in keyring"));
    Child<QLineEdit>(form, "Edit_Host")->setText(QStringLiteral("ftp.site"));
    Child<QPushButton>(form, "ButSave")->click();
    EXPECT_TRUE(prompts.Notices().isEmpty());
    EXPECT_EQ(File().ReadString("Site", "PassWord", "missing"), "");

    ClickItem(*Child<QListWidget>(form, "List_Prof"), QStringLiteral("Site"));
    EXPECT_EQ(Child<QLineEdit>(form, "Edit_Pass")->text(), QStringLiteral("pw in keyring"));
    EXPECT_EQ(Child<QLineEdit>(form, "Edit_Pass")->echoMode(), QLineEdit::Password);
}

} // namespace
