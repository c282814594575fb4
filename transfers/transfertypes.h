#pragma once

// What the transfer queue is made of: items, the site the workers log in
// to, and the settings of a run. No Qt widgets, no protocol logic.

#include "ftp/ftpnamecodec.h"

#include <cstdint>
#include <string>

enum class TTransferDirection : std::uint8_t {
    Download = 0,
    Upload = 1,
};

enum class TTransferState : std::uint8_t {
    Queued = 0,
    Active = 1,
    Done = 2,
    Failed = 3,
    Skipped = 4,
};

// A file moves bytes; a folder is listed (download: created locally first;
// upload: created on the server when missing) and its children join the
// queue behind it; a link is a remote symbolic link recreated locally.
enum class TTransferKind : std::uint8_t {
    File = 0,
    Folder = 1,
    Link = 2,
};

using TTransferId = std::uint64_t;

// A modification time as a listing gives it: LIST shows minutes or only
// the day, so the true time lies somewhere in [Earliest, Latest] (Unix
// seconds, UTC). Unknown when Earliest < 0.
struct TTransferTime {
    std::int64_t Earliest = -1;
    std::int64_t Latest = -1;

    bool Known() const { return Earliest >= 0; }
    static TTransferTime Exact(std::int64_t seconds) { return {seconds, seconds}; }
};

struct TTransferItem {
    TTransferId Id = 0;
    // Items added together share a batch; "apply to all" answers hold for
    // one batch.
    TTransferId Batch = 0;
    // The folder item whose listing produced this one (0: added directly).
    // An item starts only after its folder is done.
    TTransferId Parent = 0;
    TTransferKind Kind = TTransferKind::File;
    TTransferDirection Direction = TTransferDirection::Download;
    // Local path in the file system's bytes; remote path in the server's
    // bytes, absolute.
    std::string LocalPath;
    std::string RemotePath;
    // The folders the user chose for the batch: nothing is ever written
    // outside LocalRoot, and links are only followed inside RemoteRoot.
    std::string LocalRoot;
    std::string RemoteRoot;
    std::int64_t Size = -1; // -1: unknown
    TTransferState State = TTransferState::Queued;
    std::int64_t BytesDone = 0;
    std::string ErrorText;  // why it failed or was skipped; notes otherwise
    int Attempts = 0;       // failed attempts so far
    std::string LinkTarget; // for links: the target as the server listed it
    // When the source was last changed, as far as it is known (not saved
    // with the queue).
    TTransferTime Modified;
    // The same-name question was settled for this item: a retry resumes
    // what the earlier attempt left without asking again.
    bool TargetSettled = false;

    bool Finished() const
    {
        return State == TTransferState::Done || State == TTransferState::Failed || State == TTransferState::Skipped;
    }
};

// Encryption of the workers' sessions: the profile's choice, with the
// values of TFtpEncryption (ftp/ftptypes.h).
enum class TTransferEncryption : std::uint8_t {
    None = 0,
    ExplicitRequired = 1,
    ExplicitIfOffered = 2,
    Implicit = 3,
};

// The site the workers log in to, as the profile gives it.
struct TTransferSite {
    std::string Host = "127.0.0.1";
    std::string Port = "21";
    std::string User;
    std::string Password;
    bool Passive = true;
    TTransferEncryption Encryption = TTransferEncryption::None;
    TFtpServerEncoding Encoding = TFtpServerEncoding::Auto;
    bool PreserveTimes = true;
    // Certificates: authorities besides the system's (PEM file), whether the
    // peer is verified at all, whether the desktop's stored "always trust"
    // answers count, and the certificate the user accepted for the browsing
    // session (the workers have nobody to ask; they accept that one alone).
    std::string SslCAFile;
    bool SslVerifyPeer = true;
    bool SslUseTrustStore = true;
    std::string TrustedFingerprint;
};

struct TTransferSettings {
    static constexpr int MinConnections = 1;
    static constexpr int MaxConnections = 10;
    static constexpr int MinRetries = 0;
    static constexpr int MostRetries = 10;
    int Connections = 2;   // worker sessions per site, 1..10
    int MaxRetries = 3;    // retries of a failed item after its first attempt, 0..10
    int BackoffMs = 500;   // wait before reconnecting, times the attempt number
    int StallSeconds = 60; // a session silent this long is dropped and retried
    int MaxDepth = 64;     // folder levels followed below the chosen folder

    int ClampedConnections() const
    {
        return Connections < MinConnections ? MinConnections
                                            : (Connections > MaxConnections ? MaxConnections : Connections);
    }
    int ClampedRetries() const
    {
        return MaxRetries < MinRetries ? MinRetries : (MaxRetries > MostRetries ? MostRetries : MaxRetries);
    }
};

const char* TransferStateName(TTransferState state);
bool TransferStateFromName(const std::string& name, TTransferState& state);
