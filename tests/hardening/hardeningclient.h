#pragma once

// The FTP client under test, wired to record what the hardening tests look
// at: completions, the dialogue (optionally), reply counts and how much of
// the reply buffer was ever in use.

#include "ftp/ftpclient.h"

#include <cstdint>
#include <string>
#include <vector>

namespace hardening {

struct Completion {
    TFtpRequest request;
    std::uint16_t error;
};

class HardeningClient : public TFtpClient {
public:
    // With keepDialogue false only counts are kept (flood tests must not
    // measure their own bookkeeping).
    explicit HardeningClient(bool keepDialogue = true);

    void Target(const std::string& port, const std::string& user = "u", const std::string& password = "p");

    bool WaitDone(std::size_t count, int timeoutMs = 20000);
    bool Displayed(const std::string& line, bool prefix = false) const;
    std::string Dialogue() const;

    int ReplyBytesHeld() const { return FReplyLen; }
    int MostReplyBytesHeld() const { return mostReplyBytesHeld_; }

    std::vector<std::string> display;
    std::vector<Completion> done;
    std::size_t displayCount = 0;
    std::size_t responses = 0;
    int sessionClosed = 0;

private:
    bool keepDialogue_;
    int mostReplyBytesHeld_ = 0;
};

// Descriptors open in this process right now.
int OpenDescriptors();

} // namespace hardening
