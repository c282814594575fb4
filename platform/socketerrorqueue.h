#pragma once

// One message of a socket's error queue (IP_RECVERR / IPV6_RECVERR): how
// the IPv4 and the IPv6 echo engines learn of an ICMP error about a request
// they sent, or of a local error sending it.

#include <sys/socket.h>
#include <time.h>

// After <time.h>: it uses struct timespec without including it.
#include <linux/errqueue.h>

#include <cstddef>
#include <cstdint>

struct TQueuedSocketError {
    // Bytes of the request the error is about, as the queue returned them.
    std::size_t length = 0;
    // Whether the message carried an extended error of the level and type
    // asked for; `error` and `offender` are set only then.
    bool found = false;
    sock_extended_err error{};
    // Who reported the error (an ICMP error's sender); family 0 when the
    // message named nobody.
    sockaddr_storage offender{};
};

// Reads one message of `fd`'s error queue into `payload` without waiting.
// False when the queue held nothing; the pending socket error is then read,
// which clears it (it would otherwise keep poll() reporting POLLERR).
// `level` and `type` name the control message of the extended error:
// IPPROTO_IP and IP_RECVERR, or IPPROTO_IPV6 and IPV6_RECVERR.
bool ReadSocketErrorQueue(int fd, std::uint8_t* payload, std::size_t size, int level, int type,
                          TQueuedSocketError& out);
