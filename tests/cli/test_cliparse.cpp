// The readers behind tarvik-ftp's login: netrc text and ftp:// URLs given
// as the host, including the forms the program tests do not reach.

#include "cli/cliargs.h"
#include "cli/ftpurlarg.h"
#include "cli/netrc.h"

#include <gtest/gtest.h>

namespace {

TEST(Netrc, MachinesDefaultsQuotesAndMacros)
{
    const std::string text = "# a comment-like word is passed over\n"
                             "machine ftp.example.org login alice password \"two words \\\" and quote\"\n"
                             "macdef init\n  login mallory\n  password evil\n\n"
                             "machine FTP.Example.org login bob password b0b\n"
                             "machine other password lonely\n"
                             "default login anonymous password guest@\n";
    auto e = FindNetrcEntry(text, "ftp.example.org");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Login, "alice");
    EXPECT_EQ(e->Password, "two words \" and quote");
    // A login asked for picks its own entry; host names ignore case.
    e = FindNetrcEntry(text, "ftp.example.org", "bob");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Password, "b0b");
    // The macro body is not read as entries.
    EXPECT_FALSE(FindNetrcEntry(text, "ftp.example.org", "mallory").has_value());
    e = FindNetrcEntry(text, "other");
    ASSERT_TRUE(e);
    EXPECT_FALSE(e->LoginGiven);
    EXPECT_EQ(e->Password, "lonely");
    e = FindNetrcEntry(text, "unknown.example");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->Login, "anonymous");
    EXPECT_FALSE(FindNetrcEntry("machine a login b password c", "z").has_value());
    EXPECT_FALSE(FindNetrcEntry("", "z").has_value());
}

TEST(FtpUrl, PartsEscapesAndErrors)
{
    TFtpUrl url;
    std::string error;
    ASSERT_TRUE(ParseFtpUrl("FTP://us%40er:p%3Ass@[::1]:2121/%2Fabs/a%20b", url, error)) << error;
    EXPECT_EQ(url.Host, "::1");
    EXPECT_EQ(url.Port, "2121");
    EXPECT_EQ(url.User, "us@er");
    EXPECT_EQ(url.Password, "p:ss");
    EXPECT_EQ(url.Path, "/abs/a b");
    ASSERT_TRUE(ParseFtpUrl("ftp://host", url, error));
    EXPECT_EQ(url.Host, "host");
    EXPECT_TRUE(url.Port.empty());
    EXPECT_FALSE(url.UserGiven);
    for (const char* bad : {"ftp://", "ftp://h:0/", "ftp://h:x/", "ftp://[::1/", "ftp://h/a%0d%0aDELE%20x",
                            "ftp://h/a%2", "ftp://h/?q", "http://h/"})
        EXPECT_FALSE(ParseFtpUrl(bad, url, error)) << bad;
}

TEST(FtpUrl, PathNamesTheFileOrTheFolder)
{
    TCliArgs args;
    std::string error;
    ASSERT_TRUE(ParseCliArgs({"--user", "me", "ftp://u:p@h:99/pub/file.bin", "get"}, args, error)) << error;
    EXPECT_EQ(args.host, "h");
    EXPECT_EQ(args.port, "99");
    EXPECT_EQ(args.user, "me") << "an option beats the URL";
    EXPECT_FALSE(args.passwordGiven) << "the URL's password belongs to the URL's user";
    ASSERT_EQ(args.args.size(), 1u);
    EXPECT_EQ(args.args[0], "pub/file.bin");
    EXPECT_TRUE(args.cwd.empty());

    args = {};
    ASSERT_TRUE(ParseCliArgs({"ftp://h/pub/", "get", "x"}, args, error)) << error;
    EXPECT_EQ(args.cwd, "pub");
    args = {};
    ASSERT_TRUE(ParseCliArgs({"ftp://h/pub", "mirror", "site", "local"}, args, error)) << error;
    EXPECT_EQ(args.cwd, "pub");
    EXPECT_EQ(args.args.size(), 2u);
    args = {};
    EXPECT_FALSE(ParseCliArgs({"ftp://h/pub/", "get"}, args, error)) << "a folder is not a file to get";

    args = {};
    ASSERT_TRUE(ParseCliArgs({"--site", "My Site", "rm", "a", "b"}, args, error)) << error;
    EXPECT_EQ(args.site, "My Site");
    EXPECT_EQ(args.command, "rm");
    EXPECT_EQ(args.args.size(), 2u);
}

} // namespace
