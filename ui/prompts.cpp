#include "ui/prompts.h"

#include "ui/certificatedialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>

#include <algorithm>

TSameNameAnswer TPrompts::SameName(QWidget* parent, const QString& caption, const QString& text, bool canResume,
                                   bool& applyToAll)
{
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::NoButton, parent);
    QPushButton* overwrite = box.addButton(QStringLiteral("&Overwrite"), QMessageBox::AcceptRole);
    QPushButton* resume = canResume ? box.addButton(QStringLiteral("R&esume"), QMessageBox::AcceptRole) : nullptr;
    QPushButton* rename = box.addButton(QStringLiteral("&Rename"), QMessageBox::AcceptRole);
    QPushButton* skip = box.addButton(QStringLiteral("&Skip"), QMessageBox::RejectRole);
    box.setDefaultButton(skip);
    box.setEscapeButton(skip);
    auto* all = new QCheckBox(QStringLiteral("&Apply to all files of this batch"), &box);
    box.setCheckBox(all);
    box.exec();
    applyToAll = all->isChecked();
    const QAbstractButton* chosen = box.clickedButton();
    if (chosen == overwrite)
        return TSameNameAnswer::Overwrite;
    if (resume && chosen == resume)
        return TSameNameAnswer::Resume;
    if (chosen == rename)
        return TSameNameAnswer::Rename;
    applyToAll = applyToAll && chosen == skip;
    return TSameNameAnswer::Skip;
}

namespace {

// An input box wide enough for its caption.
bool AskText(QWidget* parent, const QString& caption, const QString& prompt, QLineEdit::EchoMode echo, QString& value)
{
    QInputDialog dialog(parent);
    dialog.setWindowTitle(caption);
    dialog.setLabelText(prompt);
    dialog.setTextEchoMode(echo);
    dialog.setTextValue(value);
    // The dialog's own layout sizes it to its contents: the text field is
    // what makes it wide enough for the caption to show whole.
    if (auto* field = dialog.findChild<QLineEdit*>())
        field->setMinimumWidth(std::max(300, dialog.fontMetrics().horizontalAdvance(caption) + 140));
    if (dialog.exec() != QDialog::Accepted)
        return false;
    value = dialog.textValue();
    return true;
}

} // namespace

bool TPrompts::Password(QWidget* parent, const QString& caption, const QString& prompt, QString& value)
{
    return AskText(parent, caption, prompt, QLineEdit::Password, value);
}

namespace {

class TWidgetPrompts final : public TPrompts {
public:
    void Notice(const QString& caption, const QString& text, int kind) override
    {
        QMessageBox::Icon icon = QMessageBox::Warning;
        if (kind == 2 || kind == 3)
            icon = QMessageBox::Information;
        else if (kind == 4 || kind == 5)
            icon = QMessageBox::Critical;
        // No owner window: the notice stands on its own, like a system box.
        QMessageBox box(icon, caption, text, QMessageBox::Ok);
        box.exec();
    }

    QMessageBox::StandardButton Question(QWidget* parent, const QString& caption, const QString& text,
                                         QMessageBox::StandardButtons buttons,
                                         QMessageBox::StandardButton defaultButton,
                                         QMessageBox::StandardButton escapeButton, QMessageBox::Icon icon) override
    {
        QMessageBox box(icon, caption, text, buttons, parent);
        box.setDefaultButton(defaultButton);
        box.setEscapeButton(escapeButton);
        const int answer = box.exec();
        if (answer == 0 || answer == QMessageBox::NoButton)
            return escapeButton;
        return QMessageBox::StandardButton(answer);
    }

    bool Input(QWidget* parent, const QString& caption, const QString& prompt, QString& value) override
    {
        return AskText(parent, caption, prompt, QLineEdit::Normal, value);
    }

    QString SelectFolder(QWidget* parent, const QString& caption, const QString& start) override
    {
        return QFileDialog::getExistingDirectory(parent, caption, start);
    }

    QString SaveFileName(QWidget* parent, const QString& caption, const QString& start, const QString& filter,
                         const QString& defaultSuffix) override
    {
        QFileDialog dialog(parent, caption, start, filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(defaultSuffix);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        return dialog.selectedFiles().constFirst();
    }

    QString OpenFileName(QWidget* parent, const QString& caption, const QString& start, const QString& filter) override
    {
        return QFileDialog::getOpenFileName(parent, caption, start, filter);
    }

    void Beep() override { QApplication::beep(); }

    TCertificateAnswer Certificate(QWidget* parent, const TCertificatePrompt& prompt) override
    {
        TCertificateDialog dialog(prompt, parent);
        dialog.exec();
        return dialog.Answer();
    }
};

class TDesktopShell final : public TShell {
public:
    bool Open(const QUrl& url) override { return QDesktopServices::openUrl(url); }
};

TPrompts* installedPrompts = nullptr;
TShell* installedShell = nullptr;

} // namespace

TCertificateAnswer TPrompts::Certificate(QWidget*, const TCertificatePrompt&) { return TCertificateAnswer::Cancel; }

TPrompts& Prompts()
{
    static TWidgetPrompts widgetPrompts;
    return installedPrompts ? *installedPrompts : widgetPrompts;
}

TShell& Shell()
{
    static TDesktopShell desktopShell;
    return installedShell ? *installedShell : desktopShell;
}

void SetPrompts(TPrompts* prompts) { installedPrompts = prompts; }
void SetShell(TShell* shell) { installedShell = shell; }
