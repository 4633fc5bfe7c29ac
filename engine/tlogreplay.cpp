#include "engine/tlogreplay.h"

#include <algorithm>
#include <limits>

void TLogReplay::Restart(const TCanLog& log, bool fromFirstFrame)
{
    lineIndex_ = 0;
    lastLineTime_ = 0;
    lineTimeOffset_ = fromFirstFrame && !log.Frames.empty() ? -log.Frames.front().Time : 0;
    started_ = false;
    passStarting_ = false;
    smallSteps_ = 0;
    newPasses_ = 0;
}

TLogReplay::TPlacement TLogReplay::Place(const TLogFrame& line) const
{
    const int64_t t = line.Time + lineTimeOffset_;
    // A repeated pass always begins in a step of its own, so a log whose frames share
    // one time gives one pass per step.
    if (started_ && passStarting_)
        return {std::max(t, lastLineTime_), lineTimeOffset_ + std::max<int64_t>(0, lastLineTime_ - t), TPlacement::pkNewPass};
    if (!started_ || t >= lastLineTime_) return {t, lineTimeOffset_, TPlacement::pkForward};
    if (lastLineTime_ - t >= MergeJitter)
        return {lastLineTime_, lineTimeOffset_ + (lastLineTime_ - t), TPlacement::pkNewPass};
    return {lastLineTime_, lineTimeOffset_, TPlacement::pkSmallStep};
}

TLogReplay::TResult TLogReplay::Step(const TCanLog& log, bool repeat, int64_t simTime, std::deque<TCanFrame>& due)
{
    const auto count = static_cast<uint32_t>(log.Frames.size());
    bool wrapped = false;
    for (;;) {
        if (lineIndex_ >= count) {
            if (!repeat || count == 0) return rrAllQueued;
            if (wrapped) return rrGoOn;
            lineIndex_ = 0;
            passStarting_ = true;
            wrapped = true;
        }
        if (due.size() >= MaxBacklog) return rrGoOn;
        const TLogFrame& line = log.Frames[lineIndex_];
        const TPlacement place = Place(line);
        if (place.Kind == TPlacement::pkNewPass) {
            // The new pass begins with the next step, where this frame is read again:
            // it then follows the last one without a gap.
            ++newPasses_;
            lineTimeOffset_ = place.Offset;
            lastLineTime_ = place.Time;
            passStarting_ = false;
            return rrGoOn;
        }
        if (place.Time > simTime + 999) return rrGoOn;
        if (place.Kind == TPlacement::pkSmallStep) ++smallSteps_;
        lastLineTime_ = place.Time;
        started_ = true;
        passStarting_ = false;
        TCanFrame frame = line.ToFrame();
        frame.Time = place.Time;
        due.push_back(frame);
        ++lineIndex_;
    }
}

int64_t TLogReplay::NextFrameTime(const TCanLog& log, bool repeat) const
{
    if (lineIndex_ >= log.Frames.size())
        return repeat && !log.Frames.empty() ? std::numeric_limits<int64_t>::min()
                                             : std::numeric_limits<int64_t>::max();
    const TPlacement place = Place(log.Frames[lineIndex_]);
    return place.Kind == TPlacement::pkNewPass ? std::numeric_limits<int64_t>::min() : place.Time;
}
