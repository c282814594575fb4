#include "ftptestutil.h"

#include <algorithm>

namespace ftptest {

RecordingClient::RecordingClient(bool keepDialogue) : keepDialogue_(keepDialogue)
{
    SetHostName("127.0.0.1");
    SetTimeout(30);
    OnDisplay = [this](TCustomFtpCli*, std::string& msg) {
        ++displayCount;
        if (keepDialogue_)
            display.push_back(msg);
    };
    OnDisplayFile = [this](TCustomFtpCli*, std::string& msg) { displayFile.push_back(msg); };
    OnRequestDone = [this](TCustomFtpCli*, TFtpRequest rq, std::uint16_t error) { done.push_back({rq, error}); };
    OnResponse = [this](TCustomFtpCli*) {
        ++responses;
        mostReplyBytesHeld_ = std::max(mostReplyBytesHeld_, FReplyLen);
    };
    OnSessionClosed = [this](TCustomFtpCli*, std::uint16_t) { ++sessionClosed; };
    OnStateChange = [this](TCustomFtpCli* s) { states.push_back(s->State()); };
}

void RecordingClient::Target(const std::string& port, const std::string& user, const std::string& password)
{
    SetPort(port);
    SetUserName(user);
    SetPassWord(password);
}

bool RecordingClient::WaitDone(std::size_t count, int timeoutMs)
{
    return testsupport::WaitFor([&] { return done.size() >= count; }, timeoutMs);
}

bool RecordingClient::WaitReady(int timeoutMs)
{
    return testsupport::WaitFor([&] { return State() == ftpReady; }, timeoutMs);
}

bool RecordingClient::Displayed(const std::string& line, bool prefix) const
{
    for (const auto& l : display) {
        if (l == line || (prefix && l.rfind(line, 0) == 0))
            return true;
    }
    return false;
}

std::string RecordingClient::Dialogue() const
{
    std::string all;
    for (const auto& l : display)
        all += l + "\n";
    return all;
}

std::vector<std::string> RecordingClient::Commands() const
{
    std::vector<std::string> out;
    for (const auto& l : display)
        if (l.rfind("> ", 0) == 0)
            out.push_back(l.substr(2));
    return out;
}

} // namespace ftptest
