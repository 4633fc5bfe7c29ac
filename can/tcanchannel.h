#pragma once
// One open CAN channel, the only way the program reaches a CAN adapter.
//
// A channel is made and owned by its driver (TCanDriver::OpenChannel) and given back
// through the registry's or the driver's CloseChannel, which deletes it; the
// destructor closes the hardware or communication channel behind it.
//
// Threads: Write runs on the transmit timer's thread, Read and the destructor on the
// window thread. A channel takes no locks of its own; whoever holds the channel for
// the transmit thread must make sure that no Write is under way when it is closed.

#include "fms/tcanframe.h"
#include "support/tbaseerror.h"

#include <chrono>
#include <cstdint>
#include <optional>

class TCanChannel {
public:
    // The identifier of a frame that is no frame: Read found nothing waiting.
    static constexpr uint32_t NoFrameId = 0xFFFFFFFFu;

    TCanChannel() = default;
    virtual ~TCanChannel() = default;
    TCanChannel(const TCanChannel&) = delete;
    TCanChannel& operator=(const TCanChannel&) = delete;

    // One received frame, or a frame with Id NoFrameId when nothing is waiting.
    // Never blocks.
    virtual TCanFrame Read() = 0;
    // A descriptor that becomes readable when a received frame may be waiting for Read (an
    // eventfd: the reader reads its 8 bytes to reset it), so that the reader can sleep
    // until a frame comes instead of polling; -1 when the channel has none (poll Read).
    virtual int ArrivalHandle() const { return -1; }
    // Sends one frame: a 29-bit J1939 identifier and all eight data bytes.
    virtual void Write(const TCanFrame& frame) = 0;
    // Offers one frame to the medium: true once it took it, false when it cannot take
    // it now (a full transmit queue, ENOBUFS): back-pressure, the caller offers it again
    // later. Failures throw as for Write. The default is for channels whose Write takes
    // every frame or throws.
    virtual bool TryWrite(const TCanFrame& frame)
    {
        Write(frame);
        return true;
    }

    // Before the channel is closed: waits at most limit for the frames that Write has
    // taken but not yet handed to the medium, then returns how many written frames were
    // not delivered (still waiting, or refused earlier by a full queue). Called with no
    // Write under way. The default is for channels that hand every frame over within
    // Write (or report its failure there): 0 at once.
    virtual uint64_t Drain(std::chrono::milliseconds limit)
    {
        (void)limit;
        return 0;
    }

    // Closing in order: after Drain, stops taking frames from the medium; the frames already
    // taken stay for Read, which the closer calls until it finds none, so that every frame
    // the channel took reaches the program. Called on the thread that reads. The default is
    // for channels that take nothing on their own.
    virtual void StopReceiving() {}

    // The frames lost on the receiving side during the whole run (dropped by a full queue,
    // cut, invalid), as an error to show at the end; none when nothing was lost. The
    // default is for channels that lose nothing on their own.
    virtual std::optional<TBaseError> ReceiveLosses() const { return std::nullopt; }
};
