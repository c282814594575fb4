#include "profiles/atomicfile.h"

#include "platform/exception.h"

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class TFd {
public:
    explicit TFd(int fd = -1) : fd_(fd) {}
    ~TFd() { Close(); }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    // Closing can report a deferred write error (NFS, quota), so its result
    // counts.
    bool Close()
    {
        if (fd_ < 0)
            return true;
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc == 0;
    }

private:
    int fd_;
};

// Removes the temporary file unless the rename consumed it.
class TTempName {
public:
    explicit TTempName(std::string name) : name_(std::move(name)) {}
    ~TTempName()
    {
        if (!name_.empty())
            ::unlink(name_.c_str());
    }
    TTempName(const TTempName&) = delete;
    TTempName& operator=(const TTempName&) = delete;

    const std::string& Name() const { return name_; }
    void Release() { name_.clear(); }

private:
    std::string name_;
};

bool WriteAll(int fd, const std::string& contents)
{
    const char* data = contents.data();
    std::size_t left = contents.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        left -= std::size_t(n);
    }
    return true;
}

// The file the path finally names, so that a link to it stays a link. A
// dangling link names the file it will create.
std::string Target(const std::string& path)
{
    namespace fs = std::filesystem;
    fs::path current(path);
    for (int depth = 0; depth < 16; ++depth) {
        std::error_code ec;
        if (!fs::is_symlink(current, ec))
            break;
        const fs::path next = fs::read_symlink(current, ec);
        if (ec)
            break;
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    return current.string();
}

// Replacing goes through the folder, so it would succeed on a file marked
// read-only; the mark is the user's wish that it not change.
bool ReadOnlyFile(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return false;
    return (info.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0;
}

void SyncFolder(const std::string& folder)
{
    // Makes the rename itself durable; the data are already safe either way,
    // so a folder that cannot be synced is no reason to report a failure.
    TFd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Valid())
        ::fsync(dir.Get());
}

} // namespace

void WriteFileAtomically(const std::string& path, const std::string& contents, unsigned mode)
{
    namespace fs = std::filesystem;
    const auto fail = [&path]() { throw Exception("Unable to write to " + path); };

    const fs::path target(Target(path));
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    if (ReadOnlyFile(target.string()))
        fail();
    std::error_code ec;
    fs::create_directories(folder, ec);

    fs::path pattern = folder / ".";
    pattern += target.filename();
    pattern += ".XXXXXX";
    const std::string patternText = pattern.string();
    std::vector<char> buffer(patternText.begin(), patternText.end());
    buffer.push_back('\0');
    TFd fd(::mkostemp(buffer.data(), O_CLOEXEC));
    if (!fd.Valid())
        fail();
    TTempName temp(std::string(buffer.data()));

    if (::fchmod(fd.Get(), mode_t(mode)) != 0)
        fail();
    if (!WriteAll(fd.Get(), contents))
        fail();
    if (::fsync(fd.Get()) != 0)
        fail();
    if (!fd.Close())
        fail();
    if (::rename(temp.Name().c_str(), target.c_str()) != 0)
        fail();
    temp.Release();
    SyncFolder(folder.string());
}
