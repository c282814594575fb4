// Fills a 100,000-file temporary folder into the local file list through
// SetLocalFiles (offscreen) and prints the milliseconds, beside a reference:
// a bare readdir + stat pass over the same folder, measured in the same run.
//   tarvik_bench_listing [file count]
#include "app/formmain.h"
#include "app/listview.h"
#include "app/tarvikapplication.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

bool MakeFiles(const QString& folder, int count)
{
    const char* suffixes[] = {".txt", ".html", ".png", ".tar.gz", ".cpp", "", ".pdf", ".mp3"};
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("%1/file-%2%3").arg(folder).arg(i, 6, 10, QLatin1Char('0'))
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

qint64 Median(std::vector<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                    : qgetenv("QT_QPA_PLATFORM"));
    TTarvikApplication app(argc, argv);
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
    return shown == count ? 0 : 2;
}
