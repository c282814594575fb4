#include "ui/digitsonlyfilter.h"

#include "support/gui/scriptedprompts.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

namespace {

const QString kDigitsOnly = QStringLiteral("Digits Only|You can enter digits only in this field!");

TEST(ProfilesDigitsOnlyFilter, DigitsAndBackspacePassEverythingTypedElseIsRefused)
{
    testsupport::ScriptedPrompts prompts;
    QLineEdit field;
    TDigitsOnlyFilter::Install(&field);

    QTest::keyClicks(&field, QStringLiteral("1a2"));
    EXPECT_EQ(field.text(), QStringLiteral("12"));
    EXPECT_EQ(prompts.Notices(), QStringList{kDigitsOnly});
    EXPECT_EQ(prompts.Records().first().noticeKind, 0);

    QTest::keyClick(&field, Qt::Key_Backspace);
    EXPECT_EQ(field.text(), QStringLiteral("1"));

    prompts.Clear();
    QTest::keyClick(&field, Qt::Key_Space);
    QTest::keyClick(&field, Qt::Key_Minus);
    QTest::keyClick(&field, Qt::Key_B, Qt::ControlModifier); // a control character
    EXPECT_EQ(field.text(), QStringLiteral("1"));
    EXPECT_EQ(prompts.Notices().size(), 3);

    // Enter acts on the form, as in any other field.
    QTest::keyClick(&field, Qt::Key_Return);
    QTest::keyClick(&field, Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(field.text(), QStringLiteral("1"));
    EXPECT_EQ(prompts.Notices().size(), 3);
}

TEST(ProfilesDigitsOnlyFilter, KeysThatTypeNothingStillEdit)
{
    testsupport::ScriptedPrompts prompts;
    QLineEdit field;
    TDigitsOnlyFilter::Install(&field);
    field.setText(QStringLiteral("990"));
    field.setCursorPosition(3);

    QTest::keyClick(&field, Qt::Key_Home);
    QTest::keyClick(&field, Qt::Key_Delete);
    QTest::keyClick(&field, Qt::Key_End);
    QTest::keyClick(&field, Qt::Key_Left);
    QTest::keyClicks(&field, QStringLiteral("2"));
    EXPECT_EQ(field.text(), QStringLiteral("920"));
    EXPECT_TRUE(prompts.Notices().isEmpty());
}

TEST(ProfilesDigitsOnlyFilter, CommittedInputMethodTextIsFilteredToo)
{
    testsupport::ScriptedPrompts prompts;
    QLineEdit field;
    TDigitsOnlyFilter::Install(&field);

    QInputMethodEvent letters;
    letters.setCommitString(QStringLiteral("ab"));
    QApplication::sendEvent(&field, &letters);
    QInputMethodEvent digits;
    digits.setCommitString(QStringLiteral("21"));
    QApplication::sendEvent(&field, &digits);
    EXPECT_EQ(field.text(), QStringLiteral("21"));
    EXPECT_EQ(prompts.Notices(), QStringList{kDigitsOnly});
}

} // namespace
