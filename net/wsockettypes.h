#pragma once

// States, flags and event signatures shared by the socket classes.

#include <cstdint>
#include <exception>
#include <functional>
#include <string>

class TCustomWSocket;

enum TSocketState : int {
    wsInvalidState = 0,
    wsOpened = 1,
    wsBound = 2,
    wsConnecting = 3,
    wsConnected = 4,
    wsAccepting = 5,
    wsListening = 6,
    wsClosed = 7,
};

enum TSocketSendFlags : int {
    wsSendNormal = 0,
    wsSendUrgent = 1,
};

enum TSocketLingerOnOff : int {
    wsLingerOff = 0,
    wsLingerOn = 1,
    wsLingerNoSet = 2,
};

enum TSocksState : int {
    socksData = 0,
    socksNegociateMethods = 1,
    socksAuthenticate = 2,
    socksConnect = 3,
};

enum TSocksAuthentication : int {
    socksNoAuthentication = 0,
    socksAuthenticateUsercode = 1,
};

enum TSocksAuthState : int {
    socksAuthStart = 0,
    socksAuthSuccess = 1,
    socksAuthFailure = 2,
    socksAuthNotRequired = 3,
};

// Every event receives the socket object that fires it as Sender. Error is
// the 16-bit socket error number, 0 for success.
using TChangeState = std::function<void(TCustomWSocket* Sender, TSocketState OldState, TSocketState NewState)>;
using TSessionConnected = std::function<void(TCustomWSocket* Sender, std::uint16_t Error)>;
using TSessionAvailable = std::function<void(TCustomWSocket* Sender, std::uint16_t Error)>;
using TSessionClosed = std::function<void(TCustomWSocket* Sender, std::uint16_t Error)>;
using TDataAvailable = std::function<void(TCustomWSocket* Sender, std::uint16_t Error)>;
using TDataSent = std::function<void(TCustomWSocket* Sender, std::uint16_t Error)>;
using TDnsLookupDone = std::function<void(TCustomWSocket* Sender, std::uint16_t Error)>;
using TSendData = std::function<void(TCustomWSocket* Sender, std::int32_t BytesSent)>;
using TSocketNotifyEvent = std::function<void(TCustomWSocket* Sender)>;
// CanClose is true on entry; leaving it true aborts the socket.
using TBgExceptionEvent = std::function<void(TCustomWSocket* Sender, const std::exception& E, bool& CanClose)>;
using TSocksErrorEvent = std::function<void(TCustomWSocket* Sender, std::int32_t Error, const std::string& Msg)>;
using TSocksAuthStateEvent = std::function<void(TCustomWSocket* Sender, TSocksAuthState AuthState)>;
