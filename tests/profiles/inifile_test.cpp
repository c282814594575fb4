#include "profiles/inifile.h"

#include "tempfolder.h"

#include <gtest/gtest.h>

namespace {

TIniFile Parsed(const std::string& text)
{
    TIniFile file("unused");
    file.Parse(text);
    return file;
}

TEST(ProfilesIniFile, HandEditedFileWithOddSpacingCommentsAndMixedLineEnds)
{
    const TIniFile file = Parsed("; accounts of the office\r\n"
                                 "stray=before any section\n"
                                 "  [ Site One ]  \r\n"
                                 "\tHostName =  ftp.example.org \t\r"
                                 "# a note\n"
                                 "UserName=bob\r\n"
                                 "no equals sign here\r\n"
                                 "=no key\r\n"
                                 "[Second]\n"
                                 "PassWord = a=b=c\n");
    EXPECT_EQ(file.SectionNames(), (std::vector<std::string>{"Site One", "Second"}));
    EXPECT_EQ(file.ReadString("Site One", "HostName", "?"), "ftp.example.org");
    EXPECT_EQ(file.ReadString("Site One", "UserName", "?"), "bob");
    EXPECT_EQ(file.ReadString("Second", "PassWord", "?"), "a=b=c");
    EXPECT_FALSE(file.Read("Site One", "stray"));
    EXPECT_FALSE(file.Read("Site One", "PassWord"));
}

TEST(ProfilesIniFile, AByteOrderMarkInsideANameIsPartOfTheName)
{
    EXPECT_NE(FoldName("\xEF\xBB\xBFSite"), FoldName("Site"));
    EXPECT_NE(FoldName("\xEF\xBB\xBF"), FoldName(""));
    EXPECT_EQ(FoldName("\xEF\xBB\xBFSITE"), FoldName("\xEF\xBB\xBFsite"));
    const TIniFile file = Parsed("[Site]\r\nHostName=plain\r\n[\xEF\xBB\xBFSite]\r\nHostName=marked\r\n");
    EXPECT_EQ(file.ReadString("Site", "HostName", "?"), "plain");
    EXPECT_EQ(file.ReadString("\xEF\xBB\xBFSite", "HostName", "?"), "marked");
}

TEST(ProfilesIniFile, NamesMatchWithoutRegardToCase)
{
    const TIniFile file = Parsed("[Café Ünïon]\r\nHOSTNAME=h\r\n");
    EXPECT_EQ(file.ReadString("café ÜNÏON", "hostname", "?"), "h");
    EXPECT_TRUE(file.HasSection("CAFÉ ünïon"));
    EXPECT_EQ(file.ReadString("other", "hostname", "default"), "default");
}

TEST(ProfilesIniFile, DuplicateSectionsActAsOne)
{
    TIniFile file = Parsed("[A]\r\nHostName=first\r\n[B]\r\nHostName=b\r\n[a]\r\nHostName=second\r\nPort=2121\r\n");
    EXPECT_EQ(file.SectionNames(), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(file.ReadString("A", "HostName", ""), "first");
    EXPECT_EQ(file.ReadString("A", "Port", ""), "2121");

    file.WriteString("A", "Port", "21");
    EXPECT_EQ(file.ReadString("A", "Port", ""), "21");

    EXPECT_TRUE(file.EraseSection("a"));
    EXPECT_EQ(file.SectionNames(), (std::vector<std::string>{"B"}));
    EXPECT_EQ(file.Text(), "[B]\r\nHostName=b\r\n");
}

TEST(ProfilesIniFile, QuotedValuesLoseOnePairOfQuotes)
{
    const TIniFile file = Parsed("[S]\nA=\"  padded  \"\nB='x'\nC=\"\"inner\"\"\nD=\"unbalanced\nE=\"\n");
    EXPECT_EQ(file.ReadString("S", "A", ""), "  padded  ");
    EXPECT_EQ(file.ReadString("S", "B", ""), "x");
    EXPECT_EQ(file.ReadString("S", "C", ""), "\"inner\"");
    EXPECT_EQ(file.ReadString("S", "D", ""), "\"unbalanced");
    EXPECT_EQ(file.ReadString("S", "E", ""), "\"");
}

std::string KeyNumber(std::size_t i)
{
    std::string key = "K";
    key += std::to_string(i);
    return key;
}

TEST(ProfilesIniFile, ValuesThatWouldChangeOnReadingAreWrittenQuoted)
{
    TIniFile file = Parsed("");
    const std::vector<std::string> values = {" lead", "trail\t", "\"quoted\"", "'single'", "plain", "", "a\"b"};
    for (std::size_t i = 0; i < values.size(); ++i)
        file.WriteString("S", KeyNumber(i), values[i]);
    const TIniFile reread = Parsed(file.Text());
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(reread.ReadString("S", KeyNumber(i), "?"), values[i]) << i;
    EXPECT_NE(file.Text().find("K4=plain\r\n"), std::string::npos);
}

TEST(ProfilesIniFile, LineBreaksCannotSmuggleInSectionsOrKeys)
{
    TIniFile file = Parsed("");
    file.WriteString("S", "PassWord", "x\r\n[Evil]\r\nHostName=attacker");
    const TIniFile reread = Parsed(file.Text());
    EXPECT_EQ(reread.SectionNames(), (std::vector<std::string>{"S"}));
    EXPECT_EQ(reread.ReadString("S", "PassWord", ""), "x  [Evil]  HostName=attacker");
}

TEST(ProfilesIniFile, NameHoldingClosingBracketSurvives)
{
    TIniFile file = Parsed("");
    file.WriteString("a]b", "HostName", "h");
    const TIniFile reread = Parsed(file.Text());
    EXPECT_EQ(reread.SectionNames(), (std::vector<std::string>{"a]b"}));
    EXPECT_EQ(reread.ReadString("a]b", "HostName", ""), "h");
}

TEST(ProfilesIniFile, HeaderWithoutClosingBracketStillStartsASection)
{
    const TIniFile file = Parsed("[A]\nHostName=a\n[Broken\nHostName=b\n");
    EXPECT_EQ(file.ReadString("A", "HostName", ""), "a");
    EXPECT_EQ(file.ReadString("Broken", "HostName", ""), "b");
}

TEST(ProfilesIniFile, EditsKeepUntouchedLinesAndAppendInTheRightPlace)
{
    TIniFile file = Parsed("; my sites\r\n"
                           "[A]\r\n"
                           "  hostname = old  \r\n"
                           "Custom=kept\r\n"
                           "\r\n"
                           "; B is the backup\r\n"
                           "[B]\r\n"
                           "HostName=b\r\n");
    file.WriteString("a", "HostName", "new");
    file.WriteString("A", "Port", "990");
    file.WriteString("C", "HostName", "c");
    EXPECT_EQ(file.Text(), "; my sites\r\n"
                           "[A]\r\n"
                           "hostname=new\r\n"
                           "Custom=kept\r\n"
                           "Port=990\r\n"
                           "\r\n"
                           "; B is the backup\r\n"
                           "[B]\r\n"
                           "HostName=b\r\n"
                           "[C]\r\n"
                           "HostName=c\r\n");
}

TEST(ProfilesIniFile, IntegersAndBooleans)
{
    const TIniFile file = Parsed("[S]\n"
                                 "hex=0x1\nbig=0X10\nzero=0\nzerohex=0x0\nneg=-1\nplus=+7\n"
                                 "word=true\nmixed=1abc\nbare=0x\nempty=\nhuge=99999999999\nallbits=0xFFFFFFFF\n");
    EXPECT_TRUE(file.ReadBool("S", "hex", false));
    EXPECT_EQ(file.ReadInteger("S", "big", 0), 16);
    EXPECT_FALSE(file.ReadBool("S", "zero", true));
    EXPECT_FALSE(file.ReadBool("S", "zerohex", true));
    EXPECT_EQ(file.ReadInteger("S", "neg", 0), -1);
    EXPECT_EQ(file.ReadInteger("S", "plus", 0), 7);
    EXPECT_EQ(file.ReadInteger("S", "allbits", 0), -1);
    for (const char* key : {"word", "mixed", "bare", "empty", "huge", "missing"}) {
        EXPECT_EQ(file.ReadInteger("S", key, 42), 42) << key;
        EXPECT_FALSE(file.ReadBool("S", key, false)) << key;
    }
}

TEST(ProfilesIniFile, AnsiFilesFromWindowsAndByteOrderMarks)
{
    TTempFolder folder;
    folder.Write("[Caf\xE9]\r\nHostName=\x80uro\r\n");
    TIniFile ansi(folder.File());
    ansi.Load();
    EXPECT_EQ(ansi.SectionNames(), (std::vector<std::string>{"Café"}));
    EXPECT_EQ(ansi.ReadString("café", "HostName", ""), "€uro");

    folder.Write("\xEF\xBB\xBF[Café]\r\nHostName=h\r\n");
    TIniFile utf8(folder.File());
    utf8.Load();
    EXPECT_EQ(utf8.SectionNames(), (std::vector<std::string>{"Café"}));
}

} // namespace
