#pragma once

// The GUI application object. An exception thrown by an event handler would
// otherwise unwind through Qt's event loop and end the program; it goes to
// the application's exception handler instead, and the program keeps
// running.

#include <QApplication>

class TTarvikApplication final : public QApplication {
    Q_OBJECT
public:
    TTarvikApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
