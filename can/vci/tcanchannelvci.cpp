#include "can/vci/tcanchannelvci.h"

#include "can/vci/tvcibittiming.h"
#include "support/tbaseerror.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr const char* kOpenOperation = "TCanChannelVCI::TCanChannelVCI";
constexpr uint16_t kTxQueueSize = 100;
constexpr uint16_t kRxQueueSize = 50;
constexpr uint16_t kRxStampResolution = 100;   // µs per time-stamp tick

} // namespace

TCanChannelVCI::TCanChannelVCI(const TVci2Library& library, int board, const TAString& text)
    : library_(library), board_(board)
{
    const TVciBitTiming timing = TVciBitTiming::FromChannelText(text);
    const auto can = static_cast<uint8_t>(text.Word(2).AsWord() - 1);
    const auto handle = static_cast<uint16_t>(board_);

    if (library_.InitCan(handle, can, timing.Bt0, timing.Bt1, TVci2Library::ExtendedMode) != TVci2Library::Ok)
        throw TBaseError(kOpenOperation, "Init can error");
    if (library_.SetAccMask(handle, can, 0, 0) != TVci2Library::Ok)
        throw TBaseError(kOpenOperation, "SetAccMask error");
    if (library_.ConfigQueue(handle, can, TVci2Library::TxQueue, kTxQueueSize, 0, 0, 0, &txQueue_) !=
        TVci2Library::Ok)
        throw TBaseError(kOpenOperation, "ConfigTxQueue error");
    if (library_.ConfigQueue(handle, can, TVci2Library::RxQueue, kRxQueueSize, 0, 0,
                             kRxStampResolution, &rxQueue_) != TVci2Library::Ok)
        throw TBaseError(kOpenOperation, "ConfigRxQueue error");
    if (library_.AssignRxQueObj(handle, rxQueue_, 1, 0, 0) != TVci2Library::Ok)
        throw TBaseError(kOpenOperation, "Assign error");
    if (library_.StartCan(handle, can) != TVci2Library::Ok)
        throw TBaseError(kOpenOperation, "StartCan error");
}

TCanFrame TCanChannelVCI::Read()
{
    TVci2Library::ReceiveObject object;
    const int result = library_.ReadQueObj(static_cast<uint16_t>(board_), rxQueue_, 1, &object);
    if (result < 0) throw TBaseError("TCanChannelVCI::Read", "Error:" + TAString(int32_t{result}));
    if (result == 0) return TCanFrame();
    TCanFrame frame;
    frame.Id = object.Id;
    // The controller runs in 29-bit mode: every frame it receives is extended.
    frame.Dlc = static_cast<uint8_t>(std::min(object.LengthAndRtr & 0x0F, 8));
    std::memcpy(frame.Data.data(), object.Data, frame.Dlc);
    frame.Time = static_cast<int64_t>(stamp_.Extend(object.TimeStamp) * kRxStampResolution);
    return frame;
}

void TCanChannelVCI::Write(const TCanFrame& frame)
{
    uint8_t data[8];
    std::memcpy(data, frame.Data.data(), sizeof data);
    // The controller is opened in 29-bit mode: it cannot put an 11-bit identifier on the bus.
    if (!frame.Extended)
        throw TBaseError("TCanChannelVCI::Write", "Tx Error",
                         "an 11-bit identifier " + TAString::Hex16(static_cast<uint16_t>(frame.Id)) +
                             " cannot be sent: the VCI 2 channel runs with 29-bit identifiers");
    const int result = library_.TransmitObj(static_cast<uint16_t>(board_), txQueue_, frame.Id, frame.Dlc, data);
    if (result == TVci2Library::Ok) return;
    if (result == TVci2Library::TxError) throw TBaseError("TCanChannelVCI::Write", "Tx Error");
    if (result == TVci2Library::TxQueueFull) throw TBaseError("TCanChannelVCI::Write", "Send queue full");
    throw TBaseError("TCanChannelVCI::Write", "Error:" + TAString(int32_t{result}));
}
