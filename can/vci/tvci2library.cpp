#include "can/vci/tvci2library.h"

#include <iterator>

namespace {

constexpr const char* kFunctions[] = {
    "VCI2_PrepareBoard", "VCI_Get_LibType", "VCI_GetBrdTypeInfo", "VCI_CancelBoard",
    "VCI_InitCan", "VCI_SetAccMask", "VCI_StartCan", "VCI_ConfigQueue", "VCI_AssignRxQueObj",
    "VCI_ReadQueStatus", "VCI_ReadQueObj", "VCI_TransmitObj", "VCI_ReadBoardInfo",
};
static_assert(std::size(kFunctions) == 13);

} // namespace

TVci2Library::TVci2Library(const TAString& fileName)
    : library_(fileName)
{
}

std::unique_ptr<TVci2Library> TVci2Library::Load(const TAString& fileName)
{
    std::unique_ptr<TVci2Library> library(new TVci2Library(fileName));
    if (!library->Bind()) return nullptr;
    return library;
}

bool TVci2Library::Bind()
{
    if (!library_.IsLoaded()) return false;
    for (const char* name : kFunctions)
        if (!library_.Has(name)) return false;
    prepareBoard_ = library_.Function<decltype(prepareBoard_)>("VCI2_PrepareBoard");
    cancelBoard_ = library_.Function<decltype(cancelBoard_)>("VCI_CancelBoard");
    initCan_ = library_.Function<decltype(initCan_)>("VCI_InitCan");
    setAccMask_ = library_.Function<decltype(setAccMask_)>("VCI_SetAccMask");
    configQueue_ = library_.Function<decltype(configQueue_)>("VCI_ConfigQueue");
    assignRxQueObj_ = library_.Function<decltype(assignRxQueObj_)>("VCI_AssignRxQueObj");
    startCan_ = library_.Function<decltype(startCan_)>("VCI_StartCan");
    readQueObj_ = library_.Function<decltype(readQueObj_)>("VCI_ReadQueObj");
    transmitObj_ = library_.Function<decltype(transmitObj_)>("VCI_TransmitObj");
    return true;
}

int TVci2Library::PrepareBoard(uint16_t boardType, uint16_t boardIndex) const
{
    return prepareBoard_(boardType, boardIndex, nullptr, 0, nullptr, nullptr, nullptr);
}

int TVci2Library::CancelBoard(uint16_t board) const { return cancelBoard_(board); }

int TVci2Library::InitCan(uint16_t board, uint8_t canNumber, uint8_t bt0, uint8_t bt1,
                          uint8_t mode) const
{
    return initCan_(board, canNumber, bt0, bt1, mode);
}

int TVci2Library::SetAccMask(uint16_t board, uint8_t canNumber, uint32_t code, uint32_t mask) const
{
    return setAccMask_(board, canNumber, code, mask);
}

int TVci2Library::ConfigQueue(uint16_t board, uint8_t canNumber, uint8_t queueType, uint16_t size,
                              uint16_t intLimit, uint16_t intTime, uint16_t timeStampResolution,
                              uint16_t* queue) const
{
    return configQueue_(board, canNumber, queueType, size, intLimit, intTime, timeStampResolution,
                        queue);
}

int TVci2Library::AssignRxQueObj(uint16_t board, uint16_t queue, uint8_t mode, uint32_t id,
                                 uint32_t mask) const
{
    return assignRxQueObj_(board, queue, mode, id, mask);
}

int TVci2Library::StartCan(uint16_t board, uint8_t canNumber) const
{
    return startCan_(board, canNumber);
}

int TVci2Library::ReadQueObj(uint16_t board, uint16_t queue, uint16_t count,
                             ReceiveObject* objects) const
{
    return readQueObj_(board, queue, count, objects);
}

int TVci2Library::TransmitObj(uint16_t board, uint16_t queue, uint32_t id, uint8_t length,
                              uint8_t* data) const
{
    return transmitObj_(board, queue, id, length, data);
}
