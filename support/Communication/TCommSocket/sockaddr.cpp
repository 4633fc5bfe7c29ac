#include "support/Communication/TCommSocket/sockaddr.h"

#include "support/tbaseerror.h"

#include <arpa/inet.h>
#include <cstring>

SockAddr::SockAddr()
{
    std::memset(&address_, 0, sizeof address_);
    address_.sin_family = AF_INET;
}

SockAddr::SockAddr(const TAString& dotted, uint16_t port) : SockAddr()
{
    address_.sin_port = htons(port);
    if (inet_pton(AF_INET, dotted.c_str(), &address_.sin_addr) != 1)
        throw TBaseError("SockAddr::SockAddr", "address");
}

SockAddr SockAddr::Any(uint16_t port)
{
    SockAddr any;
    any.address_.sin_port = htons(port);
    any.address_.sin_addr.s_addr = htonl(INADDR_ANY);
    return any;
}

uint16_t SockAddr::Port() const
{
    return ntohs(address_.sin_port);
}

TAString SockAddr::Address() const
{
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address_.sin_addr, text, sizeof text);
    return TAString(text);
}

bool SockAddr::IsLoopback() const
{
    return (ntohl(address_.sin_addr.s_addr) >> 24) == 127;
}
