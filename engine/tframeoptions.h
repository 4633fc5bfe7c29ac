#pragma once
// The applied frame options: source address and priority written into every parameter
// group of the vehicle simulation, and which of the catalogue's groups are sent.
// The log sources are replayed as they are; the options do not touch them.

#include <array>
#include <cstdint>

struct TFrameOptions {
    static constexpr int MaxFlags = 23;

    uint8_t Priority = 6;          // J1939 priority 0..7, identifier bits 26..28
    uint8_t SourceAddress = 0x00;  // identifier bits 0..7
    // One flag per entry of the catalogue's FrameIds, in that order: 1 = send, 0 = leave
    // the group out. Entries past the catalogue's end mark mean nothing.
    std::array<uint8_t, MaxFlags> FrameFlags = [] {
        std::array<uint8_t, MaxFlags> all{};
        all.fill(1);
        return all;
    }();
};
