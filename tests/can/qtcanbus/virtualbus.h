#pragma once
// What the Qt CAN bus tests and their peer program share: the numbered frames they
// exchange and the virtual bus they meet on.

#include "fms/tcanframe.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace virtualbus {

// The peer sends Hello until it receives Go; only then do both sides count frames.
constexpr uint32_t HelloId = 0x18FF0100u;
constexpr uint32_t GoId = 0x18FF0200u;
// Bases of the numbered frames: from the test (or the first channel) and from the peer.
constexpr uint32_t ForwardBase = 0x0CF00400u;
constexpr uint32_t BackwardBase = 0x18FEF100u;

// Frame number i from base: identifier base + (i mod 256), data bytes 0..3 i
// little-endian, bytes 4..7 their complement. Frame 258 from 0x18FEF100 is
// 18FEF102 02 01 00 00 FD FE FF FF.
inline TCanFrame Numbered(uint32_t base, uint32_t i)
{
    TCanFrame frame;
    frame.Id = base + (i % 256);
    for (int b = 0; b < 4; ++b) {
        frame.Data[b] = static_cast<uint8_t>(i >> (8 * b));
        frame.Data[b + 4] = static_cast<uint8_t>(~frame.Data[b]);
    }
    return frame;
}

inline bool IsNumbered(const TCanFrame& frame, uint32_t base, uint32_t i)
{
    const TCanFrame expected = Numbered(base, i);
    return frame.Id == expected.Id && frame.Data == expected.Data;
}

// The virtual bus on port: "virtualcan tcp://127.0.0.1:<port>/can0".
inline std::string Description(uint16_t port, int channel = 0)
{
    return "virtualcan tcp://127.0.0.1:" + std::to_string(port) + "/can" + std::to_string(channel);
}

// The port of this test process's virtual bus: a port that was free on localhost when
// first asked for. The plugin serves its bus on the port of the process's first
// virtualcan channel only, so every test of the process uses this one; tests of other
// processes (ctest runs them in parallel) get buses of their own.
inline uint16_t TestPort()
{
    static const uint16_t port = [] {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        uint16_t found = 0;
        if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            found = ntohs(address.sin_port);
        if (fd >= 0) ::close(fd);
        return found;
    }();
    return port;
}

} // namespace virtualbus
