#pragma once

// Readers for what FTP servers send about files: one line of a LIST reply
// (Unix `ls -l`, DOS/IIS and NetWare layouts), one line of an MLSD reply or
// the entry line of an MLST reply (RFC 3659), and a FEAT reply (RFC 2389).
//
// Plain C++ without Qt so that the readers can be fuzzed and measured on
// their own. Names stay in the server's bytes; ftp/ftpnamecodec.h turns them
// into UTF-8 for display.

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

enum class TFtpEntryType : std::uint8_t {
    Unknown = 0, // the line could not be read (the whole line is the name), or
                 // an MLSD type of another system
    File = 1,
    Directory = 2,
    Link = 3,   // a symbolic link; LinkTarget holds its target when given
    Device = 4, // a block or character device, or another special file
                // (named pipe, socket, door)
};

// Where a directory entry stands in its listing: "." and ".." (MLSD types
// cdir and pdir) are folders, but not ones to show or enter as children.
enum class TFtpEntryRole : std::uint8_t {
    Child = 0,
    Current = 1, // "." or type=cdir
    Parent = 2,  // ".." or type=pdir
};

// The layout a line was read in.
enum class TFtpListFormat : std::uint8_t {
    Unknown = 0,
    Unix = 1,
    Dos = 2,
    NetWare = 3,
    Mlsd = 4,
};

// A calendar time as the server gave it. LIST times are in the server's own
// time zone (usually unknown to the client); MLSD times are UTC.
struct TFtpTime {
    int Year = 0;
    int Month = 0; // 1..12
    int Day = 0;   // 1..31
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Millisecond = 0;
    bool HasDate = false;   // false: no time at all
    bool YearKnown = false; // false: the listing gave no year; Year was inferred
    bool TimeKnown = false; // the time of day (hours and minutes) was given
    bool SecondsKnown = false;
    bool Utc = false; // the server said the time is UTC (MLSD)
};

// Seconds since 1970-01-01 00:00:00 when the fields are read as UTC; 0 when
// the time has no date.
std::int64_t FtpTimeToUnix(const TFtpTime& time);
// The UTC calendar fields of a Unix time (HasDate, YearKnown, TimeKnown,
// SecondsKnown and Utc set).
TFtpTime FtpTimeFromUnix(std::int64_t seconds);

struct TFtpListEntry {
    std::string Name; // server bytes; may hold spaces, leading ones included
    TFtpEntryType Type = TFtpEntryType::Unknown;
    TFtpEntryRole Role = TFtpEntryRole::Child;
    TFtpListFormat Format = TFtpListFormat::Unknown;
    std::int64_t Size = -1; // -1: not given (folders on some servers, devices)
    TFtpTime Modified;
    // "drwxr-xr-x" style, ten characters, when the server gave a Unix mode
    // (from the listing, or built from the MLSD unix.mode fact); a NetWare
    // rights text such as "[RWCEAFMS]" for NetWare lines.
    std::string Permissions;
    int Mode = -1;    // permission bits 07777 when known, else -1
    std::string Perm; // the MLSD "perm" fact as given (e.g. "adfrw")
    std::string Owner;
    std::string Group;
    std::string LinkTarget;
    int DeviceMajor = -1; // for devices listed with "major, minor"
    int DeviceMinor = -1;
    bool IsFolder() const { return Type == TFtpEntryType::Directory && Role == TFtpEntryRole::Child; }
};

// What a listing line turned out to be.
enum class TFtpLineResult : std::uint8_t {
    Skipped = 0, // blank line or "total N": no entry
    Entry = 1,   // `entry` holds a recognised entry
    Fallback = 2 // no layout matched: `entry.Name` is the whole line, type Unknown
};

// Years are missing from `ls -l` dates within six months of the server's
// present; the reader puts such a date in the year that makes it no more
// than about six months later than `now` (only the date of `now` is used).
TFtpLineResult ParseListLine(std::string_view line, const TFtpTime& now, TFtpListEntry& entry);

// One line of an MLSD reply: "fact=value;fact=value; name". Fact names are
// read without regard to case; the name is everything after the space that
// ends the facts (spaces and ';' included). A line that is not in this form
// comes back as a Fallback entry.
TFtpLineResult ParseMlsdLine(std::string_view line, TFtpListEntry& entry);

// The entry line of an MLST reply: as an MLSD line, after the single space
// that opens it.
TFtpLineResult ParseMlstLine(std::string_view line, TFtpListEntry& entry);

// Splits a listing into lines (LF or CRLF; the last line may lack its end)
// and reads each, skipping blank and "total" lines. `mlsd` chooses the
// MLSD reader. Fallback entries are kept so that nothing listed is lost.
std::vector<TFtpListEntry> ParseListing(std::string_view text, bool mlsd, const TFtpTime& now);

// A FEAT reply, read (RFC 2389): one feature per line after the first.
struct TFtpFeatures {
    bool Received = false; // the server answered FEAT with a positive reply
    bool Utf8 = false;
    bool Epsv = false;
    bool Eprt = false;
    bool Mlst = false; // MLST and MLSD
    bool Mfmt = false;
    bool Mdtm = false;
    bool Size = false;
    bool RestStream = false;
    bool AuthTls = false;
    bool AuthSsl = false;
    bool Pbsz = false;
    bool Prot = false;
    bool Tvfs = false;
    // The facts MLST named, in its case, without marks; and which of them
    // carried the '*' that says the server sends them now.
    std::vector<std::string> MlstFacts;
    std::vector<bool> MlstFactsActive;
    // Every feature line, trimmed, as the server wrote it.
    std::vector<std::string> Lines;

    // True when a feature line starts with `name` (no regard to case),
    // e.g. Has("LANG"), Has("REST STREAM").
    bool Has(std::string_view name) const;
};

// Reads the whole reply to FEAT (lines with CRLF or LF). A reply that is
// not 211 (or another 2xx) gives Received false and no features.
TFtpFeatures ParseFeatReply(std::string_view reply);
