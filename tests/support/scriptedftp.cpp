#include "scriptedftp.h"

#include <cctype>
#include <chrono>
#include <thread>

namespace ftptest {

namespace {

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string Verb(const std::string& line)
{
    std::string verb = line.substr(0, line.find(' '));
    for (auto& c : verb)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return verb;
}

} // namespace

ScriptedFtp::ScriptedFtp(std::string remote, Cut retrCut, Cut storCut, std::size_t cutAfter)
    : remote_(std::move(remote)), retrCut_(retrCut), storCut_(storCut), cutAfter_(cutAfter)
{
}

std::vector<std::string> ScriptedFtp::Commands() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return commands_;
}

std::string ScriptedFtp::Stored() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return stored_;
}

int ScriptedFtp::StoresCompleted() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return storesCompleted_;
}

bool ScriptedFtp::ControlClosedAfterStall() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return controlClosedAfterStall_;
}

bool ScriptedFtp::DataClosedAfterStall() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return dataClosedAfterStall_;
}

void ScriptedFtp::Serve(FakeSession& s, FakeFtpServer& server)
{
    dropped_ = false;
    s.Reply("220 fault server ready");
    bool passive = false;
    int activePort = 0;
    std::size_t rest = 0;
    while (!dropped_) {
        const std::string line = s.ReadLine(30000);
        if (line.empty())
            return;
        {
            const std::lock_guard<std::mutex> hold(lock_);
            commands_.push_back(line);
        }
        const std::string verb = Verb(line);
        const std::string arg = line.size() > verb.size() + 1 ? line.substr(verb.size() + 1) : "";
        if (verb == "USER") {
            s.Reply("331 password please");
        } else if (verb == "PASS") {
            s.Reply("230 logged in");
        } else if (verb == "TYPE") {
            s.Reply("200 type set");
        } else if (verb == "PWD") {
            s.Reply("257 \"/\" is the current directory");
        } else if (verb == "SYST") {
            s.Reply("215 UNIX Type: L8");
        } else if (verb == "PASV") {
            passive = true;
            s.Reply(FakeSession::PasvReply(s.ListenData()));
        } else if (verb == "PORT") {
            passive = false;
            activePort = FakeSession::PortFromCommand(line);
            s.Reply(activePort ? "200 PORT command successful" : "501 bad PORT");
        } else if (verb == "REST") {
            rest = std::size_t(std::stoull(arg));
            s.Reply("350 Restarting at " + arg);
        } else if (verb == "RETR") {
            Retrieve(s, server, passive, activePort, rest);
            rest = 0;
        } else if (verb == "STOR") {
            Store(s, server, passive, activePort);
        } else if (verb == "QUIT") {
            s.Reply("221 bye");
            return;
        } else {
            s.Reply("502 not implemented");
        }
    }
}

bool ScriptedFtp::OpenData(FakeSession& s, bool passive, int activePort)
{
    return passive ? s.AcceptData() : s.ConnectData(activePort);
}

bool ScriptedFtp::StallUntilClientLeaves(FakeSession& s)
{
    // The client is expected to give up on its own; note which of the two
    // connections it closed.
    const bool control = s.WaitClosed(30000);
    const bool data = s.WaitDataClosed(5000);
    const std::lock_guard<std::mutex> hold(lock_);
    controlClosedAfterStall_ = control;
    dataClosedAfterStall_ = data;
    dropped_ = true;
    return control;
}

void ScriptedFtp::Retrieve(FakeSession& s, FakeFtpServer& server, bool passive, int activePort, std::size_t rest)
{
    s.Reply("150 Opening BINARY mode data connection");
    if (!OpenData(s, passive, activePort)) {
        server.Fail("RETR: no data connection");
        s.Reply("425 Can't open data connection");
        return;
    }
    const std::string body = rest < remote_.size() ? remote_.substr(rest) : std::string();
    const Cut cut = retrCut_;
    retrCut_ = Cut::None;
    if (cut == Cut::None) {
        s.SendData(body);
        s.CloseData();
        s.Reply("226 Transfer complete");
        return;
    }
    s.SendData(body.substr(0, cutAfter_));
    // Let the client read what was sent before the connection breaks.
    Pause(200);
    BreakTransfer(s, cut, true);
}

void ScriptedFtp::Store(FakeSession& s, FakeFtpServer& server, bool passive, int activePort)
{
    if (passive && !s.AcceptData()) {
        server.Fail("STOR: no data connection");
        s.Reply("425 Can't open data connection");
        return;
    }
    s.Reply("150 Ok to send data");
    if (!passive && !s.ConnectData(activePort)) {
        server.Fail("STOR: cannot connect to the client");
        s.Reply("425 Can't open data connection");
        return;
    }
    const Cut cut = storCut_;
    storCut_ = Cut::None;
    if (cut == Cut::None) {
        const std::string got = s.ReceiveData();
        s.CloseData();
        {
            const std::lock_guard<std::mutex> hold(lock_);
            stored_ = got;
            ++storesCompleted_;
        }
        s.Reply("226 Transfer complete");
        return;
    }
    s.ReceiveData(cutAfter_);
    // Stop reading for a while so that the client is stuck in the middle
    // of sending when the connection breaks.
    Pause(200);
    BreakTransfer(s, cut, false);
}

void ScriptedFtp::BreakTransfer(FakeSession& s, Cut cut, bool download)
{
    switch (cut) {
    case Cut::ResetThen426:
        s.ResetData();
        s.Reply("426 Connection reset; transfer aborted.");
        break;
    case Cut::CloseThen426:
        s.CloseData();
        s.Reply("426 Transfer aborted");
        break;
    case Cut::CloseThenDrop:
        s.CloseData();
        s.Close();
        dropped_ = true;
        break;
    case Cut::Stall:
        StallUntilClientLeaves(s);
        break;
    case Cut::ResetControl: {
        s.Reset();
        // A download's data connection stays open: the client must close it.
        const bool closed = download && s.WaitDataClosed(10000);
        const std::lock_guard<std::mutex> hold(lock_);
        if (download)
            dataClosedAfterStall_ = closed;
        dropped_ = true;
        break;
    }
    case Cut::None:
        break;
    }
}

} // namespace ftptest
