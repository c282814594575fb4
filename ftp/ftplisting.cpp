// Readers for LIST and MLSD lines and FEAT replies.
//
// A LIST line is tried against the layouts in turn (Unix, NetWare, DOS);
// each reader either recognises every field it needs or gives up, so that a
// line no layout fits comes back whole as the name instead of being split
// in a wrong place.

#include "ftp/ftplisting.h"
#include "ftp/ftpasciicase.h"

#include <algorithm>
#include <array>
#include <limits>

namespace {

// --- Characters and numbers ----------------------------------------------

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

using ftpascii::EqualsNoCase;
using ftpascii::Lower;

bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

bool AllDigits(std::string_view text)
{
    if (text.empty())
        return false;
    for (const char c : text) {
        if (!IsDigit(c))
            return false;
    }
    return true;
}

// A decimal number without sign; false when it is not one or does not fit.
bool ReadUnsigned(std::string_view text, std::int64_t& value)
{
    if (!AllDigits(text))
        return false;
    constexpr std::int64_t limit = std::numeric_limits<std::int64_t>::max();
    std::int64_t result = 0;
    for (const char c : text) {
        const int digit = c - '0';
        if (result > (limit - digit) / 10)
            return false;
        result = result * 10 + digit;
    }
    value = result;
    return true;
}

// A small decimal number (dates, times, device numbers).
bool ReadSmall(std::string_view text, int& value)
{
    std::int64_t wide = 0;
    if (text.size() > 9 || !ReadUnsigned(text, wide))
        return false;
    value = static_cast<int>(wide);
    return true;
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && (IsSpace(text.front()) || text.front() == '\r' || text.front() == '\n'))
        text.remove_prefix(1);
    while (!text.empty() && (IsSpace(text.back()) || text.back() == '\r' || text.back() == '\n'))
        text.remove_suffix(1);
    return text;
}

// --- Calendar ------------------------------------------------------------

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month)
{
    static constexpr std::array<int, 12> days = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && IsLeapYear(year))
        return 29;
    return days[static_cast<std::size_t>(month - 1)];
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yearOfEra = year - era * 400;
    const std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool ValidDate(int year, int month, int day)
{
    return month >= 1 && month <= 12 && day >= 1 && day <= DaysInMonth(year, month);
}

bool ValidTime(int hour, int minute, int second)
{
    // 60 seconds: a leap second, which MLSD may carry.
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 60;
}

TFtpTime TodayIfUnset(const TFtpTime& now)
{
    if (now.HasDate)
        return now;
    return FtpTimeFromUnix(static_cast<std::int64_t>(std::time(nullptr)));
}

// The year for a month and day given without one: the latest year in which
// the date is at most about six months after `now`. `ls` leaves the year
// out for times within six months of its present, and the server's clock
// or time zone may run a little ahead of ours.
int InferYear(int month, int day, const TFtpTime& now)
{
    const std::int64_t limit = DaysFromCivil(now.Year, now.Month, now.Day) + 183;
    for (int year = now.Year + 1; year >= now.Year - 8; --year) {
        if (!ValidDate(year, month, day))
            continue; // 29 February: the latest leap year that fits
        if (DaysFromCivil(year, month, day) <= limit)
            return year;
    }
    return now.Year;
}

// "Jan" to "Dec", in any case. Called for most fields of every line, so it
// packs the three letters into one number instead of comparing names.
int MonthNumber(std::string_view text)
{
    if (text.size() != 3)
        return 0;
    const auto key = [](char a, char b, char c) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) << 16 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(c));
    };
    static constexpr std::array<std::string_view, 12> names = {"jan", "feb", "mar", "apr", "may", "jun",
                                                               "jul", "aug", "sep", "oct", "nov", "dec"};
    const std::uint32_t wanted = key(Lower(text[0]), Lower(text[1]), Lower(text[2]));
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (key(names[i][0], names[i][1], names[i][2]) == wanted)
            return static_cast<int>(i) + 1;
    }
    return 0;
}

bool ReadDay(std::string_view text, int& day)
{
    return text.size() <= 2 && ReadSmall(text, day) && day >= 1 && day <= 31;
}

// "H:MM", "HH:MM" or "HH:MM:SS".
bool ReadClock(std::string_view text, TFtpTime& time)
{
    if (text.size() < 4 || text.size() > 8)
        return false;
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || colon > 2)
        return false;
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!ReadSmall(text.substr(0, colon), hour))
        return false;
    std::string_view rest = text.substr(colon + 1);
    bool seconds = false;
    if (rest.size() == 5 && rest[2] == ':') {
        if (!ReadSmall(rest.substr(3), second))
            return false;
        rest = rest.substr(0, 2);
        seconds = true;
    }
    if (rest.size() != 2 || !ReadSmall(rest, minute) || !ValidTime(hour, minute, second))
        return false;
    time.Hour = hour;
    time.Minute = minute;
    time.Second = second;
    time.TimeKnown = true;
    time.SecondsKnown = seconds;
    return true;
}

bool ReadYear(std::string_view text, int& year) { return text.size() == 4 && ReadSmall(text, year) && year >= 1000; }

// --- Tokens --------------------------------------------------------------

struct TToken {
    std::size_t Begin = 0;
    std::size_t End = 0;
};

// The first fields of a line, split at runs of blanks. A date comes within
// the first dozen fields of every layout read here; fields after the limit
// are part of a name and never needed as fields.
class TTokens {
public:
    static constexpr std::size_t Limit = 24;

    explicit TTokens(std::string_view line) : line_(line)
    {
        std::size_t pos = 0;
        while (count_ < Limit) {
            while (pos < line.size() && IsSpace(line[pos]))
                ++pos;
            if (pos >= line.size())
                break;
            const std::size_t begin = pos;
            while (pos < line.size() && !IsSpace(line[pos]))
                ++pos;
            tokens_[count_++] = TToken{begin, pos};
        }
    }

    std::size_t Count() const { return count_; }
    std::string_view Text(std::size_t index) const
    {
        if (index >= count_)
            return {};
        return line_.substr(tokens_[index].Begin, tokens_[index].End - tokens_[index].Begin);
    }
    const TToken& At(std::size_t index) const { return tokens_[index]; }
    // From the start of field `first` to the end of field `last`.
    std::string_view Span(std::size_t first, std::size_t last) const
    {
        return line_.substr(tokens_[first].Begin, tokens_[last].End - tokens_[first].Begin);
    }

private:
    std::string_view line_;
    std::array<TToken, Limit> tokens_{};
    std::size_t count_ = 0;
};

// --- Unix ls -l ----------------------------------------------------------

// The file type letter of a mode: which entry type it stands for, or false
// for a letter no system uses there.
bool UnixTypeFromLetter(char letter, TFtpEntryType& type)
{
    switch (letter) {
    case '-':
        type = TFtpEntryType::File;
        return true;
    case 'd':
        type = TFtpEntryType::Directory;
        return true;
    case 'l':
        type = TFtpEntryType::Link;
        return true;
    case 'b': // block device
    case 'c': // character device
    case 'p': // named pipe
    case 's': // socket
    case 'D': // door (Solaris)
    case 'n': // network special (HP-UX)
        type = TFtpEntryType::Device;
        return true;
    default:
        return false;
    }
}

// Reads a mode such as "drwxr-sr-x" or "-rw-r--r--+" (the mark after it:
// an ACL '+', extended attributes '@', an SELinux context '.').
bool ReadUnixMode(std::string_view text, TFtpListEntry& entry)
{
    if (text.size() == 11) {
        const char mark = text[10];
        if (mark != '+' && mark != '@' && mark != '.')
            return false;
        text.remove_suffix(1);
    }
    if (text.size() != 10)
        return false;
    TFtpEntryType type = TFtpEntryType::Unknown;
    if (!UnixTypeFromLetter(text[0], type))
        return false;
    int mode = 0;
    for (std::size_t i = 1; i < 10; ++i) {
        const char c = text[i];
        const std::size_t place = (i - 1) % 3; // r, w, x
        const int shift = static_cast<int>(6 - 3 * ((i - 1) / 3));
        if (c == '-')
            continue;
        if (place == 0 && c == 'r') {
            mode |= 4 << shift;
            continue;
        }
        if (place == 1 && c == 'w') {
            mode |= 2 << shift;
            continue;
        }
        if (place != 2)
            return false;
        const int special = i == 3 ? 04000 : (i == 6 ? 02000 : 01000);
        const char lower = Lower(c);
        const bool executable = c == 'x' || c == 's' || c == 't';
        if (c == 'x') {
            mode |= 1 << shift;
        } else if ((i != 9 && lower == 's') || (i == 9 && lower == 't')) {
            mode |= special | (executable ? 1 << shift : 0);
        } else if (i == 6 && lower == 'l') {
            // mandatory locking on some systems: set-group-ID without x
            mode |= special;
        } else {
            return false;
        }
    }
    entry.Type = type;
    entry.Permissions = std::string(text);
    entry.Mode = mode;
    return true;
}

struct TDateMatch {
    std::size_t First = 0; // first field of the date
    std::size_t Last = 0;  // last field of the date (time, year or zone)
};

// A month-day-(time or year) date at `index` ("Jan 5 12:34", "Jan 05 2024"),
// or day-month-(time or year) ("5 Jan 12:34", written by some locales).
bool ReadMonthDate(const TTokens& tokens, std::size_t index, const TFtpTime& now, TFtpTime& time, TDateMatch& match)
{
    if (index + 2 >= tokens.Count())
        return false;
    int month = MonthNumber(tokens.Text(index));
    int day = 0;
    if (month != 0) {
        if (!ReadDay(tokens.Text(index + 1), day))
            return false;
    } else {
        month = MonthNumber(tokens.Text(index + 1));
        if (month == 0 || !ReadDay(tokens.Text(index), day))
            return false;
    }
    TFtpTime result;
    const std::string_view last = tokens.Text(index + 2);
    int year = 0;
    if (ReadYear(last, year)) {
        result.YearKnown = true;
    } else if (ReadClock(last, result)) {
        if (day > DaysInMonth(2000, month)) // a leap year: any day that can exist
            return false;
        year = InferYear(month, day, now);
    } else {
        return false;
    }
    if (!ValidDate(year, month, day))
        return false;
    result.Year = year;
    result.Month = month;
    result.Day = day;
    result.HasDate = true;
    time = result;
    match = TDateMatch{index, index + 2};
    return true;
}

// "2024-01-05 12:34" (ls --time-style=long-iso) or
// "2024-01-05 12:34:56.123456789 +0100" (full-iso).
bool ReadIsoDate(const TTokens& tokens, std::size_t index, TFtpTime& time, TDateMatch& match)
{
    if (index + 1 >= tokens.Count())
        return false;
    const std::string_view date = tokens.Text(index);
    if (date.size() != 10 || date[4] != '-' || date[7] != '-')
        return false;
    TFtpTime result;
    if (!ReadSmall(date.substr(0, 4), result.Year) || !ReadSmall(date.substr(5, 2), result.Month) ||
        !ReadSmall(date.substr(8, 2), result.Day) || !ValidDate(result.Year, result.Month, result.Day))
        return false;
    std::string_view clock = tokens.Text(index + 1);
    std::string_view fraction;
    const std::size_t dot = clock.find('.');
    if (dot != std::string_view::npos) {
        fraction = clock.substr(dot + 1);
        clock = clock.substr(0, dot);
        if (!AllDigits(fraction))
            return false;
    }
    if (!ReadClock(clock, result))
        return false;
    if (fraction.size() >= 3)
        ReadSmall(fraction.substr(0, 3), result.Millisecond);
    result.HasDate = true;
    result.YearKnown = true;
    std::size_t last = index + 1;
    const std::string_view zone = tokens.Text(index + 2);
    if (zone.size() == 5 && (zone[0] == '+' || zone[0] == '-') && AllDigits(zone.substr(1)))
        last = index + 2;
    time = result;
    match = TDateMatch{index, last};
    return true;
}

struct TUnixSize {
    std::int64_t Size = -1;
    int DeviceMajor = -1;
    int DeviceMinor = -1;
    std::size_t FirstField = 0;
};

// The size field that ends at field `index`: a number, or a device's
// "major, minor" (one or two fields).
bool ReadUnixSize(const TTokens& tokens, std::size_t index, TUnixSize& result)
{
    const std::string_view text = tokens.Text(index);
    std::int64_t size = 0;
    const std::size_t comma = text.find(',');
    if (comma != std::string_view::npos) {
        // "4,1" in one field
        int major = 0;
        int minor = 0;
        if (!ReadSmall(text.substr(0, comma), major) || !ReadSmall(text.substr(comma + 1), minor))
            return false;
        result.DeviceMajor = major;
        result.DeviceMinor = minor;
        result.FirstField = index;
        return true;
    }
    if (!AllDigits(text))
        return false;
    if (index >= 2) {
        const std::string_view before = tokens.Text(index - 1);
        int major = 0;
        int minor = 0;
        if (before.size() >= 2 && before.back() == ',' && ReadSmall(before.substr(0, before.size() - 1), major) &&
            ReadSmall(text, minor)) {
            result.DeviceMajor = major;
            result.DeviceMinor = minor;
            result.FirstField = index - 1;
            return true;
        }
    }
    // A size too large for 64 bits stays unknown; the line is still an entry.
    result.Size = ReadUnsigned(text, size) ? size : -1;
    result.FirstField = index;
    return true;
}

// The fields between the mode and the size: an optional link count, then
// the owner and the group (either may be missing; a group of several
// words is kept whole).
void ReadUnixOwners(const TTokens& tokens, std::size_t sizeField, TFtpListEntry& entry)
{
    std::size_t next = 1;
    if (next < sizeField && AllDigits(tokens.Text(next)))
        ++next; // the link count
    if (next < sizeField)
        entry.Owner = std::string(tokens.Text(next++));
    if (next < sizeField)
        entry.Group = std::string(tokens.Span(next, sizeField - 1));
}

void SetRoleFromName(TFtpListEntry& entry)
{
    if (entry.Name == ".")
        entry.Role = TFtpEntryRole::Current;
    else if (entry.Name == "..")
        entry.Role = TFtpEntryRole::Parent;
}

bool ReadUnixLine(std::string_view line, const TTokens& tokens, const TFtpTime& now, TFtpListEntry& entry)
{
    if (tokens.Count() < 5)
        return false;
    TFtpListEntry result;
    if (!ReadUnixMode(tokens.Text(0), result))
        return false;
    for (std::size_t index = 2; index + 1 < tokens.Count(); ++index) {
        TFtpTime time;
        TDateMatch match;
        if (!ReadMonthDate(tokens, index, now, time, match) && !ReadIsoDate(tokens, index, time, match))
            continue;
        TUnixSize size;
        if (!ReadUnixSize(tokens, index - 1, size))
            continue;
        // The name starts after the one space that ends the date; further
        // spaces belong to the name.
        const std::size_t nameStart = tokens.At(match.Last).End + 1;
        if (nameStart >= line.size())
            return false;
        std::string_view name = line.substr(nameStart);
        if (result.Type == TFtpEntryType::Link) {
            const std::size_t arrow = name.find(" -> ");
            if (arrow != std::string_view::npos && arrow > 0) {
                result.LinkTarget = std::string(name.substr(arrow + 4));
                name = name.substr(0, arrow);
            }
        }
        result.Name = std::string(name);
        result.Size = size.Size;
        result.DeviceMajor = size.DeviceMajor;
        result.DeviceMinor = size.DeviceMinor;
        result.Modified = time;
        ReadUnixOwners(tokens, size.FirstField, result);
        result.Format = TFtpListFormat::Unix;
        SetRoleFromName(result);
        entry = std::move(result);
        return true;
    }
    return false;
}

// --- NetWare -------------------------------------------------------------

// "d [R----F--] supervisor     512    Jan 16 18:53    login": the type
// letter, the rights in brackets, the owner and size, a date as in `ls`,
// and the name after a run of padding.
bool ReadNetWareLine(std::string_view line, const TTokens& tokens, const TFtpTime& now, TFtpListEntry& entry)
{
    if (tokens.Count() < 8)
        return false;
    const std::string_view letter = tokens.Text(0);
    const std::string_view rights = tokens.Text(1);
    if (letter.size() != 1 || (letter[0] != 'd' && letter[0] != '-'))
        return false;
    if (rights.size() < 3 || rights.front() != '[' || rights.back() != ']')
        return false;
    std::int64_t size = 0;
    if (!ReadUnsigned(tokens.Text(3), size))
        return false;
    TFtpTime time;
    TDateMatch match;
    if (!ReadMonthDate(tokens, 4, now, time, match))
        return false;
    const std::size_t nameStart = tokens.At(match.Last + 1).Begin;
    TFtpListEntry result;
    result.Type = letter[0] == 'd' ? TFtpEntryType::Directory : TFtpEntryType::File;
    result.Permissions = std::string(rights);
    result.Owner = std::string(tokens.Text(2));
    result.Size = size;
    result.Modified = time;
    result.Name = std::string(line.substr(nameStart));
    result.Format = TFtpListFormat::NetWare;
    SetRoleFromName(result);
    entry = std::move(result);
    return true;
}

// --- DOS / IIS -----------------------------------------------------------

// "12-08-26", "12-08-2026", "2026-12-08" (also with '/' or '.').
bool ReadDosDate(std::string_view text, TFtpTime& time)
{
    std::array<std::string_view, 3> parts;
    std::size_t count = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != '-' && text[i] != '/' && text[i] != '.')
            continue;
        if (count == parts.size())
            return false;
        parts[count++] = text.substr(start, i - start);
        start = i + 1;
    }
    if (count != 3)
        return false;
    int year = 0;
    int month = 0;
    int day = 0;
    if (parts[0].size() == 4) {
        if (!ReadSmall(parts[0], year) || !ReadSmall(parts[1], month) || !ReadSmall(parts[2], day))
            return false;
    } else {
        if (parts[0].size() > 2 || parts[1].size() > 2 || (parts[2].size() != 2 && parts[2].size() != 4))
            return false;
        if (!ReadSmall(parts[0], month) || !ReadSmall(parts[1], day) || !ReadSmall(parts[2], year))
            return false;
        if (parts[2].size() == 2)
            year += year < 70 ? 2000 : 1900;
    }
    if (parts[1].size() > 2 || parts[2].empty() || !ValidDate(year, month, day))
        return false;
    time.Year = year;
    time.Month = month;
    time.Day = day;
    time.HasDate = true;
    time.YearKnown = true;
    return true;
}

// "07:03PM", "07:03 PM" (two fields) or "19:03"; returns the fields used.
std::size_t ReadDosClock(const TTokens& tokens, std::size_t index, TFtpTime& time)
{
    std::string_view text = tokens.Text(index);
    std::string_view half;
    std::size_t used = 1;
    if (text.size() > 2 &&
        (EqualsNoCase(text.substr(text.size() - 2), "AM") || EqualsNoCase(text.substr(text.size() - 2), "PM"))) {
        half = text.substr(text.size() - 2);
        text.remove_suffix(2);
    } else if (EqualsNoCase(tokens.Text(index + 1), "AM") || EqualsNoCase(tokens.Text(index + 1), "PM")) {
        half = tokens.Text(index + 1);
        used = 2;
    }
    TFtpTime result = time;
    if (!ReadClock(text, result))
        return 0;
    if (!half.empty()) {
        if (result.Hour < 1 || result.Hour > 12)
            return 0;
        const bool pm = Lower(half[0]) == 'p';
        result.Hour = result.Hour % 12 + (pm ? 12 : 0);
    }
    time = result;
    return used;
}

// A size with or without thousands separators ("1234", "1,234").
bool ReadDosSize(std::string_view text, std::int64_t& size)
{
    if (text.empty() || !IsDigit(text.front()) || !IsDigit(text.back()))
        return false;
    std::string digits;
    for (const char c : text) {
        if (c == ',')
            continue;
        if (!IsDigit(c))
            return false;
        digits += c;
    }
    if (!ReadUnsigned(digits, size))
        size = -1;
    return true;
}

// "12-08-26  07:03PM       <DIR>          name" and
// "12-08-26  07:03PM                 1234 name".
bool ReadDosLine(std::string_view line, const TTokens& tokens, TFtpListEntry& entry)
{
    if (tokens.Count() < 4)
        return false;
    TFtpListEntry result;
    if (!ReadDosDate(tokens.Text(0), result.Modified))
        return false;
    const std::size_t clockFields = ReadDosClock(tokens, 1, result.Modified);
    if (clockFields == 0)
        return false;
    const std::size_t kind = 1 + clockFields;
    if (kind >= tokens.Count())
        return false;
    const std::string_view field = tokens.Text(kind);
    std::size_t nameStart = tokens.At(kind).End;
    if (EqualsNoCase(field, "<DIR>")) {
        result.Type = TFtpEntryType::Directory;
        // IIS pads "<DIR>" with ten spaces; more belong to the name.
        for (int skipped = 0; skipped < 10 && nameStart < line.size() && line[nameStart] == ' '; ++skipped)
            ++nameStart;
    } else {
        if (!ReadDosSize(field, result.Size))
            return false;
        result.Type = TFtpEntryType::File;
        ++nameStart;
    }
    if (nameStart >= line.size())
        return false;
    result.Name = std::string(line.substr(nameStart));
    if (Trim(result.Name).empty())
        return false;
    result.Format = TFtpListFormat::Dos;
    SetRoleFromName(result);
    entry = std::move(result);
    return true;
}

bool IsTotalLine(const TTokens& tokens)
{
    return tokens.Count() == 2 && EqualsNoCase(tokens.Text(0), "total") && AllDigits(tokens.Text(1));
}

std::string_view WithoutLineEnd(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    return line;
}

void SetFallback(std::string_view line, TFtpListEntry& entry)
{
    entry = TFtpListEntry();
    entry.Name = std::string(line);
}

// --- MLSD ----------------------------------------------------------------

// "YYYYMMDDHHMMSS" with optional ".sss" (RFC 3659 time-val, UTC).
bool ReadMlsdTime(std::string_view text, TFtpTime& time)
{
    std::string_view fraction;
    const std::size_t dot = text.find('.');
    if (dot != std::string_view::npos) {
        fraction = text.substr(dot + 1);
        text = text.substr(0, dot);
        if (!AllDigits(fraction))
            return false;
    }
    if (text.size() != 14 || !AllDigits(text))
        return false;
    TFtpTime result;
    ReadSmall(text.substr(0, 4), result.Year);
    ReadSmall(text.substr(4, 2), result.Month);
    ReadSmall(text.substr(6, 2), result.Day);
    ReadSmall(text.substr(8, 2), result.Hour);
    ReadSmall(text.substr(10, 2), result.Minute);
    ReadSmall(text.substr(12, 2), result.Second);
    if (!ValidDate(result.Year, result.Month, result.Day) || !ValidTime(result.Hour, result.Minute, result.Second))
        return false;
    if (!fraction.empty()) {
        std::string milli(fraction.substr(0, 3));
        milli.resize(3, '0');
        ReadSmall(milli, result.Millisecond);
    }
    result.HasDate = true;
    result.YearKnown = true;
    result.TimeKnown = true;
    result.SecondsKnown = true;
    result.Utc = true;
    time = result;
    return true;
}

// How sure a fact makes us of the owner or group: a name beats a number.
enum TOwnerSource : std::uint8_t {
    ownerNone,
    ownerId,
    ownerNumber,
    ownerName
};

struct TMlsdState {
    TOwnerSource OwnerSource = ownerNone;
    TOwnerSource GroupSource = ownerNone;
    char ModeLetter = '-';
};

void SetOwner(std::string& field, TOwnerSource& current, TOwnerSource source, std::string_view value)
{
    if (source < current || value.empty())
        return;
    field = std::string(value);
    current = source;
}

void ReadMlsdType(std::string_view value, TFtpListEntry& entry, TMlsdState& state)
{
    if (EqualsNoCase(value, "file")) {
        entry.Type = TFtpEntryType::File;
        return;
    }
    if (EqualsNoCase(value, "dir") || EqualsNoCase(value, "cdir") || EqualsNoCase(value, "pdir")) {
        entry.Type = TFtpEntryType::Directory;
        state.ModeLetter = 'd';
        if (EqualsNoCase(value, "cdir"))
            entry.Role = TFtpEntryRole::Current;
        else if (EqualsNoCase(value, "pdir"))
            entry.Role = TFtpEntryRole::Parent;
        return;
    }
    constexpr std::string_view unixPrefix = "os.unix=";
    if (!StartsWithNoCase(value, unixPrefix))
        return; // another system's type: left unknown
    const std::string_view kind = value.substr(unixPrefix.size());
    if (StartsWithNoCase(kind, "slink") || StartsWithNoCase(kind, "symlink")) {
        entry.Type = TFtpEntryType::Link;
        state.ModeLetter = 'l';
        const std::size_t colon = kind.find(':');
        if (colon != std::string_view::npos)
            entry.LinkTarget = std::string(kind.substr(colon + 1));
        return;
    }
    static constexpr std::array<std::pair<std::string_view, char>, 7> devices = {{
        {"blkdev", 'b'},
        {"block", 'b'},
        {"chrdev", 'c'},
        {"char", 'c'},
        {"fifo", 'p'},
        {"pipe", 'p'},
        {"socket", 's'},
    }};
    for (const auto& [name, letter] : devices) {
        if (StartsWithNoCase(kind, name)) {
            entry.Type = TFtpEntryType::Device;
            state.ModeLetter = letter;
            return;
        }
    }
}

void ReadMlsdFact(std::string_view name, std::string_view value, TFtpListEntry& entry, TMlsdState& state)
{
    if (EqualsNoCase(name, "type")) {
        ReadMlsdType(value, entry, state);
    } else if (EqualsNoCase(name, "size")) {
        std::int64_t size = 0;
        if (ReadUnsigned(value, size))
            entry.Size = size;
    } else if (EqualsNoCase(name, "modify")) {
        ReadMlsdTime(value, entry.Modified);
    } else if (EqualsNoCase(name, "perm")) {
        entry.Perm = std::string(value);
    } else if (EqualsNoCase(name, "unix.mode")) {
        int mode = 0;
        // At most six octal digits, so the sum cannot overflow.
        bool octal = !value.empty() && value.size() <= 6;
        for (const char c : octal ? value : std::string_view()) {
            if (c < '0' || c > '7') {
                octal = false;
                break;
            }
            mode = mode * 8 + (c - '0');
        }
        if (octal)
            entry.Mode = mode & 07777;
    } else if (EqualsNoCase(name, "unix.ownername")) {
        SetOwner(entry.Owner, state.OwnerSource, ownerName, value);
    } else if (EqualsNoCase(name, "unix.owner")) {
        SetOwner(entry.Owner, state.OwnerSource, ownerNumber, value);
    } else if (EqualsNoCase(name, "unix.uid")) {
        SetOwner(entry.Owner, state.OwnerSource, ownerId, value);
    } else if (EqualsNoCase(name, "unix.groupname")) {
        SetOwner(entry.Group, state.GroupSource, ownerName, value);
    } else if (EqualsNoCase(name, "unix.group")) {
        SetOwner(entry.Group, state.GroupSource, ownerNumber, value);
    } else if (EqualsNoCase(name, "unix.gid")) {
        SetOwner(entry.Group, state.GroupSource, ownerId, value);
    }
}

// The ls-style text of a mode, for the permission column.
std::string ModeText(char letter, int mode)
{
    std::string text(10, '-');
    text[0] = letter;
    static constexpr std::string_view letters = "rwxrwxrwx";
    for (std::size_t i = 0; i < 9; ++i) {
        if (mode & (0400 >> i))
            text[i + 1] = letters[i];
    }
    const auto special = [&](std::size_t place, int bit, char withX, char withoutX) {
        if (mode & bit)
            text[place] = text[place] == '-' ? withoutX : withX;
    };
    special(3, 04000, 's', 'S');
    special(6, 02000, 's', 'S');
    special(9, 01000, 't', 'T');
    return text;
}

} // namespace

// --- Public --------------------------------------------------------------

std::int64_t FtpTimeToUnix(const TFtpTime& time)
{
    if (!time.HasDate || time.Month < 1 || time.Month > 12)
        return 0;
    return DaysFromCivil(time.Year, time.Month, time.Day) * 86400 + time.Hour * 3600 + time.Minute * 60 + time.Second;
}

TFtpTime FtpTimeFromUnix(std::int64_t seconds)
{
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // civil_from_days
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    TFtpTime time;
    time.Day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    time.Month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    time.Year = static_cast<int>(yearOfEra + era * 400 + (time.Month <= 2 ? 1 : 0));
    time.Hour = static_cast<int>(rest / 3600);
    time.Minute = static_cast<int>(rest / 60 % 60);
    time.Second = static_cast<int>(rest % 60);
    time.HasDate = true;
    time.YearKnown = true;
    time.TimeKnown = true;
    time.SecondsKnown = true;
    time.Utc = true;
    return time;
}

TFtpLineResult ParseListLine(std::string_view line, const TFtpTime& now, TFtpListEntry& entry)
{
    line = WithoutLineEnd(line);
    const TTokens tokens(line);
    if (tokens.Count() == 0 || IsTotalLine(tokens))
        return TFtpLineResult::Skipped;
    const TFtpTime today = TodayIfUnset(now);
    if (ReadUnixLine(line, tokens, today, entry) || ReadNetWareLine(line, tokens, today, entry) ||
        ReadDosLine(line, tokens, entry))
        return TFtpLineResult::Entry;
    SetFallback(line, entry);
    return TFtpLineResult::Fallback;
}

TFtpLineResult ParseMlsdLine(std::string_view line, TFtpListEntry& entry)
{
    line = WithoutLineEnd(line);
    if (Trim(line).empty())
        return TFtpLineResult::Skipped;
    TFtpListEntry result;
    TMlsdState state;
    std::size_t pos = 0;
    bool named = false;
    while (pos < line.size()) {
        if (line[pos] == ' ') {
            result.Name = std::string(line.substr(pos + 1));
            named = true;
            break;
        }
        std::size_t end = line.find(';', pos);
        std::size_t next = end + 1;
        if (end == std::string_view::npos) {
            // The last fact without its ';': it ends at the space before the name.
            end = line.find(' ', pos);
            if (end == std::string_view::npos)
                break;
            next = end;
        }
        const std::string_view fact = line.substr(pos, end - pos);
        const std::size_t equals = fact.find('=');
        if (equals == std::string_view::npos || equals == 0)
            break; // not a fact: not an MLSD line
        ReadMlsdFact(fact.substr(0, equals), fact.substr(equals + 1), result, state);
        pos = next;
    }
    if (!named || result.Name.empty()) {
        SetFallback(line, entry);
        return TFtpLineResult::Fallback;
    }
    if (result.Mode >= 0)
        result.Permissions = ModeText(state.ModeLetter, result.Mode);
    if (result.Role == TFtpEntryRole::Child &&
        (result.Type == TFtpEntryType::Directory || result.Type == TFtpEntryType::Unknown))
        SetRoleFromName(result);
    result.Format = TFtpListFormat::Mlsd;
    entry = std::move(result);
    return TFtpLineResult::Entry;
}

TFtpLineResult ParseMlstLine(std::string_view line, TFtpListEntry& entry)
{
    if (!line.empty() && line.front() == ' ')
        line.remove_prefix(1);
    return ParseMlsdLine(line, entry);
}

std::vector<TFtpListEntry> ParseListing(std::string_view text, bool mlsd, const TFtpTime& now)
{
    std::vector<TFtpListEntry> entries;
    entries.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
    const TFtpTime today = TodayIfUnset(now);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        TFtpListEntry& entry = entries.emplace_back();
        const TFtpLineResult result = mlsd ? ParseMlsdLine(line, entry) : ParseListLine(line, today, entry);
        if (result == TFtpLineResult::Skipped)
            entries.pop_back();
    }
    return entries;
}

// --- FEAT ----------------------------------------------------------------

bool TFtpFeatures::Has(std::string_view name) const
{
    for (const std::string& line : Lines) {
        if (StartsWithNoCase(line, name) && (line.size() == name.size() || IsSpace(line[name.size()])))
            return true;
    }
    return false;
}

TFtpFeatures ParseFeatReply(std::string_view reply)
{
    TFtpFeatures features;
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < reply.size()) {
        std::size_t end = reply.find('\n', start);
        if (end == std::string_view::npos)
            end = reply.size();
        lines.push_back(WithoutLineEnd(reply.substr(start, end - start)));
        start = end + 1;
    }
    if (lines.empty())
        return features;
    const std::string_view first = lines.front();
    if (first.size() < 3 || first[0] != '2' || !AllDigits(first.substr(0, 3)))
        return features;
    features.Received = true;
    if (first.size() == 3 || first[3] != '-')
        return features; // a one-line reply: no features
    const std::string_view code = first.substr(0, 3);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        std::string_view line = lines[i];
        if (line.size() >= 3 && line.substr(0, 3) == code && (line.size() == 3 || line[3] == ' '))
            break; // the closing line
        // Some servers repeat the code on every line.
        if (line.size() >= 4 && line.substr(0, 3) == code && line[3] == '-')
            line.remove_prefix(4);
        line = Trim(line);
        if (line.empty())
            continue;
        features.Lines.emplace_back(line);
        std::size_t space = line.find(' ');
        if (space == std::string_view::npos)
            space = line.size();
        const std::string_view keyword = line.substr(0, space);
        const std::string_view parameters = Trim(line.substr(space));
        if (EqualsNoCase(keyword, "UTF8")) {
            features.Utf8 = true;
        } else if (EqualsNoCase(keyword, "EPSV")) {
            features.Epsv = true;
        } else if (EqualsNoCase(keyword, "EPRT")) {
            features.Eprt = true;
        } else if (EqualsNoCase(keyword, "MFMT")) {
            features.Mfmt = true;
        } else if (EqualsNoCase(keyword, "MDTM")) {
            features.Mdtm = true;
        } else if (EqualsNoCase(keyword, "SIZE")) {
            features.Size = true;
        } else if (EqualsNoCase(keyword, "PBSZ")) {
            features.Pbsz = true;
        } else if (EqualsNoCase(keyword, "PROT")) {
            features.Prot = true;
        } else if (EqualsNoCase(keyword, "TVFS")) {
            features.Tvfs = true;
        } else if (EqualsNoCase(keyword, "REST")) {
            if (StartsWithNoCase(parameters, "STREAM"))
                features.RestStream = true;
        } else if (EqualsNoCase(keyword, "MLSD")) {
            features.Mlst = true;
        } else if (EqualsNoCase(keyword, "AUTH")) {
            // "AUTH TLS", "AUTH TLS;SSL", "AUTH SSL TLS", one or several lines
            std::size_t pos = 0;
            while (pos < parameters.size()) {
                std::size_t stop = parameters.find_first_of(" ;,", pos);
                if (stop == std::string_view::npos)
                    stop = parameters.size();
                const std::string_view mechanism = parameters.substr(pos, stop - pos);
                if (StartsWithNoCase(mechanism, "TLS"))
                    features.AuthTls = true;
                else if (StartsWithNoCase(mechanism, "SSL"))
                    features.AuthSsl = true;
                pos = stop + 1;
            }
        } else if (EqualsNoCase(keyword, "MLST")) {
            features.Mlst = true;
            std::size_t pos = 0;
            while (pos < parameters.size()) {
                std::size_t stop = parameters.find(';', pos);
                if (stop == std::string_view::npos)
                    stop = parameters.size();
                std::string_view fact = Trim(parameters.substr(pos, stop - pos));
                pos = stop + 1;
                const bool active = !fact.empty() && fact.back() == '*';
                if (active)
                    fact.remove_suffix(1);
                if (fact.empty())
                    continue;
                features.MlstFacts.emplace_back(fact);
                features.MlstFactsActive.push_back(active);
            }
        }
    }
    return features;
}
