#include "cli/mirrorcommand.h"

#include "cli/logincredentials.h"
#include "cli/mirrordelete.h"
#include "cli/progressbar.h"
#include "cli/remotesession.h"
#include "cli/visibletext.h"
#include "transfers/transferpaths.h"
#include "transfers/transferqueue.h"
#include "transfers/transferrunner.h"
#include "transfers/transfertime.h"

#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <unistd.h>

namespace {

bool ParseCount(const std::string& text, int& value)
{
    if (text.empty() || text.size() > 3)
        return false;
    for (const char c : text)
        if (c < '0' || c > '9')
            return false;
    value = std::stoi(text);
    return true;
}

// The name a folder is known by: its last part ("" for "/" and ".").
std::string FolderName(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const std::string leaf = LeafName(path);
    return leaf == "." || leaf == ".." || leaf == "/" ? std::string() : leaf;
}

} // namespace

bool ParseMirrorOptions(const std::vector<std::string>& words, TMirrorOptions& options, std::string& error)
{
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w == "--reverse" || w == "-R") {
            options.Reverse = true;
        } else if (w == "--delete") {
            options.Delete = true;
        } else if (w == "--only-newer") {
            options.OnlyNewer = true;
        } else if (w == "--parallel" || w.rfind("--parallel=", 0) == 0) {
            std::string value;
            if (w == "--parallel") {
                if (i + 1 >= words.size()) {
                    error = "option --parallel needs a value";
                    return false;
                }
                value = words[++i];
            } else {
                value = w.substr(11);
            }
            if (!ParseCount(value, options.Parallel) || options.Parallel < TTransferSettings::MinConnections ||
                options.Parallel > TTransferSettings::MaxConnections) {
                error = "--parallel takes 1 to 10 connections, not " + value;
                return false;
            }
        } else if (w == "--") {
            positional.insert(positional.end(), words.begin() + std::ptrdiff_t(i) + 1, words.end());
            break;
        } else if (w.size() > 1 && w[0] == '-') {
            error = "unknown mirror option: " + w;
            return false;
        } else {
            positional.push_back(w);
        }
    }
    if (positional.empty() || positional.size() > 2) {
        error = "mirror takes REMOTE_DIR and an optional LOCAL_DIR";
        return false;
    }
    options.RemoteDir = positional[0];
    if (positional.size() > 1) {
        options.LocalDir = positional[1];
    } else {
        const std::string name = FolderName(options.RemoteDir);
        options.LocalDir = name.empty() ? "." : name;
    }
    return true;
}

TMirrorCommand::TMirrorCommand(const TCliArgs& args, const TMirrorOptions& options) : args_(args), options_(options) {}

void TMirrorCommand::Report(const std::string& text) const
{
    std::fprintf(stderr, "tarvik-ftp: %s\n", VisibleText(text).c_str());
}

int TMirrorCommand::Fail(const std::string& text)
{
    Report(text);
    return 1;
}

int TMirrorCommand::Run()
{
    const auto started = std::chrono::steady_clock::now();
    namespace fs = std::filesystem;
    TRemoteSession remote(args_);

    std::string remoteDir;
    if (!remote.Absolute(options_.RemoteDir, remoteDir))
        return Fail("cannot find the remote folder " + options_.RemoteDir + ": " + remote.FailureText());
    std::error_code ec;
    std::string localDir;
    if (options_.Reverse) {
        if (!fs::is_directory(options_.LocalDir, ec))
            return Fail("the local folder " + options_.LocalDir + " does not exist");
    } else {
        fs::create_directories(options_.LocalDir, ec);
        if (!fs::is_directory(options_.LocalDir, ec))
            return Fail("cannot create the local folder " + options_.LocalDir);
    }
    localDir = fs::canonical(options_.LocalDir, ec).string();
    if (ec)
        return Fail("cannot resolve the local folder " + options_.LocalDir + ": " + ec.message());
    // The session is not needed while the queue runs; --delete logs in
    // again afterwards.
    remote.Quit();

    TTransferQueue queue;
    std::string why;
    const TTransferId root = options_.Reverse ? queue.AddUploadInto(localDir, remoteDir, 64, &why)
                                              : queue.AddDownloadInto(remoteDir, localDir, &why);
    if (root == 0)
        return Fail(why);

    TTransferSettings settings;
    settings.Connections = options_.Parallel;
    settings.StallSeconds = args_.timeout;
    TTransferRunner runner(queue, TransferSiteFromArgs(args_), settings);
    std::set<TTransferId> upToDate;
    const bool onlyNewer = options_.OnlyNewer;
    runner.OnConflict = [&upToDate, onlyNewer](const TConflictQuestion& q) {
        TConflictAnswer answer;
        answer.Action = TConflictAction::Overwrite;
        if (onlyNewer && q.TargetSize == q.SourceSize && TransferTimeAsNew(q.TargetTime, q.SourceTime)) {
            answer.Action = TConflictAction::Skip;
            upToDate.insert(q.Item->Id);
        }
        return answer;
    };
    if (args_.verbose)
        runner.OnLog = [](const std::string& text) { std::fprintf(stderr, "%s\n", VisibleText(text).c_str()); };

    std::unique_ptr<TProgressBar> bar;
    QTimer ticker;
    if (::isatty(STDERR_FILENO) == 1 && !args_.verbose) {
        bar = std::make_unique<TProgressBar>(stderr, -1, 0);
        ticker.callOnTimeout([&] {
            const TTransferTotals totals = queue.Totals();
            bar->SetTotal(totals.Bytes);
            bar->Update(totals.BytesDone);
        });
        ticker.start(200);
    }
    QEventLoop loop;
    bool ok = false;
    runner.OnFinished = [&](bool result) {
        ok = result;
        loop.quit();
    };
    runner.Start();
    loop.exec();
    ticker.stop();
    if (bar) {
        const TTransferTotals totals = queue.Totals();
        bar->SetTotal(totals.Bytes);
        bar->Finish(totals.BytesDone);
    }

    for (const TTransferItem& item : queue.Items()) {
        const std::string& name = options_.Reverse ? item.LocalPath : item.RemotePath;
        switch (item.State) {
        case TTransferState::Done:
            if (item.Kind == TTransferKind::File) {
                ++summary_.Files;
                summary_.Bytes += std::max<std::int64_t>(0, item.Size);
            }
            break;
        case TTransferState::Skipped:
            if (upToDate.count(item.Id)) {
                ++summary_.UpToDate;
            } else {
                ++summary_.Skipped;
                Report("skipped " + name + ": " + item.ErrorText);
            }
            break;
        case TTransferState::Failed:
            ++summary_.Failed;
            Report("failed " + name + ": " + item.ErrorText);
            break;
        case TTransferState::Queued:
        case TTransferState::Active:
            // The site could not be reached any more: never a success.
            ++summary_.Failed;
            Report("not transferred " + name + (item.ErrorText.empty() ? "" : ": " + item.ErrorText));
            break;
        }
    }

    if (options_.Delete) {
        std::vector<std::string> failures;
        if (options_.Reverse)
            DeleteSurplusRemote(queue, runner, remote, summary_.Deleted, failures, args_.verbose);
        else
            DeleteSurplusLocal(queue, summary_.Deleted, failures, args_.verbose);
        remote.Quit();
        for (const std::string& f : failures)
            Report("cannot delete " + f);
        summary_.Failed += int(failures.size());
    }

    summary_.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%s\n", summary_.Line().c_str());
    std::fflush(stdout);
    return ok && summary_.Failed == 0 ? 0 : 1;
}
