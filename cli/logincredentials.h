#pragma once

// Where tarvik-ftp's login comes from, first match first: --user and
// --password, the ftp:// URL, $TARVIK_PASSWORD, the stored site (--site),
// ~/.netrc, and finally an anonymous login.

#include "cli/cliargs.h"
#include "transfers/transfertypes.h"

#include <string>

// Completes `args` from the stored site and ~/.netrc. False with the
// reason when the site is unknown or ~/.netrc may not be used.
bool ResolveCredentials(TCliArgs& args, std::string& error);

// The site the transfer sessions log in to, from resolved arguments.
TTransferSite TransferSiteFromArgs(const TCliArgs& args);
