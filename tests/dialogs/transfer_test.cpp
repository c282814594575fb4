#include "dialogs/transfer.h"

#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QString Text(const TSendForm& form, const char* name)
{
    const auto* label = form.findChild<QLabel*>(QString::fromLatin1(name));
    EXPECT_NE(label, nullptr) << name;
    return label ? label->text() : QString();
}

const QProgressBar& Bar(const TSendForm& form) { return *form.findChild<QProgressBar*>(QStringLiteral("ProgBar1")); }

void Tick(TSendForm& form, int times)
{
    for (int i = 0; i < times; ++i)
        form.Timer1Timer();
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

TEST(SendForm, ShowsRatePercentageAndTimeLeft)
{
    bool cancel = false;
    TSendForm form(cancel);
    form.SetTotal(10000);
    Tick(form, 4); // five seconds
    form.SetProgress(5000);
    EXPECT_EQ(form.BytesPerSecond(), 1000);
    EXPECT_EQ(Text(form, "ProgLb"), QStringLiteral("5000 bytes of 10000 transferred"));
    EXPECT_EQ(Text(form, "TranLabel"), QStringLiteral("0.98 KB per second"));
    EXPECT_EQ(Text(form, "Label1"), QStringLiteral("50%"));
    EXPECT_EQ(Text(form, "TimeLabel"), QStringLiteral("00:00:05"));
    EXPECT_EQ(Bar(form).value() * 2, Bar(form).maximum());
    EXPECT_FALSE(cancel);
}

TEST(SendForm, RateInKilobytesWithTwoDecimalsAndSeparators)
{
    bool cancel = false;
    TSendForm form(cancel);
    form.SetTotal(1536 * 10);
    form.SetProgress(1536);
    EXPECT_EQ(Text(form, "TranLabel"), QStringLiteral("1.50 KB per second"));
    EXPECT_EQ(TSendForm::RateText(1536), QStringLiteral("1.50 KB per second"));
    EXPECT_EQ(TSendForm::RateText(0), QStringLiteral("0.00 KB per second"));
    EXPECT_EQ(TSendForm::RateText(qint64(1536000) * 1024), QStringLiteral("1,536,000.00 KB per second"));
}

TEST(SendForm, TimeLeftInHoursMinutesSeconds)
{
    bool cancel = false;
    TSendForm form(cancel);
    form.SetTotal(3730);
    Tick(form, 4);
    form.SetProgress(5); // one byte a second, 3725 to go
    EXPECT_EQ(Text(form, "TimeLabel"), QStringLiteral("01:02:05"));
    EXPECT_EQ(TSendForm::TimeText(0), QStringLiteral("00:00:00"));
    EXPECT_EQ(TSendForm::TimeText(59), QStringLiteral("00:00:59"));
    EXPECT_EQ(TSendForm::TimeText(600), QStringLiteral("00:10:00"));
    EXPECT_EQ(TSendForm::TimeText(100 * 3600 + 61), QStringLiteral("100:01:01"));
}

TEST(SendForm, ValueLabelsAreEmptyBeforeTheFirstProgressEvent)
{
    bool cancel = false;
    TSendForm form(cancel);
    form.Prepare(TProgressDirection::Sending, QStringLiteral("a.bin"), QStringLiteral("/pub/a.bin"),
                 QStringLiteral("/home/u/a.bin"), 100);
    for (const char* name : {"ProgLb", "TranLabel", "TimeLabel", "Label1"})
        EXPECT_TRUE(Text(form, name).isEmpty()) << name;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Sending File: a.bin"));
    EXPECT_EQ(Text(form, "RemLabel"), QStringLiteral("/pub/a.bin"));
    EXPECT_EQ(Text(form, "LocLabel"), QStringLiteral("/home/u/a.bin"));
    EXPECT_EQ(form.BytesDone(), 0);
    EXPECT_EQ(form.Seconds(), 1);
}

TEST(SendForm, LongPathsAreShortenedInTheMiddleAndKeptWhole)
{
    bool cancel = false;
    TSendForm form(cancel);
    const QString remote = QStringLiteral("/pub/") + QString(200, QLatin1Char('d')) + QStringLiteral("/file.iso");
    form.Prepare(TProgressDirection::Receiving, QStringLiteral("file.iso"), remote, QStringLiteral("/tmp/file.iso"), 1);
    const auto* label = form.findChild<QLabel*>(QStringLiteral("RemLabel"));
    EXPECT_EQ(label->toolTip(), remote);
    EXPECT_TRUE(label->text().startsWith(QStringLiteral("/pub/")));
    EXPECT_TRUE(label->text().endsWith(QStringLiteral("file.iso")));
    EXPECT_LT(label->text().size(), remote.size());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Receiving File: file.iso"));
}

TEST(SendForm, UnknownTotalShowsBytesOnlyAndNeverDivides)
{
    bool cancel = false;
    TSendForm form(cancel);
    form.SetTotal(0);
    form.SetProgress(5000);
    EXPECT_EQ(Text(form, "ProgLb"), QStringLiteral("5000 bytes transferred"));
    EXPECT_EQ(Text(form, "TranLabel"), QStringLiteral("4.88 KB per second"));
    EXPECT_TRUE(Text(form, "Label1").isEmpty());
    EXPECT_TRUE(Text(form, "TimeLabel").isEmpty());
    EXPECT_EQ(Bar(form).value(), 0);
    EXPECT_GT(Bar(form).maximum(), 0); // no busy animation
    EXPECT_TRUE(TSendForm::PercentText(10, 0).isEmpty());
}

TEST(SendForm, MoreThanTheTotalNeverShowsANegativeTime)
{
    bool cancel = false;
    TSendForm form(cancel);
    form.SetTotal(1000);
    form.SetProgress(1500);
    EXPECT_EQ(Text(form, "TimeLabel"), QStringLiteral("00:00:00"));
    EXPECT_EQ(Bar(form).value(), Bar(form).maximum());
}

TEST(SendForm, FilesBeyondFourGigabytesCountInSixtyFourBits)
{
    bool cancel = false;
    TSendForm form(cancel);
    const qint64 total = qint64(5) << 30;
    form.SetTotal(total);
    form.SetProgress(total / 2);
    EXPECT_EQ(Text(form, "ProgLb"), QStringLiteral("2684354560 bytes of 5368709120 transferred"));
    EXPECT_EQ(Text(form, "Label1"), QStringLiteral("50%"));
    EXPECT_GT(Bar(form).maximum(), 0);
    EXPECT_EQ(Bar(form).value(), Bar(form).maximum() / 2);
}

TEST(SendForm, ResumedDownloadStartsTheBarAtThePartAlreadyThere)
{
    bool cancel = false;
    TSendForm form(cancel);
    form.SetTotal(4000, 1000);
    EXPECT_EQ(Bar(form).value(), 1000);
    EXPECT_EQ(Bar(form).maximum(), 4000);
    form.SetProgress(2000);
    // Only the thousand bytes moved in this second count for the rate.
    EXPECT_EQ(form.BytesPerSecond(), 1000);
    EXPECT_EQ(Text(form, "TimeLabel"), QStringLiteral("00:00:02"));
    EXPECT_EQ(Text(form, "Label1"), QStringLiteral("50%"));
}

TEST(SendForm, CancelRaisesTheFlagAndSaysItIsAborting)
{
    bool cancel = false;
    TSendForm form(cancel);
    form.SetTotal(1000);
    form.SetProgress(100);
    auto* button = form.findChild<QPushButton*>(QStringLiteral("Button1"));
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text(), QStringLiteral("&Cancel"));
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(cancel);
    EXPECT_TRUE(form.CancelPressed());
    EXPECT_EQ(Text(form, "ProgLb"), QStringLiteral("Aborting transfer....please wait"));
    for (const char* name : {"TranLabel", "TimeLabel", "Label1"})
        EXPECT_TRUE(Text(form, name).isEmpty()) << name;
    // Late progress does not cover the notice up.
    form.SetProgress(1000);
    EXPECT_EQ(Text(form, "ProgLb"), QStringLiteral("Aborting transfer....please wait"));
}

TEST(SendForm, EscapeAndCloseRequestsCancelButLeaveTheWindowOpen)
{
    bool cancel = false;
    TSendForm form(cancel);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    QTest::keyClick(&form, Qt::Key_Escape);
    EXPECT_TRUE(cancel);
    EXPECT_TRUE(form.isVisible());

    bool cancel2 = false;
    TSendForm other(cancel2);
    other.show();
    EXPECT_FALSE(other.close());
    EXPECT_TRUE(cancel2);
    EXPECT_TRUE(other.isVisible());
}

TEST(SendForm, ModelessOnTopWithoutCaptionButtons)
{
    bool cancel = false;
    TSendForm form(cancel);
    EXPECT_FALSE(form.isModal());
    EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(form.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMinMaxButtonsHint);
    EXPECT_EQ(form.cursor().shape(), Qt::WaitCursor);
    EXPECT_EQ(form.findChild<QPushButton*>(QStringLiteral("Button1"))->cursor().shape(), Qt::ArrowCursor);
    EXPECT_GE(form.width(), 321);
    EXPECT_GE(form.height(), 156);
}

TEST(SendForm, RedrawsAtMostOncePerIntervalOfTheClock)
{
    bool cancel = false;
    qint64 now = 1000;
    TSendForm form(cancel, nullptr, [&now] { return now; });
    form.SetTotal(1000000);
    form.SetProgress(1);
    EXPECT_EQ(form.LabelRefreshes(), 1);
    now += TSendForm::RefreshIntervalMs - 1;
    form.SetProgress(2);
    form.SetProgress(3);
    EXPECT_EQ(form.LabelRefreshes(), 1);
    EXPECT_EQ(Text(form, "ProgLb"), QStringLiteral("1 bytes of 1000000 transferred"));
    EXPECT_EQ(form.BytesDone(), 3);
    now += 1;
    form.SetProgress(4);
    EXPECT_EQ(form.LabelRefreshes(), 2);
    EXPECT_EQ(Text(form, "ProgLb"), QStringLiteral("4 bytes of 1000000 transferred"));
    // The end is drawn at once, however soon it comes.
    form.SetProgress(1000000);
    EXPECT_EQ(form.LabelRefreshes(), 3);
    EXPECT_EQ(Text(form, "Label1"), QStringLiteral("100%"));
}

TEST(SendForm, BurstOfProgressDrawsLittleAndEndsOnTheFinalState)
{
    bool cancel = false;
    TSendForm form(cancel);
    form.Prepare(TProgressDirection::Receiving, QStringLiteral("big"), QStringLiteral("/big"),
                 QStringLiteral("/tmp/big"), 100000);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    auto* bar = form.findChild<QProgressBar*>(QStringLiteral("ProgBar1"));
    PaintCounter counter;
    bar->installEventFilter(&counter);
    for (qint64 count = 1; count <= 100000; ++count)
        form.SetProgress(count);
    QCoreApplication::processEvents();
    EXPECT_LE(form.LabelRefreshes(), 40);
    EXPECT_LE(counter.paints, 40);
    EXPECT_EQ(Text(form, "ProgLb"), QStringLiteral("100000 bytes of 100000 transferred"));
    EXPECT_EQ(Text(form, "Label1"), QStringLiteral("100%"));
    EXPECT_EQ(bar->value(), bar->maximum());
    bar->removeEventFilter(&counter);
}

TEST(SendForm, ThrottledCountIsDrawnWhenProgressStalls)
{
    bool cancel = false;
    TSendForm form(cancel);
    form.SetTotal(1000000);
    for (qint64 count = 1; count <= 100000; ++count)
        form.SetProgress(count);
    EXPECT_LE(form.LabelRefreshes(), 40);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return Text(form, "ProgLb") == QStringLiteral("100000 bytes of 1000000 transferred"); }, 10000));
    EXPECT_EQ(Text(form, "Label1"), QStringLiteral("10%"));
}

} // namespace
