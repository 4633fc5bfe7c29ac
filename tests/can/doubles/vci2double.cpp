// Test double of the IXXAT VCI 2 library: the 13 functions of its interface with the C
// calling convention. The receive object is written at its published byte offsets
// (time stamp 0, identifier 4, length 8, data 9..16).
//
// Answers that a test may set: "board" (VCI2_PrepareBoard's result; default 1, 2, ...
// per prepare). Queue handles count 1, 2, ... per VCI_ConfigQueue. VCI_ReadQueObj
// answers the frames queued with QvDoublePushRx, then 0. Every other function returns
// 1 unless told to fail. Built without VCI_ReadBoardInfo when QV_DOUBLE_INCOMPLETE is
// defined.

#include "doublecore.h"

#include <cstring>

using namespace qvdouble;

namespace {

int nextBoard = 1;
int nextQueue = 1;

} // namespace

#define QV_FAIL(name)                                                     \
    do {                                                                  \
        int64_t failStatus = 0;                                           \
        if (Fails(name, failStatus)) return static_cast<int>(failStatus); \
    } while (0)

QV_DOUBLE_EXPORT int VCI2_PrepareBoard(uint16_t type, uint16_t index, char* info, uint8_t size,
                                       void* puts, void* interrupt, void* exception)
{
    const bool empty = !info && size == 0 && !puts && !interrupt && !exception;
    Log(Format("VCI2_PrepareBoard type=%u index=%u%s", type, index, empty ? "" : " (arguments given)"));
    QV_FAIL("VCI2_PrepareBoard");
    if (Get("board", 0) != 0) return static_cast<int>(Get("board", 0));
    return nextBoard++;
}

QV_DOUBLE_EXPORT int VCI_CancelBoard(uint16_t board)
{
    Log(Format("VCI_CancelBoard board=%u", board));
    return 1;
}

QV_DOUBLE_EXPORT int VCI_InitCan(uint16_t board, uint8_t can, uint8_t bt0, uint8_t bt1, uint8_t mode)
{
    Log(Format("VCI_InitCan board=%u can=%u bt0=0x%02X bt1=0x%02X mode=%u", board, can, bt0, bt1, mode));
    QV_FAIL("VCI_InitCan");
    return 1;
}

QV_DOUBLE_EXPORT int VCI_SetAccMask(uint16_t board, uint8_t can, uint32_t code, uint32_t mask)
{
    Log(Format("VCI_SetAccMask board=%u can=%u code=0x%X mask=0x%X", board, can, code, mask));
    QV_FAIL("VCI_SetAccMask");
    return 1;
}

QV_DOUBLE_EXPORT int VCI_ConfigQueue(uint16_t board, uint8_t can, uint8_t type, uint16_t size,
                                     uint16_t limit, uint16_t time, uint16_t resolution, uint16_t* queue)
{
    Log(Format("VCI_ConfigQueue board=%u can=%u type=%u size=%u limit=%u time=%u resolution=%u", board,
               can, type, size, limit, time, resolution));
    QV_FAIL("VCI_ConfigQueue");
    *queue = static_cast<uint16_t>(nextQueue++);
    return 1;
}

QV_DOUBLE_EXPORT int VCI_AssignRxQueObj(uint16_t board, uint16_t queue, uint8_t mode, uint32_t id,
                                        uint32_t mask)
{
    Log(Format("VCI_AssignRxQueObj board=%u queue=%u mode=%u id=0x%X mask=0x%X", board, queue, mode, id,
               mask));
    QV_FAIL("VCI_AssignRxQueObj");
    return 1;
}

QV_DOUBLE_EXPORT int VCI_StartCan(uint16_t board, uint8_t can)
{
    Log(Format("VCI_StartCan board=%u can=%u", board, can));
    QV_FAIL("VCI_StartCan");
    return 1;
}

QV_DOUBLE_EXPORT int VCI_ReadQueObj(uint16_t board, uint16_t queue, uint16_t count, void* object)
{
    Log(Format("VCI_ReadQueObj board=%u queue=%u count=%u", board, queue, count));
    QV_FAIL("VCI_ReadQueObj");
    if (RxQueue().empty()) return 0;
    const TRx rx = RxQueue().front();
    RxQueue().pop_front();
    auto* bytes = static_cast<uint8_t*>(object);
    std::memcpy(bytes, &rx.Stamp, 4);
    std::memcpy(bytes + 4, &rx.Id, 4);
    bytes[8] = 8;
    std::memcpy(bytes + 9, rx.Data, 8);
    return 1;
}

QV_DOUBLE_EXPORT int VCI_TransmitObj(uint16_t board, uint16_t queue, uint32_t id, uint8_t length,
                                     const uint8_t* data)
{
    Log(Format("VCI_TransmitObj board=%u queue=%u id=0x%08X length=%u data=%s", board, queue, id, length,
               HexBytes(data, 8).c_str()));
    QV_FAIL("VCI_TransmitObj");
    return 1;
}

void qvdouble::RestartCounters()
{
    nextBoard = 1;
    nextQueue = 1;
}

#define QV_UNUSED(name)                 \
    QV_DOUBLE_EXPORT int name()         \
    {                                   \
        Log(#name " (not expected)");   \
        return 1;                       \
    }

QV_UNUSED(VCI_Get_LibType)
QV_UNUSED(VCI_GetBrdTypeInfo)
QV_UNUSED(VCI_ReadQueStatus)
#ifndef QV_DOUBLE_INCOMPLETE
QV_UNUSED(VCI_ReadBoardInfo)
#endif
