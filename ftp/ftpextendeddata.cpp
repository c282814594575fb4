// The command that sets up a data connection (RFC 959 and RFC 2428): EPSV
// first in passive mode and PASV once a server refused it; PORT on IPv4 and
// EPRT on IPv6, or on IPv4 once a server refused PORT. A refusal is
// remembered for the rest of the connection. Whatever address a passive
// reply names, the data connection goes to the control connection's peer.

#include "ftp/customftpcli.h"

#include "net/wsocketaddress.h"

#include <cstring>

namespace {

// A refusal that asks for the other form of the command (syntax, not
// implemented, not for this network protocol), as opposed to one that ends
// the session.
bool RefusedAsUnknown(int status)
{
    return status == 500 || status == 501 || status == 502 || status == 504 || status == 522;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.compare(0, std::strlen(prefix), prefix) == 0; }

} // namespace

std::string TCustomFtpCli::DataPortCommand(const sockaddr_storage& local, std::uint16_t dataPort) const
{
    if (FPassive)
        return FEpsvRefused ? "PASV" : "EPSV";
    if (local.ss_family == AF_INET6 || FPortRefused) {
        const std::string address = WSocketAddrText(reinterpret_cast<const sockaddr*>(&local));
        const char family = local.ss_family == AF_INET6 ? '2' : '1';
        return std::string("EPRT |") + family + "|" + address + "|" + std::to_string(dataPort) + "|";
    }
    const auto& in = reinterpret_cast<const sockaddr_in&>(local);
    const std::uint32_t a = WSocket_ntohl(in.sin_addr.s_addr);
    return "PORT " + std::to_string((a >> 24) & 0xFF) + "," + std::to_string((a >> 16) & 0xFF) + "," +
           std::to_string((a >> 8) & 0xFF) + "," + std::to_string(a & 0xFF) + "," + std::to_string(dataPort >> 8) +
           "," + std::to_string(dataPort & 0xFF);
}

void TCustomFtpCli::PortReplyDone()
{
    if (FRequestResult == 0) {
        if (FStatusCode == 227 || FStatusCode == 229)
            FPasvReply = FLastResponse;
        TriggerRequestDone(0);
        return;
    }
    std::string fallback;
    if (RefusedAsUnknown(FStatusCode)) {
        if (StartsWith(FPortCommand, "EPSV")) {
            FEpsvRefused = true;
            fallback = DataPortCommand(FDataLocal, FDataPort);
        } else if (StartsWith(FPortCommand, "PORT") && FDataLocal.ss_family == AF_INET) {
            FPortRefused = true;
            fallback = DataPortCommand(FDataLocal, FDataPort);
        }
    }
    if (fallback.empty()) {
        TriggerRequestDone(ErrorValue(FRequestResult));
        return;
    }
    // The refusal was an answer, not the request's failure: the other form
    // of the command goes out in its place.
    FErrorMessage = FPortSavedError;
    FRequestResult = 0;
    FPortCommand = fallback;
    FDoneReported = false;
    FNext = &TCustomFtpCli::NextExecAsync;
    FDoneAsync = &TCustomFtpCli::PortReplyDone;
    SendCommand(fallback);
}

bool TCustomFtpCli::ExtendedPassivePort(const std::string& reply, std::string& port)
{
    // "229 Entering Extended Passive Mode (|||6446|)": four delimiters of
    // one printable character around three fields, of which only the port
    // is ever filled in.
    const std::size_t open = reply.find('(');
    if (open == std::string::npos || open + 1 >= reply.size())
        return false;
    const char delimiter = reply[open + 1];
    if (delimiter < 33 || delimiter > 126 || (delimiter >= '0' && delimiter <= '9'))
        return false;
    std::size_t pos = open + 1;
    for (int field = 0; field < 3; ++field) {
        pos = reply.find(delimiter, pos);
        if (pos == std::string::npos)
            return false;
        ++pos;
    }
    long value = 0;
    const std::size_t digits = pos;
    while (pos < reply.size() && reply[pos] >= '0' && reply[pos] <= '9' && pos - digits < 6)
        value = value * 10 + (reply[pos++] - '0');
    if (pos == digits || pos >= reply.size() || reply[pos] != delimiter)
        return false;
    if (value < 1 || value > 65535)
        return false;
    port = std::to_string(value);
    return true;
}
