// The transfer queue in the main window: the pane beside the log, folder
// downloads and uploads queued as whole trees, the same-name question for
// queued items, the overall figures in the status bar, and the queue kept
// over a restart (saved on exit, offered at the next start).

#include "app/formmain.h"

#include "platform/appfolder.h"
#include "app/listformat.h"
#include "app/listview.h"
#include "app/queuecontrol.h"
#include "app/queuepane.h"
#include "app/queuesettingsform.h"
#include "ui/prompts.h"
#include "ftp/ftpclient.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>

namespace {

QString QueueFile() { return appfolder::ApplicationFile(QStringLiteral("TransferQueue.json")); }

QString Text(const std::string& bytes) { return QString::fromUtf8(bytes.data(), qsizetype(bytes.size())); }

} // namespace

QWidget* TFormMain::CreateQueuePane()
{
    Splitter4 = new QSplitter(Qt::Horizontal);
    Splitter4->setObjectName(QStringLiteral("Splitter4"));
    Splitter4->setHandleWidth(3);
    Splitter4->setChildrenCollapsible(false);
    QueuePane = new TQueuePane;
    // The log decides how low the bottom row may go, not the tab bar.
    QueuePane->setMinimumHeight(30);
    Splitter4->addWidget(Memo1);
    Splitter4->addWidget(QueuePane);
    Splitter4->setStretchFactor(0, 1);
    Splitter4->setStretchFactor(1, 1);

    StatusQueue = new QLabel;
    StatusQueue->setObjectName(QStringLiteral("StatusQueue"));
    StatusQueue->setTextFormat(Qt::PlainText);
    statusBar()->addPermanentWidget(StatusQueue);

    queue_.reset(new TQueueControl(QueuePane, StoredQueueSettings()));
    queue_->OnConflict = [this](const TConflictQuestion& question) { return QueueConflict(question); };
    queue_->OnLog = [this](const std::string& text) {
        // The runner's own lines; the sessions' dialogue ("[n] ...") would
        // bury the browsing session's in the log.
        if (!text.empty() && text[0] != '[')
            Log(QStringLiteral(".. ") + Text(text));
    };
    queue_->OnFinished = [this](bool ok) { QueueFinished(ok); };
    queue_->OnRunningChanged = [this](bool) { ShowQueueStatus(); };
    connect(QueuePane, &TQueuePane::Refreshed, this, &TFormMain::ShowQueueStatus);
    connect(QueuePane, &TQueuePane::StartRequested, this, &TFormMain::StartQueue);
    connect(QueuePane, &TQueuePane::StopRequested, this, [this] { queue_->Stop(); });
    connect(QueuePane, &TQueuePane::RemoveRequested, this,
            [this](const std::vector<TTransferId>& ids) { queue_->Remove(ids); });
    connect(QueuePane, &TQueuePane::MoveToTopRequested, this,
            [this](const std::vector<TTransferId>& ids) { queue_->MoveToTop(ids); });
    connect(QueuePane, &TQueuePane::RetryRequested, this, [this](const std::vector<TTransferId>& ids) {
        queue_->Retry(ids);
        if (!queue_->Running())
            StartQueue();
    });
    // Once the window runs: the question belongs after the window appeared.
    QTimer::singleShot(0, this, [this] { OfferSavedQueue(); });
    return Splitter4;
}

void TFormMain::QueueSettings1Click()
{
    TFormQueueSettings form(this);
    if (form.exec() != QDialog::Accepted)
        return;
    const TTransferSettings settings = StoredQueueSettings();
    queue_->SetSettings(settings);
    Log(QStringLiteral(".. Transfer queue: ") + QString::number(settings.Connections) +
        QStringLiteral(" connection(s) per site, ") + QString::number(settings.MaxRetries) +
        QStringLiteral(" retries") + (queue_->Running() ? QStringLiteral(" from the next start") : QString()));
}

void TFormMain::TQueueControlDeleter::operator()(TQueueControl* control) const { delete control; }

TTransferQueue& TFormMain::TransferQueue() { return queue_->Queue(); }

bool TFormMain::QueueIdle() const { return !queue_->Queue().HasUnfinished() && !queue_->Running(); }

bool TFormMain::QueueSite(TTransferSite& site)
{
    if (!IsConnected()) {
        ShowMessageBox(QStringLiteral("No Connection"),
                       QStringLiteral("Connect to the site first: the transfer queue logs in with the session's "
                                      "settings."),
                       0);
        return false;
    }
    site.Host = SiteHost.toStdString();
    site.Port = SitePort.toStdString();
    site.User = SiteUser.toStdString();
    site.Password = SitePassword.toStdString();
    site.Passive = SitePassive;
    site.Encoding = FTPC1->ServerEncoding();
    // The workers protect what the browsing session protects, and accept the
    // certificate the user accepted for it.
    site.Encryption = TTransferEncryption(FTPC1->Encryption());
    site.PreserveTimes = FTPC1->PreserveTimes();
    site.SslCAFile = FTPC1->SslCAFile();
    site.SslVerifyPeer = FTPC1->SslVerifyPeer();
    site.TrustedFingerprint = FTPC1->TlsAcceptedFingerprint();
    if (!queue_->Accepts(site)) {
        ShowMessageBox(QStringLiteral("Transfer Queue"),
                       QStringLiteral("The transfer queue still holds transfers of another site (") +
                           Text(queue_->SiteKey().User) + QLatin1Char('@') + Text(queue_->SiteKey().Host) +
                           QLatin1Char(':') + Text(queue_->SiteKey().Port) +
                           QStringLiteral("). Let them finish or remove them first."),
                       0);
        return false;
    }
    queue_->SetSite(site);
    return true;
}

QString TFormMain::AbsoluteRemotePath(const QString& name) const
{
    const QString dir = RemoteDir.isEmpty() ? QStringLiteral("/") : RemoteDir;
    return dir.endsWith(QLatin1Char('/')) ? dir + name : dir + QLatin1Char('/') + name;
}

void TFormMain::DownloadDirectory1Click()
{
    QStringList names;
    for (const int row : RemoteDirs->SelectedRows()) {
        const QString name = ItemName(RemoteDirs, row);
        if (name != QLatin1String(".") && name != QLatin1String(".."))
            names.append(name);
    }
    if (names.isEmpty()) {
        ShowMessageBox(QStringLiteral("Directory Download Error"),
                       QStringLiteral("You didn't select any directories to download!"), 0);
        return;
    }
    if (!RemoteDir.startsWith(QLatin1Char('/'))) {
        Log(QStringLiteral("Error: The current remote directory is not known"));
        return;
    }
    QString target = FolderPrefix();
    Prompts().Beep();
    const QMessageBox::StandardButton answer = Prompts().Question(
        this, QStringLiteral("Confirm"),
        QStringLiteral("Do you want the selected directories to be saved in the directory \" ") + target +
            QStringLiteral(" ?"),
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes, QMessageBox::Cancel);
    if (answer == QMessageBox::Cancel)
        return;
    if (answer == QMessageBox::No) {
        target = Prompts().SelectFolder(this, QStringLiteral("Select a folder"), target);
        if (target.isEmpty())
            return;
        QDir().mkpath(target);
    }
    while (target.size() > 1 && target.endsWith(QLatin1Char('/')))
        target.chop(1);
    if (target.isEmpty() || !QFileInfo(target).isDir()) {
        ShowMessageBox(QStringLiteral("Directory Download Error"),
                       QStringLiteral("Select the local folder to download into first!"), 0);
        return;
    }
    TTransferSite site;
    if (!QueueSite(site))
        return;
    std::vector<std::string> folders;
    for (const QString& name : names)
        folders.push_back(AbsoluteRemotePath(name).toStdString());
    std::vector<std::string> errors;
    const int added = queue_->AddDownloads(folders, {}, QFile::encodeName(target).toStdString(), errors);
    for (const std::string& error : errors)
        Log(QStringLiteral("Error: ") + Text(error));
    if (added > 0) {
        Log(QStringLiteral(".. Queued ") + QString::number(added) + QStringLiteral(" folder(s) for download"));
        StartQueue();
    }
}

void TFormMain::QueueUploadFolder(const QString& folder)
{
    QString path = folder;
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    if (path.isEmpty() || !QFileInfo(path).isDir())
        return;
    if (!RemoteDir.startsWith(QLatin1Char('/'))) {
        Log(QStringLiteral("Error: The current remote directory is not known"));
        return;
    }
    TTransferSite site;
    if (!QueueSite(site))
        return;
    std::vector<std::string> errors;
    const int added = queue_->AddUploads({QFile::encodeName(path).toStdString()}, RemoteDir.toStdString(), errors);
    for (const std::string& error : errors)
        Log(QStringLiteral("Error: ") + Text(error));
    if (added > 0) {
        Log(QStringLiteral(".. Queued the folder \"") + path + QStringLiteral("\" for upload"));
        StartQueue();
    }
}

void TFormMain::StartQueue()
{
    if (!queue_->HasPassword()) {
        // A queue loaded from the last session: it needs a session to the
        // same site for the password and the settings.
        TTransferSite site;
        const TQueueSiteKey key = queue_->SiteKey();
        const bool sameSite = IsConnected() && key == TQueueSiteKey{SiteHost.toStdString(), SitePort.toStdString(),
                                                                    SiteUser.toStdString()};
        if (!sameSite) {
            ShowMessageBox(QStringLiteral("Transfer Queue"),
                           QStringLiteral("Connect to ") + Text(key.User) + QLatin1Char('@') + Text(key.Host) +
                               QLatin1Char(':') + Text(key.Port) + QStringLiteral(" to run the transfer queue."),
                           0);
            return;
        }
        if (!QueueSite(site))
            return;
    }
    queue_->Start();
    ShowQueueStatus();
}

void TFormMain::QueueSessionOpened()
{
    // A queue loaded from the last session runs again once the same site
    // is connected.
    if (!queue_ || queue_->HasPassword() || !queue_->HasSite() || !queue_->Queue().HasUnfinished() || !IsConnected())
        return;
    const TQueueSiteKey key = queue_->SiteKey();
    if (!(key == TQueueSiteKey{SiteHost.toStdString(), SitePort.toStdString(), SiteUser.toStdString()}))
        return;
    Log(QStringLiteral(".. Resuming the transfer queue of the last session"));
    StartQueue();
}

void TFormMain::QueueFinished(bool ok)
{
    ShowQueueStatus();
    SetLocalFiles();
    // The remote panes show what was sent, unless the browsing session is
    // busy with a command of the user's (it lists again afterwards anyway).
    if (IsConnected() && FTPC1->State() == ftpReady)
        RequestRemoteListing();
    // After the listing, which writes its own figures there.
    const TTransferTotals totals = queue_->Queue().Totals();
    SetStatusText(1, ok ? QStringLiteral("Transfer queue finished")
                        : QStringLiteral("Transfer queue finished: ") +
                              QString::number(totals.Failed + totals.Skipped) +
                              QStringLiteral(" transfer(s) failed or skipped"));
}

void TFormMain::ShowQueueStatus()
{
    if (StatusQueue && queue_)
        StatusQueue->setText(queue_->StatusText());
}

TConflictAnswer TFormMain::QueueConflict(const TConflictQuestion& question)
{
    TConflictAnswer result;
    result.Action = TConflictAction::Skip;
    if (!question.Item)
        return result;
    const bool upload = question.Item->Direction == TTransferDirection::Upload;
    const QString target = Text(question.TargetPath);
    const QString name = target.mid(target.lastIndexOf(QLatin1Char('/')) + 1);
    const QString where = upload ? QStringLiteral("on the remote host")
                                 : QStringLiteral("in \"") + target.left(target.lastIndexOf(QLatin1Char('/')) + 1) +
                                       QLatin1Char('"');
    QString text = QStringLiteral("The file \"") + name + QStringLiteral("\" already exists ") + where +
                   QLatin1Char('.');
    if (question.TargetSize >= 0)
        text += QStringLiteral("\nExisting file: ") + SizeText(question.TargetSize) + QStringLiteral(" bytes");
    if (question.SourceSize >= 0)
        text += QStringLiteral("\nNew file: ") + SizeText(question.SourceSize) + QStringLiteral(" bytes");
    Prompts().Beep();
    bool applyToAll = false;
    const TSameNameAnswer answer = Prompts().SameName(this, QStringLiteral("File Exists"), text, question.CanResume,
                                                      applyToAll);
    result.ApplyToAll = applyToAll;
    switch (answer) {
    case TSameNameAnswer::Overwrite:
        result.Action = TConflictAction::Overwrite;
        break;
    case TSameNameAnswer::Resume:
        result.Action = TConflictAction::Resume;
        break;
    case TSameNameAnswer::Skip:
        result.Action = TConflictAction::Skip;
        break;
    case TSameNameAnswer::Rename: {
        QString renamed = name;
        if (!Prompts().Input(this, QStringLiteral("Rename"),
                             QStringLiteral("New name for \"") + name + QStringLiteral("\":"), renamed) ||
            renamed.isEmpty() || renamed == name)
            break;
        result.Action = TConflictAction::Rename;
        result.NewName = renamed.toStdString();
        break;
    }
    }
    return result;
}

bool TFormMain::QueueMayClose()
{
    if (!queue_ || !queue_->Queue().HasUnfinished())
        return true;
    const TTransferTotals totals = queue_->Queue().Totals();
    Prompts().Beep();
    const QMessageBox::StandardButton answer = Prompts().Question(
        this, QStringLiteral("Warning"),
        QStringLiteral("The transfer queue still holds ") + QString::number(totals.Queued + totals.Active) +
            QStringLiteral(" transfer(s). Are you sure you want to exit?\n"
                           "The queue is saved and offered again at the next start."),
        QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::Cancel, QMessageBox::Cancel, QMessageBox::Warning);
    return answer == QMessageBox::Yes;
}

void TFormMain::QueueClosing()
{
    if (!queue_)
        return;
    queue_->Stop();
    const QString path = QueueFile();
    if (!queue_->Queue().HasUnfinished()) {
        QFile::remove(path);
        return;
    }
    // What arrived needs no second offer; failures stay to be retried.
    queue_->Queue().RemoveFinished(TTransferState::Done);
    std::string error;
    if (!queue_->Save(path, error))
        ShowMessageBox(QStringLiteral("Transfer Queue"),
                       QStringLiteral("The transfer queue could not be saved: ") + Text(error), 4);
}

void TFormMain::OfferSavedQueue()
{
    const QString path = QueueFile();
    if (!QFileInfo::exists(path) || queue_->Queue().HasUnfinished())
        return;
    TQueueControl probe(nullptr, queue_->Settings());
    std::string error;
    if (!probe.Load(path, error)) {
        Log(QStringLiteral("Error: ") + Text(error));
        return;
    }
    const TTransferTotals totals = probe.Queue().Totals();
    const TQueueSiteKey key = probe.SiteKey();
    Prompts().Beep();
    const QMessageBox::StandardButton answer = Prompts().Question(
        this, QStringLiteral("Transfer Queue"),
        QStringLiteral("The last session left ") + QString::number(totals.Queued + totals.Active) +
            QStringLiteral(" unfinished transfer(s) for ") + Text(key.User) + QLatin1Char('@') + Text(key.Host) +
            QLatin1Char(':') + Text(key.Port) +
            QStringLiteral(".\nYes: load them into the queue (they run once that site is connected)\n"
                           "No: discard them\nCancel: ask again at the next start"),
        QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes, QMessageBox::Cancel);
    if (answer == QMessageBox::No) {
        QFile::remove(path);
        return;
    }
    if (answer != QMessageBox::Yes)
        return;
    if (!queue_->Load(path, error)) {
        Log(QStringLiteral("Error: ") + Text(error));
        return;
    }
    Log(QStringLiteral(".. Loaded ") + QString::number(totals.Items) +
        QStringLiteral(" transfer(s) of the last session"));
    ShowQueueStatus();
    QueueSessionOpened();
}
