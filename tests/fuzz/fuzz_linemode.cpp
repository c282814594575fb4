// Line mode with line editing, fed through a real connection: a loopback
// peer writes the input in chunks to a TWSocket in line mode and closes.
//
// Input: four option bytes, then the bytes the peer sends.
//   0: bit 0 line editing, bit 1 echo, bits 2-3 line end, bits 4-5 reader,
//      bit 6 reset instead of close
//   1: chunk size (1..256)
//   2: bytes per Receive for the piecewise reader (1..256); after line
//      mode is turned off an odd count reads with ReceiveStr instead
//   3: the data event at which the handler turns line mode off (0 never)

#include "fuzzsupport.h"
#include "loopbackpeer.h"
#include "net/wsocket.h"

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int StepTimeoutMs = 5000;

enum class TReader {
    WholeLine,
    Pieces,
    Stalling,
    PiecesToggle
};

// Sees the line layer's held bytes, which no public call shows.
class TProbeSocket : public TWSocket {
public:
    std::int64_t HeldBytes() const { return FLineBufferCount; }
    std::int64_t SocketPending() { return TCustomWSocket::GetRcvdCount(); }
};

fuzz::TLoopbackListener& Listener()
{
    static auto* listener = new fuzz::TLoopbackListener();
    return *listener;
}

const char* LineEndFor(std::uint8_t bits)
{
    switch (bits & 3) {
    case 0:
        return "\r\n";
    case 1:
        return "\n";
    case 2:
        return "\r";
    default:
        return "EOL";
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
    const std::size_t chunk = std::size_t(in.Byte()) + 1;
    const int pieceSize = int(in.Byte()) + 1;
    const int toggleAt = in.Byte();
    const std::string payload(in.Rest());

    const bool edit = (flags & 1) != 0;
    const bool echo = (flags & 2) != 0;
    const std::string lineEnd = LineEndFor(std::uint8_t(flags >> 2));
    const TReader reader = TReader((flags >> 4) & 3);
    const bool reset = (flags & 0x40) != 0;

    auto sock = std::make_unique<TProbeSocket>();
    std::vector<std::string> lines; // what line mode delivered, one per read
    std::string received;           // everything the handler read
    int calls = 0;
    int closedCount = 0;
    bool lineModeWasTurnedOff = false;

    sock->SetLineEnd(lineEnd);
    sock->SetLineEdit(edit);
    sock->SetLineEcho(echo);
    sock->SetLineMode(true);
    sock->OnSessionClosed = [&](TCustomWSocket*, std::uint16_t) { ++closedCount; };
    sock->OnDataAvailable = [&](TCustomWSocket* s, std::uint16_t) {
        ++calls;
        auto* p = static_cast<TProbeSocket*>(s);
        if (reader == TReader::PiecesToggle && calls == toggleAt && p->LineMode()) {
            p->SetLineMode(false);
            lineModeWasTurnedOff = true;
        }
        if (!p->LineMode()) {
            // Raw mode: what a receive would return now must be told.
            if (p->HeldBytes() > 0 && p->RcvdCount() <= 0 && !fuzz::Suppressed("rawcount"))
                fuzz::Fail("RcvdCount is 0 while the line layer holds bytes for a receive");
            if (pieceSize % 2 == 1) {
                received += p->ReceiveStr();
                return;
            }
            char buf[256];
            const int n = p->Receive(buf, pieceSize);
            if (n > 0)
                received.append(buf, std::size_t(n));
            return;
        }
        if (reader == TReader::Stalling && calls % 2 == 0)
            return;
        if (reader == TReader::WholeLine || reader == TReader::Stalling) {
            const std::string line = p->ReceiveStr();
            if (!line.empty())
                lines.push_back(line);
            received += line;
            return;
        }
        char buf[256];
        const int n = p->Receive(buf, pieceSize);
        if (n > 0)
            received.append(buf, std::size_t(n));
    };
    sock->SetAddr("127.0.0.1");
    sock->SetPort(Listener().PortText());
    try {
        sock->Connect();
    } catch (const std::exception& e) {
        fuzz::Fail(std::string("connect to the loopback peer failed: ") + e.what());
    }
    fuzz::TPeerConnection conn = Listener().Accept(StepTimeoutMs);
    if (!conn.IsOpen())
        fuzz::Fail("the loopback peer saw no connection");
    if (!fuzz::PumpUntil([&] { return sock->State() == wsConnected; }, StepTimeoutMs))
        fuzz::Fail("the socket did not report the connection");

    std::string echoed;
    for (std::size_t at = 0; at < payload.size(); at += chunk) {
        if (!conn.Write(std::string_view(payload).substr(at, chunk), StepTimeoutMs))
            fuzz::Fail("the peer could not write");
        // The socket must take every byte off the connection.
        if (!fuzz::PumpUntil(
                [&] {
                    conn.ReadAvailable(echoed);
                    return sock->SocketPending() == 0;
                },
                StepTimeoutMs))
            fuzz::Fail("received bytes stay unread in the socket");
    }
    if (reset)
        conn.Reset();
    else
        conn.ShutdownWrite();
    if (!fuzz::PumpUntil(
            [&] {
                conn.ReadAvailable(echoed);
                return closedCount > 0;
            },
            StepTimeoutMs))
        fuzz::Fail("the socket never reported the closed connection");
    fuzz::PumpPending();
    if (closedCount != 1)
        fuzz::Fail("OnSessionClosed fired " + std::to_string(closedCount) + " times");

    if (edit && !lineModeWasTurnedOff) {
        // Editing belongs to line mode: raw bytes pass as they came.
        if (received.find('\b') != std::string::npos || received.find('\t') != std::string::npos)
            fuzz::Fail("line editing let a backspace or tab through");
    } else if (!edit /* bytes read in line mode before it went off were edited */ && reader != TReader::Stalling &&
               !reset && received != payload &&
               !(lineModeWasTurnedOff && pieceSize % 2 == 1 && fuzz::Suppressed("rawcount")) &&
               !(lineModeWasTurnedOff && fuzz::Suppressed("closeraw"))) {
        fuzz::Fail("the handler did not get the bytes sent (" + std::to_string(received.size()) + " of " +
                   std::to_string(payload.size()) + ")");
    }
    if (reader == TReader::WholeLine && !lineModeWasTurnedOff) {
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string& line = lines[i];
            const std::size_t first = line.find(lineEnd);
            const bool terminated = line.size() >= lineEnd.size() && first == line.size() - lineEnd.size();
            if (first != std::string::npos && !terminated)
                fuzz::Fail("a delivered line holds a line end before its end");
            if (!terminated && i + 1 != lines.size())
                fuzz::Fail("an unterminated line was delivered before the last one");
        }
    }
    sock.reset();
    fuzz::PumpPending();
    return 0;
}
