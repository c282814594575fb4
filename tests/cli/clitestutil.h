#pragma once

// Running tarvik-ftp as a program for the CLI tests, with the shared file
// helpers.

#include "support/testfiles.h"

#include <QProcessEnvironment>
#include <QStringList>

#include <string>

namespace clitest {

using testsupport::RandomBytes;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs tarvik-ftp in `folder` with `args`; `env` replaces the environment
// when not empty. A program that crashed or did not end in time gives -1.
Result RunFtp(const std::string& folder, const QStringList& args, const QProcessEnvironment& env = {});

// The environment with TARVIK_PASSWORD and NETRC removed and HOME set to
// `home` (so the user's own ~/.netrc and keyring stay out of the tests).
QProcessEnvironment CleanEnvironment(const std::string& home);

} // namespace clitest
