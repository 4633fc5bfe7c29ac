#include "can/vector/tvectorlibrary.h"

#include <iterator>

namespace {

// The library's whole interface: a library that lacks any of these is not one we load,
// though the driver calls only some of them.
constexpr const char* kFunctions[] = {
    "ncdOpenDriver", "ncdCloseDriver", "ncdOpenPort", "ncdActivateChannel",
    "ncdSetNotification", "ncdGetErrorString", "ncdTransmit", "ncdReceive1", "ncdReceive",
    "ncdSetChannelAcceptance", "ncdDeactivateChannel", "ncdClosePort", "ncdGetChannelMask",
    "ncdSetChannelBitrate", "ncdSetChannelMode", "ncdGetApplConfig", "ncdResetClock",
    "ncdFlushReceiveQueue", "ncdGetEventString", "ncdSetApplConfig", "ncdSetChannelParamsC200",
    "ncdGetReceiveQueueLevel", "ncdSetTimerRate", "ncdGetDriverConfig", "ncdGetChannelIndex",
    "ncdSetChannelOutput", "ncdSetChannelTransceiver", "ncdSetChannelParams",
    "ncdRequestChipState", "ncdFlushTransmitQueue", "ncdGetState", "ncdGetChannelVersion",
    "ncdSetReceiveMode", "ncdAddAcceptanceRange", "ncdRemoveAcceptanceRange",
    "ncdResetAcceptance",
};
static_assert(std::size(kFunctions) == 36);

} // namespace

TVectorLibrary::TVectorLibrary(const TAString& fileName)
    : library_(fileName)
{
}

std::unique_ptr<TVectorLibrary> TVectorLibrary::Load(const TAString& fileName)
{
    std::unique_ptr<TVectorLibrary> library(new TVectorLibrary(fileName));
    if (!library->Bind()) return nullptr;
    return library;
}

bool TVectorLibrary::Bind()
{
    if (!library_.IsLoaded()) return false;
    for (const char* name : kFunctions)
        if (!library_.Has(name)) return false;
    openDriver_ = library_.Function<decltype(openDriver_)>("ncdOpenDriver");
    closeDriver_ = library_.Function<decltype(closeDriver_)>("ncdCloseDriver");
    getDriverConfig_ = library_.Function<decltype(getDriverConfig_)>("ncdGetDriverConfig");
    getChannelMask_ = library_.Function<decltype(getChannelMask_)>("ncdGetChannelMask");
    openPort_ = library_.Function<decltype(openPort_)>("ncdOpenPort");
    setChannelParams_ = library_.Function<decltype(setChannelParams_)>("ncdSetChannelParams");
    setChannelAcceptance_ =
        library_.Function<decltype(setChannelAcceptance_)>("ncdSetChannelAcceptance");
    setNotification_ = library_.Function<decltype(setNotification_)>("ncdSetNotification");
    activateChannel_ = library_.Function<decltype(activateChannel_)>("ncdActivateChannel");
    deactivateChannel_ = library_.Function<decltype(deactivateChannel_)>("ncdDeactivateChannel");
    closePort_ = library_.Function<decltype(closePort_)>("ncdClosePort");
    receive1_ = library_.Function<decltype(receive1_)>("ncdReceive1");
    transmit_ = library_.Function<decltype(transmit_)>("ncdTransmit");
    return true;
}

TVectorLibrary::Status TVectorLibrary::OpenDriver() const { return openDriver_(); }

void TVectorLibrary::CloseDriver() const { closeDriver_(); }

TVectorLibrary::Status TVectorLibrary::GetDriverConfig(int32_t* channelCount, void* buffer) const
{
    return getDriverConfig_(channelCount, buffer);
}

TVectorLibrary::Access TVectorLibrary::GetChannelMask(int32_t hwType, int32_t hwIndex,
                                                      int32_t hwChannel) const
{
    return getChannelMask_(hwType, hwIndex, hwChannel);
}

TVectorLibrary::Status TVectorLibrary::OpenPort(PortHandle* port, const char* userName,
                                                Access accessMask, Access initMask,
                                                Access* permissionMask, int32_t rxQueueSize) const
{
    return openPort_(port, userName, accessMask, initMask, permissionMask, rxQueueSize);
}

TVectorLibrary::Status TVectorLibrary::SetChannelParams(PortHandle port, Access mask,
                                                        ChipParams* params) const
{
    return setChannelParams_(port, mask, params);
}

TVectorLibrary::Status TVectorLibrary::SetChannelAcceptance(PortHandle port, Access mask,
                                                            Acceptance* acceptance) const
{
    return setChannelAcceptance_(port, mask, acceptance);
}

TVectorLibrary::Status TVectorLibrary::SetNotification(PortHandle port, EventHandle* event,
                                                       int32_t queueLevel) const
{
    return setNotification_(port, event, queueLevel);
}

TVectorLibrary::Status TVectorLibrary::ActivateChannel(PortHandle port, Access mask) const
{
    return activateChannel_(port, mask);
}

TVectorLibrary::Status TVectorLibrary::DeactivateChannel(PortHandle port, Access mask) const
{
    return deactivateChannel_(port, mask);
}

TVectorLibrary::Status TVectorLibrary::ClosePort(PortHandle port) const { return closePort_(port); }

TVectorLibrary::Status TVectorLibrary::Receive1(PortHandle port, Event** event) const
{
    return receive1_(port, event);
}

TVectorLibrary::Status TVectorLibrary::Transmit(PortHandle port, Access mask, Event* event) const
{
    return transmit_(port, mask, event);
}
