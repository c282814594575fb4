// GoogleTest entry point for tests below the GUI: the components under test
// deliver every notification through the Qt event loop, so a
// QCoreApplication must exist before any test runs.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
