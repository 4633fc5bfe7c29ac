#pragma once
// The 24-byte record in which a CAN frame travels on the simulation driver's
// communication channels. Little-endian, no header, separator or checksum:
//
//   offset  size  content
//        0     4  identifier, unsigned
//        4     8  data bytes 0..7
//       12     1  Dlc
//       13     3  padding, written as 0, ignored when read
//       16     8  time stamp, signed, microseconds
//
// Example: Id 0x18FEF100, data 01..08, Dlc 8, Time 0x0102 gives
//   00 F1 FE 18 01 02 03 04 05 06 07 08 08 00 00 00 02 01 00 00 00 00 00 00

#include "fms/tcanframe.h"

#include <array>
#include <cstdint>

class TSimFrameRecord {
public:
    static constexpr int Size = 24;
    using Bytes = std::array<uint8_t, Size>;

    static Bytes Encode(const TCanFrame& frame);
    static TCanFrame Decode(const Bytes& bytes);
};
