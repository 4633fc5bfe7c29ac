#pragma once
// Binding to the IXXAT VCI version 3 library ("vcinpl.dll"), C calling convention.
//
// Load() finds the library by file name or full path and looks up its functions;
// canControlGetCaps is optional, the others are required. Every call of the VCI 3
// driver into the library goes through this class; the library is unloaded when the
// object goes away. Every function returns a status, 0 for success.

#include "can/vector/tsharedlibrary.h"
#include "support/tastring.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class TVci3Library {
public:
    using Status = int32_t;
    using Handle = uint32_t;
    using DeviceId = uint64_t;

    static constexpr Status Ok = 0;
    // The low 16 bits of canChannelPeekMessage's status when nothing is waiting.
    static constexpr uint16_t RxEmptyCode = 18;
    static constexpr uint8_t ExtendedMode = 2;              // canControlInitialize: 29-bit frames
    static constexpr uint32_t DataFrame8Extended = 0x00880000u;   // message info: data frame,
                                                            // length 8, extended identifier
    // Message info: the length is bits 16..19, bit 23 marks an extended identifier.
    static constexpr uint32_t InfoExtended = 0x00800000u;

    // A device class identifier in its memory layout (little-endian fields).
    struct Guid {
        uint32_t Data1 = 0;
        uint16_t Data2 = 0;
        uint16_t Data3 = 0;
        uint8_t Data4[8] = {};

        // From the text form "E7752D2E-28A3-4318-AF0C-02C756FBC25A".
        static constexpr Guid FromText(const char* text);
        friend bool operator==(const Guid&, const Guid&) = default;
    };

    struct CanMessage {
        uint32_t Time = 0;   // time-stamp ticks
        uint32_t Id = 0;
        uint32_t Info = 0;
        uint8_t Data[8] = {};
    };

    struct Capabilities {
        uint16_t ControllerType = 0;
        uint16_t BusCoupling = 0;
        uint32_t Features = 0;
        uint32_t ClockFrequency = 0;     // Hz
        uint32_t TimeStampDivisor = 0;   // clock ticks per time-stamp tick
        uint32_t Reserved[4] = {};
    };

    enum class TLoad { Loaded, NotFound, FunctionMissing };

    // The loaded library, or null with result NotFound or FunctionMissing.
    static std::unique_ptr<TVci3Library> Load(const TAString& fileName, TLoad& result);

    Status Initialize() const;
    Status FindDeviceByClass(const Guid& deviceClass, uint32_t instance, DeviceId* id) const;
    Status DeviceOpen(const DeviceId& id, Handle* device) const;
    Status DeviceClose(Handle device) const;
    Status ControlOpen(Handle device, uint32_t canNumber, Handle* control) const;
    Status ControlReset(Handle control) const;
    Status ControlInitialize(Handle control, uint8_t mode, uint8_t bt0, uint8_t bt1) const;
    // False when the library has no canControlGetCaps; its status is of no interest.
    bool ControlGetCaps(Handle control, Capabilities* caps) const;
    Status ControlStart(Handle control, bool start) const;
    Status ControlClose(Handle control) const;
    Status ChannelOpen(Handle device, uint32_t canNumber, bool exclusive, Handle* channel) const;
    Status ChannelInitialize(Handle channel, uint16_t rxFifoSize, uint16_t rxThreshold,
                             uint16_t txFifoSize, uint16_t txThreshold) const;
    Status ChannelActivate(Handle channel, bool activate) const;
    Status ChannelSendMessage(Handle channel, uint32_t timeoutMs, const CanMessage* message) const;
    Status ChannelPeekMessage(Handle channel, CanMessage* message) const;
    Status ChannelClose(Handle channel) const;

    TVci3Library(const TVci3Library&) = delete;
    TVci3Library& operator=(const TVci3Library&) = delete;

private:
    explicit TVci3Library(const TAString& fileName);
    TLoad Bind();

    TSharedLibrary library_;
    Status (*initialize_)() = nullptr;
    Status (*findDeviceByClass_)(const Guid*, uint32_t, DeviceId*) = nullptr;
    Status (*deviceOpen_)(const DeviceId*, Handle*) = nullptr;
    Status (*deviceClose_)(Handle) = nullptr;
    Status (*controlOpen_)(Handle, uint32_t, Handle*) = nullptr;
    Status (*controlReset_)(Handle) = nullptr;
    Status (*controlInitialize_)(Handle, uint8_t, uint8_t, uint8_t) = nullptr;
    Status (*controlGetCaps_)(Handle, Capabilities*) = nullptr;
    Status (*controlStart_)(Handle, int32_t) = nullptr;
    Status (*controlClose_)(Handle) = nullptr;
    Status (*channelOpen_)(Handle, uint32_t, int32_t, Handle*) = nullptr;
    Status (*channelInitialize_)(Handle, uint16_t, uint16_t, uint16_t, uint16_t) = nullptr;
    Status (*channelActivate_)(Handle, int32_t) = nullptr;
    Status (*channelSendMessage_)(Handle, uint32_t, const CanMessage*) = nullptr;
    Status (*channelPeekMessage_)(Handle, CanMessage*) = nullptr;
    Status (*channelClose_)(Handle) = nullptr;
};

constexpr TVci3Library::Guid TVci3Library::Guid::FromText(const char* text)
{
    // Hex digits of the text in order, dashes skipped: 8, 4, 4, then 8 bytes.
    auto digit = [](char c) -> uint32_t {
        return c >= '0' && c <= '9' ? uint32_t(c - '0')
             : c >= 'A' && c <= 'F' ? uint32_t(c - 'A' + 10)
             : c >= 'a' && c <= 'f' ? uint32_t(c - 'a' + 10)
                                    : throw "not a hex digit";
    };
    int pos = 0;
    auto next = [&](int digits) {
        uint32_t value = 0;
        for (int i = 0; i < digits; ++i) {
            if (text[pos] == '-') ++pos;
            value = value * 16 + digit(text[pos++]);
        }
        return value;
    };
    Guid guid;
    guid.Data1 = next(8);
    guid.Data2 = static_cast<uint16_t>(next(4));
    guid.Data3 = static_cast<uint16_t>(next(4));
    for (uint8_t& byte : guid.Data4) byte = static_cast<uint8_t>(next(2));
    return guid;
}

static_assert(sizeof(TVci3Library::Guid) == 16);
static_assert(offsetof(TVci3Library::Guid, Data4) == 8);
static_assert(offsetof(TVci3Library::CanMessage, Time) == 0);
static_assert(offsetof(TVci3Library::CanMessage, Id) == 4);
static_assert(offsetof(TVci3Library::CanMessage, Info) == 8);
static_assert(offsetof(TVci3Library::CanMessage, Data) == 12);
static_assert(sizeof(TVci3Library::CanMessage) == 20);
static_assert(offsetof(TVci3Library::Capabilities, ClockFrequency) == 8);
static_assert(offsetof(TVci3Library::Capabilities, TimeStampDivisor) == 12);
