#include "profiles/registryset.h"

#include "tempfolder.h"

#include <gtest/gtest.h>

#include <thread>

#include <sys/stat.h>

namespace {

using Names = std::vector<std::string>;

struct TNoticeLog {
    std::vector<std::string> notices;
    TRegistrySet Store(const TTempFolder& folder)
    {
        return TRegistrySet(folder.Folder(), [this](const std::string& caption, const std::string& text) {
            notices.push_back(caption + "|" + text);
        });
    }
};

Names ListOf(const TRegistrySet& store)
{
    Names names{"stale"};
    store.GetProfileNames(names);
    return names;
}

Names Load(const TRegistrySet& store, const std::string& name)
{
    Names list;
    store.LoadProfile(list, name);
    return list;
}

TEST(ProfilesRegistrySet, FirstSaveCreatesThePrivateFileWithEightKeysInOrder)
{
    TTempFolder folder;
    TNoticeLog log;
    const TRegistrySet store = log.Store(folder);
    EXPECT_EQ(store.FileName(), folder.File());
    EXPECT_TRUE(ListOf(store).empty());
    EXPECT_FALSE(folder.Exists());

    store.SaveProfile("Work", false, "", "ftp.work", "ann", "secret", "21", true, false);
    EXPECT_EQ(folder.Read(), QByteArray("[Work]\r\nProxy=0\r\nProxyName=\r\nHostName=ftp.work\r\nUserName=ann\r\n"
                                        "PassWord=secret\r\nPort=21\r\nAnonymous=1\r\nPassive=0\r\n"
                                        "PassiveMode=0\r\n"));
    struct stat info {};
    ASSERT_EQ(::stat(folder.File().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_TRUE(folder.Others().isEmpty());
    EXPECT_TRUE(log.notices.empty());
}

TEST(ProfilesRegistrySet, SavingAgainUpdatesInPlaceAndKeepsTheOrder)
{
    TTempFolder folder;
    const TRegistrySet store(folder.Folder());
    store.SaveProfile("A", false, "", "a1", "u", "p", "21", false, false);
    store.SaveProfile("B", false, "", "b", "u", "p", "21", false, false);
    store.SaveProfile("a", true, "proxy", "a2", "u2", "p2", "990", false, true);
    EXPECT_EQ(ListOf(store), (Names{"A", "B"}));
    EXPECT_EQ(Load(store, "A"), (Names{"A", "true", "proxy", "a2", "u2", "p2", "990", "false", "true"}));
    EXPECT_EQ(folder.Read().count("[A]"), 1);
}

TEST(ProfilesRegistrySet, QuickConnectThroughAProxy)
{
    TTempFolder folder;
    const TRegistrySet store(folder.Folder());
    store.SaveProfile("P", true, "p", "h", "u", "pw", "990", false, true);
    TSiteFields fields;
    store.LoadQuickConnect("P", fields);
    EXPECT_EQ(fields.SiteHost, "p");
    EXPECT_EQ(fields.SitePort, "990");
    EXPECT_EQ(fields.SiteUser, "u@h");
    EXPECT_EQ(fields.SitePassword, "pw");
    EXPECT_TRUE(fields.SitePassive);
    EXPECT_TRUE(fields.SiteProxy);

    store.SaveProfile("D", false, "ignored", "h", "u", "pw", "2121", true, false);
    store.LoadQuickConnect("D", fields);
    EXPECT_EQ(fields.SiteHost, "h");
    EXPECT_EQ(fields.SiteUser, "u");
    EXPECT_EQ(fields.SitePort, "2121");
    EXPECT_FALSE(fields.SitePassive);
    EXPECT_FALSE(fields.SiteProxy);
}

TEST(ProfilesRegistrySet, HandEditedValuesAndMissingKeys)
{
    TTempFolder folder;
    folder.Write("[Hex]\r\nPassive=0x1\r\n"
                 "[Word]\r\nPassive=true\r\nPassiveMode=0\r\n"
                 "[NoPort]\r\nHostName=h\r\n"
                 "[EmptyPort]\r\nPort=\r\n");
    const TRegistrySet store(folder.Folder());
    TSiteFields fields;
    store.LoadQuickConnect("Hex", fields);
    EXPECT_TRUE(fields.SitePassive);
    store.LoadQuickConnect("Word", fields);
    EXPECT_FALSE(fields.SitePassive);
    EXPECT_EQ(Load(store, "NoPort")[6], "21");
    EXPECT_EQ(Load(store, "EmptyPort")[6], "");
    // Connecting to no port at all cannot work; the FTP port can.
    store.LoadQuickConnect("EmptyPort", fields);
    EXPECT_EQ(fields.SitePort, "21");
}

TEST(ProfilesRegistrySet, PassiveModeHasAKeyOfItsOwnAndOlderProfilesArePassive)
{
    TTempFolder folder;
    // Written before the key existed: "Passive" followed the proxy box.
    folder.Write("[Old]\r\nHostName=h\r\nPassive=0\r\n"
                 "[Active]\r\nHostName=h\r\nPassive=0\r\nPassiveMode=0\r\n");
    const TRegistrySet store(folder.Folder());
    TSiteFields fields;
    store.LoadQuickConnect("Old", fields);
    EXPECT_TRUE(fields.SitePassive);
    EXPECT_TRUE(store.LoadPassiveMode("Old"));
    store.LoadQuickConnect("Active", fields);
    EXPECT_FALSE(fields.SitePassive);
    EXPECT_FALSE(store.LoadPassiveMode("Active"));
    EXPECT_FALSE(store.LoadPassiveMode("Missing"));

    // A proxy forces passive whatever the choice.
    store.SaveProfile("Proxied", true, "p", "h", "u", "pw", "21", false, true, false);
    store.LoadQuickConnect("Proxied", fields);
    EXPECT_TRUE(fields.SitePassive);
    EXPECT_FALSE(store.LoadPassiveMode("Proxied"));
    store.SaveProfile("Chosen", false, "", "h", "u", "pw", "21", false, false, true);
    store.LoadQuickConnect("Chosen", fields);
    EXPECT_TRUE(fields.SitePassive);
    EXPECT_EQ(Load(store, "Chosen")[8], "false"); // "Passive" as older readers see it
}

TEST(ProfilesRegistrySet, UnknownNameGivesTheDefaults)
{
    TTempFolder folder;
    const TRegistrySet store(folder.Folder());
    store.SaveProfile("Known", true, "p", "h", "u", "pw", "990", true, true);
    EXPECT_EQ(Load(store, "Unknown"), (Names{"Unknown", "false", "", "", "", "", "21", "false", "false"}));

    TSiteFields fields{"old", "old", "old", "1", true, true};
    store.LoadQuickConnect("Unknown", fields);
    EXPECT_EQ(fields.SiteHost, "");
    EXPECT_EQ(fields.SiteUser, "");
    EXPECT_EQ(fields.SitePassword, "");
    EXPECT_EQ(fields.SitePort, "21");
    EXPECT_FALSE(fields.SitePassive);
}

TEST(ProfilesRegistrySet, EmptyNamesAreRefusedWithTheirNotices)
{
    TTempFolder folder;
    TNoticeLog log;
    const TRegistrySet store = log.Store(folder);

    Names list{"kept"};
    store.LoadProfile(list, "");
    EXPECT_EQ(list, (Names{"kept"}));

    TSiteFields fields{"host", "user", "pw", "990", true, false};
    store.LoadQuickConnect("", fields);
    EXPECT_EQ(fields.SiteHost, "host");
    EXPECT_EQ(fields.SitePort, "990");
    EXPECT_TRUE(fields.SitePassive);

    store.SaveProfile("", false, "", "h", "u", "p", "21", false, false);
    store.SaveProfile(" \t", false, "", "h", "u", "p", "21", false, false);
    EXPECT_FALSE(folder.Exists());

    EXPECT_EQ(log.notices,
              (Names{"Corrupt data|The data for this account has become corrupted. Please create the account again.",
                     "Quick Connect|There is no profile name to connect to!",
                     "No Account Name|You must provide a name for an account!",
                     "No Account Name|You must provide a name for an account!"}));
}

TEST(ProfilesRegistrySet, DeletingTheLastProfileLeavesAFileWithoutSections)
{
    TTempFolder folder;
    const TRegistrySet store(folder.Folder());
    store.DeleteProfile("nothing yet");
    EXPECT_FALSE(folder.Exists());

    store.SaveProfile("A", false, "", "h", "u", "p", "21", false, false);
    store.SaveProfile("B", false, "", "h", "u", "p", "21", false, false);
    store.DeleteProfile("a");
    EXPECT_EQ(ListOf(store), (Names{"B"}));
    store.DeleteProfile("Missing");
    EXPECT_EQ(ListOf(store), (Names{"B"}));
    store.DeleteProfile("B");
    EXPECT_TRUE(ListOf(store).empty());
    EXPECT_TRUE(folder.Exists());
    EXPECT_EQ(folder.Read(), QByteArray());
}

TEST(ProfilesRegistrySet, SavingOverAHandEditedFileKeepsWhatItDoesNotOwn)
{
    TTempFolder folder;
    folder.Write("; sites\n[work]\nhostname = old\nNote=call Bob first\n\n[Home]\nHostName=home\n");
    const TRegistrySet store(folder.Folder());
    store.SaveProfile("Work", false, "", "new", "u", " spaced pass ", "21", false, false);
    EXPECT_EQ(ListOf(store), (Names{"work", "Home"}));
    EXPECT_EQ(Load(store, "WORK")[3], "new");
    EXPECT_EQ(Load(store, "WORK")[5], " spaced pass ");
    EXPECT_EQ(Load(store, "Home")[3], "home");
    const QByteArray text = folder.Read();
    EXPECT_TRUE(text.startsWith("; sites\r\n[work]\r\nhostname=new\r\nNote=call Bob first\r\n"));
    EXPECT_TRUE(text.endsWith("\r\n\r\n[Home]\r\nHostName=home\r\n"));
}

TEST(ProfilesRegistrySet, ManyAndLongProfilesAreAllListedAndReadWhole)
{
    TTempFolder folder;
    const TRegistrySet store(folder.Folder());
    std::string text;
    for (int i = 0; i < 1500; ++i)
        text += "[A rather long profile name number " + std::to_string(i) + "]\r\nHostName=h\r\n";
    const std::string longPassword(5000, 'x');
    text += "[Long]\r\nPassWord=" + longPassword + "\r\n";
    folder.Write(QByteArray::fromStdString(text));
    EXPECT_EQ(ListOf(store).size(), 1501u);
    EXPECT_EQ(Load(store, "Long")[5], longPassword);
}

TEST(ProfilesRegistrySet, TwoWritersAtOnceLoseNoProfile)
{
    TTempFolder folder;
    const auto writer = [&folder](const std::string& prefix) {
        const TRegistrySet store(folder.Folder());
        for (int i = 0; i < 40; ++i)
            store.SaveProfile(prefix + std::to_string(i), false, "", "h", "u", "p", "21", false, false);
    };
    std::thread first(writer, "first ");
    std::thread second(writer, "second ");
    first.join();
    second.join();
    EXPECT_EQ(ListOf(TRegistrySet(folder.Folder())).size(), 80u);
}

} // namespace
