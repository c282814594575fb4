#pragma once

// The "Directory Information" window: the raw listing of the current remote
// directory exactly as the server sent it (MLSD lines when the server offers
// them, else LIST), which the user may save as a text
// file. The window knows nothing of FTP; the main window hands it the
// listing (see Execute).

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>

class QPlainTextEdit;
class QPushButton;
class QShowEvent;

// What the Directory Information command needs from the main window.
struct TDirInfoSource {
    // Whether the FTP client is connected.
    std::function<bool()> Connected;
    // Fetches a fresh listing of the current remote directory into
    // ListingFile (a synchronous MLSD when the server offers it, else LIST,
    // that replaces the file).
    std::function<void()> RequestListing;
    // The listing file ("FTPDIR.TXT" in the application folder).
    QString ListingFile;
};

class TFormDir : public QDialog {
    Q_OBJECT
public:
    explicit TFormDir(QWidget* parent = nullptr);

    // The main window's Directory Information command: refuses with a
    // notice when not connected; otherwise requests a fresh listing, loads
    // the listing file into a new window, shows it modally and frees it.
    static void Execute(QWidget* parent, const TDirInfoSource& source);

    // Fills Memo1 with the listing's lines (CR LF, LF or CR ends). Bytes
    // that are not UTF-8 are kept as Latin-1, so that saving gives them
    // back unchanged.
    void SetListing(const QByteArray& listing);
    // Loads a listing file; false with the reason in `error` when it cannot
    // be read.
    bool LoadListing(const QString& fileName, QString& error);

    QStringList Lines() const { return FLines; }

    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void BuildControls();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    // Writes every line followed by CR LF; false with the reason on failure.
    bool SaveLines(const QString& fileName, QString& error) const;

    QStringList FLines;
    bool FLatin1 = false;
    bool FCentred = false;
};
