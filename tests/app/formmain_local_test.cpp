// The local pane: which files the list shows, and how.
#include "app/formmain.h"
#include "app/listview.h"
#include "support/gui/scriptedprompts.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <map>

namespace {

void Write(const QString& path, qint64 bytes, const QDateTime& when)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(bytes, 'x'));
    ASSERT_TRUE(file.flush());
    ASSERT_TRUE(file.setFileTime(when, QFileDevice::FileModificationTime));
    file.close();
}

// caption -> sub-items
std::map<QString, QStringList> Shown(const TFormMain& form)
{
    std::map<QString, QStringList> shown;
    const TListModel* items = form.List1->Items();
    for (int row = 0; row < items->Count(); ++row)
        shown[items->Item(row).Caption] = items->Item(row).SubItems;
    return shown;
}

class LocalPane : public ::testing::Test {
protected:
    void SetUp() override
    {
        QSettings(QStringLiteral("Veltrane"), QStringLiteral("Tarvik")).remove(QStringLiteral("Settings"));
        ASSERT_TRUE(folder.isValid());
    }
    testsupport::ScriptedPrompts prompts;
    QTemporaryDir folder;
};

TEST_F(LocalPane, ListsNonEmptyFilesWithSizeAndDate)
{
    const QDateTime afternoon(QDate(2024, 3, 9), QTime(14, 5, 7));
    const QDateTime midnight(QDate(2023, 12, 31), QTime(0, 0, 0));
    Write(folder.filePath(QStringLiteral("report.txt")), 1234, afternoon);
    Write(folder.filePath(QStringLiteral("new year.bin")), 1, midnight);
    Write(folder.filePath(QStringLiteral(".hidden")), 7, afternoon);
    Write(folder.filePath(QStringLiteral("empty.dat")), 0, afternoon);
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("sub")));
    Write(folder.filePath(QStringLiteral("sub/inside.txt")), 10, afternoon);

    TFormMain form;
    ASSERT_TRUE(form.SelectFolder(folder.path())); // Dir1Change refills the list
    const auto shown = Shown(form);
    ASSERT_EQ(shown.size(), 3u);
    const QLocale locale = QLocale::system();
    const QString date = locale.toString(afternoon.date(), QLocale::ShortFormat);
    const QString time = locale.toString(afternoon.time(), QLocale::LongFormat).remove(QLatin1Char('t')).trimmed();

    ASSERT_TRUE(shown.count(QStringLiteral("report.txt")));
    EXPECT_EQ(shown.at(QStringLiteral("report.txt"))[0], QStringLiteral("1234"));
    EXPECT_TRUE(shown.at(QStringLiteral("report.txt"))[1].startsWith(date + QLatin1Char(' ')));
    EXPECT_TRUE(shown.at(QStringLiteral("report.txt"))[1].contains(QStringLiteral("5")));

    ASSERT_TRUE(shown.count(QStringLiteral("new year.bin")));
    EXPECT_EQ(shown.at(QStringLiteral("new year.bin"))[0], QStringLiteral("1"));
    EXPECT_EQ(shown.at(QStringLiteral("new year.bin"))[1], locale.toString(midnight.date(), QLocale::ShortFormat));

    EXPECT_TRUE(shown.count(QStringLiteral(".hidden")));
    EXPECT_GE(form.List1->Items()->Item(0).ImageIndex, 0);
    EXPECT_TRUE(prompts.Records().isEmpty());
    (void)time;
}

TEST_F(LocalPane, DateTextKeepsTheTimeUnlessMidnight)
{
    const QDateTime midnight(QDate(2022, 1, 2), QTime(0, 0, 0));
    const QDateTime oneSecondLater(QDate(2022, 1, 2), QTime(0, 0, 1));
    EXPECT_EQ(TFormMain::LocalFileDate(midnight), QLocale::system().toString(midnight.date(), QLocale::ShortFormat));
    const QString later = TFormMain::LocalFileDate(oneSecondLater);
    EXPECT_TRUE(later.startsWith(TFormMain::LocalFileDate(midnight) + QLatin1Char(' ')));
    EXPECT_TRUE(later.contains(QStringLiteral("00:01")) || later.contains(QStringLiteral("0:00:01")));
}

TEST_F(LocalPane, FoldersAndEmptyFilesOnlyGiveAnEmptyList)
{
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("a")));
    ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("b")));
    Write(folder.filePath(QStringLiteral("zero")), 0, QDateTime::currentDateTime());
    TFormMain form;
    ASSERT_TRUE(form.SelectFolder(folder.path()));
    EXPECT_EQ(form.List1->Items()->Count(), 0);
}

TEST_F(LocalPane, NewFolderRefillsAndClearsTheSelection)
{
    QTemporaryDir other;
    Write(folder.filePath(QStringLiteral("one.txt")), 3, QDateTime::currentDateTime());
    Write(other.filePath(QStringLiteral("two.txt")), 4, QDateTime::currentDateTime());
    Write(other.filePath(QStringLiteral("three.txt")), 5, QDateTime::currentDateTime());

    TFormMain form;
    ASSERT_TRUE(form.SelectFolder(folder.path()));
    form.List1->SelectRow(0);
    EXPECT_TRUE(form.LocalFile1->isEnabled());
    ASSERT_TRUE(form.SelectFolder(other.path()));
    EXPECT_EQ(form.List1->Items()->Count(), 2);
    EXPECT_EQ(form.List1->SelCount(), 0);
    EXPECT_FALSE(form.LocalFile1->isEnabled());
}

TEST_F(LocalPane, RefreshShowsFilesWrittenSince)
{
    TFormMain form;
    ASSERT_TRUE(form.SelectFolder(folder.path()));
    EXPECT_EQ(form.List1->Items()->Count(), 0);
    Write(folder.filePath(QStringLiteral("downloaded.zip")), 99, QDateTime::currentDateTime());
    form.RefreshLocalListing1->trigger();
    EXPECT_EQ(form.SelectedFolder(), folder.path());
    ASSERT_EQ(form.List1->Items()->Count(), 1);
    EXPECT_EQ(form.List1->Items()->Item(0).Caption, QStringLiteral("downloaded.zip"));
}

TEST_F(LocalPane, VanishedFolderLeavesTheListEmptySilently)
{
    QTemporaryDir doomed;
    Write(doomed.filePath(QStringLiteral("f")), 3, QDateTime::currentDateTime());
    TFormMain form;
    ASSERT_TRUE(form.SelectFolder(doomed.path()));
    EXPECT_EQ(form.List1->Items()->Count(), 1);
    ASSERT_TRUE(doomed.remove());
    form.SetLocalFiles();
    EXPECT_EQ(form.List1->Items()->Count(), 0);
    EXPECT_TRUE(prompts.Records().isEmpty());
}

TEST_F(LocalPane, FillingIsOneModelResetNotOneSignalPerFile)
{
    for (int i = 0; i < 50; ++i)
        Write(folder.filePath(QStringLiteral("f%1.txt").arg(i)), 1, QDateTime::currentDateTime());
    TFormMain form;
    ASSERT_TRUE(form.SelectFolder(folder.path()));
    QSignalSpy resets(form.List1->Items(), &QAbstractItemModel::modelReset);
    QSignalSpy inserts(form.List1->Items(), &QAbstractItemModel::rowsInserted);
    form.SetLocalFiles();
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(inserts.count(), 0);
    EXPECT_EQ(form.List1->Items()->Count(), 50);
    EXPECT_TRUE(form.List1->updatesEnabled());
}

TEST_F(LocalPane, SameTypeSharesOnePicture)
{
    Write(folder.filePath(QStringLiteral("a.png")), 3, QDateTime::currentDateTime());
    Write(folder.filePath(QStringLiteral("b.png")), 3, QDateTime::currentDateTime());
    TFormMain form;
    ASSERT_TRUE(form.SelectFolder(folder.path()));
    ASSERT_EQ(form.List1->Items()->Count(), 2);
    EXPECT_EQ(form.List1->Items()->Item(0).ImageIndex, form.List1->Items()->Item(1).ImageIndex);
}

} // namespace
