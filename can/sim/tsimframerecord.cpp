#include "can/sim/tsimframerecord.h"

namespace {

constexpr int IdOffset = 0;
constexpr int DataOffset = 4;
constexpr int DlcOffset = 12;
constexpr int FlagsOffset = 13;
constexpr int TimeOffset = 16;

void PutLittleEndian(TSimFrameRecord::Bytes& bytes, int offset, uint64_t value, int size)
{
    for (int i = 0; i < size; ++i)
        bytes[static_cast<size_t>(offset + i)] = static_cast<uint8_t>(value >> (8 * i));
}

uint64_t GetLittleEndian(const TSimFrameRecord::Bytes& bytes, int offset, int size)
{
    uint64_t value = 0;
    for (int i = 0; i < size; ++i)
        value |= static_cast<uint64_t>(bytes[static_cast<size_t>(offset + i)]) << (8 * i);
    return value;
}

} // namespace

TSimFrameRecord::Bytes TSimFrameRecord::Encode(const TCanFrame& frame)
{
    Bytes bytes{};
    PutLittleEndian(bytes, IdOffset, frame.Id, 4);
    for (size_t i = 0; i < frame.Data.size() && i < frame.Dlc; ++i) bytes[DataOffset + i] = frame.Data[i];
    bytes[DlcOffset] = frame.Dlc;
    bytes[FlagsOffset] = static_cast<uint8_t>(FlagExactDlc | (frame.Extended ? 0 : FlagStandardId));
    PutLittleEndian(bytes, TimeOffset, static_cast<uint64_t>(frame.Time), 8);
    return bytes;
}

TCanFrame TSimFrameRecord::Decode(const Bytes& bytes)
{
    TCanFrame frame;
    frame.Id = static_cast<uint32_t>(GetLittleEndian(bytes, IdOffset, 4));
    const uint8_t flags = bytes[FlagsOffset];
    if (flags == 0) {
        frame.Dlc = 8;
        frame.Extended = true;
    } else {
        frame.Dlc = bytes[DlcOffset];
        frame.Extended = (flags & FlagStandardId) == 0;
    }
    for (size_t i = 0; i < frame.Data.size() && i < frame.Dlc; ++i) frame.Data[i] = bytes[DataOffset + i];
    frame.Time = static_cast<int64_t>(GetLittleEndian(bytes, TimeOffset, 8));
    return frame;
}

bool TSimFrameRecord::Valid(const Bytes& bytes)
{
    const uint8_t flags = bytes[FlagsOffset];
    if ((flags & ~KnownFlags) != 0) return false;
    if (flags != 0 && bytes[DlcOffset] > 8) return false;
    return Decode(bytes).IsValid();
}

bool TSimFrameRecord::Valid(const Bytes& bytes, uint8_t& state)
{
    constexpr uint8_t SeenFlags = 1;
    const bool marked = bytes[FlagsOffset] != 0;
    if (!Valid(bytes) || (!marked && (state & SeenFlags) != 0)) return false;
    if (marked) state |= SeenFlags;
    return true;
}
