#pragma once
// The send queue: parameter groups in the order they were queued, from which the main
// tick draws at most one due frame per simulated millisecond. Messages are held by
// value; one leaves the queue with its last frame.
//
// Taking the next frame costs O(log n) whatever the backlog: messages whose next frame
// is not due yet wait in a heap by due time; due ones sit in a set ordered by queue
// position, so "the first due message in queue order" is its smallest element.
//
// Replayed traffic (AddFrame) is rebuilt into messages. Broadcast transfers are kept
// apart by source address, as J1939 allows one transfer per source at a time: a data
// packet joins the open transfer of its own source; an announcement from a source
// ends that source's unfinished transfer. A transfer that cannot be completed (a new
// announcement, a wrong sequence number, no packet for TransferTimeout, the end of a
// pass) leaves the queue at once, with whatever it had not sent yet, and is noted as
// a TTransferDrop for the caller to report; it never holds up or poisons a later one.

#include "fms/tcanframe.h"
#include "fms/tcanhigh.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <queue>
#include <set>
#include <utility>
#include <vector>

// A broadcast transfer that left the queue unfinished.
struct TTransferDrop {
    enum TReason {
        drNewAnnouncement,   // its source announced another transfer
        drTimeout,           // no packet for TCanHighDB::TransferTimeout
        drEndOfPass,         // the log ended (or started again) before it was complete
        drPacketError,       // a packet TCanHigh::Add refused (Error says which)
        drBadAnnouncement,   // the announcement itself was refused (Error says why)
    };
    TReason Reason = drEndOfPass;
    uint8_t SourceAddress = 0;
    uint32_t Pgn = 0;          // 0 when the announcement was refused
    int Packets = 0;           // announced
    int PacketsIn = 0;         // taken in before it was dropped
    int64_t AnnouncedAt = 0;   // µs, time of the announcement
    int64_t At = 0;            // µs, time of the frame or step that dropped it
    TAString Error;            // TCanHigh::Add's message for drPacketError / drBadAnnouncement

    // "source address 21, PGN FEEC announced at 12.3450 s: 2 of 4 packets, then a new
    // announcement"
    TAString Describe() const;
};

class TCanHighDB {
public:
    // J1939's broadcast timeout between the packets of one transfer.
    static constexpr int64_t TransferTimeout = 750000;   // µs

    // Appends a copy of m.
    void AddCanHigh(const TCanHigh& m);

    // Takes in one replayed frame (Dlc 0, Time its replay time): a data packet (TP.DT to
    // the global address) joins the open transfer of its source address, or becomes a
    // frame of its own when that source has none open; an announcement (TP.CM to the
    // global address) opens a transfer, ending the source's unfinished one first; any
    // other frame is a message of its own. Refused packets and announcements end up in
    // TakeDrops(). Throws TBaseError("TCanHighDB::AddFrame", "identifier wider than 29
    // bits") for an Id above 0x1FFFFFFF (such a frame could never be sent).
    void AddFrame(const TCanFrame& f);

    // The first frame, in queue order, of a message whose next frame is due at now
    // (µs); the message leaves the queue when that was its last frame. At most one frame
    // per call; a frame with Id TCanFrame::NoId when there is none.
    TCanFrame GetNextFrame(int64_t now);

    // Drops every open transfer that has had no frame for longer than TransferTimeout
    // before now.
    void ExpireTransfers(int64_t now);
    // Drops every open transfer (the log's pass has ended).
    void EndOfPass(int64_t now);
    // The transfers dropped since the last call, oldest first.
    std::vector<TTransferDrop> TakeDrops();

    // The earliest time at which a queued message has a frame to give (INT64_MIN when
    // one is due already), or INT64_MAX (nothing queued, or only transfers waiting for
    // their next packet).
    int64_t NextDueTime();

    // Empties the queue and forgets every open transfer and drop.
    void Clear();

    int Count() const { return static_cast<int>(items_.size()); }
    // Messages GetNextFrame has looked at so far: one per frame given plus one per
    // message whose next frame came due. Shows that taking a frame does not cost more
    // with a longer queue.
    uint64_t Examined() const { return examined_; }
    // The i-th queued message in queue order (O(i)).
    const TCanHigh& Item(int i) const;

private:
    using TSeq = uint64_t;
    struct TOpen {
        TSeq Seq;
        int64_t LastFrame;   // µs, time of its latest frame
    };

    TSeq Append(TCanHigh m);
    // Puts message seq where its next frame belongs: waiting by due time, or nowhere
    // while it waits for a packet. Removes it when everything is sent.
    void Schedule(TSeq seq);
    // packetsIn < 0: as many as the transfer holds now.
    void Drop(uint8_t sa, TTransferDrop::TReason reason, int64_t at, const TAString& error = {}, int packetsIn = -1);

    TSeq nextSeq_ = 0;
    std::map<TSeq, TCanHigh> items_;   // queue order
    std::set<TSeq> due_;               // next frame due and available
    // (due time, seq), earliest first; entries whose message moved on are skipped.
    std::priority_queue<std::pair<int64_t, TSeq>, std::vector<std::pair<int64_t, TSeq>>, std::greater<>> waiting_;
    std::map<TSeq, int64_t> waitingAt_;       // the one valid heap entry of each waiting message
    std::map<uint8_t, TOpen> open_;           // unfinished replayed transfers by source address
    std::vector<TTransferDrop> drops_;
    uint64_t examined_ = 0;
};
