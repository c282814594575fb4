#pragma once

// Synchronous address helpers shared by every socket object. The resolvers
// raise ESocketException with their fixed messages; the lookups block.

#include "platform/winsock.h"

#include <cstdint>
#include <string>
#include <vector>

// True for a dotted IPv4 address of exactly four decimal parts, each at most
// 255, with optional blanks before and after.
bool WSocketIsDottedIP(const std::string& S);

// IPv4 address in network byte order; a dotted address is converted
// directly, anything else is looked up (blocking).
std::uint32_t WSocketResolveHost(const std::string& InAddr);
// Port in host byte order: a number, or a service name for Proto.
std::uint16_t WSocketResolvePort(const std::string& Port, const std::string& Proto);
// Protocol number: a number or a protocol name.
int WSocketResolveProto(const std::string& sProto);

// Blocking lookups. The entries live in the resolver's per-thread storage and
// stay valid until the next blocking lookup.
hostent* WSocketGetHostByName(const std::string& Name);
hostent* WSocketGetHostByAddr(const std::string& Addr);
// Official host name of a dotted address, or "" when it has none.
std::string WSocketResolveIp(const std::string& IpAddr);
std::string LocalHostName();
// Dotted addresses of the local host name. The list belongs to the module
// and is overwritten by the next call.
const std::vector<std::string>& LocalIPList();

// An address of either family with its length, as connect and bind take it.
struct TWSocketAddress {
    sockaddr_storage Storage{};
    int Length = 0;

    int Family() const { return Storage.ss_family; }
    const sockaddr* Addr() const { return reinterpret_cast<const sockaddr*>(&Storage); }
    // Port in host byte order.
    std::uint16_t Port() const;
    void SetPort(std::uint16_t HostOrderPort);
};

// True for a literal IPv6 address ("::1", "fe80::1%lo"), optionally in
// brackets ("[::1]"), with optional blanks around.
bool WSocketIsIPv6(const std::string& S);
// The text without surrounding blanks and without the brackets of a
// bracketed IPv6 literal.
std::string WSocketStripBrackets(const std::string& S);
// Every address of Host in the resolver's order, of both families: a dotted
// IPv4 or a literal IPv6 address is converted directly, anything else is
// looked up (blocking). Ports are 0. Raises with WSocketResolveHost's
// messages.
std::vector<TWSocketAddress> WSocketResolveHostAll(const std::string& Host);
// The address part as text: dotted IPv4 or IPv6 text ("::1"); "" for other
// families.
std::string WSocketAddrText(const sockaddr* Addr);
// "host:port", with a literal IPv6 address in brackets: "[::1]:2121",
// "127.0.0.1:21", "ftp.example.com:21".
std::string WSocketHostPort(const std::string& Host, const std::string& Port);

// Leading blanks skipped, then decimal digits up to the first non-digit.
long ParseDecimal(const std::string& S);
// Surrounding blanks (and other ASCII white space) removed.
std::string TrimBlanks(const std::string& S);
