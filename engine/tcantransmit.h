#pragma once
// Where the main tick hands the frames meant for the CAN adapter: a buffer that sends
// each frame at its due time from another thread, and the channel it sends to.
// TCanBufferTransmit puts the transmit buffer behind it; tests record what arrives.

#include "fms/tcanframe.h"
#include "support/tbaseerror.h"

#include <cstdint>
#include <limits>

class TCanChannel;

class TCanTransmit {
public:
    virtual ~TCanTransmit() = default;

    // Queues frame to be sent at frame.Time + delay (µs on the time source's scale).
    // May throw TBaseError: "write error" when the buffer is full, or an error that the
    // sending thread recorded since the last Write.
    virtual void Write(const TCanFrame& frame, int64_t delay) = 0;

    // Makes channel (nullptr: none) the one frames are sent to. When this returns, no
    // send on the previous channel is in progress or will start, so it may be closed.
    virtual void SetChannel(TCanChannel* channel) = 0;

    // The error the sending thread recorded that no Write has thrown yet, taken out (an
    // error with empty texts when there is none).
    virtual TBaseError TakeError() { return TBaseError(); }

    // How many frames Write takes now without refusing one: the main tick holds the
    // rest back (they leave later, as the medium takes them) instead of overflowing.
    virtual int Room() const { return std::numeric_limits<int>::max(); }
    // Frames written that have not left yet (or been discarded): 0 for a transmit side
    // where a frame is gone once written.
    virtual int Pending() const { return 0; }

    // As Write for a frame that goes out as soon as the medium takes it, ahead of the
    // frames waiting for their due time (an answer to a request). The default writes it
    // as any other frame.
    virtual void WriteNow(const TCanFrame& frame, int64_t delay) { Write(frame, delay); }

    // A frame the medium accepted: Frame as written (its Time the run's), Due and
    // Departure on the time source's scale (Departure: when the channel took it), Now
    // for a frame of WriteNow.
    struct TDeparture {
        TCanFrame Frame;
        int64_t Due = 0;
        int64_t Departure = 0;
        bool Now = false;
    };
    // Whether frames leave later on another thread and TakeDeparture tells when each one
    // was taken by the medium. Otherwise a frame counts as gone once Write returned.
    virtual bool ReportsDepartures() const { return false; }
    // The oldest departure not taken yet; false when there is none.
    virtual bool TakeDeparture(TDeparture& departure)
    {
        (void)departure;
        return false;
    }

protected:
    TCanTransmit() = default;
    TCanTransmit(const TCanTransmit&) = default;
    TCanTransmit& operator=(const TCanTransmit&) = default;
};
