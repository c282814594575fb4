// GoogleTest entry point for the window tests: the program's own application
// object (so exceptions escaping event handlers take the program's path),
// with the settings store and the application folder in a temporary folder
// so the tests never touch the user's own.
#include "app/tarvikapplication.h"

#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    QTemporaryDir sandbox;
    if (!sandbox.isValid())
        return 2;
    const QByteArray config = (sandbox.path() + QStringLiteral("/config")).toLocal8Bit();
    const QByteArray home = (sandbox.path() + QStringLiteral("/home")).toLocal8Bit();
    setenv("XDG_CONFIG_HOME", config.constData(), 1);
    setenv("TARVIK_HOME", home.constData(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("TARVIK_NO_KEYRING", "1", 0);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromLocal8Bit(config));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromLocal8Bit(config));

    TTarvikApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
