#include "engine/tframetrace.h"

#include "fms/tbusfmsstandard.h"

#include <algorithm>
#include <cstdio>

uint32_t TTraceFrame::Pgn() const
{
    if (!Extended) return 0;
    const uint32_t pf = (Id >> 16) & 0xFF;
    const uint32_t pgn = (Id >> 8) & 0x3FFFF;   // extended data page, data page, PF, PS
    return pf >= 240 ? pgn : (pgn & 0x3FF00);
}

TAString TTraceFrame::GroupName() const
{
    const uint32_t pgn = Pgn();
    if (!Extended) return TAString();
    if (pgn == 0xEC00) return "TP.CM";
    if (pgn == 0xEB00) return "TP.DT";
    if (pgn == 0xEA00) return "Request";
    if (pgn > 0xFFFF) return TAString();
    const TAString name = TBusFmsStandard::GetPgnName(pgn << 8, 0);
    return name == TAString("Not Fms") ? TAString() : name;
}

TAString TTraceFrame::DataText() const
{
    char text[3 * 8 + 1] = {};
    int at = 0;
    for (int k = 0; k < Length && k < 8; ++k)
        at += std::snprintf(text + at, sizeof text - static_cast<std::size_t>(at), k == 0 ? "%02X" : " %02X",
                            Data[static_cast<std::size_t>(k)]);
    return TAString(std::string(text, static_cast<std::size_t>(at)));
}

TFrameTrace::TFrameTrace(std::size_t capacity)
    : capacity_(std::max<std::size_t>(capacity, 1)), slots_(std::make_unique<TSlot[]>(capacity_))
{
}

void TFrameTrace::Append(TTraceFrame::TDirection direction, int64_t time, uint32_t id, bool extended,
                         uint8_t length, const std::array<uint8_t, 8>& data)
{
    // Only the producer writes last_: a relaxed load reads its own latest store.
    const uint64_t seq = last_.load(std::memory_order_relaxed) + 1;
    TSlot& slot = slots_[static_cast<std::size_t>(seq % capacity_)];
    const uint8_t n = std::min<uint8_t>(length, 8);
    uint64_t bytes = 0;
    for (int k = 0; k < n; ++k) bytes |= static_cast<uint64_t>(data[static_cast<std::size_t>(k)]) << (8 * k);
    const uint64_t head = static_cast<uint64_t>(id) | static_cast<uint64_t>(n) << 32 |
                          static_cast<uint64_t>(extended ? 1 : 0) << 40 |
                          static_cast<uint64_t>(direction == TTraceFrame::Rx ? 1 : 0) << 41;
    slot.Seq.store(0, std::memory_order_relaxed);
    // The words below must not become visible before the slot reads as being written.
    std::atomic_thread_fence(std::memory_order_release);
    slot.Time.store(time, std::memory_order_relaxed);
    slot.Head.store(head, std::memory_order_relaxed);
    slot.Data.store(bytes, std::memory_order_relaxed);
    slot.Seq.store(seq, std::memory_order_release);
    last_.store(seq, std::memory_order_release);
}

TFrameTrace::TBatch TFrameTrace::Since(uint64_t after, std::size_t max) const
{
    TBatch batch;
    const uint64_t last = last_.load(std::memory_order_acquire);
    batch.Last = last;
    batch.Until = after;
    if (last <= after) return batch;
    // The oldest frame the ring can still hold.
    const uint64_t oldest = last >= capacity_ ? last - capacity_ + 1 : 1;
    uint64_t seq = std::max(after + 1, oldest);
    batch.Missed = seq - (after + 1);
    const uint64_t count = std::min<uint64_t>(last - seq + 1, max);
    batch.Frames.reserve(static_cast<std::size_t>(count));
    batch.Until = seq + count - 1;
    for (const uint64_t end = seq + count; seq < end; ++seq) {
        const TSlot& slot = slots_[static_cast<std::size_t>(seq % capacity_)];
        const uint64_t before = slot.Seq.load(std::memory_order_acquire);
        TTraceFrame f;
        f.Time = slot.Time.load(std::memory_order_relaxed);
        const uint64_t head = slot.Head.load(std::memory_order_relaxed);
        const uint64_t bytes = slot.Data.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        const uint64_t after_ = slot.Seq.load(std::memory_order_relaxed);
        if (before != seq || after_ != seq) {
            // Overwritten by a newer frame while we read: lost to this reader.
            ++batch.Missed;
            continue;
        }
        f.Seq = seq;
        f.Id = static_cast<uint32_t>(head & 0xFFFFFFFFu);
        f.Length = static_cast<uint8_t>((head >> 32) & 0xFF);
        f.Extended = ((head >> 40) & 1) != 0;
        f.Direction = ((head >> 41) & 1) != 0 ? TTraceFrame::Rx : TTraceFrame::Tx;
        for (int k = 0; k < f.Length; ++k)
            f.Data[static_cast<std::size_t>(k)] = static_cast<uint8_t>((bytes >> (8 * k)) & 0xFF);
        batch.Frames.push_back(f);
    }
    return batch;
}
