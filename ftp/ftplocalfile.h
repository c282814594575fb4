#pragma once

// The local file of a transfer: a plain descriptor with 64-bit offsets.
// Failures raise FtpException with the system's reason.

#include <cstdint>
#include <string>

class TFtpLocalFile {
public:
    enum class Mode {
        Read,
        Create,
        Update
    };

    // Read: open for reading. Create: create or empty the file for writing.
    // Update: open an existing file for writing (nothing is truncated).
    TFtpLocalFile(const std::string& fileName, Mode mode);
    ~TFtpLocalFile();

    TFtpLocalFile(const TFtpLocalFile&) = delete;
    TFtpLocalFile& operator=(const TFtpLocalFile&) = delete;

    void Seek(std::int64_t offset);
    // Returns the number of bytes read, 0 at the end of the file.
    std::int64_t Read(void* buffer, std::int64_t size);
    // Writes the whole block or raises.
    void Write(const void* buffer, std::int64_t size);

    // The open descriptor, for a socket that sends straight from the file;
    // the file position moves with what it sends.
    int Descriptor() const { return fd_; }

    // Size of a file, or -1 when it does not exist or cannot be examined.
    static std::int64_t FileSize(const std::string& fileName);
    // The name made absolute against the current directory.
    static std::string ExpandFileName(const std::string& fileName);

private:
    int fd_ = -1;
};
