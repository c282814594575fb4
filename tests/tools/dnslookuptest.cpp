// The DNS lookup window against the system's resolver (numeric addresses,
// "localhost", a name that cannot exist) and its cancel.
#include "toolwindowstest.h"

#include "platform/icmpapi.h"
#include "dialogs/tools/dnslookup.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <memory>

namespace {

class ToolsDnsWindow : public toolwintest::EchoWindowTest {
protected:
    static void ExpectIdle(const TFormDns& form)
    {
        EXPECT_FALSE(form.LookingUp());
        EXPECT_TRUE(form.Button1->isEnabled());
        EXPECT_FALSE(form.Button2->isEnabled());
        EXPECT_NE(form.cursor().shape(), Qt::WaitCursor);
    }
};

TEST_F(ToolsDnsWindow, EmptyNameDoesNothingAndADottedAddressAnswersAtOnce)
{
    TFormDns form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Domain Lookup"));
    EXPECT_EQ(form.Label3->text(), QStringLiteral("Type in a domain name to lookup. Click \"Lookup Dns\" and the IP "
                                                  "Address will return in the IP Address field."));
    EXPECT_TRUE(form.Edit2->isReadOnly());
    ExpectIdle(form);

    QTest::mouseClick(form.Button1, Qt::LeftButton);
    ExpectIdle(form);
    EXPECT_TRUE(form.Edit2->text().isEmpty());

    form.Edit1->setText(QStringLiteral("127.1"));
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    // No event loop has run: the answer came inside the click.
    EXPECT_EQ(form.Edit2->text(), QStringLiteral("127.0.0.1"));
    ExpectIdle(form);
}

TEST_F(ToolsDnsWindow, NameIsLookedUpInTheBackgroundAfterTheFieldIsEmptied)
{
    TFormDns form;
    form.show();
    form.Edit1->setText(QStringLiteral("127.0.0.1"));
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    ASSERT_EQ(form.Edit2->text(), QStringLiteral("127.0.0.1"));

    form.Edit1->setText(QStringLiteral("localhost"));
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    EXPECT_TRUE(form.LookingUp());
    EXPECT_TRUE(form.Edit2->text().isEmpty());
    EXPECT_FALSE(form.Button1->isEnabled());
    EXPECT_TRUE(form.Button2->isEnabled());
    EXPECT_EQ(form.cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(form.Button2->cursor().shape(), Qt::ArrowCursor);
    toolwintest::Shoot(form, "dns-busy");

    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.LookingUp(); }, 10000));
    EXPECT_EQ(form.Edit2->text(), QStringLiteral("127.0.0.1"));
    ExpectIdle(form);
    toolwintest::Shoot(form, "dns");

    form.Edit1->setText(QStringLiteral("nonexistent.invalid"));
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.LookingUp(); }, 20000));
    EXPECT_EQ(form.Edit2->text(), QStringLiteral("Host not found"));
    ExpectIdle(form);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(ToolsDnsWindow, CancelShowsHostNotFoundAndTheLateAnswerIsDropped)
{
    TFormDns form;
    form.Edit1->setText(QStringLiteral("localhost"));
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    ASSERT_TRUE(form.LookingUp());
    QTest::mouseClick(form.Button2, Qt::LeftButton);
    EXPECT_EQ(form.Edit2->text(), QStringLiteral("Host not found"));
    ExpectIdle(form);
    QTest::qWait(300);
    EXPECT_EQ(form.Edit2->text(), QStringLiteral("Host not found"));
    // Cancel with nothing pending changes nothing.
    QTest::mouseClick(form.Button2, Qt::LeftButton);
    ExpectIdle(form);
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(ToolsDnsWindow, ClosingWithALookupPendingLeavesNothingBehind)
{
    auto form = std::make_unique<TFormDns>();
    form->show();
    form->Edit1->setText(QStringLiteral("localhost"));
    QTest::mouseClick(form->Button1, Qt::LeftButton);
    ASSERT_TRUE(form->LookingUp());
    QTest::keyClick(form.get(), Qt::Key_Escape);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), QDialog::Rejected);
    form.reset();
    QTest::qWait(300);
}

TEST(ToolsWindows, LookupWindowWithoutItsEngineIsReportedNotFatal)
{
    testsupport::ScriptedPrompts prompts;
    SetIcmpLibraryLoadFailure(true);
    TFormDns::Execute(nullptr);
    SetIcmpLibraryLoadFailure(false);
    EXPECT_EQ(prompts.Notices(), QStringList{QStringLiteral("Domain Lookup|Unable to register icmp.dll")});
}

} // namespace
