#pragma once
// One CAN channel of an IXXAT device through the VCI 3 library: the device's
// controller of the channel's number, reset and initialised for 29-bit frames with the
// channel text's bit timing, and an exclusive message channel on it (FIFOs of 64 with
// thresholds of 32).
//
// The destructor stops and closes both. Write runs on the transmit thread, everything
// else on the window thread.

#include "can/tcanchannel.h"
#include "can/vci/tvci3library.h"
#include "can/vci/tvcitimestamp.h"
#include "support/tastring.h"

#include <cstdint>

class TCanChannelVCI3 : public TCanChannel {
public:
    static constexpr int SendAttempts = 10;

    // Sets up controller "card channel - 1" (word 2) of device. Errors, from
    // "TCanChannelVCI3::TCanChannelVCI3", in the order of the steps: "Open ctrl error",
    // "Reset ctrl error", "Can ctl init error", "Can chn open error", "Can chn init
    // error", "Can chn act error", "Can ctl start error". What a failing constructor had
    // opened is closed again.
    TCanChannelVCI3(const TVci3Library& library, TVci3Library::Handle device, const TAString& text);
    // Deactivates and closes the channel, stops, resets and closes the controller;
    // failures are ignored.
    ~TCanChannelVCI3() override;

    // One received frame (Dlc 0, Time in µs from the controller's time-stamp ticks), or
    // one with Id NoFrameId when nothing is waiting. Throws TBaseError(
    // "TCanChannelVCI::Read", "Error:" + status).
    TCanFrame Read() override;
    // Sends the frame as an extended data frame of 8 bytes, trying SendAttempts times.
    // Throws TBaseError("TCanChannelVCI::Write", "Tx Error").
    void Write(const TCanFrame& frame) override;

    TVci3Library::Handle DeviceHandle() const { return device_; }
    // Microseconds per time-stamp tick: divisor * 1000000 / clock frequency; 1 when the
    // library does not tell the clock.
    double TickLength() const { return tickLength_; }

private:
    void Open(const TAString& text);
    void Shut();

    const TVci3Library& library_;
    TVci3Library::Handle device_;
    TVci3Library::Handle control_ = 0;
    TVci3Library::Handle channel_ = 0;
    bool controlOpen_ = false;
    bool channelOpen_ = false;
    TVciTimeStamp stamp_;
    double tickLength_ = 1.0;
};
