// Asynchronous name lookups of the socket object.

#include "net/customwsocket.h"

#include "net/wsocketaddress.h"

#include <cstring>

void TCustomWSocket::DnsLookup(const std::string& HostName)
{
    if (HostName.empty()) {
        RaiseException("DNS lookup: invalid host name.");
        TriggerDNSLookupDone(WSAEINVAL);
        return;
    }
    if (FLookupHandle != 0) {
        WSocket_WSACancelAsyncRequest(FLookupHandle);
        FLookupHandle = 0;
    }
    FDnsResult.clear();
    FDnsResultList.clear();

    in_addr addr;
    addr.s_addr = WSocket_inet_addr(HostName.c_str());
    if (addr.s_addr != INADDR_NONE) {
        FDnsResult = WSocket_inet_ntoa(addr);
        TriggerDNSLookupDone(0);
        return;
    }
    // A literal IPv6 address is answered at once too, in its short form.
    in6_addr addr6;
    if (WSocket_inet_pton(AF_INET6, WSocketStripBrackets(HostName).c_str(), &addr6) == 1) {
        char text[INET6_ADDRSTRLEN_WS] = {};
        FDnsResult = WSocket_inet_ntop(AF_INET6, &addr6, text, sizeof text);
        TriggerDNSLookupDone(0);
        return;
    }

    // Every address family: a name may have IPv6 and IPv4 addresses.
    FLookupHandle = WSocket_WSAAsyncGetAddrInfo(MessageWindow(), WM_ASYNCGETHOSTBYNAME, HostName.c_str(), AF_UNSPEC,
                                                FLookupBuffer.data(), LookupBufferSize);
    if (FLookupHandle == 0)
        RaiseExceptionFmt("%s: can't start DNS lookup, error #%d", HostName.c_str(), WSocket_WSAGetLastError());
}

void TCustomWSocket::ReverseDnsLookup(const std::string& HostAddr)
{
    if (HostAddr.empty()) {
        RaiseException("DNS lookup: invalid host name.");
        TriggerDNSLookupDone(WSAEINVAL);
        return;
    }
    if (FLookupHandle != 0) {
        WSocket_WSACancelAsyncRequest(FLookupHandle);
        FLookupHandle = 0;
    }
    FDnsResult.clear();
    FDnsResultList.clear();

    // An IPv6 address is looked up as one; anything else as IPv4 text.
    in6_addr addr6;
    if (WSocket_inet_pton(AF_INET6, WSocketStripBrackets(HostAddr).c_str(), &addr6) == 1) {
        FLookupHandle = WSocket_WSAAsyncGetHostByAddr(MessageWindow(), WM_ASYNCGETHOSTBYADDR,
                                                      reinterpret_cast<const char*>(&addr6), sizeof addr6, AF_INET6,
                                                      FLookupBuffer.data(), LookupBufferSize);
    } else {
        const std::uint32_t addr = WSocket_inet_addr(HostAddr.c_str());
        FLookupHandle = WSocket_WSAAsyncGetHostByAddr(MessageWindow(), WM_ASYNCGETHOSTBYADDR,
                                                      reinterpret_cast<const char*>(&addr), 4, PF_INET,
                                                      FLookupBuffer.data(), LookupBufferSize);
    }
    if (FLookupHandle == 0)
        RaiseExceptionFmt("%s: can't start DNS lookup, error #%d", HostAddr.c_str(), WSocket_WSAGetLastError());
}

void TCustomWSocket::CancelDnsLookup()
{
    if (FLookupHandle == 0)
        return;
    if (WSocket_WSACancelAsyncRequest(FLookupHandle) != 0) {
        FLookupHandle = 0;
        SocketError("WSACancelAsyncRequest");
        return;
    }
    FLookupHandle = 0;
    if (!FDestroying)
        TriggerDNSLookupDone(WSAEINTR);
}

void TCustomWSocket::WMAsyncGetHostByName(TMessage& msg)
{
    if (FLookupHandle == 0 || msg.WParam != WPARAM(FLookupHandle))
        return; // cancelled or superseded
    FLookupHandle = 0;
    const std::uint16_t error = HiWord(msg.LParam);
    if (error == 0) {
        const auto* list = reinterpret_cast<const SOCKET_ADDRESS_LIST*>(FLookupBuffer.data());
        for (int i = 0; i < list->iAddressCount; ++i) {
            const std::string text = WSocketAddrText(list->Address[i].lpSockaddr);
            if (!text.empty())
                FDnsResultList.push_back(text);
        }
        if (!FDnsResultList.empty())
            FDnsResult = FDnsResultList.front();
    }
    TriggerDNSLookupDone(error);
}

void TCustomWSocket::WMAsyncGetHostByAddr(TMessage& msg)
{
    if (FLookupHandle == 0 || msg.WParam != WPARAM(FLookupHandle))
        return;
    FLookupHandle = 0;
    const std::uint16_t error = HiWord(msg.LParam);
    if (error == 0) {
        const auto* entry = reinterpret_cast<const hostent*>(FLookupBuffer.data());
        FDnsResultList.clear();
        if (entry->h_name != nullptr) {
            FDnsResult = entry->h_name;
            FDnsResultList.push_back(FDnsResult);
        }
    }
    TriggerDNSLookupDone(error);
}
