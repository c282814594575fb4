#include "ui/helpfile.h"

#include "ui/prompts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace {

QStringList& OverrideFolders()
{
    static QStringList folders;
    return folders;
}

} // namespace

QString THelpFile::FileName() { return QStringLiteral("tarvik.html"); }

QStringList THelpFile::SearchFolders()
{
    if (!OverrideFolders().isEmpty())
        return OverrideFolders();
    const QString exeFolder = QCoreApplication::applicationDirPath();
    QStringList folders;
    folders << exeFolder;
    // Installed: <prefix>/bin/tarvik finds <prefix>/share/tarvik/help.
    folders << QDir::cleanPath(exeFolder + QStringLiteral("/" TARVIK_HELP_INSTALL_RELATIVE));
    // Run from the build tree: the help sources themselves.
    folders << QStringLiteral(TARVIK_HELP_SOURCE_DIR);
    return folders;
}

void THelpFile::SetSearchFolders(const QStringList& folders) { OverrideFolders() = folders; }

QString THelpFile::Locate()
{
    for (const QString& folder : SearchFolders()) {
        const QFileInfo info(QDir(folder).filePath(FileName()));
        if (info.isFile() && info.isReadable())
            return info.absoluteFilePath();
    }
    return {};
}

bool THelpFile::ShowTopic(const QString& topic)
{
    const QString path = Locate();
    if (path.isEmpty()) {
        Prompts().Notice(QStringLiteral("Help"),
                         QStringLiteral("The help file \"%1\" could not be found.\n"
                                        "It belongs beside the program or in its installed data folder:\n%2")
                             .arg(FileName(), SearchFolders().join(QLatin1Char('\n'))),
                         0);
        return false;
    }
    QUrl url = QUrl::fromLocalFile(path);
    if (!topic.isEmpty())
        url.setFragment(topic);
    if (!Shell().Open(url)) {
        Prompts().Notice(QStringLiteral("Help"),
                         QStringLiteral("The help file \"%1\" could not be opened: no web browser is set up "
                                        "for this desktop.")
                             .arg(path),
                         0);
        return false;
    }
    return true;
}
