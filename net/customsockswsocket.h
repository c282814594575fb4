#pragma once

// The SOCKS layer of the socket chain. With no SOCKS server configured (the
// default, and the only case used so far) every operation passes straight to
// the socket core; the negotiation itself lives in this unit alone.

#include "net/customwsocket.h"

class TCustomSocksWSocket : public TCustomWSocket {
public:
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

    void Connect() override;
    void Listen() override;
    std::int64_t GetRcvdCount() override;

    virtual void SetSocksPort(const std::string& sPort);
    virtual void SetSocksServer(const std::string& sServer);

protected:
    void AssignDefaultValue() override;
    void TriggerSessionConnected(std::uint16_t Error) override;
    void TriggerSessionClosed(std::uint16_t Error) override;
    bool TriggerDataAvailable(std::uint16_t Error) override;
    int DoRecv(void* Buffer, int BufferSize, int Flags) override;
    virtual void TriggerSocksConnected(std::uint16_t Error);
    virtual void TriggerSocksError(std::int32_t Error, const std::string& Msg);
    void TriggerSocksAuthState(TSocksAuthState AuthState);

    TSocksState FSocksState = socksData;
    std::string FSocksServer;
    std::string FSocksPort;
    std::string FSocksLevel = "5";
    std::string FSocksUsercode;
    std::string FSocksPassword;
    TSocksAuthentication FSocksAuthentication = socksNoAuthentication;
    bool FSocksServerAssigned = false;
    bool FSocksPortAssigned = false;
    int FSocksLeftoverCount = 0;
};
