#include "dialogs/tools/dirinfo.h"

#include "ui/prompts.h"
#include "platform/application.h"
#include "platform/exception.h"
#include "dialogs/tools/toolhelp.h"
#include "dialogs/tools/toolwidgets.h"

#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QStringDecoder>
#include <QVBoxLayout>

#include <memory>

namespace {

QStringList SplitLines(const QString& text)
{
    QStringList lines;
    qsizetype start = 0;
    const qsizetype length = text.size();
    qsizetype i = 0;
    while (i < length) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n')) {
            ++i;
            continue;
        }
        lines << text.mid(start, i - start);
        ++i;
        if (c == QLatin1Char('\r') && i < length && text.at(i) == QLatin1Char('\n'))
            ++i;
        start = i;
    }
    // A last line without an end is still a line; an ending line break
    // starts none.
    if (start < length)
        lines << text.mid(start);
    return lines;
}

} // namespace

TFormDir::TFormDir(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("FormDir"));
    setWindowTitle(QStringLiteral("Directory Information"));
    BuildControls();
}

void TFormDir::Execute(QWidget* parent, const TDirInfoSource& source)
{
    if (!source.Connected || !source.Connected()) {
        Prompts().Notice(QStringLiteral("Directory Information Error"),
                         QStringLiteral("You must be connected to get remote host directory information."), 0);
        return;
    }
    if (source.RequestListing)
        source.RequestListing();
    auto form = std::make_unique<TFormDir>(parent);
    QString error;
    if (!form->LoadListing(source.ListingFile, error)) {
        Application::HandleException(Exception(error.toStdString()));
        return;
    }
    form->exec();
}

void TFormDir::BuildControls()
{
    Memo1 = toolwidgets::MakeReport(this, "Memo1");
    // Listings are laid out in columns.
    Memo1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setMinimumSize(Memo1->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 72,
                          Memo1->fontMetrics().lineSpacing() * 18);

    Button1 = toolwidgets::MakeButton(this, "Button1", QStringLiteral("&Save As"));
    Button2 = toolwidgets::MakeButton(this, "Button2", QStringLiteral("&Close"));
    Button3 = toolwidgets::MakeButton(this, "Button3", QStringLiteral("&Help"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (QPushButton* button : {Button1, Button2, Button3})
        buttons->addWidget(button);
    buttons->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Memo1, 1);
    layout->addLayout(buttons);
    // The listing grows with the window.
    layout->setSizeConstraint(QLayout::SetMinimumSize);
    setSizeGripEnabled(true);

    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Button3);
    Button1->setFocus();

    connect(Button1, &QPushButton::clicked, this, &TFormDir::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TFormDir::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TFormDir::Button3Click);
}

void TFormDir::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!FCentred) {
        FCentred = true;
        toolwidgets::CentreOnScreen(*this);
    }
}

void TFormDir::SetListing(const QByteArray& listing)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(listing);
    FLatin1 = utf8.hasError();
    if (FLatin1)
        text = QString::fromLatin1(listing);
    FLines = SplitLines(text);
    Memo1->setPlainText(FLines.join(QLatin1Char('\n')));
}

bool TFormDir::LoadListing(const QString& fileName, QString& error)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, file.errorString());
        return false;
    }
    SetListing(file.readAll());
    return true;
}

void TFormDir::Button1Click()
{
    const QString fileName = Prompts().SaveFileName(this, QStringLiteral("Save Directory Information"), QString(),
                                                    QStringLiteral("Text Files (*.txt)"), QStringLiteral("txt"));
    if (fileName.isEmpty())
        return;
    QString error;
    if (!SaveLines(fileName, error))
        Application::HandleException(Exception(error.toStdString()));
}

bool TFormDir::SaveLines(const QString& fileName, QString& error) const
{
    QByteArray bytes;
    for (const QString& line : FLines) {
        bytes += FLatin1 ? line.toLatin1() : line.toUtf8();
        bytes += "\r\n";
    }
    // Written aside and renamed into place: a failed save never leaves a
    // half-written file where an old one stood.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        error = QStringLiteral("Cannot create file \"%1\". %2").arg(fileName, file.errorString());
        return false;
    }
    return true;
}

void TFormDir::Button2Click() { close(); }

void TFormDir::Button3Click() { ShowToolHelp(QStringLiteral("IDH_dirinfo")); }
