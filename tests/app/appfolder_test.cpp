#include "platform/appfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

namespace {

class AppFolder : public ::testing::Test {
protected:
    void SetUp() override { saved = qgetenv("TARVIK_HOME"); }
    void TearDown() override { qputenv("TARVIK_HOME", saved); }
    QByteArray saved;
};

TEST_F(AppFolder, TarvikHomeWinsAndIsCreated)
{
    QTemporaryDir base;
    const QString wanted = base.filePath(QStringLiteral("deep/er"));
    qputenv("TARVIK_HOME", wanted.toLocal8Bit());
    EXPECT_EQ(appfolder::ApplicationFolder(), wanted);
    EXPECT_TRUE(QFileInfo(wanted).isDir());
    EXPECT_EQ(appfolder::ApplicationFile(QStringLiteral("Accounts.dat")), wanted + QStringLiteral("/Accounts.dat"));
}

TEST_F(AppFolder, WithoutTarvikHomeAWritableExecutableFolderIsUsed)
{
    qunsetenv("TARVIK_HOME");
    const QString exeFolder = QCoreApplication::applicationDirPath();
    if (!QFileInfo(exeFolder).isWritable())
        GTEST_SKIP() << "the test's own folder is read-only here";
    EXPECT_EQ(appfolder::ApplicationFolder(), exeFolder);
}

TEST(AppFolderRule, ReadOnlyExecutableFolderFallsBackToTheUserDataFolder)
{
    QTemporaryDir base;
    const QString missing = base.filePath(QStringLiteral("not-there"));
    EXPECT_EQ(appfolder::ResolveApplicationFolder({}, missing, QStringLiteral("/data"), QStringLiteral("/home/u")),
              QStringLiteral("/data/tarvik"));
    EXPECT_EQ(appfolder::ResolveApplicationFolder({}, missing, {}, QStringLiteral("/home/u")),
              QStringLiteral("/home/u/.local/share/tarvik"));
    EXPECT_EQ(appfolder::ResolveApplicationFolder({}, missing, QStringLiteral("relative"), QStringLiteral("/home/u")),
              QStringLiteral("/home/u/.local/share/tarvik"));
    EXPECT_EQ(appfolder::ResolveApplicationFolder({}, base.path(), QStringLiteral("/data"), QStringLiteral("/h")),
              base.path());
    EXPECT_EQ(appfolder::ResolveApplicationFolder(QStringLiteral("/opt/t/"), base.path(), {}, QStringLiteral("/h")),
              QStringLiteral("/opt/t"));
}

} // namespace
