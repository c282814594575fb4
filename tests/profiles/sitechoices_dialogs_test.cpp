// The "Encryption" and "Server encoding" choices and IPv6 hosts in the
// profile manager and the login dialog, driven with the mouse and keyboard.
#include "profiles/login.h"
#include "profiles/settform.h"

#include "dialogtest.h"
#include "profiles/accountstore.h"
#include "profiles/inifile.h"
#include "support/gui/scriptedprompts.h"
#include "tempfolder.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

namespace {

// Opens the combo's list with a click, walks to the item with the arrow
// keys and takes it with Enter, as a keyboard user does.
void Choose(QComboBox& combo, const QString& text)
{
    const int index = combo.findText(text);
    ASSERT_GE(index, 0) << text.toStdString();
    QTest::mouseClick(&combo, Qt::LeftButton);
    QAbstractItemView* view = combo.view();
    ASSERT_TRUE(QTest::qWaitFor([view] { return view->isVisible(); }, 2000));
    for (int row = view->currentIndex().row(); row < index; ++row)
        QTest::keyClick(view, Qt::Key_Down);
    for (int row = view->currentIndex().row(); row > index; --row)
        QTest::keyClick(view, Qt::Key_Up);
    QTest::keyClick(view, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([view] { return !view->isVisible(); }, 2000));
    ASSERT_EQ(combo.currentText(), text);
}

void TypeInto(QLineEdit& edit, const QString& text)
{
    edit.selectAll();
    QTest::keyClick(&edit, Qt::Key_Delete);
    QTest::keyClicks(&edit, text);
}

struct TChoicesFixture {
    TTempFolder folder;
    testsupport::ScriptedPrompts prompts;
    testsupport::RecordingShell shell;
    TProfileHooks hooks;

    TChoicesFixture() { hooks.Folder = folder.Path(); }

    TIniFile File() const
    {
        TIniFile file(folder.File());
        file.Load();
        return file;
    }
};

TEST(ProfilesSiteChoiceDialogs, TheProfileManagerSavesAndShowsBothChoices)
{
    TChoicesFixture f;
    // A profile from an older file: no choices stored.
    AccountStore(f.hooks.Folder).SaveProfile("Old", false, "", "old.host", "u", "p", "21", false, false);
    TSettForm form(f.hooks);
    ShowAndSettle(form);
    auto* encryption = Child<QComboBox>(form, "EncryptionBox");
    auto* encoding = Child<QComboBox>(form, "EncodingBox");
    auto* port = Child<QLineEdit>(form, "Port_Edit");
    EXPECT_EQ(encryption->currentText(), QStringLiteral("None (plain FTP)"));
    EXPECT_EQ(encoding->currentText(), QStringLiteral("Auto"));

    TypeInto(*Child<QLineEdit>(form, "Edit_Name"), QStringLiteral("Secure"));
    TypeInto(*Child<QLineEdit>(form, "Edit_User"), QStringLiteral("ann"));
    TypeInto(*Child<QLineEdit>(form, "Edit_Pass"), QStringLiteral("pw"));
    TypeInto(*Child<QLineEdit>(form, "Edit_Host"), QStringLiteral("[::1]"));
    // Implicit TLS with the port untouched: 990; back to explicit: 21.
    Choose(*encryption, QStringLiteral("Implicit TLS"));
    EXPECT_EQ(port->text(), QStringLiteral("990"));
    Choose(*encryption, QStringLiteral("Explicit TLS (required)"));
    EXPECT_EQ(port->text(), QStringLiteral("21"));
    // A port the user typed stays.
    TypeInto(*port, QStringLiteral("2990"));
    Choose(*encryption, QStringLiteral("Implicit TLS"));
    EXPECT_EQ(port->text(), QStringLiteral("2990"));
    Choose(*encoding, QStringLiteral("Latin-1"));
    QTest::mouseClick(Child<QPushButton>(form, "ButSave"), Qt::LeftButton);
    EXPECT_TRUE(f.prompts.Records().empty());

    const TIniFile file = f.File();
    EXPECT_EQ(file.ReadString("Secure", "HostName", ""), "::1");
    EXPECT_EQ(file.ReadString("Secure", "Port", ""), "2990");
    EXPECT_EQ(file.ReadString("Secure", "Encryption", ""), "implicit");
    EXPECT_EQ(file.ReadString("Secure", "Server encoding", ""), "Latin-1");
    EXPECT_FALSE(file.Read("Old", "Encryption").has_value());
    // Saving cleared the fields, choices included.
    EXPECT_EQ(encryption->currentText(), QStringLiteral("None (plain FTP)"));
    EXPECT_EQ(encoding->currentText(), QStringLiteral("Auto"));

    auto* list = Child<QListWidget>(form, "List_Prof");
    ClickItem(*list, QStringLiteral("Secure"));
    EXPECT_EQ(encryption->currentText(), QStringLiteral("Implicit TLS"));
    EXPECT_EQ(encoding->currentText(), QStringLiteral("Latin-1"));
    EXPECT_EQ(port->text(), QStringLiteral("2990"));
    ClickItem(*list, QStringLiteral("Old"));
    EXPECT_EQ(encryption->currentText(), QStringLiteral("None (plain FTP)"));
    EXPECT_EQ(encoding->currentText(), QStringLiteral("Auto"));

    // A bracketed address with a port fills both fields.
    QTest::mouseClick(Child<QPushButton>(form, "Button1"), Qt::LeftButton);
    TypeInto(*Child<QLineEdit>(form, "Edit_Name"), QStringLiteral("V6"));
    TypeInto(*Child<QLineEdit>(form, "Edit_User"), QStringLiteral("bob"));
    TypeInto(*Child<QLineEdit>(form, "Edit_Pass"), QStringLiteral("pw"));
    TypeInto(*Child<QLineEdit>(form, "Edit_Host"), QStringLiteral("[2001:db8::5]:2121"));
    QTest::mouseClick(Child<QPushButton>(form, "ButSave"), Qt::LeftButton);
    EXPECT_EQ(f.File().ReadString("V6", "HostName", ""), "2001:db8::5");
    EXPECT_EQ(f.File().ReadString("V6", "Port", ""), "2121");
    EXPECT_EQ(f.File().ReadString("V6", "Encryption", ""), "none");
}

TEST(ProfilesSiteChoiceDialogs, TheLoginDialogHandsTheChoicesAndAnIPv6HostToTheSession)
{
    TChoicesFixture f;
    AccountStore(f.hooks.Folder)
        .SaveProfile("Stored", false, "", "::1", "u", "p", "2121", false, false, true,
                     {TFtpEncryption::ExplicitIfOffered, TFtpServerEncoding::Utf8});
    std::vector<TSiteFields> sessions;
    {
        TLogForm form(f.hooks);
        form.OnOpenSession = [&sessions](const TSiteFields& fields) { sessions.push_back(fields); };
        ShowAndSettle(form);
        auto* encryption = Child<QComboBox>(form, "EncryptionBox");
        auto* port = Child<QLineEdit>(form, "Port_Edit");
        TypeInto(*Child<QLineEdit>(form, "Host_Edit"), QStringLiteral("[::1]:2121"));
        TypeInto(*Child<QLineEdit>(form, "User_Edit"), QStringLiteral("ann"));
        TypeInto(*Child<QLineEdit>(form, "Pass_Edit"), QStringLiteral("pw"));
        Choose(*encryption, QStringLiteral("Implicit TLS"));
        EXPECT_EQ(port->text(), QStringLiteral("990"));
        Choose(*Child<QComboBox>(form, "EncodingBox"), QStringLiteral("UTF-8"));
        QTest::mouseClick(Child<QPushButton>(form, "Button1"), Qt::LeftButton);
    }
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].SiteHost, "::1");
    EXPECT_EQ(sessions[0].SitePort, "2121");
    EXPECT_EQ(sessions[0].SiteEncryption, TFtpEncryption::Implicit);
    EXPECT_EQ(sessions[0].SiteEncoding, TFtpServerEncoding::Utf8);

    {
        TLogForm form(f.hooks);
        form.OnOpenSession = [&sessions](const TSiteFields& fields) { sessions.push_back(fields); };
        ShowAndSettle(form);
        auto* list = Child<QListWidget>(form, "List_Prof");
        ClickItem(*list, QStringLiteral("Stored"));
        EXPECT_EQ(Child<QComboBox>(form, "EncryptionBox")->currentText(), QStringLiteral("Explicit TLS if offered"));
        EXPECT_EQ(Child<QLineEdit>(form, "Port_Edit")->text(), QStringLiteral("2121"));
        QTest::mouseClick(Child<QPushButton>(form, "Button1"), Qt::LeftButton);
    }
    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_EQ(sessions[1].SiteHost, "::1");
    EXPECT_EQ(sessions[1].SiteEncryption, TFtpEncryption::ExplicitIfOffered);
    EXPECT_EQ(sessions[1].SiteEncoding, TFtpServerEncoding::Utf8);
    EXPECT_TRUE(f.prompts.Records().empty());
}

} // namespace
