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

// Leading blanks skipped, then decimal digits up to the first non-digit.
long ParseDecimal(const std::string& S);
// Surrounding blanks (and other ASCII white space) removed.
std::string TrimBlanks(const std::string& S);
