#pragma once
// The transmit buffer: frames with absolute due times, written by the main tick on
// the window thread and sent to the open CAN channel by the transmit timer's thread
// (OnLoop, every 2 ms), each at its own due time.
//
// The ring of 256 entries is single-producer (Write, window thread), single-consumer
// (OnLoop, timer thread): only Write advances the write index and only OnLoop the
// read index. Each side publishes its index with release and reads the other's with
// acquire, so an entry is complete before the consumer can see it and free before the
// producer can reuse it. The consumer empties the ring by moving its read index up to
// the write index, never by touching the producer's index.
//
// Errors of the channel are recorded on the timer thread and thrown on the window
// thread by the next Write.

#include "engine/tmultimediatimer.h"
#include "engine/ttimesource.h"
#include "can/tcanchannel.h"
#include "fms/tcanframe.h"
#include "support/tbaseerror.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

class TCanBuffer final : public TMultimediaTimerCallback {
public:
    explicit TCanBuffer(const TTimeSource& clock);

    // Stores frame with due time frame.Time + delay (microseconds on the time source's
    // scale). Throws first any error recorded by the timer thread (storing nothing);
    // throws TBaseError("TCanBuffer::Write", "write error") when the ring already holds
    // 255 unsent entries: the new frame is refused and the stored ones are kept.
    void Write(const TCanFrame& frame, int64_t delay);

    // The channel OnLoop sends to (nullptr: none; due entries are then discarded).
    // When this returns, no Write on the previous channel is in progress or will
    // start, so the caller may close it.
    void SetChannel(TCanChannel* channel);
    TCanChannel* Channel() const;

    // Sends every due entry in ring order; always true (the timer keeps running).
    bool OnLoop() override;
    void OnStart() override {}
    void OnStop() override {}
    // µs until the oldest unsent entry is due, so the timer wakes for it instead of at
    // its periods. An empty ring is looked at again after IdlePoll: frames are written
    // 200 ms ahead of their due time by the main tick, so none is missed. An entry due already
    // (kept for a retry) leaves the timer at its period.
    int64_t MicrosToNextWork() const override;
    static constexpr int64_t IdlePoll = 10000;   // µs

    // Entries written and not yet sent or discarded.
    int Pending() const;

    // The error the timer thread recorded and no Write has thrown yet, taken out of the
    // buffer (an error with empty texts when there is none). For the end of a run.
    TBaseError TakeError();

    static constexpr int Size = 256;

private:
    struct Entry {
        TCanFrame frame;   // Time holds the due time
    };

    void RecordError(const TBaseError& error);
    void Discard();

    const TTimeSource& clock_;
    std::array<Entry, Size> ring_{};
    std::atomic<uint8_t> write_{0};
    std::atomic<uint8_t> read_{0};

    mutable std::mutex channelLock_;   // held by OnLoop while it uses channel_
    TCanChannel* channel_ = nullptr;

    std::mutex errorLock_;
    std::atomic<bool> hasError_{false};
    TBaseError pending_;
};
