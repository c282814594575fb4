#include "cli/remotesession.h"

#include "cli/logincredentials.h"
#include "cli/visibletext.h"
#include "ftp/ftplisting.h"
#include "transfers/transferpaths.h"

#include <cstdio>
#include <ctime>

namespace {

constexpr int kMaxDepth = 64;

} // namespace

TRemoteSession::TRemoteSession(const TCliArgs& args) : args_(args)
{
    const TTransferSite site = TransferSiteFromArgs(args_);
    ftp_.SetHostName(site.Host);
    ftp_.SetPort(site.Port);
    ftp_.SetUserName(site.User);
    ftp_.SetPassWord(site.Password);
    ftp_.SetPassive(site.Passive);
    ftp_.SetTimeout(args_.timeout);
    if (args_.verbose) {
        ftp_.OnDisplay = [](TCustomFtpCli*, std::string& msg) {
            std::fprintf(stderr, "%s\n", VisibleText(msg).c_str());
        };
    }
}

TRemoteSession::~TRemoteSession() = default;

std::string TRemoteSession::FailureText() const
{
    if (!ftp_.ErrorMessage().empty())
        return ftp_.ErrorMessage();
    if (!ftp_.LastResponse().empty())
        return ftp_.LastResponse();
    return "request failed";
}

bool TRemoteSession::Login()
{
    if (loggedIn_ && ftp_.Connected())
        return true;
    loggedIn_ = false;
    if (!ftp_.Open() || !ftp_.User())
        return false;
    if (ftp_.StatusCode() == 331 && !ftp_.Pass())
        return false;
    if (!args_.cwd.empty()) {
        ftp_.SetHostDirName(args_.cwd);
        if (!ftp_.Cwd())
            return false;
    }
    loggedIn_ = true;
    return true;
}

bool TRemoteSession::Absolute(const std::string& path, std::string& absolute)
{
    if (!path.empty() && path[0] == '/')
        return NormalizeRemotePath(path, absolute);
    if (!Login() || !ftp_.Pwd())
        return false;
    const std::string base = ftp_.DirResult();
    if (base.empty() || base[0] != '/')
        return false;
    return NormalizeRemotePath(path.empty() ? base : JoinRemotePath(base, path), absolute);
}

bool TRemoteSession::List(const std::string& folder, std::string& listing)
{
    ftp_.SetHostDirName(folder);
    if (!ftp_.Cwd())
        return false;
    listing.clear();
    ftp_.SetHostFileName("");
    ftp_.SetLocalFileName("");
    ftp_.SetDisplayFileFlag(true);
    ftp_.SetDisplayFileMode(ftpBinary);
    ftp_.OnDisplayFile = [&listing](TCustomFtpCli*, std::string& data) { listing += data; };
    const bool ok = ftp_.Dir();
    ftp_.OnDisplayFile = nullptr;
    ftp_.SetDisplayFileFlag(false);
    return ok;
}

void TRemoteSession::Remove(const std::string& path, bool folder, int& removed, std::vector<std::string>& failures,
                            int depth)
{
    if (!Login()) {
        failures.push_back(path + ": " + FailureText());
        return;
    }
    if (!folder) {
        ftp_.SetHostFileName(path);
        if (ftp_.Dele())
            ++removed;
        else
            failures.push_back(path + ": " + FailureText());
        return;
    }
    std::string listing;
    if (depth > kMaxDepth || !List(path, listing)) {
        failures.push_back(path + ": " + (depth > kMaxDepth ? std::string("nested too deeply") : FailureText()));
        return;
    }
    const auto entries = ParseListing(listing, false, FtpTimeFromUnix(std::int64_t(std::time(nullptr))));
    for (const TFtpListEntry& e : entries) {
        std::string why;
        if (e.Role != TFtpEntryRole::Child || !IsSafeEntryName(e.Name, why))
            continue;
        Remove(JoinRemotePath(path, e.Name), e.Type == TFtpEntryType::Directory, removed, failures, depth + 1);
    }
    // Out of the folder before removing it: some servers refuse to remove
    // the current folder.
    ftp_.SetHostDirName(ParentPath(path));
    ftp_.Cwd();
    ftp_.SetHostFileName(path);
    if (ftp_.Rmd())
        ++removed;
    else
        failures.push_back(path + ": " + FailureText());
}

void TRemoteSession::Quit()
{
    if (ftp_.Connected())
        ftp_.Quit();
    loggedIn_ = false;
}
