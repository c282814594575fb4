// The SOCKS layer. Only the configuration and the pass-through exist so far:
// with no SOCKS server set every operation goes straight to the core. The
// negotiation (SOCKS 4, 4A and 5) belongs in this unit.

#include "net/customsockswsocket.h"

#include "net/wsocketaddress.h"

namespace {
const std::string DefaultSocksLevel = "5";
}

TCustomSocksWSocket::TCustomSocksWSocket()
{
    // The base constructor ran the core reset; ours extends it.
    FSocksState = socksData;
    FSocksLeftoverCount = 0;
    FSocksServerAssigned = false;
    FSocksPortAssigned = false;
    FSocksServer.clear();
    FSocksPort.clear();
    FSocksLevel = DefaultSocksLevel;
}

void TCustomSocksWSocket::AssignDefaultValue()
{
    TCustomWSocket::AssignDefaultValue();
    FSocksState = socksData;
    FSocksLeftoverCount = 0;
    FSocksServerAssigned = false;
    FSocksPortAssigned = false;
    FSocksServer.clear();
    FSocksPort.clear();
    FSocksLevel = DefaultSocksLevel;
}

void TCustomSocksWSocket::SetSocksServer(const std::string& sServer)
{
    if (FState != wsClosed) {
        RaiseException("Can't change socks server if not closed");
        return;
    }
    FSocksServer = TrimBlanks(sServer);
    FSocksServerAssigned = !FSocksServer.empty();
}

void TCustomSocksWSocket::SetSocksPort(const std::string& sPort)
{
    if (FState != wsClosed) {
        RaiseException("Can't change socks port if not closed");
        return;
    }
    FSocksPort = TrimBlanks(sPort);
    FSocksPortAssigned = !FSocksPort.empty();
}

void TCustomSocksWSocket::SetSocksLevel(const std::string& Value)
{
    if (FState != wsClosed) {
        RaiseException("Can't change socks level if not closed");
        return;
    }
    if (Value != "4" && Value != "5" && Value != "4A" && Value != "4a") {
        RaiseException("Invalid socks level. Must be 4, 4A or 5.");
        return;
    }
    FSocksLevel = Value;
    if (FSocksLevel == "4a")
        FSocksLevel[1] = 'A';
}

void TCustomSocksWSocket::Connect()
{
    TCustomWSocket::Connect();
}

void TCustomSocksWSocket::Listen()
{
    if (FSocksServerAssigned) {
        RaiseException("Listening is not supported thru socks server");
        return;
    }
    TCustomWSocket::Listen();
}

std::int64_t TCustomSocksWSocket::GetRcvdCount()
{
    return TCustomWSocket::GetRcvdCount();
}

int TCustomSocksWSocket::DoRecv(void* Buffer, int BufferSize, int Flags)
{
    return TCustomWSocket::DoRecv(Buffer, BufferSize, Flags);
}

void TCustomSocksWSocket::TriggerSessionConnected(std::uint16_t Error)
{
    TCustomWSocket::TriggerSessionConnected(Error);
}

void TCustomSocksWSocket::TriggerSessionClosed(std::uint16_t Error)
{
    if (FSocksState == socksAuthenticate)
        TriggerSocksAuthState(socksAuthFailure);
    TCustomWSocket::TriggerSessionClosed(Error);
}

bool TCustomSocksWSocket::TriggerDataAvailable(std::uint16_t Error)
{
    return TCustomWSocket::TriggerDataAvailable(Error);
}

void TCustomSocksWSocket::TriggerSocksConnected(std::uint16_t Error)
{
    if (!OnSocksConnected)
        return;
    const auto handler = OnSocksConnected;
    handler(this, Error);
}

void TCustomSocksWSocket::TriggerSocksError(std::int32_t Error, const std::string& Msg)
{
    if (!OnSocksError)
        return;
    const auto handler = OnSocksError;
    handler(this, Error, Msg);
}

void TCustomSocksWSocket::TriggerSocksAuthState(TSocksAuthState AuthState)
{
    if (!OnSocksAuthState)
        return;
    const auto handler = OnSocksAuthState;
    handler(this, AuthState);
}
