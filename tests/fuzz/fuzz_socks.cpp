// SOCKS 4, 4A and 5 reply handling, fed through a real connection: a
// TWSocket connects through a loopback "proxy" that answers with the input.
//
// Input: one option byte, then segments separated by "|NEXT|", each sent
// when the client has written something or waits for more. After the last
// segment, if the dialogue succeeded, the proxy sends a marker; then it
// closes. The marker must reach the data handler intact and last.
//   option bits 0-1: level "5", "4", "4A", "5"; bit 2: user name and
//   password; bit 3: the target is a name instead of an address (4A and 5).

#include "fuzzsupport.h"
#include "loopbackpeer.h"
#include "net/wsocket.h"

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int StepTimeoutMs = 5000;
const std::string Marker = "<end-of-stream-marker>";

class TProbeSocket : public TWSocket {
public:
    std::int64_t SocketPending()
    {
        if (State() != wsConnected)
            return 0;
        try {
            return TCustomWSocket::GetRcvdCount();
        } catch (const std::exception&) {
            return 0;
        }
    }
};

fuzz::TLoopbackListener& Listener()
{
    static auto* listener = new fuzz::TLoopbackListener();
    return *listener;
}

const char* LevelFor(std::uint8_t bits)
{
    switch (bits & 3) {
    case 1:
        return "4";
    case 2:
        return "4A";
    default:
        return "5";
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
    std::vector<std::string> replies;
    while (!in.AtEnd())
        replies.emplace_back(in.Until("|NEXT|"));

    auto sock = std::make_unique<TProbeSocket>();
    int connectedCount = 0;
    std::uint16_t connectError = 0;
    int closedCount = 0;
    std::string received;
    sock->OnSessionConnected = [&](TCustomWSocket*, std::uint16_t error) {
        ++connectedCount;
        connectError = error;
    };
    sock->OnSessionClosed = [&](TCustomWSocket*, std::uint16_t) { ++closedCount; };
    sock->OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
        char buf[512];
        const int n = s->Receive(buf, sizeof buf);
        if (n > 0)
            received.append(buf, std::size_t(n));
    };
    sock->OnSocksError = [](TCustomWSocket*, std::int32_t, const std::string&) {};

    // The target is never contacted: the proxy is the only peer. SOCKS 4
    // resolves a name itself, so it gets an address: no lookup may leave the
    // machine.
    const bool byName = (flags & 8) != 0 && (flags & 3) != 1;
    sock->SetAddr(byName ? "target.example.invalid" : "192.0.2.10");
    sock->SetPort("21");
    sock->SetSocksLevel(LevelFor(flags));
    sock->SetSocksServer("127.0.0.1");
    sock->SetSocksPort(Listener().PortText());
    if (flags & 4) {
        sock->SetSocksAuthentication(socksAuthenticateUsercode);
        sock->SetSocksUsercode("user");
        sock->SetSocksPassword("secret");
    }
    try {
        sock->Connect();
    } catch (const std::exception&) {
        return 0;
    }

    fuzz::TPeerConnection conn = Listener().Accept(StepTimeoutMs);
    if (!conn.IsOpen()) {
        // Refused before reaching the proxy (a name SOCKS 4 cannot carry).
        fuzz::PumpUntil([&] { return connectedCount > 0 || sock->State() == wsClosed; }, StepTimeoutMs);
        return 0;
    }

    std::string fromClient;
    std::size_t handled = 0;
    std::size_t next = 0;
    int quiet = 0;
    for (int steps = 0; steps < 200 && next < replies.size(); ++steps) {
        conn.ReadAvailable(fromClient);
        const bool clientSpoke = fromClient.size() > handled;
        fuzz::PumpPending();
        // Once the client has spoken, a client that took every byte and
        // still has no answer wants more of the reply.
        const bool waiting = handled > 0 && connectedCount == 0 && sock->State() != wsClosed &&
                             sock->SocketPending() == 0;
        if (clientSpoke || (waiting && ++quiet > 1)) {
            handled = fromClient.size();
            quiet = 0;
            conn.Write(replies[next++], StepTimeoutMs);
            continue;
        }
        if (connectedCount > 0 || sock->State() == wsClosed)
            break;
        fuzz::PumpUntil([] { return false; }, 1);
    }
    // The rest of the stream; once the dialogue is over the marker, which no
    // reading of the replies may take; then an orderly end.
    for (; next < replies.size(); ++next)
        conn.Write(replies[next], StepTimeoutMs);
    fuzz::PumpPending();
    fuzz::PumpPending();
    const bool markerSent = connectedCount > 0 && connectError == 0;
    if (markerSent)
        conn.Write(Marker, StepTimeoutMs);
    conn.ShutdownWrite();

    if (!fuzz::PumpUntil(
            [&] {
                conn.ReadAvailable(fromClient);
                return closedCount > 0 || (connectedCount > 0 && sock->State() == wsClosed);
            },
            StepTimeoutMs))
        fuzz::Fail("the socket never reported the end of the proxy's connection");
    fuzz::PumpPending();
    if (connectedCount != 1)
        fuzz::Fail("OnSessionConnected fired " + std::to_string(connectedCount) + " times");
    if (connectError == 0) {
        if (sock->SocksState() != socksData)
            fuzz::Fail("connected without finishing the SOCKS dialogue");
        std::string stream;
        for (const std::string& r : replies)
            stream += r;
        if (markerSent) {
            stream += Marker;
            // Bytes that followed the proxy's reply may precede the marker;
            // none may be lost after it, reordered or made up.
            if (received.size() > stream.size() ||
                stream.compare(stream.size() - received.size(), received.size(), received) != 0)
                fuzz::Fail("the data handler got bytes that are not the end of the stream");
            if (received.size() < Marker.size() ||
                received.compare(received.size() - Marker.size(), Marker.size(), Marker) != 0)
                fuzz::Fail("data sent after the dialogue did not reach the data handler");
        }
    }
    sock.reset();
    fuzz::PumpPending();
    return 0;
}
