#pragma once

// One ICMPv6 echo (RFC 4443) for the ping engine, answered in the shape of
// the IPv4 echo library: the IP status codes and the reply record. Sent
// through a Linux ICMPv6 datagram ("ping") socket, which the same
// net.ipv4.ping_group_range allows as for IPv4, falling back to a raw
// ICMPv6 socket (root or CAP_NET_RAW). Blocks the calling thread until the
// reply, an ICMPv6 error about the request, or the time-out.

#include "platform/icmpapi.h"

#include <netinet/in.h>

#include <cstdint>
#include <string>

struct TIcmp6Target {
    in6_addr Address{};
    std::uint32_t ScopeId = 0; // the interface of a link-local address
};

// Sends `size` bytes of `data` with `hopLimit` (1..255) and waits up to
// `timeoutMs`. Returns 1 after a reply, else 0; `status` is IP_SUCCESS or
// the failing status. `reply` gets the round-trip time and the returned
// data's size (its Address stays 0: an IPv6 address does not fit it).
// `whyNot` explains a socket that could not be opened.
std::uint32_t Icmp6SendEcho(const TIcmp6Target& target, const void* data, std::uint16_t size, int hopLimit,
                            std::uint32_t timeoutMs, ICMP_ECHO_REPLY& reply, IP_STATUS& status, std::string& whyNot);

// The IP status an ICMPv6 error message (type, code) means for an echo.
IP_STATUS Icmp6StatusFromError(std::uint8_t type, std::uint8_t code);
