#include "support/Communication/TCommSocket/sockaddr.h"

#include "support/tbaseerror.h"

#include <arpa/inet.h>
#include <cstring>
#include <netdb.h>
#include <string>

SockAddr::SockAddr()
{
    std::memset(&address_, 0, sizeof address_);
    address_.ss_family = AF_INET;
}

SockAddr::SockAddr(const TAString& host, uint16_t port) : SockAddr()
{
    std::string name(host.c_str());
    if (name.size() > 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int code = name.empty() ? EAI_NONAME : ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (code != 0 || !found)
        throw TBaseError("SockAddr::SockAddr", "address",
                         "'" + host + "': " + (code == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(code)));
    // A name with an IPv4 address takes it, so that "localhost" here and "127.0.0.1" in the
    // peer's description meet on the same address.
    const addrinfo* chosen = found;
    for (const addrinfo* each = found; each; each = each->ai_next)
        if (each->ai_family == AF_INET) {
            chosen = each;
            break;
        }
    std::memcpy(&address_, chosen->ai_addr, chosen->ai_addrlen);
    ::freeaddrinfo(found);
    if (Family() == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&address_)->sin6_port = htons(port);
    else
        reinterpret_cast<sockaddr_in*>(&address_)->sin_port = htons(port);
}

SockAddr SockAddr::Any(uint16_t port, int family)
{
    SockAddr any;
    if (family == AF_INET6) {
        auto* six = reinterpret_cast<sockaddr_in6*>(&any.address_);
        six->sin6_family = AF_INET6;
        six->sin6_port = htons(port);
        six->sin6_addr = in6addr_any;
        return any;
    }
    auto* four = reinterpret_cast<sockaddr_in*>(&any.address_);
    four->sin_port = htons(port);
    four->sin_addr.s_addr = htonl(INADDR_ANY);
    return any;
}

SockAddr SockAddr::Loopback(uint16_t port, int family)
{
    SockAddr loopback = Any(port, family);
    if (family == AF_INET6)
        reinterpret_cast<sockaddr_in6*>(&loopback.address_)->sin6_addr = in6addr_loopback;
    else
        reinterpret_cast<sockaddr_in*>(&loopback.address_)->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return loopback;
}

uint16_t SockAddr::Port() const
{
    if (Family() == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address_)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address_)->sin_port);
}

TAString SockAddr::Address() const
{
    char text[INET6_ADDRSTRLEN] = {};
    if (Family() == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&address_)->sin6_addr, text, sizeof text);
    else
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&address_)->sin_addr, text, sizeof text);
    return TAString(text);
}

bool SockAddr::IsLoopback() const
{
    if (Family() == AF_INET6) {
        const in6_addr& six = reinterpret_cast<const sockaddr_in6*>(&address_)->sin6_addr;
        if (IN6_IS_ADDR_LOOPBACK(&six))
            return true;
        return IN6_IS_ADDR_V4MAPPED(&six) && six.s6_addr[12] == 127;
    }
    return (ntohl(reinterpret_cast<const sockaddr_in*>(&address_)->sin_addr.s_addr) >> 24) == 127;
}
