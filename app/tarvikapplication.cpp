#include "app/tarvikapplication.h"

#include "platform/application.h"

#include <stdexcept>

TTarvikApplication::TTarvikApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Tarvik"));
    setOrganizationName(QStringLiteral("Veltrane"));
    // No display name: the desktop would append it to every caption, which
    // already begins with the program's name.
    setDesktopFileName(QStringLiteral("tarvik"));
}

bool TTarvikApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        Application::HandleException(e);
    } catch (...) {
        Application::HandleException(std::runtime_error("Unknown exception"));
    }
    return false;
}
