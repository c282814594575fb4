// The "Accounts.dat" reader: the account store reads the file a user (or an
// older release) left beside the program, and TIniFile parses it.
//
// Input: one option byte, a profile name, NUL, a value, NUL, then the file.
// The file is read through TRegistrySet from a real folder; the name and
// value are written into a parsed copy to check that a saved password reads
// back as it was written.

#include "fuzzsupport.h"
#include "profiles/inifile.h"
#include "profiles/registryset.h"
#include "profiles/sitefields.h"

#include <QTemporaryDir>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

QTemporaryDir& Folder()
{
    static auto* dir = new QTemporaryDir();
    if (!dir->isValid())
        fuzz::Fail("cannot create a temporary folder");
    return *dir;
}

std::string OneLine(std::string text)
{
    for (char& c : text)
        if (c == '\r' || c == '\n' || c == '\0')
            c = ' ';
    return text;
}

std::string Trim(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return "";
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

void ReadThroughStore(const std::string& fileText)
{
    const std::string folder = Folder().path().toStdString();
    {
        std::ofstream out(folder + "/Accounts.dat", std::ios::binary | std::ios::trunc);
        out.write(fileText.data(), std::streamsize(fileText.size()));
    }
    const TRegistrySet store(folder, [](const std::string&, const std::string&) {});
    std::vector<std::string> names;
    store.GetProfileNames(names);
    std::size_t looked = 0;
    for (const std::string& name : names) {
        if (++looked > 32)
            break;
        std::vector<std::string> profile;
        store.LoadProfile(profile, name);
        if (profile.size() != 9)
            fuzz::Fail("LoadProfile did not give nine texts for \"" + name + "\"");
        TSiteFields fields;
        store.LoadQuickConnect(name, fields);
        if (fields.SitePort.empty())
            fuzz::Fail("LoadQuickConnect left an empty port");
    }
}

void CheckRoundTrip(const std::string& fileText, const std::string& name, const std::string& value)
{
    TIniFile first("unused");
    first.Parse(fileText);
    const std::string text1 = first.Text();
    TIniFile second("unused");
    second.Parse(text1);
    if (second.Text() != text1)
        fuzz::Fail("the file text changes when it is read and written again");
    if (second.SectionNames() != first.SectionNames())
        fuzz::Fail("the profile names change when the file is read and written again");

    const std::string section = Trim(OneLine(name));
    if (section.empty())
        return;
    first.WriteString(section, "PassWord", value);
    const std::string expected = OneLine(value);
    const std::optional<std::string> direct = first.Read(section, "PassWord");
    if (!direct || *direct != expected)
        fuzz::Fail("a written password does not read back from memory");
    TIniFile reread("unused");
    reread.Parse(first.Text());
    const std::optional<std::string> saved = reread.Read(section, "PassWord");
    if (!saved || *saved != expected)
        fuzz::Fail("a written password does not read back from the saved text");
    bool listed = false;
    for (const std::string& n : reread.SectionNames())
        listed = listed || FoldName(n) == FoldName(section);
    if (!listed && !fuzz::Suppressed("bomname"))
        fuzz::Fail("a written profile is not among the profile names");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::EnsureEventLoop();
    Folder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::TInputReader in(data, size);
    const std::uint8_t mode = in.Byte();
    const std::string name(in.Until(std::string_view("\0", 1)));
    const std::string value(in.Until(std::string_view("\0", 1)));
    const std::string fileText(in.Rest());

    if (mode & 1)
        ReadThroughStore(fileText);
    CheckRoundTrip(fileText, name, value);
    return 0;
}
