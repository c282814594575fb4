#include "benchwindow.h"

#include "app/formmain.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPlainTextEdit>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

namespace benchsupport {

int Usage(const char* program, const char* why, const char* options)
{
    std::fprintf(stderr, "%s: %s\nusage: %s %s\n", program, why, program, options);
    return 2;
}

const char* ReadOptions(int argc, char** argv, int first, const std::vector<std::string>& flags,
                        const std::function<bool(const std::string& name, const std::string& value)>& take)
{
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        if (std::find(flags.begin(), flags.end(), arg) != flags.end()) {
            if (!take(arg, std::string()))
                return "unknown option";
            continue;
        }
        if (i + 1 >= argc)
            return "an option lacks its value";
        const std::string value = argv[++i];
        if (!take(arg, value))
            return "unknown option";
    }
    return nullptr;
}

TWindowSandbox::TWindowSandbox()
{
    if (!dir_.isValid())
        return;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(ConfigPath()));
    qputenv("TARVIK_HOME", QFile::encodeName(dir_.path() + QStringLiteral("/home")));
    QDir().mkpath(dir_.path() + QStringLiteral("/home"));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

TUnattendedRun::TUnattendedRun()
{
    SetPrompts(&prompts_);
    SetShell(&shell_);
}

TUnattendedRun::~TUnattendedRun()
{
    SetPrompts(nullptr);
    SetShell(nullptr);
}

bool OpenWindowSession(TFormMain& form, const QString& host, const QString& port, const QString& user,
                       const QString& password, bool passive, const char* program)
{
    form.SiteHost = host;
    form.SitePort = port;
    form.SiteUser = user;
    form.SitePassword = password;
    form.SitePassive = passive;
    form.OpenSession();
    if (form.IsConnected())
        return true;
    std::fprintf(stderr, "%s: not connected\n%s\n", program, qPrintable(form.Memo1->toPlainText()));
    return false;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void Settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace benchsupport
