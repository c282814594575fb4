#pragma once

// Reads one line of a remote directory listing by position, the way the
// remote panes have always read it: nine fields of the Unix long format,
// each field keeping the space that ended it. No Qt, so that it can be
// fuzzed and measured on its own.

#include "ftp/ftplisting.h"

#include <cstdint>
#include <string>
#include <string_view>

struct TListingEntry {
    std::string Name;         // everything after the time field (spaces kept)
    std::string Size;         // with its trailing space
    std::string Date;         // month, day and time, each followed by two spaces
    std::string Perm;         // with its trailing space
    bool IsDirectory = false; // a directory or a link
    bool IsLink = false;      // a symbolic link ("name -> target"); its size, date and
                              // permissions are read as a file's
    int ImageIndex = 0;       // 0 plain file, 1 web or text file, 2 folder
    int Mode = -1;            // permission bits 0777 when the listing gave them (folders too)
};

// The permission bits 0777 of an `ls -l` mode text ("-rwxr-x---", a type
// letter and nine permission letters; set-id and sticky letters count for
// their execute bit); -1 when the text is not one.
int ModeFromPermissions(std::string_view text);

// The picture of a remote file: 1 when the name contains one of the web or
// text extensions anywhere (case-sensitive), else 0.
int RemoteFileImageIndex(std::string_view name);

// Fills `entry` from `line` and returns true, or returns false when the
// line is not an entry (the "total" line, a blank line, too few fields).
bool ParseListingLine(std::string_view line, TListingEntry& entry);

// Fills `entry` from an entry of the listing reader (an MLSD line, or a
// LIST line of a layout the positional reading does not know, such as
// DOS/IIS): the size, the modification time as text (and as Unix seconds
// in `seconds`, 0 when unknown), the Unix permissions or the MLSD "perm"
// fact. Returns false for entries the panes do not show: the listed folder
// itself and its parent (MLSD cdir and pdir, "." and "..").
bool ListingEntryFromFtp(const TFtpListEntry& from, TListingEntry& entry, std::int64_t& seconds);

// Whether the remote panes list with MLSD on a server with these features.
bool PanesUseMlsd(const TFtpFeatures& features);
