#pragma once
// A CAN channel on a Qt CAN bus device: SocketCAN interfaces, the virtual bus of the
// virtualcan plugin, and the other adapters that Qt's plugins reach.
//
// The text is the channel description after "QtCanBus ": plugin, interface and an
// optional bit rate in bit/s, separated by white space; further words are ignored.
//     "socketcan can0"            SocketCAN interface can0 at the bit rate it was set up with
//     "virtualcan can0"           channel can0 of the virtual bus on localhost port 35468
//     "virtualcan tcp://127.0.0.1:35500/can1"   the virtual bus on another port
//     "peakcan usb0 250000"       a PEAK adapter, set to 250000 bit/s
// The virtual bus is served by the first process on the machine that opens it; a
// process serves it only on the port of its first virtualcan channel, so all virtualcan
// channels of one process use one port. Frames written before another client has
// joined the bus reach nobody, as on a real bus.
//
// The device lives in the process's Qt CAN bus thread (TQtCanBusThread); this object
// only exchanges frames with it through a TQtCanBusPort. The constructor returns once
// the device is connected.
//
// Threads: Write on the transmit timer's thread, Read and the destructor on the window
// thread (any one thread each).

#include "can/tcanchannel.h"
#include "can/qtcanbus/tqtcanbusport.h"

#include <cstdint>
#include <functional>
#include <memory>

class TCanChannelQtCanBus : public TCanChannel {
public:
    // Microseconds on the reader's clock; stamps every frame that Read returns.
    using Clock = std::function<int64_t()>;

    // How long the constructor waits for the device to connect, and the destructor for
    // it to close.
    static constexpr int OpenTimeoutMs = 5000;
    static constexpr int CloseTimeoutMs = 2000;

    // Opens the device. Errors are TBaseError("TCanChannelQtCanBus::TCanChannelQtCanBus",
    // message), the message beginning with one of these fixed texts, followed by ": " and
    // what to do:
    //   "Description incomplete"  plugin or interface missing
    //   "Bit rate invalid"        the third word is not a whole number from 1 to 4294967295
    //   "Plugin unknown"          names the available plugins
    //   "Device not created"      the plugin could not make the device (vendor library)
    //   "Interface not found"     names the available interfaces
    //   "SocketCAN not available" the kernel has no SocketCAN
    //   "Permission denied"       the user may not use the interface
    //   "Bit rate not set"        the plugin could not set the bit rate
    //   "Connect failed"          any other reason the plugin gives
    //   "Connect timeout"         not connected within OpenTimeoutMs
    explicit TCanChannelQtCanBus(const TAString& text);
    TCanChannelQtCanBus(const TAString& text, Clock clock);
    // Disconnects and deletes the device; waits at most CloseTimeoutMs for that (the
    // Qt CAN bus thread finishes it later otherwise).
    ~TCanChannelQtCanBus() override;

    // The oldest received frame that has not been read, stamped with the clock's now;
    // a frame with Id NoFrameId when none is waiting. The first time frames were dropped
    // because the queue was full (the oldest go first), throws
    // TBaseError("TCanChannelQtCanBus::Read", "Receive queue full") instead, once; the
    // frames waiting stay for the next Read.
    TCanFrame Read() override;
    // Frames arriving from now on are not taken; those waiting stay for Read.
    void StopReceiving() override;
    // The frames dropped by a full receive queue in the whole run.
    std::optional<TBaseError> ReceiveLosses() const override;
    // Queues an extended (29-bit) data frame with all eight data bytes for the device and
    // returns; the Qt CAN bus thread sends queued frames in order. Throws
    // TBaseError("TCanChannelQtCanBus::Write", ...) with "Device error: ..." for the first
    // error that the device reported since the last Write (the frame is queued all the
    // same), and "Send queue full: ..." when the device has not taken
    // TQtCanBusPort::SendCapacity frames (the frame is not queued).
    void Write(const TCanFrame& frame) override;

    // Received frames dropped because Read did not keep up (oldest first).
    uint64_t DroppedFrames() const;

    static Clock DefaultClock();

private:
    std::shared_ptr<TQtCanBusPort> port_;
    Clock clock_;
};
