#pragma once

#include <QObject>

class QKeyEvent;
class QWidget;

// Lets only digits and backspace be typed into a field: any other typed
// character (control characters included) is dropped and the notice
// "Digits Only" is shown. Editing keys that type nothing (arrows, Delete,
// Tab, Escape) and the clipboard shortcuts pass untouched.
class TDigitsOnlyFilter : public QObject {
    Q_OBJECT
public:
    explicit TDigitsOnlyFilter(QObject* parent = nullptr);

    // Filters `field`'s input; the filter is owned by the field.
    static TDigitsOnlyFilter* Install(QWidget* field);

    // Whether the key event types something the filter refuses.
    static bool Refuses(const QKeyEvent& event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static void Complain();
};
