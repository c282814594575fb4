#pragma once

// What the socket layer tells about a peer's certificate after a TLS
// handshake: the fields a user needs to decide whether to trust it, and the
// outcome of the verification against the trusted authorities and the host
// name (or address) that was asked for.

#include <cstdint>
#include <string>

typedef struct x509_st X509;

struct TSslCertInfo {
    bool Present = false; // the peer sent a certificate
    std::string Subject;  // RFC 2253 form, e.g. "CN=example.org,O=Example"
    std::string Issuer;
    std::string ValidFrom; // "2026-12-08 20:00:00 UTC"
    std::string ValidTo;
    std::string Fingerprint; // SHA-256, upper-case hex pairs joined by ':'
    bool SelfSigned = false;
    // Outcome of the verification: 0 (X509_V_OK) when the chain is trusted
    // and the name matches; otherwise the X509_V_ERR_* code and its text.
    long VerifyResult = -1;
    std::string VerifyReason;

    bool Verified() const { return Present && VerifyResult == 0; }
};

// Reads the fields of `cert` (not owned); VerifyResult is left to the caller.
TSslCertInfo DescribeCertificate(X509* cert);
// The text of an X509_V_ERR_* code, in words a user reads in a dialog.
std::string CertificateErrorText(long code);
