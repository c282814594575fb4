#include "transfers/transferworker.h"

#include "ftp/ftplocalfile.h"

#include <algorithm>
#include <ctime>
#include <map>

namespace {

bool StartsWithCode(const std::string& line, std::uint16_t code)
{
    const std::string digits = std::to_string(code);
    return line.size() >= 3 && line.compare(0, 3, digits) == 0;
}

} // namespace

TTransferWorker::TTransferWorker(const TTransferSite& site, const TTransferSettings& settings, int index)
    : site_(site), settings_(settings), index_(index)
{
    watchdog_.setSingleShot(true);
    watchdog_.callOnTimeout(&context_, [this] {
        const std::string text = "No answer from the server for " + std::to_string(settings_.StallSeconds) + " seconds";
        switch (state_) {
        case State::Connecting:
            ConnectFailed(text, false);
            break;
        case State::Busy:
            FailJob(text, false);
            break;
        case State::Closing:
            Retire();
            state_ = State::Offline;
            if (OnOffline)
                OnOffline(this);
            break;
        default:
            break;
        }
    });
}

TTransferWorker::~TTransferWorker()
{
    watchdog_.stop();
    Retire();
    retired_.clear();
}

TFtpServerEncoding TTransferWorker::Encoding() const { return ResolveServerEncoding(site_.Encoding, features_.Utf8); }

void TTransferWorker::Log(const std::string& text)
{
    if (OnLog)
        OnLog(this, text);
}

void TTransferWorker::ArmWatchdog()
{
    if (settings_.StallSeconds > 0)
        watchdog_.start(settings_.StallSeconds * 1000);
}

// --- session ---------------------------------------------------------------------

void TTransferWorker::Connect(int delayMs)
{
    state_ = State::Waiting;
    QTimer::singleShot(std::max(0, delayMs), &context_, [this] {
        if (state_ == State::Waiting)
            StartSession();
    });
}

void TTransferWorker::StartSession()
{
    Retire();
    client_ = std::make_unique<TTransferClient>();
    TTransferClient* const c = client_.get();
    c->SetHostName(site_.Host);
    c->SetPort(site_.Port);
    c->SetUserName(site_.User);
    c->SetPassWord(site_.Password);
    c->SetPassive(site_.Passive);
    // The engine negotiates both: AUTH TLS before USER, OPTS UTF8 after FEAT.
    c->SetEncryption(TFtpEncryption(site_.Encryption));
    c->SetServerEncoding(site_.Encoding);
    c->SetPreserveTimes(site_.PreserveTimes);
    c->SetSslCAFile(site_.SslCAFile);
    c->SetSslVerifyPeer(site_.SslVerifyPeer);
    c->SetSslUseTrustStore(site_.SslUseTrustStore);
    c->OnCertificateCheck = [trusted = site_.TrustedFingerprint](TCustomFtpCli*, const TSslTrustQuestion& question) {
        return !trusted.empty() && question.Cert.Fingerprint == trusted ? sslTrustOnce : sslTrustCancel;
    };
    c->OnRequestDone = [this](TCustomFtpCli* sender, TFtpRequest, std::uint16_t error) {
        if (sender == client_.get())
            RequestDone(error);
    };
    c->OnResponse = [this](TCustomFtpCli* sender) {
        if (sender != client_.get())
            return;
        ArmWatchdog();
        if (step_ == Step::Feat)
            featLines_.push_back(client_->LastResponse());
    };
    c->OnProgress = [this](TCustomFtpCli* sender, std::int64_t count, bool&) {
        if (sender != client_.get())
            return;
        ArmWatchdog();
        if (OnProgress && job_ != Job::List)
            OnProgress(count);
    };
    c->OnDisplayFile = [this](TCustomFtpCli* sender, std::string& text) {
        if (sender == client_.get())
            listing_ += text;
    };
    c->OnSessionClosed = [this](TCustomFtpCli* sender, std::uint16_t) {
        // A server that closes an idle session (its idle time-out): the
        // next job logs in again instead of failing on a dead session.
        if (sender != client_.get() || state_ != State::Idle)
            return;
        Log("! Connection " + std::to_string(index_) + ": closed by the server while idle");
        QTimer::singleShot(0, &context_, [this] {
            if (state_ != State::Idle || (client_ && client_->Connected()))
                return;
            Retire();
            state_ = State::Offline;
            if (OnOffline)
                OnOffline(this);
        });
    };
    c->OnDisplay = [this](TCustomFtpCli* sender, std::string& text) {
        if (sender == client_.get())
            Log(text);
    };
    state_ = State::Connecting;
    Issue(Step::Connect, &TCustomFtpCli::ConnectAsync);
}

bool TTransferWorker::Issue(Step step, void (TCustomFtpCli::*request)())
{
    step_ = step;
    ArmWatchdog();
    try {
        (client_.get()->*request)();
    } catch (const std::exception& e) {
        if (state_ == State::Connecting)
            ConnectFailed(e.what(), false);
        else if (state_ == State::Busy)
            FailJob(e.what(), false);
        else
            Retire();
        return false;
    }
    return true;
}

void TTransferWorker::RequestDone(std::uint16_t error)
{
    watchdog_.stop();
    switch (state_) {
    case State::Connecting:
    case State::Closing:
        SessionStepDone(error);
        break;
    case State::Busy:
        JobStepDone(error);
        break;
    default:
        break;
    }
}

void TTransferWorker::SessionStepDone(std::uint16_t error)
{
    switch (step_) {
    case Step::Connect:
        if (error != 0) {
            // A refused login will be refused again.
            ConnectFailed(ReplyText(error), client_->StatusCode() == 530);
            return;
        }
        featLines_.clear();
        client_->SetLocalFileName("FEAT");
        Issue(Step::Feat, &TCustomFtpCli::QuoteAsync);
        return;
    case Step::Feat: {
        // A server without FEAT answers 500: no features, nothing wrong.
        std::string reply;
        for (const std::string& line : featLines_)
            reply += line + "\n";
        features_ = ParseFeatReply(reply);
        client_->SetListingVerb(features_.Mlst ? "MLSD" : "LIST");
        client_->SetBinary(true);
        Issue(Step::Type, &TCustomFtpCli::TypeSetAsync);
        return;
    }
    case Step::Type:
        if (error != 0) {
            ConnectFailed(ReplyText(error), false);
            return;
        }
        connectFailures_ = 0;
        state_ = State::Idle;
        step_ = Step::None;
        if (OnReady)
            OnReady(this);
        return;
    case Step::Quit:
        Retire();
        state_ = State::Offline;
        // Work may have come in while the session was saying goodbye.
        if (OnOffline)
            OnOffline(this);
        return;
    default:
        return;
    }
}

void TTransferWorker::ConnectFailed(const std::string& text, bool permanent)
{
    Log("! Connection " + std::to_string(index_) + ": " + text);
    Retire();
    ++connectFailures_;
    if (permanent || connectFailures_ > settings_.MaxRetries) {
        state_ = State::GaveUp;
        if (OnGaveUp)
            OnGaveUp(this, text);
        return;
    }
    Connect(settings_.BackoffMs * connectFailures_);
}

void TTransferWorker::Close()
{
    if (state_ == State::Idle && client_) {
        state_ = State::Closing;
        Issue(Step::Quit, &TCustomFtpCli::QuitAsync);
        return;
    }
    Abort();
}

void TTransferWorker::Abort()
{
    Retire();
    state_ = State::Offline;
    job_ = Job::None;
    done_ = nullptr;
}

void TTransferWorker::Retire()
{
    watchdog_.stop();
    if (!client_)
        return;
    TTransferClient* const c = client_.get();
    c->OnRequestDone = nullptr;
    c->OnResponse = nullptr;
    c->OnProgress = nullptr;
    c->OnDisplayFile = nullptr;
    c->OnDisplay = nullptr;
    c->OnSessionClosed = nullptr;
    try {
        c->AbortAsync();
    } catch (const std::exception&) {
        // Closing what is already closed changes nothing.
    }
    // This may run inside the client's own completion event: it is
    // destroyed from the message loop, once that event has returned.
    retired_.push_back(std::move(client_));
    QTimer::singleShot(0, &context_, [this] { retired_.clear(); });
}

// --- jobs ------------------------------------------------------------------------

void TTransferWorker::Download(const std::string& remote, const std::string& local, bool resume, TDone done)
{
    job_ = Job::Download;
    remote_ = remote;
    local_ = local;
    resume_ = resume;
    restRefused_ = false;
    done_ = std::move(done);
    state_ = State::Busy;
    StartTransfer();
}

void TTransferWorker::Upload(const std::string& local, const std::string& remote, std::int64_t resumeAt, TDone done)
{
    job_ = Job::Upload;
    remote_ = remote;
    local_ = local;
    resumeAt_ = resumeAt;
    restRefused_ = false;
    done_ = std::move(done);
    state_ = State::Busy;
    if (resumeAt >= 0) {
        StartTransfer();
        return;
    }
    client_->SetHostFileName(remote_);
    Issue(Step::Size, &TCustomFtpCli::SizeAsync);
}

void TTransferWorker::ListFolder(const std::string& remote, bool createIfMissing, TDone done)
{
    job_ = Job::List;
    remote_ = remote;
    createIfMissing_ = createIfMissing;
    created_ = false;
    done_ = std::move(done);
    state_ = State::Busy;
    client_->SetHostDirName(remote_);
    Issue(Step::Cwd, &TCustomFtpCli::CwdAsync);
}

void TTransferWorker::StartTransfer()
{
    client_->SetDisplayFileFlag(false);
    client_->SetHostFileName(remote_);
    client_->SetLocalFileName(local_);
    if (job_ == Job::Download) {
        // RestGet resumes from the size of the local file.
        client_->SetResumeAt(0);
        Issue(Step::Get, resume_ && !restRefused_ ? &TCustomFtpCli::RestGetAsync : &TCustomFtpCli::GetAsync);
        return;
    }
    if (resumeAt_ > 0 && !restRefused_) {
        client_->SetResumeAt(resumeAt_);
        Issue(Step::Put, &TCustomFtpCli::RestPutAsync);
        return;
    }
    client_->SetResumeAt(0);
    Issue(Step::Put, &TCustomFtpCli::PutAsync);
}

void TTransferWorker::StartList(Step step, const std::string& verb)
{
    listing_.clear();
    client_->SetListingVerb(verb);
    client_->SetDisplayFileFlag(true);
    client_->SetDisplayFileMode(ftpBinary);
    client_->SetHostFileName("");
    client_->SetLocalFileName("");
    Issue(step, &TCustomFtpCli::DirAsync);
}

void TTransferWorker::FinishList()
{
    client_->SetDisplayFileFlag(false);
    client_->SetListingVerb(features_.Mlst ? "MLSD" : "LIST");
    TWorkerResult result;
    result.Ok = true;
    result.Entries = std::move(entries_);
    entries_.clear();
    listing_.clear();
    Finish(result);
}

void TTransferWorker::JobStepDone(std::uint16_t error)
{
    switch (step_) {
    case Step::Size: {
        resumeAt_ = error == 0 ? client_->SizeResult() : 0;
        // A remote file as long as the local one may still be incomplete
        // in content; it is sent again whole.
        if (resumeAt_ >= TFtpLocalFile::FileSize(local_))
            resumeAt_ = 0;
        StartTransfer();
        return;
    }
    case Step::Get:
    case Step::Put:
        if (error == 0) {
            TWorkerResult result;
            result.Ok = true;
            result.RestRefused = restRefused_;
            Finish(result);
            return;
        }
        if (client_->LastVerb() == "REST" && client_->Connected() && !restRefused_) {
            // This server cannot resume: the file is transferred whole.
            Log("! Connection " + std::to_string(index_) + ": REST refused, transferring the whole file");
            restRefused_ = true;
            StartTransfer();
            return;
        }
        FailJob(ReplyText(error), PermanentRefusal(error));
        return;
    case Step::Cwd:
        if (error == 0) {
            StartList(Step::List, features_.Mlst ? "MLSD" : "LIST");
            return;
        }
        if (createIfMissing_ && PermanentRefusal(error)) {
            client_->SetHostFileName(remote_);
            Issue(Step::Mkd, &TCustomFtpCli::MkdAsync);
            return;
        }
        FailJob(ReplyText(error), PermanentRefusal(error));
        return;
    case Step::Mkd:
        if (error != 0) {
            FailJob(ReplyText(error), PermanentRefusal(error));
            return;
        }
        created_ = true;
        {
            TWorkerResult result;
            result.Ok = true;
            result.Created = true;
            Finish(result);
        }
        return;
    case Step::List: {
        if (error != 0) {
            client_->SetDisplayFileFlag(false);
            FailJob(ReplyText(error), PermanentRefusal(error));
            return;
        }
        const bool mlsd = client_->ListingVerb() == "MLSD";
        entries_ = ParseListing(listing_, mlsd, FtpTimeFromUnix(std::int64_t(std::time(nullptr))));
        const bool anyChild = std::any_of(entries_.begin(), entries_.end(),
                                          [](const TFtpListEntry& e) { return e.Role == TFtpEntryRole::Child; });
        if (!mlsd || !anyChild) {
            FinishList();
            return;
        }
        // MLSD gives exact names, sizes and types, but many servers show a
        // link there as what it points to. LIST marks links: it is read
        // too, so no link is ever taken for a plain folder or file.
        StartList(Step::ListLinks, "LIST");
        return;
    }
    case Step::ListLinks: {
        if (error != 0) {
            // Without LIST nothing can be told about links: a folder that
            // cannot be checked is not entered.
            client_->SetDisplayFileFlag(false);
            client_->SetListingVerb(features_.Mlst ? "MLSD" : "LIST");
            FailJob("The folder's links cannot be checked: " + ReplyText(error), PermanentRefusal(error));
            return;
        }
        const std::vector<TFtpListEntry> plain = ParseListing(listing_, false,
                                                              FtpTimeFromUnix(std::int64_t(std::time(nullptr))));
        std::map<std::string, std::string> links;
        for (const TFtpListEntry& other : plain) {
            if (other.Type == TFtpEntryType::Link)
                links[other.Name] = other.LinkTarget;
        }
        for (TFtpListEntry& entry : entries_) {
            const auto link = links.find(entry.Name);
            if (link != links.end()) {
                entry.Type = TFtpEntryType::Link;
                entry.LinkTarget = link->second;
            }
        }
        FinishList();
        return;
    }
    default:
        return;
    }
}

void TTransferWorker::Finish(const TWorkerResult& result)
{
    job_ = Job::None;
    step_ = Step::None;
    state_ = State::Idle;
    TDone done = std::move(done_);
    done_ = nullptr;
    if (done)
        done(result);
}

void TTransferWorker::FailJob(const std::string& text, bool permanent)
{
    TWorkerResult result;
    result.Ok = false;
    result.Permanent = permanent;
    result.Error = text;
    TDone done = std::move(done_);
    done_ = nullptr;
    job_ = Job::None;
    step_ = Step::None;
    if (permanent && client_ && client_->Connected()) {
        // The session itself is fine; the next job can use it.
        state_ = State::Idle;
    } else {
        // Whatever broke may have left the session in any state: a fresh
        // one is made after a short pause.
        Retire();
        Connect(settings_.BackoffMs);
    }
    if (done)
        done(result);
}

std::string TTransferWorker::ReplyText(std::uint16_t error) const
{
    const std::string& last = client_->LastResponse();
    if (error >= 100 && error <= 599 && StartsWithCode(last, error))
        return last;
    if (!client_->ErrorMessage().empty())
        return client_->ErrorMessage();
    if (error >= 100 && error <= 599 && !last.empty())
        return last;
    return "The transfer failed: network error " + std::to_string(error);
}

bool TTransferWorker::PermanentRefusal(std::uint16_t error) const
{
    // Only a server's own 5xx reply counts; the engine reports failures of
    // its own (a data connection that could not be made) with codes too, but
    // without a reply line of that code.
    return error >= 500 && error <= 599 && client_->Connected() && StartsWithCode(client_->LastResponse(), error);
}
