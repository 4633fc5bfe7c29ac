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
        size_t senderBytes = 0;   // the sender's own bytes at the end of bytes
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

TCommRam::TCommRam(uint8_t sendSlot, uint8_t receiveSlot, const TCommOptions& options)
    : TACommunication(std::nullopt, std::nullopt, options), table_(SharedTable()),
      receiveSlot_(receiveSlot), sendSlot_(sendSlot)
{
    StartThreads();
}

TCommRam::~TCommRam()
{
    StopThreads();
    std::vector<uint8_t> back(ReceiveBuffer().Count());
    back.resize(ReceiveBuffer().Read(back.data(), back.size()));
    {
        std::lock_guard guard(table_->mutex);
        // A block of ours that nobody took stays for a later receiver, but no longer names us.
        auto& slot = table_->slots[sendSlot_];
        if (slot && slot->sender == this)
            slot->sender = nullptr;
        // What was taken and not read goes back in front of what waits in the slot.
        if (!back.empty()) {
            auto& in = table_->slots[receiveSlot_];
            if (in) {
                back.insert(back.end(), in->bytes.begin(), in->bytes.end());
                in->bytes = std::move(back);
            } else {
                in = TTable::TBlock{std::move(back), nullptr, 0};
            }
        }
    }
    table_->changed[receiveSlot_].notify_all();
}

void TCommRam::UnblockReceive()
{
    { std::lock_guard guard(table_->mutex); }
    table_->changed[receiveSlot_].notify_all();
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
    return slot && slot->sender == this ? slot->senderBytes : 0;
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
        TTable::TBlock block{std::vector<uint8_t>(count), this, count};
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
        table_->changed[receiveSlot_].wait(lock, [&] { return slot.has_value() || ReceiveStopping(); });
        if (ReceiveStopping())
            return false;
        // The block stays in its slot (its sender waits) until the receive buffer has room.
        const size_t may = MayReceive(TInbound{}) / RecordSize() * RecordSize();
        if (slot->bytes.size() > may) {
            // A block given back at a close may be larger than the buffer: it goes in pieces.
            if (slot->bytes.size() <= ReceiveBuffer().Limit() || may == 0)
                return false;
            block.assign(slot->bytes.begin(), slot->bytes.begin() + static_cast<std::ptrdiff_t>(may));
            slot->bytes.erase(slot->bytes.begin(), slot->bytes.begin() + static_cast<std::ptrdiff_t>(may));
            slot->senderBytes = std::min(slot->senderBytes, slot->bytes.size());
        } else {
            block = std::move(slot->bytes);
            slot.reset();
        }
    }
    DeliverTaken(block);
    return true;
}

void TCommRam::DeliverTaken(const std::vector<uint8_t>& block)
{
    // The slot is free: its sender may go on.
    table_->changed[receiveSlot_].notify_all();
    TInbound stream;
    Deliver(stream, block.data(), block.size());
    EndStream(stream, "RAM block in slot " + TAString(static_cast<int32_t>(receiveSlot_)));
}

void TCommRam::FinalReceive()
{
    std::vector<uint8_t> block;
    {
        std::lock_guard guard(table_->mutex);
        auto& slot = table_->slots[receiveSlot_];
        if (!slot || slot->bytes.size() > MayReceive(TInbound{}))
            return;
        block = std::move(slot->bytes);
        slot.reset();
    }
    DeliverTaken(block);
}
