#include "http/httpurl.h"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace {

bool StartsWithNoCase(const std::string& s, const char* prefix)
{
    for (std::size_t i = 0; prefix[i] != '\0'; ++i) {
        if (i >= s.size())
            return false;
        if (std::tolower(static_cast<unsigned char>(s[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

// The host and port of "host", "host:port", "[v6]", "[v6]:port" or a bare
// IPv6 literal ("::1", which has no room for a port).
void SplitHostPort(const std::string& hostPort, std::string& Host, std::string& Port)
{
    if (!hostPort.empty() && hostPort.front() == '[') {
        const std::size_t close = hostPort.find(']');
        if (close != std::string::npos) {
            Host = hostPort.substr(1, close - 1);
            if (close + 1 < hostPort.size() && hostPort[close + 1] == ':')
                Port = hostPort.substr(close + 2);
            return;
        }
    }
    const std::size_t colon = hostPort.rfind(':');
    if (colon == std::string::npos || hostPort.find(':') != colon) {
        Host = hostPort;
        return;
    }
    Host = hostPort.substr(0, colon);
    Port = hostPort.substr(colon + 1);
}

void SplitAuthority(const std::string& authority, std::string& User, std::string& Pass, std::string& Host,
                    std::string& Port)
{
    const std::size_t at = authority.rfind('@');
    SplitHostPort(at == std::string::npos ? authority : authority.substr(at + 1), Host, Port);
    if (at == std::string::npos)
        return;
    const std::string userInfo = authority.substr(0, at);
    const std::size_t sep = userInfo.find(':');
    if (sep == std::string::npos) {
        User = userInfo;
        return;
    }
    User = userInfo.substr(0, sep);
    Pass = userInfo.substr(sep + 1);
}

const char Base64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string EncodeBase64(const unsigned char* data, std::int64_t length)
{
    std::string out;
    out.reserve(static_cast<std::size_t>((length + 2) / 3 * 4));
    for (std::int64_t i = 0; i < length; i += 3) {
        const std::int64_t left = length - i;
        const unsigned b0 = data[i];
        const unsigned b1 = left > 1 ? data[i + 1] : 0;
        const unsigned b2 = left > 2 ? data[i + 2] : 0;
        out += Base64Alphabet[b0 >> 2];
        out += Base64Alphabet[((b0 & 0x03) << 4) | (b1 >> 4)];
        out += left > 1 ? Base64Alphabet[((b1 & 0x0F) << 2) | (b2 >> 6)] : '=';
        out += left > 2 ? Base64Alphabet[b2 & 0x3F] : '=';
    }
    return out;
}

char UUChar(unsigned sixBits) { return sixBits == 0 ? '`' : static_cast<char>(32 + sixBits); }

std::string EncodeUU(const unsigned char* data, std::int64_t length)
{
    std::string out;
    out += static_cast<char>(32 + length);
    for (std::int64_t i = 0; i < length; i += 3) {
        const std::int64_t left = length - i;
        const unsigned b0 = data[i];
        const unsigned b1 = left > 1 ? data[i + 1] : 0;
        const unsigned b2 = left > 2 ? data[i + 2] : 0;
        out += UUChar(b0 >> 2);
        out += UUChar(((b0 & 0x03) << 4) | (b1 >> 4));
        out += UUChar(((b1 & 0x0F) << 2) | (b2 >> 6));
        out += UUChar(b2 & 0x3F);
    }
    return out;
}

// Proleptic Gregorian date of a day count since 1970-01-01.
void CivilFromDays(std::int64_t z, int& year, unsigned& month, unsigned& day)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(y + (month <= 2 ? 1 : 0));
}

} // namespace

void ParseURL(const std::string& URL, std::string& Proto, std::string& User, std::string& Pass, std::string& Host,
              std::string& Port, std::string& Path)
{
    Proto.clear();
    User.clear();
    Pass.clear();
    Host.clear();
    Port.clear();
    Path.clear();
    if (URL.empty())
        return;

    std::string rest;
    const std::size_t scheme = URL.find("://");
    if (scheme != std::string::npos) {
        Proto = URL.substr(0, scheme);
        rest = URL.substr(scheme + 3);
    } else if (URL[0] == '/') {
        Proto = "http";
        if (URL.size() < 2 || URL[1] != '/') {
            Path = URL;
            return;
        }
        rest = URL.substr(1);
    } else if (StartsWithNoCase(URL, "http:")) {
        Proto = "http";
        if (URL.size() < 7 || URL[6] != '/') {
            Path = URL.substr(5);
            return;
        }
        rest = URL.substr(6);
    } else if (StartsWithNoCase(URL, "mailto:")) {
        Proto = "mailto";
        rest = URL.substr(7);
    } else {
        rest = URL;
    }

    const std::size_t slash = rest.find('/');
    std::string authority = rest;
    if (slash != std::string::npos) {
        Path = rest.substr(slash);
        authority = rest.substr(0, slash);
    }
    if (!authority.empty())
        SplitAuthority(authority, User, Pass, Host, Port);
}

std::string UrlHost(const std::string& Host)
{
    if (Host.find(':') == std::string::npos || (!Host.empty() && Host.front() == '['))
        return Host;
    return "[" + Host + "]";
}

std::string UrlHostPort(const std::string& Host, const std::string& Port)
{
    return Port.empty() ? UrlHost(Host) : UrlHost(Host) + ":" + Port;
}

std::string EncodeLine(THttpEncoding Encoding, const char* Buffer, std::int64_t Length)
{
    if (Buffer == nullptr || Length <= 0)
        return Encoding == encUUEncode ? std::string(1, ' ') : std::string();
    const auto* data = reinterpret_cast<const unsigned char*>(Buffer);
    if (Encoding == encUUEncode)
        return EncodeUU(data, Length);
    return EncodeBase64(data, Length);
}

std::string EncodeStr(THttpEncoding Encoding, const std::string& S)
{
    return EncodeLine(Encoding, S.data(), static_cast<std::int64_t>(S.size()));
}

std::string RFC1123_Date(TDateTime D)
{
    static const char DayNames[] = "MonTueWedThuFriSatSun";
    static const char MonthNames[] = "JanFebMarAprMayJunJulAugSepOctNovDec";

    // Rounding to whole milliseconds first lets 23:59:59.9999 carry into the
    // next day instead of printing an impossible 24:00:00.
    const std::int64_t totalMs = std::llround(D * 86400000.0);
    std::int64_t days = totalMs / 86400000;
    std::int64_t msOfDay = totalMs % 86400000;
    if (msOfDay < 0) {
        msOfDay += 86400000;
        --days;
    }
    int year = 0;
    unsigned month = 0;
    unsigned day = 0;
    // Day 0 is 1899-12-30, which is 25569 days before 1970-01-01.
    CivilFromDays(days - 25569, year, month, day);
    const int weekday = static_cast<int>(((days - 2) % 7 + 7) % 7);

    const std::int64_t secs = msOfDay / 1000;
    char text[64];
    std::snprintf(text, sizeof text, "%.3s, %02u %.3s %04d %02d:%02d:%02d", DayNames + weekday * 3, day,
                  MonthNames + (month - 1) * 3, year, static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                  static_cast<int>(secs % 60));
    return text;
}

int Posn(const std::string& Sub, const std::string& S, int Count)
{
    if (Sub.empty() || Count == 0 || Sub.size() > S.size())
        return 0;
    if (Count > 0) {
        std::size_t from = 0;
        for (int n = 1;; ++n) {
            const std::size_t at = S.find(Sub, from);
            if (at == std::string::npos)
                return 0;
            if (n == Count)
                return static_cast<int>(at) + 1;
            from = at + 1;
        }
    }
    std::size_t from = std::string::npos;
    for (int n = -1;; --n) {
        const std::size_t at = S.rfind(Sub, from);
        if (at == std::string::npos)
            return 0;
        if (n == Count)
            return static_cast<int>(at) + 1;
        if (at == 0)
            return 0;
        from = at - 1;
    }
}
