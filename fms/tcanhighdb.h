#pragma once
// The send queue: parameter groups in the order they were queued, from which the main
// tick draws at most one due frame per simulated millisecond. Messages are held by
// value; one leaves the queue with its last frame.

#include "fms/tcanframe.h"
#include "fms/tcanhigh.h"

#include <cstddef>
#include <vector>

class TCanHighDB {
public:
    // Appends a copy of m.
    void AddCanHigh(const TCanHigh& m);

    // Offers a replayed frame to the queued messages in queue order, skipping complete
    // ones; the first whose Add takes it keeps it. If none does, a new message is built
    // from the frame and appended. Add's errors pass through; a frame that raises one
    // is not queued as a new message (bytes already copied into a queued one stay).
    void AddFrame(const TCanFrame& f);

    // The first frame, in queue order, of a message whose Time is not later than now
    // and that gives a frame at now; the message leaves the queue when that was its
    // last frame (the later ones keep their order). At most one frame per call; a frame
    // with Id TCanFrame::NoId when there is none. Call again until it gives none.
    TCanFrame GetNextFrame(int64_t now);

    int Count() const { return static_cast<int>(Items.size()); }
    const TCanHigh& Item(int i) const { return Items.at(static_cast<std::size_t>(i)); }

private:
    std::vector<TCanHigh> Items;
};
