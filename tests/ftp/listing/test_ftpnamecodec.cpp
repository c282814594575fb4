// The server-name codec: names shown as UTF-8 and written back to the
// exact bytes the server sent, whatever those bytes are.

#include "ftp/ftpnamecodec.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

std::string RoundTrip(const TFtpNameCodec& codec, const std::string& raw)
{
    std::string back;
    EXPECT_TRUE(codec.ToServer(codec.ToDisplay(raw), back));
    return back;
}

} // namespace

TEST(FtpNameCodec, ValidNamesShowAsTheirText)
{
    const TFtpNameCodec utf8(TFtpServerEncoding::Utf8);
    const TFtpNameCodec latin1(TFtpServerEncoding::Latin1);
    EXPECT_EQ(utf8.ToDisplay("M\xc3\xbcller \xc3\x9c"
                             "bersicht.txt"),
              "M\xc3\xbcller \xc3\x9c"
              "bersicht.txt");
    EXPECT_EQ(utf8.ToDisplay("\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.txt"), "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e.txt");
    EXPECT_EQ(utf8.ToDisplay("\xf0\x9f\x98\x80"), "\xf0\x9f\x98\x80"); // beyond the BMP
    EXPECT_EQ(latin1.ToDisplay("M\xfcller"), "M\xc3\xbcller");
    EXPECT_EQ(latin1.ToDisplay("caf\xe9 \xff"), "caf\xc3\xa9 \xc3\xbf");

    std::string raw;
    ASSERT_TRUE(latin1.ToServer("M\xc3\xbcller", raw));
    EXPECT_EQ(raw, "M\xfcller");
    ASSERT_TRUE(utf8.ToServer("M\xc3\xbcller", raw));
    EXPECT_EQ(raw, "M\xc3\xbcller");
}

TEST(FtpNameCodec, InvalidBytesShowAsReservedCharactersAndComeBack)
{
    const TFtpNameCodec utf8(TFtpServerEncoding::Utf8);
    // A Latin-1 name on a UTF-8 connection: 0xFC becomes U+EFFC.
    const std::string display = utf8.ToDisplay("M\xfcller");
    EXPECT_EQ(display, "M\xee\xbf\xbcller");
    EXPECT_TRUE(IsValidUtf8(display));
    std::string raw;
    ASSERT_TRUE(utf8.ToServer(display, raw));
    EXPECT_EQ(raw, "M\xfcller");

    // Broken sequences of every kind: truncated, overlong, a surrogate,
    // beyond U+10FFFF, a lone continuation byte, bytes never used.
    for (const std::string bad : {"\xc3", "a\xe6\x97", "\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80",
                                  "\x80", "\xfe\xff", "\xf8\x88\x80\x80\x80"}) {
        const std::string shown = utf8.ToDisplay(bad);
        EXPECT_TRUE(IsValidUtf8(shown));
        EXPECT_EQ(RoundTrip(utf8, bad), bad);
    }

    // A name that really contains a reserved character is escaped byte by
    // byte, so that it does not read back as a single byte.
    const std::string reserved = "x\xee\xbe\x80y"; // U+EF80
    EXPECT_NE(utf8.ToDisplay(reserved), reserved);
    EXPECT_EQ(RoundTrip(utf8, reserved), reserved);
    EXPECT_NE(utf8.ToDisplay(reserved), utf8.ToDisplay("x\x80y"));
}

TEST(FtpNameCodec, EveryShortByteStringSurvivesBothEncodings)
{
    for (const TFtpServerEncoding encoding : {TFtpServerEncoding::Utf8, TFtpServerEncoding::Latin1}) {
        const TFtpNameCodec codec(encoding);
        for (int a = 0; a < 256; ++a) {
            for (int b = 0; b < 256; ++b) {
                const std::string raw{static_cast<char>(a), static_cast<char>(b)};
                const std::string display = codec.ToDisplay(raw);
                ASSERT_TRUE(IsValidUtf8(display)) << a << " " << b;
                ASSERT_EQ(RoundTrip(codec, raw), raw) << a << " " << b;
            }
        }
        // Longer strings from bytes that make up many partial sequences.
        std::mt19937 random(1234);
        const unsigned char alphabet[] = {'a',  0x80, 0xbf, 0xc2, 0xc3, 0xe0, 0xed, 0xee,
                                          0xef, 0xbe, 0xf0, 0xf4, 0x90, 0x9f, 0xff, 0x00};
        for (int round = 0; round < 20000; ++round) {
            std::string raw;
            const int length = 3 + static_cast<int>(random() % 10);
            for (int i = 0; i < length; ++i)
                raw += static_cast<char>(alphabet[random() % sizeof alphabet]);
            ASSERT_EQ(RoundTrip(codec, raw), raw);
        }
    }
}

TEST(FtpNameCodec, TextTheEncodingCannotWriteIsRefused)
{
    const TFtpNameCodec latin1(TFtpServerEncoding::Latin1);
    std::string raw = "unchanged";
    EXPECT_FALSE(latin1.ToServer("\xe6\x97\xa5\xe6\x9c\xac.txt", raw));
    EXPECT_EQ(raw, "unchanged");
    std::string error;
    EXPECT_FALSE(latin1.ToCommand("\xe6\x97\xa5.txt", raw, error));
    EXPECT_NE(error.find("Latin-1"), std::string::npos);
    // Display text that is not UTF-8 at all is not guessed at.
    const TFtpNameCodec utf8(TFtpServerEncoding::Utf8);
    EXPECT_FALSE(utf8.ToServer("bad\xff", raw));
    EXPECT_FALSE(utf8.ToCommand("bad\xff", raw, error));
    EXPECT_FALSE(error.empty());
}

TEST(FtpNameCodec, CommandsRefuseLineBreaksAndNul)
{
    for (const TFtpServerEncoding encoding : {TFtpServerEncoding::Utf8, TFtpServerEncoding::Latin1}) {
        const TFtpNameCodec codec(encoding);
        for (const std::string& name :
             {std::string("a\rb"), std::string("a\nDELE x"), std::string("a\0b", 3), std::string("end\r\n")}) {
            std::string raw = "unchanged";
            std::string error;
            EXPECT_FALSE(codec.ToCommand(name, raw, error));
            EXPECT_FALSE(error.empty());
            EXPECT_FALSE(IsCommandSafe(name));
        }
        std::string raw;
        std::string error;
        EXPECT_TRUE(codec.ToCommand("with space -dash;semi", raw, error)) << error;
        EXPECT_EQ(raw, "with space -dash;semi");
    }
    EXPECT_TRUE(IsCommandSafe("M\xfcller"));
}

TEST(FtpNameCodec, EncodingNamesAndAuto)
{
    for (const TFtpServerEncoding encoding :
         {TFtpServerEncoding::Auto, TFtpServerEncoding::Utf8, TFtpServerEncoding::Latin1}) {
        TFtpServerEncoding back = TFtpServerEncoding::Auto;
        ASSERT_TRUE(ServerEncodingFromName(ServerEncodingName(encoding), back));
        EXPECT_EQ(back, encoding);
    }
    EXPECT_EQ(ServerEncodingName(TFtpServerEncoding::Latin1), "Latin-1");
    TFtpServerEncoding parsed = TFtpServerEncoding::Auto;
    EXPECT_TRUE(ServerEncodingFromName("iso-8859-1", parsed));
    EXPECT_EQ(parsed, TFtpServerEncoding::Latin1);
    EXPECT_FALSE(ServerEncodingFromName("EBCDIC", parsed));

    EXPECT_EQ(ResolveServerEncoding(TFtpServerEncoding::Auto, true), TFtpServerEncoding::Utf8);
    // Without UTF8 in FEAT, Auto still reads UTF-8 (odd bytes escaped);
    // only a chosen Latin-1 reads Latin-1.
    EXPECT_EQ(ResolveServerEncoding(TFtpServerEncoding::Auto, false), TFtpServerEncoding::Utf8);
    EXPECT_EQ(ResolveServerEncoding(TFtpServerEncoding::Latin1, true), TFtpServerEncoding::Latin1);
    EXPECT_EQ(ResolveServerEncoding(TFtpServerEncoding::Latin1, false), TFtpServerEncoding::Latin1);
    EXPECT_EQ(ResolveServerEncoding(TFtpServerEncoding::Utf8, false), TFtpServerEncoding::Utf8);
    EXPECT_EQ(TFtpNameCodec(TFtpServerEncoding::Auto).Encoding(), TFtpServerEncoding::Utf8);
}
