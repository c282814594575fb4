// The dialog tests need a QApplication (widgets); they run on the offscreen
// platform, set by the test's environment.
#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    // These tests read passwords from Accounts.dat: a desktop keyring the
    // machine happens to run stays out of it (the keyring has a test of its
    // own, with a keyring of its own).
    setenv("TARVIK_NO_KEYRING", "1", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
