// The ping window against the echo engine on 127.0.0.1, and with echoes
// replaced where a real peer cannot give the needed answer (chosen round-trip
// times, an echo held in flight).
#include "toolwindowstest.h"

#include "platform/icmpapi.h"
#include "dialogs/tools/pingunit.h"
#include "dialogs/tools/toolhelp.h"

#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace {

const QString kStars = QString(59, QLatin1Char('*'));

class ToolsPingWindow : public toolwintest::EchoWindowTest {
protected:
    template <typename Form>
    static bool RunToEnd(Form& form)
    {
        QTest::mouseClick(form.ButPing, Qt::LeftButton);
        return QTest::qWaitFor([&] { return !form.Running(); }, 20000);
    }
};

// Answers every echo with the round-trip time of its packet.
class TimedForm : public TFormPing {
public:
    ~TimedForm() override { StopRun(); }
    int times[3] = {20, 30, 30};

protected:
    void SendEcho(int packet) override
    {
        ReportRequest(Ping1->Size());
        TEchoResult result;
        result.Replies = 1;
        result.DataSize = std::uint32_t(Ping1->Size());
        result.RoundTripTime = std::uint32_t(times[packet - 1]);
        result.ErrorString = "No error";
        ReportReply(result);
    }
};

// Lets the second echo time out on the real engine (no time to wait).
class SecondTimesOutForm : public TFormPing {
public:
    ~SecondTimesOutForm() override { StopRun(); }

protected:
    void SendEcho(int packet) override
    {
        Ping1->SetTimeout(packet == 2 ? 0 : 5000);
        TFormPing::SendEcho(packet);
    }
};

// Holds the first echo in flight until the test lets it go.
class HeldForm : public TFormPing {
public:
    ~HeldForm() override { StopRun(); }
    void Release()
    {
        const std::lock_guard lock(mutex);
        released = true;
        wake.notify_all();
    }
    int Sent()
    {
        const std::lock_guard lock(mutex);
        return sent;
    }

protected:
    void SendEcho(int packet) override
    {
        std::unique_lock lock(mutex);
        ++sent;
        if (packet == 1)
            wake.wait(lock, [this] { return released; });
    }

private:
    std::mutex mutex;
    std::condition_variable wake;
    bool released = false;
    int sent = 0;
};

TEST_F(ToolsPingWindow, ThreeEchoesOfLoopbackReportSizeTimesAndAverageRunAfterRun)
{
    TFormPing form;
    form.show();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Ping Utility"));
    EXPECT_EQ(form.EditSize->text(), QStringLiteral("64"));
    EXPECT_EQ(form.EditTime->text(), QStringLiteral("5000"));
    EXPECT_EQ(form.EditTTL->text(), QStringLiteral("64"));
    form.EditAdd->setText(QStringLiteral("127.0.0.1"));
    form.EditSize->setText(QStringLiteral("100"));

    QTest::mouseClick(form.ButPing, Qt::LeftButton);
    EXPECT_FALSE(form.ButPing->isEnabled());
    EXPECT_EQ(form.cursor().shape(), Qt::WaitCursor);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.Running(); }, 20000));
    EXPECT_TRUE(form.ButPing->isEnabled());
    EXPECT_NE(form.cursor().shape(), Qt::WaitCursor);

    const QRegularExpression returnTime(QStringLiteral("^Return Time: (\\d+) milliseconds$"));
    const QStringList lines = toolwintest::Lines(*form.Memo1);
    ASSERT_EQ(lines.size(), 16) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("Host: 127.0.0.1 "));
    EXPECT_EQ(lines[1], kStars);
    int sum = 0;
    for (int packet = 1; packet <= 3; ++packet) {
        const int at = 2 + (packet - 1) * 4;
        EXPECT_EQ(lines[at], QStringLiteral("Sending packet %1 size: 100 bytes").arg(packet));
        EXPECT_EQ(lines[at + 1], QStringLiteral("Returned Data: 100 bytes"));
        const QRegularExpressionMatch match = returnTime.match(lines[at + 2]);
        ASSERT_TRUE(match.hasMatch()) << lines[at + 2].toStdString();
        sum += match.captured(1).toInt();
        EXPECT_EQ(lines[at + 3], kStars);
    }
    EXPECT_EQ(lines[14], QStringLiteral("Average return time: %1 milliseconds").arg(sum / 3));
    EXPECT_EQ(lines[15], QString());
    toolwintest::Shoot(form, "ping");

    // The report is never cleared: a second run follows the first.
    ASSERT_TRUE(RunToEnd(form));
    const QStringList more = toolwintest::Lines(*form.Memo1);
    ASSERT_EQ(more.size(), 32);
    EXPECT_EQ(more.mid(0, 16), lines);
    EXPECT_EQ(more[16], QStringLiteral("Host: 127.0.0.1 "));
    EXPECT_TRUE(more[30].startsWith(QStringLiteral("Average return time: ")));
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(ToolsPingWindow, AverageDropsTheRemainder)
{
    TimedForm form;
    form.EditAdd->setText(QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(RunToEnd(form));
    const QStringList lines = toolwintest::Lines(*form.Memo1);
    ASSERT_EQ(lines.size(), 16);
    EXPECT_EQ(lines[2], QStringLiteral("Sending packet 1 size: 64 bytes"));
    EXPECT_EQ(lines[4], QStringLiteral("Return Time: 20 milliseconds"));
    EXPECT_EQ(lines[8], QStringLiteral("Return Time: 30 milliseconds"));
    EXPECT_EQ(lines[10], QStringLiteral("Sending packet 3 size: 64 bytes"));
    EXPECT_EQ(lines[14], QStringLiteral("Average return time: 26 milliseconds"));
}

TEST_F(ToolsPingWindow, TimedOutEchoesLeaveNoAverage)
{
    {
        // A time-out of 0 ms gives no reply the time to arrive.
        TFormPing form;
        form.EditAdd->setText(QStringLiteral("127.0.0.1"));
        form.EditTime->setText(QStringLiteral("0"));
        ASSERT_TRUE(RunToEnd(form));
        const QStringList lines = toolwintest::Lines(*form.Memo1);
        EXPECT_EQ(lines.join(QLatin1Char('\n')),
                  QStringLiteral("Host: 127.0.0.1 \n%1\n"
                                 "Sending packet 1 size: 64 bytes\nPacket 1 Request timed out in 0 milliseconds\n%1\n"
                                 "Sending packet 2 size: 64 bytes\nPacket 2 Request timed out in 0 milliseconds\n%1\n"
                                 "Sending packet 3 size: 64 bytes\nPacket 3 Request timed out in 0 milliseconds\n%1\n"
                                 "One or more packets timed out, no average.")
                      .arg(kStars));
    }
    {
        SecondTimesOutForm form;
        form.EditAdd->setText(QStringLiteral("127.0.0.1"));
        ASSERT_TRUE(RunToEnd(form));
        const QStringList lines = toolwintest::Lines(*form.Memo1);
        ASSERT_EQ(lines.size(), 14) << lines.join(QLatin1Char('\n')).toStdString();
        EXPECT_EQ(lines[6], QStringLiteral("Sending packet 2 size: 64 bytes"));
        EXPECT_EQ(lines[7], QStringLiteral("Packet 2 Request timed out in 5000 milliseconds"));
        EXPECT_EQ(lines[9], QStringLiteral("Sending packet 3 size: 64 bytes"));
        EXPECT_EQ(lines[10], QStringLiteral("Returned Data: 64 bytes"));
        EXPECT_EQ(lines[13], QStringLiteral("One or more packets timed out, no average."));
        toolwintest::Shoot(form, "ping-timeout");
    }
}

TEST_F(ToolsPingWindow, UnknownHostReportsTwoMessagesPerEchoAndNoAverage)
{
    TFormPing form;
    form.EditAdd->setText(QStringLiteral("nonexistent.invalid"));
    ASSERT_TRUE(RunToEnd(form));
    QStringList expected{QStringLiteral("Host: nonexistent.invalid "), kStars};
    for (int i = 0; i < 3; ++i)
        expected << QStringLiteral("Message: Unable to resolve nonexistent.invalid")
                 << QStringLiteral("Message: Invalid host address");
    expected << QStringLiteral("One or more packets timed out, no average.");
    EXPECT_EQ(toolwintest::Lines(*form.Memo1), expected);
}

TEST_F(ToolsPingWindow, EmptyHostOrABadNumberStartsNothingAndLeavesTheWindowUsable)
{
    TFormPing form;
    QTest::mouseClick(form.ButPing, Qt::LeftButton);
    EXPECT_FALSE(form.Running());
    EXPECT_TRUE(form.Memo1->toPlainText().isEmpty());

    form.EditAdd->setText(QStringLiteral("127.0.0.1"));
    const struct {
        QLineEdit* field;
        QString text;
    } cases[] = {{form.EditSize, QString()},
                 {form.EditTime, QStringLiteral("12a")},
                 {form.EditTTL, QStringLiteral("4294967296")}};
    for (const auto& c : cases) {
        const QString good = c.field->text();
        c.field->setText(c.text); // pasted, past the key filter
        QTest::mouseClick(form.ButPing, Qt::LeftButton);
        EXPECT_FALSE(form.Running());
        EXPECT_TRUE(form.ButPing->isEnabled());
        EXPECT_NE(form.cursor().shape(), Qt::WaitCursor);
        c.field->setText(good);
    }
    EXPECT_EQ(errors, (QStringList{QStringLiteral("'' is not a valid integer value"),
                                   QStringLiteral("'12a' is not a valid integer value"),
                                   QStringLiteral("'4294967296' is not a valid integer value")}));
    EXPECT_TRUE(form.Memo1->toPlainText().isEmpty());
}

TEST_F(ToolsPingWindow, NumberFieldsTakeDigitsOnly)
{
    TFormPing form;
    form.show();
    for (QLineEdit* field : {form.EditSize, form.EditTime, form.EditTTL}) {
        field->setFocus();
        field->end(false);
        QTest::keyClicks(field, QStringLiteral("1x"));
    }
    EXPECT_EQ(form.EditSize->text(), QStringLiteral("641"));
    EXPECT_EQ(form.EditTime->text(), QStringLiteral("50001"));
    EXPECT_EQ(form.EditTTL->text(), QStringLiteral("641"));
    EXPECT_EQ(prompts.Notices(),
              QStringList(3, QStringLiteral("Digits Only|You can enter digits only in this field!")));
    QTest::keyClicks(form.EditAdd, QStringLiteral("host-1.example"));
    EXPECT_EQ(form.EditAdd->text(), QStringLiteral("host-1.example"));
}

TEST_F(ToolsPingWindow, ExitDuringARunClosesOnceTheEchoInFlightReturns)
{
    HeldForm form;
    form.show();
    form.EditAdd->setText(QStringLiteral("127.0.0.1"));
    QTest::mouseClick(form.ButPing, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Sent() == 1; }, 5000));
    // The window still answers while the echo is out.
    QTest::keyClicks(form.EditAdd, QStringLiteral("x"));
    EXPECT_EQ(form.EditAdd->text(), QStringLiteral("127.0.0.1x"));

    QTest::mouseClick(form.ButExit, Qt::LeftButton);
    QApplication::processEvents();
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.Running());
    form.Release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.isVisible(); }, 5000));
    EXPECT_FALSE(form.Running());
    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_EQ(form.Sent(), 1);
    EXPECT_FALSE(form.Memo1->toPlainText().contains(QStringLiteral("average")));
}

TEST_F(ToolsPingWindow, WindowGoingAwayMidRunWaitsForItsEcho)
{
    auto form = std::make_unique<HeldForm>();
    form->EditAdd->setText(QStringLiteral("127.0.0.1"));
    QTest::mouseClick(form->ButPing, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Sent() == 1; }, 5000));
    form->Release();
    form.reset();
    QTest::qWait(20); // reports posted by the gone window must not arrive
}

TEST(ToolsWindows, EngineThatCannotStartIsReportedNotFatal)
{
    testsupport::ScriptedPrompts prompts;
    SetIcmpLibraryLoadFailure(true);
    TFormPing::Execute(nullptr);
    SetIcmpLibraryLoadFailure(false);
    EXPECT_EQ(prompts.Notices(), QStringList{QStringLiteral("Ping Utility|Unable to register icmp.dll")});
    EXPECT_EQ(prompts.Records().first().noticeKind, 4);
}

} // namespace
