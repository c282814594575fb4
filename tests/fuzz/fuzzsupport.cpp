#include "fuzzsupport.h"

#include "platform/application.h"
#include "platform/tickcount.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <memory>

namespace fuzz {

void EnsureEventLoop()
{
    if (QCoreApplication::instance() != nullptr)
        return;
    // Qt keeps references to argc/argv for the application's lifetime.
    static int argc = 1;
    static char name[] = "tarvik-fuzz";
    static char* argv[] = {name, nullptr};
    // Deliberately never destroyed: the process ends inside libFuzzer.
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    (void)app;
    // A handler exception that reached the event loop is a finding only
    // when a sanitizer says so; keep the output quiet.
    Application::SetExceptionHook([](const std::exception&) {});
}

bool PumpUntil(const std::function<bool()>& done, int timeoutMs)
{
    const std::int64_t deadline = GetTickCount64() + timeoutMs;
    while (!done()) {
        const std::int64_t now = GetTickCount64();
        if (now >= deadline)
            return done();
        // Short slices: some conditions (a peer's bytes, a pending accept)
        // change without an event of this loop.
        Application::WaitForMessage(int(std::min<std::int64_t>(deadline - now, 2)));
    }
    return true;
}

void PumpPending() { Application::ProcessMessages(); }

std::uint8_t TInputReader::Byte()
{
    if (pos_ >= size_)
        return 0;
    return data_[pos_++];
}

std::string_view TInputReader::Bytes(std::size_t count)
{
    const std::size_t n = std::min(count, size_ - std::min(pos_, size_));
    const std::string_view result(reinterpret_cast<const char*>(data_) + pos_, n);
    pos_ += n;
    return result;
}

std::string_view TInputReader::Rest() { return Bytes(size_); }

std::string_view TInputReader::Until(std::string_view separator)
{
    const std::string_view rest(reinterpret_cast<const char*>(data_) + std::min(pos_, size_),
                                size_ - std::min(pos_, size_));
    const std::size_t at = rest.find(separator);
    if (at == std::string_view::npos) {
        pos_ = size_;
        return rest;
    }
    pos_ += at + separator.size();
    return rest.substr(0, at);
}

bool Suppressed(const char* tag)
{
    const char* list = std::getenv("TARVIK_FUZZ_SUPPRESS");
    if (list == nullptr)
        return false;
    const std::string_view all(list);
    const std::string_view wanted(tag);
    std::size_t start = 0;
    while (start <= all.size()) {
        std::size_t end = all.find(',', start);
        if (end == std::string_view::npos)
            end = all.size();
        if (all.substr(start, end - start) == wanted)
            return true;
        start = end + 1;
    }
    return false;
}

void Fail(const std::string& what)
{
    std::fprintf(stderr, "FUZZ CHECK FAILED: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

} // namespace fuzz
