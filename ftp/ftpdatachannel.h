#pragma once

// TFtpDataChannel: the data connection of one transfer at a time. It owns the
// data socket, the local file, the transfer blocks, the byte counts and the
// ticks, and knows which phase the connection is in. The protocol steps that
// drive it (PORT/PASV, RETR/STOR and their replies) live in TCustomFtpCli.
//
// A transfer ends exactly once: when both the server's closing reply and the
// close of the data connection have been seen, or when a failure ends it.
// The first failure recorded is the one reported, whatever the closing reply
// says afterwards.

#include "ftp/ftplocalfile.h"
#include "net/wsocket.h"

#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

enum class TFtpDataPhase : std::uint8_t {
    Idle,       // no transfer
    Listening,  // active mode: waiting for the server to connect
    Connecting, // passive mode: connecting to the server
    Open,       // connected; data moves
    Draining,   // upload: everything written, waiting for the peer to take it
    Closed,     // the connection is gone
};

class TFtpDataChannel {
public:
    enum class TDirection : std::uint8_t {
        None,
        Receive,
        Send
    };

    TFtpDataChannel();
    ~TFtpDataChannel();

    TFtpDataChannel(const TFtpDataChannel&) = delete;
    TFtpDataChannel& operator=(const TFtpDataChannel&) = delete;

    TWSocket* Socket() const { return FSocket.get(); }
    TFtpDataPhase Phase() const { return FPhase; }
    void SetPhase(TFtpDataPhase phase) { FPhase = phase; }
    TDirection Direction() const { return FDirection; }

    // Starts a transfer: every count, flag and failure is reset; uploads
    // sample what the peer has taken while they run.
    void Begin(TDirection direction);
    // Ends it: the sampler stops and the local file is closed.
    void End();

    // --- the local file ---------------------------------------------------
    bool HasLocalFile() const { return FLocal != nullptr; }
    TFtpLocalFile* LocalFile() const { return FLocal.get(); }
    // Opens the file a download writes (created empty, or opened at
    // `resumeAt` without truncation) or an upload reads. Raises on failure.
    void OpenForWrite(const std::string& fileName, std::int64_t resumeAt);
    void OpenForRead(const std::string& fileName, std::int64_t resumeAt);
    void CloseLocalFile() { FLocal.reset(); }

    std::vector<char>& Block(std::size_t size);

    // --- byte counts --------------------------------------------------------
    // Bytes received, or handed to the socket (queued or sent).
    std::int64_t Moved() const { return FMoved; }
    void AddMoved(std::int64_t count);
    // Bytes the peer has taken: everything received; for an upload what was
    // handed over minus what still waits in the socket's queue and in the
    // kernel's send queue. Refreshed by Sample().
    std::int64_t Taken() const { return FTaken; }
    // Reads the queues again; true when the peer took more since last time.
    bool Sample();
    // Everything was taken (the server confirmed the upload).
    void AllTaken() { FTaken = FMoved; }
    // Bytes still in the kernel's send queue, or -1 when there is no socket.
    std::int64_t KernelQueued() const;
    // The error that broke the connection (a reset the peer sent), or 0
    // while it is sound or was closed in order.
    int BrokenBy() const;
    // Tick of the last byte that moved; 0 before the first.
    std::int64_t LastMoveTick() const { return FLastMoveTick; }

    std::int64_t StartTick = 0;
    std::int64_t StopTick = 0;
    // Size the server announced for a binary download (-1: none).
    std::int64_t Announced = -1;
    // Size of the local file an upload sends, from its start offset.
    std::int64_t ToSend = 0;

    // How far TLS on the data connection got; failures and refusals are
    // worded after it.
    enum class TTlsStage : std::uint8_t {
        None, // no TLS on this transfer's data connection
        Handshaking,
        Resumed,    // established, the control connection's session resumed
        NewSession, // established with a session of its own
        Failed,     // a TLS failure was recorded
    };
    TTlsStage TlsStage = TTlsStage::None;

    // --- completion -----------------------------------------------------------
    bool ServerDone = false;
    bool DataClosed = false;
    bool EndOfFile = false;
    bool ReplySeen = false;
    bool DataOpen = false;
    bool AbortRequested = false;
    // The upload sends the file through the read-and-send path: the socket
    // cannot take it straight from the file (TLS, or the kernel refused).
    bool CopyThroughBlocks = false;
    // A download's local file was opened (it is never opened twice: the
    // second open would empty it again).
    bool LocalOpened = false;
    std::uint16_t CloseError = 0;
    // A failing closing reply that waits for the data connection to drain.
    std::uint16_t ServerFailCode = 0;
    std::string ServerFailLine;
    // True once, when both the closing reply and the close were seen.
    bool ReadyToComplete();

    // The first failure of this transfer wins; later ones add nothing.
    void Fail(std::uint16_t code, const std::string& message);
    bool Failed() const { return FFailCode != 0; }
    std::uint16_t FailCode() const { return FFailCode; }
    const std::string& FailMessage() const { return FFailMessage; }

    // Called about four times a second while an upload runs.
    std::function<void()> OnSample;

private:
    std::unique_ptr<TWSocket> FSocket;
    std::unique_ptr<TFtpLocalFile> FLocal;
    std::vector<char> FBlock;
    QTimer FSampler;
    TFtpDataPhase FPhase = TFtpDataPhase::Idle;
    TDirection FDirection = TDirection::None;
    std::int64_t FMoved = 0;
    std::int64_t FTaken = 0;
    std::int64_t FLastMoveTick = 0;
    bool FCompleted = false;
    std::uint16_t FFailCode = 0;
    std::string FFailMessage;
};
