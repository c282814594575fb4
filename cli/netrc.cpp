#include "cli/netrc.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

class Tokenizer {
public:
    explicit Tokenizer(const std::string& text) : text_(text) {}

    bool Next(std::string& token)
    {
        SkipBlanks();
        if (pos_ >= text_.size())
            return false;
        token.clear();
        if (text_[pos_] == '"') {
            ++pos_;
            while (pos_ < text_.size() && text_[pos_] != '"') {
                if (text_[pos_] == '\\' && pos_ + 1 < text_.size())
                    ++pos_;
                token += text_[pos_++];
            }
            ++pos_; // the closing quote
            return true;
        }
        while (pos_ < text_.size() && !IsBlank(text_[pos_]))
            token += text_[pos_++];
        return true;
    }

    // A macro body runs to the first empty line.
    void SkipMacroBody()
    {
        const std::size_t end = text_.find("\n\n", pos_);
        pos_ = end == std::string::npos ? text_.size() : end + 2;
    }

private:
    static bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
    void SkipBlanks()
    {
        while (pos_ < text_.size() && IsBlank(text_[pos_]))
            ++pos_;
    }

    const std::string& text_;
    std::size_t pos_ = 0;
};

struct Machine {
    std::string Name; // empty for "default"
    bool IsDefault = false;
    TNetrcEntry Entry;
};

std::vector<Machine> ParseMachines(const std::string& text)
{
    std::vector<Machine> machines;
    Tokenizer tokens(text);
    std::string token;
    while (tokens.Next(token)) {
        if (token == "machine") {
            Machine m;
            tokens.Next(m.Name);
            machines.push_back(std::move(m));
        } else if (token == "default") {
            Machine m;
            m.IsDefault = true;
            machines.push_back(std::move(m));
        } else if (token == "login" || token == "password" || token == "account") {
            std::string value;
            tokens.Next(value);
            if (machines.empty())
                continue;
            TNetrcEntry& e = machines.back().Entry;
            if (token == "login") {
                e.Login = value;
                e.LoginGiven = true;
            } else if (token == "password") {
                e.Password = value;
                e.PasswordGiven = true;
            }
        } else if (token == "macdef") {
            std::string name;
            tokens.Next(name);
            tokens.SkipMacroBody();
        }
        // Anything else is not ours to judge: it is passed over.
    }
    return machines;
}

} // namespace

std::optional<TNetrcEntry> FindNetrcEntry(const std::string& text, const std::string& host, const std::string& login)
{
    const std::vector<Machine> machines = ParseMachines(text);
    auto fits = [&](const Machine& m) { return login.empty() || !m.Entry.LoginGiven || m.Entry.Login == login; };
    for (const Machine& m : machines) {
        if (!m.IsDefault && ::strcasecmp(m.Name.c_str(), host.c_str()) == 0 && fits(m))
            return m.Entry;
    }
    for (const Machine& m : machines) {
        if (m.IsDefault && fits(m))
            return m.Entry;
    }
    return std::nullopt;
}

std::string NetrcPath()
{
    if (const char* netrc = std::getenv("NETRC"); netrc && *netrc)
        return netrc;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.netrc";
}

bool ReadNetrc(const std::string& path, const std::string& host, const std::string& login,
               std::optional<TNetrcEntry>& entry, std::string& error)
{
    entry.reset();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return true;
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    std::string text;
    bool ok = ::fstat(fd, &info) == 0;
    if (!ok) {
        error = "cannot read " + path + ": " + std::strerror(errno);
    } else if ((info.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof(mode), "%04o", unsigned(info.st_mode & 07777));
        error = path + " holds passwords but other users may read it (mode " + mode +
                "); make it private with: chmod 600 " + path;
        ok = false;
    } else if (info.st_uid != ::getuid()) {
        error = path + " holds passwords but belongs to another user; it is not used";
        ok = false;
    } else {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof(buffer));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                error = "cannot read " + path + ": " + std::strerror(errno);
                ok = false;
                break;
            }
            if (n == 0)
                break;
            text.append(buffer, std::size_t(n));
        }
    }
    ::close(fd);
    if (!ok)
        return false;
    entry = FindNetrcEntry(text, host, login);
    return true;
}
