#include "engine/taddressclaimguard.h"

bool TAddressClaimGuard::Withholds(const TCanFrame& frame, bool& full)
{
    full = false;
    // The buffer hands the frame over with its due time in Time.
    if (frame.Time >= withdrawBefore_.load(std::memory_order_acquire) || (frame.Id & 0xFFu) == NullAddress)
        return false;
    const uint32_t w = write_.load(std::memory_order_relaxed);
    if (w - read_.load(std::memory_order_acquire) >= static_cast<uint32_t>(RingSize)) {
        full = true;
        return false;
    }
    records_[w % RingSize] = TRecord{frame.Id, frame.Time};
    write_.store(w + 1, std::memory_order_release);
    return true;
}

void TAddressClaimGuard::Write(const TCanFrame& frame)
{
    bool full = false;
    if (Withholds(frame, full)) return;
    if (full) throw TBaseError("TAddressClaimGuard::Write", "write error");
    inner_.Write(frame);
}

bool TAddressClaimGuard::TryWrite(const TCanFrame& frame)
{
    bool full = false;
    if (Withholds(frame, full)) return true;
    if (full) return false;
    return inner_.TryWrite(frame);
}

bool TAddressClaimGuard::TakeWithdrawn(const TCanFrame& frame, int64_t due)
{
    const uint32_t r = read_.load(std::memory_order_relaxed);
    if (r == write_.load(std::memory_order_acquire)) return false;
    const TRecord& rec = records_[r % RingSize];
    if (rec.Id != frame.Id || rec.Due != due) return false;
    read_.store(r + 1, std::memory_order_release);
    return true;
}
