#include "can/sim/tcanchannelsim.h"

#include "support/tbaseerror.h"

#include <chrono>
#include <utility>

TCanChannelSim::TCanChannelSim(const TAString& text)
    : TCanChannelSim(text, DefaultFactory(), DefaultClock())
{
}

TCanChannelSim::TCanChannelSim(const TAString& text, CommFactory factory, Clock clock)
    : clock_(std::move(clock))
{
    int p = 0;
    while (EntryCount() < MaxEntries) {
        TAString entryText = text.SubString(p);
        entryText.Replace(",", " ", -1);
        std::unique_ptr<TACommunication> entry = factory(entryText);
        if (!entry) throw TBaseError("TCanChannelSim::TCanChannelSim", "Open error");
        entries_.push_back(std::move(entry));
        const int comma = text.Find(",", p);
        if (comma < 0) break;
        p = comma + 1;
    }
}

TCanChannelSim::~TCanChannelSim()
{
    for (auto& entry : entries_) entry.reset();
}

TCanFrame TCanChannelSim::Read()
{
    pendingCount_ += entries_.front()->Read(pending_.data() + pendingCount_,
                                            TSimFrameRecord::Size - pendingCount_);
    if (pendingCount_ < TSimFrameRecord::Size) return TCanFrame();
    pendingCount_ = 0;
    TCanFrame frame = TSimFrameRecord::Decode(pending_);
    frame.Time = clock_();
    return frame;
}

void TCanChannelSim::Write(const TCanFrame& frame)
{
    const TSimFrameRecord::Bytes record = TSimFrameRecord::Encode(frame);
    for (auto& entry : entries_) entry->Write(record.data(), TSimFrameRecord::Size);
}

TCanChannelSim::CommFactory TCanChannelSim::DefaultFactory()
{
    return [](const TAString& description) { return TACommunication::New(description); };
}

TCanChannelSim::Clock TCanChannelSim::DefaultClock()
{
    return [] {
        using namespace std::chrono;
        return static_cast<int64_t>(
            duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
    };
}
