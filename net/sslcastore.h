#pragma once

// The authorities TLS connections verify certificates against: the system's
// store, plus a PEM file of a program's own when one is named. Reading the
// system's store parses every certificate in it, which costs more CPU than
// encrypting many megabytes; each store is therefore read once per process
// and shared by every connection that uses it (an FTP session opens a TLS
// connection per transfer). A CA file that changes on disk is read again.

#include "net/sslhandles.h"

#include <string>

class TSslCaStore {
public:
    // The store for the system's authorities and CaFile ("": none), with a
    // reference of the caller's own; null when CaFile cannot be read.
    static TX509StorePtr Shared(const std::string& CaFile);
};
