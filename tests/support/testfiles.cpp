#include "testfiles.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace testsupport {

std::string RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(size, '\0');
    for (auto& c : s)
        c = char(gen() & 0xFF);
    return s;
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool FileExists(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

TempDir::TempDir()
{
    char pattern[] = "/tmp/tarvik-test-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (!dir)
        return;
    path_ = dir;
    ::chmod(dir, 0755);
}

TempDir::~TempDir()
{
    if (path_.empty())
        return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

} // namespace testsupport
