#pragma once
// The transmit buffer: frames with absolute due times, written by the main tick on
// the window thread and sent to the open CAN channel by the transmit timer's thread
// (OnLoop), each at its own due time.
//
// Three single-producer, single-consumer rings connect the two threads; each side
// publishes its index with release and reads the other's with acquire, so an entry is
// complete before the consumer can see it and free before the producer can reuse it:
//   - the schedule ring (Write; window thread → timer thread): frames in send order,
//     each at its due time (an entry not yet due holds back the ones behind it);
//   - the answer lane (WriteNow; window thread → timer thread): frames that go out as
//     soon as the medium takes them (answers to requests), before due scheduled ones;
//   - the departure ring (timer thread → window thread, TakeDeparture): every frame
//     the channel accepted, with the time its TryWrite returned.
// The timer thread takes no lock that another thread can hold: the channel is handed
// over through an atomic pointer and an in-use flag, errors through an atomic slot. A
// channel that refuses a frame for the moment (TryWrite false: a full queue, ENOBUFS)
// keeps it at the head; it is offered again after RetryMicros, never dropped.
//
// Wake-ups: the timer sleeps until the head is due; a write into an empty lane wakes
// it (one wake-up per burst, none per frame while frames are queued ahead), so an
// idle buffer costs nothing.
//
// Errors of the channel are recorded on the timer thread and thrown on the window
// thread by the next Write.

#include "engine/tcantransmit.h"
#include "engine/tmultimediatimer.h"
#include "engine/ttimesource.h"
#include "can/tcanchannel.h"
#include "fms/tcanframe.h"
#include "support/tbaseerror.h"

#include <array>
#include <atomic>
#include <cstdint>

class TCanBuffer final : public TMultimediaTimerCallback {
public:
    explicit TCanBuffer(const TTimeSource& clock);

    // Stores frame with due time frame.Time + delay (microseconds on the time source's
    // scale). Throws first any error recorded by the timer thread (storing nothing);
    // throws TBaseError("TCanBuffer::Write", "write error") when the ring already holds
    // 255 unsent entries: the new frame is refused and the stored ones are kept.
    void Write(const TCanFrame& frame, int64_t delay);
    // As Write, into the answer lane: the frame leaves at the timer's next wake-up
    // (which this causes), ahead of due scheduled frames. "write error" when the lane
    // already holds LaneSize - 1 frames.
    void WriteNow(const TCanFrame& frame, int64_t delay);

    // A frame the channel accepted, with the time its TryWrite returned true.
    using TDeparture = TCanTransmit::TDeparture;
    // On the window thread: the oldest departure not taken yet; false when none.
    bool TakeDeparture(TDeparture& departure);
    // Departures the window thread did not take in time (the ring was full); the frames
    // left all the same.
    uint64_t DeparturesLost() const { return departuresLost_.load(std::memory_order_relaxed); }

    // The channel OnLoop sends to (nullptr: none; due entries are then discarded).
    // When this returns, no write to the previous channel is in progress or will
    // start, so the caller may close it.
    void SetChannel(TCanChannel* channel);
    TCanChannel* Channel() const { return channel_.load(std::memory_order_acquire); }

    // Sends every due entry in order; always true (the timer keeps running).
    bool OnLoop() override;
    void OnStart() override {}
    void OnStop() override {}
    // µs until the head of a lane is due (0: now; RetryMicros after a refusal), or
    // NoWork while both are empty: a Write wakes the timer.
    int64_t MicrosToNextWork() const override;
    static constexpr int64_t RetryMicros = 500;
    // A scheduled frame that fell due since the last OnLoop and is more than this
    // overdue (µs) means the process was held up: it and the others that fell due meanwhile move by the time missed, keeping
    // their spacing (the run engine moves the run's start alike), so no burst follows.
    static constexpr int64_t StallLimit = 200000;

    // Entries written and not yet sent or discarded (both lanes).
    int Pending() const;

    // The error the timer thread recorded and no Write has thrown yet, taken out of the
    // buffer (an error with empty texts when there is none). For the end of a run.
    TBaseError TakeError();

    static constexpr int Size = 256;
    static constexpr int LaneSize = 64;
    static constexpr int DepartureSize = 1024;   // > 2 * Size: see TakeDeparture's caller

private:
    struct TEntry {
        TCanFrame frame;   // Time as written
        int64_t due = 0;
    };
    // A single-producer, single-consumer ring of N entries (N a power of two).
    template <typename T, int N>
    struct TRing {
        std::array<T, N> items{};
        std::atomic<uint32_t> write{0};   // advanced by the producer only
        std::atomic<uint32_t> read{0};    // advanced by the consumer only
        int Count() const
        {
            return static_cast<int>(write.load(std::memory_order_acquire) - read.load(std::memory_order_acquire));
        }
    };

    void Put(TRing<TEntry, Size>& ring, int capacity, const TCanFrame& frame, int64_t delay);
    // Sends the due head entries of ring; false when the channel refused one or failed.
    template <int N>
    bool SendDue(TRing<TEntry, N>& ring, TCanChannel* channel, int64_t now, bool lane);
    void NoteDeparture(const TEntry& entry, int64_t departure, bool lane);
    void RecordError(const TBaseError& error);
    template <int N>
    void Discard(TRing<TEntry, N>& ring);
    template <int N>
    void ShiftOverdue(TRing<TEntry, N>& ring, uint32_t from, int64_t shift, int64_t now);
    void ThrowPending();

    const TTimeSource& clock_;
    TRing<TEntry, Size> ring_;
    TRing<TEntry, Size> lane_;   // only LaneSize entries used
    TRing<TDeparture, DepartureSize> departures_;
    std::atomic<uint64_t> departuresLost_{0};
    std::atomic<int64_t> retryAt_{0};   // timer thread: after a refusal, µs
    int64_t lastLoop_ = 0;               // timer thread: the clock at the last OnLoop, µs
    // Set by the timer thread when it found both lanes empty and will sleep until woken.
    mutable std::atomic<bool> idle_{false};

    std::atomic<TCanChannel*> channel_{nullptr};
    std::atomic<bool> inUse_{false};   // the timer thread is writing to the channel it read

    // The error slot: the timer thread fills it only when empty (esEmpty → esFull), the
    // window thread empties it only when full; the state's release/acquire orders the texts.
    enum TErrorState : int { esEmpty, esFull };
    std::atomic<int> errorState_{esEmpty};
    TBaseError pending_;
};
