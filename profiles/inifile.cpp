#include "profiles/inifile.h"

#include "platform/exception.h"
#include "profiles/ansitext.h"
#include "profiles/atomicfile.h"

#include <QString>

#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr unsigned kPrivateMode = 0600;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsQuote(char c) { return c == '"' || c == '\''; }

bool WrappedInQuotes(const std::string& value)
{
    return value.size() >= 2 && IsQuote(value.front()) && value.front() == value.back();
}

std::string Unquote(const std::string& value)
{
    if (WrappedInQuotes(value))
        return value.substr(1, value.size() - 2);
    return value;
}

// The format has no escape for line breaks (and a NUL ends a value for
// every reader); a blank is the least harmful stand-in.
std::string OneLine(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    return out;
}

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string current;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '\r' && c != '\n') {
            current.push_back(c);
            continue;
        }
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        lines.push_back(std::move(current));
        current.clear();
    }
    if (!current.empty())
        lines.push_back(std::move(current));
    return lines;
}

// Reads the whole file. Returns false when it exists but cannot be read;
// a missing file gives empty contents.
bool ReadWholeFile(const std::string& path, std::string& contents)
{
    contents.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ENOTDIR;
    bool ok = true;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        contents.append(buffer, std::size_t(n));
    }
    ::close(fd);
    if (!ok)
        contents.clear();
    return ok;
}

bool ParseInteger(const std::string& text, int& result)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size())
        return false;
    std::int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            return false;
        value = value * base + digit;
        // Hexadecimal may spell the full 32 bits ("0xFFFFFFFF" is -1).
        if (value > (base == 16 ? 0xFFFFFFFFLL : 0x80000000LL))
            return false;
    }
    if (base == 16 && value > 0x7FFFFFFFLL)
        value -= 0x100000000LL;
    if (negative)
        value = -value;
    if (value > 0x7FFFFFFFLL || value < -0x80000000LL)
        return false;
    result = int(value);
    return true;
}

} // namespace

std::string TrimIniBlanks(const std::string& text)
{
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsBlank(text[first]))
        ++first;
    while (last > first && IsBlank(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

std::string FoldName(const std::string& name)
{
    // QString::fromUtf8 drops a leading byte-order mark, which would make
    // "\xEF\xBB\xBFSite" the same profile as "Site" (and a bare mark the
    // same as no name at all); keep the mark as part of the name.
    static const std::string byteOrderMark = "\xEF\xBB\xBF";
    if (name.compare(0, byteOrderMark.size(), byteOrderMark) == 0)
        return byteOrderMark + FoldName(name.substr(byteOrderMark.size()));
    return QString::fromUtf8(name.data(), qsizetype(name.size())).toCaseFolded().toStdString();
}

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {}

void TIniFile::Load()
{
    std::string bytes;
    unreadable_ = !ReadWholeFile(path_, bytes);
    Parse(AnsiOrUtf8ToUtf8(bytes));
}

void TIniFile::Parse(const std::string& text)
{
    lines_.clear();
    for (const std::string& line : SplitLines(text))
        lines_.push_back(ParseLine(line));
}

TIniFile::TLine TIniFile::ParseLine(const std::string& line)
{
    TLine parsed;
    parsed.text = line;
    const std::string trimmed = TrimIniBlanks(line);
    if (trimmed.empty() || trimmed[0] == ';' || trimmed[0] == '#')
        return parsed;

    if (trimmed[0] == '[') {
        // The last bracket closes the name, so a name holding "]" survives.
        // A header without one still starts a section: the keys below it must
        // not fall into the section before.
        const std::size_t close = trimmed.rfind(']');
        const std::size_t length = close == std::string::npos ? std::string::npos : close - 1;
        parsed.kind = TLineKind::Section;
        parsed.name = TrimIniBlanks(trimmed.substr(1, length));
        parsed.folded = FoldName(parsed.name);
        return parsed;
    }

    const std::size_t equals = trimmed.find('=');
    if (equals == std::string::npos)
        return parsed;
    const std::string key = TrimIniBlanks(trimmed.substr(0, equals));
    if (key.empty())
        return parsed;
    parsed.kind = TLineKind::Key;
    parsed.name = key;
    parsed.folded = FoldName(key);
    parsed.value = Unquote(TrimIniBlanks(trimmed.substr(equals + 1)));
    return parsed;
}

std::string TIniFile::KeyLine(const std::string& key, const std::string& value)
{
    if (value != TrimIniBlanks(value) || WrappedInQuotes(value))
        return key + "=\"" + value + "\"";
    return key + "=" + value;
}

bool TIniFile::SectionMatches(std::size_t index, const std::string& folded) const
{
    return lines_[index].kind == TLineKind::Section && lines_[index].folded == folded;
}

std::size_t TIniFile::SectionEnd(std::size_t header) const
{
    std::size_t end = header + 1;
    while (end < lines_.size() && lines_[end].kind != TLineKind::Section)
        ++end;
    return end;
}

std::vector<std::string> TIniFile::SectionNames() const
{
    std::vector<std::string> names;
    std::vector<std::string> seen;
    for (const TLine& line : lines_) {
        if (line.kind != TLineKind::Section || line.name.empty())
            continue;
        bool duplicate = false;
        for (const std::string& folded : seen)
            duplicate = duplicate || folded == line.folded;
        if (duplicate)
            continue;
        seen.push_back(line.folded);
        names.push_back(line.name);
    }
    return names;
}

bool TIniFile::HasSection(const std::string& section) const
{
    const std::string folded = FoldName(TrimIniBlanks(section));
    for (std::size_t i = 0; i < lines_.size(); ++i)
        if (SectionMatches(i, folded))
            return true;
    return false;
}

std::optional<std::string> TIniFile::Read(const std::string& section, const std::string& key) const
{
    const std::string sectionFolded = FoldName(TrimIniBlanks(section));
    const std::string keyFolded = FoldName(TrimIniBlanks(key));
    bool inside = false;
    for (const TLine& line : lines_) {
        if (line.kind == TLineKind::Section)
            inside = line.folded == sectionFolded;
        else if (inside && line.kind == TLineKind::Key && line.folded == keyFolded)
            return line.value;
    }
    return std::nullopt;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key, const std::string& fallback) const
{
    return Read(section, key).value_or(fallback);
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key, int fallback) const
{
    const std::optional<std::string> text = Read(section, key);
    int value = 0;
    if (!text || !ParseInteger(*text, value))
        return fallback;
    return value;
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool fallback) const
{
    return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value)
{
    const std::string name = TrimIniBlanks(OneLine(section));
    const std::string sectionFolded = FoldName(name);
    const std::string keyFolded = FoldName(TrimIniBlanks(key));
    const std::string clean = OneLine(value);

    bool inside = false;
    for (TLine& line : lines_) {
        if (line.kind == TLineKind::Section) {
            inside = line.folded == sectionFolded;
        } else if (inside && line.kind == TLineKind::Key && line.folded == keyFolded) {
            line.text = KeyLine(line.name, clean);
            line.value = clean;
            return;
        }
    }

    TLine added;
    added.kind = TLineKind::Key;
    added.name = TrimIniBlanks(key);
    added.folded = keyFolded;
    added.value = clean;
    added.text = KeyLine(added.name, clean);

    for (std::size_t header = 0; header < lines_.size(); ++header) {
        if (!SectionMatches(header, sectionFolded))
            continue;
        // After the section's last key, so that comments and blank lines
        // that lead into the next section stay where they are.
        std::size_t at = header + 1;
        const std::size_t end = SectionEnd(header);
        for (std::size_t i = header + 1; i < end; ++i)
            if (lines_[i].kind == TLineKind::Key)
                at = i + 1;
        lines_.insert(lines_.begin() + std::ptrdiff_t(at), std::move(added));
        return;
    }

    TLine header;
    header.kind = TLineKind::Section;
    header.name = name;
    header.folded = sectionFolded;
    header.text = "[" + name + "]";
    lines_.push_back(std::move(header));
    lines_.push_back(std::move(added));
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value)
{
    WriteString(section, key, value ? "1" : "0");
}

bool TIniFile::EraseSection(const std::string& section)
{
    const std::string folded = FoldName(TrimIniBlanks(section));
    bool removed = false;
    std::size_t i = 0;
    while (i < lines_.size()) {
        if (!SectionMatches(i, folded)) {
            ++i;
            continue;
        }
        lines_.erase(lines_.begin() + std::ptrdiff_t(i), lines_.begin() + std::ptrdiff_t(SectionEnd(i)));
        removed = true;
    }
    return removed;
}

std::string TIniFile::Text() const
{
    std::string text;
    for (const TLine& line : lines_) {
        text += line.text;
        text += "\r\n";
    }
    return text;
}

void TIniFile::Save() const
{
    if (unreadable_)
        throw Exception("Unable to write to " + path_);
    WriteFileAtomically(path_, Text(), kPrivateMode);
}
