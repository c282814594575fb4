#pragma once

// Prompts for runs nobody watches (benchmarks, screenshot tools): nothing
// may wait for a person. Questions take their default answer, inputs and
// file dialogs are refused, the same-name question overwrites for the whole
// batch, and notices and questions go to stderr, where the caller shows them
// if the run fails.

#include "ui/prompts.h"

class TUnattendedPrompts final : public TPrompts {
public:
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
    void Beep() override;
    TSameNameAnswer SameName(QWidget* parent, const QString& caption, const QString& text, bool canResume,
                             bool& applyToAll) override;

    // Notices shown so far (a run that expected none can fail on them).
    int Notices() const { return notices_; }

private:
    int notices_ = 0;
};

// A shell that opens nothing.
class TNoShell final : public TShell {
public:
    bool Open(const QUrl& url) override;
};
