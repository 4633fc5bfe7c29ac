#pragma once
// Rebuilds the parameter groups that J1939 transport transfers carry, from their frames
// as they go by: a TP.CM announcement (broadcast 0x20 or request to send 0x10) opens a
// transfer between its source and destination; the TP.DT frames from the same source
// to the same destination fill it, 7 bytes a packet in sequence order; the last packet
// completes it and the message is returned, cut to the announced size. A packet out of
// order, a second announcement or an abort (0xFF) between the same two nodes drops the
// unfinished one. It only looks at frames; nothing is held back or changed.
//
// A TP.CM announcement: byte 0 the control byte, bytes 1..2 the size (little-endian),
// byte 3 the packets, bytes 5..7 the PGN, least significant byte first. A 24-byte VIN
// from source 0 announces 20 18 00 04 FF EC FE 00 on 0x1CECFF00.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

class TTransportAssembler {
public:
    struct TMessage {
        uint32_t Pgn = 0;
        uint8_t Source = 0;
        uint8_t Destination = 0xFF;
        std::vector<uint8_t> Data;   // the announced size
    };

    // One frame (extended identifier, its length and data). Returns the message the
    // frame completed, if any.
    std::optional<TMessage> Frame(uint32_t id, bool extended, uint8_t length, const std::array<uint8_t, 8>& data);
    void Clear() { open_.clear(); }
    // Transfers begun and not finished.
    std::size_t Open() const { return open_.size(); }

private:
    struct TOpen {
        TMessage Message;
        int Packets = 0;
        int Next = 1;   // sequence number expected
        int Size = 0;
    };
    std::map<uint16_t, TOpen> open_;   // source << 8 | destination
};
