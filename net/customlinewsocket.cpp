#include "net/customlinewsocket.h"

#include <algorithm>
#include <cstring>

void TCustomLineWSocket::SetLineMode(bool Value)
{
    if (Value == FLineMode)
        return;
    FLineMode = Value;
    // Bytes held from the other mode are handed out again in the new one.
    if (FLineBufferCount > 0 || FLineLength > 0)
        PostMessage(MessageWindow(), WM_TRIGGER_DATAAVAILABLE, 0, 0);
}

std::int64_t TCustomLineWSocket::GetRcvdCount()
{
    // The count must tell what a receive returns now (see DoRecv), or a
    // reader that sizes its read by it (ReceiveStr) gets nothing while bytes
    // wait, or is called again and again for them.
    if (FLineMode) {
        // Without a line end the layer passes data through unchanged.
        if (FLineLength > 0 || !FLineEnd.empty())
            return FLineLength;
        return TCustomSslWSocket::GetRcvdCount();
    }
    if (FLineBufferCount > 0)
        return FLineBufferCount;
    return TCustomSslWSocket::GetRcvdCount();
}

void TCustomLineWSocket::WndProc(TMessage& MsgRec)
{
    if (MsgRec.Msg != WM_TRIGGER_DATAAVAILABLE) {
        TCustomSslWSocket::WndProc(MsgRec);
        return;
    }
    const TAliveToken alive = AliveToken();
    try {
        WMTriggerDataAvailable(MsgRec);
    } catch (const std::exception& E) {
        if (*alive)
            HandleBackGroundException(E);
    }
}

void TCustomLineWSocket::WMTriggerDataAvailable(TMessage&)
{
    const TAliveToken alive = AliveToken();
    while (FLineBufferCount > 0) {
        const std::int64_t before = FLineBufferCount;
        if (FLineMode && !FLineEnd.empty()) {
            if (DeliverHeld() == TOffer::Gone)
                return;
        } else {
            TriggerDataAvailable(0);
            if (!*alive)
                return;
        }
        // Nothing delivered: the rest waits for new data or a reader.
        if (FLineBufferCount == before)
            break;
    }
}

void TCustomLineWSocket::ReserveLineBuffer(std::int64_t Size)
{
    if (std::int64_t(FLineBuffer.size()) < Size)
        FLineBuffer.resize(std::size_t(Size));
}

void TCustomLineWSocket::ConsumeFront(std::int64_t Count)
{
    char* buf = FLineBuffer.data();
    const std::int64_t rest = FLineBufferCount - Count;
    if (rest > 0)
        std::memmove(buf, buf + Count, std::size_t(rest));
    FLineBufferCount = std::max<std::int64_t>(0, rest);
    buf[FLineBufferCount] = '\0';
}

int TCustomLineWSocket::DoRecv(void* Buffer, int BufferSize, int Flags)
{
    std::int64_t available = 0;
    if (FLineMode && FLineLength > 0)
        available = FLineLength;
    else if (!FLineMode && FLineBufferCount > 0)
        available = FLineBufferCount;
    else
        return TCustomSslWSocket::DoRecv(Buffer, BufferSize, Flags);

    if (BufferSize <= 0)
        return 0;
    const std::int64_t count = std::min<std::int64_t>(available, BufferSize);
    std::memcpy(Buffer, FLineBuffer.data(), std::size_t(count));
    if (Flags & MSG_PEEK)
        return int(count);
    // The held bytes stay contiguous: the rest of the line, then whatever
    // followed it.
    ConsumeFront(count);
    // A plain read may take the rest of a line that line mode left at the
    // front; what stays of that line must shrink with it, or switching line
    // mode on again would hand out bytes already read.
    FLineLength = std::max<std::int64_t>(0, FLineLength - count);
    return int(count);
}

TCustomLineWSocket::TOffer TCustomLineWSocket::OfferCurrentLine()
{
    const TAliveToken alive = AliveToken();
    while (FLineMode && FLineLength > 0) {
        const std::int64_t before = FLineLength;
        const bool consumed = TCustomSslWSocket::TriggerDataAvailable(0);
        if (!*alive)
            return TOffer::Gone;
        if (!consumed) {
            // Nobody listens: the line is dropped.
            ConsumeFront(std::min(FLineLength, FLineBufferCount));
            FLineLength = 0;
            break;
        }
        if (FLineMode && FLineLength == before)
            return TOffer::Stalled; // offering it again at once would spin
    }
    return TOffer::Done;
}

TCustomLineWSocket::TOffer TCustomLineWSocket::DeliverLines(std::int64_t SearchFrom)
{
    const std::int64_t endLen = std::int64_t(FLineEnd.size());
    while (FLineMode && !FLineEnd.empty()) {
        const char* buf = FLineBuffer.data();
        std::int64_t found = -1;
        for (std::int64_t i = std::max<std::int64_t>(0, SearchFrom); i <= FLineBufferCount - endLen; ++i) {
            if (buf[i] == FLineEnd[0] && std::memcmp(buf + i, FLineEnd.data(), std::size_t(endLen)) == 0) {
                found = i;
                break;
            }
        }
        if (found < 0)
            return TOffer::Done;
        FLineLength = found + endLen;
        FLineReceived = true;
        const TOffer offer = OfferCurrentLine();
        if (offer != TOffer::Done)
            return offer;
        SearchFrom = 0;
    }
    return TOffer::Done;
}

TCustomLineWSocket::TOffer TCustomLineWSocket::DeliverHeld()
{
    if (FLineLength > 0) {
        const TOffer offer = OfferCurrentLine();
        if (offer != TOffer::Done)
            return offer;
    }
    if (FLineBuffer.empty())
        return TOffer::Done;
    return DeliverLines(0);
}

bool TCustomLineWSocket::TriggerDataAvailable(std::uint16_t Error)
{
    if (!FLineMode || FLineEnd.empty())
        return TCustomSslWSocket::TriggerDataAvailable(Error);

    const TAliveToken alive = AliveToken();
    // A line the handler left unread last time comes first.
    if (FLineLength > 0 && DeliverHeld() != TOffer::Done)
        return true;

    const std::int64_t waiting = TCustomSslWSocket::GetRcvdCount();
    if (waiting <= 0)
        return true;
    ReserveLineBuffer(FLineBufferCount + waiting + 1);
    // Read past the line layer (it would serve held bytes); the bytes are
    // counted in ReadCount when the handler receives them.
    const int got = TCustomSslWSocket::DoRecv(FLineBuffer.data() + FLineBufferCount,
                                              int(std::min<std::int64_t>(waiting, 0x7FFFFFFF)), 0);
    if (got <= 0) {
        if (got < 0)
            FLastError = WSocket_WSAGetLastError();
        return true;
    }
    FLineBuffer[std::size_t(FLineBufferCount + got)] = '\0';
    std::int64_t len = got;
    if (FLineEdit) {
        EditLine(len);
        if (!*alive)
            return true;
    } else if (FLineEcho) {
        Send(FLineBuffer.data() + FLineBufferCount, got);
        if (!*alive)
            return true;
    }
    const std::int64_t searchFrom = std::max<std::int64_t>(0, FLineBufferCount - std::int64_t(FLineEnd.size()));
    FLineBufferCount += len;
    DeliverLines(searchFrom);
    return true;
}

void TCustomLineWSocket::EditLine(std::int64_t& Len)
{
    const std::int64_t start = FLineBufferCount;
    std::int64_t J = start;
    std::int64_t M = start;
    bool editing = false;
    std::string out;  // the edited text from position 0, once editing began
    std::string echo; // everything sent back, in order
    auto beginEditing = [&] {
        if (editing)
            return;
        editing = true;
        // First size: one 256-byte step above what may be needed.
        out.reserve(std::size_t((start + Len + 256) & ~std::int64_t(0xFF)));
        out.assign(FLineBuffer.data(), std::size_t(J));
    };
    for (std::int64_t k = 0; k < Len; ++k) {
        const char c = FLineBuffer[std::size_t(start + k)];
        if (c == '\b') {
            beginEditing();
            if (FLineEcho && J > 0)
                echo.append("\b \b");
            if (J > 0) {
                --J;
                out.resize(std::size_t(J));
                M = std::min(M, J);
            }
        } else if (c == '\t') {
            beginEditing();
            while (J % 8 != 0) {
                out.push_back(' ');
                ++J;
                if (FLineEcho)
                    echo.push_back(' ');
            }
        } else {
            if (FLineEcho)
                echo.push_back(c);
            if (editing)
                out.push_back(c);
            ++J;
        }
    }
    if (!echo.empty())
        Send(echo.data(), int(echo.size()));
    if (!editing)
        return;
    ReserveLineBuffer(J + 1);
    std::memcpy(FLineBuffer.data(), out.data(), std::size_t(J));
    FLineBuffer[std::size_t(J)] = '\0';
    FLineBufferCount = M;
    Len = J - M;
}

TCustomLineWSocket::TOffer TCustomLineWSocket::DeliverAtClose()
{
    const TAliveToken alive = AliveToken();
    // A handler may switch the mode once without reading; two rounds in a
    // row that take nothing end the delivery, so a handler that only
    // toggles cannot keep it going.
    bool idleRound = false;
    while (FLineBufferCount > 0) {
        const std::int64_t before = FLineBufferCount;
        const bool lineModeBefore = FLineMode;
        if (FLineMode && !FLineEnd.empty()) {
            const TOffer offer = DeliverHeld();
            if (offer == TOffer::Gone)
                return offer;
            if (offer == TOffer::Done && FLineMode && FLineBufferCount > 0) {
                // The unterminated last line is still a line.
                FLineLength = FLineBufferCount;
                if (OfferCurrentLine() == TOffer::Gone)
                    return TOffer::Gone;
            }
        } else {
            // Nobody listening leaves the bytes, which ends the loop below.
            TCustomSslWSocket::TriggerDataAvailable(0);
            if (!*alive)
                return TOffer::Gone;
        }
        if (FLineBufferCount < before) {
            idleRound = false;
            continue;
        }
        if (FLineMode == lineModeBefore || idleRound)
            return TOffer::Stalled;
        idleRound = true;
    }
    return TOffer::Done;
}

void TCustomLineWSocket::TriggerSessionClosed(std::uint16_t Error)
{
    const TAliveToken alive = AliveToken();
    FLineReceived = true;
    if (!FLineBuffer.empty()) {
        // Whatever is held goes out before the close is reported, in the
        // mode the handler has on at each moment: as lines, or as plain
        // data when line mode went off (possibly during this very offer, or
        // before a posted redelivery that will now come too late).
        if (DeliverAtClose() == TOffer::Gone)
            return;
        FLineBuffer.clear();
        FLineBuffer.shrink_to_fit();
        FLineBufferCount = 0;
        FLineLength = 0;
    }
    TCustomSslWSocket::TriggerSessionClosed(Error);
}
