#include "hardeningclient.h"

#include "support/eventwait.h"

#include <algorithm>
#include <filesystem>

namespace hardening {

HardeningClient::HardeningClient(bool keepDialogue) : keepDialogue_(keepDialogue)
{
    SetHostName("127.0.0.1");
    SetTimeout(20);
    OnDisplay = [this](TCustomFtpCli*, std::string& msg) {
        ++displayCount;
        if (keepDialogue_)
            display.push_back(msg);
    };
    OnRequestDone = [this](TCustomFtpCli*, TFtpRequest rq, std::uint16_t error) { done.push_back({rq, error}); };
    OnResponse = [this](TCustomFtpCli*) {
        ++responses;
        mostReplyBytesHeld_ = std::max(mostReplyBytesHeld_, FReplyLen);
    };
    OnSessionClosed = [this](TCustomFtpCli*, std::uint16_t) { ++sessionClosed; };
}

void HardeningClient::Target(const std::string& port, const std::string& user, const std::string& password)
{
    SetPort(port);
    SetUserName(user);
    SetPassWord(password);
}

bool HardeningClient::WaitDone(std::size_t count, int timeoutMs)
{
    return testsupport::WaitFor([&] { return done.size() >= count; }, timeoutMs);
}

bool HardeningClient::Displayed(const std::string& line, bool prefix) const
{
    for (const auto& l : display) {
        if (l == line || (prefix && l.rfind(line, 0) == 0))
            return true;
    }
    return false;
}

std::string HardeningClient::Dialogue() const
{
    std::string all;
    for (const auto& l : display)
        all += l + "\n";
    return all;
}

int OpenDescriptors()
{
    int count = 0;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++count;
    return count;
}

} // namespace hardening
