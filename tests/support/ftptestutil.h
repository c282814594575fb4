#pragma once

// The FTP client under test, wired to record what the tests look at: its
// dialogue (optionally), completions, progress, states, reply counts and
// how much of the reply buffer was ever in use. The file helpers of
// testfiles.h are named here too.

#include "ftp/ftpclient.h"
#include "support/eventwait.h"
#include "support/testfiles.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ftptest {

using testsupport::FileExists;
using testsupport::RandomBytes;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

struct Completion {
    TFtpRequest request;
    std::uint16_t error;
};

class RecordingClient : public TFtpClient {
public:
    // With keepDialogue false only counts are kept (flood tests must not
    // measure their own bookkeeping).
    explicit RecordingClient(bool keepDialogue = true);

    void Target(const std::string& port, const std::string& user = "u", const std::string& password = "p");

    // Runs the event loop until `count` completions were reported.
    bool WaitDone(std::size_t count = 1, int timeoutMs = 20000);
    bool WaitReady(int timeoutMs = 20000);

    // True when some display line equals `line` (or starts with it when
    // `prefix` is set).
    bool Displayed(const std::string& line, bool prefix = false) const;
    std::string Dialogue() const;
    // Lines of the dialogue beginning with "> ".
    std::vector<std::string> Commands() const;

    int ReplyBytesHeld() const { return FReplyLen; }
    int MostReplyBytesHeld() const { return mostReplyBytesHeld_; }

    std::vector<std::string> display;
    std::vector<std::string> displayFile;
    std::vector<Completion> done;
    std::vector<std::int64_t> progress;
    std::size_t displayCount = 0;
    std::size_t responses = 0;
    int sessionClosed = 0;
    std::vector<TFtpState> states;

private:
    bool keepDialogue_;
    int mostReplyBytesHeld_ = 0;
};

} // namespace ftptest
