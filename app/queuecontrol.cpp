#include "app/queuecontrol.h"

#include "app/queuepane.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <algorithm>

namespace {

QString Megabytes(std::int64_t bytes) { return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 1); }

} // namespace

TQueueControl::TQueueControl(TQueuePane* pane, const TTransferSettings& settings) : pane_(pane), settings_(settings)
{
    if (pane_)
        pane_->SetQueue(&queue_);
}

TQueueControl::~TQueueControl()
{
    if (pane_)
        pane_->Detach();
    runner_.reset();
}

bool TQueueControl::Accepts(const TTransferSite& site) const
{
    if (!queue_.HasUnfinished() || !HasSite())
        return true;
    return siteKey_ == TQueueSiteKey{site.Host, site.Port, site.User};
}

void TQueueControl::SetSite(const TTransferSite& site)
{
    const TQueueSiteKey key{site.Host, site.Port, site.User};
    const bool same = key == siteKey_ && havePassword_ && site.Password == site_.Password &&
                      site.Passive == site_.Passive && site.Encoding == site_.Encoding;
    siteKey_ = key;
    site_ = site;
    havePassword_ = true;
    // A runner keeps the site it was made with: a new one for new settings,
    // unless it is busy (it finishes with the settings it has).
    if (!same && runner_ && !runner_->Running())
        runner_.reset();
}

void TQueueControl::SetSettings(const TTransferSettings& settings)
{
    settings_ = settings;
    staleRunner_ = runner_ != nullptr;
}

void TQueueControl::MakeRunner()
{
    // The runner's sessions are made from its settings: new settings need
    // a new runner, once the old one has stopped.
    if (runner_ && staleRunner_ && !runner_->Running()) {
        runner_.reset();
        staleRunner_ = false;
    }
    if (runner_)
        return;
    runner_ = std::make_unique<TTransferRunner>(queue_, site_, settings_);
    runner_->OnConflict = [this](const TConflictQuestion& question) {
        return OnConflict ? OnConflict(question) : TConflictAnswer{};
    };
    runner_->OnLog = [this](const std::string& text) {
        if (OnLog)
            OnLog(text);
    };
    runner_->OnFinished = [this](bool ok) {
        if (pane_)
            pane_->SetRunning(Running());
        if (OnRunningChanged)
            OnRunningChanged(Running());
        if (OnFinished)
            OnFinished(ok);
    };
}

void TQueueControl::Joined(std::size_t firstIndex, TTransferId batch)
{
    // Everything added by one command answers one "apply to all".
    std::vector<TTransferId> ids;
    for (std::size_t i = firstIndex; i < queue_.Items().size(); ++i) {
        if (queue_.Items()[i].Batch != batch)
            ids.push_back(queue_.Items()[i].Id);
    }
    for (const TTransferId id : ids)
        queue_.Update(id, [batch](TTransferItem& item) { item.Batch = batch; });
}

int TQueueControl::AddDownloads(const std::vector<std::string>& folders,
                                const std::vector<std::pair<std::string, std::int64_t>>& files,
                                const std::string& localFolder, std::vector<std::string>& errors)
{
    const std::size_t first = queue_.Items().size();
    TTransferId batch = 0;
    int added = 0;
    const auto add = [&](const std::string& path, TTransferKind kind, std::int64_t size) {
        std::string why;
        const TTransferId id = queue_.AddDownload(path, kind, size, localFolder, &why);
        if (id == 0) {
            errors.push_back(why);
            return;
        }
        ++added;
        if (batch == 0)
            batch = queue_.Find(id)->Batch;
    };
    for (const auto& [path, size] : files)
        add(path, TTransferKind::File, size);
    for (const std::string& path : folders)
        add(path, TTransferKind::Folder, -1);
    if (batch != 0)
        Joined(first, batch);
    return added;
}

int TQueueControl::AddUploads(const std::vector<std::string>& localPaths, const std::string& remoteFolder,
                              std::vector<std::string>& errors)
{
    const std::size_t first = queue_.Items().size();
    int added = 0;
    TTransferId batch = 0;
    for (const std::string& path : localPaths) {
        std::string why;
        const TTransferId id = queue_.AddUpload(path, remoteFolder, settings_.MaxDepth, &why);
        if (id == 0) {
            errors.push_back(why);
            continue;
        }
        // A folder that could not be read all through is queued with what
        // could be read; the reason is reported all the same.
        if (!why.empty())
            errors.push_back(why);
        ++added;
        if (batch == 0)
            batch = queue_.Find(id)->Batch;
    }
    if (batch != 0)
        Joined(first, batch);
    return added;
}

void TQueueControl::Start()
{
    if (!havePassword_ || !queue_.HasUnfinished())
        return;
    MakeRunner();
    runner_->Start();
    if (pane_)
        pane_->SetRunning(Running());
    if (OnRunningChanged)
        OnRunningChanged(Running());
}

void TQueueControl::Stop()
{
    if (runner_)
        runner_->Stop();
    if (pane_)
        pane_->SetRunning(false);
    if (OnRunningChanged)
        OnRunningChanged(false);
}

void TQueueControl::Remove(const std::vector<TTransferId>& ids)
{
    for (const TTransferId id : ids) {
        if (runner_)
            runner_->Remove(id);
        else
            queue_.Remove(id);
    }
}

void TQueueControl::Retry(const std::vector<TTransferId>& ids)
{
    bool any = false;
    for (const TTransferId id : ids)
        any = queue_.Retry(id) || any;
    if (any && (Running() || havePassword_))
        Start();
}

void TQueueControl::MoveToTop(const std::vector<TTransferId>& ids)
{
    // Last first, so the chosen rows keep their order at the top.
    for (auto it = ids.rbegin(); it != ids.rend(); ++it)
        queue_.MoveToTop(*it);
}

bool TQueueControl::Save(const QString& path, std::string& error)
{
    // The model writes its items atomically; the site is added to the same
    // document, which then replaces the old file in one rename as well.
    const QString items = path + QStringLiteral(".items");
    if (!queue_.Save(items.toStdString(), error))
        return false;
    QFile written(items);
    QJsonObject root;
    if (written.open(QIODevice::ReadOnly))
        root = QJsonDocument::fromJson(written.readAll()).object();
    written.close();
    QFile::remove(items);
    if (root.isEmpty()) {
        error = "Cannot read back " + items.toStdString();
        return false;
    }
    QJsonObject site;
    site.insert(QStringLiteral("host"), QString::fromStdString(siteKey_.Host));
    site.insert(QStringLiteral("port"), QString::fromStdString(siteKey_.Port));
    site.insert(QStringLiteral("user"), QString::fromStdString(siteKey_.User));
    root.insert(QStringLiteral("site"), site);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(root).toJson()) < 0 || !file.commit()) {
        error = "Cannot write " + path.toStdString() + ": " + file.errorString().toStdString();
        return false;
    }
    return true;
}

bool TQueueControl::Load(const QString& path, std::string& error)
{
    if (Running()) {
        error = "The queue is running";
        return false;
    }
    if (!queue_.Load(path.toStdString(), error))
        return false;
    QFile file(path);
    QJsonObject site;
    if (file.open(QIODevice::ReadOnly))
        site = QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("site")).toObject();
    siteKey_ = {site.value(QStringLiteral("host")).toString().toStdString(),
                site.value(QStringLiteral("port")).toString().toStdString(),
                site.value(QStringLiteral("user")).toString().toStdString()};
    havePassword_ = false;
    runner_.reset();
    return true;
}

QString TQueueControl::StatusText() const
{
    const TTransferTotals totals = queue_.Totals();
    if (totals.Items == 0)
        return {};
    QString text = QStringLiteral("Queue: ") + QString::number(totals.Done) + QStringLiteral(" of ") +
                   QString::number(totals.Items) + QStringLiteral(" done");
    if (totals.Failed + totals.Skipped > 0)
        text += QStringLiteral(", ") + QString::number(totals.Failed + totals.Skipped) + QStringLiteral(" failed");
    text += QStringLiteral(", ") + Megabytes(totals.BytesDone) + QStringLiteral(" of ") + Megabytes(totals.Bytes) +
            QStringLiteral(" MB");
    if (totals.Bytes > 0)
        text += QStringLiteral(" (") + QString::number(totals.BytesDone * 100 / totals.Bytes) + QStringLiteral("%)");
    const double rate = Running() ? queue_.Rate() : 0.0;
    if (rate > 0.0)
        text += QStringLiteral(", ") + Megabytes(std::int64_t(rate)) + QStringLiteral(" MB/s");
    return text;
}
