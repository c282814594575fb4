#pragma once

// Shared pieces of the tool window tests: scripted prompts, the
// application's error handler recorded, and pictures of the windows on
// request (TARVIK_TOOLWIN_SHOTS names a folder to write them to).

#include "platform/application.h"
#include "support/gui/scriptedprompts.h"
#include "tools/icmp.h"

#include <QDir>
#include <QPlainTextEdit>
#include <QStringList>
#include <QWidget>

#include <gtest/gtest.h>

#include <exception>

namespace toolwintest {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Application::SetExceptionHook([this](const std::exception& e) { errors << QString::fromUtf8(e.what()); });
    }
    void TearDown() override { Application::SetExceptionHook(nullptr); }

    testsupport::ScriptedPrompts prompts;
    QStringList errors;
};

// The windows built on the echo engine: skipped where the engine cannot
// start (no ICMP socket for this user).
class EchoWindowTest : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        try {
            TPing probe;
        } catch (const std::exception& e) {
            GTEST_SKIP() << "the window needs its echo engine: " << e.what();
        }
    }
};

inline QStringList Lines(const QPlainTextEdit& memo) { return memo.toPlainText().split(QLatin1Char('\n')); }

inline void Shoot(QWidget& window, const char* name)
{
    const QByteArray folder = qgetenv("TARVIK_TOOLWIN_SHOTS");
    if (folder.isEmpty())
        return;
    window.grab().save(QDir(QString::fromLocal8Bit(folder)).filePath(QString::fromLatin1(name) + ".png"));
}

} // namespace toolwintest
