#pragma once
// One CAN channel of a Vector card: a port of the Vector library on the card's
// channel, with extended (29-bit) identifiers.
//
// The constructor opens and activates the port; Close (or the destructor) deactivates
// and closes it. Initialisation access is asked for only when the channel text has a
// bit rate (word 3); when the library grants it, the bit timing of words 3 to 7 is set.
// Write runs on the transmit thread, everything else on the window thread.

#include "can/tcanchannel.h"
#include "can/vector/tvectorlibrary.h"
#include "support/tastring.h"

#include <cstdint>

class TCanChannelVector : public TCanChannel {
public:
    static constexpr int32_t RxQueueSize = 1024;
    static constexpr const char* ApplicationName = "Tessmar";

    // Opens the channel described by text on library, with event as the port's
    // notification. Errors, from "TCanChannelVector::TCanChannelVector": "Channel not
    // found" (the card has no such channel: empty mask), "OpenPort failed",
    // "INVALID_PORTHANDLE", "ncdSetChannelParams failed", "ncdSetChannelAcceptance
    // failed", "ncdSetNotification failed", "ncdActivateChannel failed"; and those of
    // TCanDriverVector::DecodeChannelID. A port opened before a failing step is closed.
    TCanChannelVector(const TVectorLibrary& library, TVectorLibrary::EventHandle* event,
                      const TAString& text);
    // Close, errors not reported.
    ~TCanChannelVector() override;

    // One received frame (Dlc 0, Time in µs from the library's 10 µs stamp), or a frame
    // with Id NoFrameId when the queue is empty. Other statuses throw TBaseError(
    // "TCanChannelVector::Read", "ncdReceive1:" + status).
    TCanFrame Read() override;
    // Sends the frame with bit 31 set (extended identifier) and data length 8. Throws
    // TBaseError("TCanChannelVector::Write", "ncdTransmit:" + status).
    void Write(const TCanFrame& frame) override;

    // Deactivates the channel and closes the port (both are tried); afterwards the port
    // handle is -1 and further calls do nothing. Throws TBaseError(
    // "TCanChannelVector::~TCanChannelVector", "ncdDeactivateChannel failed" or
    // "ncdClosePort failed").
    void Close();

    TVectorLibrary::PortHandle PortHandle() const { return port_; }
    bool IsActive() const { return active_; }
    TVectorLibrary::Access InitMask() const { return initMask_; }
    TVectorLibrary::Access PermissionMask() const { return permissionMask_; }
    TVectorLibrary::Access ChannelMask() const { return channelMask_; }
    uint32_t BitRate() const { return bitRate_; }

private:
    void Open(TVectorLibrary::EventHandle* event, const TAString& text);

    const TVectorLibrary& library_;
    TVectorLibrary::PortHandle port_ = 0;
    bool active_ = false;
    bool portOpen_ = false;   // the constructor has a port to give back if it fails
    int32_t rxQueueSize_ = RxQueueSize;
    TVectorLibrary::Access initMask_ = 0;
    TVectorLibrary::Access permissionMask_ = 0;
    TVectorLibrary::Access channelMask_ = 0;
    uint32_t bitRate_ = 0;
};
