#include "platform/socketerrorqueue.h"

#include <algorithm>
#include <cstring>

bool ReadSocketErrorQueue(int fd, std::uint8_t* payload, std::size_t size, int level, int type, TQueuedSocketError& out)
{
    out = TQueuedSocketError{};
    alignas(cmsghdr) char control[512];
    sockaddr_storage from{};
    iovec iov{payload, size};
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(fd, &msg, MSG_ERRQUEUE | MSG_DONTWAIT);
    if (n < 0) {
        int pending = 0;
        socklen_t len = sizeof pending;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &len);
        return false;
    }
    out.length = std::size_t(n);
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level != level || c->cmsg_type != type)
            continue;
        const std::size_t data = c->cmsg_len - CMSG_LEN(0);
        if (data < sizeof out.error)
            continue;
        out.found = true;
        const auto* bytes = reinterpret_cast<const char*>(CMSG_DATA(c));
        std::memcpy(&out.error, bytes, sizeof out.error);
        // The kernel places the offender's address right after the error.
        std::memcpy(&out.offender, bytes + sizeof out.error, std::min(data - sizeof out.error, sizeof out.offender));
        break;
    }
    return true;
}
