// The positional reading of remote listing lines: every line a server sends
// in answer to LIST ends up here.

#include "app/listingparser.h"
#include "fuzzsupport.h"

#include <string>
#include <string_view>

namespace {

void CheckField(std::string_view line, const std::string& field, const char* name)
{
    if (field.empty())
        return;
    if (field.back() != ' ')
        fuzz::Fail(std::string(name) + " field does not keep the space that ended it");
    if (line.find(field) == std::string_view::npos)
        fuzz::Fail(std::string(name) + " field is not part of the line");
}

void CheckLine(std::string_view line)
{
    TListingEntry entry;
    entry.ImageIndex = 7; // any value the parser must replace
    if (!ParseListingLine(line, entry))
        return;
    if (!entry.Name.empty() && line.find(entry.Name) == std::string_view::npos)
        fuzz::Fail("the name is not part of the line");
    if (entry.IsDirectory) {
        if (entry.ImageIndex != 2)
            fuzz::Fail("a directory does not get the folder picture");
        return;
    }
    if (entry.ImageIndex != RemoteFileImageIndex(entry.Name))
        fuzz::Fail("a file gets a picture that its name does not call for");
    CheckField(line, entry.Size, "size");
    CheckField(line, entry.Perm, "permission");
    if (entry.Date.size() < 3)
        fuzz::Fail("the date text lost its separators");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // The whole input as one line, then line by line as a listing arrives.
    CheckLine(text);
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        CheckLine(line);
        start = end + 1;
    }
    return 0;
}
