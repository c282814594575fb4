#pragma once

// The SOCKS layer of the socket chain. With no SOCKS server configured (the
// default) every operation passes straight to the socket core. With one,
// Connect reaches the proxy instead of the target and the SOCKS 4, 4A or 5
// dialogue runs inside the socket's own notifications; OnSessionConnected
// fires only once the proxy reports the target connected (or the dialogue
// failed), and from then on data passes through unchanged.

#include "net/customwsocket.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

class TCustomSocksWSocket : public TCustomWSocket {
public:
    // Every request is built in a block of this size: longer user names,
    // passwords or host names are refused by Connect.
    static constexpr int SocksRequestSize = 128;
    // Room for the longest reply a SOCKS 5 proxy may send (a bound address
    // given as a 255-character name: 262 bytes) plus what may follow it.
    static constexpr int SocksReplySize = 512;

    TCustomSocksWSocket();
    ~TCustomSocksWSocket() override = default;

    TSessionConnected OnSocksConnected;
    TSocksErrorEvent OnSocksError;
    TSocksAuthStateEvent OnSocksAuthState;

    const std::string& SocksLevel() const { return FSocksLevel; }
    void SetSocksLevel(const std::string& Value);
    const std::string& SocksServer() const { return FSocksServer; }
    const std::string& SocksPort() const { return FSocksPort; }
    const std::string& SocksUsercode() const { return FSocksUsercode; }
    void SetSocksUsercode(const std::string& Value) { FSocksUsercode = Value; }
    const std::string& SocksPassword() const { return FSocksPassword; }
    void SetSocksPassword(const std::string& Value) { FSocksPassword = Value; }
    TSocksAuthentication SocksAuthentication() const { return FSocksAuthentication; }
    void SetSocksAuthentication(TSocksAuthentication Value) { FSocksAuthentication = Value; }
    TSocksState SocksState() const { return FSocksState; }

    void Connect() override;
    void Listen() override;
    std::int64_t GetRcvdCount() override;

    virtual void SetSocksPort(const std::string& sPort);
    virtual void SetSocksServer(const std::string& sServer);

protected:
    void WndProc(TMessage& MsgRec) override;
    // A layer that owns some of a socket notification's events (their bytes
    // are its own while it negotiates) splits the notification: each event,
    // in the core's order, goes to Own when Owns says so (an exception it
    // raises is reported as a background one) and to Down, alone, when not.
    // Stops once a handler closed or freed the socket, or paused it.
    void SplitNotification(const TMessage& MsgRec, const std::function<bool(std::uint16_t Event)>& Owns,
                           const std::function<void(std::uint16_t Event, std::uint16_t Error)>& Own,
                           const std::function<void(const TMessage& One)>& Down);
    void AssignDefaultValue() override;
    void TriggerSessionConnected(std::uint16_t Error) override;
    void TriggerSessionClosed(std::uint16_t Error) override;
    bool TriggerDataAvailable(std::uint16_t Error) override;
    void TriggerDataSent(std::uint16_t Error) override;
    int DoRecv(void* Buffer, int BufferSize, int Flags) override;
    virtual void TriggerSocksConnected(std::uint16_t Error);
    virtual void TriggerSocksError(std::int32_t Error, const std::string& Msg);
    void TriggerSocksAuthState(TSocksAuthState AuthState);

    // --- Negotiation (customsockswsocket_negotiate.cpp) ---------------------
    // Why the configured requests do not fit their blocks; "" when they do.
    std::string SocksRequestTooLong() const;
    // Handles what the proxy sent in the current state. True when the
    // notification counts as consumed.
    bool SocksDataAvailable(std::uint16_t Error);
    void SocksMethodsReply();
    void SocksAuthenticateReply();
    void SocksConnectReply4();
    void SocksConnectReply5();
    // Adds what the socket holds to the reply, up to Limit bytes in all.
    // False once a receive failure has been reported.
    bool SocksReceive(int Limit);
    void SocksSendGreeting();
    void SocksDoAuthenticate();
    void SocksDoConnect();
    void SocksDoConnect4();
    void SocksDoConnect5();
    void SocksSuccess();
    // Sends a request built by this layer; a refusal is not passed on.
    void SocksSendQuietly(const std::string& Request);
    // Fails the negotiation: OnSocksError, OnSessionConnected(Code) and a
    // close that reports Code.
    void DataAvailableError(std::int32_t Code, const std::string& Msg);
    // Notifications taken over while the proxy is still answering.
    void SocksReadNotification(std::uint16_t Error);
    void SocksCloseNotification(std::uint16_t Error);
    bool SocksLevel4() const { return !FSocksLevel.empty() && FSocksLevel[0] == '4'; }

    TSocksState FSocksState = socksData;
    std::string FSocksServer;
    std::string FSocksPort;
    std::string FSocksLevel = "5";
    std::string FSocksUsercode;
    std::string FSocksPassword;
    TSocksAuthentication FSocksAuthentication = socksNoAuthentication;
    bool FSocksServerAssigned = false;
    bool FSocksPortAssigned = false;
    // Authentication method offered in the SOCKS 5 greeting: 0 or 2.
    std::uint8_t FSocksMethod = 0;
    std::array<unsigned char, SocksReplySize> FSocksReply{};
    int FSocksReplyCount = 0;
    // Bytes that came behind the SOCKS 5 reply, at FSocksLeftover in the
    // reply buffer; served before the socket is read again.
    int FSocksLeftover = 0;
    int FSocksLeftoverCount = 0;
};
