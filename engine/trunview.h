#pragma once
// The main window as the run engine sees it.

class TRunView {
public:
    virtual ~TRunView() = default;

    // A run started or stopped: the Start/Stop caption and the 50 ms tick timer follow.
    virtual void RunStateChanged(bool running) = 0;

    // The engine changed TRunControls: SendCan unchecked after a transmit failure,
    // LogFile unchecked when the output log is gone, or new FrameWatchBits.
    virtual void ControlsChanged() = 0;

protected:
    TRunView() = default;
    TRunView(const TRunView&) = default;
    TRunView& operator=(const TRunView&) = default;
};
