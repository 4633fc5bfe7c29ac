#pragma once
// The frames on the bus, newest last: every frame that left (Tx, stamped with its
// departure) and every frame read from the open channel (Rx), in a bounded ring of the
// last Capacity() frames. Each frame gets the next sequence number (1, 2, 3, ...; never
// reused, not even across runs), so a reader asks for what came after the last one it
// saw and learns how many it missed when it fell more than a ring behind.
//
// Threads: one producer (the run engine's thread) appends; any number of readers on
// any thread call Since and Last. The producer never waits and allocates nothing per
// frame. Each slot is a small seqlock made of atomic words: the producer marks the slot
// empty (sequence 0), writes the frame's words, then stores the frame's sequence
// number with release order; a reader loads the sequence number with acquire order,
// reads the words, and after an acquire fence loads the sequence number again. A slot
// whose number changed in between was overwritten while it was read: the reader
// counts that frame as missed instead of returning a torn one. The newest published
// sequence number (last_) is stored with release order after its slot.

#include "support/tastring.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

struct TTraceFrame {
    enum TDirection : uint8_t { Tx, Rx };

    uint64_t Seq = 0;          // 1 for the first frame ever appended
    int64_t Time = 0;          // µs since the run started: departure (Tx) or arrival (Rx)
    TDirection Direction = Tx;
    uint32_t Id = 0;           // 29 bits when Extended, else 11
    bool Extended = true;
    uint8_t Length = 0;        // 0..8
    std::array<uint8_t, 8> Data{};   // Data[Length..7] are 0

    // J1939 parameter group of an extended identifier: data page and PDU format, and
    // the PDU specific byte only for PDU format 240 and above (a PDU 1 group's PDU
    // specific is the destination). 0x18FEF100 -> 65265 (0xFEF1), 0x0CF00400 -> 61444,
    // 0x1CECFF00 -> 60416 (0xEC00). 0 for a standard identifier.
    uint32_t Pgn() const;
    // Bits 0..7 of an extended identifier; 0 for a standard one.
    uint8_t SourceAddress() const { return Extended ? static_cast<uint8_t>(Id & 0xFF) : 0; }
    // The catalogue's name of the group ("Electronic Engine Controller #1"), the
    // transport protocol's ("TP.CM", "TP.DT"), "Request" for PGN 59904, else empty.
    TAString GroupName() const;
    // "F3 15 00 0C": Length bytes in hex, separated by one blank.
    TAString DataText() const;
};

class TFrameTrace {
public:
    static constexpr std::size_t DefaultCapacity = 100000;

    struct TBatch {
        std::vector<TTraceFrame> Frames;   // in sequence order
        uint64_t Missed = 0;               // frames after `after` no longer held
        uint64_t Last = 0;                 // sequence number of the newest frame seen
        // Pass as `after` to the next call: the last frame this batch returned or
        // counted missed (`after` when it covered nothing).
        uint64_t Until = 0;
    };

    explicit TFrameTrace(std::size_t capacity = DefaultCapacity);
    TFrameTrace(const TFrameTrace&) = delete;
    TFrameTrace& operator=(const TFrameTrace&) = delete;

    // Producer only. Frames of more than 8 bytes keep their first 8; Length says 8.
    void Append(TTraceFrame::TDirection direction, int64_t time, uint32_t id, bool extended, uint8_t length,
                const std::array<uint8_t, 8>& data);

    // The frames with sequence numbers above after, oldest first, at most max of them
    // (the oldest ones; ask again from the last one returned for the rest). Missed
    // counts the frames after `after` that the ring no longer held (or that were
    // overwritten while being read): Since(0) on a ring that wrapped once misses the
    // first Capacity() frames.
    TBatch Since(uint64_t after, std::size_t max = SIZE_MAX) const;
    // Sequence number of the newest frame (0 before the first).
    uint64_t Last() const { return last_.load(std::memory_order_acquire); }
    std::size_t Capacity() const { return capacity_; }

private:
    // One frame as four words, each an atomic so that a reader racing the producer
    // reads stale or new words, never undefined ones.
    struct TSlot {
        std::atomic<uint64_t> Seq{0};    // 0 while empty or being written
        std::atomic<int64_t> Time{0};
        std::atomic<uint64_t> Head{0};   // Id | Length << 32 | Extended << 40 | Direction << 41
        std::atomic<uint64_t> Data{0};   // byte k in bits 8k..8k+7
    };

    std::size_t capacity_;
    std::unique_ptr<TSlot[]> slots_;
    std::atomic<uint64_t> last_{0};
};
