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
//
// Answers to requests that need a transfer do not go through the send queue, which runs
// the transmit lead ahead of the wire: they are kept here on the wire's clock and handed
// out packet by packet as each falls due (NextAnswerFrame). A frame's Time is when it is
// due on the wire on both clocks, so the two kinds are kept apart by their times: an
// answer starts when it arrives, or when one of ours is under way, 1 ms after that one's
// last packet (a scheduled transfer still in the send queue first has to leave it); a
// scheduled transfer released while answers are planned starts AnswerGap after the last
// of them.

#include "fms/tcanframe.h"
#include "fms/tcanhigh.h"

#include <cstdint>
#include <deque>

class TCanHighDB;

class TTransferGate {
public:
    static constexpr int64_t NextMillisecond = 1000;   // µs
    // Between an answer's last packet and a scheduled announcement after it: the answer's
    // packets are handed out by a poll that may come a few ms late.
    static constexpr int64_t AnswerGap = 10000;   // µs

    // Queues m: at once when it is a single frame or no transfer of ours is under way;
    // otherwise it waits behind those that already wait.
    void Queue(const TCanHigh& m, TCanHighDB& queue);

    // frame left the send queue at now (µs). When it was the last packet of the
    // transfer under way, the first waiting one is queued, its Time moved to now + 1 ms
    // when it was earlier (its packets keep their 100 ms spacing from there).
    void Sent(const TCanFrame& frame, int64_t now, TCanHighDB& queue);

    // An answer transfer m to a request that arrived at arrival (µs, the wire's clock).
    void QueueAnswer(TCanHigh m, int64_t arrival);
    // The next frame of the answers due on the wire at wireNow (µs), or a none frame.
    // Answers leave one after the other, each packet PacketSpacing after the one before.
    TCanFrame NextAnswerFrame(int64_t wireNow);

    // Forgets the transfer under way and every waiting one, answers too (a new run).
    void Clear();

    bool Busy() const { return busy_; }
    int Waiting() const { return static_cast<int>(waiting_.size()); }
    // Answer transfers not finished yet (started, planned or waiting for the send queue).
    int AnswersWaiting() const { return static_cast<int>(planned_.size() + unplanned_.size()); }

private:
    void Release(TCanHigh m, TCanHighDB& queue);
    void Plan(TCanHigh m);

    std::deque<TCanHigh> waiting_;
    std::deque<TCanHigh> planned_;     // answers with their wire times, in order
    std::deque<TCanHigh> unplanned_;   // answers waiting for the scheduled one in the send queue
    int64_t scheduledEnd_ = NoTime;    // wire time of the last packet of ours that left the queue
    int64_t answerEnd_ = NoTime;       // wire time of the last planned answer packet
    static constexpr int64_t NoTime = -(int64_t(1) << 60);
    bool busy_ = false;
    uint32_t busyTxId_ = 0;   // identifier of the data packets under way
    int busyPackets_ = 0;     // the number of the last one
};
