// The directory information window: how the main window's command fills it,
// and saving the listing.
#include "toolwindowstest.h"

#include "dialogs/tools/dirinfo.h"
#include "dialogs/tools/dnslookup.h"
#include "dialogs/tools/pingunit.h"
#include "dialogs/tools/toolhelp.h"

#include <QApplication>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

const QByteArray kListing = "drwxr-xr-x   2 ftp      ftp          4096 Jan 01 12:00 pub\r\n"
                            "-rw-r--r--   1 ftp      ftp            12 Jan 01 12:00 caf\xe9.txt\n"
                            "-rw-r--r--   1 ftp      ftp             0 Jan 01 12:00 zz last";

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

class ToolsDirWindow : public toolwintest::WindowTest {
protected:
    QTemporaryDir dir;
    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
};

TEST_F(ToolsDirWindow, NotConnectedRefusesWithoutAskingForAListing)
{
    int requests = 0;
    TDirInfoSource source;
    source.Connected = [] { return false; };
    source.RequestListing = [&] { ++requests; };
    source.ListingFile = Path("FTPDIR.TXT");
    TFormDir::Execute(nullptr, source);
    EXPECT_EQ(requests, 0);
    EXPECT_EQ(prompts.Notices(),
              QStringList{QStringLiteral("Directory Information Error|You must be connected to get remote host "
                                         "directory information.")});
    EXPECT_EQ(prompts.Records().first().noticeKind, 0);
    EXPECT_EQ(QApplication::topLevelWidgets().count(), 0);
}

TEST_F(ToolsDirWindow, ShowsTheFreshListingAsSentThenSavesItWithCrLfAndTheTxtExtension)
{
    const QString listing = Path("FTPDIR.TXT");
    WriteAll(listing, "stale\r\n");
    TDirInfoSource source;
    source.Connected = [] { return true; };
    source.RequestListing = [&] { WriteAll(listing, kListing); };
    source.ListingFile = listing;
    prompts.AnswerSaveFile(Path("listing"));

    QString shown;
    QString title;
    QTimer::singleShot(0, [&] {
        auto* form = qobject_cast<TFormDir*>(QApplication::activeModalWidget());
        ASSERT_NE(form, nullptr);
        title = form->windowTitle();
        shown = form->Memo1->toPlainText();
        toolwintest::Shoot(*form, "dirinfo");
        QTest::mouseClick(form->Button1, Qt::LeftButton);
        QTest::mouseClick(form->Button2, Qt::LeftButton);
    });
    TFormDir::Execute(nullptr, source);

    EXPECT_EQ(title, QStringLiteral("Directory Information"));
    EXPECT_EQ(shown, QString::fromLatin1(kListing).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    ASSERT_EQ(prompts.Records().size(), 1);
    EXPECT_EQ(prompts.Records().first().kind, QStringLiteral("save"));
    EXPECT_EQ(prompts.Records().first().caption, QStringLiteral("Save Directory Information"));
    EXPECT_EQ(ReadAll(Path("listing.txt")),
              QByteArray("drwxr-xr-x   2 ftp      ftp          4096 Jan 01 12:00 pub\r\n"
                         "-rw-r--r--   1 ftp      ftp            12 Jan 01 12:00 caf\xe9.txt\r\n"
                         "-rw-r--r--   1 ftp      ftp             0 Jan 01 12:00 zz last\r\n"));
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(ToolsDirWindow, EmptyListingSavesAnEmptyFileAndCancelWritesNothing)
{
    TFormDir form;
    form.SetListing(QByteArray());
    EXPECT_TRUE(form.Memo1->toPlainText().isEmpty());
    prompts.AnswerSaveFile(QString()); // cancelled
    prompts.AnswerSaveFile(Path("empty.txt"));
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    EXPECT_TRUE(QDir(dir.path()).isEmpty());
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    EXPECT_EQ(ReadAll(Path("empty.txt")), QByteArray());

    form.SetListing("total 0\n\xe2\x82\xac\n");
    QTest::mouseClick(form.Button1, Qt::LeftButton); // nothing queued: cancelled
    EXPECT_EQ(prompts.Unexpected(), 1);
    prompts.AnswerSaveFile(Path("utf8.txt"));
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    EXPECT_EQ(ReadAll(Path("utf8.txt")), QByteArray("total 0\r\n\xe2\x82\xac\r\n"));
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(ToolsDirWindow, FailedSaveIsReportedAndTheWindowStays)
{
    TFormDir form;
    form.show();
    form.SetListing("x\n");
    prompts.AnswerSaveFile(Path("no-such-folder/listing.txt"));
    QTest::mouseClick(form.Button1, Qt::LeftButton);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors.first().startsWith(QStringLiteral("Cannot create file"))) << errors.first().toStdString();
    EXPECT_TRUE(form.isVisible());
}

TEST_F(ToolsDirWindow, MissingListingFileIsReportedAndNoWindowOpens)
{
    TDirInfoSource source;
    source.Connected = [] { return true; };
    source.RequestListing = [] {};
    source.ListingFile = Path("FTPDIR.TXT");
    TFormDir::Execute(nullptr, source);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors.first().startsWith(QStringLiteral("Cannot open file"))) << errors.first().toStdString();
}

TEST(ToolsWindows, HelpButtonsOpenTheirTopicsThroughTheMainWindow)
{
    testsupport::ScriptedPrompts prompts;
    QStringList topics;
    SetToolHelpHandler([&](const QString& topic) { topics << topic; });
    TFormDir dirForm;
    QTest::mouseClick(dirForm.Button3, Qt::LeftButton);
    try {
        TFormPing pingForm;
        QTest::mouseClick(pingForm.Button1, Qt::LeftButton);
        TFormDns dnsForm;
        QTest::mouseClick(dnsForm.Button4, Qt::LeftButton);
        EXPECT_EQ(topics,
                  (QStringList{QStringLiteral("IDH_dirinfo"), QStringLiteral("IDH_ping"), QStringLiteral("IDH_dns")}));
    } catch (const std::exception& e) {
        EXPECT_EQ(topics, QStringList{QStringLiteral("IDH_dirinfo")}) << e.what();
    }
    EXPECT_TRUE(prompts.Notices().isEmpty());

    SetToolHelpHandler(nullptr);
    QTest::mouseClick(dirForm.Button3, Qt::LeftButton);
    EXPECT_EQ(prompts.Notices(), QStringList{QStringLiteral("Help|Help is not available for this window.")});
}

} // namespace
