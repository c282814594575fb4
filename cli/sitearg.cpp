#include "cli/sitearg.h"

#include "platform/appfolder.h"
#include "profiles/passwordvault.h"
#include "profiles/registryset.h"

#include <algorithm>
#include <vector>

std::string SiteAccountFolder() { return appfolder::ApplicationFolder().toStdString(); }

bool ApplySiteProfile(TCliArgs& args, const std::string& folder, std::string& error)
{
    const TRegistrySet store(folder);
    std::vector<std::string> names;
    store.GetProfileNames(names);
    if (std::find(names.begin(), names.end(), args.site) == names.end()) {
        error = "no stored site named \"" + args.site + "\" in " + store.FileName();
        return false;
    }
    TSiteFields fields;
    store.LoadQuickConnect(args.site, fields);
    std::vector<std::string> profile;
    store.LoadProfile(profile, args.site);
    const bool anonymous = profile.size() >= 8 && profile[7] == "true";
    if (fields.SiteHost.empty()) {
        error = "the stored site \"" + args.site + "\" names no host";
        return false;
    }
    args.host = fields.SiteHost;
    args.port = fields.SitePort;
    args.passive = args.passive || fields.SitePassive;
    if (args.userGiven)
        return true;
    args.userGiven = true;
    args.user = anonymous ? "anonymous" : fields.SiteUser;
    if (args.passwordGiven)
        return true;
    std::string password = fields.SitePassword;
    if (password.empty() && !anonymous) {
        const auto stored = passwordvault::Read(QString::fromStdString(store.FileName()),
                                                QString::fromStdString(args.site));
        if (stored)
            password = stored->toStdString();
    }
    if (password.empty() && anonymous)
        password = "anonymous@";
    if (!password.empty()) {
        args.password = password;
        args.passwordGiven = true;
    }
    return true;
}
