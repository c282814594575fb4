#include "support/gui/guitestmain.h"

#include <QLocale>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>

namespace testsupport {

int RunGuiTests(int argc, char** argv, const MakeApplication& make)
{
    QTemporaryDir sandbox;
    if (!sandbox.isValid())
        return 2;
    // Servers under test may run as another user and are handed files from
    // the temporary folder: it must be enterable.
    ::chmod(QFile::encodeName(sandbox.path()).constData(), 0755);
    const QByteArray config = QFile::encodeName(sandbox.path() + QStringLiteral("/config"));
    const QByteArray home = QFile::encodeName(sandbox.path() + QStringLiteral("/home"));
    const QByteArray tmp = QFile::encodeName(sandbox.path() + QStringLiteral("/tmp"));
    ::mkdir(tmp.constData(), 0755);
    setenv("XDG_CONFIG_HOME", config.constData(), 1);
    setenv("TARVIK_HOME", home.constData(), 1);
    setenv("TMPDIR", tmp.constData(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Passwords stay in Accounts.dat: a desktop keyring the machine happens
    // to run stays out of the tests (the keyring test brings its own).
    setenv("TARVIK_NO_KEYRING", "1", 0);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromLocal8Bit(config));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromLocal8Bit(config));

    int result = 0;
    {
        const std::unique_ptr<QApplication> app = make ? make(argc, argv) : std::make_unique<QApplication>(argc, argv);
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}

} // namespace testsupport
