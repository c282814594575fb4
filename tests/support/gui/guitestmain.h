#pragma once

// The one GoogleTest entry point of the window tests. It runs every test
// offscreen (unless the environment names a platform), with US English
// number formats, without the desktop keyring, and in a private sandbox:
// settings, the application folder and the temporary folder all live in a
// temporary folder removed at the end, so the tests never touch the user's
// own files and see whatever a window leaves behind.

#include <QApplication>

#include <functional>
#include <memory>

namespace testsupport {

using MakeApplication = std::function<std::unique_ptr<QApplication>(int& argc, char** argv)>;

// Runs every test under an application object from `make` (a plain
// QApplication when it is empty); returns the program's exit status.
int RunGuiTests(int argc, char** argv, const MakeApplication& make = {});

} // namespace testsupport
