#include "dialogs/chmod.h"
#include "ui/helpfile.h"
#include "support/gui/scriptedprompts.h"

#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

QPushButton* Button(const TFormMod& form, const char* name)
{
    return form.findChild<QPushButton*>(QString::fromLatin1(name));
}

void SetBoxes(TFormMod& form, std::initializer_list<int> checked)
{
    for (int i = 0; i < 9; ++i)
        form.Box(i)->setChecked(false);
    for (int i : checked)
        form.Box(i)->setChecked(true);
}

TEST(FormMod, TextsAndDefaults)
{
    TFormMod form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("File Permissions"));
    EXPECT_EQ(form.findChild<QLabel*>(QStringLiteral("Label1"))->text(),
              QStringLiteral("Choose the permissions you would like to set and click OK. These commands are "
                             "usually only available on UNIX servers."));
    EXPECT_EQ(form.findChild<QGroupBox*>(QStringLiteral("GroupBox1"))->title(), QStringLiteral("Owner Permissions"));
    EXPECT_EQ(form.findChild<QGroupBox*>(QStringLiteral("GroupBox2"))->title(), QStringLiteral("Group Permissions"));
    EXPECT_EQ(form.findChild<QGroupBox*>(QStringLiteral("GroupBox3"))->title(), QStringLiteral("Other Permissions"));
    const char* captions[3] = {"Readable", "Writable", "Executable"};
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(form.Box(i)->text(), QString::fromLatin1(captions[i % 3])) << i;
        EXPECT_EQ(form.Box(i)->objectName(), QStringLiteral("CheckBox%1").arg(i + 1));
    }
    EXPECT_EQ(form.findChild<QLabel*>(QStringLiteral("Label2"))->text(), QStringLiteral("CHMOD:"));
    EXPECT_EQ(Button(form, "Button1")->text(), QStringLiteral("&OK"));
    EXPECT_EQ(Button(form, "Button2")->text(), QStringLiteral("&Cancel"));
    EXPECT_EQ(Button(form, "ButHelp")->text(), QStringLiteral("&Help"));
    EXPECT_EQ(form.ShownMode(), QStringLiteral("644"));
    EXPECT_TRUE(form.ModeText.isEmpty());
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMinMaxButtonsHint);
}

TEST(FormMod, EveryBoxGivesItsOctalDigit)
{
    TFormMod form;
    const char* expected[9] = {"400", "200", "100", "40", "20", "10", "4", "2", "1"};
    for (int i = 0; i < 9; ++i) {
        SetBoxes(form, {});
        EXPECT_TRUE(form.ShownMode().isEmpty());
        // A real click, so the label follows what the user does.
        QTest::mouseClick(form.Box(i), Qt::LeftButton, {}, QPoint(6, form.Box(i)->height() / 2));
        EXPECT_TRUE(form.Box(i)->isChecked()) << i;
        EXPECT_EQ(form.ShownMode(), QString::fromLatin1(expected[i])) << i;
    }
}

TEST(FormMod, ModeLeavesOutLeadingZeroDigits)
{
    TFormMod form;
    SetBoxes(form, {0, 1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(form.ShownMode(), QStringLiteral("777"));
    SetBoxes(form, {6});
    EXPECT_EQ(form.ShownMode(), QStringLiteral("4"));
    SetBoxes(form, {4, 8});
    EXPECT_EQ(form.ShownMode(), QStringLiteral("21"));
    SetBoxes(form, {0, 8});
    EXPECT_EQ(form.ShownMode(), QStringLiteral("401"));
    EXPECT_EQ(TFormMod::FormatMode(0, 0, 0), QString());
    EXPECT_EQ(TFormMod::FormatMode(7, 5, 5), QStringLiteral("755"));
    EXPECT_EQ(TFormMod::FormatMode(0, 4, 0), QStringLiteral("40"));
}

TEST(FormMod, OkGivesTheModeAndClearedBoxesGiveNone)
{
    TFormMod form;
    QTimer::singleShot(0, &form, [&form] {
        form.Box(2)->setChecked(true);
        QTest::mouseClick(Button(form, "Button1"), Qt::LeftButton);
    });
    EXPECT_EQ(form.exec(), QDialog::Accepted);
    EXPECT_FALSE(form.Cancelled);
    EXPECT_EQ(form.ModeText, QStringLiteral("744"));

    TFormMod empty;
    QTimer::singleShot(0, &empty, [&empty] {
        SetBoxes(empty, {});
        empty.Button1Click();
    });
    empty.exec();
    EXPECT_FALSE(empty.Cancelled);
    EXPECT_TRUE(empty.ModeText.isEmpty());
}

TEST(FormMod, CancelEscapeAndCloseAllCountAsCancel)
{
    for (int way = 0; way < 3; ++way) {
        TFormMod form;
        QTimer::singleShot(0, &form, [&form, way] {
            SetBoxes(form, {0, 1, 2});
            if (way == 0)
                QTest::mouseClick(Button(form, "Button2"), Qt::LeftButton);
            else if (way == 1)
                QTest::keyClick(&form, Qt::Key_Escape);
            else
                form.close();
        });
        EXPECT_EQ(form.exec(), QDialog::Rejected) << way;
        EXPECT_TRUE(form.Cancelled) << way;
        EXPECT_TRUE(form.ModeText.isEmpty()) << way;
    }
}

TEST(FormMod, ShowingAgainAfterOkRaisesCancelledUntilOk)
{
    TFormMod form;
    form.Button1Click();
    EXPECT_FALSE(form.Cancelled);
    QTimer::singleShot(0, &form, [&form] { form.close(); });
    form.exec();
    EXPECT_TRUE(form.Cancelled);
}

TEST(FormMod, HelpOpensTheChmodTopic)
{
    testsupport::ScriptedPrompts prompts;
    testsupport::RecordingShell shell;
    QTemporaryDir folder;
    QFile help(folder.filePath(THelpFile::FileName()));
    ASSERT_TRUE(help.open(QIODevice::WriteOnly));
    help.close();
    THelpFile::SetSearchFolders({folder.path()});
    TFormMod form;
    QTest::mouseClick(Button(form, "ButHelp"), Qt::LeftButton);
    THelpFile::SetSearchFolders({});
    ASSERT_EQ(shell.opened.size(), 1);
    EXPECT_EQ(shell.opened[0].toLocalFile(), help.fileName());
    EXPECT_EQ(shell.opened[0].fragment(), QStringLiteral("IDH_chmod"));
    EXPECT_TRUE(prompts.Records().isEmpty());
    EXPECT_FALSE(form.isVisible()); // help does not end the dialog
}

} // namespace
