#include "ftptestutil.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include <stdlib.h>
#include <sys/stat.h>

namespace ftptest {

RecordingClient::RecordingClient()
{
    SetHostName("127.0.0.1");
    SetTimeout(30);
    OnDisplay = [this](TCustomFtpCli*, std::string& msg) { display.push_back(msg); };
    OnDisplayFile = [this](TCustomFtpCli*, std::string& msg) { displayFile.push_back(msg); };
    OnRequestDone = [this](TCustomFtpCli*, TFtpRequest rq, std::uint16_t error) { done.push_back({rq, error}); };
    OnResponse = [this](TCustomFtpCli*) { ++responses; };
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

std::string RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(size, '\0');
    for (auto& c : s)
        c = char(gen() & 0xFF);
    return s;
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TempDir::TempDir()
{
    char pattern[] = "/tmp/tarvik-ftptest-XXXXXX";
    path_ = ::mkdtemp(pattern);
    ::chmod(path_.c_str(), 0755);
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

} // namespace ftptest
