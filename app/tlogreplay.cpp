#include "app/tlogreplay.h"

#include "fms/tcanframe.h"
#include "support/tbaseerror.h"

void TLogReplay::Restart()
{
    lineIndex_ = 0;
    lastLineTime_ = 0;
    lineTimeOffset_ = 0;
}

TLogReplay::TResult TLogReplay::Step(const StringList& lines, bool repeat, int64_t simTime,
                                     TCanHighDB& queue)
{
    const auto count = static_cast<uint32_t>(lines.Count());
    bool wrapped = false;
    bool queued = false;
    for (;;) {
        if (lineIndex_ >= count) {
            // The step that queued the last line lets its frame leave; the next one ends.
            if (!repeat || count == 0) return queued ? rrGoOn : rrEnd;
            if (wrapped) return rrGoOn;
            lineIndex_ = 0;
            wrapped = true;
        }
        try {
            const TAString& line = lines[static_cast<int>(lineIndex_)];
            TCanFrame frame(line, TCanFrame::DetectFormat(line, lfFixed));
            const int64_t t = frame.Time + lineTimeOffset_;
            if (lastLineTime_ > t) {
                lineTimeOffset_ += lastLineTime_ - t;
                lastLineTime_ = t;
                return rrGoOn;
            }
            lastLineTime_ = t;
            if (t > simTime + 999) return rrGoOn;
            frame.Time = t;
            queue.AddFrame(frame);
            queued = true;
        } catch (const TBaseError&) {
            lineIndex_ = count;
            throw;
        }
        ++lineIndex_;
    }
}
