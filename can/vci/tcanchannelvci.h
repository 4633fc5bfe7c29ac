#pragma once
// One CAN channel of an IXXAT board through the VCI 2 library: the board's controller
// of the channel's number, initialised for 29-bit identifiers with the channel text's
// bit timing, a transmit queue of 100 and a receive queue of 50 objects (100 µs stamps).
//
// The board belongs to the driver; the channel itself releases nothing. Write runs on
// the transmit thread, everything else on the window thread.

#include "can/tcanchannel.h"
#include "can/vci/tvci2library.h"
#include "can/vci/tvcitimestamp.h"
#include "support/tastring.h"

#include <cstdint>

class TCanChannelVCI : public TCanChannel {
public:
    // Sets up the controller "card channel - 1" (word 2) of board. Errors, from
    // "TCanChannelVCI::TCanChannelVCI", in the order of the steps: "Init can error",
    // "SetAccMask error", "ConfigTxQueue error", "ConfigRxQueue error", "Assign error",
    // "StartCan error".
    TCanChannelVCI(const TVci2Library& library, int board, const TAString& text);
    ~TCanChannelVCI() override = default;

    // One received frame (Dlc 0, Time in µs), or one with Id NoFrameId when nothing is
    // waiting. Throws TBaseError("TCanChannelVCI::Read", "Error:" + result).
    TCanFrame Read() override;
    // Sends the frame with length 8. Throws TBaseError("TCanChannelVCI::Write", ...):
    // "Send queue full", "Tx Error", or "Error:" + result.
    void Write(const TCanFrame& frame) override;

    int BoardHandle() const { return board_; }

private:
    const TVci2Library& library_;
    int board_;
    uint16_t rxQueue_ = 0;
    uint16_t txQueue_ = 0;
    TVciTimeStamp stamp_;
};
