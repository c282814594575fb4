// The TLS layer: starting TLS, the handshake, encryption of what is sent,
// decryption of what is received, close_notify and sessions.

#include "net/customsslwsocket.h"

#include "net/sslcastore.h"
#include "net/wsocketerror.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

constexpr unsigned WM_SSL_PEERCLOSED = WM_USER + 22; // 1046

// The BIO and session callbacks reach the socket's private members here.
struct TSslBioAccess {
    static constexpr int WouldBlock = -2;

    static int Read(BIO* bio, char* buffer, int len)
    {
        BIO_clear_retry_flags(bio);
        auto* self = static_cast<TCustomSslWSocket*>(BIO_get_data(bio));
        if (self == nullptr || len <= 0)
            return 0;
        const int got = self->BioRead(buffer, len);
        if (got == WouldBlock) {
            BIO_set_retry_read(bio);
            return -1;
        }
        return got;
    }

    static int Write(BIO* bio, const char* data, int len)
    {
        BIO_clear_retry_flags(bio);
        auto* self = static_cast<TCustomSslWSocket*>(BIO_get_data(bio));
        if (self == nullptr)
            return -1;
        return self->BioWrite(data, len);
    }

    static long Ctrl(BIO*, int cmd, long, void*)
    {
        // OpenSSL flushes after each flight; the bytes wait in the socket's
        // own buffer, so a flush always succeeds here.
        return cmd == BIO_CTRL_FLUSH ? 1 : 0;
    }

    static int NewSession(SSL* ssl, SSL_SESSION* session)
    {
        auto* self = static_cast<TCustomSslWSocket*>(SSL_get_app_data(ssl));
        if (self == nullptr)
            return 0;
        self->FSslSession = MakeSslSession(session);
        return 1; // the session is ours now
    }

    static BIO_METHOD* Method()
    {
        static const TBioMethodPtr method = [] {
            TBioMethodPtr m(BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tarvik socket"));
            if (m) {
                BIO_meth_set_read(m.get(), &TSslBioAccess::Read);
                BIO_meth_set_write(m.get(), &TSslBioAccess::Write);
                BIO_meth_set_ctrl(m.get(), &TSslBioAccess::Ctrl);
            }
            return m;
        }();
        return method.get();
    }
};

namespace {

bool IsNumericAddress(const std::string& name)
{
    unsigned char buf[16];
    return inet_pton(AF_INET, name.c_str(), buf) == 1 || inet_pton(AF_INET6, name.c_str(), buf) == 1;
}

constexpr std::size_t ReadAheadSize = 128 * 1024;

int ProtocolVersion(TSslVersion v) { return v == sslTls13 ? TLS1_3_VERSION : TLS1_2_VERSION; }

} // namespace

TCustomSslWSocket::~TCustomSslWSocket() = default;

// --- Sessions -------------------------------------------------------------------

std::string TCustomSslWSocket::SslSessionExport() const
{
    if (!FSslSession)
        return {};
    const int len = i2d_SSL_SESSION(FSslSession.get(), nullptr);
    if (len <= 0)
        return {};
    std::string der(static_cast<std::size_t>(len), '\0');
    auto* p = reinterpret_cast<unsigned char*>(der.data());
    i2d_SSL_SESSION(FSslSession.get(), &p);
    return der;
}

TSslSession TCustomSslWSocket::SslSessionImport(const std::string& Der)
{
    if (Der.empty())
        return {};
    const auto* p = reinterpret_cast<const unsigned char*>(Der.data());
    return MakeSslSession(d2i_SSL_SESSION(nullptr, &p, static_cast<long>(Der.size())));
}

// --- Starting -------------------------------------------------------------------

void TCustomSslWSocket::StartTLS()
{
    if (FSocketHandle == INVALID_SOCKET || FState != wsConnected) {
        RaiseException("StartTLS: socket is not connected");
        return;
    }
    if (SslActive()) {
        RaiseException("StartTLS: TLS is already running");
        return;
    }
    SslBegin();
}

void TCustomSslWSocket::TriggerSessionConnected(std::uint16_t Error)
{
    // The SOCKS dialogue (if any) comes first; TLS from the first byte then
    // holds the connection's report back until the handshake is done.
    if (Error != 0 || !FSslEnable || FSocksState != socksData || SslActive()) {
        TCustomSocksWSocket::TriggerSessionConnected(Error);
        return;
    }
    FSslConnectPending = true;
    SslBegin();
}

bool TCustomSslWSocket::SslBegin()
{
    FSslState = sslHandshaking;
    FSslPeerCert = TSslCertInfo();
    FSslVersionText.clear();
    FSslCipherText.clear();
    FSslErrorText.clear();
    FSslReused = false;
    FSslCloseNotifyRcvd = false;
    FSslCloseNotifySent = false;
    FSslShutdownHow = -1;
    FSslTcpClosed = false;
    FSslReadPosted = false;
    FSslBioError = 0;
    FSslEofSeen = false;
    FSslCipherOut.clear();
    FSslPendingOut.clear();
    ERR_clear_error();

    FSslCtx.reset(SSL_CTX_new(TLS_client_method()));
    if (!FSslCtx) {
        SslFail(WSocketErrSsl, SslTakeErrors("cannot create a TLS context"));
        return false;
    }
    SSL_CTX* ctx = FSslCtx.get();
    SSL_CTX_set_min_proto_version(ctx, ProtocolVersion(FSslMinVersion));
    SSL_CTX_set_max_proto_version(ctx, FSslMaxVersion == sslTls12 ? TLS1_2_VERSION : 0);
    SSL_CTX_set_options(ctx, SSL_OP_NO_RENEGOTIATION | SSL_OP_NO_COMPRESSION);
    SSL_CTX_set_default_read_buffer_len(ctx, ReadAheadSize);
    // The handshake always completes; its verification result is judged
    // afterwards (SslCheckPeer), so a program can ask its user about it.
    SSL_CTX_set_verify(ctx, SSL_VERIFY_NONE, nullptr);
    const TX509StorePtr authorities = TSslCaStore::Shared(FSslCAFile);
    if (!authorities) {
        ERR_clear_error();
        SslFail(WSocketErrSsl, "cannot read the CA file " + FSslCAFile);
        return false;
    }
    SSL_CTX_set1_cert_store(ctx, authorities.get());
    SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    SSL_CTX_sess_set_new_cb(ctx, &TSslBioAccess::NewSession);

    FSsl.reset(SSL_new(ctx));
    BIO* bio = FSsl ? BIO_new(TSslBioAccess::Method()) : nullptr;
    if (!FSsl || bio == nullptr) {
        FSsl.reset();
        SslFail(WSocketErrSsl, SslTakeErrors("cannot create a TLS connection"));
        return false;
    }
    SSL* ssl = FSsl.get();
    SSL_set_app_data(ssl, this);
    BIO_set_data(bio, this);
    BIO_set_init(bio, 1);
    SSL_set_bio(ssl, bio, bio); // the connection owns the BIO from here

    const std::string name = FSslServerName.empty() ? FAddrText : FSslServerName;
    if (IsNumericAddress(name)) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), name.c_str());
    } else if (!name.empty()) {
        SSL_set_tlsext_host_name(ssl, name.c_str());
        SSL_set1_host(ssl, name.c_str());
    }
    if (FSslResumeSession)
        SSL_set_session(ssl, FSslResumeSession.get());
    // Records are read from the socket in large blocks rather than header
    // and body apart: fewer system calls for bulk data.
    SSL_set_read_ahead(ssl, 1);
    SSL_set_connect_state(ssl);
    SslDriveHandshake();
    return true;
}

// --- Handshake ------------------------------------------------------------------

void TCustomSslWSocket::SslDriveHandshake()
{
    if (FSslState != sslHandshaking || !FSsl)
        return;
    ERR_clear_error();
    const int rc = SSL_do_handshake(FSsl.get());
    const int err = rc == 1 ? SSL_ERROR_NONE : SSL_get_error(FSsl.get(), rc);
    const TAliveToken alive = AliveToken();
    SslFlushCipher();
    if (!*alive || FSslState != sslHandshaking)
        return;
    if (rc == 1) {
        SslHandshakeFinished();
        return;
    }
    if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE)
        return;
    SslFail(WSocketErrSsl, SslTakeErrors("TLS negotiation failed"));
}

bool TCustomSslWSocket::SslCheckPeer()
{
    if (!FSslVerifyPeer || FSslPeerCert.Verified())
        return true;
    bool accept = false;
    if (OnSslVerifyPeer) {
        const TSslVerifyPeerEvent handler = OnSslVerifyPeer;
        handler(this, FSslPeerCert, accept);
    }
    return accept;
}

void TCustomSslWSocket::SslHandshakeFinished()
{
    SSL* ssl = FSsl.get();
    FSslState = sslEstablished;
    FSslVersionText = SSL_get_version(ssl);
    FSslCipherText = SSL_get_cipher_name(ssl);
    FSslReused = SSL_session_reused(ssl) == 1;
    FSslPeerCert = DescribeCertificate(SSL_get0_peer_certificate(ssl));
    FSslPeerCert.VerifyResult = FSslPeerCert.Present ? SSL_get_verify_result(ssl) : X509_V_ERR_UNSPECIFIED;
    FSslPeerCert.VerifyReason = FSslPeerCert.Present ? CertificateErrorText(FSslPeerCert.VerifyResult)
                                                     : "the server sent no certificate";
    if (FSslReused && !FSslSession && FSslResumeSession)
        FSslSession = FSslResumeSession;

    const TAliveToken alive = AliveToken();
    const SOCKET handle = FSocketHandle;
    auto gone = [&] { return !*alive || FSocketHandle != handle || FSslState != sslEstablished; };
    const bool accepted = SslCheckPeer();
    if (gone())
        return;
    if (!accepted) {
        SslFail(WSocketErrSslCertificate, "certificate rejected: " + FSslPeerCert.VerifyReason);
        return;
    }
    TriggerSslHandshakeDone(0);
    if (gone())
        return;
    if (FSslConnectPending) {
        FSslConnectPending = false;
        TCustomSocksWSocket::TriggerSessionConnected(0);
        if (gone())
            return;
    }
    if (!FSslPendingOut.empty()) {
        std::string pending;
        pending.swap(FSslPendingOut);
        SslEncrypt(pending.data(), static_cast<int>(pending.size()));
        if (gone())
            return;
        SslFlushCipher();
        if (gone())
            return;
    }
    // Records that came with the end of the handshake bring no notification
    // of their own.
    if (SSL_has_pending(FSsl.get()) == 1)
        SslPostRead();
}

void TCustomSslWSocket::SslFail(std::uint16_t Code, const std::string& Msg)
{
    if (FSslState == sslFailed)
        return;
    const bool wasHandshaking = FSslState == sslHandshaking;
    FSslState = sslFailed;
    FSslErrorText = Msg;
    FSslPendingOut.clear();
    const TAliveToken alive = AliveToken();
    const SOCKET handle = FSocketHandle;
    auto gone = [&] { return !*alive || FSocketHandle != handle; };
    TriggerSslError(Code, Msg);
    if (gone())
        return;
    if (wasHandshaking) {
        TriggerSslHandshakeDone(Code);
        if (gone())
            return;
    }
    if (FSslConnectPending) {
        FSslConnectPending = false;
        TCustomSocksWSocket::TriggerSessionConnected(Code);
        if (gone())
            return;
    }
    if (FSocketHandle != INVALID_SOCKET)
        InternalClose(true, Code);
}

std::string TCustomSslWSocket::SslTakeErrors(const char* Fallback)
{
    std::string text;
    for (unsigned long e = ERR_get_error(); e != 0; e = ERR_get_error()) {
        const char* reason = ERR_reason_error_string(e);
        if (reason == nullptr)
            continue;
        if (!text.empty())
            text += "; ";
        text += reason;
    }
    if (FSslBioError != 0) {
        if (!text.empty())
            text += "; ";
        text += WSocketErrorDesc(FSslBioError);
    }
    return text.empty() ? std::string(Fallback) : text;
}

// --- Encrypted bytes below ------------------------------------------------------

int TCustomSslWSocket::BioRead(char* Buffer, int Len)
{
    const int got = TCustomSocksWSocket::DoRecv(Buffer, Len, 0);
    if (got == 0)
        FSslEofSeen = true;
    if (got >= 0)
        return got;
    const int err = WSocket_WSAGetLastError();
    if (err == WSAEWOULDBLOCK)
        return TSslBioAccess::WouldBlock;
    FSslBioError = err;
    return -1;
}

int TCustomSslWSocket::BioWrite(const char* Data, int Len)
{
    // Collected and handed to the send queue once OpenSSL has returned:
    // sending may fire events, which must not run inside OpenSSL.
    FSslCipherOut.append(Data, static_cast<std::size_t>(Len));
    return Len;
}

void TCustomSslWSocket::SslFlushCipher()
{
    if (FSslCipherOut.empty())
        return;
    if (FSocketHandle == INVALID_SOCKET || FState != wsConnected) {
        FSslCipherOut.clear();
        return;
    }
    // A handler fired by the send may send again; its bytes must start a
    // buffer of their own.
    std::string out;
    out.swap(FSslCipherOut);
    FSslCipherOut.swap(FSslCipherSpare);
    FSslCipherOut.clear();
    const TAliveToken alive = AliveToken();
    TCustomSocksWSocket::Send(out.data(), static_cast<int>(out.size()));
    if (!*alive)
        return;
    out.clear();
    if (out.capacity() > FSslCipherSpare.capacity())
        FSslCipherSpare.swap(out);
}

void TCustomSslWSocket::SslEncrypt(const char* Data, int Len)
{
    ERR_clear_error();
    while (Len > 0 && FSsl) {
        const int rc = SSL_write(FSsl.get(), Data, Len);
        if (rc <= 0) {
            SslFail(WSocketErrSsl, SslTakeErrors("TLS write failed"));
            return;
        }
        Data += rc;
        Len -= rc;
    }
}

int TCustomSslWSocket::Send(const void* Data, int Len)
{
    if (FSslState == sslNone || FState != wsConnected)
        return TCustomSocksWSocket::Send(Data, Len);
    if (Len <= 0)
        return 0;
    if (FSslState == sslHandshaking) {
        FSslPendingOut.append(static_cast<const char*>(Data), static_cast<std::size_t>(Len));
        FSendQueueEmpty = false;
        return Len;
    }
    if (FSslState != sslEstablished) {
        WSocket_WSASetLastError(WSAENOTCONN);
        SocketError("Send");
        return -1;
    }
    const TAliveToken alive = AliveToken();
    SslEncrypt(static_cast<const char*>(Data), Len);
    if (!*alive || FSslState != sslEstablished)
        return Len;
    SslFlushCipher();
    return Len;
}

// --- Plain text above -----------------------------------------------------------

int TCustomSslWSocket::DoRecv(void* Buffer, int BufferSize, int Flags)
{
    if (FSslState == sslNone)
        return TCustomSocksWSocket::DoRecv(Buffer, BufferSize, Flags);
    ++FRecvCalls;
    if (FSslState != sslEstablished || !FSsl) {
        if (FSslCloseNotifyRcvd)
            return 0;
        WSocket_WSASetLastError(FSslState == sslHandshaking ? WSAEWOULDBLOCK : WSAENOTCONN);
        return -1;
    }
    if (BufferSize <= 0)
        return 0;
    ERR_clear_error();
    const bool peek = (Flags & MSG_PEEK) != 0;
    const int rc = peek ? SSL_peek(FSsl.get(), Buffer, BufferSize) : SSL_read(FSsl.get(), Buffer, BufferSize);
    if (rc > 0) {
        if (!peek) {
            ++FSslPlainReads;
            if (SSL_has_pending(FSsl.get()) == 1) {
                // What OpenSSL holds (the rest of a record, records read
                // ahead) is not in the socket: nothing below announces it.
                FLastRecvDrained = false;
                if (!FSslDelivering)
                    SslPostRead();
            }
        }
        return rc;
    }
    const int err = SSL_get_error(FSsl.get(), rc);
    if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE) {
        WSocket_WSASetLastError(WSAEWOULDBLOCK);
        return -1;
    }
    if (err == SSL_ERROR_ZERO_RETURN) {
        // close_notify: answered from the message loop, not inside a read.
        if (!FSslCloseNotifyRcvd) {
            FSslCloseNotifyRcvd = true;
            PostMessage(MessageWindow(), WM_SSL_PEERCLOSED, WPARAM(FSocketHandle), 0);
        }
        return 0;
    }
    if (FSslEofSeen && FSslBioError == 0) {
        // The connection ended without close_notify; the socket's close
        // notification follows and reports it.
        ERR_clear_error();
        return 0;
    }
    FSslErrorText = SslTakeErrors("TLS read failed");
    PostMessage(MessageWindow(), WM_SSL_FAILED, WPARAM(FSocketHandle), 0);
    WSocket_WSASetLastError(WSAECONNABORTED);
    return -1;
}

std::int64_t TCustomSslWSocket::GetRcvdCount()
{
    if (FSslState == sslNone)
        return TCustomSocksWSocket::GetRcvdCount();
    if (FSslState != sslEstablished || !FSsl)
        return 0;
    int pending = SSL_pending(FSsl.get());
    if (pending == 0) {
        char probe = 0;
        ERR_clear_error();
        if (SSL_peek(FSsl.get(), &probe, 1) > 0)
            pending = SSL_pending(FSsl.get());
        else
            ERR_clear_error();
    }
    return pending;
}

bool TCustomSslWSocket::TriggerDataAvailable(std::uint16_t Error)
{
    if (FSslState == sslHandshaking) {
        SslDriveHandshake();
        return true; // the bytes were this layer's
    }
    if (FSslState == sslFailed)
        return true;
    return TCustomSocksWSocket::TriggerDataAvailable(Error);
}

void TCustomSslWSocket::TriggerDataSent(std::uint16_t Error)
{
    // The handshake's own bytes drained, or plain text still waits for it.
    if (FSslState == sslHandshaking || !FSslPendingOut.empty())
        return;
    if (FSslShutdownHow >= 0 && FSendQueueEmpty) {
        const int how = FSslShutdownHow;
        FSslShutdownHow = -1;
        TCustomSocksWSocket::Shutdown(how);
    }
    TCustomSocksWSocket::TriggerDataSent(Error);
}

void TCustomSslWSocket::SslPostRead()
{
    if (FSslReadPosted || FSocketHandle == INVALID_SOCKET)
        return;
    FSslReadPosted = true;
    PostMessage(MessageWindow(), WM_ASYNCSELECT, WPARAM(FSocketHandle), MakeLong(FD_READ, 0));
}

// --- Notifications --------------------------------------------------------------

void TCustomSslWSocket::WndProc(TMessage& MsgRec)
{
    if (MsgRec.Msg == WM_SSL_FAILED || MsgRec.Msg == WM_SSL_PEERCLOSED) {
        if (MsgRec.WParam != WPARAM(FSocketHandle) || FSocketHandle == INVALID_SOCKET || !SslActive())
            return;
        const TAliveToken alive = AliveToken();
        try {
            if (MsgRec.Msg == WM_SSL_FAILED)
                SslFail(WSocketErrSsl, FSslErrorText.empty() ? "TLS connection failed" : FSslErrorText);
            else
                SslPeerClosed();
        } catch (const std::exception& E) {
            if (*alive)
                HandleBackGroundException(E);
        }
        return;
    }
    const std::uint16_t events = LoWord(MsgRec.LParam);
    if (MsgRec.Msg != WM_ASYNCSELECT || FSslState == sslNone || FSocksState != socksData ||
        (events & (FD_READ | FD_CLOSE)) == 0) {
        TCustomSocksWSocket::WndProc(MsgRec);
        return;
    }
    // While TLS runs, reading and closing go through this layer; the other
    // notifications go down one by one, in the core's order.
    SplitNotification(
        MsgRec, [](std::uint16_t bit) { return bit == FD_READ || bit == FD_CLOSE; },
        [this](std::uint16_t bit, std::uint16_t error) {
            if (bit == FD_READ)
                SslReadNotification(error);
            else
                SslCloseNotification(error);
        },
        [this](const TMessage& one) {
            TMessage copy = one;
            TCustomSocksWSocket::WndProc(copy);
        });
}

void TCustomSslWSocket::SslReadNotification(std::uint16_t)
{
    FSslReadPosted = false;
    if (FSslState == sslHandshaking) {
        SslDriveHandshake();
        return;
    }
    if (FSslState != sslEstablished || !FSsl)
        return;
    const TAliveToken alive = AliveToken();
    const SOCKET handle = FSocketHandle;
    FSslDelivering = true;
    struct TDelivering {
        const TAliveToken& alive;
        bool& flag;
        ~TDelivering()
        {
            if (*alive)
                flag = false;
        }
    } delivering{alive, FSslDelivering};
    // Only plain text reaches the layers above: a record that carried none
    // (a session ticket, a partial record) is this layer's alone.
    for (;;) {
        char probe = 0;
        ERR_clear_error();
        const int rc = SSL_peek(FSsl.get(), &probe, 1);
        if (rc <= 0) {
            const int err = SSL_get_error(FSsl.get(), rc);
            if (err == SSL_ERROR_ZERO_RETURN) {
                FSslCloseNotifyRcvd = true;
                SslPeerClosed();
                return;
            }
            if (err == SSL_ERROR_WANT_READ || err == SSL_ERROR_WANT_WRITE)
                return;
            // A connection cut without close_notify: its close notification
            // follows. Anything else is a broken TLS stream.
            if (FSslEofSeen && FSslBioError == 0) {
                ERR_clear_error();
                return;
            }
            SslFail(WSocketErrSsl, SslTakeErrors("TLS connection failed"));
            return;
        }
        const std::uint64_t before = FSslPlainReads;
        TMessage read{};
        read.Msg = WM_ASYNCSELECT;
        read.WParam = WPARAM(handle);
        read.LParam = MakeLong(FD_READ, 0);
        TCustomSocksWSocket::WndProc(read);
        if (!*alive || FSocketHandle != handle || FSslState != sslEstablished)
            return;
        // What OpenSSL holds goes up while the reader takes it; bytes still
        // in the socket bring their own notification. A reader that took
        // nothing gets the rest with its next Receive.
        if (FSslPlainReads == before || SSL_has_pending(FSsl.get()) != 1)
            return;
    }
}

void TCustomSslWSocket::SslCloseNotification(std::uint16_t Error)
{
    if (FState == wsConnecting)
        return;
    FSslTcpClosed = true;
    const TAliveToken alive = AliveToken();
    const SOCKET handle = FSocketHandle;
    if (FSslState == sslHandshaking) {
        // The last bytes may still finish (or fail) the handshake.
        SslDriveHandshake();
        if (!*alive || FSocketHandle != handle)
            return;
        if (FSslState == sslHandshaking) {
            SslFail(WSocketErrSsl, Error != 0 ? WSocketErrorDesc(Error) + " during the TLS negotiation"
                                              : std::string("connection closed during the TLS negotiation"));
            return;
        }
    }
    if (FSslState == sslEstablished) {
        // What the peer sent before closing is delivered before the close.
        SslReadNotification(0);
        if (!*alive || FSocketHandle != handle)
            return;
    }
    TMessage close{};
    close.Msg = WM_ASYNCSELECT;
    close.WParam = WPARAM(handle);
    close.LParam = MakeLong(FD_CLOSE, Error);
    TCustomSocksWSocket::WndProc(close);
}

void TCustomSslWSocket::SslPeerClosed()
{
    // The peer ended TLS with close_notify: answer it (unless the
    // connection is already gone) and close like a peer that disconnected.
    FSslCloseNotifyRcvd = true;
    const TAliveToken alive = AliveToken();
    if (FSslState == sslEstablished && !FSslCloseNotifySent && !FSslTcpClosed && FState == wsConnected && FSsl) {
        FSslCloseNotifySent = true;
        ERR_clear_error();
        SSL_shutdown(FSsl.get());
        ERR_clear_error();
        SslFlushCipher();
        if (!*alive)
            return;
    }
    if (FSslState == sslEstablished)
        FSslState = sslShutdown;
    if (FSocketHandle != INVALID_SOCKET)
        PostMessage(MessageWindow(), WM_ASYNCSELECT, WPARAM(FSocketHandle), MakeLong(FD_CLOSE, 0));
}

// --- Closing --------------------------------------------------------------------

void TCustomSslWSocket::Close()
{
    if (FSslState == sslEstablished && !FSslCloseNotifySent && !FSslTcpClosed && FState == wsConnected && FSsl) {
        // A graceful end of TLS: the peer learns that nothing was cut off.
        FSslCloseNotifySent = true;
        FSslState = sslShutdown;
        ERR_clear_error();
        SSL_shutdown(FSsl.get());
        ERR_clear_error();
        const TAliveToken alive = AliveToken();
        SslFlushCipher();
        if (!*alive)
            return;
    }
    TCustomSocksWSocket::Close();
}

void TCustomSslWSocket::Shutdown(int How)
{
    if (How >= 1 && FSslState == sslEstablished && !FSslCloseNotifySent && !FSslTcpClosed && FState == wsConnected &&
        FSsl) {
        FSslCloseNotifySent = true;
        ERR_clear_error();
        SSL_shutdown(FSsl.get());
        ERR_clear_error();
        const TAliveToken alive = AliveToken();
        SslFlushCipher();
        if (!*alive)
            return;
        if (!FSendQueueEmpty) {
            FSslShutdownHow = How;
            return;
        }
    }
    TCustomSocksWSocket::Shutdown(How);
}

void TCustomSslWSocket::AssignDefaultValue()
{
    TCustomSocksWSocket::AssignDefaultValue();
    // The connection's TLS goes; the settings, the session to offer next
    // time and what the last handshake found stay readable.
    FSsl.reset();
    FSslCtx.reset();
    FSslState = sslNone;
    FSslConnectPending = false;
    FSslReadPosted = false;
    FSslShutdownHow = -1;
    FSslCipherOut.clear();
    FSslPendingOut.clear();
}

// --- Events ---------------------------------------------------------------------

void TCustomSslWSocket::TriggerSslHandshakeDone(std::uint16_t Error)
{
    if (!OnSslHandshakeDone)
        return;
    const auto handler = OnSslHandshakeDone;
    handler(this, Error);
}

void TCustomSslWSocket::TriggerSslError(std::int32_t Error, const std::string& Msg)
{
    if (!OnSslError)
        return;
    const auto handler = OnSslError;
    handler(this, Error, Msg);
}
