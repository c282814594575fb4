// Takes pictures of the main window, the About box and the splash window:
//   tarvik_screenshots <output folder>
// Runs offscreen or on any X display (xvfb-run). The remote panes are filled
// with sample entries so the picture shows a window as it looks connected.
#include "app/formmain.h"
#include "app/listview.h"
#include "app/splash.h"
#include "app/tarvikapplication.h"
#include "dialogs/about.h"
#include "dialogs/transfer.h"
#include "dialogs/transferprogress.h"
#include "ftp/ftpclient.h"
#include "support/ftpserver.h"

#include <QGuiApplication>
#include <QScreen>
#include <QThread>

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

namespace {

void Settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void Save(QWidget* widget, const QString& path)
{
    Settle(300);
    if (!widget->grab().save(path))
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
    else
        std::printf("%s\n", qPrintable(path));
}

void FillSampleFolder(const QString& folder)
{
    const char* names[] = {"index.html", "logo.png", "notes.txt", "backup-2024.tar.gz", "style.css", "readme"};
    int size = 1200;
    for (const char* name : names) {
        QFile file(folder + QLatin1Char('/') + QString::fromLatin1(name));
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray(size, 'x'));
        size = size * 3 + 17;
    }
    QDir(folder).mkdir(QStringLiteral("images"));
}

void FillSampleRemote(TFormMain& form)
{
    form.RemoteDirs->setEnabled(true);
    form.RemoteFiles->setEnabled(true);
    for (const char* name : {".", "..", "cgi-bin", "images", "www -> public_html"})
        form.RemoteDirs->Items()->Add({QString::fromLatin1(name), 2, {}});
    struct Sample {
        const char* name;
        int image;
        const char* size;
        const char* date;
    };
    const Sample files[] = {{"index.html", 1, "5120 ", "Jan  12  10:30  "},
                            {"favicon.ico", 0, "1150 ", "Mar  3  2023  "},
                            {"my file.txt", 1, "42 ", "Dec  1  09:15  "},
                            {"site.tar.gz", 0, "10485760 ", "Nov  30  22:01  "}};
    for (const Sample& file : files)
        form.RemoteFiles->Items()->Add(
            {QString::fromLatin1(file.name),
             file.image,
             {QString::fromLatin1(file.size), QString::fromLatin1(file.date), QStringLiteral("-rw-r--r-- ")}});
    form.SetCaptionConnected(QStringLiteral("ftp.example.org"), QStringLiteral("127.0.0.1"));
    form.Log(QStringLiteral("..Connected to: ftp.example.org - IP (127.0.0.1)"));
    form.Log(QStringLiteral("< 220 Welcome to the example FTP service."));
    form.Log(QStringLiteral("> USER anonymous"));
    form.Log(QStringLiteral("< 331 Please specify the password."));
    form.Log(QStringLiteral("< 230 Login successful."));
    form.Log(QStringLiteral("..Ready"));
    form.SetStatusText(1, QStringLiteral("Current Directory - /pub"));
    form.SetControls(true);
}

// The window connected to a real local server (pyftpdlib), with a listing,
// and a download running with its progress dialog.
void LiveSession(TFormMain& form, const QString& out)
{
    std::string whyNot;
    auto server = testsupport::FtpTestServer::Start(testsupport::FtpTestServer::Kind::Pyftpdlib, &whyNot);
    if (!server) {
        std::fprintf(stderr, "no local FTP server for the live pictures: %s\n", whyNot.c_str());
        return;
    }
    const QString root = QString::fromStdString(server->Root());
    FillSampleFolder(root);
    QDir(root).mkdir(QStringLiteral("cgi-bin"));
    QFile big(root + QStringLiteral("/site-backup.tar.gz"));
    if (big.open(QIODevice::WriteOnly)) {
        const QByteArray block(1024 * 1024, 'z');
        for (int i = 0; i < 64; ++i)
            big.write(block);
        big.close();
    }
    form.resize(640, 455);
    form.SiteHost = QStringLiteral("127.0.0.1");
    form.SiteUser = QString::fromStdString(server->User());
    form.SitePassword = QString::fromStdString(server->Password());
    form.SitePort = QString::fromStdString(server->PortText());
    form.Memo1->clear();
    form.OpenSession();
    Save(&form, out + QStringLiteral("/main-session-640x455.png"));

    QTemporaryDir target;
    form.SelectFolder(target.path());
    auto progress = form.FTPC1->OnProgress;
    bool taken = false;
    form.FTPC1->OnProgress = [&](TCustomFtpCli* sender, std::int64_t count, bool& abort) {
        progress(sender, count, abort);
        TSendForm* dialog = form.ProgressDialog->Form();
        if (taken || !dialog || count < 24 * 1024 * 1024)
            return;
        taken = true;
        // The bar moves a few times a second: let its next move come.
        QThread::msleep(TSendForm::RefreshIntervalMs + 20);
        form.ProgressDialog->Update(count);
        dialog->SetLabels();
        // No event loop here: it would let the transfer run to its end.
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents(QEventLoop::ExcludeSocketNotifiers | QEventLoop::ExcludeUserInputEvents);
        if (dialog->grab().save(out + QStringLiteral("/transfer-progress.png")))
            std::printf("%s\n", qPrintable(out + QStringLiteral("/transfer-progress.png")));
        if (QGuiApplication::platformName() != QLatin1String("offscreen")) {
            const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
            if (screen.save(out + QStringLiteral("/transfer-screen.png")))
                std::printf("%s\n", qPrintable(out + QStringLiteral("/transfer-screen.png")));
        }
    };
    form.ReceiveAFile(QStringLiteral("site-backup.tar.gz"), target.filePath(QStringLiteral("site-backup.tar.gz")));
    form.FTPC1->OnProgress = progress;
    form.Disconnect1Click();
    Settle(300);
}

} // namespace

int main(int argc, char** argv)
{
    // A fresh settings store and application folder: the pictures show a
    // first start, and the user's own settings stay untouched.
    QTemporaryDir sandbox;
    qputenv("XDG_CONFIG_HOME", (sandbox.path() + QStringLiteral("/config")).toLocal8Bit());
    qputenv("TARVIK_HOME", (sandbox.path() + QStringLiteral("/home")).toLocal8Bit());
    TTarvikApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir().mkpath(out);
    QTemporaryDir sample;
    FillSampleFolder(sample.path());

    {
        TSplashForm splash;
        splash.show();
        Save(&splash, out + QStringLiteral("/splash.png"));
    }

    TFormMain form;
    form.SelectFolder(sample.path());
    form.show();
    Save(&form, out + QStringLiteral("/main-640x455.png"));

    FillSampleRemote(form);
    form.List1->SelectRow(0);
    Save(&form, out + QStringLiteral("/main-connected-640x455.png"));

    form.resize(1100, 760);
    Save(&form, out + QStringLiteral("/main-1100x760.png"));

    form.IconView1Click();
    Save(&form, out + QStringLiteral("/main-large-icons.png"));
    form.ListView1Click();
    Save(&form, out + QStringLiteral("/main-list.png"));
    form.ReportView1Click();

    LiveSession(form, out);

    TFormAbout about(&form);
    about.show();
    Save(&about, out + QStringLiteral("/about.png"));
    about.close();
    form.close();
    return 0;
}
