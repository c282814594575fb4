// GoogleTest entry point of the window tests that need no application
// object of their own.
#include "support/gui/guitestmain.h"

int main(int argc, char** argv) { return testsupport::RunGuiTests(argc, argv); }
