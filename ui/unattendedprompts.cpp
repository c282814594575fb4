#include "ui/unattendedprompts.h"

#include <cstdio>

void TUnattendedPrompts::Notice(const QString& caption, const QString& text, int)
{
    ++notices_;
    std::fprintf(stderr, "notice: %s: %s\n", qPrintable(caption), qPrintable(text));
}

QMessageBox::StandardButton TUnattendedPrompts::Question(QWidget*, const QString& caption, const QString& text,
                                                         QMessageBox::StandardButtons,
                                                         QMessageBox::StandardButton defaultButton,
                                                         QMessageBox::StandardButton, QMessageBox::Icon)
{
    std::fprintf(stderr, "question: %s: %s\n", qPrintable(caption), qPrintable(text));
    return defaultButton;
}

bool TUnattendedPrompts::Input(QWidget*, const QString&, const QString&, QString&) { return false; }

QString TUnattendedPrompts::SelectFolder(QWidget*, const QString&, const QString&) { return {}; }

QString TUnattendedPrompts::SaveFileName(QWidget*, const QString&, const QString&, const QString&, const QString&)
{
    return {};
}

QString TUnattendedPrompts::OpenFileName(QWidget*, const QString&, const QString&, const QString&) { return {}; }

void TUnattendedPrompts::Beep() {}

TSameNameAnswer TUnattendedPrompts::SameName(QWidget*, const QString&, const QString&, bool, bool& applyToAll)
{
    applyToAll = true;
    return TSameNameAnswer::Overwrite;
}

bool TNoShell::Open(const QUrl&) { return false; }
