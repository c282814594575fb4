#pragma once

// TTransferWorker: one FTP session of the queue. It logs in with the site's
// settings, asks for the server's features, and then runs one job at a time
// (download a file, upload a file, list or create a folder), driven only by
// the engine's asynchronous requests and their completion events: nothing
// waits inside a nested event loop. A job that fails for a passing reason
// drops the session; the worker logs in again after a short back-off.

#include "ftp/ftplisting.h"
#include "transfers/transferclient.h"
#include "transfers/transfertypes.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TWorkerResult {
    bool Ok = false;
    // The server refused for good (a 5xx reply): retrying will not help.
    bool Permanent = false;
    std::string Error;
    // The server refused REST: the transfer was made from the start.
    bool RestRefused = false;
    // For listings.
    std::vector<TFtpListEntry> Entries;
    bool Created = false; // the folder was created (upload folders)
};

class TTransferWorker {
public:
    enum class State {
        Offline,
        Waiting,
        Connecting,
        Idle,
        Busy,
        Closing,
        GaveUp
    };
    using TDone = std::function<void(const TWorkerResult&)>;

    TTransferWorker(const TTransferSite& site, const TTransferSettings& settings, int index);
    ~TTransferWorker();
    TTransferWorker(const TTransferWorker&) = delete;
    TTransferWorker& operator=(const TTransferWorker&) = delete;

    int Index() const { return index_; }
    State GetState() const { return state_; }
    bool IsIdle() const { return state_ == State::Idle; }
    const TFtpFeatures& Features() const { return features_; }
    // The encoding of server names on this session (Auto decided by FEAT).
    TFtpServerEncoding Encoding() const;

    // Logs in after `delayMs`; OnReady follows, or OnGaveUp after the
    // attempts run out.
    void Connect(int delayMs = 0);
    // Says goodbye (QUIT) when idle and closes; a busy session is cut.
    void Close();
    // Cuts the session at once; a running job reports nothing.
    void Abort();

    // Jobs; `done` runs once, from the completion event.
    void Download(const std::string& remote, const std::string& local, bool resume, TDone done);
    // resumeAt: 0 sends the whole file, > 0 from that offset, -1 asks the
    // server how much it has first (a retry).
    void Upload(const std::string& local, const std::string& remote, std::int64_t resumeAt, TDone done);
    void ListFolder(const std::string& remote, bool createIfMissing, TDone done);

    std::function<void(TTransferWorker*)> OnReady;
    std::function<void(TTransferWorker*, const std::string&)> OnGaveUp;
    // The session is gone (closed by the server while idle, or after QUIT);
    // Connect makes a new one.
    std::function<void(TTransferWorker*)> OnOffline;
    std::function<void(std::int64_t)> OnProgress;
    std::function<void(TTransferWorker*, const std::string&)> OnLog;

private:
    enum class Step {
        None,
        Connect,
        Feat,
        Type,
        Cwd,
        Mkd,
        List,
        ListLinks,
        Size,
        Get,
        Put,
        Quit
    };

    void StartSession();
    void RequestDone(std::uint16_t error);
    void SessionStepDone(std::uint16_t error);
    void JobStepDone(std::uint16_t error);
    bool Issue(Step step, void (TCustomFtpCli::*request)());
    void Finish(const TWorkerResult& result);
    void FailJob(const std::string& text, bool permanent);
    void ConnectFailed(const std::string& text, bool permanent);
    void StartTransfer();
    void StartList(Step step, const std::string& verb);
    void FinishList();
    std::string ReplyText(std::uint16_t error) const;
    bool PermanentRefusal(std::uint16_t error) const;
    void Retire();
    void ArmWatchdog();
    void Log(const std::string& text);

    TTransferSite site_;
    TTransferSettings settings_;
    int index_ = 0;
    State state_ = State::Offline;
    Step step_ = Step::None;
    int connectFailures_ = 0;
    TFtpFeatures features_;
    std::vector<std::string> featLines_;
    std::string listing_;
    std::vector<TFtpListEntry> entries_;

    // The job in progress.
    enum class Job {
        None,
        Download,
        Upload,
        List
    };
    Job job_ = Job::None;
    std::string remote_;
    std::string local_;
    bool resume_ = false;
    bool createIfMissing_ = false;
    std::int64_t resumeAt_ = 0;
    bool restRefused_ = false;
    bool created_ = false;
    TDone done_;

    std::unique_ptr<TTransferClient> client_;
    std::vector<std::unique_ptr<TTransferClient>> retired_;
    QObject context_;
    QTimer watchdog_;
};
