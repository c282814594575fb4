// Fills a 100,000-file temporary folder into the local file list through
// SetLocalFiles (offscreen) and prints the milliseconds, beside a reference:
// a bare readdir + stat pass over the same folder, measured in the same run.
// Then parses a generated 100,000-line Unix listing file into the remote
// panes through ParseRemoteListing, beside a reference: reading the file and
// splitting its lines.
//   tarvik_bench_listing [file count]
// With --remote the window connects to a real server on 127.0.0.1 instead
// and prints the median seconds of "Refresh" (the listing request, the
// transfer and the filled panes) over three rounds, one line:
//   tarvik_bench_listing --remote PORT USER PASSWORD [passive: 1]
//   -> "<seconds> <entries shown>"
// bench/listing/remote-100k runs it beside curl and lftp.
#include "app/formmain.h"
#include "app/listview.h"
#include "app/tarvikapplication.h"
#include "app/listingparser.h"

#include <QCoreApplication>
#include <QDir>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

bool MakeFiles(const QString& folder, int count)
{
    const char* suffixes[] = {".txt", ".html", ".png", ".tar.gz", ".cpp", "", ".pdf", ".mp3"};
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("%1/file-%2%3")
                                 .arg(folder)
                                 .arg(i, 6, 10, QLatin1Char('0'))
                                 .arg(QString::fromLatin1(suffixes[i % 8]));
        QFile file(name);
        if (!file.open(QIODevice::WriteOnly))
            return false;
        file.write("xyz", 1 + i % 3);
    }
    return true;
}

qint64 ReferencePass(const QString& folder)
{
    QElapsedTimer timer;
    timer.start();
    DIR* dir = opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return -1;
    qint64 total = 0;
    while (const dirent* entry = readdir(dir)) {
        struct stat info {};
        if (fstatat(dirfd(dir), entry->d_name, &info, 0) == 0)
            total += info.st_size;
    }
    closedir(dir);
    if (total < 0)
        return -1;
    return timer.elapsed();
}

// A window that takes itself for connected: the listing is parsed only
// while a session is up, and the benchmark needs no server.
class TConnectedForm final : public TFormMain {
public:
    bool IsConnected() const override { return true; }
};

bool MakeListing(const QString& path, int count)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray text = "total " + QByteArray::number(count * 8) + "\r\n";
    const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const char* suffixes[] = {".txt", ".html", ".png", ".tar.gz", ".cpp", "", ".pdf", ".mp3"};
    for (int i = 0; i < count; ++i) {
        const bool dir = i % 10 == 0;
        text += dir ? "drwxr-xr-x   2 " : "-rw-r--r--   1 ";
        text += "webuser  webgroup ";
        text += QByteArray::number(qint64(i) * 37 % 10000000).rightJustified(9, ' ');
        text += ' ';
        text += months[i % 12];
        text += ' ';
        text += QByteArray::number(1 + i % 28).rightJustified(2, ' ');
        text += i % 3 == 0 ? "  2023 " : " 10:30 ";
        text += (dir ? "folder " : "file ") + QByteArray::number(i) + (dir ? "" : suffixes[i % 8]);
        text += "\r\n";
    }
    return file.write(text) == text.size();
}

qint64 ListingReference(const QString& path)
{
    QElapsedTimer timer;
    timer.start();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = file.readAll();
    qint64 lines = 0;
    TListingEntry entry;
    for (const QByteArray& line : text.split('\n'))
        lines += ParseListingLine(std::string_view(line.constData(), std::size_t(line.size())), entry) ? 1 : 0;
    if (lines < 0)
        return -1;
    return timer.elapsed();
}

qint64 Median(std::vector<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The main window against a real server: connects, then times Refresh.
int RemoteRun(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: tarvik_bench_listing --remote PORT USER PASSWORD [PASSIVE]\n");
        return 1;
    }
    TFormMain form;
    form.show();
    form.SiteHost = QStringLiteral("127.0.0.1");
    form.SitePort = QString::fromLocal8Bit(argv[2]);
    form.SiteUser = QString::fromLocal8Bit(argv[3]);
    form.SitePassword = QString::fromLocal8Bit(argv[4]);
    form.SitePassive = argc < 6 || std::atoi(argv[5]) != 0;
    form.OpenSession();
    if (!form.IsConnected()) {
        std::fprintf(stderr, "could not connect\n");
        return 1;
    }
    std::vector<qint64> rounds;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        form.RefreshRemoteListing1Click();
        QCoreApplication::processEvents();
        rounds.push_back(timer.elapsed());
    }
    const int entries = form.RemoteFiles->Items()->Count() + form.RemoteDirs->Items()->Count();
    std::printf("%.3f %d\n", double(Median(rounds)) / 1000.0, entries);
    form.Disconnect1Click();
    return entries > 0 ? 0 : 2;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen") : qgetenv("QT_QPA_PLATFORM"));
    // The listing file goes to the application folder: a private one.
    QTemporaryDir home;
    qputenv("TARVIK_HOME", home.path().toLocal8Bit());
    TTarvikApplication app(argc, argv);
    if (argc > 1 && std::string_view(argv[1]) == "--remote")
        return RemoteRun(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100000;

    QTemporaryDir folder;
    if (!folder.isValid() || !MakeFiles(folder.path(), count)) {
        std::fprintf(stderr, "could not create the test folder\n");
        return 1;
    }

    TFormMain form;
    form.show();
    form.SelectFolder(folder.path()); // warms the icon cache and the file system cache

    std::vector<qint64> listing;
    std::vector<qint64> reference;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        form.SetLocalFiles();
        listing.push_back(timer.elapsed());
        reference.push_back(ReferencePass(folder.path()));
    }
    const int shown = form.List1->Items()->Count();
    const qint64 ms = Median(listing);
    const qint64 ref = std::max<qint64>(1, Median(reference));
    std::printf("SetLocalFiles: %d files listed in %lld ms (median of 5; goal < 1000 ms)\n", shown,
                static_cast<long long>(ms));
    std::printf("reference readdir+stat pass: %lld ms; ratio %.1f\n", static_cast<long long>(ref),
                double(ms) / double(ref));
    if (shown != count)
        return 2;

    // The remote panes from a 100,000-line listing file.
    TConnectedForm remote;
    remote.show();
    if (!MakeListing(remote.ListingFile, count)) {
        std::fprintf(stderr, "could not write the listing file\n");
        return 1;
    }
    std::vector<qint64> parsing;
    std::vector<qint64> parseReference;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        remote.ParseRemoteListing();
        app.processEvents();
        parsing.push_back(timer.elapsed());
        parseReference.push_back(ListingReference(remote.ListingFile));
    }
    const int entries = remote.RemoteFiles->Items()->Count() + remote.RemoteDirs->Items()->Count();
    const qint64 parseMs = Median(parsing);
    const qint64 parseRef = std::max<qint64>(1, Median(parseReference));
    std::printf("ParseRemoteListing: %d lines shown in %lld ms (median of 5; goal < 1000 ms)\n", entries,
                static_cast<long long>(parseMs));
    std::printf("reference read+split+field reading: %lld ms; ratio %.1f\n", static_cast<long long>(parseRef),
                double(parseMs) / double(parseRef));
    QFile::remove(remote.ListingFile);
    return entries == count ? 0 : 2;
}
