#pragma once
// Where the run engine hands every frame it reads from the open channel: a device's
// requests and anything else the bus carries. Nothing read is dropped on the way: the
// engine reads what has arrived at every step and passes each frame on before it
// looks at it itself.
//
// Runs on the engine's (the window's) thread.

#include "fms/tcanframe.h"

class TReceivedFrameSink {
public:
    virtual ~TReceivedFrameSink() = default;

    // frame as the channel gave it, its Time replaced by the simulated time (µs) of the
    // step that read it, on the scale of the frames the run sends.
    virtual void FrameReceived(const TCanFrame& frame) = 0;

protected:
    TReceivedFrameSink() = default;
    TReceivedFrameSink(const TReceivedFrameSink&) = default;
    TReceivedFrameSink& operator=(const TReceivedFrameSink&) = default;
};
