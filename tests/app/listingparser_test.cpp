// The positional reading of listing lines, field by field.
#include "app/listingparser.h"

#include <gtest/gtest.h>

namespace {

TListingEntry Parse(const std::string& line, bool expected = true)
{
    TListingEntry entry;
    EXPECT_EQ(ParseListingLine(line, entry), expected) << line;
    return entry;
}

TEST(ListingParser, UnixLineKeepsTheDelimitingSpaces)
{
    const TListingEntry entry = Parse("-rw-r--r--   1 user group 1234 Jan 12 10:30 index.html");
    EXPECT_EQ(entry.Name, "index.html");
    EXPECT_FALSE(entry.IsDirectory);
    EXPECT_EQ(entry.ImageIndex, 1);
    EXPECT_EQ(entry.Size, "1234 ");
    EXPECT_EQ(entry.Date, "Jan  12  10:30  ");
    EXPECT_EQ(entry.Perm, "-rw-r--r-- ");
}

TEST(ListingParser, NamesWithSpacesLinksAndDots)
{
    EXPECT_EQ(Parse("-rw-r--r-- 1 u g 5 Mar  3  2023 my file.txt").Name, "my file.txt");
    EXPECT_EQ(Parse("-rw-r--r-- 1 u g 5 Mar  3  2023 my file.txt").Date, "Mar  3  2023  ");
    const TListingEntry link = Parse("lrwxrwxrwx 1 u g 11 Jan 1 00:00 www -> public_html");
    EXPECT_TRUE(link.IsDirectory);
    EXPECT_EQ(link.Name, "www -> public_html");
    EXPECT_EQ(link.ImageIndex, 2);
    EXPECT_EQ(Parse("drwxr-xr-x 2 u g 4096 Jan 1 00:00 .").Name, ".");
    EXPECT_EQ(Parse("drwxr-xr-x 2 u g 4096 Jan 1 00:00 ..").Name, "..");
    // A locking mark "l" anywhere sends the entry to the directories.
    EXPECT_TRUE(Parse("-rw-r-lr-- 1 u g 5 Jan 1 00:00 locked").IsDirectory);
}

TEST(ListingParser, ModeLettersGiveThePermissionBits)
{
    EXPECT_EQ(Parse("-rw-r--r-- 1 u g 5 Jan 1 00:00 f").Mode, 0644);
    EXPECT_EQ(Parse("drwx--x--x 2 u g 4096 Jan 1 00:00 d").Mode, 0711);
    // Set-id and sticky letters: lower case has the execute bit, upper not.
    EXPECT_EQ(ModeFromPermissions("-rwsr-Sr-t"), 0755 & ~0010);
    EXPECT_EQ(ModeFromPermissions("drwxrwxrwT"), 0776);
    EXPECT_EQ(ModeFromPermissions("----------"), 0);
    // A link's letters are the link's, not its target's; odd letters and
    // short texts give no mode.
    EXPECT_EQ(Parse("lrwxrwxrwx 1 u g 11 Jan 1 00:00 www -> public_html").Mode, -1);
    EXPECT_EQ(Parse("-rw-r-lr-- 1 u g 5 Jan 1 00:00 locked").Mode, -1);
    EXPECT_EQ(ModeFromPermissions("-rw-r--r"), -1);
    EXPECT_EQ(ModeFromPermissions("[RWCEAFMS]"), -1);
}

TEST(ListingParser, ImageRulesAreCaseSensitiveSubstrings)
{
    EXPECT_EQ(Parse("-rw-r--r-- 1 u g 5 Jan 1 00:00 index.HTML").ImageIndex, 0);
    EXPECT_EQ(Parse("-rw-r--r-- 1 u g 5 Jan 1 00:00 notes.txt.bak").ImageIndex, 1);
    for (const char* name : {"a.htm", "a.pl", "a.js", "a.cgi", "a.css"})
        EXPECT_EQ(RemoteFileImageIndex(name), 1) << name;
    EXPECT_EQ(RemoteFileImageIndex("archive.tar.gz"), 0);
}

TEST(ListingParser, LinesThatAreNoEntries)
{
    Parse("total 0", false);
    Parse("", false);
    Parse("   ", false);
    Parse("garbage", false);
    // A date-first layout has too few fields for an item, or shifted ones.
    Parse("01-12-24  10:30AM       1234 index.html", false);
    const TListingEntry shifted = Parse("01-12-24  10:30AM  <DIR>  1234 a b c d");
    EXPECT_EQ(shifted.Size, "a ");
}

TEST(ListingParser, ControlCharactersAndTabsAreBlanksBetweenFields)
{
    const TListingEntry entry = Parse("-rw-r--r-- 1 u g 5 Jan 1 00:00 \t\x01name\x02tail");
    EXPECT_EQ(entry.Name, "name\x02tail");
    // Arbitrary bytes never fail.
    std::string noise;
    for (int i = 0; i < 256; ++i)
        noise.push_back(char(i));
    TListingEntry any;
    ParseListingLine(noise + " " + noise + " a b c d e f g", any);
}

} // namespace
