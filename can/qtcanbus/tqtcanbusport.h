#pragma once
// What one QtCanBus channel shares with the Qt CAN bus thread that owns its device.
//
// Producers and consumers:
//   Send      filled by TCanChannelQtCanBus::Write (transmit timer's thread), emptied by
//             the Qt CAN bus thread, which hands the frames to the device in order;
//   Received  filled by the Qt CAN bus thread from the device's framesReceived,
//             emptied by TCanChannelQtCanBus::Read (window thread);
//   State, Failure, Error, CloseRequested  written by either side as told below.
// Every field after Mutex is guarded by it; Changed is notified whenever State changes.
// Plugin, Interface and BitRate are set before the port goes to the thread and never
// change. The port is held by shared_ptr on both sides, so the thread can finish
// closing a device after its channel is gone.

#include "fms/tcanframe.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

struct TQtCanBusPort {
    enum TState {
        psOpening,   // set by the channel; the thread makes and connects the device
        psOpen,      // the device is connected (set by the thread)
        psFailed,    // the device could not be opened; Failure says why (set by the thread)
        psClosed,    // the device is gone (set by the thread)
    };

    // Frames the window thread has not read yet; when full the oldest frame is dropped
    // (a bus with traffic that nobody reads must not fill the memory).
    static constexpr size_t ReceiveCapacity = 65536;
    // Frames the device has not taken yet; Write refuses more (a device that is stuck).
    static constexpr size_t SendCapacity = 65536;

    std::string Plugin;
    std::string Interface;
    uint32_t BitRate = 0;   // bit/s; 0 keeps the interface's own setting

    std::mutex Mutex;
    std::condition_variable Changed;
    TState State = psOpening;
    std::string Failure;             // the open error's message (psFailed)
    std::deque<TCanFrame> Send;
    std::deque<TCanFrame> Received;
    uint64_t Dropped = 0;            // received frames dropped because Received was full
    bool DropTold = false;           // the channel has told the first drop (Read)
    bool ReceiveStopped = false;     // set by the channel; the thread adds nothing to Received
    std::string Error;               // a device error that the next Write reports; "" none
    bool CloseRequested = false;     // set by the channel; the thread closes the device
};
