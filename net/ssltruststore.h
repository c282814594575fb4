#pragma once

// Certificates the user chose to trust although their verification failed,
// remembered per host and port by SHA-256 fingerprint in the program's
// settings. A stored fingerprint that no longer matches is reported as a
// change, which a program must show loudly: it is what an attack looks like.

#include "net/sslcertinfo.h"

#include <string>

enum TSslTrustAnswer : int {
    sslTrustCancel = 0,
    sslTrustOnce = 1,
    sslTrustAlways = 2,
};

// What a program asks its user about when a certificate failed verification.
struct TSslTrustQuestion {
    std::string Host;
    std::string Port;
    TSslCertInfo Cert;
    // The fingerprint trusted before for this host and port; not empty
    // only when it differs from the certificate's (a changed certificate).
    std::string StoredFingerprint;
};

class TSslTrustStore {
public:
    enum TMatch {
        trustUnknown,
        trustMatches,
        trustChanged
    };

    // "host:port", the host in lower case.
    static std::string Key(const std::string& Host, const std::string& Port);
    // The stored fingerprint, "" when none.
    static std::string Fingerprint(const std::string& Host, const std::string& Port);
    static TMatch Check(const std::string& Host, const std::string& Port, const std::string& Fingerprint);
    static void Trust(const std::string& Host, const std::string& Port, const std::string& Fingerprint);
    static void Forget(const std::string& Host, const std::string& Port);
};
