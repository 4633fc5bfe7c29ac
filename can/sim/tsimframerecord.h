#pragma once
// The 24-byte record in which a CAN frame travels on the simulation driver's
// communication channels. Little-endian, no header, separator or checksum:
//
//   offset  size  content
//        0     4  identifier, unsigned
//        4     8  data bytes 0..7
//       12     1  Dlc: the number of data bytes, 0..8
//       13     1  flags: 0x01 the identifier is 11 bits, 0x02 Dlc is exact
//       14     2  padding, written as 0, carries no meaning
//       16     8  time stamp, signed, microseconds
//
// A record whose flags byte is 0 comes from a peer that knows no flags: its frame has
// a 29-bit identifier and 8 data bytes whatever its Dlc byte says. We always write
// 0x02, so an empty frame (Dlc 0) is told apart from such a record.
//
// Example: Id 0x18FEF100, data 01..08, Dlc 8, Time 0x0102 gives
//   00 F1 FE 18 01 02 03 04 05 06 07 08 08 02 00 00 02 01 00 00 00 00 00 00
// and an 11-bit frame 0x123 with 3 bytes AA BB CC at time 0:
//   23 01 00 00 AA BB CC 00 00 00 00 00 03 03 00 00 00 00 00 00 00 00 00 00

#include "fms/tcanframe.h"

#include <array>
#include <cstdint>

class TSimFrameRecord {
public:
    static constexpr int Size = 24;
    using Bytes = std::array<uint8_t, Size>;

    static constexpr uint8_t FlagStandardId = 0x01;
    static constexpr uint8_t FlagExactDlc = 0x02;
    static constexpr uint8_t KnownFlags = FlagStandardId | FlagExactDlc;

    // Data bytes past Dlc are written as 0.
    static Bytes Encode(const TCanFrame& frame);
    // The frame as the record gives it, whether or not it is valid (see Valid).
    static TCanFrame Decode(const Bytes& bytes);
    // A record a sender of this format writes: no unknown flag bits, Dlc at most 8 and
    // an identifier that fits its kind. (The two padding bytes are not looked at.)
    static bool Valid(const Bytes& bytes);
    // Valid, for one record of a stream from one sender: a sender that marks its records
    // (flags other than 0) marks every one, so once state has seen a marked record (it
    // starts at 0), an unmarked one is not valid either: it is most likely bytes out of
    // line, such as a record that lost a byte.
    static bool Valid(const Bytes& bytes, uint8_t& state);
};
