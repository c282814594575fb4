// HTTP status line and header parsing, fed through the client's real receive
// path: THttpCli requests from a loopback peer that answers with the input.
//
// Input: one option byte, then the response bytes. "|NEXT|" separates the
// answers to successive connections (redirections are followed only through
// a proxy, which is the same loopback peer; without a proxy the harness
// aborts the request at the change of location, so nothing ever leaves the
// machine).

#include "fuzzsupport.h"
#include "http/httpprot.h"
#include "loopbackpeer.h"

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr int StepTimeoutMs = 3000;

struct TOptions {
    bool head;       // HEAD instead of GET
    bool proxy;      // through the "proxy" (redirections followed)
    bool stream;     // a RcvdStream is set
    bool reset;      // the peer resets instead of closing
    bool abortInDoc; // the handler aborts at the first document data
    bool split;      // each answer is written in two parts
};

TOptions ReadOptions(std::uint8_t b)
{
    return TOptions{(b & 1) != 0, (b & 2) != 0, (b & 4) != 0, (b & 8) != 0, (b & 0x30) == 0x30, (b & 0x40) != 0};
}

fuzz::TLoopbackListener& Listener()
{
    static auto* listener = new fuzz::TLoopbackListener();
    return *listener;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::EnsureEventLoop();
    Listener();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::TInputReader in(data, size);
    const TOptions opt = ReadOptions(in.Byte());
    const std::uint8_t splitAt = in.Byte();
    std::vector<std::string> answers;
    while (!in.AtEnd())
        answers.emplace_back(in.Until("|NEXT|"));
    if (answers.empty())
        answers.emplace_back();

    auto cli = std::make_unique<THttpCli>();
    std::ostringstream body;
    int doneCount = 0;
    std::int64_t docBytes = 0;
    cli->OnRequestDone = [&](THttpCli*, THttpRequest, std::uint16_t) { ++doneCount; };
    cli->OnDocData = [&](THttpCli* c, const char*, std::int64_t len) {
        docBytes += len;
        if (opt.abortInDoc)
            c->Abort();
    };
    if (opt.stream)
        cli->RcvdStream = &body;
    if (opt.proxy) {
        cli->Proxy = "127.0.0.1";
        cli->ProxyPort = Listener().PortText();
        cli->URL = "http://www.example.invalid/dir/page.htm";
    } else {
        cli->URL = "http://127.0.0.1:" + Listener().PortText() + "/dir/page.htm";
        // Only the proxy is known to be local.
        cli->OnLocationChange = [](THttpCli* c) { c->Abort(); };
    }

    try {
        if (opt.head)
            cli->HeadASync();
        else
            cli->GetASync();
    } catch (const std::exception&) {
        return 0;
    }

    auto done = [&] { return doneCount > 0; };
    std::size_t next = 0;
    while (!done()) {
        fuzz::TPeerConnection conn;
        fuzz::PumpUntil(
            [&] {
                if (done())
                    return true;
                conn = Listener().Accept(0);
                return conn.IsOpen();
            },
            StepTimeoutMs);
        if (!conn.IsOpen())
            break;
        std::string request;
        conn.ReadUntil(request, "\r\n\r\n", StepTimeoutMs);
        const std::string answer = next < answers.size() ? answers[next] : std::string();
        ++next;
        const std::size_t cut = opt.split ? answer.size() * splitAt / 256 : answer.size();
        conn.Write(std::string_view(answer).substr(0, cut), StepTimeoutMs);
        if (cut < answer.size()) {
            fuzz::PumpPending();
            conn.Write(std::string_view(answer).substr(cut), StepTimeoutMs);
        }
        if (opt.reset) {
            conn.Reset();
        } else {
            conn.ShutdownWrite();
            std::string rest;
            fuzz::PumpUntil([&] { return done() || !conn.ReadAvailable(rest); }, StepTimeoutMs);
        }
    }
    if (!fuzz::PumpUntil(done, StepTimeoutMs))
        fuzz::Fail("the request never completed after the server closed");
    fuzz::PumpPending();
    if (doneCount != 1)
        fuzz::Fail("OnRequestDone fired " + std::to_string(doneCount) + " times");
    if (!opt.abortInDoc && cli->RcvdCount() != docBytes)
        fuzz::Fail("RcvdCount differs from the bytes delivered to OnDocData");
    if (opt.stream && std::int64_t(body.str().size()) != cli->RcvdCount())
        fuzz::Fail("RcvdStream holds a different count of bytes than RcvdCount");
    if (cli->State() != httpReady)
        fuzz::Fail("the component is not ready after OnRequestDone");
    // What is kept of response headers stays within the limits, however
    // many lines a server sends (each hop of a redirection has its own).
    std::size_t keptBytes = 0;
    for (const std::string& line : cli->RcvdHeader())
        keptBytes += line.size();
    const std::size_t hops = std::max<std::size_t>(1, next);
    if (cli->RcvdHeader().size() > hops * THttpCli::MaxHeaderLines ||
        keptBytes > hops * static_cast<std::size_t>(THttpCli::MaxHeaderBytes))
        fuzz::Fail("more response header kept than the limits allow");
    cli.reset();
    fuzz::PumpPending();
    return 0;
}
