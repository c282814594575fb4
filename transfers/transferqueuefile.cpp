// Saving and loading the queue. The file is JSON:
//
//   {"format": "tarvik-transfer-queue", "version": 1, "items": [ {...}, ... ]}
//
// with one object per item: id, batch, parent, kind ("file", "folder",
// "link"), direction ("download", "upload"), local, remote, localRoot,
// remoteRoot, linkTarget, size, state, bytesDone, error, attempts, settled.
// Paths are bytes: one that is not valid UTF-8 is written as base64 under
// the key with "64" appended ("local64", ...), so every name survives.

#include "transfers/transferqueue.h"

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char* FormatName = "tarvik-transfer-queue";
constexpr int FormatVersion = 1;

void PutBytes(QJsonObject& o, const char* key, const std::string& bytes)
{
    if (IsValidUtf8(bytes)) {
        o.insert(QLatin1String(key), QString::fromStdString(bytes));
        return;
    }
    const QByteArray raw(bytes.data(), qsizetype(bytes.size()));
    o.insert(QLatin1String(key) + QLatin1String("64"), QString::fromLatin1(raw.toBase64()));
}

bool GetBytes(const QJsonObject& o, const char* key, std::string& bytes)
{
    const QJsonValue plain = o.value(QLatin1String(key));
    if (plain.isString()) {
        bytes = plain.toString().toStdString();
    } else {
        const QJsonValue coded = o.value(QLatin1String(key) + QLatin1String("64"));
        if (!coded.isString()) {
            // Absent is empty; present with the wrong type is damage.
            bytes.clear();
            return plain.isUndefined() && coded.isUndefined();
        }
        const auto decoded = QByteArray::fromBase64Encoding(coded.toString().toLatin1(),
                                                            QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return false;
        bytes.assign(decoded.decoded.constData(), std::size_t(decoded.decoded.size()));
    }
    // A NUL would cut the path short when it reaches the system.
    return bytes.find('\0') == std::string::npos;
}

const char* KindName(TTransferKind kind)
{
    switch (kind) {
    case TTransferKind::Folder:
        return "folder";
    case TTransferKind::Link:
        return "link";
    default:
        return "file";
    }
}

bool KindFromName(const QString& name, TTransferKind& kind)
{
    if (name == QLatin1String("file"))
        kind = TTransferKind::File;
    else if (name == QLatin1String("folder"))
        kind = TTransferKind::Folder;
    else if (name == QLatin1String("link"))
        kind = TTransferKind::Link;
    else
        return false;
    return true;
}

bool WriteAll(int fd, const QByteArray& data)
{
    qsizetype off = 0;
    while (off < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + off, std::size_t(data.size() - off));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        off += n;
    }
    return true;
}

std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

bool TTransferQueue::Save(const std::string& path, std::string& error) const
{
    QJsonArray list;
    for (const TTransferItem& item : items_) {
        QJsonObject o;
        o.insert(QLatin1String("id"), qint64(item.Id));
        o.insert(QLatin1String("batch"), qint64(item.Batch));
        o.insert(QLatin1String("parent"), qint64(item.Parent));
        o.insert(QLatin1String("kind"), QLatin1String(KindName(item.Kind)));
        o.insert(QLatin1String("direction"),
                 QLatin1String(item.Direction == TTransferDirection::Upload ? "upload" : "download"));
        PutBytes(o, "local", item.LocalPath);
        PutBytes(o, "remote", item.RemotePath);
        PutBytes(o, "localRoot", item.LocalRoot);
        PutBytes(o, "remoteRoot", item.RemoteRoot);
        PutBytes(o, "linkTarget", item.LinkTarget);
        o.insert(QLatin1String("size"), qint64(item.Size));
        // An interrupted transfer is queued again next time.
        const TTransferState state = item.State == TTransferState::Active ? TTransferState::Queued : item.State;
        o.insert(QLatin1String("state"), QLatin1String(TransferStateName(state)));
        o.insert(QLatin1String("bytesDone"), qint64(item.BytesDone));
        o.insert(QLatin1String("error"), QString::fromStdString(item.ErrorText));
        o.insert(QLatin1String("attempts"), item.Attempts);
        o.insert(QLatin1String("settled"), item.TargetSettled);
        list.append(o);
    }
    QJsonObject root;
    root.insert(QLatin1String("format"), QLatin1String(FormatName));
    root.insert(QLatin1String("version"), FormatVersion);
    root.insert(QLatin1String("items"), list);
    const QByteArray data = QJsonDocument(root).toJson(QJsonDocument::Indented);

    // A crash or a full disk half way leaves the old file intact: the new
    // one is complete on disk before its name replaces the old one.
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = "Cannot create a temporary file beside " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = WriteAll(fd, data) && ::fsync(fd) == 0;
    const int savedErrno = errno;
    ::close(fd);
    if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
        error = "Cannot write " + path + ": " + std::strerror(written ? errno : savedErrno);
        ::unlink(temp.c_str());
        return false;
    }
    // The rename itself is made durable through the folder.
    const int dirFd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

bool TTransferQueue::Load(const std::string& path, std::string& error)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        error = "Cannot read " + path + ": " + file.errorString().toStdString();
        return false;
    }
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (doc.isNull() || !doc.isObject()) {
        error = path + " is not a transfer queue: " + parseError.errorString().toStdString();
        return false;
    }
    const QJsonObject root = doc.object();
    if (root.value(QLatin1String("format")).toString() != QLatin1String(FormatName) ||
        root.value(QLatin1String("version")).toInt() != FormatVersion ||
        !root.value(QLatin1String("items")).isArray()) {
        error = path + " is not a transfer queue of this version";
        return false;
    }
    std::deque<TTransferItem> loaded;
    TTransferId maxId = 0;
    TTransferId maxBatch = 0;
    const QJsonArray list = root.value(QLatin1String("items")).toArray();
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QJsonObject o = list.at(i).toObject();
        TTransferItem item;
        const auto bad = [&](const char* what) {
            error = path + ": item " + std::to_string(i + 1) + " has no valid " + what;
            return false;
        };
        const qint64 id = o.value(QLatin1String("id")).toInteger(-1);
        if (id <= 0)
            return bad("id");
        item.Id = TTransferId(id);
        item.Batch = TTransferId(std::max<qint64>(0, o.value(QLatin1String("batch")).toInteger(0)));
        item.Parent = TTransferId(std::max<qint64>(0, o.value(QLatin1String("parent")).toInteger(0)));
        if (!KindFromName(o.value(QLatin1String("kind")).toString(), item.Kind))
            return bad("kind");
        const QString direction = o.value(QLatin1String("direction")).toString();
        if (direction != QLatin1String("download") && direction != QLatin1String("upload"))
            return bad("direction");
        item.Direction = direction == QLatin1String("upload") ? TTransferDirection::Upload
                                                              : TTransferDirection::Download;
        if (!GetBytes(o, "local", item.LocalPath) || item.LocalPath.empty())
            return bad("local path");
        if (!GetBytes(o, "remote", item.RemotePath) || item.RemotePath.empty() || item.RemotePath[0] != '/')
            return bad("remote path");
        if (!GetBytes(o, "localRoot", item.LocalRoot) || item.LocalRoot.empty())
            return bad("local folder");
        if (!GetBytes(o, "remoteRoot", item.RemoteRoot) || !GetBytes(o, "linkTarget", item.LinkTarget))
            return bad("remote folder");
        item.Size = o.value(QLatin1String("size")).toInteger(-1);
        if (!TransferStateFromName(o.value(QLatin1String("state")).toString().toStdString(), item.State))
            return bad("state");
        if (item.State == TTransferState::Active)
            item.State = TTransferState::Queued;
        item.BytesDone = std::max<qint64>(0, o.value(QLatin1String("bytesDone")).toInteger(0));
        item.ErrorText = o.value(QLatin1String("error")).toString().toStdString();
        item.Attempts = std::max(0, o.value(QLatin1String("attempts")).toInt(0));
        item.TargetSettled = o.value(QLatin1String("settled")).toBool(false);
        maxId = std::max(maxId, item.Id);
        maxBatch = std::max(maxBatch, item.Batch);
        loaded.push_back(std::move(item));
    }
    items_ = std::move(loaded);
    Reordered();
    nextId_ = maxId + 1;
    nextBatch_ = maxBatch + 1;
    samples_.clear();
    if (OnReset)
        OnReset();
    return true;
}
