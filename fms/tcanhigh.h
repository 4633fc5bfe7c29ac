#pragma once
// One J1939 parameter group: a message of 8 to 255 bytes with the time of its first
// frame. On the sending side the signals write their bits into it (SetMV) and it is
// cut into frames (GetFrame); a message longer than 8 bytes goes out as a broadcast
// transfer: one TP.CM announcement (BAM) and then one TP.DT frame per 7 bytes,
// 100 ms apart. On the replay side it is rebuilt from logged frames (Add).
//
// Two identifiers belong to the same parameter group when they agree in bits 8..24
// (GroupMask), whatever their priority and source address.

#include "fms/tcanframe.h"

#include <cstdint>
#include <span>
#include <vector>

class TCanHigh {
public:
    static constexpr uint32_t GroupMask = 0x01FFFF00u;      // data page, PDU format, PDU specific
    static constexpr uint32_t KeepPrioSa = 0xFE0000FFu;     // priority bits and source address
    static constexpr uint32_t TpCmGlobal = 0x00ECFF00u;     // TP.CM to the global address
    static constexpr uint32_t TpDtGlobal = 0x00EBFF00u;     // TP.DT to the global address
    static constexpr int64_t PacketSpacing = 100000;        // µs between the frames of one transfer

    // Sending side: 0 until the first signal is written, then 1 for a single-frame
    // message or Packets() + 1 for a multipacket message (every frame ready).
    // Replay side: 1 once a single frame is in; for a multipacket message the next
    // TP.DT sequence number expected (1 after the announcement, Packets() + 1 when
    // complete).
    int32_t Received = 0;
    // Frames already produced: single frame 1 once sent; multipacket counts the
    // announcement as frame 0, so Packets() + 1 when all are out.
    int32_t Sent = 0;
    // Identifier of the frames that carry the data: Id for a single frame, the TP.DT
    // identifier (TpDtGlobal with Id's priority and source address) for a multipacket one.
    uint32_t TxId = TCanFrame::NoId;
    // Identifier of the parameter group; TCanFrame::NoId while a replayed message does
    // not know it yet.
    uint32_t Id = TCanFrame::NoId;
    int64_t Time = 0;   // time of the message's first frame, µs

    // Id = TxId = id, 8 bytes of 0xFF, Received = Sent = 0, Time 0.
    explicit TCanHigh(uint32_t id = TCanFrame::NoId);

    // Number of message bytes, 8..255, and the bytes themselves (Length() of them).
    uint8_t Length() const { return static_cast<uint8_t>(data_.size()); }
    const std::vector<uint8_t>& Data() const { return data_; }
    // Number of TP.DT packets, (Length() + 6) / 7; 2 for 9 bytes, 4 for 24 bytes.
    int Packets() const { return (Length() + 6) / 7; }
    // Sending side: the bytes up to the end of the furthest field written so far (0
    // before the first signal). The 0xFF fill is not data: a field that is to follow
    // the data already there starts here, whatever bytes that data holds.
    int DataEnd() const { return dataEnd_; }

    // Bits 0..7 of Id and TxId.
    void SetSourceAddress(uint8_t sa);
    // Bits 26..28 of Id and TxId become the low 3 bits of prio.
    void SetPriority(uint8_t prio);
    // Grows the message to n bytes (never shrinks it, never below 8); the new bytes
    // are 0xFF. Once the length is above 8, TxId = (Id & KeepPrioSa) | TpDtGlobal.
    // Throws TBaseError("TCanHigh::SetLength", "length>255 not supported") for n > 255.
    void SetLength(int n);

    // Writes one signal of bitCount bits at startBit. Bits count from the least
    // significant bit of byte 0 upwards (Intel order): the 2-bit field at bit 2 is
    // bits 2..3 of byte 0; the 16-bit field at bit 24 is byte 3 (low) and byte 4 (high).
    // value holds the field least significant byte first (byte 0 is the low byte of a
    // number); bytes missing from value count as 0.
    // The first signal written into a fresh message (Received 0) fills it with 0xFF
    // first. The message grows to the (startBit + bitCount + 7) / 8 bytes needed,
    // which makes every packet ready to send.
    // A field that is not byte-aligned in start and width may be at most 24 bits wide:
    // wider ones throw TBaseError("TCanHigh::SetMV", "Bitlen>56 not supportet").
    // A field ending past byte 255 throws SetLength's error.
    void SetMV(std::span<const uint8_t> value, uint16_t startBit, uint16_t bitCount);

    // The next frame due at now (µs), or one with Id TCanFrame::NoId; counts it as sent.
    // Length 8: the message itself once, at Time, Dlc 8.
    // Longer: frame k (k = Sent) at Time + k * 100 ms, only once packet k is in
    // (k < Received). k = 0 is the announcement: identifier (TxId & KeepPrioSa) |
    // TpCmGlobal, data 0x20, Length, 0x00, Packets, 0xFF, then the PGN least significant
    // byte first (bits 8..15, 16..23, 24 of Id). k >= 1 is TP.DT k: identifier TxId,
    // byte 0 = k, bytes 1..7 = message bytes (k-1)*7 .. (k-1)*7+6, 0xFF past the end.
    // A 24-byte VIN (Id 0x00FEEC00) announces 20 18 00 04 FF EC FE 00.
    TCanFrame GetFrame(int64_t now);

    // Every frame is in (IsComplete) / out (IsSent); both false while Id is NoId.
    bool IsComplete() const;
    bool IsSent() const;

    // Takes in one replayed frame; true when it belongs to this message.
    // A message that does not know its Id yet takes any frame: a TP.CM to the global
    // address starts a multipacket message of the announced length (low byte) and PGN
    // with priority and source address 0; any other frame becomes a single-frame message.
    // A multipacket message takes TP.DT frames of its group in sequence.
    // Throws TBaseError("TCanHigh::Add", ...):
    //   "multipacket length <=8"              an announcement of 8 bytes or fewer
    //   "multipacket index error"             a sequence number other than the one
    //                                         expected; the message then waits for 1 again
    //   "multipacket index overflow"          a sequence number past the announced length
    //   "last multipacket not filled with FF" bytes past the length that are not 0xFF
    //                                         (the bytes before them are already taken in)
    bool Add(const TCanFrame& f);

private:
    std::vector<uint8_t> data_;
    int dataEnd_ = 0;
};
