#pragma once

// The ICMP echo library ("icmp.dll") in the shape the ping engine was
// designed for: IcmpCreateFile / IcmpSendEcho / IcmpCloseHandle, the 28-byte
// echo reply record and the IP status codes, loaded at run time by name.
//
// Echo requests go out through a Linux ICMP datagram socket (SOCK_DGRAM,
// IPPROTO_ICMP), which an unprivileged user may open when his group is in
// net.ipv4.ping_group_range; when the kernel refuses it we fall back to a
// raw ICMP socket (root or CAP_NET_RAW). A handle owns one such socket.
//
// IcmpSendEcho blocks the calling thread until a matching reply arrives or
// the time-out has passed. Only replies to our own request count: another
// ping running on the machine, or a late answer to an earlier request of the
// same handle, is skipped. An ICMP error about our request (unreachable,
// TTL expired, ...) ends the wait with that status; the call then returns 0
// replies and the record still tells who reported it.
//
// Handles may be used from several threads, one call per handle at a time.

#include "platform/library.h"

#include <cstddef>
#include <cstdint>
#include <string>

using IPAddr = std::uint32_t; // IPv4 address in network byte order
using IP_STATUS = std::uint32_t;
using ICMP_HANDLE = std::uintptr_t;

// Returned by IcmpCreateFile when no handle could be made (all bits set).
constexpr ICMP_HANDLE INVALID_ICMP_HANDLE = ~ICMP_HANDLE(0);

// IP status values: the reply record's Status and IcmpGetLastError().
enum : IP_STATUS {
    IP_SUCCESS = 0,
    IP_STATUS_BASE = 11000,
    IP_BUF_TOO_SMALL = 11001,
    IP_DEST_NET_UNREACHABLE = 11002,
    IP_DEST_HOST_UNREACHABLE = 11003,
    IP_DEST_PROT_UNREACHABLE = 11004,
    IP_DEST_PORT_UNREACHABLE = 11005,
    IP_NO_RESOURCES = 11006,
    IP_BAD_OPTION = 11007,
    IP_HW_ERROR = 11008,
    IP_PACKET_TOO_BIG = 11009,
    IP_REQ_TIMED_OUT = 11010,
    IP_BAD_REQ = 11011,
    IP_BAD_ROUTE = 11012,
    IP_TTL_EXPIRED_TRANSIT = 11013,
    IP_TTL_EXPIRED_REASSEM = 11014,
    IP_PARAM_PROBLEM = 11015,
    IP_SOURCE_QUENCH = 11016,
    IP_OPTION_TOO_BIG = 11017,
    IP_BAD_DESTINATION = 11018,
    IP_ADDR_DELETED = 11019,
    IP_SPEC_MTU_CHANGE = 11020,
    IP_MTU_CHANGE = 11021,
    IP_GENERAL_FAILURE = 11050,
    IP_PENDING = 11255,
};

// Not IP statuses but last-error codes of the loader and of IcmpCreateFile.
constexpr std::uint32_t ICMP_ERROR_MOD_NOT_FOUND = 126;
constexpr std::uint32_t ICMP_ERROR_PROC_NOT_FOUND = 127;
constexpr std::uint32_t ICMP_ERROR_ACCESS_DENIED = 5;
constexpr std::uint32_t ICMP_ERROR_INVALID_HANDLE = 6;

// The largest payload one request may carry.
constexpr std::uint16_t ICMP_MAX_REQUEST_SIZE = 65500;

// The IP option block, in its 32-bit layout (8 bytes). We support no IP
// options: OptionsSize must be 0 in a request.
struct IP_OPTION_INFORMATION {
    std::uint8_t Ttl = 0;
    std::uint8_t Tos = 0;
    std::uint8_t Flags = 0;
    std::uint8_t OptionsSize = 0;
    std::uint32_t OptionsData = 0;
};
static_assert(sizeof(IP_OPTION_INFORMATION) == 8);

// The echo reply record at the start of the reply buffer, in its 32-bit
// layout (28 bytes). A 64-bit pointer does not fit the record, so Data holds
// the offset of the returned data from the start of the reply buffer (the
// data follows the record). Options carries the TTL and type of service of
// the reply packet.
struct ICMP_ECHO_REPLY {
    IPAddr Address = 0;
    IP_STATUS Status = 0;
    std::uint32_t RoundTripTime = 0;
    std::uint16_t DataSize = 0;
    std::uint16_t Reserved = 0;
    std::uint32_t Data = 0;
    IP_OPTION_INFORMATION Options;
};
static_assert(sizeof(ICMP_ECHO_REPLY) == 28);

// --- The three exports of "icmp.dll" ----------------------------------

// Opens an echo handle; INVALID_ICMP_HANDLE with IcmpGetLastError() set to
// ICMP_ERROR_ACCESS_DENIED when the kernel lets us open neither kind of ICMP
// socket (IcmpGetLastErrorText() then says why), or to another code.
ICMP_HANDLE IcmpCreateFile();

// Closes an echo handle; false (ICMP_ERROR_INVALID_HANDLE) for an unknown one.
bool IcmpCloseHandle(ICMP_HANDLE handle);

// Sends one echo request of `requestSize` bytes from `requestData` to
// `destination` and waits up to `timeoutMs` for the reply. The reply buffer
// receives the ICMP_ECHO_REPLY record followed by the returned data, so it
// needs sizeof(ICMP_ECHO_REPLY) + requestSize bytes. Returns the number of
// replies (1) or 0; IcmpGetLastError() is IP_SUCCESS after a reply and the
// failing status otherwise (IP_REQ_TIMED_OUT, IP_DEST_HOST_UNREACHABLE,
// IP_TTL_EXPIRED_TRANSIT, IP_BUF_TOO_SMALL, ...). A null `options` sends with
// the system's default TTL; a TTL of 0 is refused with IP_BAD_OPTION.
std::uint32_t IcmpSendEcho(ICMP_HANDLE handle, IPAddr destination, const void* requestData, std::uint16_t requestSize,
                           const IP_OPTION_INFORMATION* options, void* replyBuffer, std::uint32_t replySize,
                           std::uint32_t timeoutMs);

// The error code left by the last call of this thread.
std::uint32_t IcmpGetLastError();
// A sentence that explains the last error of this thread where the code
// alone would not (for example why no ICMP socket could be opened); empty
// otherwise.
std::string IcmpGetLastErrorText();

using IcmpCreateFileProc = ICMP_HANDLE (*)();
using IcmpCloseHandleProc = bool (*)(ICMP_HANDLE);
using IcmpSendEchoProc = std::uint32_t (*)(ICMP_HANDLE, IPAddr, const void*, std::uint16_t,
                                           const IP_OPTION_INFORMATION*, void*, std::uint32_t, std::uint32_t);

// --- Run-time loading ----------------------------------------------------
// The echo library is reached by name like any other module: "icmp.dll"
// (case-insensitive) is the only one known here. Failures leave
// ICMP_ERROR_MOD_NOT_FOUND or ICMP_ERROR_PROC_NOT_FOUND in IcmpGetLastError().
HMODULE IcmpLoadLibrary(const char* fileName);
void* IcmpGetProcAddress(HMODULE module, const char* procName);
bool IcmpFreeLibrary(HMODULE module);

// --- For tests and diagnostics -----------------------------------------
struct IcmpLibraryStats {
    int loads = 0;
    int frees = 0;
    int openHandles = 0;
};
IcmpLibraryStats GetIcmpLibraryStats();

// Makes IcmpLoadLibrary fail while set.
void SetIcmpLibraryLoadFailure(bool fail);
// Makes IcmpGetProcAddress miss the named export while set.
void SetIcmpExportMissing(const char* procName, bool missing);

enum class IcmpSocketKind {
    None,
    Datagram,
    Raw
};
// Which kind of socket a handle sends through.
IcmpSocketKind IcmpHandleSocketKind(ICMP_HANDLE handle);

// What one received packet means for a request. Exposed so that the matching
// rules can be tested with packets no real peer would send.
struct IcmpMatch {
    bool ours = false; // a reply or an error report about our request
    IP_STATUS status = IP_GENERAL_FAILURE;
    std::size_t dataOffset = 0; // the echoed data inside the packet (replies)
    std::size_t dataSize = 0;
    std::uint8_t ttl = 0; // of the packet, when known (raw packets)
    std::uint8_t tos = 0;
    IPAddr from = 0; // the reporting address (raw packets)
};
// A packet read from a raw ICMP socket: IP header, then the ICMP message.
IcmpMatch IcmpMatchRawPacket(const std::uint8_t* packet, std::size_t length, std::uint16_t id, std::uint16_t sequence);
// A message read from an ICMP datagram socket: the ICMP message alone, whose
// identifier the kernel has set to the socket's local port.
IcmpMatch IcmpMatchDatagram(const std::uint8_t* message, std::size_t length, std::uint16_t id, std::uint16_t sequence);
// Maps an ICMP error message's type and code to the IP status.
IP_STATUS IcmpStatusFromError(std::uint8_t type, std::uint8_t code);
