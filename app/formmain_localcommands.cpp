// Local file and folder commands: delete, rename, create and view.

#include "app/formmain.h"

#include "app/listview.h"
#include "ui/prompts.h"
#include "platform/application.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTreeView>
#include <QUrl>

#include <cstdio>

namespace {

QStringList Captions(const TListView* list)
{
    QStringList captions;
    for (const int row : list->SelectedRows())
        captions.append(list->Items()->Item(row).Caption);
    return captions;
}

bool RenamePath(const QString& from, const QString& to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

} // namespace

void TFormMain::LocalFile1Click()
{
    const QStringList captions = Captions(List1);
    if (captions.isEmpty()) {
        ShowMessageBox(QStringLiteral("File Error"), QStringLiteral("You didn't select a local file to delete!"), 0);
        return;
    }
    const QString folder = FolderPrefix();
    bool ask = true;
    for (const QString& caption : captions) {
        if (ask) {
            Prompts().Beep();
            const QMessageBox::StandardButton answer = Prompts().Question(
                this, QStringLiteral("Confirm"),
                QStringLiteral("Are you sure you want to delete the file \"") + caption + QStringLiteral("\" ?"),
                QMessageBox::Yes | QMessageBox::No | QMessageBox::YesToAll, QMessageBox::Yes, QMessageBox::Cancel);
            if (answer == QMessageBox::No)
                continue;
            if (answer != QMessageBox::Yes)
                ask = false;
        }
        if (!folder.isEmpty())
            QFile::remove(folder + caption);
    }
    Dir1->viewport()->update();
    Application::ProcessMessages();
    SetLocalFiles();
}

void TFormMain::LocalFile2Click()
{
    const QStringList captions = Captions(List1);
    if (captions.isEmpty()) {
        Prompts().Beep();
        Prompts().Notice(QStringLiteral("Tarvik"), QStringLiteral("You didn't select a local file to rename!"), 0);
        return;
    }
    if (captions.size() > 1) {
        Prompts().Beep();
        Prompts().Notice(QStringLiteral("Tarvik"), QStringLiteral("You can only rename one file at a time!"), 0);
        return;
    }
    const QString old = FolderPrefix() + captions.front();
    QString answer;
    if (!Prompts().Input(this, QStringLiteral("Rename Local File"), QStringLiteral("New name for file:"), answer))
        answer.clear();
    if (!answer.isEmpty()) {
        const QString renamed = FolderPrefix() + answer;
        if (!RenamePath(old, renamed)) {
            Prompts().Beep();
            Prompts().Notice(QStringLiteral("Tarvik"),
                             QStringLiteral("Could not rename file \"") + old + QStringLiteral("\""), 0);
        }
    }
    Dir1->viewport()->update();
    Application::ProcessMessages();
    SetLocalFiles();
}

void TFormMain::Local1Click()
{
    const QString start = FolderPrefix();
    const QString chosen = Prompts().SelectFolder(this, QStringLiteral("Create Local Directory"), start);
    // The folder dialog lets the user type a new folder's name; it is made
    // without asking.
    if (!chosen.isEmpty())
        QDir().mkpath(chosen);
    RefreshDir1();
}

void TFormMain::LocalDirectory1Click()
{
    const QString folder = FolderPrefix();
    Prompts().Beep();
    const QMessageBox::StandardButton answer = Prompts().Question(
        this, QStringLiteral("Confirm"),
        QStringLiteral("Are you sure you want to delete the directory \"") + folder + QStringLiteral("\" ?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, QMessageBox::No);
    if (answer == QMessageBox::Yes) {
        if (folder.isEmpty() || !QDir().rmdir(folder))
            ShowMessageBox(QStringLiteral("Can Not Delete Directory"),
                           QStringLiteral("Could not delete directory , it is either not empty or is the current "
                                          "working directory."),
                           0);
    }
    Application::ProcessMessages();
    RefreshDir1();
    SetLocalFiles();
}

void TFormMain::LocalDirectory2Click()
{
    const QString selected = SelectedFolder();
    if (selected.isEmpty()) {
        Prompts().Beep();
        Prompts().Notice(QStringLiteral("Tarvik"), QStringLiteral("You didn't select a local folder to rename!"), 0);
        return;
    }
    const QString old = FolderPrefix();
    QString answer;
    if (!Prompts().Input(this, QStringLiteral("Rename Local Directory"), QStringLiteral("New name for directory:"),
                         answer))
        answer.clear();
    if (!answer.isEmpty()) {
        // A bare name renames the folder where it stands; a path (absolute,
        // or relative with a folder in it) moves it there as typed.
        const QString cleanOld = QDir::cleanPath(selected);
        const QString renamed = answer.contains(QLatin1Char('/'))
                                    ? answer
                                    : QFileInfo(cleanOld).path() + QLatin1Char('/') + answer;
        if (!RenamePath(cleanOld, renamed)) {
            Prompts().Beep();
            Prompts().Notice(QStringLiteral("Tarvik"),
                             QStringLiteral("Could not rename directory \"") + old + QStringLiteral("\""), 0);
        } else {
            RefreshDir1();
            SelectFolder(QFileInfo(renamed).absoluteFilePath());
        }
    }
    Dir1->viewport()->update();
    Application::ProcessMessages();
    SetLocalFiles();
}

void TFormMain::ViewLocalFile1Click()
{
    const QStringList captions = Captions(List1);
    if (captions.isEmpty()) {
        Prompts().Beep();
        Prompts().Notice(QStringLiteral("Tarvik"), QStringLiteral("You didn't select a file to view!"), 2);
        return;
    }
    if (captions.size() > 1) {
        Prompts().Beep();
        Prompts().Notice(QStringLiteral("Tarvik"), QStringLiteral("You can only select one file to view at a time!"),
                         2);
        return;
    }
    Shell().Open(QUrl::fromLocalFile(FolderPrefix() + captions.front()));
    Application::ProcessMessages();
}
