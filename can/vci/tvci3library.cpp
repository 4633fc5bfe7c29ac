#include "can/vci/tvci3library.h"

TVci3Library::TVci3Library(const TAString& fileName)
    : library_(fileName)
{
}

std::unique_ptr<TVci3Library> TVci3Library::Load(const TAString& fileName, TLoad& result)
{
    std::unique_ptr<TVci3Library> library(new TVci3Library(fileName));
    result = library->Bind();
    if (result != TLoad::Loaded) return nullptr;
    return library;
}

TVci3Library::TLoad TVci3Library::Bind()
{
    if (!library_.IsLoaded()) return TLoad::NotFound;
    initialize_ = library_.Function<decltype(initialize_)>("vciInitialize");
    findDeviceByClass_ = library_.Function<decltype(findDeviceByClass_)>("vciFindDeviceByClass");
    deviceOpen_ = library_.Function<decltype(deviceOpen_)>("vciDeviceOpen");
    deviceClose_ = library_.Function<decltype(deviceClose_)>("vciDeviceClose");
    controlOpen_ = library_.Function<decltype(controlOpen_)>("canControlOpen");
    controlReset_ = library_.Function<decltype(controlReset_)>("canControlReset");
    controlInitialize_ = library_.Function<decltype(controlInitialize_)>("canControlInitialize");
    controlGetCaps_ = library_.Function<decltype(controlGetCaps_)>("canControlGetCaps");
    controlStart_ = library_.Function<decltype(controlStart_)>("canControlStart");
    controlClose_ = library_.Function<decltype(controlClose_)>("canControlClose");
    channelOpen_ = library_.Function<decltype(channelOpen_)>("canChannelOpen");
    channelInitialize_ = library_.Function<decltype(channelInitialize_)>("canChannelInitialize");
    channelActivate_ = library_.Function<decltype(channelActivate_)>("canChannelActivate");
    channelSendMessage_ = library_.Function<decltype(channelSendMessage_)>("canChannelSendMessage");
    channelPeekMessage_ = library_.Function<decltype(channelPeekMessage_)>("canChannelPeekMessage");
    channelClose_ = library_.Function<decltype(channelClose_)>("canChannelClose");
    const bool complete = initialize_ && findDeviceByClass_ && deviceOpen_ && deviceClose_ &&
                          controlOpen_ && controlReset_ && controlInitialize_ && controlStart_ &&
                          controlClose_ && channelOpen_ && channelInitialize_ && channelActivate_ &&
                          channelSendMessage_ && channelPeekMessage_ && channelClose_;
    return complete ? TLoad::Loaded : TLoad::FunctionMissing;
}

TVci3Library::Status TVci3Library::Initialize() const { return initialize_(); }

TVci3Library::Status TVci3Library::FindDeviceByClass(const Guid& deviceClass, uint32_t instance,
                                                     DeviceId* id) const
{
    return findDeviceByClass_(&deviceClass, instance, id);
}

TVci3Library::Status TVci3Library::DeviceOpen(const DeviceId& id, Handle* device) const
{
    return deviceOpen_(&id, device);
}

TVci3Library::Status TVci3Library::DeviceClose(Handle device) const { return deviceClose_(device); }

TVci3Library::Status TVci3Library::ControlOpen(Handle device, uint32_t canNumber, Handle* control) const
{
    return controlOpen_(device, canNumber, control);
}

TVci3Library::Status TVci3Library::ControlReset(Handle control) const { return controlReset_(control); }

TVci3Library::Status TVci3Library::ControlInitialize(Handle control, uint8_t mode, uint8_t bt0,
                                                     uint8_t bt1) const
{
    return controlInitialize_(control, mode, bt0, bt1);
}

bool TVci3Library::ControlGetCaps(Handle control, Capabilities* caps) const
{
    if (!controlGetCaps_) return false;
    controlGetCaps_(control, caps);
    return true;
}

TVci3Library::Status TVci3Library::ControlStart(Handle control, bool start) const
{
    return controlStart_(control, start ? 1 : 0);
}

TVci3Library::Status TVci3Library::ControlClose(Handle control) const { return controlClose_(control); }

TVci3Library::Status TVci3Library::ChannelOpen(Handle device, uint32_t canNumber, bool exclusive,
                                               Handle* channel) const
{
    return channelOpen_(device, canNumber, exclusive ? 1 : 0, channel);
}

TVci3Library::Status TVci3Library::ChannelInitialize(Handle channel, uint16_t rxFifoSize,
                                                     uint16_t rxThreshold, uint16_t txFifoSize,
                                                     uint16_t txThreshold) const
{
    return channelInitialize_(channel, rxFifoSize, rxThreshold, txFifoSize, txThreshold);
}

TVci3Library::Status TVci3Library::ChannelActivate(Handle channel, bool activate) const
{
    return channelActivate_(channel, activate ? 1 : 0);
}

TVci3Library::Status TVci3Library::ChannelSendMessage(Handle channel, uint32_t timeoutMs,
                                                      const CanMessage* message) const
{
    return channelSendMessage_(channel, timeoutMs, message);
}

TVci3Library::Status TVci3Library::ChannelPeekMessage(Handle channel, CanMessage* message) const
{
    return channelPeekMessage_(channel, message);
}

TVci3Library::Status TVci3Library::ChannelClose(Handle channel) const { return channelClose_(channel); }
