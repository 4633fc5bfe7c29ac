#pragma once
// A socket address: family (IPv4 or IPv6), port and address, in the system's layout.

#include "support/tastring.h"

#include <cstdint>
#include <netinet/in.h>
#include <sys/socket.h>

class SockAddr {
public:
    SockAddr();
    // A host name ("localhost"), a dotted IPv4 address or an IPv6 literal ("::1", also in
    // brackets "[::1]"); a name is looked up once, here, and its first address is taken.
    // Throws TBaseError("SockAddr::SockAddr", "address") with the reason in the detail
    // ("'nohost': Name or service not known").
    SockAddr(const TAString& host, uint16_t port);
    // Any local address of family (AF_INET "0.0.0.0", AF_INET6 "::") with the given port.
    static SockAddr Any(uint16_t port, int family = AF_INET);
    // The loopback address of family (127.0.0.1 or ::1).
    static SockAddr Loopback(uint16_t port, int family = AF_INET);

    int Family() const { return address_.ss_family; }
    uint16_t Port() const;
    // "127.0.0.1", "::1"
    TAString Address() const;
    // 127.x.x.x, ::1, and IPv4 loopback addresses mapped into IPv6
    bool IsLoopback() const;

    const sockaddr* Raw() const { return reinterpret_cast<const sockaddr*>(&address_); }
    sockaddr* Raw() { return reinterpret_cast<sockaddr*>(&address_); }
    socklen_t Size() const { return Family() == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in); }
    static constexpr socklen_t Capacity() { return sizeof(sockaddr_storage); }

private:
    sockaddr_storage address_;
};
