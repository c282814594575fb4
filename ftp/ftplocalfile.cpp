#include "ftp/ftplocalfile.h"

#include "ftp/ftptypes.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string Reason(const std::string& what, const std::string& name)
{
    return what + " " + name + ": " + std::strerror(errno);
}

} // namespace

TFtpLocalFile::TFtpLocalFile(const std::string& fileName, Mode mode)
{
    int flags = O_CLOEXEC;
    switch (mode) {
    case Mode::Read:
        flags |= O_RDONLY;
        break;
    case Mode::Create:
        flags |= O_WRONLY | O_CREAT | O_TRUNC;
        break;
    case Mode::Update:
        flags |= O_WRONLY;
        break;
    }
    fd_ = ::open(fileName.c_str(), flags, 0644);
    if (fd_ < 0)
        throw FtpException(Reason("Cannot open", fileName));
    if (mode == Mode::Read) {
        struct stat st {};
        if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd_);
            fd_ = -1;
            throw FtpException("Cannot read " + fileName + ": it is a directory");
        }
    }
}

TFtpLocalFile::~TFtpLocalFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void TFtpLocalFile::Seek(std::int64_t offset)
{
    if (::lseek(fd_, off_t(offset), SEEK_SET) < 0)
        throw FtpException(std::string("Cannot seek: ") + std::strerror(errno));
}

std::int64_t TFtpLocalFile::Read(void* buffer, std::int64_t size)
{
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, size_t(size));
        if (n >= 0)
            return n;
        if (errno != EINTR)
            throw FtpException(std::string("Cannot read: ") + std::strerror(errno));
    }
}

void TFtpLocalFile::Write(const void* buffer, std::int64_t size)
{
    const char* p = static_cast<const char*>(buffer);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw FtpException(std::string("Cannot write: ") + std::strerror(errno));
        }
        p += n;
        size -= n;
    }
}

std::int64_t TFtpLocalFile::FileSize(const std::string& fileName)
{
    struct stat st {};
    if (fileName.empty() || ::stat(fileName.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return std::int64_t(st.st_size);
}

std::string TFtpLocalFile::ExpandFileName(const std::string& fileName)
{
    if (fileName.empty())
        return fileName;
    std::error_code ec;
    const auto full = std::filesystem::absolute(fileName, ec);
    return ec ? fileName : full.string();
}
