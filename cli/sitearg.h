#pragma once

// --site NAME: the host, port, user, password and passive choice of a
// profile the main window stored in "Accounts.dat". The file is only read.
// A password the file does not keep is taken from the desktop keyring,
// where the main window puts it when one runs.

#include "cli/cliargs.h"

#include <string>

// The folder holding "Accounts.dat": the main window's application folder
// ($TARVIK_HOME when set).
std::string SiteAccountFolder();

// Fills `args` from profile `args.site` in the account file of `folder`:
// the host always, the user and password unless options gave them, passive
// when the profile says so. False with the reason when there is no such
// profile.
bool ApplySiteProfile(TCliArgs& args, const std::string& folder, std::string& error);
