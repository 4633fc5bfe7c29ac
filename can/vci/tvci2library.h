#pragma once
// Binding to the IXXAT VCI version 2 library ("Vci11un6.dll"), C calling convention.
//
// Load() finds the library by file name or full path and looks up the 13 functions of
// its interface; a library without one of them is not loadable. Every call of the VCI 2
// driver into the library goes through this class; the library is unloaded when the
// object goes away. Results: 1 for success unless told otherwise.

#include "can/vector/tsharedlibrary.h"
#include "support/tastring.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class TVci2Library {
public:
    static constexpr int Ok = 1;
    static constexpr int TxQueueFull = 0;     // VCI_TransmitObj
    static constexpr int TxError = -6;        // VCI_TransmitObj
    static constexpr uint8_t ExtendedMode = 1;   // VCI_InitCan: 29-bit identifiers
    static constexpr uint8_t TxQueue = 0;
    static constexpr uint8_t RxQueue = 1;

    // One received CAN object as VCI_ReadQueObj fills it.
    struct ReceiveObject {
        uint32_t TimeStamp = 0;
        uint32_t Id = 0;
        uint8_t LengthAndRtr = 0;   // bits 0..3 length, bit 4 remote
        uint8_t Data[8] = {};
        uint8_t Status = 0;
    };

    // The loaded library, or null when the file cannot be loaded or lacks a function.
    static std::unique_ptr<TVci2Library> Load(const TAString& fileName);
    const TAString& FileName() const { return library_.FileName(); }

    // A board handle, negative on failure. No info text, no callbacks.
    int PrepareBoard(uint16_t boardType, uint16_t boardIndex) const;
    int CancelBoard(uint16_t board) const;
    int InitCan(uint16_t board, uint8_t canNumber, uint8_t bt0, uint8_t bt1, uint8_t mode) const;
    int SetAccMask(uint16_t board, uint8_t canNumber, uint32_t code, uint32_t mask) const;
    int ConfigQueue(uint16_t board, uint8_t canNumber, uint8_t queueType, uint16_t size,
                    uint16_t intLimit, uint16_t intTime, uint16_t timeStampResolution,
                    uint16_t* queue) const;
    int AssignRxQueObj(uint16_t board, uint16_t queue, uint8_t mode, uint32_t id, uint32_t mask) const;
    int StartCan(uint16_t board, uint8_t canNumber) const;
    // Number of objects read, negative on error.
    int ReadQueObj(uint16_t board, uint16_t queue, uint16_t count, ReceiveObject* objects) const;
    int TransmitObj(uint16_t board, uint16_t queue, uint32_t id, uint8_t length, uint8_t* data) const;

    TVci2Library(const TVci2Library&) = delete;
    TVci2Library& operator=(const TVci2Library&) = delete;

private:
    explicit TVci2Library(const TAString& fileName);
    bool Bind();

    TSharedLibrary library_;
    int (*prepareBoard_)(uint16_t, uint16_t, char*, uint8_t, void*, void*, void*) = nullptr;
    int (*cancelBoard_)(uint16_t) = nullptr;
    int (*initCan_)(uint16_t, uint8_t, uint8_t, uint8_t, uint8_t) = nullptr;
    int (*setAccMask_)(uint16_t, uint8_t, uint32_t, uint32_t) = nullptr;
    int (*configQueue_)(uint16_t, uint8_t, uint8_t, uint16_t, uint16_t, uint16_t, uint16_t,
                        uint16_t*) = nullptr;
    int (*assignRxQueObj_)(uint16_t, uint16_t, uint8_t, uint32_t, uint32_t) = nullptr;
    int (*startCan_)(uint16_t, uint8_t) = nullptr;
    int (*readQueObj_)(uint16_t, uint16_t, uint16_t, ReceiveObject*) = nullptr;
    int (*transmitObj_)(uint16_t, uint16_t, uint32_t, uint8_t, uint8_t*) = nullptr;
};

static_assert(offsetof(TVci2Library::ReceiveObject, TimeStamp) == 0);
static_assert(offsetof(TVci2Library::ReceiveObject, Id) == 4);
static_assert(offsetof(TVci2Library::ReceiveObject, LengthAndRtr) == 8);
static_assert(offsetof(TVci2Library::ReceiveObject, Data) == 9);
static_assert(offsetof(TVci2Library::ReceiveObject, Status) == 17);
