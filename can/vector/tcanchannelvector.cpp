#include "can/vector/tcanchannelvector.h"

#include "can/vector/tcandrivervector.h"
#include "support/tbaseerror.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr const char* kOpenOperation = "TCanChannelVector::TCanChannelVector";
constexpr const char* kCloseOperation = "TCanChannelVector::~TCanChannelVector";
// Only extended identifiers pass: bit 31 of the event's identifier must be set.
constexpr TVectorLibrary::Acceptance kExtendedOnly{0x80000000u, 0x80000000u};

} // namespace

TCanChannelVector::TCanChannelVector(const TVectorLibrary& library,
                                     TVectorLibrary::EventHandle* event, const TAString& text)
    : library_(library)
{
    try {
        Open(event, text);
    } catch (...) {
        // An opened port is not left behind; the first error is the one reported.
        if (portOpen_) library_.ClosePort(port_);
        port_ = TVectorLibrary::InvalidPort;
        throw;
    }
}

void TCanChannelVector::Open(TVectorLibrary::EventHandle* event, const TAString& text)
{
    const TCanDriverVector::TChannelId id = TCanDriverVector::DecodeChannelID(text);
    channelMask_ = initMask_ = library_.GetChannelMask(id.HwType, id.HwIndex, id.HwChannel);
    if (channelMask_ == 0) throw TBaseError(kOpenOperation, "Channel not found");
    if (!text.Word(3).IsEmpty())
        bitRate_ = text.Word(3).AsUInt32();
    else
        initMask_ = 0;

    if (library_.OpenPort(&port_, ApplicationName, channelMask_, initMask_, &permissionMask_,
                          rxQueueSize_) != TVectorLibrary::Success)
        throw TBaseError(kOpenOperation, "OpenPort failed");
    if (port_ == TVectorLibrary::InvalidPort) throw TBaseError(kOpenOperation, "INVALID_PORTHANDLE");
    portOpen_ = true;

    if (permissionMask_ != 0) {
        TVectorLibrary::ChipParams params;
        params.BitRate = bitRate_;
        params.Sjw = static_cast<uint8_t>(text.Word(4).AsWord(TAString::nmAuto, 0));
        params.Tseg1 = static_cast<uint8_t>(text.Word(5).AsWord(TAString::nmAuto, 0));
        params.Tseg2 = static_cast<uint8_t>(text.Word(6).AsWord(TAString::nmAuto, 0));
        params.Sam = text.Word(7) == "3" ? 1 : 0;
        if (library_.SetChannelParams(port_, permissionMask_, &params) != TVectorLibrary::Success)
            throw TBaseError(kOpenOperation, "ncdSetChannelParams failed");
    }

    TVectorLibrary::Acceptance acceptance = kExtendedOnly;
    if (library_.SetChannelAcceptance(port_, channelMask_, &acceptance) != TVectorLibrary::Success)
        throw TBaseError(kOpenOperation, "ncdSetChannelAcceptance failed");
    if (library_.SetNotification(port_, event, 1) != TVectorLibrary::Success)
        throw TBaseError(kOpenOperation, "ncdSetNotification failed");
    if (library_.ActivateChannel(port_, channelMask_) != TVectorLibrary::Success)
        throw TBaseError(kOpenOperation, "ncdActivateChannel failed");
    active_ = true;
}

TCanChannelVector::~TCanChannelVector()
{
    try {
        Close();
    } catch (const TBaseError&) {
        // A destructor cannot report; Close is the reporting way out.
    }
}

void TCanChannelVector::Close()
{
    if (port_ == TVectorLibrary::InvalidPort) return;
    bool deactivateFailed = false;
    if (active_) {
        deactivateFailed = library_.DeactivateChannel(port_, channelMask_) != TVectorLibrary::Success;
        active_ = false;
    }
    const bool closeFailed = library_.ClosePort(port_) != TVectorLibrary::Success;
    port_ = TVectorLibrary::InvalidPort;
    if (deactivateFailed) throw TBaseError(kCloseOperation, "ncdDeactivateChannel failed");
    if (closeFailed) throw TBaseError(kCloseOperation, "ncdClosePort failed");
}

TCanFrame TCanChannelVector::Read()
{
    TVectorLibrary::Event* event = nullptr;
    const TVectorLibrary::Status status = library_.Receive1(port_, &event);
    if (status == TVectorLibrary::QueueEmpty) return TCanFrame();
    if (status != TVectorLibrary::Success)
        throw TBaseError("TCanChannelVector::Read", "ncdReceive1:" + TAString(int32_t{status}));
    if (!event) return TCanFrame();
    TCanFrame frame;
    frame.Extended = (event->Id & TVectorLibrary::Event::ExtendedId) != 0;
    frame.Id = event->Id & ~TVectorLibrary::Event::ExtendedId;
    frame.Dlc = std::min<uint8_t>(event->Dlc, 8);
    std::memcpy(frame.Data.data(), event->Data, frame.Dlc);
    frame.Time = int64_t{event->TimeStamp} * 10;
    return frame;
}

void TCanChannelVector::Write(const TCanFrame& frame)
{
    TVectorLibrary::Event event;
    event.Tag = TVectorLibrary::Event::TransmitTag;
    event.Id = frame.Extended ? frame.Id | TVectorLibrary::Event::ExtendedId : frame.Id;
    event.Flags = 0;
    event.Dlc = frame.Dlc;
    std::memcpy(event.Data, frame.Data.data(), sizeof event.Data);
    const TVectorLibrary::Status status = library_.Transmit(port_, channelMask_, &event);
    if (status != TVectorLibrary::Success)
        throw TBaseError("TCanChannelVector::Write", "ncdTransmit:" + TAString(int32_t{status}));
}
