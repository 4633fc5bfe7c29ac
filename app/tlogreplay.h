#pragma once
// Replay of a CAN log (a list of lines in lfFixedSaPgn or lfFixedId) into the send
// queue at the times written in the lines, relative to Start.
//
// A line whose time lies before the line looked at last starts a new pass: from it on
// every line is shifted so that it follows the previous one without a gap. That is how
// a repeated log continues (the internal log's second pass starts at 59.998 s, its
// third at 119.996 s) and how a log out of time order keeps its order.

#include "fms/tcanhighdb.h"
#include "support/stringlist.h"

#include <cstdint>

class TLogReplay {
public:
    enum TResult {
        rrGoOn,   // the due lines are queued (or the step ended at a new pass)
        rrEnd,    // every line is queued and no repeat is wanted: the run ends
    };

    // Back to the first line, no offset (at Start).
    void Restart();

    // One replay step of the 1 ms step at simTime (µs): queues every line due up to
    // simTime + 999 µs, with the line's time plus the offset as its frame time.
    // At the end of the lines: with repeat from the first line again (at most once per
    // step, so a log whose lines all share one time cannot hold the step); without it,
    // or when there are no lines at all, rrEnd, in the first step after the one that
    // queued the last line.
    // A line that does not parse, or whose frame breaks a multipacket transfer, ends
    // the pass (the next step repeats or ends) and its TBaseError is thrown.
    TResult Step(const StringList& lines, bool repeat, int64_t simTime, TCanHighDB& queue);

    uint32_t LineIndex() const { return lineIndex_; }
    int64_t LastLineTime() const { return lastLineTime_; }
    int64_t LineTimeOffset() const { return lineTimeOffset_; }

private:
    uint32_t lineIndex_ = 0;
    int64_t lastLineTime_ = 0;
    int64_t lineTimeOffset_ = 0;
};
