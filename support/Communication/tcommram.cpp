#include "support/Communication/tcommram.h"

#include <array>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

// The process's mailboxes. mutex guards the slots; changed is notified whenever a slot is
// filled or emptied and when a channel stops.
struct TCommRam::TTable {
    std::mutex mutex;
    std::condition_variable changed;
    std::array<std::optional<std::vector<uint8_t>>, SlotCount> slots;
};

namespace {

// The table lives as long as some TCommRam holds it: the first creates it, the last frees it.
std::shared_ptr<TCommRam::TTable> SharedTable()
{
    static std::mutex mutex;
    static std::weak_ptr<TCommRam::TTable> current;
    std::lock_guard guard(mutex);
    auto table = current.lock();
    if (!table) {
        table = std::make_shared<TCommRam::TTable>();
        current = table;
    }
    return table;
}

} // namespace

TCommRam::TCommRam(uint8_t sendSlot, uint8_t receiveSlot)
    : TACommunication(std::nullopt, std::nullopt), table_(SharedTable()),
      receiveSlot_(receiveSlot), sendSlot_(sendSlot)
{
    StartThreads();
}

TCommRam::~TCommRam()
{
    StopThreads();
}

void TCommRam::Unblock()
{
    // Taking the mutex orders the stop flag before a waiter's next look at it.
    { std::lock_guard guard(table_->mutex); }
    table_->changed.notify_all();
}

bool TCommRam::Send()
{
    TABuffer& buffer = SendBuffer();
    if (buffer.Count() < 1)
        return false;
    {
        std::unique_lock lock(table_->mutex);
        auto& slot = table_->slots[sendSlot_];
        table_->changed.wait(lock, [&] { return !slot.has_value() || IsStopping(); });
        if (IsStopping())
            return false;
        const int count = buffer.Count();
        std::vector<uint8_t> block(static_cast<size_t>(count));
        if (buffer.Read(block.data(), count) < count)
            throw TBaseError("TCommRam::Send", "Fatal-Error");
        slot = std::move(block);
    }
    table_->changed.notify_all();
    return buffer.Count() > 0;
}

bool TCommRam::Receive()
{
    std::vector<uint8_t> block;
    {
        std::unique_lock lock(table_->mutex);
        auto& slot = table_->slots[receiveSlot_];
        table_->changed.wait(lock, [&] { return slot.has_value() || IsStopping(); });
        if (IsStopping())
            return false;
        block = std::move(*slot);
        slot.reset();
    }
    table_->changed.notify_all();
    const int count = static_cast<int>(block.size());
    if (ReceiveBuffer().Write(block.data(), count) < count)
        throw TBaseError("TCommRam::Receive", "Fatal-Error");
    return true;
}
