#include "ui/digitsonlyfilter.h"

#include "ui/prompts.h"

#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QWidget>

namespace {

bool AllDigits(const QString& text)
{
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

} // namespace

TDigitsOnlyFilter::TDigitsOnlyFilter(QObject* parent) : QObject(parent) {}

TDigitsOnlyFilter* TDigitsOnlyFilter::Install(QWidget* field)
{
    auto* filter = new TDigitsOnlyFilter(field);
    field->installEventFilter(filter);
    return filter;
}

bool TDigitsOnlyFilter::Refuses(const QKeyEvent& event)
{
    const QString text = event.text();
    if (text.isEmpty())
        return false;
    switch (event.key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        // Keys that act on the form, not characters typed into the field.
        return false;
    default:
        break;
    }
    // Clipboard and undo shortcuts are commands, not typed characters.
    for (const QKeySequence::StandardKey command : {QKeySequence::Copy, QKeySequence::Cut, QKeySequence::Paste,
                                                    QKeySequence::Undo, QKeySequence::Redo, QKeySequence::SelectAll})
        if (event.matches(command))
            return false;
    if (text == QStringLiteral("\b"))
        return false;
    return !AllDigits(text);
}

void TDigitsOnlyFilter::Complain()
{
    Prompts().Notice(QStringLiteral("Digits Only"), QStringLiteral("You can enter digits only in this field!"), 0);
}

bool TDigitsOnlyFilter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && Refuses(*static_cast<QKeyEvent*>(event))) {
        Complain();
        return true;
    }
    if (event->type() == QEvent::InputMethod) {
        const auto* input = static_cast<QInputMethodEvent*>(event);
        if (!input->commitString().isEmpty() && !AllDigits(input->commitString())) {
            Complain();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
