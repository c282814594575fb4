#include "app/formmain.h"
#include "app/splash.h"
#include "app/tarvikapplication.h"
#include "dialogs/tarvikicon.h"

#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <exception>
#include <memory>

int main(int argc, char** argv)
{
    try {
        TTarvikApplication app(argc, argv);
        app.setWindowIcon(TarvikIcon());

        auto splash = std::make_unique<TSplashForm>();
        splash->show();
        // The splash stays up for two seconds; the event loop keeps running
        // meanwhile so that it paints and the desktop sees a live program.
        QEventLoop pause;
        QTimer::singleShot(2000, &pause, &QEventLoop::quit);
        pause.exec();

        TFormMain formMain;
        formMain.show();
        splash.reset();
        app.exec();
    } catch (const std::exception& e) {
        // The hourglass went with the application object.
        std::fprintf(stderr, "tarvik: %s\n", e.what());
    }
    return 0;
}
