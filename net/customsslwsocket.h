#pragma once

// The TLS layer of the socket chain, between the SOCKS layer and the line
// layer: TLS runs through a SOCKS proxy, and line mode sees plain text.
//
// Off by default: with no TLS started every operation passes straight to the
// layer below. TLS starts either from the first byte (SetSslEnable(true)
// before Connect: the handshake runs once the connection, or the SOCKS
// dialogue, is up, and OnSessionConnected is held back until it is done) or
// on a connected socket (StartTLS). The handshake is driven by the socket's
// own FD_READ/FD_WRITE notifications; the layers above see neither its bytes
// nor its notifications. Afterwards Receive returns plain text and Send
// takes plain text; the send queue below holds the encrypted bytes.
//
// The verification (trusted authorities, validity, host name or address)
// runs in every handshake. A failure ends the handshake with
// WSocketErrSslCertificate unless SslVerifyPeer is off or OnSslVerifyPeer
// accepts the certificate (a program asks its user or its trust store
// there). Whatever the outcome, SslPeerCert describes the certificate.

#include "net/customsockswsocket.h"
#include "net/sslcertinfo.h"
#include "net/sslhandles.h"

#include <cstdint>
#include <string>

// Errors of the TLS layer, reported through OnSslHandshakeDone,
// OnSessionConnected (TLS from the first byte) and OnSessionClosed.
constexpr std::uint16_t WSocketErrSsl = 12110;            // negotiation or record failure
constexpr std::uint16_t WSocketErrSslCertificate = 12111; // certificate not accepted

constexpr unsigned WM_SSL_FAILED = WM_USER + 21; // 1045

enum TSslVersion : int {
    sslVersionDefault = 0, // the library's choice: TLS 1.2 up to 1.3
    sslTls12 = 1,
    sslTls13 = 2,
};

enum TSslState : int {
    sslNone = 0, // no TLS on this connection
    sslHandshaking = 1,
    sslEstablished = 2,
    sslShutdown = 3, // close_notify sent or received
    sslFailed = 4,
};

// Accept is false on entry; setting it true lets the handshake finish.
using TSslVerifyPeerEvent = std::function<void(TCustomWSocket* Sender, const TSslCertInfo& Cert, bool& Accept)>;
using TSslErrorEvent = std::function<void(TCustomWSocket* Sender, std::int32_t Error, const std::string& Msg)>;

class TCustomSslWSocket : public TCustomSocksWSocket {
public:
    TCustomSslWSocket() = default;
    ~TCustomSslWSocket() override;

    // Fired once per handshake: 0 when it succeeded, else the TLS error.
    TSessionConnected OnSslHandshakeDone;
    TSslErrorEvent OnSslError;
    TSslVerifyPeerEvent OnSslVerifyPeer;

    // --- Settings (kept across connections) -------------------------------
    // TLS from the first byte of every connection made with Connect.
    bool SslEnable() const { return FSslEnable; }
    void SetSslEnable(bool Value) { FSslEnable = Value; }
    // The name sent as SNI and checked against the certificate; when empty,
    // Addr is used. A numeric address is checked as an address.
    const std::string& SslServerName() const { return FSslServerName; }
    void SetSslServerName(const std::string& Value) { FSslServerName = Value; }
    bool SslVerifyPeer() const { return FSslVerifyPeer; }
    void SetSslVerifyPeer(bool Value) { FSslVerifyPeer = Value; }
    // Authorities trusted besides the system's store (PEM file).
    const std::string& SslCAFile() const { return FSslCAFile; }
    void SetSslCAFile(const std::string& Value) { FSslCAFile = Value; }
    TSslVersion SslMinVersion() const { return FSslMinVersion; }
    void SetSslMinVersion(TSslVersion Value) { FSslMinVersion = Value; }
    TSslVersion SslMaxVersion() const { return FSslMaxVersion; }
    void SetSslMaxVersion(TSslVersion Value) { FSslMaxVersion = Value; }

    // --- Sessions -----------------------------------------------------------
    // The session to resume in the next handshake (another connection's).
    void SetSslSession(const TSslSession& Session) { FSslResumeSession = Session; }
    // The latest resumable session of this socket's connections; stays
    // available after the connection closed.
    TSslSession SslSession() const { return FSslSession; }
    // The same, as DER bytes ("" when there is none), and back.
    std::string SslSessionExport() const;
    static TSslSession SslSessionImport(const std::string& Der);
    // True when the last handshake resumed the session it was given.
    bool SslSessionReused() const { return FSslReused; }

    // --- State of the current or last connection ----------------------------
    TSslState SslState() const { return FSslState; }
    bool SslActive() const { return FSslState == sslHandshaking || FSslState == sslEstablished; }
    const std::string& SslVersion() const { return FSslVersionText; }
    const std::string& SslCipher() const { return FSslCipherText; }
    const TSslCertInfo& SslPeerCert() const { return FSslPeerCert; }
    const std::string& SslErrorText() const { return FSslErrorText; }
    // The peer ended its side with close_notify (a TLS end, not a cut).
    bool SslCloseNotifyReceived() const { return FSslCloseNotifyRcvd; }

    // Starts the handshake on a connected socket (explicit TLS).
    virtual void StartTLS();

    void Close() override;
    // Shutdown(1) or (2) on a TLS connection sends close_notify first; the
    // FIN follows once the send queue has taken it.
    void Shutdown(int How) override;
    int Send(const void* Data, int Len) override;
    std::int64_t GetRcvdCount() override;

protected:
    void WndProc(TMessage& MsgRec) override;
    void AssignDefaultValue() override;
    void TriggerSessionConnected(std::uint16_t Error) override;
    bool TriggerDataAvailable(std::uint16_t Error) override;
    void TriggerDataSent(std::uint16_t Error) override;
    int DoRecv(void* Buffer, int BufferSize, int Flags) override;
    virtual void TriggerSslHandshakeDone(std::uint16_t Error);
    virtual void TriggerSslError(std::int32_t Error, const std::string& Msg);

private:
    friend struct TSslBioAccess;

    bool SslBegin();
    void SslDriveHandshake();
    void SslHandshakeFinished();
    bool SslCheckPeer();
    void SslFail(std::uint16_t Code, const std::string& Msg);
    void SslFlushCipher();
    void SslEncrypt(const char* Data, int Len);
    void SslReadNotification(std::uint16_t Error);
    void SslCloseNotification(std::uint16_t Error);
    void SslPeerClosed();
    void SslPostRead();
    std::string SslTakeErrors(const char* Fallback);

    // BIO callbacks: the encrypted bytes travel through the layer below.
    int BioRead(char* Buffer, int Len);
    int BioWrite(const char* Data, int Len);

    bool FSslEnable = false;
    std::string FSslServerName;
    bool FSslVerifyPeer = true;
    std::string FSslCAFile;
    TSslVersion FSslMinVersion = sslVersionDefault;
    TSslVersion FSslMaxVersion = sslVersionDefault;

    TSslCtxPtr FSslCtx;
    TSslPtr FSsl;
    TSslState FSslState = sslNone;
    TSslSession FSslResumeSession;
    TSslSession FSslSession;
    bool FSslReused = false;
    std::string FSslVersionText;
    std::string FSslCipherText;
    TSslCertInfo FSslPeerCert;
    std::string FSslErrorText;
    bool FSslCloseNotifyRcvd = false;
    bool FSslCloseNotifySent = false;
    // A Shutdown waiting for close_notify to leave the send queue (-1: none).
    int FSslShutdownHow = -1;
    bool FSslTcpClosed = false;
    // OnSessionConnected waits for the handshake (TLS from the first byte).
    bool FSslConnectPending = false;
    bool FSslReadPosted = false;
    // Plain-text reads so far, and whether this layer is handing records up
    // itself (then a read needs no notification for what OpenSSL holds).
    std::uint64_t FSslPlainReads = 0;
    bool FSslDelivering = false;
    int FSslBioError = 0;
    bool FSslEofSeen = false;
    // Encrypted bytes made by OpenSSL, not yet handed to the layer below.
    std::string FSslCipherOut;
    std::string FSslCipherSpare;
    // Plain text sent while the handshake runs; encrypted once it is done.
    std::string FSslPendingOut;
};
