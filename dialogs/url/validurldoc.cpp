#include "dialogs/url/validurldoc.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>

#include <algorithm>

namespace {

// The file keeps a fixed name: the name the server's URL suggests may be
// anything ("..", very long, odd characters), and it only matters to Save As.
const char* const DocumentFileName = "document";

} // namespace

TUrlDocument::TUrlDocument() = default;

TUrlDocument::~TUrlDocument() { Discard(); }

std::ostream* TUrlDocument::Begin()
{
    stream_.reset();
    error_.clear();
    if (!dir_) {
        auto dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tarvik-urlinfo-XXXXXX"));
        if (!dir->isValid()) {
            error_ = QStringLiteral("No temporary folder for the document could be created in %1: %2")
                         .arg(QDir::toNativeSeparators(QDir::tempPath()), dir->errorString());
            path_.clear();
            return nullptr;
        }
        dir_ = std::move(dir);
    }
    path_ = dir_->filePath(QString::fromLatin1(DocumentFileName));
    auto stream = std::make_unique<std::ofstream>(QFile::encodeName(path_).toStdString(),
                                                  std::ios::binary | std::ios::trunc);
    if (!stream->is_open()) {
        error_ = QStringLiteral("The document file %1 could not be created.").arg(QDir::toNativeSeparators(path_));
        return nullptr;
    }
    stream_ = std::move(stream);
    return stream_.get();
}

void TUrlDocument::End()
{
    if (!stream_)
        return;
    stream_->flush();
    const bool failed = stream_->fail();
    stream_->close();
    if ((failed || stream_->fail()) && error_.isEmpty())
        error_ = QStringLiteral("The document could not be written completely to %1 (the disk may be full).")
                     .arg(QDir::toNativeSeparators(path_));
    stream_.reset();
}

void TUrlDocument::Discard()
{
    stream_.reset();
    // QTemporaryDir removes the folder with everything in it.
    dir_.reset();
    path_.clear();
    error_.clear();
}

bool TUrlDocument::Complete() const { return dir_ && !path_.isEmpty() && !stream_ && error_.isEmpty(); }

std::int64_t TUrlDocument::Size() const
{
    if (path_.isEmpty())
        return 0;
    return QFile(path_).size();
}

QByteArray TUrlDocument::ReadHead(std::int64_t limit, std::int64_t& total) const
{
    total = 0;
    if (path_.isEmpty())
        return {};
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    total = file.size();
    return file.read(std::min(limit, total));
}

bool TUrlDocument::SaveTo(const QString& target, QString& error) const
{
    QFile source(path_);
    if (path_.isEmpty() || !source.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("The received document is no longer available.");
        return false;
    }
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly)) {
        error = out.errorString();
        return false;
    }
    constexpr qint64 ChunkSize = 256 * 1024;
    while (!source.atEnd()) {
        const QByteArray chunk = source.read(ChunkSize);
        if (chunk.isEmpty() && source.error() != QFileDevice::NoError) {
            error = source.errorString();
            out.cancelWriting();
            return false;
        }
        if (out.write(chunk) != chunk.size()) {
            error = out.errorString();
            out.cancelWriting();
            return false;
        }
    }
    if (!out.commit()) {
        error = out.errorString();
        return false;
    }
    return true;
}
