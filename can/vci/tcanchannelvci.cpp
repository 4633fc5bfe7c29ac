#include "can/vci/tcanchannelvci.h"

#include "can/vci/tvcibittiming.h"
#include "support/tbaseerror.h"

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
    std::memcpy(frame.Data.data(), object.Data, frame.Data.size());
    frame.Dlc = 0;
    frame.Time = static_cast<int64_t>(stamp_.Extend(object.TimeStamp) * kRxStampResolution);
    return frame;
}

void TCanChannelVCI::Write(const TCanFrame& frame)
{
    uint8_t data[8];
    std::memcpy(data, frame.Data.data(), sizeof data);
    const int result = library_.TransmitObj(static_cast<uint16_t>(board_), txQueue_, frame.Id, 8, data);
    if (result == TVci2Library::Ok) return;
    if (result == TVci2Library::TxError) throw TBaseError("TCanChannelVCI::Write", "Tx Error");
    if (result == TVci2Library::TxQueueFull) throw TBaseError("TCanChannelVCI::Write", "Send queue full");
    throw TBaseError("TCanChannelVCI::Write", "Error:" + TAString(int32_t{result}));
}
