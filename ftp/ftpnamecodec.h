#pragma once

// File names between the server's bytes and the UTF-8 the program shows.
//
// Servers send names as bytes: UTF-8 on servers that offer it (RFC 2640),
// often Latin-1 on older ones, and now and then bytes that are valid in
// neither. A name must survive the trip to the screen and back unchanged,
// or a file with an odd name could be listed but never downloaded, renamed
// or deleted.
//
// How bytes that are not valid in the chosen encoding are shown: each such
// byte 0x80..0xFF becomes the private-use character U+EF00 + byte
// (U+EF80..U+EFFF), and only those characters turn back into single bytes.
// A name that really contains one of these characters, correctly encoded, has
// its bytes escaped the same way, so the display text of every byte string
// is different and the mapping back is exact. A display text is a plain
// UTF-8 string, so it can be copied, sorted, compared and passed through
// QString without losing anything; keeping the raw bytes beside every
// display text would have to be carried through every layer instead. The
// price: the odd bytes show as private-use characters (a box in most fonts),
// which tells the user the name is not valid text.

#include <cstdint>
#include <string>
#include <string_view>

// The "Server encoding" of a profile. The numeric values are stored.
enum class TFtpServerEncoding : std::uint8_t {
    // UTF-8, whether or not the server offers UTF8 in FEAT: servers that
    // do not say so mostly hold UTF-8 names anyway (a Linux file system),
    // and a byte that is not UTF-8 keeps its escape, so an old Latin-1 name
    // still goes back unchanged. Only the choice of "Latin-1" reads them as
    // Latin-1 characters.
    Auto = 0,
    Utf8 = 1,
    Latin1 = 2,
};

// "Auto", "UTF-8", "Latin-1".
std::string_view ServerEncodingName(TFtpServerEncoding encoding);
// The reverse of ServerEncodingName (no regard to case; also "utf8",
// "latin1", "iso-8859-1"); false for any other text.
bool ServerEncodingFromName(std::string_view name, TFtpServerEncoding& encoding);
// The encoding to use on a connection. Auto is UTF-8 with or without
// UTF8 in FEAT (FEAT only decides whether OPTS UTF8 ON is sent).
TFtpServerEncoding ResolveServerEncoding(TFtpServerEncoding chosen, bool serverOffersUtf8);

// True when `text` is valid UTF-8 (shortest forms, no surrogates, at most
// U+10FFFF).
bool IsValidUtf8(std::string_view text);

// True when a name can go into a command line: no CR, LF or NUL, which
// would end the command early or smuggle in a second one.
bool IsCommandSafe(std::string_view raw);

class TFtpNameCodec {
public:
    // Auto is read as UTF-8 until the connection has resolved it.
    explicit TFtpNameCodec(TFtpServerEncoding encoding = TFtpServerEncoding::Utf8);

    TFtpServerEncoding Encoding() const { return encoding_; }

    // The server's bytes as UTF-8 for display; never fails.
    std::string ToDisplay(std::string_view raw) const;

    // A display text (UTF-8) as the server's bytes. False when the text is
    // not valid UTF-8 or holds a character the encoding cannot write
    // (anything above U+00FF for Latin-1).
    bool ToServer(std::string_view display, std::string& raw) const;

    // As ToServer, for a name going into a command: also refuses CR, LF and
    // NUL. On failure `error` says why, in words for the user.
    bool ToCommand(std::string_view display, std::string& raw, std::string& error) const;

private:
    TFtpServerEncoding encoding_;
};
