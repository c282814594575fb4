#pragma once

// Running tarvik-ftp as a program for the mirror, multi-file, URL, netrc
// and --site tests.

#include <QProcessEnvironment>
#include <QStringList>

#include <string>

namespace clitest {

struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs tarvik-ftp in `folder` with `args`; `env` replaces the environment
// when not empty.
Result RunFtp(const std::string& folder, const QStringList& args, const QProcessEnvironment& env = {});

// The environment with TARVIK_PASSWORD and NETRC removed and HOME set to
// `home` (so the user's own ~/.netrc and keyring stay out of the tests).
QProcessEnvironment CleanEnvironment(const std::string& home);

std::string Slurp(const std::string& path);
void Spit(const std::string& path, const std::string& bytes);

} // namespace clitest
