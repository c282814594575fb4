// Several files in one command: "get a b c", "put a b c", "rm a b c". Each
// file is tried even when one before it failed; one summary line follows
// and the exit status is 1 when any failed.

#include "cli/ftpcommandrunner.h"

#include "cli/progressbar.h"
#include "cli/transfersummary.h"
#include "cli/visibletext.h"
#include "ftp/ftplocalfile.h"

#include <chrono>
#include <cstdio>
#include <sys/stat.h>

namespace {

std::string LastPart(const std::string& path)
{
    std::string p = path;
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    const auto slash = p.find_last_of('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

bool IsLocalFolder(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

} // namespace

bool TFtpCommandRunner::SeveralFiles() const
{
    const std::string& cmd = args_.command;
    const auto& a = args_.args;
    if (cmd == "rm")
        return a.size() >= 2;
    if (cmd == "put")
        return a.size() >= 3;
    // "get REMOTE LOCAL" names the local file unless LOCAL is a folder.
    if (cmd == "get")
        return a.size() >= 3 || (a.size() == 2 && IsLocalFolder(a[1]));
    return false;
}

int TFtpCommandRunner::RunSeveral()
{
    const auto started = std::chrono::steady_clock::now();
    const std::string& cmd = args_.command;
    std::vector<std::string> names = args_.args;
    std::string localFolder;
    if (cmd == "get" && names.size() >= 2 && IsLocalFolder(names.back())) {
        localFolder = names.back();
        names.pop_back();
    }
    TTransferSummary summary;
    for (const std::string& name : names) {
        // A failure may have cost the session: log in again for the rest.
        if (!ftp_.Connected() && !Login()) {
            std::fprintf(stderr, "tarvik-ftp: failed %s: %s\n", VisibleText(name).c_str(),
                         VisibleText(FailureText()).c_str());
            ++summary.Failed;
            continue;
        }
        bool ok = false;
        std::int64_t size = 0;
        if (cmd == "rm") {
            ftp_.SetHostFileName(name);
            ok = ftp_.Dele();
            summary.Deleted += ok ? 1 : 0;
        } else if (cmd == "get") {
            const std::string local = localFolder.empty() ? LastPart(name) : localFolder + "/" + LastPart(name);
            ftp_.SetHostFileName(name);
            ftp_.SetLocalFileName(local);
            ok = Transfer(&TFtpClient::Get, -1, 0);
            size = ok ? TFtpLocalFile::FileSize(local) : 0;
        } else {
            size = TFtpLocalFile::FileSize(name);
            if (size < 0) {
                std::fprintf(stderr, "tarvik-ftp: failed %s: cannot read the local file\n", VisibleText(name).c_str());
                ++summary.Failed;
                continue;
            }
            ftp_.SetLocalFileName(name);
            ftp_.SetHostFileName(LastPart(name));
            ftp_.SetResumeAt(0);
            ok = Transfer(&TFtpClient::Put, size, 0);
        }
        if (!ok) {
            std::fprintf(stderr, "tarvik-ftp: failed %s: %s\n", VisibleText(name).c_str(),
                         VisibleText(FailureText()).c_str());
            ++summary.Failed;
            continue;
        }
        if (cmd != "rm") {
            ++summary.Files;
            summary.Bytes += std::max<std::int64_t>(0, size);
        }
    }
    if (ftp_.Connected())
        ftp_.Quit();
    summary.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%s\n", summary.Line().c_str());
    std::fflush(stdout);
    return summary.Failed == 0 ? 0 : 1;
}
