#include "app/listingparser.h"

#include <cstdio>

namespace {

// The first field of `s` up to and including the space that ends it; empty
// when `s` holds no space.
std::string_view Take(std::string_view s)
{
    const std::size_t space = s.find(' ');
    if (space == std::string_view::npos)
        return {};
    return s.substr(0, space + 1);
}

// What follows `field` in `s`, without the blanks and control characters
// that lead it. The field's own trailing space counts as its last character,
// so the rest starts at that space (which is then dropped as a blank).
std::string_view Skip(std::string_view s, std::string_view field)
{
    std::size_t pos = field.empty() ? 0 : field.size() - 1;
    if (pos > s.size())
        pos = s.size();
    while (pos < s.size() && static_cast<unsigned char>(s[pos]) <= 32)
        ++pos;
    return s.substr(pos);
}

} // namespace

int RemoteFileImageIndex(std::string_view name)
{
    static constexpr std::string_view webOrText[] = {".html", ".htm", ".txt", ".pl", ".js", ".cgi", ".css"};
    for (const std::string_view extension : webOrText) {
        if (name.find(extension) != std::string_view::npos)
            return 1;
    }
    return 0;
}

int ModeFromPermissions(std::string_view text)
{
    if (text.size() < 10)
        return -1;
    static constexpr std::string_view letters = "rwxrwxrwx";
    int mode = 0;
    for (std::size_t i = 0; i < letters.size(); ++i) {
        const char c = text[i + 1];
        const int bit = 0400 >> i;
        if (c == letters[i] || (letters[i] == 'x' && (c == 's' || c == 't')))
            mode |= bit;
        else if (c != '-' && !(letters[i] == 'x' && (c == 'S' || c == 'T')))
            return -1;
    }
    return mode;
}

bool ParseListingLine(std::string_view line, TListingEntry& entry)
{
    const std::string_view perm = Take(line);
    std::string_view rest = Skip(line, perm);
    const std::string_view links = Take(rest);
    rest = Skip(rest, links);
    const std::string_view owner = Take(rest);
    rest = Skip(rest, owner);
    const std::string_view group = Take(rest);
    rest = Skip(rest, group);
    const std::string_view size = Take(rest);
    rest = Skip(rest, size);
    const std::string_view month = Take(rest);
    rest = Skip(rest, month);
    const std::string_view day = Take(rest);
    rest = Skip(rest, day);
    const std::string_view time = Take(rest);
    const std::string_view name = Skip(rest, time);

    if (size.empty() && time.empty())
        return false;

    entry.Name.assign(name);
    entry.IsDirectory = perm.find_first_of("dl") != std::string_view::npos;
    entry.IsLink = !perm.empty() && perm[0] == 'l';
    entry.Mode = entry.IsLink ? -1 : ModeFromPermissions(perm);
    if (entry.IsDirectory && !entry.IsLink) {
        entry.ImageIndex = 2;
        entry.Size.clear();
        entry.Date.clear();
        entry.Perm.clear();
        return true;
    }
    entry.ImageIndex = entry.IsLink ? 2 : RemoteFileImageIndex(name);
    entry.Size.assign(size);
    entry.Date.clear();
    entry.Date.reserve(month.size() + day.size() + time.size() + 3);
    entry.Date.append(month).append(1, ' ').append(day).append(1, ' ').append(time).append(1, ' ');
    entry.Perm.assign(perm);
    return true;
}

bool ListingEntryFromFtp(const TFtpListEntry& from, TListingEntry& entry, std::int64_t& seconds)
{
    if (from.Role != TFtpEntryRole::Child)
        return false;
    entry.Name = from.Name;
    if (from.Type == TFtpEntryType::Link && !from.LinkTarget.empty())
        entry.Name += " -> " + from.LinkTarget;
    entry.IsLink = from.Type == TFtpEntryType::Link;
    entry.IsDirectory = from.Type == TFtpEntryType::Directory || entry.IsLink;
    seconds = from.Modified.HasDate ? FtpTimeToUnix(from.Modified) : 0;
    // A link's mode is the link's own (always 0777), not its target's.
    entry.Mode = from.Mode >= 0 && !entry.IsLink ? from.Mode & 0777 : -1;
    if (entry.IsDirectory && !entry.IsLink) {
        entry.ImageIndex = 2;
        entry.Size.clear();
        entry.Date.clear();
        entry.Perm.clear();
        return true;
    }
    entry.ImageIndex = entry.IsLink ? 2 : RemoteFileImageIndex(from.Name);
    entry.Size = from.Size >= 0 ? std::to_string(from.Size) : std::string();
    entry.Date.clear();
    if (from.Modified.HasDate) {
        char text[32];
        std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d", from.Modified.Year, from.Modified.Month,
                      from.Modified.Day, from.Modified.Hour, from.Modified.Minute);
        entry.Date = text;
    }
    entry.Perm = !from.Permissions.empty() ? from.Permissions : from.Perm;
    return true;
}

// MLSD when the server offers it with the Unix mode among the facts it
// sends: its lines say what each entry is instead of leaving it to be
// guessed from a layout. Without the mode the permissions column and the
// links a LIST shows would be lost, so LIST stays the better listing there.
bool PanesUseMlsd(const TFtpFeatures& features)
{
    if (!features.Mlst)
        return false;
    for (std::size_t i = 0; i < features.MlstFacts.size() && i < features.MlstFactsActive.size(); ++i) {
        std::string fact = features.MlstFacts[i];
        for (char& c : fact)
            c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
        if (features.MlstFactsActive[i] && fact == "unix.mode")
            return true;
    }
    return false;
}
