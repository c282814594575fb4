#pragma once

// What the session tests share: a main window offscreen with scripted
// prompts and shell, a local folder selected in it, and a real FTP server
// (pyftpdlib) or a scripted one on 127.0.0.1.

#include "app/formmain.h"
#include "app/listview.h"
#include "support/ftpfakeserver.h"
#include "support/ftpserver.h"
#include "support/gui/scriptedprompts.h"

#include <QByteArray>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace sessiontest {

QByteArray ReadAll(const QString& path);
void WriteFile(const QString& path, const QByteArray& bytes);
QByteArray Pattern(qint64 size, int seed);
QStringList Captions(const TListView* list);
// The model index of the row with this caption; invalid when there is none.
QModelIndex RowIndex(const TListView* list, const QString& caption);
// Selects exactly the rows whose captions are named.
void Select(TListView* list, const QStringList& captions);
QString LogText(const TFormMain& form);
int LogCount(const TFormMain& form, const QString& line);

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts pyftpdlib (once per test).
    void StartServer(testsupport::FtpTestServer::Kind kind = testsupport::FtpTestServer::Kind::Pyftpdlib);
    QString Remote(const QString& name) const;
    // Connects the way the quick-connect list does, through a stored profile.
    void QuickConnect(bool passive = false);
    // Connects to the scripted server (passive: it only listens).
    void ConnectFake(const ftptest::FakeFtpServer& fake);
    void Disconnect();

    testsupport::ScriptedPrompts prompts;
    testsupport::RecordingShell shell;
    QTemporaryDir local;
    std::unique_ptr<testsupport::FtpTestServer> server;
    std::unique_ptr<TFormMain> form;
};

} // namespace sessiontest
