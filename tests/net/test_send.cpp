// The send queue: blocks, partial sends, OnDataSent only once drained, and
// nothing lost on a graceful close.

#include "netpeer.h"

#include "support/eventwait.h"

#include <QTimer>
#include <gtest/gtest.h>

using namespace nettest;
using testsupport::RunFor;
using testsupport::WaitFor;

namespace {

class TQueueSocket : public TWSocket {
public:
    std::vector<std::int32_t> BlockCounts() const
    {
        std::vector<std::int32_t> out;
        for (const auto& b : FSendQueue)
            out.push_back(b->DataCount());
        return out;
    }
};

struct Connected {
    explicit Connected(int rcvBuf = 0) : listener(rcvBuf)
    {
        s.SetAddr("127.0.0.1");
        s.SetPort(listener.PortText());
        s.Connect();
        peer = std::make_unique<PosixPeer>(listener.Accept());
        WaitFor([&] { return s.State() == wsConnected; });
        RunFor(20); // let the connect-time FD_WRITE pass
    }
    PosixListener listener;
    TQueueSocket s;
    std::unique_ptr<PosixPeer> peer;
};

std::string Pattern(std::size_t n)
{
    std::string out(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        out[i] = char('a' + (i * 7 + i / 251) % 26);
    return out;
}

} // namespace

TEST(NetSend, FourThousandBytesQueueAsThreeBlocks)
{
    Connected c;
    ASSERT_EQ(c.s.State(), wsConnected);
    const std::string data = Pattern(4000);
    c.s.PutStringInSendBuffer(data);
    EXPECT_EQ(c.s.BlockCounts(), (std::vector<std::int32_t>{1514, 1514, 972}));
    int sentEvents = 0;
    c.s.OnDataSent = [&](TCustomWSocket*, std::uint16_t) { ++sentEvents; };
    EXPECT_EQ(c.s.Send(nullptr, 0), 0);
    // Drained inside Send, announced only afterwards from the loop.
    EXPECT_EQ(sentEvents, 0);
    EXPECT_EQ(c.s.BlockCounts(), (std::vector<std::int32_t>{0}));
    EXPECT_EQ(c.peer->ReadExactly(4000), data);
    EXPECT_TRUE(WaitFor([&] { return sentEvents == 1; }));
    RunFor(30);
    EXPECT_EQ(sentEvents, 1);
}

TEST(NetSend, PartialSendKeepsBytesQueuedUntilThePeerReads)
{
    Connected c(4096);
    int sendSndBuf = 8192;
    WSocket_setsockopt(c.s.SocketHandle(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendSndBuf),
                       sizeof sendSndBuf);
    int sentEvents = 0;
    std::int64_t sendDataTotal = 0;
    c.s.OnDataSent = [&](TCustomWSocket*, std::uint16_t) { ++sentEvents; };
    c.s.OnSendData = [&](TCustomWSocket*, std::int32_t n) { sendDataTotal += n; };
    const std::string data = Pattern(3 * 1024 * 1024 + 17);
    EXPECT_EQ(c.s.SendStr(data), int(data.size()));
    EXPECT_FALSE(c.s.AllSent());
    RunFor(100);
    EXPECT_GT(c.s.BufferedByteCount(), 0);
    EXPECT_EQ(sentEvents, 0);
    EXPECT_EQ(sendDataTotal + c.s.BufferedByteCount(), std::int64_t(data.size()));

    // Small sends in between keep their order behind the queued bulk.
    c.s.SendStr("tail");
    const std::string got = c.peer->ReadExactly(data.size() + 4, 20000);
    EXPECT_TRUE(got == data + "tail") << got.size();
    EXPECT_TRUE(WaitFor([&] { return sentEvents >= 1; }));
    EXPECT_EQ(c.s.BufferedByteCount(), 0);
    EXPECT_EQ(sendDataTotal, std::int64_t(data.size() + 4));
}

TEST(NetSend, SendDataHandlerThatSendsDoesNotDuplicate)
{
    Connected c;
    bool once = false;
    c.s.OnSendData = [&](TCustomWSocket* sender, std::int32_t) {
        if (!once) {
            once = true;
            sender->SendStr("-second");
        }
    };
    c.s.SendStr("first");
    EXPECT_EQ(c.peer->ReadExactly(12), "first-second");
    RunFor(50);
    std::string extra;
    c.peer->ReadAvailable(extra);
    EXPECT_EQ(extra, "");

    // The same with a bulk write that goes to the socket without queueing.
    const std::string bulk = Pattern(200 * 1024);
    once = false;
    c.s.SendStr(bulk);
    const std::string got = c.peer->ReadExactly(bulk.size() + 7);
    EXPECT_TRUE(got == bulk + "-second") << got.size();
}

TEST(NetSend, GracefulCloseDeliversEverythingAlreadySent)
{
    Connected c(4096);
    const std::string data = Pattern(2 * 1024 * 1024);
    bool drained = false;
    c.s.OnDataSent = [&](TCustomWSocket*, std::uint16_t) { drained = true; };
    c.s.SendStr(data);
    // Read slowly until the queue has gone to the system, then close at once
    // while the system still holds unsent bytes.
    std::string got;
    ASSERT_TRUE(WaitFor(
        [&] {
            char buf[4096];
            const ssize_t n = ::recv(c.peer->Fd(), buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0)
                got.append(buf, std::size_t(n));
            return drained;
        },
        20000));
    c.s.Close();
    bool reset = false;
    got += c.peer->ReadToEnd(reset, 20000);
    EXPECT_FALSE(reset);
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data);
}

TEST(NetSend, FlushWaitsUntilTheQueueIsDrained)
{
    Connected c(4096);
    const std::string data = Pattern(1024 * 1024);
    c.s.SendStr(data);
    std::string got;
    // The peer reads from a timer while Flush waits in the loop.
    QTimer reader;
    QObject::connect(&reader, &QTimer::timeout, [&] { c.peer->ReadAvailable(got); });
    reader.start(5);
    c.s.Flush();
    EXPECT_TRUE(c.s.AllSent());
    EXPECT_EQ(c.s.BufferedByteCount(), 0);
    reader.stop();
    got += c.peer->ReadExactly(data.size() - got.size());
    EXPECT_TRUE(got == data);
}

TEST(NetSend, CloseWithLingerTimeoutNeitherBlocksNorLosesData)
{
    Connected c(4096);
    c.s.SetLingerOnOff(wsLingerOn);
    c.s.SetLingerTimeout(10);
    const std::string data = Pattern(1024 * 1024);
    c.s.SendStr(data);
    // Close at once, while most of the data still waits in the queue and in
    // the system. The peer only reads after Close has returned: a close that
    // lingered would wait for a reader that cannot run, then reset.
    c.s.Flush();
    c.s.Close();
    bool reset = false;
    const std::string got = c.peer->ReadToEnd(reset, 20000);
    EXPECT_FALSE(reset);
    EXPECT_TRUE(got == data) << got.size();
}
