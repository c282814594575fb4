#include "profiles/folderlock.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

TFolderLock::TFolderLock(const std::string& folder)
{
    const std::string where = folder.empty() ? std::string(".") : folder;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(where), ec);
    const int fd = ::open(where.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    int rc = 0;
    do
        rc = ::flock(fd, LOCK_EX);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return;
    }
    fd_ = fd;
}

TFolderLock::~TFolderLock()
{
    if (fd_ >= 0)
        ::close(fd_); // releases the lock
}
