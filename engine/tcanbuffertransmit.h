#pragma once
// The transmit buffer (TCanBuffer) as the main tick's TCanTransmit.

#include "engine/tcanbuffer.h"
#include "engine/tcantransmit.h"

class TCanBufferTransmit final : public TCanTransmit {
public:
    explicit TCanBufferTransmit(TCanBuffer& buffer) : buffer_(buffer) {}

    void Write(const TCanFrame& frame, int64_t delay) override { buffer_.Write(frame, delay); }
    // TCanBuffer::SetChannel waits for a send in progress on the timer thread.
    void SetChannel(TCanChannel* channel) override { buffer_.SetChannel(channel); }
    TBaseError TakeError() override { return buffer_.TakeError(); }
    int Room() const override { return TCanBuffer::Size - 1 - buffer_.Pending(); }
    void WriteNow(const TCanFrame& frame, int64_t delay) override { buffer_.WriteNow(frame, delay); }
    bool ReportsDepartures() const override { return true; }
    bool TakeDeparture(TDeparture& departure) override { return buffer_.TakeDeparture(departure); }

private:
    TCanBuffer& buffer_;
};
