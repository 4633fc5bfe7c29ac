#include "app/tlogreplay.h"

#include <limits>

void TLogReplay::Restart(const TCanLog& log, bool fromFirstFrame)
{
    lineIndex_ = 0;
    lastLineTime_ = 0;
    lineTimeOffset_ = fromFirstFrame && !log.Frames.empty() ? -log.Frames.front().Time : 0;
    passEnded_ = false;
}

TLogReplay::TResult TLogReplay::Step(const TCanLog& log, bool repeat, int64_t simTime, TCanHighDB& queue)
{
    const auto count = static_cast<uint32_t>(log.Frames.size());
    queue.ExpireTransfers(simTime);
    bool wrapped = false;
    for (;;) {
        if (lineIndex_ >= count) {
            if (!passEnded_) {
                queue.EndOfPass(simTime);
                passEnded_ = true;
            }
            if (!repeat || count == 0) return rrAllQueued;
            if (wrapped) return rrGoOn;
            lineIndex_ = 0;
            passEnded_ = false;
            wrapped = true;
        }
        const TLogFrame& line = log.Frames[lineIndex_];
        const int64_t t = line.Time + lineTimeOffset_;
        if (lastLineTime_ > t) {
            lineTimeOffset_ += lastLineTime_ - t;
            lastLineTime_ = t;
            return rrGoOn;
        }
        lastLineTime_ = t;
        if (t > simTime + 999) return rrGoOn;
        if (queue.Count() >= TLogReplay::MaxBacklog) return rrGoOn;
        TCanFrame frame = line.ToFrame();
        frame.Time = t;
        queue.AddFrame(frame);
        ++lineIndex_;
    }
}

int64_t TLogReplay::NextFrameTime(const TCanLog& log, bool repeat) const
{
    if (lineIndex_ >= log.Frames.size())
        return repeat && !log.Frames.empty() ? std::numeric_limits<int64_t>::min()
                                             : std::numeric_limits<int64_t>::max();
    const int64_t t = log.Frames[lineIndex_].Time + lineTimeOffset_;
    // A frame before the last one starts a new pass in the next step.
    return lastLineTime_ > t ? std::numeric_limits<int64_t>::min() : t;
}
