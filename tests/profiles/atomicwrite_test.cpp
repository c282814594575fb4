#include "platform/exception.h"
#include "profiles/registryset.h"

#include "tempfolder.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void SaveSample(const TRegistrySet& store, const std::string& name, const std::string& password)
{
    store.SaveProfile(name, false, "", "ftp.example.org", "user", password, "21", false, false);
}

std::string ErrorOfSave(const TRegistrySet& store, const std::string& name)
{
    try {
        SaveSample(store, name, std::string(4096, 'p'));
    } catch (const Exception& error) {
        return error.Message();
    }
    return "no error";
}

unsigned ModeOf(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

// Lets writes beyond `bytes` fail as they would on a full disk, for the
// life of the object.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes)
    {
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit limited = old_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~TFileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*oldHandler_)(int) = nullptr;
};

TEST(ProfilesAtomicWrite, AFullDiskLeavesTheOldFileWholeAndNamesTheFile)
{
    TTempFolder folder;
    const TRegistrySet store(folder.Folder());
    SaveSample(store, "Existing", "old");
    const QByteArray before = folder.Read();

    std::string message;
    {
        const TFileSizeLimit limit(rlim_t(before.size() + 64));
        message = ErrorOfSave(store, "Bigger");
    }
    EXPECT_EQ(message, "Unable to write to " + folder.File());
    EXPECT_EQ(folder.Read(), before);
    EXPECT_TRUE(folder.Others().isEmpty()) << folder.Others().join(QLatin1Char(' ')).toStdString();
}

TEST(ProfilesAtomicWrite, AReadOnlyFolderLeavesTheOldFileAndNamesTheFile)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into read-only folders";
    TTempFolder folder;
    const TRegistrySet store(folder.Folder());
    SaveSample(store, "Existing", "old");
    const QByteArray before = folder.Read();
    ASSERT_EQ(::chmod(folder.Folder().c_str(), 0500), 0);
    const std::string message = ErrorOfSave(store, "New");
    std::string deleteMessage = "no error";
    try {
        store.DeleteProfile("Existing");
    } catch (const Exception& error) {
        deleteMessage = error.Message();
    }
    ::chmod(folder.Folder().c_str(), 0700);
    EXPECT_EQ(message, "Unable to write to " + folder.File());
    EXPECT_EQ(deleteMessage, message);
    EXPECT_EQ(folder.Read(), before);
}

TEST(ProfilesAtomicWrite, AFileMarkedReadOnlyIsLeftAsItIs)
{
    TTempFolder folder;
    const TRegistrySet store(folder.Folder());
    SaveSample(store, "Existing", "old");
    const QByteArray before = folder.Read();
    ASSERT_EQ(::chmod(folder.File().c_str(), 0400), 0);
    EXPECT_EQ(ErrorOfSave(store, "New"), "Unable to write to " + folder.File());
    EXPECT_THROW(store.DeleteProfile("Existing"), Exception);
    EXPECT_EQ(folder.Read(), before);
    EXPECT_EQ(ModeOf(folder.File()), 0400u);
    EXPECT_TRUE(folder.Others().isEmpty());
}

TEST(ProfilesAtomicWrite, AFileThatCannotBeReadIsNeverReplaced)
{
    TTempFolder folder;
    // A folder in the file's place: it cannot be read, and must not be lost.
    ASSERT_TRUE(QDir(folder.Path()).mkdir(QStringLiteral("Accounts.dat")));
    const TRegistrySet store(folder.Folder());
    std::vector<std::string> names;
    EXPECT_TRUE(store.GetProfileNames(names).empty());
    EXPECT_EQ(ErrorOfSave(store, "New"), "Unable to write to " + folder.File());
    EXPECT_TRUE(QFileInfo(QString::fromStdString(folder.File())).isDir());
    EXPECT_TRUE(folder.Others().isEmpty());
}

TEST(ProfilesAtomicWrite, TheFileIsPrivateWhateverTheUmaskOrOldMode)
{
    TTempFolder folder;
    const mode_t oldMask = ::umask(0);
    const TRegistrySet store(folder.Folder());
    SaveSample(store, "A", "secret");
    EXPECT_EQ(ModeOf(folder.File()), 0600u);
    ::umask(oldMask);

    ASSERT_EQ(::chmod(folder.File().c_str(), 0644), 0);
    SaveSample(store, "B", "secret");
    EXPECT_EQ(ModeOf(folder.File()), 0600u);
    store.DeleteProfile("A");
    EXPECT_EQ(ModeOf(folder.File()), 0600u);
}

TEST(ProfilesAtomicWrite, MissingFolderIsCreatedAndALinkIsFollowed)
{
    TTempFolder folder;
    const TRegistrySet nested(folder.Folder() + "/sub/dir");
    SaveSample(nested, "A", "x");
    EXPECT_TRUE(QFile::exists(folder.Path() + QStringLiteral("/sub/dir/Accounts.dat")));

    const std::string real = folder.Folder() + "/real.dat";
    ASSERT_EQ(::symlink("real.dat", folder.File().c_str()), 0);
    const TRegistrySet linked(folder.Folder());
    SaveSample(linked, "Linked", "x");
    EXPECT_TRUE(QFileInfo(QString::fromStdString(folder.File())).isSymLink());
    QFile target(QString::fromStdString(real));
    ASSERT_TRUE(target.open(QIODevice::ReadOnly));
    EXPECT_TRUE(target.readAll().startsWith("[Linked]\r\n"));
}

} // namespace
