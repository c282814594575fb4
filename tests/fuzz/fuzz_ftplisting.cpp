// The readers of what servers send about files (LIST lines in any layout,
// MLSD and MLST lines, FEAT replies) and the server-name codec. The input is
// a listing as it arrives; every line goes through every reader.

#include "ftp/ftplisting.h"
#include "ftp/ftpnamecodec.h"
#include "fuzzsupport.h"

#include <string>
#include <string_view>

namespace {

bool Contains(std::string_view text, const std::string& part)
{
    return part.empty() || text.find(part) != std::string_view::npos;
}

std::string_view WithoutLineEnd(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    return line;
}

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

void CheckTime(const TFtpTime& time, const TFtpTime& now)
{
    if (!time.HasDate)
        return;
    if (time.Month < 1 || time.Month > 12 || time.Day < 1 || time.Day > 31)
        fuzz::Fail("a date outside the calendar");
    if (time.Hour < 0 || time.Hour > 23 || time.Minute < 0 || time.Minute > 59 || time.Second < 0 || time.Second > 60 ||
        time.Millisecond < 0 || time.Millisecond > 999)
        fuzz::Fail("a time of day outside the clock");
    if (time.YearKnown)
        return;
    // An inferred year puts the date within about six months ahead of now,
    // and never far in the past (29 February may go back to a leap year).
    const std::int64_t days = (FtpTimeToUnix(time) - FtpTimeToUnix(now)) / 86400;
    if (days > 184 || days < -366 * 8)
        fuzz::Fail("an inferred year far from now");
}

void CheckEntry(std::string_view line, TFtpLineResult result, const TFtpListEntry& entry, const TFtpTime& now,
                bool mlsd)
{
    const std::string_view bare = WithoutLineEnd(line);
    switch (result) {
    case TFtpLineResult::Skipped:
        if (mlsd && bare.find_first_not_of(" \t\r\n") != std::string_view::npos)
            fuzz::Fail("an MLSD line with text was skipped");
        return;
    case TFtpLineResult::Fallback:
        if (entry.Name != bare)
            fuzz::Fail("a fallback entry is not the whole line");
        if (entry.Type != TFtpEntryType::Unknown || entry.Size != -1 || entry.Modified.HasDate)
            fuzz::Fail("a fallback entry claims fields");
        return;
    case TFtpLineResult::Entry:
        break;
    }
    if (entry.Name.empty())
        fuzz::Fail("an entry without a name");
    if (!Contains(bare, entry.Name) || !Contains(bare, entry.LinkTarget) || !Contains(bare, entry.Owner) ||
        !Contains(bare, entry.Group))
        fuzz::Fail("a field that is not part of the line");
    if (mlsd && bare.substr(bare.size() - entry.Name.size()) != entry.Name)
        fuzz::Fail("an MLSD name that does not end the line");
    if (entry.Size < -1 || entry.Mode < -1 || entry.Mode > 07777)
        fuzz::Fail("a size or mode out of range");
    if (entry.Format != TFtpListFormat::Mlsd && entry.Type == TFtpEntryType::Unknown)
        fuzz::Fail("a LIST entry without a type");
    if (entry.Role != TFtpEntryRole::Child && entry.IsFolder())
        fuzz::Fail("the current or parent folder offered as a folder to enter");
    CheckTime(entry.Modified, now);
}

void CheckCodec(std::string_view raw)
{
    for (const TFtpServerEncoding encoding : {TFtpServerEncoding::Utf8, TFtpServerEncoding::Latin1}) {
        const TFtpNameCodec codec(encoding);
        const std::string display = codec.ToDisplay(raw);
        if (!IsValidUtf8(display))
            fuzz::Fail("a display name that is not UTF-8");
        std::string back;
        if (!codec.ToServer(display, back) || back != raw)
            fuzz::Fail("a name that does not survive the round trip");
        // The input read as text a user typed.
        std::string typed;
        std::string error;
        if (codec.ToCommand(raw, typed, error) && !IsCommandSafe(typed))
            fuzz::Fail("a command name with a line break or NUL");
    }
}

void CheckLine(std::string_view line)
{
    for (const TFtpTime& now : {Date(2026, 12, 8), Date(2028, 2, 29)}) {
        TFtpListEntry entry;
        CheckEntry(line, ParseListLine(line, now, entry), entry, now, false);
    }
    TFtpListEntry entry;
    CheckEntry(line, ParseMlsdLine(line, entry), entry, Date(2026, 12, 8), true);
    TFtpListEntry single;
    const TFtpLineResult result = ParseMlstLine(line, single);
    if (result == TFtpLineResult::Entry && !Contains(line, single.Name))
        fuzz::Fail("an MLST name that is not part of the line");
    CheckCodec(line);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::size_t start = 0;
    std::size_t lines = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        CheckLine(text.substr(start, end - start));
        ++lines;
        start = end + 1;
    }
    const TFtpTime now = Date(2026, 12, 8);
    if (ParseListing(text, false, now).size() > lines || ParseListing(text, true, now).size() > lines)
        fuzz::Fail("more entries than lines");
    const TFtpFeatures features = ParseFeatReply(text);
    if (features.MlstFacts.size() != features.MlstFactsActive.size())
        fuzz::Fail("MLST facts and their marks differ in number");
    for (const std::string& line : features.Lines) {
        if (line.empty() || !Contains(text, line))
            fuzz::Fail("a feature line that is not part of the reply");
    }
    if (!features.Received && !features.Lines.empty())
        fuzz::Fail("features from a reply that was not positive");
    CheckCodec(text);
    return 0;
}
