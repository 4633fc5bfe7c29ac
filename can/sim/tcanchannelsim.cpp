#include "can/sim/tcanchannelsim.h"

#include "support/tbaseerror.h"

#include <algorithm>
#include <sys/eventfd.h>
#include <unistd.h>
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
        std::unique_ptr<TACommunication> entry = factory(entryText, !entries_.empty());
        if (!entry) throw TBaseError("TCanChannelSim::TCanChannelSim", "Open error");
        entries_.push_back(std::move(entry));
        const int comma = text.Find(",", p);
        if (comma < 0) break;
        p = comma + 1;
    }
    arrival_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (arrival_ >= 0) entries_.front()->SetArrivalHandle(arrival_);
}

TCanChannelSim::~TCanChannelSim()
{
    for (auto& entry : entries_) entry.reset();
    if (arrival_ >= 0) ::close(arrival_);
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

bool TCanChannelSim::TryWrite(const TCanFrame& frame)
{
    constexpr size_t limit = MaxWaitingRecords * TSimFrameRecord::Size;
    for (size_t i = 1; i < entries_.size(); ++i)
        if (entries_[i]->SendWaiting() >= limit) return false;
    const TSimFrameRecord::Bytes record = TSimFrameRecord::Encode(frame);
    // Entry 0 decides: the frame is taken when its medium took it (or queued it).
    if (entries_.front()->Offer(record.data(), TSimFrameRecord::Size, limit) == TACommunication::TOffer::Busy)
        return false;
    // The further entries carry copies: what their medium cannot take now waits for their
    // send threads (each has room, looked at above).
    for (size_t i = 1; i < entries_.size(); ++i)
        if (entries_[i]->Offer(record.data(), TSimFrameRecord::Size, limit) == TACommunication::TOffer::Busy)
            entries_[i]->Write(record.data(), TSimFrameRecord::Size);
    return true;
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

void TCanChannelSim::StopReceiving()
{
    entries_.front()->StopReceiving();
}

std::optional<TBaseError> TCanChannelSim::ReceiveLosses() const
{
    const TACommunication& entry = *entries_.front();
    const TReceiveLosses losses = entry.Losses();
    if (!losses.Any())
        return std::nullopt;
    return TBaseError("TCanChannelSim::Read", "Frames lost on receiving", entry.Where() + ": " + losses.Text());
}

TCanChannelSim::CommFactory TCanChannelSim::DefaultFactory()
{
    return [](const TAString& description, bool sendOnly) {
        const TCommOptions::TCheck check = [](const uint8_t* record, uint8_t& state) {
            TSimFrameRecord::Bytes bytes;
            std::copy(record, record + TSimFrameRecord::Size, bytes.begin());
            return TSimFrameRecord::Valid(bytes, state);
        };
        return TACommunication::New(description, TCommOptions(TSimFrameRecord::Size, check, sendOnly));
    };
}

TCanChannelSim::Clock TCanChannelSim::DefaultClock()
{
    return [] {
        using namespace std::chrono;
        return static_cast<int64_t>(
            duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
    };
}
