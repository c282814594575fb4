#pragma once

// Types shared by the FTP client engine and its callers. The numeric values
// of TFtpState and TFtpRequest are part of the interface: the main window
// switches on them.

#include "ftp/ftpnamecodec.h"
#include "platform/exception.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

class TCustomFtpCli;

class FtpException : public Exception {
public:
    using Exception::Exception;
};

enum TFtpState : std::uint8_t {
    ftpNotConnected = 0,
    ftpReady = 1,
    ftpInternalReady = 2,
    ftpDnsLookup = 3,
    ftpConnected = 4,
    ftpAbort = 5,
    ftpInternalAbort = 6,
    ftpWaitingBanner = 7,
    ftpWaitingResponse = 8,
};

enum TFtpRequest : std::uint8_t {
    ftpNone = 0,
    ftpOpenAsync = 1,
    ftpUserAsync = 2,
    ftpPassAsync = 3,
    ftpCwdAsync = 4,
    ftpConnectAsync = 5,
    ftpReceiveAsync = 6,
    ftpDirAsync = 7,
    ftpLsAsync = 8,
    ftpPortAsync = 9,
    ftpGetAsync = 10,
    ftpDirectoryAsync = 11,
    ftpListAsync = 12,
    ftpSystemAsync = 13,
    ftpSystAsync = 14,
    ftpQuitAsync = 15,
    ftpSizeAsync = 16,
    ftpPutAsync = 17,
    ftpAppendAsync = 18,
    ftpFileSizeAsync = 19,
    ftpRqAbort = 20,
    ftpMkdAsync = 21,
    ftpRmdAsync = 22,
    ftpRenameAsync = 23,
    ftpDeleAsync = 24,
    ftpRenAsync = 25,
    ftpRenToAsync = 26,
    ftpRenFromAsync = 27,
    ftpDeleteAsync = 28,
    ftpMkdirAsync = 29,
    ftpRmdirAsync = 30,
    ftpPwdAsync = 31,
    ftpQuoteAsync = 32,
    ftpCDupAsync = 33,
    ftpDoQuoteAsync = 34,
    ftpTransmitAsync = 35,
    ftpTypeSetAsync = 36,
    ftpRestAsync = 37,
    ftpRestGetAsync = 38,
    ftpRestartGetAsync = 39,
    ftpRestPutAsync = 40,
    ftpRestartPutAsync = 41,
    ftpAuthAsync = 42,
    ftpPbszAsync = 43,
    ftpProtAsync = 44,
    // Requests of the FEAT-era commands (RFC 2389, 2428, 3659).
    ftpFeatAsync = 60,
    ftpOptsUtf8Async = 61,
    ftpMlsdAsync = 62,
};

// One elementary step of a chained operation.
enum TFtpFct : std::uint8_t {
    ftpFctNone = 0,
    ftpFctOpen = 1,
    ftpFctUser = 2,
    ftpFctPass = 3,
    ftpFctCwd = 4,
    ftpFctSize = 5,
    ftpFctMkd = 6,
    ftpFctRmd = 7,
    ftpFctRenFrom = 8,
    ftpFctRenTo = 9,
    ftpFctGet = 10,
    ftpFctDir = 11,
    ftpFctQuit = 12,
    ftpFctSyst = 13,
    ftpFctDele = 14,
    ftpFctPwd = 15,
    ftpFctQuote = 16,
    ftpFctPut = 17,
    ftpFctTypeSet = 18,
    ftpFctRest = 19,
    ftpFctCDup = 20,
    ftpFctLs = 21,
    ftpFctAppend = 22,
    ftpFctPort = 23,
    ftpFctAuth = 24, // AUTH TLS and the handshake on the control connection
    ftpFctPbsz = 25,
    ftpFctProt = 26,
    // FEAT after login, and OPTS UTF8 ON when it lists UTF8.
    ftpFctFeat = 40,
    ftpFctOptsUtf8 = 41,
    ftpFctMlsd = 42,
    // Listing a folder by name: PWD to know the way back, CWD into it, and
    // CWD back after the listing.
    ftpFctListPwd = 43,
    ftpFctListCwd = 44,
    ftpFctListBack = 45,
    // Keeping modification times: MDTM before a download, the local file's
    // time set after it (no command), MFMT after an upload.
    ftpFctMdtm = 46,
    ftpFctKeepTime = 47,
    ftpFctMfmt = 48,
};

// A set of steps: bit n stands for the step of value n.
class TFtpFctSet {
public:
    constexpr TFtpFctSet() = default;
    constexpr TFtpFctSet(std::initializer_list<TFtpFct> fcts)
    {
        for (const TFtpFct f : fcts)
            bits_ |= Bit(f);
    }
    constexpr bool Contains(TFtpFct f) const { return (bits_ & Bit(f)) != 0; }
    constexpr void Include(TFtpFct f) { bits_ |= Bit(f); }
    constexpr void Exclude(TFtpFct f) { bits_ &= ~Bit(f); }
    constexpr bool Empty() const { return bits_ == 0; }
    constexpr void Clear() { bits_ = 0; }
    constexpr std::uint64_t Mask() const { return bits_; }

private:
    static constexpr std::uint64_t Bit(TFtpFct f) { return std::uint64_t(1) << unsigned(f); }
    std::uint64_t bits_ = 0;
};

enum TFtpOption : std::uint8_t {
    ftpAcceptLF = 0,
    ftpNoAutoResumeAt = 1,
};

class TFtpOptions {
public:
    constexpr TFtpOptions() = default;
    constexpr TFtpOptions(std::initializer_list<TFtpOption> opts)
    {
        for (const TFtpOption o : opts)
            bits_ |= std::uint8_t(1u << unsigned(o));
    }
    constexpr bool Contains(TFtpOption o) const { return (bits_ & (1u << unsigned(o))) != 0; }
    constexpr void Include(TFtpOption o) { bits_ |= std::uint8_t(1u << unsigned(o)); }
    constexpr void Exclude(TFtpOption o) { bits_ &= std::uint8_t(~(1u << unsigned(o))); }
    constexpr bool operator==(const TFtpOptions&) const = default;

private:
    std::uint8_t bits_ = 0;
};

enum TFtpShareMode : std::uint8_t {
    ftpShareCompat = 0,
    ftpShareExclusive = 1,
    ftpShareDenyWrite = 2,
    ftpShareDenyRead = 3,
    ftpShareDenyNone = 4,
};

// How the control and data connections are protected.
enum class TFtpEncryption : std::uint8_t {
    None = 0,              // clear text
    ExplicitRequired = 1,  // AUTH TLS after the greeting; a refusal ends the session
    ExplicitIfOffered = 2, // AUTH TLS when the server takes it, else clear text
    Implicit = 3,          // TLS from the first byte (port 990)
};

// The encoding of names on the wire, TFtpServerEncoding, is declared with
// the name codec (ftp/ftpnamecodec.h) that applies it.

enum TFtpDisplayFileMode : std::uint8_t {
    ftpLineByLine = 0,
    ftpBinary = 1,
};

// Events. The sender is always the FTP component.
using TFtpDisplay = std::function<void(TCustomFtpCli* sender, std::string& msg)>;
using TFtpProgress = std::function<void(TCustomFtpCli* sender, std::int64_t count, bool& abort)>;
using TFtpCommand = std::function<void(TCustomFtpCli* sender, std::string& cmd)>;
using TFtpRequestDone = std::function<void(TCustomFtpCli* sender, TFtpRequest rqType, std::uint16_t error)>;
using TFtpReadyToTransmit = std::function<void(TCustomFtpCli* sender, bool& cancel)>;
using TFtpNotifyEvent = std::function<void(TCustomFtpCli* sender)>;
using TFtpSessionEvent = std::function<void(TCustomFtpCli* sender, std::uint16_t error)>;
using TFtpBgExceptionEvent = std::function<void(TCustomFtpCli* sender, const std::exception& e, bool& canClose)>;
