#include "engine/tcanbuffer.h"

#include <algorithm>
#include <thread>

TCanBuffer::TCanBuffer(const TTimeSource& clock) : clock_(clock) {}

TBaseError TCanBuffer::TakeError()
{
    if (errorState_.load(std::memory_order_acquire) != esFull) return TBaseError();
    TBaseError error = pending_;
    pending_ = TBaseError();
    errorState_.store(esEmpty, std::memory_order_release);
    return error;
}

void TCanBuffer::ThrowPending()
{
    if (errorState_.load(std::memory_order_acquire) == esFull) throw TakeError();
}

void TCanBuffer::Write(const TCanFrame& frame, int64_t delay)
{
    ThrowPending();
    Put(ring_, Size, frame, delay);
}

void TCanBuffer::WriteNow(const TCanFrame& frame, int64_t delay)
{
    ThrowPending();
    Put(lane_, LaneSize, frame, delay);
    WakeTimer();
}

void TCanBuffer::Put(TRing<TEntry, Size>& ring, int capacity, const TCanFrame& frame, int64_t delay)
{
    const uint32_t w = ring.write.load(std::memory_order_relaxed);
    if (static_cast<int>(w - ring.read.load(std::memory_order_acquire)) >= capacity - 1)
        throw TBaseError("TCanBuffer::Write", "write error");
    TEntry& entry = ring.items[w % Size];
    entry.frame = frame;
    entry.due = frame.Time + delay;
    // seq_cst with the consumer's idle_ (MicrosToNextWork): either it sees this entry
    // or this sees it idle and wakes it.
    ring.write.store(w + 1, std::memory_order_seq_cst);
    if (idle_.load(std::memory_order_seq_cst)) WakeTimer();
}

bool TCanBuffer::TakeDeparture(TDeparture& departure)
{
    const uint32_t r = departures_.read.load(std::memory_order_relaxed);
    if (r == departures_.write.load(std::memory_order_acquire)) return false;
    departure = departures_.items[r % DepartureSize];
    departures_.read.store(r + 1, std::memory_order_release);
    return true;
}

void TCanBuffer::NoteDeparture(const TEntry& entry, int64_t departure, bool lane)
{
    const uint32_t w = departures_.write.load(std::memory_order_relaxed);
    if (static_cast<int>(w - departures_.read.load(std::memory_order_acquire)) >= DepartureSize) {
        departuresLost_.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    TDeparture& d = departures_.items[w % DepartureSize];
    d.Frame = entry.frame;
    d.Due = entry.due;
    d.Departure = departure;
    d.Now = lane;
    departures_.write.store(w + 1, std::memory_order_release);
}

void TCanBuffer::SetChannel(TCanChannel* channel)
{
    // seq_cst with OnLoop's inUse_/channel_ pair: either OnLoop reads the new channel,
    // or this sees it using the old one and waits for the end of that use (one pass).
    channel_.store(channel, std::memory_order_seq_cst);
    while (inUse_.load(std::memory_order_seq_cst)) std::this_thread::yield();
}

int TCanBuffer::Pending() const
{
    return ring_.Count() + lane_.Count();
}

int64_t TCanBuffer::MicrosToNextWork() const
{
    // Consumer side only: a head entry is complete once the write index has moved past it.
    auto headDue = [](const TRing<TEntry, Size>& ring, int64_t& due) {
        const uint32_t r = ring.read.load(std::memory_order_relaxed);
        if (r == ring.write.load(std::memory_order_seq_cst)) return false;
        due = ring.items[r % Size].due;
        return true;
    };
    idle_.store(true, std::memory_order_seq_cst);
    int64_t laneDue = 0;
    int64_t ringDue = 0;
    const bool lane = headDue(lane_, laneDue);
    const bool ring = headDue(ring_, ringDue);
    if (!lane && !ring) return NoWork;
    idle_.store(false, std::memory_order_relaxed);
    const int64_t now = clock_.Micros();
    int64_t next = lane ? now : ringDue;
    next = std::max(next, retryAt_.load(std::memory_order_relaxed));
    return std::max<int64_t>(0, next - now);
}

template <int N>
void TCanBuffer::ShiftOverdue(TRing<TEntry, N>& ring, uint32_t from, int64_t shift, int64_t now)
{
    // Consumer side: the entries from the read index up to the write index are the
    // consumer's until it moves its index past them.
    const uint32_t end = ring.write.load(std::memory_order_acquire);
    for (uint32_t i = from; i != end; ++i) {
        TEntry& e = ring.items[i % N];
        if (e.due > lastLoop_ && e.due < now) e.due += shift;
    }
}

template <int N>
void TCanBuffer::Discard(TRing<TEntry, N>& ring)
{
    ring.read.store(ring.write.load(std::memory_order_acquire), std::memory_order_release);
}

void TCanBuffer::RecordError(const TBaseError& error)
{
    // The first error stays until the window thread takes it.
    if (errorState_.load(std::memory_order_acquire) != esEmpty) return;
    pending_ = error;
    errorState_.store(esFull, std::memory_order_release);
}

template <int N>
bool TCanBuffer::SendDue(TRing<TEntry, N>& ring, TCanChannel* channel, int64_t now, bool lane)
{
    uint32_t r = ring.read.load(std::memory_order_relaxed);
    while (r != ring.write.load(std::memory_order_acquire)) {
        TEntry& entry = ring.items[r % N];
        if (entry.due > now) return true;
        if (!lane && entry.due > lastLoop_ && now - entry.due > StallLimit) {
            // Due since the last look and long overdue: the process was held up. The
            // frames that fell due meanwhile go on from the present at their own spacing
            // instead of leaving at once. (Frames held back by the medium were due
            // before the last look: they leave as it takes them.)
            ShiftOverdue(ring, r, now - entry.due, now);
            if (entry.due > now) return true;
        }
        TCanFrame wire = entry.frame;
        wire.Time = entry.due;
        bool accepted = false;
        try {
            accepted = channel->TryWrite(wire);
        } catch (const TBaseError& error) {
            RecordError(error);
            Discard(ring);
            return false;
        } catch (...) {
            // The entry stays and is offered again after a pause.
            RecordError(TBaseError("TCanBuffer::OnLoop", "unknown error"));
            retryAt_.store(now + RetryMicros, std::memory_order_relaxed);
            return false;
        }
        if (!accepted) {
            // Back-pressure: the medium takes it later.
            retryAt_.store(now + RetryMicros, std::memory_order_relaxed);
            return false;
        }
        NoteDeparture(entry, clock_.Micros(), lane);
        ++r;
        ring.read.store(r, std::memory_order_release);
    }
    return true;
}

bool TCanBuffer::OnLoop()
{
    inUse_.store(true, std::memory_order_seq_cst);
    TCanChannel* channel = channel_.load(std::memory_order_seq_cst);
    const int64_t now = clock_.Micros();
    if (channel == nullptr) {
        // Nothing to send to: what is due is dropped, as the window thread asked.
        auto dueHead = [now](const TRing<TEntry, Size>& ring) {
            const uint32_t r = ring.read.load(std::memory_order_relaxed);
            return r != ring.write.load(std::memory_order_acquire) && ring.items[r % Size].due <= now;
        };
        if (dueHead(lane_)) Discard(lane_);
        if (dueHead(ring_)) Discard(ring_);
    } else if (now >= retryAt_.load(std::memory_order_relaxed)) {
        if (SendDue(lane_, channel, now, true)) SendDue(ring_, channel, now, false);
    }
    lastLoop_ = now;
    inUse_.store(false, std::memory_order_seq_cst);
    return true;
}
