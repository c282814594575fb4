// GoogleTest entry point of the main window's tests: the program's own
// application object, so exceptions escaping event handlers take the
// program's path.
#include "app/tarvikapplication.h"
#include "support/gui/guitestmain.h"

int main(int argc, char** argv)
{
    return testsupport::RunGuiTests(argc, argv, [](int& c, char** v) -> std::unique_ptr<QApplication> {
        return std::make_unique<TTarvikApplication>(c, v);
    });
}
