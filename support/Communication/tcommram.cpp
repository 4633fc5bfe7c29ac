#include "support/Communication/tcommram.h"

#include <array>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <vector>

// The process's mailboxes. mutex guards the slots; changed[s] is notified whenever slot s
// is filled or emptied and when a channel using it stops, so that a block wakes only the
// threads of its own slot (its senders and its receiver), not every channel's. A block
// remembers its sender, so that the sender can tell whether its block has been taken.
struct TCommRam::TTable {
    struct TBlock {
        std::vector<uint8_t> bytes;
        const TCommRam* sender = nullptr;
    };
    std::mutex mutex;
    std::array<std::condition_variable, SlotCount> changed;
    std::array<std::optional<TBlock>, SlotCount> slots;
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

TCommRam::TCommRam(uint8_t sendSlot, uint8_t receiveSlot, size_t recordSize)
    : TACommunication(std::nullopt, std::nullopt, recordSize), table_(SharedTable()),
      receiveSlot_(receiveSlot), sendSlot_(sendSlot)
{
    StartThreads();
}

TCommRam::~TCommRam()
{
    StopThreads();
    // A block of ours that nobody took stays for a later receiver, but no longer names us.
    std::lock_guard guard(table_->mutex);
    auto& slot = table_->slots[sendSlot_];
    if (slot && slot->sender == this)
        slot->sender = nullptr;
}

TAString TCommRam::Where() const
{
    return "RAM " + TAString(static_cast<int32_t>(sendSlot_)) + " " + TAString(static_cast<int32_t>(receiveSlot_));
}

void TCommRam::Unblock()
{
    // Taking the mutex orders the stop flag before a waiter's next look at it.
    { std::lock_guard guard(table_->mutex); }
    table_->changed[sendSlot_].notify_all();
    table_->changed[receiveSlot_].notify_all();
}

size_t TCommRam::HeldBytes() const
{
    std::lock_guard guard(table_->mutex);
    const auto& slot = table_->slots[sendSlot_];
    return slot && slot->sender == this ? slot->bytes.size() : 0;
}

bool TCommRam::Send()
{
    TABuffer& buffer = SendBuffer();
    if (buffer.Count() < RecordSize())
        return false;
    {
        std::unique_lock lock(table_->mutex);
        auto& slot = table_->slots[sendSlot_];
        table_->changed[sendSlot_].wait(lock, [&] { return !slot.has_value() || IsStopping(); });
        if (IsStopping())
            return false;
        // Only the send thread takes from the send buffer, so the count cannot shrink meanwhile.
        const size_t count = buffer.Count() / RecordSize() * RecordSize();
        TTable::TBlock block{std::vector<uint8_t>(count), this};
        if (buffer.Read(block.bytes.data(), count) < count)
            throw TBaseError("TCommRam::Send", "Fatal-Error");
        slot = std::move(block);
    }
    table_->changed[sendSlot_].notify_all();
    return buffer.Count() >= RecordSize();
}

bool TCommRam::Receive()
{
    std::vector<uint8_t> block;
    {
        std::unique_lock lock(table_->mutex);
        auto& slot = table_->slots[receiveSlot_];
        table_->changed[receiveSlot_].wait(lock, [&] { return slot.has_value() || IsStopping(); });
        if (IsStopping())
            return false;
        // The block stays in its slot (its sender waits) until the receive buffer has room.
        if (slot->bytes.size() > MayReceive(TInbound{}))
            return false;
        block = std::move(slot->bytes);
        slot.reset();
    }
    table_->changed[receiveSlot_].notify_all();
    TInbound stream;
    Deliver(stream, block.data(), block.size());
    EndStream(stream, "RAM block in slot " + TAString(static_cast<int32_t>(receiveSlot_)));
    return true;
}
