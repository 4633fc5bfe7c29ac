// Test double of the Vector CAN driver library: the 36 "ncd" functions with the C
// calling convention. Records are read and written at their published byte offsets
// (event: tag 0, time stamp 4, identifier 8, flags 12, length 13, data 14..21; chip
// parameters: bit rate 0, sjw 4, tseg1 5, tseg2 6, sam 7; acceptance: code 0, mask 4).
//
// Answers that a test may set: "channelCount" (ncdGetDriverConfig, default 2),
// "channelMask" (ncdGetChannelMask; default 1 << (2 * index + channel)), "port"
// (ncdOpenPort's handle; default 1, 2, ... per open), "permission" (ncdOpenPort's
// permission mask; default the init mask asked for). ncdReceive1 answers the frames
// queued with QvDoublePushRx, then status 10. Built without ncdSetTimerRate when
// QV_DOUBLE_INCOMPLETE is defined.

#include "doublecore.h"

#include <cstring>

using namespace qvdouble;

namespace {

uint32_t U32At(const void* record, int offset)
{
    uint32_t value;
    std::memcpy(&value, static_cast<const uint8_t*>(record) + offset, sizeof value);
    return value;
}

uint8_t U8At(const void* record, int offset) { return static_cast<const uint8_t*>(record)[offset]; }

int32_t nextPort = 1;
uint8_t receivedEvent[32];

} // namespace

#define QV_FAIL(name)                              \
    do {                                           \
        int64_t failStatus = 0;                    \
        if (Fails(name, failStatus)) return static_cast<int16_t>(failStatus); \
    } while (0)

void qvdouble::RestartCounters() { nextPort = 1; }

QV_DOUBLE_EXPORT int16_t ncdOpenDriver()
{
    Log("ncdOpenDriver");
    nextPort = 1;
    QV_FAIL("ncdOpenDriver");
    return 0;
}

QV_DOUBLE_EXPORT int16_t ncdCloseDriver()
{
    Log("ncdCloseDriver");
    return 0;
}

QV_DOUBLE_EXPORT int16_t ncdGetDriverConfig(int32_t* count, void* buffer)
{
    Log(Format("ncdGetDriverConfig count=%d buffer=%s", *count, buffer ? "given" : "none"));
    QV_FAIL("ncdGetDriverConfig");
    *count = static_cast<int32_t>(Get("channelCount", 2));
    return 0;
}

QV_DOUBLE_EXPORT uint32_t ncdGetChannelMask(int32_t hwType, int32_t hwIndex, int32_t hwChannel)
{
    Log(Format("ncdGetChannelMask type=%d index=%d channel=%d", hwType, hwIndex, hwChannel));
    const int shift = 2 * hwIndex + hwChannel;
    return static_cast<uint32_t>(
        Get("channelMask", shift >= 0 && shift < 32 ? int64_t{1} << shift : 0));
}

QV_DOUBLE_EXPORT int16_t ncdOpenPort(int32_t* port, const char* name, uint32_t access,
                                     uint32_t init, uint32_t* permission, int32_t rxQueueSize)
{
    Log(Format("ncdOpenPort name=%s access=0x%X init=0x%X rxQueue=%d", name, access, init,
               rxQueueSize));
    QV_FAIL("ncdOpenPort");
    *port = static_cast<int32_t>(Get("port", nextPort++));
    *permission = static_cast<uint32_t>(Get("permission", init));
    return 0;
}

QV_DOUBLE_EXPORT int16_t ncdSetChannelParams(int32_t port, uint32_t mask, const void* params)
{
    Log(Format("ncdSetChannelParams port=%d mask=0x%X bitrate=%u sjw=%u tseg1=%u tseg2=%u sam=%u",
               port, mask, U32At(params, 0), U8At(params, 4), U8At(params, 5), U8At(params, 6),
               U8At(params, 7)));
    QV_FAIL("ncdSetChannelParams");
    return 0;
}

QV_DOUBLE_EXPORT int16_t ncdSetChannelAcceptance(int32_t port, uint32_t mask, const void* acceptance)
{
    Log(Format("ncdSetChannelAcceptance port=%d mask=0x%X code=0x%X accmask=0x%X", port, mask,
               U32At(acceptance, 0), U32At(acceptance, 4)));
    QV_FAIL("ncdSetChannelAcceptance");
    return 0;
}

QV_DOUBLE_EXPORT int16_t ncdSetNotification(int32_t port, const int* event, int32_t queueLevel)
{
    Log(Format("ncdSetNotification port=%d event=%s level=%d", port,
               event && *event >= 0 ? "valid" : "invalid", queueLevel));
    QV_FAIL("ncdSetNotification");
    return 0;
}

QV_DOUBLE_EXPORT int16_t ncdActivateChannel(int32_t port, uint32_t mask)
{
    Log(Format("ncdActivateChannel port=%d mask=0x%X", port, mask));
    QV_FAIL("ncdActivateChannel");
    return 0;
}

QV_DOUBLE_EXPORT int16_t ncdDeactivateChannel(int32_t port, uint32_t mask)
{
    Log(Format("ncdDeactivateChannel port=%d mask=0x%X", port, mask));
    QV_FAIL("ncdDeactivateChannel");
    return 0;
}

QV_DOUBLE_EXPORT int16_t ncdClosePort(int32_t port)
{
    Log(Format("ncdClosePort port=%d", port));
    QV_FAIL("ncdClosePort");
    return 0;
}

QV_DOUBLE_EXPORT int16_t ncdReceive1(int32_t port, void** event)
{
    Log(Format("ncdReceive1 port=%d", port));
    QV_FAIL("ncdReceive1");
    if (RxQueue().empty()) return 10;
    const TRx rx = RxQueue().front();
    RxQueue().pop_front();
    std::memset(receivedEvent, 0, sizeof receivedEvent);
    receivedEvent[0] = 1;   // receive tag
    std::memcpy(receivedEvent + 4, &rx.Stamp, 4);
    std::memcpy(receivedEvent + 8, &rx.Id, 4);
    receivedEvent[13] = 8;
    std::memcpy(receivedEvent + 14, rx.Data, 8);
    *event = receivedEvent;
    return 0;
}

QV_DOUBLE_EXPORT int16_t ncdTransmit(int32_t port, uint32_t mask, const void* event)
{
    Log(Format("ncdTransmit port=%d mask=0x%X tag=%u id=0x%08X flags=%u dlc=%u data=%s", port,
               mask, U8At(event, 0), U32At(event, 8), U8At(event, 12), U8At(event, 13),
               HexBytes(static_cast<const uint8_t*>(event) + 14, 8).c_str()));
    QV_FAIL("ncdTransmit");
    return 0;
}

// The rest of the interface: present, but the program is not to call it.
#define QV_UNUSED(name)                     \
    QV_DOUBLE_EXPORT int16_t name()         \
    {                                       \
        Log(#name " (not expected)");       \
        return 0;                           \
    }

QV_UNUSED(ncdGetErrorString)
QV_UNUSED(ncdReceive)
QV_UNUSED(ncdSetChannelBitrate)
QV_UNUSED(ncdSetChannelMode)
QV_UNUSED(ncdGetApplConfig)
QV_UNUSED(ncdResetClock)
QV_UNUSED(ncdFlushReceiveQueue)
QV_UNUSED(ncdGetEventString)
QV_UNUSED(ncdSetApplConfig)
QV_UNUSED(ncdSetChannelParamsC200)
QV_UNUSED(ncdGetReceiveQueueLevel)
#ifndef QV_DOUBLE_INCOMPLETE
QV_UNUSED(ncdSetTimerRate)
#endif
QV_UNUSED(ncdGetChannelIndex)
QV_UNUSED(ncdSetChannelOutput)
QV_UNUSED(ncdSetChannelTransceiver)
QV_UNUSED(ncdRequestChipState)
QV_UNUSED(ncdFlushTransmitQueue)
QV_UNUSED(ncdGetState)
QV_UNUSED(ncdGetChannelVersion)
QV_UNUSED(ncdSetReceiveMode)
QV_UNUSED(ncdAddAcceptanceRange)
QV_UNUSED(ncdRemoveAcceptanceRange)
QV_UNUSED(ncdResetAcceptance)
