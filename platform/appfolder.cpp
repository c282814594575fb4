#include "platform/appfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace appfolder {
namespace {

QString ExecutableFolder()
{
    // applicationDirPath needs an application object; without one (a tool
    // linked in early) fall back to the running process image.
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(QLatin1Char('/'), 0, -2);
}

bool IsWritableFolder(const QString& folder)
{
    const QFileInfo info(folder);
    return !folder.isEmpty() && info.isDir() && info.isWritable();
}

} // namespace

QString ResolveApplicationFolder(const QString& tarvikHome, const QString& executableFolder, const QString& xdgDataHome,
                                 const QString& homeFolder)
{
    if (!tarvikHome.isEmpty())
        return QDir::cleanPath(QDir(tarvikHome).absolutePath());
    if (IsWritableFolder(executableFolder))
        return QDir::cleanPath(executableFolder);
    // The XDG rules ignore a relative XDG_DATA_HOME.
    QString base = xdgDataHome;
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = homeFolder + QStringLiteral("/.local/share");
    return QDir::cleanPath(base + QStringLiteral("/tarvik"));
}

QString ApplicationFolder()
{
    QString folder = ResolveApplicationFolder(qEnvironmentVariable("TARVIK_HOME"), ExecutableFolder(),
                                              qEnvironmentVariable("XDG_DATA_HOME"), QDir::homePath());
    QDir().mkpath(folder);
    return folder;
}

QString ApplicationFile(const QString& name) { return ApplicationFolder() + QLatin1Char('/') + name; }

} // namespace appfolder
