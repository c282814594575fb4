#pragma once

// Scripted answers for the prompts interface: a GUI test queues the answers
// it wants, runs the command, then checks what was asked. Every prompt is
// recorded; a prompt with no queued answer gets the "cancel" answer and is
// flagged as unexpected, so a test notices a question it did not foresee.

#include "ui/prompts.h"

#include <QList>
#include <QStringList>
#include <QUrl>

#include <deque>
#include <utility>

namespace testsupport {

struct PromptRecord {
    QString kind; // "notice", "question", "input", "password", "samename", "folder", "save", "open"
    QString caption;
    QString text;
    int noticeKind = -1; // notices: the icon kind; same-name questions: 1 when Resume was offered
};

class ScriptedPrompts final : public TPrompts {
public:
    ScriptedPrompts();           // installs itself
    ~ScriptedPrompts() override; // restores the default

    // Queue answers, consumed in order by prompts of the matching kind.
    void AnswerQuestion(QMessageBox::StandardButton button) { questions_.push_back(button); }
    // Inputs and passwords share one queue, in the order they are asked.
    void AnswerInput(const QString& text) { inputs_.push_back({true, text}); }
    void AnswerSameName(TSameNameAnswer answer, bool applyToAll = false) { sameNames_.push_back({answer, applyToAll}); }
    void CancelInput() { inputs_.push_back({false, {}}); }
    void AnswerFolder(const QString& folder) { folders_.push_back(folder); }
    void AnswerSaveFile(const QString& file) { saves_.push_back(file); }
    void AnswerOpenFile(const QString& file) { opens_.push_back(file); }
    void AnswerCertificate(TCertificateAnswer answer) { certificates_.push_back(answer); }
    // The certificate prompts shown, in order.
    const QList<TCertificatePrompt>& CertificatePrompts() const { return certificatePrompts_; }

    const QList<PromptRecord>& Records() const { return records_; }
    QStringList Notices() const; // "caption|text" of every notice
    int Unexpected() const { return unexpected_; }
    int Beeps() const { return beeps_; }
    void Clear();

    void Notice(const QString& caption, const QString& text, int kind) override;
    QMessageBox::StandardButton Question(QWidget* parent, const QString& caption, const QString& text,
                                         QMessageBox::StandardButtons buttons,
                                         QMessageBox::StandardButton defaultButton,
                                         QMessageBox::StandardButton escapeButton, QMessageBox::Icon icon) override;
    bool Input(QWidget* parent, const QString& caption, const QString& prompt, QString& value) override;
    QString SelectFolder(QWidget* parent, const QString& caption, const QString& start) override;
    QString SaveFileName(QWidget* parent, const QString& caption, const QString& start, const QString& filter,
                         const QString& defaultSuffix) override;
    QString OpenFileName(QWidget* parent, const QString& caption, const QString& start, const QString& filter) override;
    void Beep() override { ++beeps_; }
    TSameNameAnswer SameName(QWidget* parent, const QString& caption, const QString& text, bool canResume,
                             bool& applyToAll) override;
    bool Password(QWidget* parent, const QString& caption, const QString& prompt, QString& value) override;
    TCertificateAnswer Certificate(QWidget* parent, const TCertificatePrompt& prompt) override;

private:
    bool Answer(const QString& kind, const QString& caption, const QString& prompt, QString& value);
    struct InputAnswer {
        bool ok;
        QString text;
    };
    std::deque<QMessageBox::StandardButton> questions_;
    std::deque<InputAnswer> inputs_;
    std::deque<std::pair<TSameNameAnswer, bool>> sameNames_;
    std::deque<QString> folders_;
    std::deque<QString> saves_;
    std::deque<QString> opens_;
    std::deque<TCertificateAnswer> certificates_;
    QList<TCertificatePrompt> certificatePrompts_;
    QList<PromptRecord> records_;
    int unexpected_ = 0;
    int beeps_ = 0;
};

// Records what the program asked the desktop to open, opens nothing.
class RecordingShell final : public TShell {
public:
    RecordingShell();
    ~RecordingShell() override;
    bool Open(const QUrl& url) override
    {
        opened.append(url);
        return result;
    }
    QList<QUrl> opened;
    bool result = true;
};

} // namespace testsupport
