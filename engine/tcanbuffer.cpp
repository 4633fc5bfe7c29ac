#include "engine/tcanbuffer.h"

TCanBuffer::TCanBuffer(const TTimeSource& clock) : clock_(clock) {}

TBaseError TCanBuffer::TakeError()
{
    std::lock_guard<std::mutex> lock(errorLock_);
    TBaseError error = pending_;
    pending_ = TBaseError();
    hasError_.store(false, std::memory_order_release);
    return error;
}

void TCanBuffer::Write(const TCanFrame& frame, int64_t delay)
{
    if (hasError_.load(std::memory_order_acquire)) throw TakeError();
    const uint8_t w = write_.load(std::memory_order_relaxed);
    const uint8_t next = static_cast<uint8_t>(w + 1);
    if (next == read_.load(std::memory_order_acquire))
        throw TBaseError("TCanBuffer::Write", "write error");
    Entry& entry = ring_[w];
    entry.frame = frame;
    entry.frame.Time = frame.Time + delay;
    write_.store(next, std::memory_order_release);
}

void TCanBuffer::SetChannel(TCanChannel* channel)
{
    std::lock_guard<std::mutex> lock(channelLock_);
    channel_ = channel;
}

TCanChannel* TCanBuffer::Channel() const
{
    std::lock_guard<std::mutex> lock(channelLock_);
    return channel_;
}

int TCanBuffer::Pending() const
{
    return static_cast<uint8_t>(write_.load(std::memory_order_acquire) - read_.load(std::memory_order_acquire));
}

int64_t TCanBuffer::MicrosToNextWork() const
{
    // Consumer side only: the entry at the read index is complete once the write index
    // has moved past it (acquire).
    const uint8_t r = read_.load(std::memory_order_relaxed);
    if (r == write_.load(std::memory_order_acquire)) return IdlePoll;
    const int64_t due = ring_[r].frame.Time - clock_.Micros();
    return due > 0 ? due : -1;
}

void TCanBuffer::Discard()
{
    read_.store(write_.load(std::memory_order_acquire), std::memory_order_release);
}

void TCanBuffer::RecordError(const TBaseError& error)
{
    std::lock_guard<std::mutex> lock(errorLock_);
    pending_ = error;
    hasError_.store(true, std::memory_order_release);
}

bool TCanBuffer::OnLoop()
{
    std::lock_guard<std::mutex> lock(channelLock_);
    uint8_t r = read_.load(std::memory_order_relaxed);
    while (r != write_.load(std::memory_order_acquire)) {
        const int64_t now = clock_.Micros();
        const TCanFrame& frame = ring_[r].frame;
        if (frame.Time > now) return true;
        if (channel_ == nullptr) {
            Discard();
            return true;
        }
        try {
            channel_->Write(frame);
        } catch (const TBaseError& error) {
            RecordError(error);
            Discard();
            return true;
        } catch (...) {
            // The entry stays and is tried again at the next period.
            RecordError(TBaseError("TCanBuffer::OnLoop", "unknown error"));
            return true;
        }
        r = static_cast<uint8_t>(r + 1);
        read_.store(r, std::memory_order_release);
    }
    return true;
}
