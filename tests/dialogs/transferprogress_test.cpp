#include "dialogs/transferprogress.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

namespace {

QString Status(const TSendForm* form) { return form->findChild<QLabel*>(QStringLiteral("ProgLb"))->text(); }

TEST(TransferProgress, OpensFilledModelessDialogAndFeedsIt)
{
    bool cancel = false;
    QWidget mainWindow;
    TTransferProgress progress(cancel, &mainWindow);
    EXPECT_FALSE(progress.IsOpen());
    auto dialog = progress.Open(TProgressDirection::Receiving, QStringLiteral("data.bin"),
                                QStringLiteral("/pub/data.bin"), QStringLiteral("/tmp/data.bin"), 2000, 500);
    TSendForm* form = dialog.Form();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(progress.Form(), form);
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isModal());
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Receiving File: data.bin"));
    EXPECT_EQ(form->findChild<QProgressBar*>(QStringLiteral("ProgBar1"))->value(), 500);
    progress.Update(2000);
    EXPECT_EQ(Status(form), QStringLiteral("2000 bytes of 2000 transferred"));
    dialog.Close();
    EXPECT_FALSE(progress.IsOpen());
    EXPECT_EQ(dialog.Form(), nullptr);
}

TEST(TransferProgress, ProgressAfterTheDialogIsGoneTouchesNothing)
{
    bool cancel = false;
    TTransferProgress progress(cancel);
    progress.Update(10); // never opened
    {
        auto dialog = progress.Open(TProgressDirection::Sending, QStringLiteral("a"), QStringLiteral("/a"),
                                    QStringLiteral("/tmp/a"), 100);
        progress.Update(50);
    }
    EXPECT_FALSE(progress.IsOpen());
    // A resumed, failed or aborted transfer keeps reporting for a while.
    for (qint64 count = 0; count < 1000; ++count)
        progress.Update(count);
    progress.Close();
    EXPECT_FALSE(progress.IsOpen());
}

TEST(TransferProgress, DialogDestroyedBehindItsBackIsNoticed)
{
    bool cancel = false;
    auto mainWindow = std::make_unique<QWidget>();
    TTransferProgress progress(cancel, mainWindow.get());
    auto dialog = progress.Open(TProgressDirection::Sending, QStringLiteral("a"), QStringLiteral("/a"),
                                QStringLiteral("/tmp/a"), 100);
    ASSERT_TRUE(progress.IsOpen());
    mainWindow.reset(); // takes its child windows with it
    EXPECT_FALSE(progress.IsOpen());
    EXPECT_EQ(dialog.Form(), nullptr);
    progress.Update(60);
    dialog.Close();
    progress.Close();

    auto again = progress.Open(TProgressDirection::Sending, QStringLiteral("b"), QStringLiteral("/b"),
                               QStringLiteral("/tmp/b"), 100);
    delete again.Form();
    progress.Update(70);
    EXPECT_FALSE(progress.IsOpen());
}

TEST(TransferProgress, LeavingTheTransferByAnExceptionClosesTheDialog)
{
    bool cancel = false;
    TTransferProgress progress(cancel);
    try {
        auto dialog = progress.Open(TProgressDirection::Sending, QStringLiteral("a"), QStringLiteral("/a"),
                                    QStringLiteral("/tmp/a"), 100);
        throw std::runtime_error("transfer failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_FALSE(progress.IsOpen());
    progress.Update(1);
}

TEST(TransferProgress, NextFileReplacesTheDialogAndTheOldScopeLeavesItAlone)
{
    bool cancel = false;
    TTransferProgress progress(cancel);
    auto first = progress.Open(TProgressDirection::Sending, QStringLiteral("a"), QStringLiteral("/a"),
                               QStringLiteral("/tmp/a"), 100);
    auto second = progress.Open(TProgressDirection::Sending, QStringLiteral("b"), QStringLiteral("/b"),
                                QStringLiteral("/tmp/b"), 100);
    EXPECT_EQ(first.Form(), nullptr);
    ASSERT_NE(second.Form(), nullptr);
    first.Close();
    EXPECT_TRUE(progress.IsOpen());
    EXPECT_EQ(progress.Form(), second.Form());

    auto moved = std::move(second);
    EXPECT_EQ(second.Form(), nullptr);
    second.Close();
    EXPECT_TRUE(progress.IsOpen());
    moved.Close();
    EXPECT_FALSE(progress.IsOpen());
}

TEST(TransferProgress, CancelReachesTheOwnersFlag)
{
    bool cancel = false;
    TTransferProgress progress(cancel);
    auto dialog = progress.Open(TProgressDirection::Sending, QStringLiteral("a"), QStringLiteral("/a"),
                                QStringLiteral("/tmp/a"), 100);
    QTest::mouseClick(dialog.Form()->findChild<QPushButton*>(QStringLiteral("Button1")), Qt::LeftButton);
    EXPECT_TRUE(cancel);
    progress.Update(80);
    EXPECT_EQ(Status(dialog.Form()), QStringLiteral("Aborting transfer....please wait"));
}

TEST(TransferProgress, OwnerGoingFirstTakesTheDialogAlong)
{
    bool cancel = false;
    QPointer<TSendForm> form;
    {
        auto progress = std::make_unique<TTransferProgress>(cancel);
        auto dialog = progress->Open(TProgressDirection::Sending, QStringLiteral("a"), QStringLiteral("/a"),
                                     QStringLiteral("/tmp/a"), 100);
        form = dialog.Form();
        progress.reset();
        EXPECT_TRUE(form.isNull());
        EXPECT_EQ(dialog.Form(), nullptr);
    } // the scope's end must not reach the destroyed owner
    EXPECT_TRUE(form.isNull());
}

} // namespace
