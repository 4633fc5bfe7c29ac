// Test double of the IXXAT VCI 3 library with the C calling convention. The device
// class is read in its memory layout (Data1 32-bit, Data2 and Data3 16-bit, 8 bytes) and
// logged in its text form; the CAN message at its published offsets (time 0, identifier
// 4, message information 8, data 12..19); the capabilities written at theirs (clock
// frequency 8, time-stamp divisor 12).
//
// Answers that a test may set: "clock" and "divisor" (canControlGetCaps, defaults
// 8000000 and 8: 1 us per tick), "empty" (canChannelPeekMessage's status when nothing
// is waiting, default 0x80000012). Handles count from 101 (devices), 201 (controls) and
// 301 (channels); device identifiers are 0x1000 + instance. Built without
// canChannelClose when QV_DOUBLE_INCOMPLETE is defined, without canControlGetCaps when
// QV_DOUBLE_NO_CAPS is defined.

#include "doublecore.h"

#include <cstring>

using namespace qvdouble;

namespace {

uint32_t nextDevice = 101;
uint32_t nextControl = 201;
uint32_t nextChannel = 301;

std::string GuidText(const void* guid)
{
    const auto* bytes = static_cast<const uint8_t*>(guid);
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    std::memcpy(&data1, bytes, 4);
    std::memcpy(&data2, bytes + 4, 2);
    std::memcpy(&data3, bytes + 6, 2);
    return Format("%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", data1, data2, data3, bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
}

} // namespace

void qvdouble::RestartCounters()
{
    nextDevice = 101;
    nextControl = 201;
    nextChannel = 301;
}

#define QV_FAIL(name)                                                         \
    do {                                                                      \
        int64_t failStatus = 0;                                               \
        if (Fails(name, failStatus)) return static_cast<int32_t>(failStatus); \
    } while (0)

QV_DOUBLE_EXPORT int32_t vciInitialize()
{
    Log("vciInitialize");
    QV_FAIL("vciInitialize");
    return 0;
}

QV_DOUBLE_EXPORT int32_t vciFindDeviceByClass(const void* deviceClass, uint32_t instance, uint64_t* id)
{
    Log(Format("vciFindDeviceByClass class=%s instance=%u preset=0x%llX", GuidText(deviceClass).c_str(),
               instance, static_cast<unsigned long long>(*id)));
    QV_FAIL("vciFindDeviceByClass");
    *id = 0x1000 + instance;
    return 0;
}

QV_DOUBLE_EXPORT int32_t vciDeviceOpen(const uint64_t* id, uint32_t* device)
{
    Log(Format("vciDeviceOpen id=0x%llX", static_cast<unsigned long long>(*id)));
    QV_FAIL("vciDeviceOpen");
    *device = nextDevice++;
    return 0;
}

QV_DOUBLE_EXPORT int32_t vciDeviceClose(uint32_t device)
{
    Log(Format("vciDeviceClose device=%u", device));
    return 0;
}

QV_DOUBLE_EXPORT int32_t canControlOpen(uint32_t device, uint32_t can, uint32_t* control)
{
    Log(Format("canControlOpen device=%u can=%u", device, can));
    QV_FAIL("canControlOpen");
    *control = nextControl++;
    return 0;
}

QV_DOUBLE_EXPORT int32_t canControlReset(uint32_t control)
{
    Log(Format("canControlReset control=%u", control));
    QV_FAIL("canControlReset");
    return 0;
}

QV_DOUBLE_EXPORT int32_t canControlInitialize(uint32_t control, uint8_t mode, uint8_t bt0, uint8_t bt1)
{
    Log(Format("canControlInitialize control=%u mode=%u bt0=0x%02X bt1=0x%02X", control, mode, bt0, bt1));
    QV_FAIL("canControlInitialize");
    return 0;
}

#ifndef QV_DOUBLE_NO_CAPS
QV_DOUBLE_EXPORT int32_t canControlGetCaps(uint32_t control, void* caps)
{
    Log(Format("canControlGetCaps control=%u", control));
    const auto clock = static_cast<uint32_t>(Get("clock", 8000000));
    const auto divisor = static_cast<uint32_t>(Get("divisor", 8));
    std::memcpy(static_cast<uint8_t*>(caps) + 8, &clock, 4);
    std::memcpy(static_cast<uint8_t*>(caps) + 12, &divisor, 4);
    QV_FAIL("canControlGetCaps");
    return 0;
}
#endif

QV_DOUBLE_EXPORT int32_t canControlStart(uint32_t control, int32_t start)
{
    Log(Format("canControlStart control=%u start=%d", control, start));
    QV_FAIL("canControlStart");
    return 0;
}

QV_DOUBLE_EXPORT int32_t canControlClose(uint32_t control)
{
    Log(Format("canControlClose control=%u", control));
    return 0;
}

QV_DOUBLE_EXPORT int32_t canChannelOpen(uint32_t device, uint32_t can, int32_t exclusive, uint32_t* channel)
{
    Log(Format("canChannelOpen device=%u can=%u exclusive=%d", device, can, exclusive));
    QV_FAIL("canChannelOpen");
    *channel = nextChannel++;
    return 0;
}

QV_DOUBLE_EXPORT int32_t canChannelInitialize(uint32_t channel, uint16_t rxSize, uint16_t rxThreshold,
                                              uint16_t txSize, uint16_t txThreshold)
{
    Log(Format("canChannelInitialize channel=%u rx=%u/%u tx=%u/%u", channel, rxSize, rxThreshold, txSize,
               txThreshold));
    QV_FAIL("canChannelInitialize");
    return 0;
}

QV_DOUBLE_EXPORT int32_t canChannelActivate(uint32_t channel, int32_t activate)
{
    Log(Format("canChannelActivate channel=%u activate=%d", channel, activate));
    QV_FAIL("canChannelActivate");
    return 0;
}

QV_DOUBLE_EXPORT int32_t canChannelSendMessage(uint32_t channel, uint32_t timeout, const void* message)
{
    const auto* bytes = static_cast<const uint8_t*>(message);
    uint32_t time;
    uint32_t id;
    uint32_t info;
    std::memcpy(&time, bytes, 4);
    std::memcpy(&id, bytes + 4, 4);
    std::memcpy(&info, bytes + 8, 4);
    Log(Format("canChannelSendMessage channel=%u timeout=%u time=%u id=0x%08X info=0x%08X data=%s", channel,
               timeout, time, id, info, HexBytes(bytes + 12, 8).c_str()));
    QV_FAIL("canChannelSendMessage");
    return 0;
}

QV_DOUBLE_EXPORT int32_t canChannelPeekMessage(uint32_t channel, void* message)
{
    Log(Format("canChannelPeekMessage channel=%u", channel));
    QV_FAIL("canChannelPeekMessage");
    if (RxQueue().empty()) return static_cast<int32_t>(Get("empty", int64_t{0x80000012}));
    const TRx rx = RxQueue().front();
    RxQueue().pop_front();
    auto* bytes = static_cast<uint8_t*>(message);
    const uint32_t info = 0x00880000;
    std::memcpy(bytes, &rx.Stamp, 4);
    std::memcpy(bytes + 4, &rx.Id, 4);
    std::memcpy(bytes + 8, &info, 4);
    std::memcpy(bytes + 12, rx.Data, 8);
    return 0;
}

#ifndef QV_DOUBLE_INCOMPLETE
QV_DOUBLE_EXPORT int32_t canChannelClose(uint32_t channel)
{
    Log(Format("canChannelClose channel=%u", channel));
    return 0;
}
#endif
