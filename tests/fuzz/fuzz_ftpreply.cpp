// FTP reply assembly and classification through the control connection's
// real receive path: TCustomFtpCli talks to a loopback peer that answers with
// the input.
//
// Input: one option byte, then segments separated by "|NEXT|". The first
// segment is the script: each byte picks the next operation the harness
// starts once the client is idle. Every later segment is what the peer sends
// when the client next wants something: a banner for a new connection, the
// reply to a command line, or more bytes of a reply the client is still
// waiting for. When the segments run out the peer closes, and every request
// must then end.

#include "ftp/customftpcli.h"
#include "fuzzsupport.h"
#include "loopbackpeer.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int StepTimeoutMs = 5000;
constexpr int MaxScript = 24;

class TProbeFtp : public TCustomFtpCli {
public:
    int DonePending() const { return FDonePending; }
    int ReplyLen() const { return FReplyLen; }
};

fuzz::TLoopbackListener& Listener()
{
    static auto* listener = new fuzz::TLoopbackListener();
    return *listener;
}

void Start(TProbeFtp& cli, std::uint8_t op)
{
    switch (op % 20) {
    case 0:
        cli.OpenAsync();
        break;
    case 1:
        cli.UserAsync();
        break;
    case 2:
        cli.PassAsync();
        break;
    case 3:
        cli.ConnectAsync();
        break;
    case 4:
        cli.PwdAsync();
        break;
    case 5:
        cli.CwdAsync();
        break;
    case 6:
        cli.CDupAsync();
        break;
    case 7:
        cli.SizeAsync();
        break;
    case 8:
        cli.MkdAsync();
        break;
    case 9:
        cli.RmdAsync();
        break;
    case 10:
        cli.DeleAsync();
        break;
    case 11:
        cli.RenAsync();
        break;
    case 12:
        cli.SystAsync();
        break;
    case 13:
        cli.TypeSetAsync();
        break;
    case 14:
        cli.QuitAsync();
        break;
    case 15:
        cli.AbortAsync();
        break;
    case 16:
        cli.SystemAsync();
        break;
    case 17:
        cli.FileSizeAsync();
        break;
    case 18:
        cli.MkdirAsync();
        break;
    default:
        cli.QuoteAsync();
        break;
    }
}

// The codes that let a single-command request succeed; empty for the chains
// and commands that take any reply.
std::vector<int> SuccessCodes(std::uint8_t op)
{
    switch (op % 20) {
    case 0:
        return {220};
    case 1:
        return {331, 230};
    case 2:
        return {230};
    case 4:
        return {250, 257};
    case 5:
        return {200, 250, 257};
    case 6:
        return {250};
    case 7:
        return {213};
    case 8:
        return {257};
    case 9:
    case 10:
        return {250, 257};
    case 12:
        return {215};
    case 13:
        return {200};
    default:
        return {};
    }
}

// TARVIK_FUZZ_TRACE=1 shows the conversation, for reading a finding.
void Trace(const std::string& what)
{
    static const bool on = std::getenv("TARVIK_FUZZ_TRACE") != nullptr;
    if (on)
        std::fprintf(stderr, "[ftpreply] %s\n", what.c_str());
}

bool Waiting(TProbeFtp& cli) { return cli.State() == ftpWaitingBanner || cli.State() == ftpWaitingResponse; }

bool Idle(TProbeFtp& cli)
{
    return (cli.State() == ftpReady || cli.State() == ftpNotConnected) && cli.DonePending() == 0;
}

bool ChainStalled(TProbeFtp& cli)
{
    return cli.State() == ftpInternalReady && cli.DonePending() == 0 && !cli.Connected();
}

std::int64_t PendingOnControl(TProbeFtp& cli)
{
    TWSocket* s = cli.ControlSocket();
    if (s == nullptr || s->State() != wsConnected)
        return 0;
    try {
        return s->TCustomWSocket::GetRcvdCount();
    } catch (const std::exception&) {
        return 0;
    }
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
    const std::uint8_t flags = in.Byte();
    const std::string script(in.Until("|NEXT|"));
    std::vector<std::string> replies;
    while (!in.AtEnd())
        replies.emplace_back(in.Until("|NEXT|"));

    auto cli = std::make_unique<TProbeFtp>();
    cli->SetHostName("127.0.0.1");
    cli->SetPort(Listener().PortText());
    cli->SetUserName("user");
    cli->SetPassWord("secret");
    cli->SetHostDirName("dir");
    cli->SetHostFileName("file.bin");
    cli->SetLocalFileName("NOOP");
    if (flags & 1)
        cli->SetOptions(TFtpOptions{});
    cli->OnError = [](TCustomFtpCli*, std::string&) {};
    cli->OnDisplay = [](TCustomFtpCli*, std::string& msg) { Trace("display " + msg); };
    std::vector<int> successCodes;
    cli->OnRequestDone = [&](TCustomFtpCli* c, TFtpRequest rq, std::uint16_t error) {
        Trace("request " + std::to_string(int(rq)) + " done, error " + std::to_string(error) + ", status " +
              std::to_string(c->StatusCode()));
        if (error == 0 && !successCodes.empty() && !fuzz::Suppressed("replycode")) {
            bool accepted = false;
            for (const int code : successCodes)
                accepted = accepted || code == c->StatusCode();
            if (!accepted)
                fuzz::Fail("request reported as a success on reply " + std::to_string(c->StatusCode()) + ": " +
                           c->LastResponse());
        }
        successCodes.clear();
    };
    cli->OnResponse = [](TCustomFtpCli* c) {
        const std::string& r = c->LastResponse();
        if (!r.empty() && (r.back() == '\r' || r.back() == '\n'))
            fuzz::Fail("a reply line keeps its line end");
    };

    fuzz::TPeerConnection conn;
    std::string inbox;
    std::size_t nextReply = 0;
    std::size_t nextOp = 0;
    bool serverDone = false;
    int quiet = 0;
    auto serve = [&](bool banner) {
        Trace(std::string(banner ? "connection" : "wants bytes") + ", state " + std::to_string(int(cli->State())) +
              (nextReply < replies.size() ? ", sends \"" + replies[nextReply] + "\"" : ", closes"));
        if (nextReply < replies.size()) {
            conn.Write(replies[nextReply++], StepTimeoutMs);
            return;
        }
        if (banner) {
            conn.Close();
            return;
        }
        conn.ShutdownWrite();
        serverDone = true;
    };

    for (int steps = 0; steps < 400; ++steps) {
        if (cli->ReplyLen() >= TCustomFtpCli::ReplyBufferSize)
            fuzz::Fail("the reply buffer overflowed");
        fuzz::TPeerConnection fresh = Listener().Accept(0);
        if (fresh.IsOpen()) {
            conn = std::move(fresh);
            inbox.clear();
            serverDone = false;
            serve(true);
            quiet = 0;
            continue;
        }
        if (conn.IsOpen() && !conn.ReadAvailable(inbox) && inbox.empty()) {
            conn.Close();
        }
        const std::size_t lf = inbox.find('\n');
        if (lf != std::string::npos) {
            inbox.erase(0, lf + 1);
            if (!serverDone)
                serve(false);
            quiet = 0;
            continue;
        }
        if (Idle(*cli)) {
            if (nextOp >= script.size() || nextOp >= std::size_t(MaxScript))
                break;
            try {
                const std::uint8_t op = std::uint8_t(script[nextOp++]);
                Trace("start operation " + std::to_string(op % 20));
                successCodes = SuccessCodes(op);
                Start(*cli, op);
            } catch (const std::exception&) {
                // Refused at once (busy, not connected): the next one.
            }
            continue;
        }
        // The client waits for bytes of a reply that nobody sends: more
        // reply bytes if the input has them, else the peer ends.
        // Loopback bytes are in the client's socket once our send returns, so
        // a client that has handled everything and still waits wants more.
        fuzz::PumpPending();
        if (Waiting(*cli) && conn.IsOpen() && PendingOnControl(*cli) == 0 && ++quiet > 1) {
            quiet = 0;
            if (!serverDone)
                serve(false);
            continue;
        }
        if (serverDone || !conn.IsOpen()) {
            Trace("peer closed, state " + std::to_string(int(cli->State())) + ", done pending " +
                  std::to_string(cli->DonePending()));
            fuzz::TPeerConnection early;
            auto settled = [&] {
                if (!early.IsOpen())
                    early = Listener().Accept(0);
                return Idle(*cli) || early.IsOpen() || (ChainStalled(*cli) && fuzz::Suppressed("chainhang"));
            };
            // A chain left between two steps with nothing under way (the
            // known finding "chainhang") may be let through for long runs.
            if (!fuzz::PumpUntil(settled, StepTimeoutMs))
                fuzz::Fail("a request never ended after the server closed the connection");
            if (!Idle(*cli) && !early.IsOpen())
                break;
            if (early.IsOpen()) {
                conn = std::move(early);
                inbox.clear();
                serverDone = false;
                serve(true);
            }
            continue;
        }
        fuzz::PumpUntil([] { return false; }, 2);
    }
    conn.Close();
    if (!fuzz::PumpUntil([&] { return Idle(*cli) || (ChainStalled(*cli) && fuzz::Suppressed("chainhang")); },
                         StepTimeoutMs))
        fuzz::Fail("a request never ended after the server closed the connection");
    cli.reset();
    fuzz::PumpPending();
    return 0;
}
