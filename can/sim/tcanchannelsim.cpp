#include "can/sim/tcanchannelsim.h"

#include "support/tbaseerror.h"

#include <algorithm>
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
    TACommunication& entry = *entries_.front();
    if (const std::optional<TAString> cut = entry.TakeCutRecords())
        throw TBaseError("TCanChannelSim::Read", "FrameError", entry.Where() + ": " + *cut);
    if (entry.Available() < TSimFrameRecord::Size) return TCanFrame();
    TSimFrameRecord::Bytes record{};
    entry.Read(record.data(), TSimFrameRecord::Size);
    TCanFrame frame = TSimFrameRecord::Decode(record);
    frame.Time = clock_();
    return frame;
}

void TCanChannelSim::Write(const TCanFrame& frame)
{
    const TSimFrameRecord::Bytes record = TSimFrameRecord::Encode(frame);
    for (auto& entry : entries_) entry->Write(record.data(), TSimFrameRecord::Size);
}

uint64_t TCanChannelSim::Drain(std::chrono::milliseconds limit)
{
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + limit;
    uint64_t undelivered = 0;
    for (auto& entry : entries_) {
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now());
        const uint64_t bytes = entry->Drain(std::max(left, milliseconds(0))) + entry->Refused();
        undelivered += (bytes + TSimFrameRecord::Size - 1) / TSimFrameRecord::Size;
    }
    return undelivered;
}

TCanChannelSim::CommFactory TCanChannelSim::DefaultFactory()
{
    return [](const TAString& description) { return TACommunication::New(description, TSimFrameRecord::Size); };
}

TCanChannelSim::Clock TCanChannelSim::DefaultClock()
{
    return [] {
        using namespace std::chrono;
        return static_cast<int64_t>(
            duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
    };
}
