// The LIST, MLSD and FEAT readers: every line of the corpus against its
// expected fields, the year of dates given without one, whole listings,
// FEAT replies of common servers, and the time of 100,000 lines.

#include "ftp/ftplisting.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

TFtpTime Date(int year, int month, int day)
{
    TFtpTime time;
    time.Year = year;
    time.Month = month;
    time.Day = day;
    time.HasDate = true;
    time.YearKnown = true;
    return time;
}

// "\xNN" to the byte, "\\" to a backslash.
std::string Unescape(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

const char* TypeName(TFtpEntryType type)
{
    switch (type) {
    case TFtpEntryType::File:
        return "file";
    case TFtpEntryType::Directory:
        return "dir";
    case TFtpEntryType::Link:
        return "link";
    case TFtpEntryType::Device:
        return "device";
    case TFtpEntryType::Unknown:
        break;
    }
    return "unknown";
}

const char* FormatName(TFtpListFormat format)
{
    switch (format) {
    case TFtpListFormat::Unix:
        return "unix";
    case TFtpListFormat::Dos:
        return "dos";
    case TFtpListFormat::NetWare:
        return "netware";
    case TFtpListFormat::Mlsd:
        return "mlsd";
    case TFtpListFormat::Unknown:
        break;
    }
    return "unknown";
}

std::string RenderTime(const TFtpTime& time)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", time.Year, time.Month, time.Day);
    std::string text = buffer;
    if (time.TimeKnown) {
        std::snprintf(buffer, sizeof buffer, " %02d:%02d", time.Hour, time.Minute);
        text += buffer;
        if (time.SecondsKnown) {
            std::snprintf(buffer, sizeof buffer, ":%02d", time.Second);
            text += buffer;
        }
        if (time.Millisecond != 0) {
            std::snprintf(buffer, sizeof buffer, ".%03d", time.Millisecond);
            text += buffer;
        }
    }
    if (!time.YearKnown)
        text += " year?";
    if (time.Utc)
        text += " UTC";
    return text;
}

// The fields of an entry in the corpus notation.
std::string Render(TFtpLineResult result, const TFtpListEntry& entry)
{
    if (result == TFtpLineResult::Skipped)
        return "skip";
    if (result == TFtpLineResult::Fallback)
        return "fallback name=" + entry.Name;
    std::string text = std::string(FormatName(entry.Format)) + " " + TypeName(entry.Type);
    const auto add = [&](const std::string& field) { text += " | " + field; };
    add("name=" + entry.Name);
    if (entry.Size >= 0)
        add("size=" + std::to_string(entry.Size));
    if (entry.Modified.HasDate)
        add("date=" + RenderTime(entry.Modified));
    if (!entry.Permissions.empty())
        add("perm=" + entry.Permissions);
    if (entry.Mode >= 0) {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "0%o", static_cast<unsigned>(entry.Mode));
        add(std::string("mode=") + buffer);
    }
    if (!entry.Perm.empty())
        add("mlsdperm=" + entry.Perm);
    if (!entry.Owner.empty())
        add("owner=" + entry.Owner);
    if (!entry.Group.empty())
        add("group=" + entry.Group);
    if (!entry.LinkTarget.empty())
        add("target=" + entry.LinkTarget);
    if (entry.DeviceMajor >= 0)
        add("dev=" + std::to_string(entry.DeviceMajor) + "," + std::to_string(entry.DeviceMinor));
    if (entry.Role == TFtpEntryRole::Current)
        add("role=current");
    else if (entry.Role == TFtpEntryRole::Parent)
        add("role=parent");
    return text;
}

struct TCorpusCase {
    int LineNumber = 0;
    std::string Reader; // list, mlsd, mlst
    TFtpTime Now;
    std::string Line;
    std::string Expected;
};

std::vector<TCorpusCase> ReadCorpus()
{
    std::ifstream file(TARVIK_LISTING_CORPUS, std::ios::binary);
    EXPECT_TRUE(file.good()) << "cannot read " << TARVIK_LISTING_CORPUS;
    std::vector<TCorpusCase> cases;
    std::string reader = "list";
    TFtpTime now = Date(2026, 12, 8);
    std::string text;
    int number = 0;
    bool pending = false;
    while (std::getline(file, text)) {
        ++number;
        if (text.rfind("@now ", 0) == 0) {
            now = Date(std::stoi(text.substr(5, 4)), std::stoi(text.substr(10, 2)), std::stoi(text.substr(13, 2)));
        } else if (text == "@list" || text == "@mlsd" || text == "@mlst") {
            reader = text.substr(1);
        } else if (text == ">" || text.rfind("> ", 0) == 0) {
            EXPECT_FALSE(pending) << "corpus line " << number << ": two inputs in a row";
            cases.push_back(TCorpusCase{number, reader, now, Unescape(text.size() > 2 ? text.substr(2) : ""), ""});
            pending = true;
        } else if (text.rfind("= ", 0) == 0) {
            EXPECT_TRUE(pending) << "corpus line " << number << ": a result without its input";
            if (pending)
                cases.back().Expected = Unescape(text.substr(2));
            pending = false;
        }
    }
    EXPECT_FALSE(pending) << "the corpus ends with an input without its result";
    return cases;
}

} // namespace

TEST(FtpListingCorpus, EveryLineGivesItsExpectedFields)
{
    const std::vector<TCorpusCase> cases = ReadCorpus();
    ASSERT_GT(cases.size(), 100u);
    for (const TCorpusCase& item : cases) {
        TFtpListEntry entry;
        entry.Name = "left over from before"; // every reader must replace it
        entry.Size = 77;
        TFtpLineResult result = TFtpLineResult::Skipped;
        if (item.Reader == "list")
            result = ParseListLine(item.Line, item.Now, entry);
        else if (item.Reader == "mlsd")
            result = ParseMlsdLine(item.Line, entry);
        else
            result = ParseMlstLine(item.Line, entry);
        EXPECT_EQ(Render(result, entry), item.Expected) << "corpus line " << item.LineNumber << ": " << item.Line;
        // A line end the caller left on must not change the result.
        TFtpListEntry again;
        const std::string withEnd = item.Line + "\r\n";
        const TFtpLineResult second = item.Reader == "list"   ? ParseListLine(withEnd, item.Now, again)
                                      : item.Reader == "mlsd" ? ParseMlsdLine(withEnd, again)
                                                              : ParseMlstLine(withEnd, again);
        EXPECT_EQ(Render(second, again), item.Expected) << "corpus line " << item.LineNumber << " with CRLF";
    }
}

TEST(FtpListing, FoldersToEnterExcludeCurrentAndParent)
{
    TFtpListEntry entry;
    ASSERT_EQ(ParseMlsdLine("type=cdir;perm=el; /pub", entry), TFtpLineResult::Entry);
    EXPECT_FALSE(entry.IsFolder());
    ASSERT_EQ(ParseMlsdLine("type=pdir;perm=el; /", entry), TFtpLineResult::Entry);
    EXPECT_FALSE(entry.IsFolder());
    ASSERT_EQ(ParseMlsdLine("type=dir;perm=el; sub", entry), TFtpLineResult::Entry);
    EXPECT_TRUE(entry.IsFolder());
    // A plain "dir" named ".." from a careless server is still the parent.
    ASSERT_EQ(ParseMlsdLine("type=dir; ..", entry), TFtpLineResult::Entry);
    EXPECT_FALSE(entry.IsFolder());
    ASSERT_EQ(ParseListLine("drwxr-xr-x 2 a b 4096 Dec  8 12:00 ..", Date(2026, 12, 8), entry), TFtpLineResult::Entry);
    EXPECT_FALSE(entry.IsFolder());
    ASSERT_EQ(ParseListLine("lrwxrwxrwx 1 a b 3 Dec  8 12:00 up -> ..", Date(2026, 12, 8), entry),
              TFtpLineResult::Entry);
    EXPECT_FALSE(entry.IsFolder()); // a link: the engine finds out where it leads
}

TEST(FtpListing, WholeListingsKeepEveryEntryAndSkipTotals)
{
    const std::string unix = "total 8\r\n"
                             "drwxr-xr-x   2 ftp ftp 4096 Dec  8 12:00 pub\r\n"
                             "\r\n"
                             "something odd\r\n"
                             "-rw-r--r--   1 ftp ftp   12 Dec  8 12:00 last without end";
    const std::vector<TFtpListEntry> entries = ParseListing(unix, false, Date(2026, 12, 8));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].Name, "pub");
    EXPECT_EQ(entries[1].Name, "something odd");
    EXPECT_EQ(entries[1].Type, TFtpEntryType::Unknown);
    EXPECT_EQ(entries[2].Name, "last without end");
    EXPECT_EQ(entries[2].Size, 12);

    const std::string mlsd = "type=cdir; .\nType=file;Size=3; a b\ntype=dir; c\n";
    const std::vector<TFtpListEntry> facts = ParseListing(mlsd, true, Date(2026, 12, 8));
    ASSERT_EQ(facts.size(), 3u);
    EXPECT_EQ(facts[0].Role, TFtpEntryRole::Current);
    EXPECT_EQ(facts[1].Name, "a b");
    EXPECT_EQ(facts[1].Size, 3);
    EXPECT_TRUE(facts[2].IsFolder());
}

TEST(FtpListing, YearOfDatesWithoutOneFollowsTheDateGiven)
{
    // The same line read on different days of the client.
    const std::string line = "-rw-r--r-- 1 a b 1 Jun 15 08:00 x";
    const struct {
        TFtpTime Now;
        int Year;
    } cases[] = {
        {Date(2026, 6, 15), 2026}, // today
        {Date(2026, 12, 8), 2026}, // six months ago
        {Date(2026, 1, 1), 2026},  // five and a half months ahead
        {Date(2025, 12, 1), 2025}, // six and a half months ahead: last year
        {Date(2027, 6, 14), 2027}, // tomorrow
    };
    for (const auto& item : cases) {
        TFtpListEntry entry;
        ASSERT_EQ(ParseListLine(line, item.Now, entry), TFtpLineResult::Entry);
        EXPECT_EQ(entry.Modified.Year, item.Year) << "now " << item.Now.Year << "-" << item.Now.Month;
        EXPECT_FALSE(entry.Modified.YearKnown);
        EXPECT_TRUE(entry.Modified.TimeKnown);
    }
    // With a year the date is taken as given, and has no time of day.
    TFtpListEntry entry;
    ASSERT_EQ(ParseListLine("-rw-r--r-- 1 a b 1 Jun 15  2031 y", Date(2026, 12, 8), entry), TFtpLineResult::Entry);
    EXPECT_EQ(entry.Modified.Year, 2031);
    EXPECT_TRUE(entry.Modified.YearKnown);
    EXPECT_FALSE(entry.Modified.TimeKnown);
}

TEST(FtpListing, TimesConvertToAndFromUnixSeconds)
{
    const std::int64_t samples[] = {0, 951782400 /* 2000-02-29 */, 1796731200, -86400, 4102444800, 1234567890};
    for (const std::int64_t seconds : samples) {
        const TFtpTime time = FtpTimeFromUnix(seconds);
        EXPECT_EQ(FtpTimeToUnix(time), seconds);
    }
    TFtpListEntry entry;
    ASSERT_EQ(ParseMlsdLine("modify=20000229235959; leap", entry), TFtpLineResult::Entry);
    EXPECT_EQ(FtpTimeToUnix(entry.Modified), 951868799);
    const TFtpTime epoch = FtpTimeFromUnix(0);
    EXPECT_EQ(epoch.Year, 1970);
    EXPECT_EQ(epoch.Month, 1);
    EXPECT_EQ(epoch.Day, 1);
    EXPECT_EQ(FtpTimeToUnix(TFtpTime()), 0); // no date
}

TEST(FtpFeat, RepliesOfCommonServers)
{
    // vsftpd with TLS
    TFtpFeatures vsftpd = ParseFeatReply("211-Features:\r\n AUTH SSL\r\n AUTH TLS\r\n EPRT\r\n EPSV\r\n MDTM\r\n"
                                         " PASV\r\n PBSZ\r\n PROT\r\n REST STREAM\r\n SIZE\r\n TVFS\r\n UTF8\r\n"
                                         "211 End\r\n");
    EXPECT_TRUE(vsftpd.Received);
    EXPECT_TRUE(vsftpd.AuthTls && vsftpd.AuthSsl && vsftpd.Eprt && vsftpd.Epsv && vsftpd.Mdtm);
    EXPECT_TRUE(vsftpd.Pbsz && vsftpd.Prot && vsftpd.RestStream && vsftpd.Size && vsftpd.Tvfs && vsftpd.Utf8);
    EXPECT_FALSE(vsftpd.Mlst || vsftpd.Mfmt);
    EXPECT_EQ(vsftpd.Lines.size(), 12u);
    EXPECT_TRUE(vsftpd.Has("PASV"));
    EXPECT_TRUE(vsftpd.Has("rest stream"));
    EXPECT_FALSE(vsftpd.Has("REST STREAMING"));
    EXPECT_FALSE(vsftpd.Has("MLST"));

    // pyftpdlib: MLST facts with their marks
    TFtpFeatures py = ParseFeatReply("211-Features supported:\r\n EPRT\r\n EPSV\r\n MDTM\r\n MFMT\r\n"
                                     " MLST type*;perm*;size*;modify*;unique;unix.mode;unix.uid;unix.gid;\r\n"
                                     " REST STREAM\r\n SIZE\r\n TVFS\r\n UTF8\r\n211 End FEAT.\r\n");
    EXPECT_TRUE(py.Mlst && py.Mfmt && py.Utf8 && py.Epsv);
    EXPECT_FALSE(py.AuthTls);
    const std::vector<std::string> facts = {"type",   "perm",      "size",     "modify",
                                            "unique", "unix.mode", "unix.uid", "unix.gid"};
    EXPECT_EQ(py.MlstFacts, facts);
    const std::vector<bool> active = {true, true, true, true, false, false, false, false};
    EXPECT_EQ(py.MlstFactsActive, active);

    // ProFTPD: LANG with parameters, AUTH TLS, upper-case UNIX facts
    TFtpFeatures pro = ParseFeatReply("211-Features:\n LANG en-US*\n MDTM\n MFMT\n TVFS\n UTF8\n"
                                      " MLST modify*;perm*;size*;type*;unique*;UNIX.group*;UNIX.mode*;\n"
                                      " SIZE\n AUTH TLS\n PBSZ\n PROT\n EPSV\n EPRT\n REST STREAM\n211 End\n");
    EXPECT_TRUE(pro.Has("LANG"));
    EXPECT_TRUE(pro.AuthTls && !pro.AuthSsl && pro.Mlst && pro.Mfmt);
    ASSERT_EQ(pro.MlstFacts.size(), 7u);
    EXPECT_EQ(pro.MlstFacts[6], "UNIX.mode");

    // Servers that repeat the code on every line, or list MLSD on its own
    TFtpFeatures repeated = ParseFeatReply("211-Extensions supported:\r\n211-MDTM\r\n211-SIZE\r\n211-MLSD\r\n"
                                           "211-AUTH TLS;SSL\r\n211 END\r\n");
    EXPECT_TRUE(repeated.Mdtm && repeated.Size && repeated.Mlst && repeated.AuthTls && repeated.AuthSsl);
    EXPECT_EQ(repeated.Lines.size(), 4u);
}

TEST(FtpFeat, MissingOrEmptyFeaturesGiveNothing)
{
    for (const char* reply :
         {"500 'FEAT': command not understood.\r\n", "502 Command not implemented.\r\n", "", "garbage"}) {
        const TFtpFeatures features = ParseFeatReply(reply);
        EXPECT_FALSE(features.Received) << reply;
        EXPECT_TRUE(features.Lines.empty());
    }
    const TFtpFeatures none = ParseFeatReply("211 No features.\r\n");
    EXPECT_TRUE(none.Received);
    EXPECT_TRUE(none.Lines.empty());
    EXPECT_FALSE(none.Utf8 || none.Epsv || none.Size);
    // Lines after the closing line belong to another reply.
    const TFtpFeatures closed = ParseFeatReply("211-Features:\r\n SIZE\r\n211 End\r\n UTF8\r\n");
    EXPECT_TRUE(closed.Size);
    EXPECT_FALSE(closed.Utf8);
}

// Not a pass/fail check: prints how long 100,000 lines take, against the
// least any reader must do (splitting the text into lines and copying each
// name), in the same run.
TEST(FtpListingBenchmark, HundredThousandLines)
{
    std::string listing;
    std::string mlsd;
    for (int i = 0; i < 100000; ++i) {
        const std::string name = "file number " + std::to_string(i) + ".dat";
        switch (i % 4) {
        case 0:
            listing += "-rw-r--r--    1 1000     1000        " + std::to_string(i * 37) + " Dec 08 12:34 " + name;
            break;
        case 1:
            listing += "drwxr-xr-x    2 ftp      ftp             4096 Jun 30  2025 " + name;
            break;
        case 2:
            listing += "lrwxrwxrwx    1 ftp      ftp                7 Nov 20 14:02 " + name + " -> target";
            break;
        default:
            listing += "12-08-26  07:03PM              " + std::to_string(i) + " " + name;
            break;
        }
        listing += "\r\n";
        mlsd += "type=file;size=" + std::to_string(i) + ";modify=20261208123456;perm=radfw;unix.mode=0644; " + name +
                "\r\n";
    }
    using Clock = std::chrono::steady_clock;
    const auto time = [](auto&& work) {
        const auto start = Clock::now();
        work();
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    std::size_t referenceCount = 0;
    const double reference = time([&] {
        std::vector<std::string> names;
        std::size_t start = 0;
        while (start < listing.size()) {
            std::size_t end = listing.find('\n', start);
            if (end == std::string::npos)
                end = listing.size();
            names.emplace_back(listing, start, end - start);
            start = end + 1;
        }
        referenceCount = names.size();
    });
    std::size_t listCount = 0;
    const double list = time([&] { listCount = ParseListing(listing, false, Date(2026, 12, 8)).size(); });
    std::size_t mlsdCount = 0;
    const double facts = time([&] { mlsdCount = ParseListing(mlsd, true, Date(2026, 12, 8)).size(); });
    EXPECT_EQ(referenceCount, 100000u);
    EXPECT_EQ(listCount, 100000u);
    EXPECT_EQ(mlsdCount, 100000u);
    std::printf("100,000 lines: LIST %.1f ms, MLSD %.1f ms, splitting and copying only %.1f ms "
                "(LIST %.1fx, MLSD %.1fx of that)\n",
                list, facts, reference, list / reference, facts / reference);
}
