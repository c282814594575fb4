#include "cli/ftpurlarg.h"

#include "cli/optionwords.h"

#include <set>
#include <strings.h>

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool Decode(const std::string& text, std::string& out, std::string& error)
{
    out.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        const int hi = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
        const int lo = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
        if (hi < 0 || lo < 0) {
            error = "bad %-escape in the URL";
            return false;
        }
        out += char(hi * 16 + lo);
        i += 2;
    }
    // Bytes that would end or split a command line never reach the server.
    if (out.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) {
        error = "the URL holds a line break or NUL";
        return false;
    }
    return true;
}

} // namespace

bool IsFtpUrl(const std::string& text) { return text.size() >= 6 && ::strncasecmp(text.c_str(), "ftp://", 6) == 0; }

bool ParseFtpUrl(const std::string& text, TFtpUrl& url, std::string& error)
{
    url = {};
    if (!IsFtpUrl(text)) {
        error = "not an ftp:// URL: " + text;
        return false;
    }
    std::string rest = text.substr(6);
    const std::size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    const std::string path = slash == std::string::npos ? std::string() : rest.substr(slash + 1);
    if (authority.find_first_of("?#") != std::string::npos || path.find_first_of("?#") != std::string::npos) {
        error = "queries and fragments are not used in ftp:// URLs: " + text;
        return false;
    }
    const std::size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        const std::string userInfo = authority.substr(0, at);
        authority = authority.substr(at + 1);
        const std::size_t colon = userInfo.find(':');
        if (!Decode(userInfo.substr(0, colon), url.User, error))
            return false;
        url.UserGiven = true;
        if (colon != std::string::npos) {
            if (!Decode(userInfo.substr(colon + 1), url.Password, error))
                return false;
            url.PasswordGiven = true;
        }
    }
    std::string port;
    if (!authority.empty() && authority[0] == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string::npos) {
            error = "unclosed [ in the URL's host";
            return false;
        }
        url.Host = authority.substr(1, close - 1);
        const std::string after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') {
                error = "unexpected text after the URL's host: " + after;
                return false;
            }
            port = after.substr(1);
        }
    } else {
        const std::size_t colon = authority.find(':');
        url.Host = authority.substr(0, colon);
        if (colon != std::string::npos)
            port = authority.substr(colon + 1);
    }
    if (url.Host.empty()) {
        error = "the URL names no host: " + text;
        return false;
    }
    if (!port.empty()) {
        if (!AllDigits(port) || port.size() > 5 || std::stol(port) < 1 || std::stol(port) > 65535) {
            error = "invalid port in the URL: " + port;
            return false;
        }
        url.Port = port;
    }
    return Decode(path, url.Path, error);
}

bool ApplyFtpUrl(TCliArgs& args, std::string& error)
{
    TFtpUrl url;
    if (!ParseFtpUrl(args.host, url, error))
        return false;
    args.host = url.Host;
    if (!url.Port.empty())
        args.port = url.Port;
    if (url.UserGiven && !args.userGiven) {
        args.user = url.User;
        args.userGiven = true;
        if (url.PasswordGiven && !args.passwordGiven) {
            args.password = url.Password;
            args.passwordGiven = true;
        }
    }
    if (url.Path.empty())
        return true;
    static const std::set<std::string> takesFile = {"get", "reget", "size", "rm", "ls", "nlst"};
    if (url.Path.back() != '/' && args.args.empty() && takesFile.count(args.command)) {
        args.args.push_back(url.Path);
        return true;
    }
    std::string folder = url.Path;
    if (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    if (args.cwd.empty())
        args.cwd = folder;
    else if (args.cwd[0] != '/')
        args.cwd = folder + "/" + args.cwd;
    return true;
}
