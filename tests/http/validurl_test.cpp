// The URL information window offscreen, against Python's http.server and the
// scripted server of this folder.

#include "dialogs/url/validurl.h"
#include "httptestpeer.h"
#include "support/testfiles.h"
#include "support/eventwait.h"
#include "support/gui/scriptedprompts.h"

#include "ui/certificatedialog.h"
#include "ui/helpfile.h"
#include "net/ssltruststore.h"
#include "tls/tlstestpeer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QLabel>
#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

using testsupport::WaitFor;

const QString Stars = QString(60, QLatin1Char('*'));

// Bytes a text view would be tempted to alter: CR LF, bare CR, NUL, high bytes.
std::string BinaryDocument(std::size_t size)
{
    std::string s(size, '\0');
    std::uint32_t x = 424242;
    for (std::size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>(x >> 24);
        if (i % 97 == 0)
            s[i] = '\r';
        if (i % 97 == 1)
            s[i] = '\n';
    }
    return s;
}

QStringList Lines(const QPlainTextEdit* memo) { return memo->toPlainText().split(QLatin1Char('\n')); }

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Temporary document folders of the window still on disk.
QStringList LeftoverFolders()
{
    return QDir(QDir::tempPath()).entryList({QStringLiteral("tarvik-urlinfo-*")}, QDir::AllEntries | QDir::Hidden);
}

class UrlWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        files_ = new testsupport::TempDir;
        testsupport::WriteFile(files_->File("index.html"), "<html>\r\n<body>root page</body>\r\n</html>\r\n");
        testsupport::WriteFile(files_->File("other.txt"), "second document\nline two\n");
        testsupport::WriteFile(files_->File("empty.txt"), "");
        testsupport::WriteFile(files_->File("oneline.txt"), std::string(1536 * 1024, 'a'));
        testsupport::WriteFile(files_->File("big.bin"), BinaryDocument(3 * 1024 * 1024 + 17));
        static_ = new httptest::TPeerProcess;
        ASSERT_TRUE(static_->StartStatic(files_->Path()));
        scripted_ = new httptest::TPeerProcess;
        ASSERT_TRUE(scripted_->StartScripted());
    }
    static void TearDownTestSuite()
    {
        delete scripted_;
        delete static_;
        delete files_;
        scripted_ = static_ = nullptr;
        files_ = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(saves_.isValid());
        form_ = std::make_unique<TFormHttp>();
    }
    void TearDown() override
    {
        form_.reset();
        EXPECT_EQ(LeftoverFolders(), QStringList());
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(prompts_.Unexpected(), 0);
    }

    static QString StaticUrl(const char* path) { return QString::fromStdString(static_->BaseUrl()) + path; }
    static QString ScriptedUrl(const char* path) { return QString::fromStdString(scripted_->BaseUrl()) + path; }

    // Types the URL, picks the kind and presses Get Info; waits for the end.
    void Request(const QString& url, bool get)
    {
        Start(url, get);
        ASSERT_TRUE(WaitFor([&] { return !form_->Requesting(); }, 20000));
    }
    void Start(const QString& url, bool get)
    {
        form_->EditUrl->setText(url);
        (get ? form_->RadioGet : form_->RadioHead)->setChecked(true);
        QTest::mouseClick(form_->ButVal, Qt::LeftButton);
    }
    QString SaveAs(const QString& name)
    {
        const QString target = saves_.filePath(name);
        prompts_.AnswerSaveFile(target);
        QTest::mouseClick(form_->ButSav, Qt::LeftButton);
        return target;
    }

    static testsupport::TempDir* files_;
    static httptest::TPeerProcess* static_;
    static httptest::TPeerProcess* scripted_;
    testsupport::ScriptedPrompts prompts_;
    QTemporaryDir saves_;
    std::unique_ptr<TFormHttp> form_;
};

testsupport::TempDir* UrlWindow::files_ = nullptr;
httptest::TPeerProcess* UrlWindow::static_ = nullptr;
httptest::TPeerProcess* UrlWindow::scripted_ = nullptr;

TEST_F(UrlWindow, HeadShowsStatusAndHeadersOnlyAndSavesAnEmptyFile)
{
    const QString url = StaticUrl("/index.html");
    Request(url, false);
    const QStringList head = Lines(form_->Memo2);
    ASSERT_GE(head.size(), 6);
    EXPECT_EQ(head.mid(0, 5), (QStringList{QStringLiteral("Attempting to retrieve information for:"), url, Stars,
                                           QStringLiteral("Status: 200"), QStringLiteral("HTTP/1.0 200 OK")}));
    EXPECT_TRUE(head.contains(QStringLiteral("Content-Length: 41"))) << head.join('|').toStdString();
    EXPECT_EQ(form_->Memo1->toPlainText(), QString());
    EXPECT_TRUE(form_->ButVal->isEnabled());
    EXPECT_TRUE(form_->ButSav->isEnabled());
    EXPECT_FALSE(form_->ButCan->isEnabled());

    const QString saved = SaveAs(QStringLiteral("head.html"));
    ASSERT_EQ(prompts_.Records().size(), 1);
    EXPECT_EQ(prompts_.Records()[0].caption, QStringLiteral("Save Document As"));
    EXPECT_EQ(QFileInfo(prompts_.Records()[0].text).fileName(), QStringLiteral("index.html"));
    EXPECT_EQ(ReadAll(saved), QByteArray());
}

TEST_F(UrlWindow, GetShowsTheDocumentAndSavesItUnchanged)
{
    const QString url = StaticUrl("/index.html");
    Request(url, true);
    EXPECT_EQ(Lines(form_->Memo1), (QStringList{QStringLiteral("<html>"), QStringLiteral("<body>root page</body>"),
                                                QStringLiteral("</html>")}));
    const QStringList head = Lines(form_->Memo2);
    EXPECT_EQ(head.mid(0, 4), (QStringList{QStringLiteral("Attempting to retrieve information for:"), url, Stars,
                                           QStringLiteral("Status: 200")}));
    EXPECT_TRUE(head.contains(QStringLiteral("Content-type: text/html"))) << head.join('|').toStdString();
    // TARVIK_URLWINDOW_GRAB=<file.png> keeps a picture of the window for a look.
    const QString grab = qEnvironmentVariable("TARVIK_URLWINDOW_GRAB");
    if (!grab.isEmpty()) {
        form_->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
        EXPECT_TRUE(form_->grab().save(grab));
    }

    const QString saved = SaveAs(QStringLiteral("page.html"));
    EXPECT_EQ(ReadAll(saved), QByteArray("<html>\r\n<body>root page</body>\r\n</html>\r\n"));

    // A second GET replaces both areas; the header area starts afresh.
    Request(StaticUrl("/other.txt"), true);
    EXPECT_EQ(Lines(form_->Memo1), (QStringList{QStringLiteral("second document"), QStringLiteral("line two")}));
    EXPECT_EQ(Lines(form_->Memo2).first(), QStringLiteral("Attempting to retrieve information for:"));
    EXPECT_EQ(form_->Memo2->toPlainText().count(QStringLiteral("Status: ")), 1);
    const QString again = SaveAs(QStringLiteral("other"));
    EXPECT_EQ(prompts_.Records().last().text, saves_.filePath(QStringLiteral("other.txt")));
    EXPECT_EQ(ReadAll(again + QStringLiteral(".html")), QByteArray("second document\nline two\n"));
}

TEST_F(UrlWindow, HugeDocumentIsShownInPartButSavedWhole)
{
    Request(StaticUrl("/big.bin"), true);
    const QString shown = form_->Memo1->toPlainText();
    EXPECT_LE(shown.size(), TFormHttp::DocumentDisplayLimit + 200);
    EXPECT_TRUE(shown.endsWith(QStringLiteral("Save As saves the whole document.]"))) << shown.right(120).toStdString();
    const QString saved = SaveAs(QStringLiteral("big.bin"));
    EXPECT_TRUE(ReadAll(saved) == QByteArray::fromStdString(BinaryDocument(3 * 1024 * 1024 + 17)));
    // The kept document lives in the window's temporary folder until the window goes.
    const QString folder = QFileInfo(form_->Document().FilePath()).absolutePath();
    EXPECT_TRUE(QFileInfo::exists(folder));
    form_.reset();
    EXPECT_FALSE(QFileInfo::exists(folder));

    // A megabyte without a line break is shown in lines short enough to lay
    // out (one such line would hold the window for minutes).
    form_ = std::make_unique<TFormHttp>();
    Request(StaticUrl("/oneline.txt"), true);
    int longest = 0;
    for (QTextBlock b = form_->Memo1->document()->begin(); b.isValid(); b = b.next())
        longest = std::max(longest, b.length());
    EXPECT_GT(longest, 100);
    EXPECT_LE(longest, 4096);
    EXPECT_EQ(ReadAll(SaveAs(QStringLiteral("oneline.txt"))), QByteArray(1536 * 1024, 'a'));
}

TEST_F(UrlWindow, EmptyDocumentIsNoError)
{
    Request(StaticUrl("/empty.txt"), true);
    EXPECT_EQ(form_->Memo1->toPlainText(), QString());
    EXPECT_TRUE(form_->Memo2->toPlainText().contains(QStringLiteral("Status: 200")));
    EXPECT_EQ(ReadAll(SaveAs(QStringLiteral("empty.txt"))), QByteArray());
}

TEST_F(UrlWindow, MissingPageShowsTheFailureLines)
{
    Request(ScriptedUrl("/missing"), true);
    EXPECT_EQ(Lines(form_->Memo1), (QStringList{QStringLiteral("Retrieval of document failed!"),
                                                QStringLiteral("Status: 404"), QStringLiteral("Reason: Not Found")}));
    EXPECT_EQ(Lines(form_->Memo2).size(), 3); // the connection notice only
    // With no document, Save As writes what the document area says.
    EXPECT_EQ(ReadAll(SaveAs(QStringLiteral("failed.txt"))),
              QByteArray("Retrieval of document failed!\nStatus: 404\nReason: Not Found\n"));

    Request(ScriptedUrl("/missing"), false);
    EXPECT_EQ(Lines(form_->Memo2).mid(3),
              (QStringList{QStringLiteral("Status: 404"), QStringLiteral("Reason: Not Found"), Stars}));
    EXPECT_EQ(form_->Memo1->toPlainText(), QString());
}

TEST_F(UrlWindow, ConnectionFailuresAndCutDocumentsEndWithTheirError)
{
    const int port = httptest::UnusedPort();
    Request(QStringLiteral("http://127.0.0.1:%1/x").arg(port), true);
    QStringList lines = Lines(form_->Memo1);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], QStringLiteral("Retrieval of document failed!"));
    EXPECT_EQ(lines[1], QStringLiteral("Status: 404"));
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("Reason: ")) && lines[2].endsWith(QStringLiteral("(Error #10061)")))
        << lines[2].toStdString();
    EXPECT_EQ(lines[3], QStringLiteral("Error: 10061"));
    EXPECT_EQ(form_->Memo2->toPlainText(), QString());

    // The server promises 1000 bytes and closes after 300: no half document
    // passes for the whole one, and none is kept.
    Request(ScriptedUrl("/midbody"), true);
    EXPECT_EQ(Lines(form_->Memo1),
              (QStringList{QStringLiteral("Retrieval of document failed!"), QStringLiteral("Status: 200"),
                           QStringLiteral("Reason: Connection closed before the end of the document"),
                           QStringLiteral("Error: 6")}));
    EXPECT_TRUE(form_->Document().FilePath().isEmpty());
    EXPECT_EQ(LeftoverFolders(), QStringList());
}

TEST_F(UrlWindow, EscapeAbortsARunningRequestAndClosesWhenIdle)
{
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    // Part of the body has arrived, so the document file exists.
    Start(ScriptedUrl("/slow"), true);
    ASSERT_TRUE(WaitFor([&] { return form_->Document().Open(); }, 10000));
    const QString file = form_->Document().FilePath();
    EXPECT_TRUE(QFileInfo::exists(file));
    EXPECT_TRUE(form_->ButCan->isEnabled());
    EXPECT_FALSE(form_->ButVal->isEnabled());
    EXPECT_NE(QGuiApplication::overrideCursor(), nullptr);

    QTest::keyClick(form_->EditUrl, Qt::Key_Escape);
    ASSERT_TRUE(WaitFor([&] { return !form_->Requesting(); }, 10000));
    EXPECT_TRUE(form_->isVisible());
    EXPECT_EQ(Lines(form_->Memo1),
              (QStringList{QStringLiteral("Retrieval of document failed!"), QStringLiteral("Status: 404"),
                           QStringLiteral("Reason: Connection aborted on request"), QStringLiteral("Error: 3")}));
    EXPECT_FALSE(QFileInfo::exists(file));
    EXPECT_EQ(LeftoverFolders(), QStringList());

    // A HEAD that never gets an answer: the failure goes to the header area.
    Start(ScriptedUrl("/hold"), false);
    ASSERT_TRUE(WaitFor([&] { return form_->Http1().State() == httpWaitingHeader; }, 10000));
    QTest::keyClick(form_->EditUrl, Qt::Key_Escape);
    ASSERT_TRUE(WaitFor([&] { return !form_->Requesting(); }, 10000));
    EXPECT_EQ(
        Lines(form_->Memo2).mid(3),
        (QStringList{QStringLiteral("Status: 404"), QStringLiteral("Reason: Connection aborted on request"), Stars}));
    EXPECT_EQ(form_->Memo1->toPlainText(), QStringLiteral("Error: 3"));
    EXPECT_TRUE(form_->isVisible());

    // Idle: Escape closes the window, also from the document area.
    form_->Memo1->setFocus();
    QTest::keyClick(form_->Memo1, Qt::Key_Escape);
    EXPECT_FALSE(form_->isVisible());
    EXPECT_EQ(form_->result(), QDialog::Rejected);
}

TEST_F(UrlWindow, ClosingOrDestroyingTheWindowEndsTheRequestAndItsFile)
{
    form_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form_.get()));
    Start(ScriptedUrl("/slow"), true);
    ASSERT_TRUE(WaitFor([&] { return form_->Document().Open(); }, 10000));
    QString folder = QFileInfo(form_->Document().FilePath()).absolutePath();
    // Exit stays usable while a request runs and does not leave it running.
    QTest::mouseClick(form_->Button3, Qt::LeftButton);
    EXPECT_FALSE(form_->isVisible());
    EXPECT_EQ(form_->Http1().State(), httpReady);
    ASSERT_TRUE(WaitFor([&] { return !form_->Requesting(); }, 10000));
    EXPECT_FALSE(QFileInfo::exists(folder));

    // Destroyed in the middle of the body.
    Start(ScriptedUrl("/slow"), true);
    ASSERT_TRUE(WaitFor([&] { return form_->Document().Open(); }, 10000));
    folder = QFileInfo(form_->Document().FilePath()).absolutePath();
    form_.reset();
    EXPECT_FALSE(QFileInfo::exists(folder));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    // Whatever the client had posted finds no window.
    testsupport::RunFor(200);
}

TEST_F(UrlWindow, RefusesControlCharactersInTheUrl)
{
    form_->EditUrl->setText(ScriptedUrl("/echo\r\nX-Injected: yes"));
    QTest::mouseClick(form_->ButVal, Qt::LeftButton);
    EXPECT_FALSE(form_->Requesting());
    ASSERT_EQ(prompts_.Notices().size(), 1);
    EXPECT_TRUE(prompts_.Notices()[0].startsWith(QStringLiteral("URL Information|")));
    EXPECT_EQ(form_->Memo2->toPlainText(), QString());
}

TEST_F(UrlWindow, SaveAsCancelledOrFailingWritesNothing)
{
    Request(StaticUrl("/other.txt"), true);
    prompts_.AnswerSaveFile(QString()); // cancelled
    QTest::mouseClick(form_->ButSav, Qt::LeftButton);
    EXPECT_TRUE(prompts_.Notices().isEmpty());
    EXPECT_TRUE(QDir(saves_.path()).isEmpty());

    prompts_.AnswerSaveFile(saves_.filePath(QStringLiteral("no/such/folder/x.txt")));
    QTest::mouseClick(form_->ButSav, Qt::LeftButton);
    ASSERT_EQ(prompts_.Notices().size(), 1);
    EXPECT_TRUE(prompts_.Notices()[0].startsWith(QStringLiteral("Save Document As|The document could not be saved")));
}

TEST_F(UrlWindow, HelpOpensTheUrlInformationTopic)
{
    testsupport::RecordingShell shell;
    QTemporaryDir helpDir;
    QFile help(QDir(helpDir.path()).filePath(THelpFile::FileName()));
    ASSERT_TRUE(help.open(QIODevice::WriteOnly));
    help.write("<html></html>");
    help.close();
    THelpFile::SetSearchFolders({helpDir.path()});
    QTest::mouseClick(form_->Button1, Qt::LeftButton);
    ASSERT_EQ(shell.opened.size(), 1);
    EXPECT_EQ(shell.opened[0].fragment(), QStringLiteral("IDH_urlinfo"));
    EXPECT_EQ(shell.opened[0].toLocalFile(), QFileInfo(help).absoluteFilePath());

    // Without the file the user is told where it was looked for.
    QTemporaryDir empty;
    THelpFile::SetSearchFolders({empty.path()});
    QTest::mouseClick(form_->Button1, Qt::LeftButton);
    EXPECT_EQ(shell.opened.size(), 1);
    ASSERT_EQ(prompts_.Notices().size(), 1);
    EXPECT_TRUE(prompts_.Notices()[0].startsWith(QStringLiteral("Help|")));
    THelpFile::SetSearchFolders({});
}

// --- https and the certificate dialog -------------------------------------------------

// TARVIK_TLS_SHOW_MS=<ms> keeps a window on screen that long (for a
// screenshot under a real display); TARVIK_TLS_GRAB=<prefix> saves pictures.
void ShowForALook(QWidget* w, const QString& name)
{
    const QString grab = qEnvironmentVariable("TARVIK_TLS_GRAB");
    const int ms = qEnvironmentVariableIntValue("TARVIK_TLS_SHOW_MS");
    if (grab.isEmpty() && ms <= 0)
        return;
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    if (ms > 0)
        testsupport::RunFor(ms);
    if (!grab.isEmpty()) {
        EXPECT_TRUE(w->grab().save(grab + name + QStringLiteral(".png")));
    }
}

class UrlWindowHttps : public UrlWindow {
protected:
    static void SetUpTestSuite()
    {
        UrlWindow::SetUpTestSuite();
        settings_ = new QTemporaryDir;
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings_->path());
        self_ = new httptest::TPeerProcess;
        ASSERT_TRUE(self_->StartScriptedTls(tlstest::CertFile("self"), tlstest::KeyFile("self")));
    }
    static void TearDownTestSuite()
    {
        delete self_;
        self_ = nullptr;
        delete settings_;
        settings_ = nullptr;
        UrlWindow::TearDownTestSuite();
    }
    static QString Port() { return QString::number(self_->Port()); }
    static QString SecureUrl(const char* path) { return QStringLiteral("https://localhost:") + Port() + path; }

    static QTemporaryDir* settings_;
    static httptest::TPeerProcess* self_;
};

QTemporaryDir* UrlWindowHttps::settings_ = nullptr;
httptest::TPeerProcess* UrlWindowHttps::self_ = nullptr;

TEST_F(UrlWindowHttps, CertificateAnsweredEachWay)
{
    const std::string port = Port().toStdString();
    TSslTrustStore::Forget("localhost", port);

    // Cancel: nothing is fetched.
    prompts_.AnswerCertificate(TCertificateAnswer::Cancel);
    Request(SecureUrl("/echo/page"), true);
    ASSERT_EQ(prompts_.CertificatePrompts().size(), 1);
    const TCertificatePrompt first = prompts_.CertificatePrompts()[0];
    EXPECT_EQ(first.Host, QStringLiteral("localhost:") + Port());
    EXPECT_EQ(first.Reason, QStringLiteral("the certificate is self-signed"));
    EXPECT_EQ(first.Subject, QStringLiteral("CN=localhost"));
    EXPECT_EQ(first.Fingerprint.size(), 95);
    EXPECT_TRUE(first.StoredFingerprint.isEmpty());
    EXPECT_EQ(Lines(form_->Memo1),
              (QStringList{QStringLiteral("Retrieval of document failed!"), QStringLiteral("Status: 404"),
                           QStringLiteral("Reason: TLS error: certificate rejected: the certificate is self-signed"),
                           QStringLiteral("Error: 12111")}));

    // Trust once: the page comes, over TLS; the next request asks again.
    prompts_.AnswerCertificate(TCertificateAnswer::TrustOnce);
    Request(SecureUrl("/echo/page"), true);
    EXPECT_EQ(prompts_.CertificatePrompts().size(), 2);
    EXPECT_EQ(Lines(form_->Memo1).value(0), QStringLiteral("GET /echo/page HTTP/1.0"));
    const QStringList head = Lines(form_->Memo2);
    EXPECT_EQ(head.mid(0, 3),
              (QStringList{QStringLiteral("Attempting to retrieve information for:"), SecureUrl("/echo/page"), Stars}));
    EXPECT_TRUE(head.value(3).startsWith(QStringLiteral("Secure connection: TLSv1.3, ")))
        << head.value(3).toStdString();
    EXPECT_EQ(head.value(4), QStringLiteral("Status: 200"));
    ShowForALook(form_.get(), QStringLiteral("urlwindow-https"));
    EXPECT_EQ(TSslTrustStore::Fingerprint("localhost", port), "");

    // Always: remembered for this host and port, not asked again.
    prompts_.AnswerCertificate(TCertificateAnswer::TrustAlways);
    Request(SecureUrl("/echo/always"), false);
    EXPECT_EQ(prompts_.CertificatePrompts().size(), 3);
    EXPECT_EQ(TSslTrustStore::Fingerprint("localhost", port), first.Fingerprint.toStdString());
    Request(SecureUrl("/echo/again"), true);
    EXPECT_EQ(prompts_.CertificatePrompts().size(), 3);
    EXPECT_EQ(Lines(form_->Memo1).value(0), QStringLiteral("GET /echo/again HTTP/1.0"));

    // Another certificate trusted before for this host: the question names
    // both fingerprints.
    TSslTrustStore::Trust("localhost", port, "AA:BB:CC");
    prompts_.AnswerCertificate(TCertificateAnswer::Cancel);
    Request(SecureUrl("/echo/changed"), true);
    ASSERT_EQ(prompts_.CertificatePrompts().size(), 4);
    EXPECT_EQ(prompts_.CertificatePrompts()[3].StoredFingerprint, QStringLiteral("AA:BB:CC"));
    EXPECT_EQ(prompts_.CertificatePrompts()[3].Fingerprint, first.Fingerprint);
    EXPECT_EQ(Lines(form_->Memo1).value(0), QStringLiteral("Retrieval of document failed!"));
    TSslTrustStore::Forget("localhost", port);
}

TEST_F(UrlWindowHttps, CertificateDialogButtons)
{
    TCertificatePrompt prompt;
    prompt.Host = QStringLiteral("ftp.example.org:990");
    prompt.Reason = QStringLiteral("the certificate is self-signed");
    prompt.Subject = QStringLiteral("CN=ftp.example.org,O=Example");
    prompt.Issuer = QStringLiteral("CN=ftp.example.org,O=Example");
    prompt.ValidFrom = QStringLiteral("2026-01-01 00:00:00 UTC");
    prompt.ValidTo = QStringLiteral("2028-01-01 00:00:00 UTC");
    prompt.Fingerprint = QStringLiteral("12:34:56");
    struct Case {
        const char* button;
        TCertificateAnswer answer;
    };
    for (const Case& c :
         {Case{"TrustOnce", TCertificateAnswer::TrustOnce}, Case{"TrustAlways", TCertificateAnswer::TrustAlways},
          Case{"Cancel", TCertificateAnswer::Cancel}}) {
        TCertificateDialog dialog(prompt);
        EXPECT_EQ(dialog.TrustAlwaysButton->text(), QStringLiteral("Always trust this certificate for this host"));
        QTimer::singleShot(0, &dialog, [&] {
            QTest::mouseClick(dialog.findChild<QPushButton*>(QString::fromLatin1(c.button)), Qt::LeftButton);
        });
        dialog.exec();
        EXPECT_EQ(dialog.Answer(), c.answer) << c.button;
    }
    {
        // Escape and Enter refuse.
        for (const Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
            TCertificateDialog dialog(prompt);
            QTimer::singleShot(0, &dialog, [&] { QTest::keyClick(&dialog, key); });
            dialog.exec();
            EXPECT_EQ(dialog.Answer(), TCertificateAnswer::Cancel);
        }
    }
    {
        TCertificateDialog plain(prompt);
        EXPECT_EQ(plain.windowTitle(), QStringLiteral("Unknown certificate"));
        ShowForALook(&plain, QStringLiteral("certificate-unknown"));
    }
    prompt.StoredFingerprint = QStringLiteral("AB:CD:EF");
    TCertificateDialog changed(prompt);
    EXPECT_EQ(changed.windowTitle(), QStringLiteral("Certificate changed"));
    const QString text = changed.findChild<QLabel*>(QStringLiteral("Headline"))->text();
    EXPECT_TRUE(text.contains(QStringLiteral("CHANGED"))) << text.toStdString();
    QStringList shown;
    for (const QLabel* label : changed.findChildren<QLabel*>())
        shown << label->text();
    EXPECT_TRUE(shown.contains(QStringLiteral("AB:CD:EF")));
    EXPECT_TRUE(shown.contains(QStringLiteral("12:34:56")));
    ShowForALook(&changed, QStringLiteral("certificate-changed"));
}

} // namespace
