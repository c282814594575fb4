#include "cli/logincredentials.h"

#include "cli/netrc.h"
#include "cli/sitearg.h"

#include <cstdlib>

bool ResolveCredentials(TCliArgs& args, std::string& error)
{
    if (!args.site.empty() && !ApplySiteProfile(args, SiteAccountFolder(), error))
        return false;
    if (!args.passwordGiven) {
        if (const char* env = std::getenv("TARVIK_PASSWORD")) {
            args.password = env;
            args.passwordGiven = true;
        }
    }
    if (args.userGiven && args.passwordGiven)
        return true;
    std::optional<TNetrcEntry> entry;
    if (!ReadNetrc(NetrcPath(), args.host, args.userGiven ? args.user : std::string(), entry, error))
        return false;
    if (!entry)
        return true;
    if (!args.userGiven) {
        if (!entry->LoginGiven)
            return true; // a password alone says nothing about whose it is
        args.user = entry->Login;
        args.userGiven = true;
    }
    if (!args.passwordGiven && entry->PasswordGiven) {
        args.password = entry->Password;
        args.passwordGiven = true;
    }
    return true;
}

TTransferSite TransferSiteFromArgs(const TCliArgs& args)
{
    TTransferSite site;
    site.Host = args.host;
    site.Port = args.port;
    site.Passive = args.passive;
    if (args.tls == "explicit")
        site.Encryption = TTransferEncryption::ExplicitRequired;
    else if (args.tls == "if-offered")
        site.Encryption = TTransferEncryption::ExplicitIfOffered;
    else if (args.tls == "implicit")
        site.Encryption = TTransferEncryption::Implicit;
    site.SslCAFile = args.cacert;
    site.SslVerifyPeer = !args.insecure;
    // As for single commands: the authorities decide, not the desktop's
    // stored answers.
    site.SslUseTrustStore = false;
    site.PreserveTimes = !args.noPreserve;
    site.User = args.userGiven ? args.user : "anonymous";
    if (args.passwordGiven)
        site.Password = args.password;
    else if (!args.userGiven)
        site.Password = "anonymous@";
    return site;
}
