#pragma once
// Watches J1939 transport traffic go by and tells which transfers were complete,
// incomplete or malformed. It only looks: it never changes, holds or drops a frame, so
// a replay can send a log's transport frames exactly as they were written and still
// say what they amounted to.
//
// A transfer is opened by a connection-management frame (TP.CM, PDU format 0xEC) and
// carried by data frames (TP.DT, 0xEB) from the same source to the same destination:
//   - a broadcast announcement (control byte 0x20, destination 0xFF), or
//   - a request to send (0x10) to one destination (its clear-to-send and
//     acknowledgement frames come from the other side and are not data).
// An abort (0xFF) from either side ends the transfer between the two.
// Announcement: bytes 1..2 the size (little-endian), byte 3 the packets, bytes 5..7
// the PGN (least significant byte first). Packet k carries sequence number k in byte 0.
//
//   complete     every announced packet came, in order, and the announcement was sound
//   incomplete   it ended before its last packet: a new announcement between the same
//                two nodes, an abort, no packet for the timeout, or the end of the log
//   malformed    its announcement is unsound (size under 9 or over 1785 bytes, a packet
//                count that does not fit the size, a broadcast to one node, a request
//                to send to all) or a packet
//                came out of order, twice or with a length other than 8
// Data frames with no transfer open are counted as stray packets.
//
// Memory is bounded: the counts cover every transfer; the ones listed (incomplete and
// malformed, in the order they ended) stop at MaxListed, the rest are only counted.

#include "fms/tcanframe.h"
#include "support/tastring.h"

#include <cstdint>
#include <map>
#include <vector>

struct TTransferRecord {
    enum TOutcome { Complete, Incomplete, Malformed };
    TOutcome Outcome = Complete;
    bool Broadcast = true;
    uint8_t Source = 0;
    uint8_t Destination = 0xFF;
    uint32_t Pgn = 0;
    int Size = 0;            // bytes announced
    int Packets = 0;         // packets announced
    int PacketsIn = 0;       // packets seen in order
    int64_t AnnouncedAt = 0; // µs
    int64_t EndedAt = 0;     // µs
    TAString Why;            // what ended or spoilt it; empty for a complete one

    // "broadcast from 21, PGN FECA (272 bytes, 39 packets) at 1.2340 s: 2 of 39
    //  packets, then a new announcement at 1.5000 s"
    TAString Describe() const;
};

class TTransferWatch {
public:
    // J1939's longest wait between the packets of a broadcast, and for a connection
    // (the receiver's wait for the next packet).
    static constexpr int64_t BroadcastTimeout = 750000;    // µs
    static constexpr int64_t ConnectionTimeout = 1250000;  // µs
    static constexpr std::size_t MaxListed = 10000;

    // One frame on the bus at frame.Time (µs; never earlier than the frame before).
    // Transfers that have timed out by then end first.
    void Frame(const TCanFrame& frame);
    // Every open transfer ends as incomplete at `at` (µs), with why ("the end of the log").
    void End(int64_t at, const char* why);
    // Forgets everything.
    void Clear();

    int64_t Complete() const { return complete_; }
    int64_t Incomplete() const { return incomplete_; }
    int64_t Malformed() const { return malformed_; }
    int64_t Transfers() const { return complete_ + incomplete_ + malformed_; }
    int64_t StrayPackets() const { return stray_; }
    int Open() const { return static_cast<int>(open_.size()); }
    bool AllWell() const { return incomplete_ == 0 && malformed_ == 0 && stray_ == 0; }
    // The incomplete and malformed transfers, in the order they ended (at most MaxListed).
    const std::vector<TTransferRecord>& Listed() const { return listed_; }

    // "4 transfers: 3 complete, 1 incomplete, 0 malformed; 2 stray packets"
    // ("no transfers" when there were none and no stray packets).
    TAString Summary() const;
    // Summary and one line per listed transfer, then how many more were not listed.
    TAString Detail() const;

private:
    struct TOpen {
        TTransferRecord Record;
        bool Unsound = false;   // malformed, still watched until it ends
        int64_t LastFrame = 0;  // µs
    };
    using TKey = uint16_t;   // source << 8 | destination

    void Announce(const TCanFrame& frame, uint8_t source, uint8_t destination);
    void Packet(const TCanFrame& frame, uint8_t source, uint8_t destination);
    void Finish(TKey key, TTransferRecord::TOutcome outcome, int64_t at, const TAString& why);
    void ExpireBefore(int64_t now);

    std::map<TKey, TOpen> open_;
    std::vector<TTransferRecord> listed_;
    int64_t complete_ = 0;
    int64_t incomplete_ = 0;
    int64_t malformed_ = 0;
    int64_t stray_ = 0;
    int64_t notListed_ = 0;
};
