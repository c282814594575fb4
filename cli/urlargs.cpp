#include "cli/urlargs.h"

#include "cli/optionwords.h"

#include <cstdlib>
#include <vector>

namespace {

// Digits that fit an int.
bool SmallNumber(const std::string& s) { return s.size() <= 9 && AllDigits(s); }

// "host:port" (an IPv6 address in brackets: "[::1]:1080").
bool SplitHostPort(const std::string& text, std::string& host, std::string& port)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    return SmallNumber(port) && std::atoi(port.c_str()) > 0 && std::atoi(port.c_str()) < 65536;
}

} // namespace

bool ParseUrlArgs(int argc, const char* const* argv, TUrlArgs& out, std::string& error)
{
    const std::vector<std::string> args(argv, argv + argc);
    TOptionWords words(args);
    bool optionsEnded = false;
    while (!words.AtEnd()) {
        const std::string& a = words.Next();
        if (optionsEnded || a.empty() || a[0] != '-' || a == "-") {
            if (!out.url.empty()) {
                error = "only one URL may be given";
                return false;
            }
            out.url = a;
            continue;
        }
        std::string v;
        if (a == "--") {
            optionsEnded = true;
        } else if (a == "--help" || a == "-h") {
            out.help = true;
        } else if (a == "--head" || a == "-I") {
            out.head = true;
        } else if (a == "--insecure" || a == "-k") {
            out.insecure = true;
        } else if (a == "--verbose" || a == "-v") {
            out.verbose = true;
        } else if (a == "--output" || a == "-o") {
            if (!words.Value(out.output, error))
                return false;
            if (out.output.empty()) {
                error = "option " + a + " needs a file name";
                return false;
            }
        } else if (a == "--user" || a == "-u") {
            if (!words.Value(out.user, error))
                return false;
            out.userGiven = true;
        } else if (a == "--password") {
            if (!words.Value(out.password, error))
                return false;
            out.passwordGiven = true;
        } else if (a == "--proxy" || a == "-x") {
            if (!words.Value(v, error))
                return false;
            if (!SplitHostPort(v, out.proxyHost, out.proxyPort)) {
                error = "option --proxy needs HOST:PORT, not '" + v + "'";
                return false;
            }
        } else if (a == "--socks") {
            if (!words.Value(v, error))
                return false;
            if (!SplitHostPort(v, out.socksHost, out.socksPort)) {
                error = "option --socks needs HOST:PORT, not '" + v + "'";
                return false;
            }
        } else if (a == "--cacert") {
            if (!words.Value(out.caFile, error))
                return false;
        } else if (a == "--max-redirs") {
            if (!words.Value(v, error))
                return false;
            if (!SmallNumber(v)) {
                error = "option --max-redirs needs a number, not '" + v + "'";
                return false;
            }
            out.maxRedirs = std::atoi(v.c_str());
        } else {
            error = "unknown option " + a;
            return false;
        }
    }
    if (out.help)
        return true;
    if (out.url.empty()) {
        error = "no URL given";
        return false;
    }
    if (out.head && !out.output.empty()) {
        error = "--head and --output do not go together";
        return false;
    }
    if (out.passwordGiven && !out.userGiven) {
        error = "--password needs --user";
        return false;
    }
    if (out.userGiven && !out.passwordGiven) {
        if (const char* env = std::getenv("TARVIK_PASSWORD")) {
            out.password = env;
            out.passwordGiven = true;
        }
    }
    return true;
}

std::string UrlUsage()
{
    return "Usage: tarvik-url [options] URL\n"
           "Fetches an http:// or https:// URL: the document (GET) or the status line and\n"
           "header lines (--head).\n"
           "\n"
           "  -I, --head              print the status line and headers only\n"
           "  -o, --output FILE       save the document to FILE (default: standard output)\n"
           "  -u, --user U            user name for Basic authentication\n"
           "      --password P        its password (default: $TARVIK_PASSWORD)\n"
           "  -x, --proxy HOST:PORT   through an HTTP proxy (CONNECT for https)\n"
           "      --socks HOST:PORT   through a SOCKS 5 proxy\n"
           "      --cacert FILE       trust the authorities in FILE (PEM) as well\n"
           "  -k, --insecure          accept any certificate (not checked at all)\n"
           "      --max-redirs N      follow at most N redirections (default 20)\n"
           "  -v, --verbose           show the connection, TLS and headers on stderr\n"
           "  -h, --help              this text\n"
           "\n"
           "Exit status: 0 for a 2xx or 3xx answer, 1 for 4xx, 5xx or any failure,\n"
           "2 for a usage error.\n";
}
