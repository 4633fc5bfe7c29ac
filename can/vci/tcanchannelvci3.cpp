#include "can/vci/tcanchannelvci3.h"

#include "can/vci/tvcibittiming.h"
#include "support/tbaseerror.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr const char* kOpenOperation = "TCanChannelVCI3::TCanChannelVCI3";
constexpr uint16_t kFifoSize = 64;
constexpr uint16_t kFifoThreshold = 32;

} // namespace

TCanChannelVCI3::TCanChannelVCI3(const TVci3Library& library, TVci3Library::Handle device,
                                 const TAString& text)
    : library_(library), device_(device)
{
    try {
        Open(text);
    } catch (...) {
        Shut();
        throw;
    }
}

void TCanChannelVCI3::Open(const TAString& text)
{
    const TVciBitTiming timing = TVciBitTiming::FromChannelText(text);
    const auto can = static_cast<uint32_t>(text.Word(2).AsWord() - 1);

    if (library_.ControlOpen(device_, can, &control_) != TVci3Library::Ok)
        throw TBaseError(kOpenOperation, "Open ctrl error");
    controlOpen_ = true;
    if (library_.ControlReset(control_) != TVci3Library::Ok)
        throw TBaseError(kOpenOperation, "Reset ctrl error");
    if (library_.ControlInitialize(control_, TVci3Library::ExtendedMode, timing.Bt0, timing.Bt1) !=
        TVci3Library::Ok)
        throw TBaseError(kOpenOperation, "Can ctl init error");
    TVci3Library::Capabilities caps;
    library_.ControlGetCaps(control_, &caps);
    if (library_.ChannelOpen(device_, can, true, &channel_) != TVci3Library::Ok)
        throw TBaseError(kOpenOperation, "Can chn open error");
    channelOpen_ = true;
    if (library_.ChannelInitialize(channel_, kFifoSize, kFifoThreshold, kFifoSize, kFifoThreshold) !=
        TVci3Library::Ok)
        throw TBaseError(kOpenOperation, "Can chn init error");
    if (library_.ChannelActivate(channel_, true) != TVci3Library::Ok)
        throw TBaseError(kOpenOperation, "Can chn act error");
    if (library_.ControlStart(control_, true) != TVci3Library::Ok)
        throw TBaseError(kOpenOperation, "Can ctl start error");
    // Without a clock frequency the stamps are taken as microseconds.
    if (caps.ClockFrequency != 0)
        tickLength_ = double(caps.TimeStampDivisor) * 1000000.0 / double(caps.ClockFrequency);
}

TCanChannelVCI3::~TCanChannelVCI3()
{
    Shut();
}

void TCanChannelVCI3::Shut()
{
    if (channelOpen_) {
        library_.ChannelActivate(channel_, false);
        library_.ChannelClose(channel_);
        channelOpen_ = false;
    }
    if (controlOpen_) {
        library_.ControlStart(control_, false);
        library_.ControlReset(control_);
        library_.ControlClose(control_);
        controlOpen_ = false;
    }
}

TCanFrame TCanChannelVCI3::Read()
{
    TVci3Library::CanMessage message;
    const TVci3Library::Status status = library_.ChannelPeekMessage(channel_, &message);
    if ((static_cast<uint32_t>(status) & 0xFFFFu) == TVci3Library::RxEmptyCode) return TCanFrame();
    if (status != TVci3Library::Ok) throw TBaseError("TCanChannelVCI::Read", "Error:" + TAString(status));
    TCanFrame frame;
    frame.Id = message.Id;
    frame.Dlc = static_cast<uint8_t>(std::min<uint32_t>((message.Info >> 16) & 0x0F, 8));
    frame.Extended = (message.Info & TVci3Library::InfoExtended) != 0;
    std::memcpy(frame.Data.data(), message.Data, frame.Dlc);
    const double micros = double(stamp_.Extend(message.Time)) * tickLength_;
    // Truncated; a time beyond what 64 bits hold stays at the largest one.
    constexpr double kLimit = 9223372036854775807.0;
    frame.Time = micros >= kLimit ? std::numeric_limits<int64_t>::max() : static_cast<int64_t>(micros);
    return frame;
}

void TCanChannelVCI3::Write(const TCanFrame& frame)
{
    TVci3Library::CanMessage message;
    message.Time = 0;
    message.Id = frame.Id;
    message.Info = (uint32_t{frame.Dlc} << 16) | (frame.Extended ? TVci3Library::InfoExtended : 0);
    std::memcpy(message.Data, frame.Data.data(), sizeof message.Data);
    for (int attempt = 0; attempt < SendAttempts; ++attempt)
        if (library_.ChannelSendMessage(channel_, 0, &message) == TVci3Library::Ok) return;
    throw TBaseError("TCanChannelVCI::Write", "Tx Error");
}
