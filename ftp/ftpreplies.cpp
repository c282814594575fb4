// Reply assembly on the control connection and the results read from
// replies (SIZE, directory names).

#include "ftp/customftpcli.h"

#include <cstring>
#include <limits>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Every reply code a server may send has three digits from 1xx to 5xx.
bool IsReplyCode(std::int64_t number) { return number >= 100 && number <= 599; }

// What a line with any other number counts as: a failing reply, so that
// neither the match against the accepted codes nor a narrowing to 16 bits
// can ever turn it into a success (0 below 500, 65536 into 0).
constexpr int ProtocolErrorCode = 500;

} // namespace

std::int64_t TCustomFtpCli::ReadNumber(const std::string& text, std::size_t& pos)
{
    while (pos < text.size() && IsBlank(text[pos]))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    constexpr std::int64_t limit = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        const int digit = text[pos] - '0';
        // Saturate instead of overflowing on an absurd number.
        value = value > (limit - digit) / 10 ? limit : value * 10 + digit;
        ++pos;
    }
    return negative ? -value : value;
}

std::string TCustomFtpCli::ReadQuoted(const std::string& text, std::size_t& pos)
{
    std::string result;
    while (pos < text.size() && IsBlank(text[pos]))
        ++pos;
    if (pos >= text.size() || text[pos] != '"')
        return result;
    ++pos;
    while (pos < text.size()) {
        if (text[pos] == '"') {
            if (pos + 1 < text.size() && text[pos + 1] == '"') {
                result += '"';
                pos += 2;
                continue;
            }
            ++pos;
            return result;
        }
        result += text[pos++];
    }
    return result;
}

void TCustomFtpCli::ExtractMoreResults()
{
    if (FRequestResult != 0)
        return;
    std::size_t pos = 0;
    switch (FLastFct) {
    case ftpFctSize:
        ReadNumber(FLastResponse, pos);
        FSizeResult = ReadNumber(FLastResponse, pos);
        FSizeKnown = FSizeResult >= 0;
        break;
    case ftpFctCwd:
    case ftpFctMkd:
    case ftpFctPwd:
    case ftpFctCDup:
        ReadNumber(FLastResponse, pos);
        FDirResult = FromWire(ReadQuoted(FLastResponse, pos));
        break;
    default:
        break;
    }
}

bool TCustomFtpCli::EndsReply(std::int64_t& number)
{
    // RFC 959: "NNN-" opens a multi-line reply, and only a line that starts
    // with the same code followed by a space ends it; every line between,
    // whatever digits it starts with, belongs to the text.
    const std::string& line = FLastResponse;
    const auto isDigit = [&line](std::size_t i) { return i < line.size() && line[i] >= '0' && line[i] <= '9'; };
    if (FMultiLineCode != 0) {
        if (!isDigit(0) || !isDigit(1) || !isDigit(2) || (line.size() > 3 && line[3] != ' '))
            return false;
        const int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
        if (code != FMultiLineCode)
            return false;
        FMultiLineCode = 0;
        number = code;
        FStatusCode = code;
        return true;
    }
    if (!isDigit(0))
        return false;
    std::size_t pos = 0;
    number = ReadNumber(line, pos);
    FStatusCode = IsReplyCode(number) ? int(number) : ProtocolErrorCode;
    if (pos < line.size() && line[pos] == '-') {
        if (IsReplyCode(number))
            FMultiLineCode = int(number);
        return false;
    }
    return true;
}

void TCustomFtpCli::ReplyLineTooLong()
{
    FMultiLineCode = 0;
    FReplyLen = 0;
    FReplyBuffer[0] = 0;
    FLastResponse = "421 Reply line longer than " + std::to_string(ReplyBufferSize - 1) +
                    " bytes: protocol error, control connection closed";
    FStatusCode = 421;
    FErrorMessage = FLastResponse;
    FRequestResult = 421;
    TriggerDisplay("! " + FLastResponse);
    CloseControlLater(true);
}

void TCustomFtpCli::ControlSocketDataAvailable(std::uint16_t error)
{
    if (FDiscardReplies) {
        char discard[ReplyBufferSize];
        FControlSocket->Receive(discard, sizeof(discard));
        return;
    }
    const int room = ReplyBufferSize - FReplyLen - 1;
    if (room <= 0) {
        ReplyLineTooLong();
        return;
    }
    const int len = FControlSocket->Receive(FReplyBuffer.data() + FReplyLen, room);
    if (len == 0) {
        CloseControlLater(false);
        return;
    }
    if (len < 0)
        return;
    FReplyLen += len;
    FReplyBuffer[std::size_t(FReplyLen)] = 0;

    while (FReplyLen > 0) {
        char* const buf = FReplyBuffer.data();
        int lineLen = -1;
        int consumed = 0;
        if (FOptions.Contains(ftpAcceptLF)) {
            const void* lf = std::memchr(buf, '\n', std::size_t(FReplyLen));
            if (lf) {
                lineLen = int(static_cast<const char*>(lf) - buf);
                consumed = lineLen + 1;
            }
        } else {
            for (int i = 0; i + 1 < FReplyLen; ++i) {
                if (buf[i] == '\r' && buf[i + 1] == '\n') {
                    lineLen = i;
                    consumed = i + 2;
                    break;
                }
            }
        }
        if (lineLen < 0) {
            // A line that fills the whole buffer can never be completed.
            if (FReplyLen >= ReplyBufferSize - 1)
                ReplyLineTooLong();
            return;
        }

        FLastResponse.assign(buf, std::size_t(lineLen));
        while (!FLastResponse.empty() && (FLastResponse.back() == '\r' || FLastResponse.back() == '\n'))
            FLastResponse.pop_back();
        if (OnResponse)
            OnResponse(this);
        if (FCollectReply)
            FCollectedReply.append(FLastResponse).append(1, '\n');

        FReplyLen -= consumed;
        if (FReplyLen < 0)
            FReplyLen = 0;
        std::memmove(buf, buf + consumed, std::size_t(FReplyLen) + 1);

        switch (FState) {
        case ftpWaitingBanner: {
            DisplayLastResponse();
            std::int64_t number = 0;
            if (!EndsReply(number))
                break;
            if (!IsReplyCode(number)) {
                // Whatever this peer is, it does not speak FTP: the
                // connection is dropped and the open request fails.
                FStatusCode = 421;
                TriggerDisplay("! Greeting without a valid reply code: protocol error, control connection closed");
            }
            // "120 Service ready in nnn minutes": the greeting follows.
            if (FStatusCode >= 100 && FStatusCode <= 199)
                break;
            if (FStatusCode == 220) {
                StateChange(ftpConnected);
                if (OnSessionConnected)
                    OnSessionConnected(this, error);
                TriggerRequestDone(0);
                break;
            }
            SetErrorMessage();
            FRequestResult = FStatusCode;
            CloseControlLater(true);
            return;
        }
        case ftpWaitingResponse: {
            std::int64_t number = 0;
            if (!EndsReply(number))
                break;
            if (!FNext) {
                HandleError("Program error: FNext is nil");
                break;
            }
            (this->*FNext)();
            if (!IsReplyCode(number))
                TriggerDisplay("! Reply without a valid reply code: protocol error");
            break;
        }
        default:
            DisplayLastResponse();
            break;
        }
    }
}
