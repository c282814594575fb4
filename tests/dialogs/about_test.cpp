#include "dialogs/about.h"
#include "support/gui/scriptedprompts.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

TEST(AboutBox, FileVersionWords)
{
    EXPECT_EQ(TFormAbout::FormatFileVersion((2u << 16) | 5u, 0u), QStringLiteral("2.5.0.0"));
    EXPECT_EQ(TFormAbout::FormatFileVersion((65535u << 16) | 1u, (7u << 16) | 300u), QStringLiteral("65535.1.7.300"));
}

TEST(AboutBox, ShowsTheProductAndItsOwnVersion)
{
    TFormAbout about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("About Tarvik"));
    EXPECT_EQ(about.size(), QSize(288, 168));
    EXPECT_EQ(about.Label5->text(), QStringLiteral("Veltrane - Software Tools for the Web"));
    EXPECT_EQ(about.Label1->text(), QStringLiteral("Tarvik - FTP Client"));
    EXPECT_EQ(about.Label2->text(), QStringLiteral("Version: "));
    EXPECT_EQ(about.LabelV->text(), QStringLiteral(TARVIK_EXPECTED_VERSION));
    EXPECT_EQ(about.Label3->text(), QStringLiteral("On the Web: "));
    EXPECT_EQ(about.Label4->text(), TFormAbout::WebSite());
    EXPECT_EQ(about.Button1->text(), QStringLiteral("&OK"));
    EXPECT_FALSE(about.Image1->pixmap().isNull());
    EXPECT_EQ(about.Image1->pixmap().size(), QSize(32, 32));
}

TEST(AboutBox, LinkOpensTheSiteAndChangesColourUnderTheMouse)
{
    testsupport::RecordingShell shell;
    TFormAbout about;
    about.show();
    EXPECT_EQ(about.Label4->palette().color(QPalette::WindowText), QColor(Qt::blue));
    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(about.Label4, &enter);
    EXPECT_EQ(about.Label4->palette().color(QPalette::WindowText), QColor(Qt::red));
    QTest::mouseMove(&about, QPoint(5, 160));
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(about.Label4, &leave);
    EXPECT_EQ(about.Label4->palette().color(QPalette::WindowText), QColor(Qt::blue));

    QTest::mouseClick(about.Label4, Qt::LeftButton);
    ASSERT_EQ(shell.opened.size(), 1);
    EXPECT_EQ(shell.opened[0], TFormAbout::WebSiteUrl());
}

TEST(AboutBox, OkAndEscapeClose)
{
    TFormAbout about;
    about.show();
    QSignalSpy accepted(&about, &QDialog::finished);
    QTest::mouseClick(about.Button1, Qt::LeftButton);
    EXPECT_EQ(accepted.count(), 1);
    EXPECT_FALSE(about.isVisible());
    about.show();
    QTest::keyClick(&about, Qt::Key_Escape);
    EXPECT_EQ(accepted.count(), 2);
}

} // namespace
