// URL splitting, the line encodings, the date text and Posn.

#include "http/httpuri.h"
#include "http/httpurl.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Parts {
    std::string proto, user, pass, host, port, path;
};

Parts Split(const std::string& url)
{
    Parts p{"x", "x", "x", "x", "x", "x"};
    ParseURL(url, p.proto, p.user, p.pass, p.host, p.port, p.path);
    return p;
}

void ExpectParts(const std::string& url, const Parts& want)
{
    SCOPED_TRACE(url);
    const Parts got = Split(url);
    EXPECT_EQ(got.proto, want.proto);
    EXPECT_EQ(got.user, want.user);
    EXPECT_EQ(got.pass, want.pass);
    EXPECT_EQ(got.host, want.host);
    EXPECT_EQ(got.port, want.port);
    EXPECT_EQ(got.path, want.path);
}

TEST(HttpParseURL, SplitsUserPasswordHostPortAndPath)
{
    ExpectParts("http://u:p@h.example:81/dir/file.txt?x=1", {"http", "u", "p", "h.example", "81", "/dir/file.txt?x=1"});
    ExpectParts("ftp://u:p@h.example/x", {"ftp", "u", "p", "h.example", "", "/x"});
    ExpectParts("http://u@h.example:8080", {"http", "u", "", "h.example", "8080", ""});
    ExpectParts("http://u@h.example", {"http", "u", "", "h.example", "", ""});
    ExpectParts("http://h.example:81/a", {"http", "", "", "h.example", "81", "/a"});
    ExpectParts("http://h.example/a/b/", {"http", "", "", "h.example", "", "/a/b/"});
    ExpectParts("http://h.example", {"http", "", "", "h.example", "", ""});
}

TEST(HttpParseURL, HandlesUrlsWithoutSchemeSeparator)
{
    // Everything is cleared, also for an empty URL.
    ExpectParts("", {"", "", "", "", "", ""});
    // A bare host, with and without port.
    ExpectParts("proxy.example", {"", "", "", "proxy.example", "", ""});
    ExpectParts("127.0.0.1:3128", {"", "", "", "127.0.0.1", "3128", ""});
    // A path only.
    ExpectParts("/only/path", {"http", "", "", "", "", "/only/path"});
    // "http:" without "//": the rest is the path.
    ExpectParts("HTTP:/x/y", {"http", "", "", "", "", "/x/y"});
    ExpectParts("mailto:someone@mail.example", {"mailto", "someone", "", "mail.example", "", ""});
    // A password holding a colon is split at the first colon of the user part.
    ExpectParts("http://u:p:q@h/", {"http", "u", "p:q", "h", "", "/"});
}

TEST(HttpEncode, Base64AndMimeArePaddedStandardBase64)
{
    EXPECT_EQ(EncodeStr(encBase64, "alice:s3cret"), "YWxpY2U6czNjcmV0");
    EXPECT_EQ(EncodeStr(encBase64, "Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    EXPECT_EQ(EncodeStr(encMime, "Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    EXPECT_EQ(EncodeStr(encBase64, "a"), "YQ==");
    EXPECT_EQ(EncodeStr(encBase64, "ab"), "YWI=");
    EXPECT_EQ(EncodeStr(encBase64, ""), "");
    const char binary[] = {'\xff', '\xfe', '\0', '\x10'};
    EXPECT_EQ(EncodeLine(encBase64, binary, 4), "//4AEA==");
}

TEST(HttpEncode, UUEncodeGivesOneLineWithLengthCharacter)
{
    EXPECT_EQ(EncodeStr(encUUEncode, "Cat"), "#0V%T");
    // Zero groups become the grave accent, and the last group is padded.
    EXPECT_EQ(EncodeStr(encUUEncode, "hello world"), "+:&5L;&\\@=V]R;&0`");
    EXPECT_EQ(EncodeLine(encUUEncode, "\0\0\0", 3), "#````");
}

TEST(HttpRFC1123Date, FormatsKnownDates)
{
    const double t0849 = (8 * 3600 + 49 * 60 + 37) / 86400.0;
    EXPECT_EQ(RFC1123_Date(34644 + t0849), "Sun, 06 Nov 1994 08:49:37");
    EXPECT_EQ(RFC1123_Date(36526), "Sat, 01 Jan 2000 00:00:00");
    EXPECT_EQ(RFC1123_Date(36585 + 0.5), "Tue, 29 Feb 2000 12:00:00");
    EXPECT_EQ(RFC1123_Date(61), "Thu, 01 Mar 1900 00:00:00");
    EXPECT_EQ(RFC1123_Date(50424 + (3 * 3600 + 14 * 60 + 7) / 86400.0), "Tue, 19 Jan 2038 03:14:07");
    // A hair before midnight rounds into the next day, never to 24:00:00.
    EXPECT_EQ(RFC1123_Date(46386 + (86400 - 0.0001) / 86400.0), "Thu, 31 Dec 2026 00:00:00");
}

TEST(HttpPosn, FindsLastAndCountedOccurrences)
{
    EXPECT_EQ(Posn("/", "/dir/sub/file", -1), 9);
    EXPECT_EQ(Posn("/", "file", -1), 0);
    EXPECT_EQ(Posn("ab", "xabyab", -1), 5);
    EXPECT_EQ(Posn("ab", "xabyab", 1), 2);
    EXPECT_EQ(Posn("ab", "xabyab", 2), 5);
    EXPECT_EQ(Posn("ab", "xabyab", 3), 0);
    EXPECT_EQ(Posn("ab", "xabyab", -2), 2);
    EXPECT_EQ(Posn("", "abc", -1), 0);
}

TEST(HttpParseURL, LiteralIPv6HostsInBracketsAndBare)
{
    ExpectParts("[::1]:2121", {"", "", "", "::1", "2121", ""});
    ExpectParts("[::1]", {"", "", "", "::1", "", ""});
    ExpectParts("ftp://[::1]:2121/", {"ftp", "", "", "::1", "2121", "/"});
    ExpectParts("http://[::1]:8080/x", {"http", "", "", "::1", "8080", "/x"});
    ExpectParts("http://u:p@[2001:db8::1]:81/a?b=1", {"http", "u", "p", "2001:db8::1", "81", "/a?b=1"});
    ExpectParts("http://u:p:q@[fe80::1%25lo]/", {"http", "u", "p:q", "fe80::1%25lo", "", "/"});
    ExpectParts("https://[::ffff:127.0.0.1]/", {"https", "", "", "::ffff:127.0.0.1", "", "/"});
    // Without brackets an address with several colons is all host.
    ExpectParts("ftp://::1/pub", {"ftp", "", "", "::1", "", "/pub"});
    ExpectParts("::1", {"", "", "", "::1", "", ""});
    // An unclosed bracket is not taken apart as an address.
    ExpectParts("http://[::1/x", {"http", "", "", "[::1", "", "/x"});

    EXPECT_EQ(UrlHost("::1"), "[::1]");
    EXPECT_EQ(UrlHost("[::1]"), "[::1]");
    EXPECT_EQ(UrlHost("127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(UrlHostPort("::1", "8080"), "[::1]:8080");
    EXPECT_EQ(UrlHostPort("h.example", ""), "h.example");
    EXPECT_EQ(UrlHostPort("h.example", "81"), "h.example:81");
}

} // namespace

// RFC 3986 section 5.4: the normal and abnormal examples against its base.
TEST(ResolveUrl, ReferenceResolutionExamples)
{
    const std::string base = "http://a/b/c/d;p?q";
    const std::pair<const char*, const char*> cases[] = {
        {"g:h", "g:h"},
        {"g", "http://a/b/c/g"},
        {"./g", "http://a/b/c/g"},
        {"g/", "http://a/b/c/g/"},
        {"/g", "http://a/g"},
        {"//g", "//g/"},
        {"?y", "http://a/b/c/d;p?y"},
        {"g?y", "http://a/b/c/g?y"},
        {"#s", "http://a/b/c/d;p?q"},
        {"g#s", "http://a/b/c/g"},
        {";x", "http://a/b/c/;x"},
        {"", "http://a/b/c/d;p?q"},
        {".", "http://a/b/c/"},
        {"./", "http://a/b/c/"},
        {"..", "http://a/b/"},
        {"../", "http://a/b/"},
        {"../g", "http://a/b/g"},
        {"../..", "http://a/"},
        {"../../g", "http://a/g"},
        {"../../../g", "http://a/g"},
        {"/./g", "http://a/g"},
        {"/../g", "http://a/g"},
        {"g.", "http://a/b/c/g."},
        {"..g", "http://a/b/c/..g"},
        {"./../g", "http://a/b/g"},
        {"g/./h", "http://a/b/c/g/h"},
        {"g/../h", "http://a/b/c/h"},
        {"g;x=1/../y", "http://a/b/c/y"},
    };
    for (const auto& [ref, expected] : cases) {
        const std::string want = std::string(expected) == "//g/" ? "http://g/" : expected;
        EXPECT_EQ(ResolveUrl(base, ref), want) << ref;
    }
    // A Location naming another port and scheme keeps them.
    EXPECT_EQ(ResolveUrl("http://h:8080/a/b", "https://h:8443/x"), "https://h:8443/x");
    EXPECT_EQ(ResolveUrl("http://h:8080/a/b", "x?y=1"), "http://h:8080/a/x?y=1");
    EXPECT_EQ(ResolveUrl("http://h:8080", "x"), "http://h:8080/x");
    // Bracketed IPv6 authorities travel whole.
    EXPECT_EQ(ResolveUrl("http://[::1]:8080/a/b", "../c"), "http://[::1]:8080/c");
    EXPECT_EQ(ResolveUrl("http://[::1]:8080/a/b", "//[2001:db8::2]:81/z"), "http://[2001:db8::2]:81/z");
    EXPECT_EQ(ResolveUrl("http://h/a", "http://[::1]"), "http://[::1]/");
    EXPECT_EQ(ResolveUrl("http://[::1]", "x"), "http://[::1]/x");
}
