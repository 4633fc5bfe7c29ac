#pragma once
// The transmit buffer (TCanBuffer) as the main tick's TCanTransmit.

#include "engine/tcanbuffer.h"
#include "engine/tcantransmit.h"

class TCanBufferTransmit final : public TCanTransmit {
public:
    // departures: the engine counts, logs and measures each frame when the medium took
    // it (TakeDeparture); the engine must then go on collecting after a Stop until the
    // buffer is empty (the runner does). Without: a frame counts as gone once written.
    explicit TCanBufferTransmit(TCanBuffer& buffer, bool departures = false)
        : buffer_(buffer), departures_(departures)
    {
    }

    void Write(const TCanFrame& frame, int64_t delay) override { buffer_.Write(frame, delay); }
    // TCanBuffer::SetChannel waits for a send in progress on the timer thread.
    void SetChannel(TCanChannel* channel) override { buffer_.SetChannel(channel); }
    TBaseError TakeError() override { return buffer_.TakeError(); }
    int Room() const override { return TCanBuffer::Size - 1 - buffer_.Pending(); }
    int Pending() const override { return buffer_.Pending(); }
    void WriteNow(const TCanFrame& frame, int64_t delay) override { buffer_.WriteNow(frame, delay); }
    bool ReportsDepartures() const override { return departures_; }
    bool TakeDeparture(TDeparture& departure) override { return buffer_.TakeDeparture(departure); }

private:
    TCanBuffer& buffer_;
    bool departures_;
};
