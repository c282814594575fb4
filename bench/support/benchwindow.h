#pragma once

// What the benchmarks that drive the main window share: their option
// lines, a run kept away from the user's settings, prompts that nobody
// answers, and opening the window's session.

#include "ui/unattendedprompts.h"

#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

class TFormMain;

namespace benchsupport {

// Reads "--name value" options from argv[first] on. `flags` name the
// options that take no value; `take` receives them with an empty value and
// returns false for an option it does not know. Returns nullptr, or why the
// line is wrong.
const char* ReadOptions(int argc, char** argv, int first, const std::vector<std::string>& flags,
                        const std::function<bool(const std::string& name, const std::string& value)>& take);

// Prints "<program>: <why>" and the usage line (the program and its
// `options`) to stderr; returns the exit status of a wrong command line, 2.
int Usage(const char* program, const char* why, const char* options);

// A temporary folder for the window's settings (XDG_CONFIG_HOME) and its
// files (TARVIK_HOME), so a run neither reads nor changes the user's; also
// picks the offscreen platform when none is set. Made before the
// application object.
class TWindowSandbox {
public:
    TWindowSandbox();
    bool IsValid() const { return dir_.isValid(); }
    QString Path() const { return dir_.path(); }
    QString ConfigPath() const { return dir_.path() + QStringLiteral("/config"); }

private:
    QTemporaryDir dir_;
};

// Unattended prompts and no shell while it lives.
class TUnattendedRun {
public:
    TUnattendedRun();
    ~TUnattendedRun();
    TUnattendedRun(const TUnattendedRun&) = delete;
    TUnattendedRun& operator=(const TUnattendedRun&) = delete;
    const TUnattendedPrompts& Prompts() const { return prompts_; }

private:
    TUnattendedPrompts prompts_;
    TNoShell shell_;
};

// Fills the window's session fields and opens the session; false, with the
// window's log on stderr after `program`, when it did not connect.
bool OpenWindowSession(TFormMain& form, const QString& host, const QString& port, const QString& user,
                       const QString& password, bool passive, const char* program);

double Seconds(std::chrono::steady_clock::duration d);
// User and system CPU time of this process so far.
double CpuSeconds();
// Runs the event loop for `ms` milliseconds.
void Settle(int ms);

} // namespace benchsupport
