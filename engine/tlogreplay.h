#pragma once
// Replay of a CAN log at the times written in it, relative to Start: every frame as it
// was written (identifier and its kind, length, data, order), transport frames
// included. Broadcast and connection transfers are not rebuilt; they go out packet by
// packet at their own times.
//
// Time never drifts:
//   - a frame earlier than the latest one by less than MergeJitter (a log merged from
//     two channels steps back by fractions of a millisecond) leaves right after its
//     predecessor and shifts nothing;
//   - a larger backward jump starts a new pass: from it on every frame is shifted so
//     that it follows the previous one without a gap (it is taken in the next step).
//     That is also how a repeated log continues (the internal log's second pass starts at 59.998 s, its third at
//     119.996 s).

#include "logs/tcanlog.h"
#include "fms/tcanframe.h"

#include <cstdint>
#include <deque>

class TLogReplay {
public:
    enum TResult {
        rrGoOn,        // the due frames are queued
        rrAllQueued,   // every frame is queued and no repeat is wanted
    };

    // The replay waits while this many frames wait for the medium, so that memory stays
    // bounded however long a repeated dense log runs; they then leave later and are
    // reported late.
    static constexpr std::size_t MaxBacklog = 65536;
    static constexpr int64_t MergeJitter = 1000000;   // µs

    // Back to the first frame (at Start). Without fromFirstFrame the frames are due at
    // the times written in the log; with it the first frame is due at once and every
    // later one as far after it as the log says (a candump log's epoch times, an ASC
    // file cut out of a long recording).
    void Restart(const TCanLog& log, bool fromFirstFrame);

    // One replay step of the 1 ms step at simTime (µs): appends to due, in file order,
    // every frame whose replay time falls before simTime + 1000, with that time as its
    // Time. At the end of the frames: with repeat from the first one again (at most once
    // per step, so a log whose frames all share one time cannot hold the step); without
    // it, or when there are no frames at all, rrAllQueued from then on.
    TResult Step(const TCanLog& log, bool repeat, int64_t simTime, std::deque<TCanFrame>& due);

    // When the next frame is due (its replay time), or INT64_MAX when every frame is
    // queued; INT64_MIN when the next step starts a new pass (it must run).
    int64_t NextFrameTime(const TCanLog& log, bool repeat) const;

    uint32_t LineIndex() const { return lineIndex_; }
    int64_t LastLineTime() const { return lastLineTime_; }
    int64_t LineTimeOffset() const { return lineTimeOffset_; }
    // Frames that stepped back by less than MergeJitter, and the passes started by a
    // larger jump (the repeats included), since Restart.
    int64_t SmallBackwardSteps() const { return smallSteps_; }
    int64_t NewPasses() const { return newPasses_; }

private:
    // Where a frame goes: its replay time, the offset from it on, and whether it stepped
    // back a little or starts a new pass.
    struct TPlacement {
        enum TKind { pkForward, pkSmallStep, pkNewPass };
        int64_t Time;
        int64_t Offset;
        TKind Kind;
    };
    TPlacement Place(const TLogFrame& line) const;

    uint32_t lineIndex_ = 0;
    int64_t lastLineTime_ = 0;
    int64_t lineTimeOffset_ = 0;
    bool started_ = false;        // a frame has been queued since Restart
    bool passStarting_ = false;   // the frame at lineIndex_ begins a repeated pass
    int64_t smallSteps_ = 0;
    int64_t newPasses_ = 0;
};
