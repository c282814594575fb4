#include "dialogs/prompts.h"

#include "dialogs/certificatedialog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>

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
                                         QMessageBox::StandardButton escapeButton,
                                         QMessageBox::Icon icon) override
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
        bool ok = false;
        const QString answer = QInputDialog::getText(parent, caption, prompt, QLineEdit::Normal, value, &ok);
        if (!ok)
            return false;
        value = answer;
        return true;
    }

    QString SelectFolder(QWidget* parent, const QString& caption, const QString& start) override
    {
        return QFileDialog::getExistingDirectory(parent, caption, start);
    }

    QString SaveFileName(QWidget* parent, const QString& caption, const QString& start,
                         const QString& filter, const QString& defaultSuffix) override
    {
        QFileDialog dialog(parent, caption, start, filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(defaultSuffix);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return {};
        return dialog.selectedFiles().constFirst();
    }

    QString OpenFileName(QWidget* parent, const QString& caption, const QString& start,
                         const QString& filter) override
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

TCertificateAnswer TPrompts::Certificate(QWidget*, const TCertificatePrompt&)
{
    return TCertificateAnswer::Cancel;
}

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
