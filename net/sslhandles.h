#pragma once

// Owning handles for the OpenSSL objects the socket layer keeps. Every
// OpenSSL object lives in one of these, so no path (error, close, a handler
// deleting its socket) can leak or double-free one.

#include <openssl/bio.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>

struct TSslCtxFree {
    void operator()(SSL_CTX* p) const { SSL_CTX_free(p); }
};
struct TSslFree {
    void operator()(SSL* p) const { SSL_free(p); }
};
struct TSslSessionFree {
    void operator()(SSL_SESSION* p) const { SSL_SESSION_free(p); }
};
struct TX509Free {
    void operator()(X509* p) const { X509_free(p); }
};
struct TX509StoreFree {
    void operator()(X509_STORE* p) const { X509_STORE_free(p); }
};
struct TBioFree {
    void operator()(BIO* p) const { BIO_free(p); }
};
struct TBioMethodFree {
    void operator()(BIO_METHOD* p) const { BIO_meth_free(p); }
};

using TSslCtxPtr = std::unique_ptr<SSL_CTX, TSslCtxFree>;
using TSslPtr = std::unique_ptr<SSL, TSslFree>;
using TX509Ptr = std::unique_ptr<X509, TX509Free>;
using TX509StorePtr = std::unique_ptr<X509_STORE, TX509StoreFree>;
using TBioPtr = std::unique_ptr<BIO, TBioFree>;
using TBioMethodPtr = std::unique_ptr<BIO_METHOD, TBioMethodFree>;

// A TLS session that several connections may share (an FTP data connection
// resumes its control connection's session). Shared, since the session
// outlives the connection that made it.
using TSslSession = std::shared_ptr<SSL_SESSION>;

inline TSslSession MakeSslSession(SSL_SESSION* owned)
{
    if (owned == nullptr)
        return {};
    return TSslSession(owned, TSslSessionFree());
}
