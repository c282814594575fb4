// ParseURL and the other text helpers of the HTTP client: every location a
// server sends goes through ParseURL.

#include "fuzzsupport.h"
#include "http/httpurl.h"

#include <cmath>
#include <cstring>
#include <string>

namespace {

void CheckPart(const std::string& url, const std::string& part, const char* name)
{
    // The parts are cut from the URL; none may hold text it did not have.
    if (!part.empty() && url.find(part) == std::string::npos)
        fuzz::Fail(std::string("ParseURL produced a ") + name + " that is not in the URL");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::TInputReader in(data, size);
    const std::uint8_t mode = in.Byte();
    const std::string url(in.Rest());

    std::string proto, user, pass, host, port, path;
    ParseURL(url, proto, user, pass, host, port, path);
    CheckPart(url, user, "user");
    CheckPart(url, pass, "password");
    CheckPart(url, host, "host");
    CheckPart(url, port, "port");
    CheckPart(url, path, "path");
    if (!path.empty() && path[0] != '/' && !(proto == "http" && url.size() >= 5))
        fuzz::Fail("ParseURL produced a path that does not start with '/'");

    // The same outputs reused must give the same answer (they are cleared).
    std::string proto2 = "x", user2 = "x", pass2 = "x", host2 = "x", port2 = "x", path2 = "x";
    ParseURL(url, proto2, user2, pass2, host2, port2, path2);
    if (proto2 != proto || user2 != user || pass2 != pass || host2 != host || port2 != port || path2 != path)
        fuzz::Fail("ParseURL depends on what its outputs held before");

    const std::string b64 = EncodeStr(encBase64, url);
    if (b64.size() != (url.size() + 2) / 3 * 4)
        fuzz::Fail("Base64 text has the wrong length");
    const std::string uu = EncodeStr(encUUEncode, url);
    if (uu.empty())
        fuzz::Fail("uuencoded line is empty");

    // Posn with the first few bytes as the needle and the mode as count.
    if (url.size() > 2) {
        const std::string sub = url.substr(0, 1 + mode % 3);
        const int count = int(std::int8_t(mode));
        const int at = Posn(sub, url, count);
        if (at < 0 || std::size_t(at) > url.size())
            fuzz::Fail("Posn returned a position outside the text");
        if (at > 0 && url.compare(std::size_t(at - 1), sub.size(), sub) != 0)
            fuzz::Fail("Posn returned a position where the text is not found");
    }

    if (size >= 9) {
        double d = 0;
        std::memcpy(&d, data + 1, sizeof d);
        // Dates a user can set: finite and within the years 1..9999.
        if (std::isfinite(d) && d > -693593.0 && d < 2958466.0) {
            const std::string text = RFC1123_Date(d);
            if (text.size() != 25)
                fuzz::Fail("RFC1123_Date text has the wrong length: " + text);
        }
    }
    return 0;
}
