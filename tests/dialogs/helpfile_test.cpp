#include "ui/helpfile.h"
#include "support/gui/scriptedprompts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(HelpFile, HasAnAnchorForEveryTopicTheProgramOpens)
{
    QFile help(QStringLiteral(TARVIK_HELP_FILE));
    ASSERT_TRUE(help.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(help.readAll());
    for (const char* topic : {"contents", "index", "IDH_settings", "IDH_login", "IDH_chmod", "IDH_ping", "IDH_dirinfo",
                              "IDH_dns", "IDH_urlinfo"})
        EXPECT_TRUE(html.contains(QStringLiteral("id=\"%1\"").arg(QString::fromLatin1(topic)))) << topic;
    // Every in-page link points at an anchor that exists.
    const QRegularExpression link(QStringLiteral("href=\"#([^\"]+)\""));
    for (auto match = link.globalMatch(html); match.hasNext();) {
        const QString target = match.next().captured(1);
        EXPECT_TRUE(html.contains(QStringLiteral("id=\"%1\"").arg(target))) << qPrintable(target);
    }
}

TEST(HelpFile, FoundInTheBuildTreeByDefault)
{
    THelpFile::SetSearchFolders({});
    EXPECT_FALSE(THelpFile::Locate().isEmpty());
}

TEST(HelpFile, InstalledProgramLooksInItsDataFolderBeforeTheSourceTree)
{
    THelpFile::SetSearchFolders({});
    const QStringList folders = THelpFile::SearchFolders();
    ASSERT_GE(folders.size(), 3);
    EXPECT_EQ(folders[0], QCoreApplication::applicationDirPath());
    EXPECT_EQ(folders[1],
              QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/tarvik/help")));
}

TEST(HelpFile, TopicsOpenAsFragmentsOfTheFile)
{
    testsupport::ScriptedPrompts prompts;
    testsupport::RecordingShell shell;
    QTemporaryDir first;
    QTemporaryDir second;
    QFile file(second.filePath(QStringLiteral("tarvik.html")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    THelpFile::SetSearchFolders({first.path(), second.path()});
    EXPECT_TRUE(THelpFile::ShowTopic(QStringLiteral("IDH_login")));
    ASSERT_EQ(shell.opened.size(), 1);
    EXPECT_EQ(shell.opened[0].toLocalFile(), file.fileName());
    EXPECT_EQ(shell.opened[0].fragment(), QStringLiteral("IDH_login"));
    EXPECT_TRUE(prompts.Records().isEmpty());
    THelpFile::SetSearchFolders({});
}

TEST(HelpFile, MissingFileGivesANoticeAndOpensNothing)
{
    testsupport::ScriptedPrompts prompts;
    testsupport::RecordingShell shell;
    QTemporaryDir empty;
    THelpFile::SetSearchFolders({empty.path()});
    EXPECT_FALSE(THelpFile::ShowTopic(QStringLiteral("IDH_ping")));
    EXPECT_TRUE(shell.opened.isEmpty());
    ASSERT_EQ(prompts.Records().size(), 1);
    EXPECT_EQ(prompts.Records()[0].kind, QStringLiteral("notice"));
    THelpFile::SetSearchFolders({});
}

} // namespace
