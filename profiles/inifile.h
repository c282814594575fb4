#pragma once

#include <optional>
#include <string>
#include <vector>

// An initialization file ("[section]" headers, "key=value" lines) read whole
// into memory, edited there and written back whole. It reads the format's
// usual rules (below) and keeps every line it does not change
// (comments, blank lines, unknown keys) as it was.
//
// Reading: section and key names match without regard to case; names and
// values lose surrounding blanks; a value wrapped in one pair of matching
// quotes loses them; lines starting with ';' or '#' are comments; CR LF, LF
// and CR all end a line. When a section name occurs more than once, the
// sections count as one: a key is looked up in each in turn.
//
// Writing: keys are updated in place or appended at the end of their
// section, new sections at the end of the file, lines end in CR LF. A value
// that would not read back unchanged (surrounding blanks, surrounding
// quotes) is written in quotes; line breaks, which the format cannot hold,
// become spaces.
class TIniFile {
public:
    explicit TIniFile(std::string path);

    const std::string& Path() const { return path_; }

    // Reads the file. A missing file reads as empty. A file that exists but
    // cannot be read also reads as empty, and Save refuses to replace it, so
    // that its profiles are not lost.
    void Load();
    // Parses text as if it had been read from the file.
    void Parse(const std::string& text);

    // Section names in file order, each once.
    std::vector<std::string> SectionNames() const;
    bool HasSection(const std::string& section) const;
    std::optional<std::string> Read(const std::string& section, const std::string& key) const;
    std::string ReadString(const std::string& section, const std::string& key, const std::string& fallback) const;
    // A decimal or "0x" hexadecimal integer, optionally signed; anything else,
    // an empty value included, gives the fallback.
    int ReadInteger(const std::string& section, const std::string& key, int fallback) const;
    bool ReadBool(const std::string& section, const std::string& key, bool fallback) const;

    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteBool(const std::string& section, const std::string& key, bool value);
    // Removes every section of that name with all its lines. Returns whether
    // anything was removed.
    bool EraseSection(const std::string& section);

    // The file's text as Save would write it.
    std::string Text() const;
    // Writes the file atomically with mode 0600 (it may hold passwords).
    // Throws Exception("Unable to write to <path>").
    void Save() const;

private:
    enum class TLineKind {
        Other,
        Section,
        Key
    };
    struct TLine {
        TLineKind kind = TLineKind::Other;
        std::string text;   // the line as it stands in the file
        std::string name;   // section or key name, trimmed
        std::string folded; // the name case-folded, for matching
        std::string value;  // key lines: the value as read
    };

    static TLine ParseLine(const std::string& line);
    static std::string KeyLine(const std::string& key, const std::string& value);
    bool SectionMatches(std::size_t index, const std::string& folded) const;
    std::size_t SectionEnd(std::size_t header) const;

    std::string path_;
    std::vector<TLine> lines_;
    bool unreadable_ = false;
};

// Case-folds UTF-8 text for name matching.
std::string FoldName(const std::string& name);
// Removes surrounding spaces and tabs.
std::string TrimIniBlanks(const std::string& text);
