// Server names to display text and back; see ftpnamecodec.h for the way
// bytes that are not valid text are kept.

#include "ftp/ftpnamecodec.h"
#include "ftp/ftpasciicase.h"

namespace {

// The private-use characters that stand for single bytes 0x80..0xFF.
constexpr char32_t EscapeBase = 0xEF00;
constexpr char32_t EscapeFirst = EscapeBase + 0x80;
constexpr char32_t EscapeLast = EscapeBase + 0xFF;

bool IsEscape(char32_t c) { return c >= EscapeFirst && c <= EscapeLast; }

using ftpascii::EqualsNoCase;
using ftpascii::Lower;

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Reads one UTF-8 sequence at `pos` strictly (shortest form, no surrogates,
// at most U+10FFFF). Returns its length, or 0 when the bytes there are not
// a valid sequence.
std::size_t DecodeUtf8(std::string_view text, std::size_t pos, char32_t& c)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(pos);
    if (lead < 0x80) {
        c = lead;
        return 1;
    }
    std::size_t length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() - pos < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned char next = byte(pos + i);
        if ((next & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    c = value;
    return length;
}

} // namespace

std::string_view ServerEncodingName(TFtpServerEncoding encoding)
{
    switch (encoding) {
    case TFtpServerEncoding::Utf8:
        return "UTF-8";
    case TFtpServerEncoding::Latin1:
        return "Latin-1";
    case TFtpServerEncoding::Auto:
        break;
    }
    return "Auto";
}

bool ServerEncodingFromName(std::string_view name, TFtpServerEncoding& encoding)
{
    if (EqualsNoCase(name, "Auto")) {
        encoding = TFtpServerEncoding::Auto;
        return true;
    }
    if (EqualsNoCase(name, "UTF-8") || EqualsNoCase(name, "UTF8")) {
        encoding = TFtpServerEncoding::Utf8;
        return true;
    }
    if (EqualsNoCase(name, "Latin-1") || EqualsNoCase(name, "Latin1") || EqualsNoCase(name, "ISO-8859-1")) {
        encoding = TFtpServerEncoding::Latin1;
        return true;
    }
    return false;
}

TFtpServerEncoding ResolveServerEncoding(TFtpServerEncoding chosen, bool /*serverOffersUtf8*/)
{
    // A server that does not offer UTF8 still sends UTF-8 names more often
    // than Latin-1 ones; reading them as UTF-8 with every other byte escaped
    // shows the first right and keeps the second intact.
    return chosen == TFtpServerEncoding::Latin1 ? TFtpServerEncoding::Latin1 : TFtpServerEncoding::Utf8;
}

bool IsValidUtf8(std::string_view text)
{
    std::size_t pos = 0;
    while (pos < text.size()) {
        char32_t c = 0;
        const std::size_t length = DecodeUtf8(text, pos, c);
        if (length == 0)
            return false;
        pos += length;
    }
    return true;
}

bool IsCommandSafe(std::string_view raw)
{
    return raw.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

TFtpNameCodec::TFtpNameCodec(TFtpServerEncoding encoding)
    : encoding_(encoding == TFtpServerEncoding::Latin1 ? TFtpServerEncoding::Latin1 : TFtpServerEncoding::Utf8)
{
}

std::string TFtpNameCodec::ToDisplay(std::string_view raw) const
{
    std::string display;
    display.reserve(raw.size() + raw.size() / 4);
    std::size_t pos = 0;
    while (pos < raw.size()) {
        const auto byte = static_cast<unsigned char>(raw[pos]);
        if (byte < 0x80) {
            display += static_cast<char>(byte);
            ++pos;
            continue;
        }
        if (encoding_ == TFtpServerEncoding::Latin1) {
            AppendUtf8(display, byte);
            ++pos;
            continue;
        }
        char32_t c = 0;
        const std::size_t length = DecodeUtf8(raw, pos, c);
        // A real escape character is escaped itself, byte by byte, so that
        // reading the display text back cannot mistake it for a lone byte.
        if (length == 0 || IsEscape(c)) {
            AppendUtf8(display, EscapeBase + byte);
            ++pos;
            continue;
        }
        display.append(raw.substr(pos, length));
        pos += length;
    }
    return display;
}

bool TFtpNameCodec::ToServer(std::string_view display, std::string& raw) const
{
    std::string result;
    result.reserve(display.size());
    std::size_t pos = 0;
    while (pos < display.size()) {
        char32_t c = 0;
        const std::size_t length = DecodeUtf8(display, pos, c);
        if (length == 0)
            return false;
        if (IsEscape(c)) {
            result += static_cast<char>(c - EscapeBase);
        } else if (encoding_ == TFtpServerEncoding::Latin1) {
            if (c > 0xFF)
                return false;
            result += static_cast<char>(c);
        } else {
            result.append(display.substr(pos, length));
        }
        pos += length;
    }
    raw = std::move(result);
    return true;
}

bool TFtpNameCodec::ToCommand(std::string_view display, std::string& raw, std::string& error) const
{
    if (!IsCommandSafe(display)) {
        error = "The name contains a line break or a NUL character, which cannot be sent to the server.";
        return false;
    }
    if (!ToServer(display, raw)) {
        error = IsValidUtf8(display) ? "The name contains characters that the server's encoding (" +
                                           std::string(ServerEncodingName(encoding_)) + ") cannot write."
                                     : "The name is not valid text.";
        return false;
    }
    if (!IsCommandSafe(raw)) {
        error = "The name contains a line break or a NUL character, which cannot be sent to the server.";
        return false;
    }
    return true;
}
