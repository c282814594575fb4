#pragma once

// The socket object the rest of the program creates. Include this header to
// get the whole socket layer: the class chain, the loader and its wrappers,
// the address helpers and the error descriptions.

#include "net/customsyncwsocket.h"
#include "net/esocketexception.h"
#include "net/winsockloader.h"
#include "net/wsocketaddress.h"
#include "net/wsocketerror.h"

class TWSocket : public TCustomSyncWSocket {
public:
    TWSocket() = default;
    ~TWSocket() override = default;
};

class TSocksWSocket : public TWSocket {
public:
    TSocksWSocket() = default;
    ~TSocksWSocket() override = default;
};
