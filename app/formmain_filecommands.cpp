// Remote file and directory commands: delete, rename, create, change,
// permissions, raw commands and viewing a remote file.

#include "app/formmain.h"

#include "app/busycursor.h"
#include "app/listview.h"
#include "dialogs/chmod.h"
#include "ui/prompts.h"
#include "ftp/ftpclient.h"
#include "platform/application.h"

#include <QDir>
#include <QTemporaryDir>
#include <QUrl>

namespace {

QStringList Names(const TListView* list)
{
    QStringList names;
    for (const int row : list->SelectedRows())
        names.append(TFormMain::ItemName(list, row));
    return names;
}

} // namespace

void TFormMain::RemoteFile1Click()
{
    const QStringList names = Names(RemoteFiles);
    if (names.isEmpty()) {
        ShowMessageBox(QStringLiteral("File Delete Error"), QStringLiteral("You didn't select any files to delete!"),
                       0);
        return;
    }
    bool ask = true;
    for (const QString& name : names) {
        if (ask) {
            Prompts().Beep();
            const QMessageBox::StandardButton answer = Prompts().Question(
                this, QStringLiteral("Confirm"),
                QStringLiteral("Are you sure you want to delete the selected file(files)?"),
                QMessageBox::Yes | QMessageBox::No | QMessageBox::YesToAll, QMessageBox::Yes, QMessageBox::Cancel);
            if (answer == QMessageBox::No)
                continue;
            if (answer != QMessageBox::Yes)
                ask = false;
        }
        const TBusyCursor busy;
        FTPC1->SetHostFileName(name.toStdString());
        RunRequest(&TFtpClient::Dele);
    }
    RequestRemoteListing();
}

void TFormMain::RemoteFile2Click()
{
    const QStringList names = Names(RemoteFiles);
    if (names.isEmpty()) {
        ShowMessageBox(QStringLiteral("File Rename Error"), QStringLiteral("You didn't select a file to rename!"), 0);
        return;
    }
    if (names.size() > 1) {
        Prompts().Beep();
        ShowMessageBox(QStringLiteral("File Rename Error"), QStringLiteral("You can only rename one file at a time!"),
                       0);
        return;
    }
    const QString& old = names.front();
    QString answer;
    if (!Prompts().Input(this, QStringLiteral("Rename File"),
                         QStringLiteral("New name for the file \"") + old + QStringLiteral("\":"), answer))
        answer.clear();
    if (answer.isEmpty() || answer == old)
        return;
    const TBusyCursor busy;
    FTPC1->SetLocalFileName(answer.toStdString());
    FTPC1->SetHostFileName(old.toStdString());
    RunRequest(&TFtpClient::Ren);
}

void TFormMain::RemoteDirectory2Click()
{
    const QStringList names = Names(RemoteDirs);
    if (names.isEmpty()) {
        ShowMessageBox(QStringLiteral("Rename Directory Error"),
                       QStringLiteral("You didn't select a directory to rename!"), 0);
        return;
    }
    if (names.size() > 1) {
        Prompts().Beep();
        ShowMessageBox(QStringLiteral("Rename Directory Error"),
                       QStringLiteral("You can only rename one directory at a time!"), 0);
        return;
    }
    const QString& old = names.front();
    QString answer;
    if (!Prompts().Input(this, QStringLiteral("Rename Directory"),
                         QStringLiteral("New name for directory \"") + old + QStringLiteral("\":"), answer))
        answer.clear();
    if (answer.isEmpty())
        return;
    const TBusyCursor busy;
    FTPC1->SetLocalFileName(answer.toStdString());
    FTPC1->SetHostFileName(old.toStdString());
    RunRequest(&TFtpClient::Ren);
}

void TFormMain::ChangeDirectory1Click()
{
    const QStringList names = Names(RemoteDirs);
    if (names.size() > 1) {
        ShowMessageBox(QStringLiteral("Change Directory Error"),
                       QStringLiteral("You can only select one remote directory as a root!"), 0);
        return;
    }
    QString answer = names.isEmpty() ? RemoteDir : names.front();
    const QString initial = answer;
    if (!Prompts().Input(this, QStringLiteral("Change Directory"), QStringLiteral("Directory to change to:"), answer))
        answer = initial;
    if (answer.isEmpty())
        return;
    const TBusyCursor busy;
    FTPC1->SetHostDirName(answer.toStdString());
    RunRequest(&TFtpClient::Cwd);
}

void TFormMain::RemoteDirectory1Click()
{
    if (RemoteDirs->SelCount() == 0) {
        ShowMessageBox(QStringLiteral("Delete Directory Error"),
                       QStringLiteral("You can not delete the current working directory!"), 0);
        return;
    }
    Prompts().Beep();
    const QMessageBox::StandardButton answer = Prompts().Question(
        this, QStringLiteral("Confirm"), QStringLiteral("Are you sure you want to delete the selected directories?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    // The names first: each removal is followed by a fresh listing, which
    // replaces the items and their selection.
    for (const QString& name : Names(RemoteDirs)) {
        const TBusyCursor busy;
        FTPC1->SetHostFileName(name.toStdString());
        RunRequest(&TFtpClient::Rmd);
    }
}

void TFormMain::Remote1Click()
{
    QString answer;
    if (!Prompts().Input(this, QStringLiteral("Create Directory"), QStringLiteral("Directory to Create:"), answer))
        answer.clear();
    if (answer.isEmpty())
        return;
    const TBusyCursor busy;
    FTPC1->SetHostFileName(answer.toStdString());
    RunRequest(&TFtpClient::Mkd);
}

// Shows the permission dialog, starting from the mode every selected item
// of `list` has in the listing (the dialog's default when the listing gave
// none or the items differ); false when it was cancelled or left no mode.
bool TFormMain::AskChmodMode(const TListView* list, QString& mode)
{
    TFormMod form(this);
    int common = -1;
    for (const int row : list->SelectedRows()) {
        const int itemMode = list->Items()->Item(row).Mode;
        if (itemMode < 0 || (common >= 0 && itemMode != common)) {
            common = -1;
            break;
        }
        common = itemMode;
    }
    if (common >= 0)
        form.SetMode(common);
    form.exec();
    mode = form.ModeText;
    return !form.Cancelled && !mode.isEmpty();
}

void TFormMain::CHMODFile1Click()
{
    if (RemoteFiles->SelCount() == 0) {
        ShowMessageBox(QStringLiteral("CHMOD Error"), QStringLiteral("You didn't select a file to CHMOD!"), 0);
        return;
    }
    QString mode;
    if (!AskChmodMode(RemoteFiles, mode))
        return;
    // The names first: the listing that follows replaces the items.
    for (const QString& name : Names(RemoteFiles)) {
        const TBusyCursor busy;
        FTPC1->SetLocalFileName((QStringLiteral("SITE chmod ") + mode + QLatin1Char(' ') + name).toStdString());
        RunRequest(&TFtpClient::Quote);
    }
    RequestRemoteListing();
}

void TFormMain::CHMODDirectory1Click()
{
    if (RemoteDirs->SelCount() == 0) {
        ShowMessageBox(QStringLiteral("CHMOD Error"), QStringLiteral("You didn't select a file to CHMOD!"), 0);
        return;
    }
    QString mode;
    if (!AskChmodMode(RemoteDirs, mode))
        return;
    for (const QString& name : Names(RemoteDirs)) {
        const TBusyCursor busy;
        FTPC1->SetLocalFileName((QStringLiteral("SITE chmod ") + mode + QLatin1Char(' ') + name).toStdString());
        RunRequest(&TFtpClient::Quote);
    }
}

void TFormMain::SendCommand1Click()
{
    QString answer;
    if (!Prompts().Input(this, QStringLiteral("Send direct command"),
                         QStringLiteral("Type in a command to send to the server:"), answer))
        answer.clear();
    if (answer.isEmpty())
        return;
    const TBusyCursor busy;
    FTPC1->SetLocalFileName(answer.toStdString());
    RunRequest(&TFtpClient::Quote);
}

void TFormMain::ViewRemoteFile1Click()
{
    const QStringList names = Names(RemoteFiles);
    if (names.isEmpty()) {
        ShowMessageBox(QStringLiteral("View File Error"), QStringLiteral("You didn't select a file to view!"), 0);
        return;
    }
    if (names.size() > 1) {
        ShowMessageBox(QStringLiteral("View File Error"),
                       QStringLiteral("You can only select one file to view at a time!"), 0);
        return;
    }
    const QString& name = names.front();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString extension = dot >= 0 ? name.mid(dot) : QString();
    // The copy goes into a folder of the program's own, never among the
    // user's files; the folder goes when the program ends.
    if (!viewFolder_) {
        viewFolder_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tarvik-view-XXXXXX"));
        if (!viewFolder_->isValid()) {
            viewFolder_.reset();
            ShowMessageBox(QStringLiteral("View File Error"),
                           QStringLiteral("No temporary folder could be made for the copy to view."), 0);
            return;
        }
    }
    // The copy's name is made of the remote one: both must be harmless.
    QString unused;
    QString temp;
    const bool safe = SafeLocalPath(viewFolder_->path(), name, unused) &&
                      SafeLocalPath(viewFolder_->path(), QStringLiteral("ftp_temp") + extension, temp);
    if (safe && !CancelTransfer) {
        bool received = false;
        {
            const TBusyCursor busy;
            received = ReceiveAFile(name, temp);
        }
        if (received && !Shell().Open(QUrl::fromLocalFile(temp)))
            ShowMessageBox(QStringLiteral("View File"),
                           QStringLiteral("No application is set up to open \"") + name +
                               QStringLiteral("\". A copy was saved as \"") + temp + QStringLiteral("\"."),
                           2);
        Application::ProcessMessages();
    }
    CancelTransfer = false;
}
