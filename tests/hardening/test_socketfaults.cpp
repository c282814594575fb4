// The socket layer under the close sequences that broken FTP sessions cause.

#include "support/ftpfakeserver.h"

#include "net/wsocket.h"
#include "support/eventwait.h"

#include <gtest/gtest.h>

using namespace ftptest;

namespace {

// The FD_CLOSE branch of the socket's event handler. When the peer closes
// and the data-available handler closes the
// socket itself on the zero-byte read (what every protocol client does),
// the close must be reported once, and the next connection made with the
// same socket object must be reported closed again.
TEST(SocketLayerFaults, ASocketClosedInsideItsDataEventReportsEachCloseOnce)
{
    std::atomic<int> sessions{0};
    FakeFtpServer server(
        [&](FakeSession& s) {
            if (++sessions == 1) {
                s.Close();
                return;
            }
            s.WaitClosed();
        },
        2);
    TWSocket sock;
    int closes = 0;
    sock.OnDataAvailable = [](TCustomWSocket* ws, std::uint16_t) {
        char buf[256];
        if (ws->Receive(buf, sizeof buf) == 0)
            ws->Close();
    };
    sock.OnSessionClosed = [&](TCustomWSocket*, std::uint16_t) { ++closes; };
    auto connect = [&] {
        sock.SetProto("tcp");
        sock.SetAddr("127.0.0.1");
        sock.SetPort(server.PortText());
        sock.Connect();
    };

    connect();
    ASSERT_TRUE(testsupport::WaitFor([&] { return closes >= 1; }, 5000));
    testsupport::RunFor(200);
    EXPECT_EQ(closes, 1) << "the peer's close was reported more than once";

    connect();
    ASSERT_TRUE(testsupport::WaitFor([&] { return sock.State() == wsConnected; }, 5000));
    const int before = closes;
    sock.Close();
    EXPECT_EQ(sock.State(), wsClosed);
    EXPECT_EQ(closes, before + 1) << "closing the second connection was not reported";
}

} // namespace
