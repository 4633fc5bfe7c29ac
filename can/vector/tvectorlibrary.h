#pragma once
// Binding to the Vector CAN driver library (the "ncd" functions, C calling convention).
//
// Load() finds the library by file name or full path and looks up all 36 functions of
// its interface; a library without one of them counts as not loadable. Every call of
// the Vector driver into the library goes through this class; the library is unloaded
// when the object goes away. Every function returns a 16-bit status, 0 for success.

#include "can/vector/tsharedlibrary.h"
#include "support/tastring.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class TVectorLibrary {
public:
    using Status = int16_t;
    using PortHandle = int32_t;
    using Access = uint32_t;       // channel mask, one bit per channel of the driver
    using EventHandle = int;       // notification event (an eventfd on Linux)

    static constexpr Status Success = 0;
    static constexpr Status QueueEmpty = 10;       // ncdReceive1: nothing waiting
    static constexpr PortHandle InvalidPort = -1;
    static constexpr int DriverConfigBytesPerChannel = 91;

    // The library's event record as far as the program reads and fills it.
    struct Event {
        static constexpr uint8_t TransmitTag = 10;
        static constexpr uint32_t ExtendedId = 0x80000000u;   // bit 31 of Id

        uint8_t Tag = 0;
        uint8_t ChanIndex = 0;
        uint8_t TransId = 0;
        uint8_t PortIndex = 0;
        uint32_t TimeStamp = 0;   // units of 10 µs
        uint32_t Id = 0;
        uint8_t Flags = 0;
        uint8_t Dlc = 0;
        uint8_t Data[8] = {};
        uint8_t Reserved[10] = {};   // further fields of other event kinds
    };

    // Bit timing handed to ncdSetChannelParams; 8 bytes.
    struct ChipParams {
        uint32_t BitRate = 0;   // bit/s
        uint8_t Sjw = 0;
        uint8_t Tseg1 = 0;
        uint8_t Tseg2 = 0;
        uint8_t Sam = 0;        // 1: three samples per bit
    };

    // Acceptance filter of ncdSetChannelAcceptance: a frame passes when its identifier
    // matches Code in the bits set in Mask.
    struct Acceptance {
        uint32_t Code = 0;
        uint32_t Mask = 0;
    };

    // The loaded library, or null when the file cannot be loaded or lacks a function.
    static std::unique_ptr<TVectorLibrary> Load(const TAString& fileName);

    Status OpenDriver() const;
    void CloseDriver() const;
    // buffer null: only the channel count is asked for.
    Status GetDriverConfig(int32_t* channelCount, void* buffer) const;
    Access GetChannelMask(int32_t hwType, int32_t hwIndex, int32_t hwChannel) const;
    Status OpenPort(PortHandle* port, const char* userName, Access accessMask, Access initMask,
                    Access* permissionMask, int32_t rxQueueSize) const;
    Status SetChannelParams(PortHandle port, Access mask, ChipParams* params) const;
    Status SetChannelAcceptance(PortHandle port, Access mask, Acceptance* acceptance) const;
    Status SetNotification(PortHandle port, EventHandle* event, int32_t queueLevel) const;
    Status ActivateChannel(PortHandle port, Access mask) const;
    Status DeactivateChannel(PortHandle port, Access mask) const;
    Status ClosePort(PortHandle port) const;
    // *event points into the library's memory until the next receive on the port.
    Status Receive1(PortHandle port, Event** event) const;
    Status Transmit(PortHandle port, Access mask, Event* event) const;

    TVectorLibrary(const TVectorLibrary&) = delete;
    TVectorLibrary& operator=(const TVectorLibrary&) = delete;

private:
    explicit TVectorLibrary(const TAString& fileName);
    bool Bind();

    TSharedLibrary library_;
    Status (*openDriver_)() = nullptr;
    Status (*closeDriver_)() = nullptr;
    Status (*getDriverConfig_)(int32_t*, void*) = nullptr;
    Access (*getChannelMask_)(int32_t, int32_t, int32_t) = nullptr;
    Status (*openPort_)(PortHandle*, const char*, Access, Access, Access*, int32_t) = nullptr;
    Status (*setChannelParams_)(PortHandle, Access, ChipParams*) = nullptr;
    Status (*setChannelAcceptance_)(PortHandle, Access, Acceptance*) = nullptr;
    Status (*setNotification_)(PortHandle, EventHandle*, int32_t) = nullptr;
    Status (*activateChannel_)(PortHandle, Access) = nullptr;
    Status (*deactivateChannel_)(PortHandle, Access) = nullptr;
    Status (*closePort_)(PortHandle) = nullptr;
    Status (*receive1_)(PortHandle, Event**) = nullptr;
    Status (*transmit_)(PortHandle, Access, Event*) = nullptr;
};

// The byte layout the library shares with us.
static_assert(offsetof(TVectorLibrary::Event, Tag) == 0);
static_assert(offsetof(TVectorLibrary::Event, TimeStamp) == 4);
static_assert(offsetof(TVectorLibrary::Event, Id) == 8);
static_assert(offsetof(TVectorLibrary::Event, Flags) == 12);
static_assert(offsetof(TVectorLibrary::Event, Dlc) == 13);
static_assert(offsetof(TVectorLibrary::Event, Data) == 14);
static_assert(sizeof(TVectorLibrary::Event) == 32);
static_assert(offsetof(TVectorLibrary::ChipParams, BitRate) == 0);
static_assert(offsetof(TVectorLibrary::ChipParams, Sjw) == 4);
static_assert(offsetof(TVectorLibrary::ChipParams, Tseg1) == 5);
static_assert(offsetof(TVectorLibrary::ChipParams, Tseg2) == 6);
static_assert(offsetof(TVectorLibrary::ChipParams, Sam) == 7);
static_assert(sizeof(TVectorLibrary::ChipParams) == 8);
static_assert(offsetof(TVectorLibrary::Acceptance, Mask) == 4);
static_assert(sizeof(TVectorLibrary::Acceptance) == 8);
