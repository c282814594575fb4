#pragma once

// The document of the URL information window while and after it arrives.
// The body goes straight to a file in a private temporary folder (never to
// memory), the window shows only the beginning of it, and Save As copies the
// whole file. The folder and everything in it go away with Discard() or with
// the object, whatever ended the request.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <fstream>
#include <memory>
#include <ostream>

class QTemporaryDir;

class TUrlDocument {
public:
    TUrlDocument();
    ~TUrlDocument();

    TUrlDocument(const TUrlDocument&) = delete;
    TUrlDocument& operator=(const TUrlDocument&) = delete;

    // Creates (or empties) the document file, in a fresh temporary folder
    // when there is none yet. Returns the stream the body is written to, or
    // null when the file could not be made (Error() says why).
    std::ostream* Begin();
    // Closes the file; a write that failed on the way (a full disk) marks the
    // document as unusable.
    void End();
    // Closes and removes the file and its folder.
    void Discard();

    bool Open() const { return stream_ != nullptr; }
    // A closed file that received everything written to it.
    bool Complete() const;
    // Why the document could not be stored; empty when nothing went wrong.
    const QString& Error() const { return error_; }
    // Full path of the document file, empty when there is none.
    const QString& FilePath() const { return path_; }
    std::int64_t Size() const;

    // At most `limit` bytes from the start of the file; `total` receives the
    // file's size.
    QByteArray ReadHead(std::int64_t limit, std::int64_t& total) const;
    // Copies the whole file to `target` (replacing it only once the copy is
    // complete). On failure returns false with the reason in `error`.
    bool SaveTo(const QString& target, QString& error) const;

private:
    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<std::ofstream> stream_;
    QString path_;
    QString error_;
};
