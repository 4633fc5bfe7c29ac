#pragma once
// Replay of a CAN log into the send queue at the times written in it, relative to
// Start.
//
// A frame whose time lies before the frame looked at last starts a new pass: from it on
// every frame is shifted so that it follows the previous one without a gap. That is
// how a repeated log continues (the internal log's second pass starts at 59.998 s, its
// third at 119.996 s) and how a log out of time order keeps its order.
//
// Broadcast transfers are rebuilt by the send queue; at the end of each pass the
// transfers still open are dropped (TCanHighDB::EndOfPass), and a transfer that gets no
// packet for 750 ms is dropped on the way (TCanHighDB::ExpireTransfers).

#include "app/tcanlog.h"
#include "fms/tcanhighdb.h"

#include <cstdint>

class TLogReplay {
public:
    enum TResult {
        rrGoOn,        // the due frames are queued (or the step ended at a new pass)
        rrAllQueued,   // every frame is queued and no repeat is wanted
    };

    // A log with more than one frame per millisecond builds a backlog in the send queue
    // (at most one frame leaves per millisecond). Beyond this many queued messages the
    // replay waits before it queues more, so that memory stays bounded however long a
    // repeated dense log runs; the frames only leave later, as they would anyway.
    static constexpr int MaxBacklog = 65536;

    // Back to the first frame (at Start). Without fromFirstFrame the frames are due at
    // the times written in the log; with it the first frame is due at once and every
    // later one as far after it as the log says (a candump log's epoch times, an ASC
    // file cut out of a long recording).
    void Restart(const TCanLog& log, bool fromFirstFrame);

    // One replay step of the 1 ms step at simTime (µs): queues every frame due up to
    // simTime + 999 µs, with the frame's time plus the offset as its time.
    // At the end of the frames: with repeat from the first one again (at most once per
    // step, so a log whose frames all share one time cannot hold the step); without it,
    // or when there are no frames at all, rrAllQueued from then on.
    TResult Step(const TCanLog& log, bool repeat, int64_t simTime, TCanHighDB& queue);

    // When the next frame is due for the queue (its time plus the offset), or
    // INT64_MAX when every frame is queued; INT64_MIN when the next step starts a new
    // pass (it must run).
    int64_t NextFrameTime(const TCanLog& log, bool repeat) const;

    uint32_t LineIndex() const { return lineIndex_; }
    int64_t LastLineTime() const { return lastLineTime_; }
    int64_t LineTimeOffset() const { return lineTimeOffset_; }

private:
    uint32_t lineIndex_ = 0;
    int64_t lastLineTime_ = 0;
    int64_t lineTimeOffset_ = 0;
    bool passEnded_ = false;   // EndOfPass told the queue about the last pass
};
