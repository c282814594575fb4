#pragma once

// Helpers shared by the FTP engine tests: a client wired to record its
// dialogue and completions, and small file utilities.

#include "ftp/ftpclient.h"
#include "support/eventwait.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ftptest {

struct Completion {
    TFtpRequest request;
    std::uint16_t error;
};

class RecordingClient : public TFtpClient {
public:
    RecordingClient();

    void Target(const std::string& port, const std::string& user, const std::string& password);

    // Runs the event loop until `count` completions were reported.
    bool WaitDone(std::size_t count = 1, int timeoutMs = 20000);
    bool WaitReady(int timeoutMs = 20000);

    // True when some display line equals `line` (or starts with it when
    // `prefix` is set).
    bool Displayed(const std::string& line, bool prefix = false) const;
    std::string Dialogue() const;
    // Lines of the dialogue beginning with "> ".
    std::vector<std::string> Commands() const;

    std::vector<std::string> display;
    std::vector<std::string> displayFile;
    std::vector<Completion> done;
    std::vector<std::int64_t> progress;
    int responses = 0;
    int sessionClosed = 0;
    std::vector<TFtpState> states;
};

std::string RandomBytes(std::size_t size, unsigned seed);
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);

// A fresh temporary folder removed by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

} // namespace ftptest
