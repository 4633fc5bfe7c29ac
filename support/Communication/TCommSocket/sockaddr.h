#pragma once
// An IPv4 socket address: family, port and address, in the system's layout.

#include "support/tastring.h"

#include <cstdint>
#include <netinet/in.h>

class SockAddr {
public:
    SockAddr();
    // A dotted IPv4 address; throws TBaseError("SockAddr::SockAddr", "address") for other text.
    SockAddr(const TAString& dotted, uint16_t port);
    // Any local address ("0.0.0.0") with the given port.
    static SockAddr Any(uint16_t port);

    uint16_t Port() const;
    TAString Address() const;
    // 127.x.x.x
    bool IsLoopback() const;

    const sockaddr* Raw() const { return reinterpret_cast<const sockaddr*>(&address_); }
    sockaddr* Raw() { return reinterpret_cast<sockaddr*>(&address_); }
    static constexpr socklen_t Size() { return sizeof(sockaddr_in); }

private:
    sockaddr_in address_;
};
