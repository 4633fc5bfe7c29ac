#pragma once
// Keeps the simulator's own broadcast transfers one after the other. J1939 lets a
// source address run one broadcast transfer at a time: a receiver takes a second
// announcement from the same source as the end of the first, whose data is then lost.
// Answers to requests can come at any moment, so a transfer that would overlap the one
// under way waits here until that one's last packet has left the send queue; it is
// then queued to start in the next millisecond at the earliest. Single-frame messages
// never wait.
//
// Without requests the catalogue's own transfers (vehicle identification at 12 ms,
// driver identification at 5012 ms, every 10 s) never overlap, so nothing waits.

#include "fms/tcanframe.h"
#include "fms/tcanhigh.h"

#include <cstdint>
#include <deque>

class TCanHighDB;

class TTransferGate {
public:
    static constexpr int64_t NextMillisecond = 1000;   // µs

    // Queues m: at once when it is a single frame or no transfer of ours is under way;
    // otherwise it waits behind those that already wait.
    void Queue(const TCanHigh& m, TCanHighDB& queue);

    // frame left the send queue at now (µs). When it was the last packet of the
    // transfer under way, the first waiting one is queued, its Time moved to now + 1 ms
    // when it was earlier (its packets keep their 100 ms spacing from there).
    void Sent(const TCanFrame& frame, int64_t now, TCanHighDB& queue);

    // Forgets the transfer under way and every waiting one (a new run).
    void Clear();

    bool Busy() const { return busy_; }
    int Waiting() const { return static_cast<int>(waiting_.size()); }

private:
    void Release(TCanHigh m, TCanHighDB& queue);

    std::deque<TCanHigh> waiting_;
    bool busy_ = false;
    uint32_t busyTxId_ = 0;   // identifier of the data packets under way
    int busyPackets_ = 0;     // the number of the last one
};
