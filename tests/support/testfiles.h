#pragma once

// Small file helpers shared by the tests and the benchmarks: pseudo-random
// contents, whole-file reads and writes, and a temporary folder.

#include <cstddef>
#include <string>

namespace testsupport {

// `size` pseudo-random bytes, the same for the same `seed`.
std::string RandomBytes(std::size_t size, unsigned seed);
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

// A fresh temporary folder that every user may enter (servers under test
// may run as another user), removed by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // Empty when the folder could not be made.
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

} // namespace testsupport
