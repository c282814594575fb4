#pragma once

// Every message box, question, input box and file or folder dialog of the
// program goes through TPrompts, so that GUI tests can answer them without a
// screen (tests install a scripted implementation with SetPrompts).
// Opening a file or address with the desktop goes through TShell likewise.

#include <QMessageBox>
#include <QString>
#include <QUrl>

class QWidget;

// What to do with a file whose name is already taken at the destination.
enum class TSameNameAnswer {
    Overwrite,
    Resume,
    Rename,
    Skip
};

// A server certificate that failed verification, as the user is asked
// about it. StoredFingerprint is set only when another certificate was
// trusted for this host before: the certificate changed.
struct TCertificatePrompt {
    QString Host;   // "host:port"
    QString Reason; // why the verification failed
    QString Subject;
    QString Issuer;
    QString ValidFrom;
    QString ValidTo;
    QString Fingerprint; // SHA-256
    QString StoredFingerprint;
};

enum class TCertificateAnswer {
    Cancel,
    TrustOnce,
    TrustAlways
};

class TPrompts {
public:
    virtual ~TPrompts() = default;

    // A notice with only an OK button and no owner window. `kind` selects
    // the icon: 0 and 1 exclamation, 2 and 3 information, 4 and 5 stop.
    virtual void Notice(const QString& caption, const QString& text, int kind) = 0;

    // A question (the caller beeps first where the program does). Returns
    // the button chosen; closing the dialog returns `escapeButton`.
    virtual QMessageBox::StandardButton Question(QWidget* parent, const QString& caption, const QString& text,
                                                 QMessageBox::StandardButtons buttons,
                                                 QMessageBox::StandardButton defaultButton,
                                                 QMessageBox::StandardButton escapeButton,
                                                 QMessageBox::Icon icon = QMessageBox::Question) = 0;

    // An input box. Returns false when cancelled; `value` holds the initial
    // text on entry and the answer on return.
    virtual bool Input(QWidget* parent, const QString& caption, const QString& prompt, QString& value) = 0;

    // Folder selection; an empty result means cancelled.
    virtual QString SelectFolder(QWidget* parent, const QString& caption, const QString& start) = 0;

    // Save-file dialog; an empty result means cancelled. `defaultSuffix` is
    // appended when the typed name has none.
    virtual QString SaveFileName(QWidget* parent, const QString& caption, const QString& start, const QString& filter,
                                 const QString& defaultSuffix) = 0;

    // Open-file dialog; an empty result means cancelled.
    virtual QString OpenFileName(QWidget* parent, const QString& caption, const QString& start,
                                 const QString& filter) = 0;

    // Audible signal before questions and refusals.
    virtual void Beep() = 0;

    // The same-name question of a transfer: Overwrite, Resume (offered
    // only when `canResume`), Rename or Skip, with a box to apply the
    // answer to the rest of the batch. Closing the question skips the file.
    virtual TSameNameAnswer SameName(QWidget* parent, const QString& caption, const QString& text, bool canResume,
                                     bool& applyToAll);

    // An input box whose text is masked (a password). Returns false when
    // cancelled; `value` holds the answer on return.
    virtual bool Password(QWidget* parent, const QString& caption, const QString& prompt, QString& value);

    // The certificate dialog: "Trust once", "Always trust this certificate
    // for this host" or "Cancel". Unless an implementation shows it, the
    // certificate is refused.
    virtual TCertificateAnswer Certificate(QWidget* parent, const TCertificatePrompt& prompt);
};

class TShell {
public:
    virtual ~TShell() = default;
    // Opens a local file or a web address with the desktop's associated
    // program. Returns false when the desktop could not do it.
    virtual bool Open(const QUrl& url) = 0;
};

// The installed implementations. Default: the real dialogs and the desktop.
TPrompts& Prompts();
TShell& Shell();
// Replaces the implementation (not owned); null restores the default.
void SetPrompts(TPrompts* prompts);
void SetShell(TShell* shell);
