#include "cli/cliargs.h"

#include "cli/ftpurlarg.h"
#include "cli/optionwords.h"

#include <map>

namespace {

// Commands and how many arguments each takes (least, most; -1: any number).
const std::map<std::string, std::pair<int, int>>& Commands()
{
    static const std::map<std::string, std::pair<int, int>> commands = {
        {"ls", {0, 1}},     {"nlst", {0, 1}},  {"get", {1, -1}},   {"reget", {1, 2}}, {"put", {1, -1}},
        {"append", {2, 2}}, {"mkdir", {1, 1}}, {"rmdir", {1, 1}},  {"rm", {1, -1}},   {"mv", {2, 2}},
        {"size", {1, 1}},   {"pwd", {0, 0}},   {"quote", {1, -1}}, {"mls", {0, 1}},   {"mirror", {1, -1}},
    };
    return commands;
}

// The TLS options. Returns 1 when `a` was one of them, 0 when not, -1 on a
// usage error.
int ParseTlsOption(TOptionWords& words, const std::string& a, TCliArgs& out, std::string& error)
{
    const std::string before = out.tls;
    if (a == "--tls") {
        out.tls = "explicit";
    } else if (a == "--tls-if-offered") {
        out.tls = "if-offered";
    } else if (a == "--implicit-tls") {
        out.tls = "implicit";
    } else if (a == "--insecure") {
        out.insecure = true;
        return 1;
    } else if (a == "--cacert") {
        return words.Value(out.cacert, error) ? 1 : -1;
    } else {
        return 0;
    }
    if (before != "none" && before != out.tls) {
        error = "--tls, --tls-if-offered and --implicit-tls exclude each other";
        return -1;
    }
    return 1;
}

// The host as given: a name, an IPv4 address, an IPv6 address bare
// ("::1") or in brackets ("[::1]"), the bracketed form optionally with a
// port ("[::1]:2121").
bool SplitHost(const std::string& text, TCliArgs& out, std::string& error)
{
    if (text.empty() || text[0] != '[') {
        out.host = text;
        return true;
    }
    const std::size_t close = text.find(']');
    if (close == std::string::npos || close == 1) {
        error = "invalid host: " + text;
        return false;
    }
    out.host = text.substr(1, close - 1);
    const std::string rest = text.substr(close + 1);
    if (rest.empty())
        return true;
    const std::string port = rest.substr(1);
    if (rest[0] != ':' || !AllDigits(port) || port.size() > 5 || std::stol(port) < 1 || std::stol(port) > 65535) {
        error = "invalid host: " + text;
        return false;
    }
    out.port = port;
    return true;
}

} // namespace

bool ParseCliArgs(const std::vector<std::string>& argv, TCliArgs& out, std::string& error)
{
    std::vector<std::string> positional;
    TOptionWords words(argv);
    while (!words.AtEnd()) {
        const std::string& a = words.Next();
        // With --site there is no HOST: the command comes first.
        if (!positional.empty() && positional.size() >= (out.site.empty() ? 2u : 1u)) {
            // Everything after the command belongs to it ("quote" may hold
            // words that look like options).
            positional.push_back(a);
            continue;
        }
        if (const int tls = ParseTlsOption(words, a, out, error); tls != 0) {
            if (tls < 0)
                return false;
        } else if (a == "--help" || a == "-h") {
            out.help = true;
        } else if (a == "--passive") {
            out.passive = true;
        } else if (a == "--ascii") {
            out.ascii = true;
        } else if (a == "--verbose" || a == "-v") {
            out.verbose = true;
        } else if (a == "--raw") {
            out.raw = true;
        } else if (a == "--no-preserve") {
            out.noPreserve = true;
        } else if (a == "--user") {
            if (!words.Value(out.user, error))
                return false;
            out.userGiven = true;
        } else if (a == "--password") {
            if (!words.Value(out.password, error))
                return false;
            out.passwordGiven = true;
        } else if (a == "--port") {
            if (!words.Value(out.port, error))
                return false;
            out.portGiven = true;
            if (!AllDigits(out.port) || std::stol(out.port.substr(0, 6)) < 1 ||
                std::stol(out.port.substr(0, 6)) > 65535) {
                error = "invalid port: " + out.port;
                return false;
            }
        } else if (a == "--site") {
            if (!words.Value(out.site, error))
                return false;
            if (out.site.empty()) {
                error = "--site needs a profile name";
                return false;
            }
        } else if (a == "--cwd") {
            if (!words.Value(out.cwd, error))
                return false;
        } else if (a == "--timeout") {
            std::string t;
            if (!words.Value(t, error))
                return false;
            if (!AllDigits(t) || t.size() > 6) {
                error = "invalid time-out: " + t;
                return false;
            }
            out.timeout = std::stoi(t);
        } else if (a.size() > 1 && a[0] == '-') {
            error = "unknown option: " + a;
            return false;
        } else {
            positional.push_back(a);
        }
    }
    if (out.help)
        return true;
    if (out.tls == "implicit" && !out.portGiven)
        out.port = "990";
    if (!out.site.empty())
        positional.insert(positional.begin(), std::string());
    if (positional.size() < 2) {
        error = positional.empty() ? "missing HOST and COMMAND" : "missing COMMAND";
        return false;
    }
    if (!SplitHost(positional[0], out, error))
        return false;
    out.command = positional[1];
    out.args.assign(positional.begin() + 2, positional.end());
    const auto it = Commands().find(out.command);
    if (it == Commands().end()) {
        error = "unknown command: " + out.command;
        return false;
    }
    if (IsFtpUrl(out.host)) {
        if (!out.site.empty()) {
            error = "give either --site or an ftp:// URL, not both";
            return false;
        }
        if (!ApplyFtpUrl(out, error))
            return false;
    }
    const int n = int(out.args.size());
    if (n < it->second.first || (it->second.second >= 0 && n > it->second.second)) {
        error = "wrong number of arguments for " + out.command;
        return false;
    }
    return true;
}

std::string CliUsage()
{
    return R"(Usage: tarvik-ftp [OPTIONS] HOST COMMAND [ARGS...]
       tarvik-ftp [OPTIONS] --site NAME COMMAND [ARGS...]

Runs one FTP command against HOST and exits. HOST is a name, an IPv4
address, an IPv6 address (::1, [::1] or [::1]:PORT) or a URL,
ftp://[USER[:PASSWORD]@]HOST[:PORT][/PATH]: PATH names the file of get,
reget, size, rm, ls or nlst when it is not given, else the folder to work
in (a PATH ending in "/" always names a folder).

Commands:
  ls [DIR]               long listing (LIST) of DIR or of the current folder
  nlst [DIR]             names only (NLST)
  mls [DIR]              machine listing (MLSD): one line per entry, its
                         facts (type, size, modify, perm, ...) then its name
  get REMOTE [LOCAL]     download REMOTE into LOCAL (default: its base name;
                         an existing folder LOCAL receives it)
  get REMOTE... [DIR]    with three or more names (or two and an existing
                         local folder): each file under its base name
  reget REMOTE [LOCAL]   resume a download: continue LOCAL from its size
  put LOCAL [REMOTE]     upload LOCAL as REMOTE (default: its base name)
  put LOCAL LOCAL LOCAL...  three or more files, each under its base name
  append LOCAL REMOTE    append LOCAL to the end of REMOTE
  mkdir DIR              create a folder
  rmdir DIR              remove an empty folder
  rm FILE...             delete files
  mirror [--reverse] [--parallel N] [--delete] [--only-newer] REMOTE_DIR [LOCAL_DIR]
                         copy the contents of REMOTE_DIR into LOCAL_DIR
                         (default: REMOTE_DIR's name), with N sessions at
                         once (1-10, default 2), retrying and resuming broken
                         transfers; --reverse (-R) uploads LOCAL_DIR into
                         REMOTE_DIR; --delete removes what the destination
                         holds and the source does not; --only-newer leaves
                         files whose destination copy has the same size and
                         is at least as new
  mv FROM TO             rename
  size FILE              print the size of FILE in bytes
  pwd                    print the current folder
  quote LINE...          send LINE as it is and print the reply

Options:
  --user U               log in as U (default: anonymous)
  --password P           password; also taken from $TARVIK_PASSWORD, which
                         keeps it out of the process list
  --port N               control port (default 21)
  --passive              passive data connections (PASV) instead of PORT
  --ascii                ASCII transfer type (TYPE A); default binary
  --site NAME            host, port, login and passive mode of a site stored
                         by the main window (Accounts.dat in its folder,
                         $TARVIK_HOME when set); no HOST is given then
  --cwd DIR              change to DIR after logging in
  --timeout S            seconds of silence before giving up (default 60;
                         0 waits forever); a transfer that keeps moving is
                         never cut off
  --verbose, -v          print the dialogue on stderr ("> " commands sent,
                         "< " replies, "! " local notes); the password is
                         shown as asterisks
  --no-preserve          do not keep modification times (by default a
                         download takes the server's time, MDTM, and an
                         upload sets it on the server, MFMT, when offered)
  --raw                  print listings byte for byte; otherwise control
                         characters in text from the server are shown
                         escaped (\x1b), so it cannot drive the terminal
  --tls                  explicit TLS (AUTH TLS), required: a server that
                         refuses it ends the session before the login
  --tls-if-offered       explicit TLS when the server offers it, else clear
                         text (said on stderr)
  --implicit-tls         TLS from the first byte (default port 990)
  --cacert FILE          trust the authorities in FILE (PEM) besides the
                         system's
  --insecure             accept any certificate (said on stderr)
  --help, -h             this text

Without --user and --password the login comes from the URL,
$TARVIK_PASSWORD, the stored site, then ~/.netrc ($NETRC names another
file): "machine HOST login USER password PASSWORD" or "default ...". The
file is refused unless only its owner may read it (chmod 600). Without any
of these the login is anonymous.

A progress bar with the transfer rate goes to stderr when it is a terminal.
mirror and several-file commands end with one summary line on stdout: files,
bytes, time, rate and failures.

Exit status: 0 on success, 1 when the server refused or a transfer failed
(any one file of several; the failing reply or the local error is printed
on stderr), or on any TLS or certificate failure, 2 for a usage error (an
unknown --site, a ~/.netrc others may read, a malformed URL included).
)";
}
