// Line mode, line editing with echo, ReadLine and the cost of waiting.

#include "netpeer.h"

#include "support/eventwait.h"

#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include <memory>

using namespace nettest;
using testsupport::RunFor;
using testsupport::WaitFor;

namespace {

struct LineSession {
    LineSession()
    {
        s.SetAddr("127.0.0.1");
        s.SetPort(listener.PortText());
        s.Connect();
        peer = std::make_unique<PosixPeer>(listener.Accept());
        WaitFor([&] { return s.State() == wsConnected; });
    }
    // Writes and lets the socket take the bytes in as one read.
    void Feed(const std::string& bytes)
    {
        peer->Write(bytes);
        RunFor(60);
    }
    PosixListener listener;
    TWSocket s;
    std::unique_ptr<PosixPeer> peer;
};

} // namespace

TEST(NetLine, LinesOneAtATimeSplitTerminatorAndSeveralPerRead)
{
    LineSession t;
    std::vector<std::string> lines;
    std::vector<std::int64_t> counts;
    t.s.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
        counts.push_back(s->RcvdCount());
        lines.push_back(s->ReceiveStr());
    };
    t.s.SetLineMode(true);
    t.Feed("AB\r\nCD");
    ASSERT_EQ(lines, std::vector<std::string>{"AB\r\n"});
    EXPECT_EQ(counts[0], 4);
    t.Feed("\r");
    EXPECT_EQ(lines.size(), 1u);
    t.Feed("\nEF\r\nGH\r\n");
    EXPECT_EQ(lines, (std::vector<std::string>{"AB\r\n", "CD\r\n", "EF\r\n", "GH\r\n"}));

    // Another terminator.
    t.s.SetLineEnd("|");
    t.Feed("x|yy|");
    EXPECT_EQ(lines.back(), "yy|");
    EXPECT_EQ(lines[lines.size() - 2], "x|");
}

TEST(NetLine, LineReadInPartsAndModeSwitchedOffMidLine)
{
    LineSession t;
    std::vector<std::string> parts;
    t.s.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
        char buf[2];
        const int n = s->Receive(buf, 2);
        if (n > 0)
            parts.emplace_back(buf, std::size_t(n));
    };
    t.s.SetLineMode(true);
    t.Feed("abcde\r\nfg");
    EXPECT_EQ(parts, (std::vector<std::string>{"ab", "cd", "e\r", "\n"}));
    EXPECT_EQ(t.s.ReadCount(), 7);

    // Switch line mode off after the first two bytes of the next line: the
    // rest and what followed come as plain data after the posted message.
    parts.clear();
    bool switched = false;
    std::string plain;
    t.s.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
        auto* line = static_cast<TWSocket*>(s);
        if (!switched) {
            char buf[2];
            s->Receive(buf, 2);
            parts.emplace_back(buf, 2);
            switched = true;
            line->SetLineMode(false);
            return;
        }
        plain += s->ReceiveStr();
        char buf[64];
        const int n = s->Receive(buf, sizeof buf);
        if (n > 0)
            plain.append(buf, std::size_t(n));
    };
    t.Feed("hi\r\nzz");
    EXPECT_EQ(parts, std::vector<std::string>{"fg"});
    EXPECT_EQ(plain, "hi\r\nzz");
}

TEST(NetLine, NoHandlerDropsLinesAndUnterminatedLineComesAtClose)
{
    LineSession t;
    t.s.SetLineMode(true);
    t.Feed("dropped\r\n");
    std::vector<std::string> events;
    t.s.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) { events.push_back("data " + s->ReceiveStr()); };
    t.s.OnSessionClosed = [&](TCustomWSocket*, std::uint16_t e) { events.push_back("closed " + std::to_string(e)); };
    t.Feed("kept\r\nlast");
    t.peer->Close();
    ASSERT_TRUE(WaitFor([&] { return t.s.State() == wsClosed; }));
    EXPECT_EQ(events, (std::vector<std::string>{"data kept\r\n", "data last", "closed 0"}));
}

TEST(NetLine, HandlerThatReadsNothingDoesNotSpin)
{
    LineSession t;
    int calls = 0;
    t.s.OnDataAvailable = [&](TCustomWSocket*, std::uint16_t) { ++calls; };
    t.s.SetLineMode(true);
    const double cpu0 = ProcessCpuSeconds();
    t.Feed("one\r\ntwo\r\n");
    RunFor(200);
    EXPECT_LT(ProcessCpuSeconds() - cpu0, 0.5);
    EXPECT_EQ(calls, 1);
    // The line is still there for a reader that comes later.
    std::vector<std::string> lines;
    t.s.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) { lines.push_back(s->ReceiveStr()); };
    t.Feed("three\r\n");
    EXPECT_EQ(lines, (std::vector<std::string>{"one\r\n", "two\r\n", "three\r\n"}));

    // The same without line mode: the bytes wait in the socket.
    t.s.SetLineMode(false);
    RunFor(20);
    calls = 0;
    t.s.OnDataAvailable = [&](TCustomWSocket*, std::uint16_t) { ++calls; };
    t.Feed("raw");
    RunFor(200);
    EXPECT_EQ(calls, 1);
    char buf[8];
    EXPECT_EQ(t.s.Receive(buf, sizeof buf), 3);
}

TEST(NetLine, EditingWithEcho)
{
    LineSession t;
    std::vector<std::string> lines;
    t.s.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) { lines.push_back(s->ReceiveStr()); };
    t.s.SetLineMode(true);
    t.s.SetLineEdit(true);
    t.s.SetLineEcho(true);
    t.Feed("ab\bc\r\n");
    EXPECT_EQ(lines, std::vector<std::string>{"ac\r\n"});
    EXPECT_EQ(t.peer->ReadExactly(8), std::string("ab\b \bc\r\n", 8));
    t.Feed("ab\tz\r\n");
    EXPECT_EQ(lines.back(), "ab      z\r\n");
    EXPECT_EQ(t.peer->ReadExactly(11), "ab      z\r\n");
    // A backspace can erase bytes of an earlier read.
    t.Feed("xy");
    t.Feed("\b\bq\r\n");
    EXPECT_EQ(lines.back(), "q\r\n");
    // A backspace on an empty line echoes nothing.
    std::string echoed;
    t.peer->ReadAvailable(echoed);
    t.Feed("\bk\r\n");
    EXPECT_EQ(lines.back(), "k\r\n");
    EXPECT_EQ(t.peer->ReadExactly(3), "k\r\n");

    // Echo without editing sends the bytes back unchanged.
    t.s.SetLineEdit(false);
    t.Feed("p\bq\r\n");
    EXPECT_EQ(lines.back(), "p\bq\r\n");
    EXPECT_EQ(t.peer->ReadExactly(5), "p\bq\r\n");
}

TEST(NetLine, ReadLineTimeOutsAndLines)
{
    LineSession t;
    std::string line;
    t.peer->Write("first\r\nsecond\r\n");
    t.s.ReadLine(-2000, line);
    EXPECT_EQ(line, "first\r\n");
    t.s.ReadLine(-2000, line);
    EXPECT_EQ(line, "second\r\n");
    EXPECT_FALSE(t.s.LineMode()); // restored

    // A time-out returns the incomplete line that is held.
    t.peer->Write("part");
    t.s.ReadLine(-300, line);
    EXPECT_EQ(line, "part");

    // The previous handler is back afterwards and gets later data.
    std::string later;
    t.s.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) { later += s->ReceiveStr(); };
    t.s.ReadLine(-100, line);
    EXPECT_EQ(line, "");
    t.Feed("after");
    EXPECT_EQ(later, "after");

    TWSocket closed;
    try {
        closed.ReadLine(1, line);
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_EQ(e.Message(), "ReadLine failed: not connected");
    }
}

TEST(NetLine, WaitingOnASilentPeerCostsNoCpu)
{
    LineSession t;
    std::string line;
    const double cpu0 = ProcessCpuSeconds();
    t.s.ReadLine(5, line);
    const double used = ProcessCpuSeconds() - cpu0;
    EXPECT_EQ(line, "");
    EXPECT_LT(used, 0.5) << "CPU seconds used by a 5 s wait: " << used;
    std::printf("[ cpu      ] 5 s ReadLine wait used %.4f s CPU\n", used);
}

TEST(NetLine, WaitForCloseReturnsWhenThePeerCloses)
{
    LineSession t;
    std::string got;
    t.s.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) { got += s->ReceiveStr(); };
    QTimer::singleShot(100, [&] {
        t.peer->Write("bye");
        t.peer->Close();
    });
    t.s.WaitForClose();
    EXPECT_EQ(t.s.State(), wsClosed);
    EXPECT_EQ(got, "bye");
}

TEST(NetLine, ReadLineCalledFromTheDataHandler)
{
    LineSession t;
    struct State {
        bool done = false;
        std::string first;
        std::string line;
    } st;
    State* p = &st;
    // The handler is replaced while it runs; its captures must survive.
    t.s.OnDataAvailable = [p, tag = std::string(64, 'x')](TCustomWSocket* s, std::uint16_t) {
        if (p->done)
            return;
        p->first = s->ReceiveStr();
        static_cast<TWSocket*>(s)->ReadLine(-3000, p->line);
        p->done = tag.size() == 64;
    };
    QTimer::singleShot(100, [&] { t.peer->Write("rest\r\n"); });
    t.peer->Write("head");
    ASSERT_TRUE(WaitFor([&] { return st.done; }));
    EXPECT_EQ(st.first, "head");
    EXPECT_EQ(st.line, "rest\r\n");
}

TEST(NetLine, ReadLineWithThePrivatePump)
{
    LineSession t;
    t.s.SetMultiThreaded(true);
    QTimer::singleShot(50, [&] { t.peer->Write("mt\r\n"); });
    std::string line;
    t.s.ReadLine(-3000, line);
    EXPECT_EQ(line, "mt\r\n");
    EXPECT_FALSE(t.s.Terminated());
}

TEST(NetLine, HeldBytesAfterModeSwitchedOffAreCountedAndRead)
{
    // The handler leaves line mode at its first event and reads whatever a
    // receive offers: the held bytes must be counted, or ReceiveStr gives "".
    LineSession t;
    std::string got;
    std::vector<std::int64_t> counts;
    t.s.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
        auto* line = static_cast<TWSocket*>(s);
        if (line->LineMode())
            line->SetLineMode(false);
        counts.push_back(s->RcvdCount());
        got += s->ReceiveStr();
    };
    t.s.SetLineMode(true);
    t.Feed("line one\r\nline two\r\n");
    EXPECT_EQ(got, "line one\r\nline two\r\n");
    ASSERT_FALSE(counts.empty());
    EXPECT_EQ(counts[0], 20);

    // Once the held bytes are gone the count is the socket's again.
    t.Feed("more");
    EXPECT_EQ(got, "line one\r\nline two\r\nmore");
}

TEST(NetLine, PartLineReadRawThenLineModeBackOn)
{
    // The rest of a line read as plain data is gone: a later line must not
    // bring those bytes back.
    LineSession t;
    std::vector<std::string> reads;
    int calls = 0;
    t.s.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
        auto* line = static_cast<TWSocket*>(s);
        ++calls;
        if (calls == 1) {
            char buf[2];
            const int n = s->Receive(buf, 2);
            reads.emplace_back(buf, std::size_t(std::max(n, 0)));
            line->SetLineMode(false);
            return;
        }
        reads.push_back(s->ReceiveStr());
        if (calls == 2)
            line->SetLineMode(true);
    };
    t.s.SetLineMode(true);
    t.Feed("abcdef\r\n");
    ASSERT_EQ(reads, (std::vector<std::string>{"ab", "cdef\r\n"}));
    t.Feed("xy\r\n");
    EXPECT_EQ(reads, (std::vector<std::string>{"ab", "cdef\r\n", "xy\r\n"}));
}

TEST(NetLine, EmptyLineEndPassesDataThrough)
{
    LineSession t;
    std::string got;
    int calls = 0;
    t.s.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
        got += s->ReceiveStr();
        // A handler that keeps being called for the same bytes gets out.
        if (++calls > 20)
            static_cast<TWSocket*>(s)->SetLineMode(false);
    };
    t.s.SetLineEnd("");
    t.s.SetLineMode(true);
    t.Feed("abc");
    EXPECT_EQ(got, "abc");
    EXPECT_EQ(calls, 1);
}

TEST(NetLine, HeldBytesAreDeliveredWhenLineModeGoesOffAtClose)
{
    // The peer sends a line and an unterminated rest, then closes. The
    // handler reads 4 bytes per event and leaves line mode at its third
    // event, which is the offer of the last, unterminated line.
    LineSession t;
    std::string got;
    std::vector<std::string> events;
    int calls = 0;
    t.s.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
        auto* line = static_cast<TWSocket*>(s);
        if (++calls == 3)
            line->SetLineMode(false);
        char buf[4];
        const int n = s->Receive(buf, sizeof buf);
        if (n > 0)
            got.append(buf, std::size_t(n));
    };
    t.s.OnSessionClosed = [&](TCustomWSocket*, std::uint16_t) { events.push_back("closed " + got); };
    t.s.SetLineMode(true);
    t.Feed("line\r\ntail without end");
    EXPECT_EQ(got, "line\r\n");
    t.peer->Close();
    ASSERT_TRUE(WaitFor([&] { return t.s.State() == wsClosed; }));
    EXPECT_EQ(got, "line\r\ntail without end");
    EXPECT_EQ(events, std::vector<std::string>{"closed line\r\ntail without end"});
}

TEST(NetLine, HeldBytesAreDeliveredWhenTheCloseComesFirst)
{
    // Line mode goes off while a rest is held and the session closes before
    // the posted redelivery runs. The handler reads plain data in 4-byte
    // pieces; in the second round it switches line mode back on at its first
    // plain event, without reading, and takes the rest as the last line.
    for (const bool backToLines : {false, true}) {
        LineSession t;
        std::vector<std::string> events;
        bool switchedBack = false;
        t.s.OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
            auto* line = static_cast<TWSocket*>(s);
            if (line->LineMode()) {
                events.push_back("line " + s->ReceiveStr());
                return;
            }
            if (backToLines && !switchedBack) {
                switchedBack = true;
                line->SetLineMode(true);
                return;
            }
            char buf[4];
            const int n = s->Receive(buf, sizeof buf);
            events.push_back("raw " + std::string(buf, std::size_t(std::max(n, 0))));
        };
        t.s.OnSessionClosed = [&](TCustomWSocket*, std::uint16_t) { events.push_back("closed"); };
        t.s.SetLineMode(true);
        t.Feed("line\r\ntail without end");
        t.s.SetLineMode(false);
        t.s.Close();
        RunFor(50);
        const std::vector<std::string> expected =
            backToLines
                ? std::vector<std::string>{"line line\r\n", "line tail without end", "closed"}
                : std::vector<std::string>{"line line\r\n", "raw tail", "raw  wit", "raw hout", "raw  end", "closed"};
        EXPECT_EQ(events, expected) << "back to lines: " << backToLines;
    }
}
