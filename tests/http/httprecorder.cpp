#include "httprecorder.h"

#include "support/eventwait.h"

#include <algorithm>

namespace httptest {

void TRecorder::Attach(THttpCli& cli)
{
    auto note = [this](const char* name) { return [this, name](THttpCli*) { events.emplace_back(name); }; };
    cli.OnStateChange = [this](THttpCli* s) { events.push_back("State" + std::to_string(int(s->State()))); };
    cli.OnSessionConnected = note("SessionConnected");
    cli.OnRequestHeaderBegin = note("RequestHeaderBegin");
    cli.OnRequestHeaderEnd = note("RequestHeaderEnd");
    cli.OnCommand = [this](THttpCli*, std::string& s) {
        events.emplace_back("Command");
        commands.push_back(s);
    };
    cli.OnSendBegin = note("SendBegin");
    cli.OnSendEnd = note("SendEnd");
    cli.OnSendData = [this](THttpCli*, const char*, std::int64_t len) {
        events.emplace_back("SendData");
        sentBytes += len;
    };
    cli.OnHeaderBegin = note("HeaderBegin");
    cli.OnHeaderData = note("HeaderData");
    cli.OnCookie = [this](THttpCli*, const std::string& data, bool& accept) {
        events.emplace_back("Cookie");
        cookies.push_back(data);
        accept = false;
    };
    cli.OnHeaderEnd = note("HeaderEnd");
    cli.OnDocBegin = note("DocBegin");
    cli.OnDocData = [this](THttpCli*, const char* data, std::int64_t len) {
        events.emplace_back("DocData");
        body.append(data, static_cast<std::size_t>(len));
    };
    cli.OnDocEnd = note("DocEnd");
    cli.OnLocationChange = [this](THttpCli*) {
        events.emplace_back("LocationChange");
        ++locationChanges;
    };
    cli.OnRequestDone = [this](THttpCli*, THttpRequest type, std::uint16_t error) {
        events.emplace_back("RequestDone");
        ++requestDone;
        doneType = type;
        doneError = error;
    };
}

std::vector<std::string> TRecorder::Folded() const
{
    std::vector<std::string> out;
    for (const auto& e : events)
        if (out.empty() || out.back() != e)
            out.push_back(e);
    return out;
}

int TRecorder::Count(const std::string& name) const
{
    return static_cast<int>(std::count(events.begin(), events.end(), name));
}

bool TRecorder::WaitDone(int timeoutMs) const
{
    return testsupport::WaitFor([this] { return requestDone > 0; }, timeoutMs);
}

} // namespace httptest
