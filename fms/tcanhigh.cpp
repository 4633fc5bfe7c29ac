#include "fms/tcanhigh.h"

#include "support/tbaseerror.h"

#include <algorithm>

namespace {

constexpr int kMinLength = 8;
constexpr int kMaxLength = 255;
constexpr int kBytesPerPacket = 7;

}  // namespace

TCanHigh::TCanHigh(uint32_t id) : TxId(id), Id(id), data_(kMinLength, 0xFF) {}

void TCanHigh::SetSourceAddress(uint8_t sa)
{
    Id = (Id & 0xFFFFFF00u) | sa;
    TxId = (TxId & 0xFFFFFF00u) | sa;
}

void TCanHigh::SetPriority(uint8_t prio)
{
    const uint32_t bits = uint32_t(prio & 0x07u) << 26;
    Id = (Id & ~(0x07u << 26)) | bits;
    TxId = (TxId & ~(0x07u << 26)) | bits;
}

void TCanHigh::SetLength(int n)
{
    if (n > kMaxLength) throw TBaseError("TCanHigh::SetLength", "length>255 not supported");
    if (n > Length()) data_.resize(std::size_t(n), 0xFF);
    if (Length() > kMinLength) TxId = (Id & KeepPrioSa) | TpDtGlobal;
}

void TCanHigh::SetMV(std::span<const uint8_t> value, uint16_t startBit, uint16_t bitCount)
{
    auto valueByte = [&value](std::size_t i) -> uint32_t { return i < value.size() ? value[i] : 0u; };

    const int needed = (bitCount + startBit + 7) / 8;
    // A message counts as "every frame ready" from its first signal on.
    auto markReady = [this] { Received = Length() > kMinLength ? Packets() + 1 : 1; };
    if (Received == 0) {
        std::fill(data_.begin(), data_.end(), uint8_t(0xFF));
        markReady();
    }
    if (Length() < needed) {
        SetLength(needed);
        markReady();
    }

    dataEnd_ = std::max(dataEnd_, needed);

    const std::size_t first = startBit / 8;
    if (startBit % 8 == 0 && bitCount % 8 == 0) {
        for (std::size_t i = 0; i < bitCount / 8u; ++i) data_[first + i] = uint8_t(valueByte(i));
        return;
    }

    if (bitCount > 24) throw TBaseError("TCanHigh::SetMV", "Bitlen>56 not supportet");
    // At most 24 bits shifted by at most 7 fit one 32-bit word.
    const std::size_t span = std::min<std::size_t>(4, data_.size() - first);
    uint32_t word = 0;
    for (std::size_t i = 0; i < span; ++i) word |= uint32_t(data_[first + i]) << (8 * i);
    const uint32_t mask = (1u << bitCount) - 1u;
    const unsigned shift = startBit % 8u;
    const uint32_t v = valueByte(0) | valueByte(1) << 8 | valueByte(2) << 16 | valueByte(3) << 24;
    word = (word & ~(mask << shift)) | ((v & mask) << shift);
    for (std::size_t i = 0; i < span; ++i) data_[first + i] = uint8_t(word >> (8 * i));
}

TCanFrame TCanHigh::GetFrame(int64_t now)
{
    TCanFrame f;
    if (Length() == kMinLength) {
        if (Sent == 1 || now < Time) return f;
        f.Id = Id;
        std::copy(data_.begin(), data_.end(), f.Data.begin());
        f.Dlc = 8;
        f.Time = Time;
        Sent = 1;
        return f;
    }

    const int packets = Packets();
    const int k = Sent;
    if (k < 0 || k >= Received || k > packets) return f;
    const int64_t t = Time + k * PacketSpacing;
    if (now < t) return f;

    f.Dlc = 8;
    f.Time = t;
    Sent = k + 1;
    if (k == 0) {
        // TP.CM BAM: control byte 0x20, size (low byte, high byte 0), packets, 0xFF, PGN.
        f.Id = (TxId & KeepPrioSa) | TpCmGlobal;
        f.Data = {0x20, Length(), 0x00, uint8_t(packets), 0xFF,
                  uint8_t(Id >> 8), uint8_t(Id >> 16), uint8_t((Id >> 24) & 0x01)};
        return f;
    }
    f.Id = TxId;
    f.Data[0] = uint8_t(k);
    const std::size_t offset = std::size_t(k - 1) * kBytesPerPacket;
    for (std::size_t j = 0; j < kBytesPerPacket; ++j)
        f.Data[1 + j] = offset + j < data_.size() ? data_[offset + j] : 0xFF;
    return f;
}

bool TCanHigh::IsComplete() const
{
    if (Id == TCanFrame::NoId) return false;
    return Length() == kMinLength ? Received != 0 : Received == Packets() + 1;
}

bool TCanHigh::IsSent() const
{
    if (Id == TCanFrame::NoId) return false;
    return Length() == kMinLength ? Sent != 0 : Sent == Packets() + 1;
}

bool TCanHigh::Add(const TCanFrame& f)
{
    static const char* const op = "TCanHigh::Add";
    if (Id == TCanFrame::NoId) {
        if ((f.Id & GroupMask) == TpCmGlobal) {
            // The control byte is not examined; the size's high byte is ignored.
            const uint8_t announced = f.Data[1];
            if (announced <= kMinLength) {
                data_.assign(kMinLength, 0xFF);
                throw TBaseError(op, "multipacket length <=8");
            }
            Id = (uint32_t(f.Data[7]) << 24 | uint32_t(f.Data[6]) << 16 | uint32_t(f.Data[5]) << 8) & GroupMask;
            TxId = (f.Id & KeepPrioSa) | TpDtGlobal;
            data_.assign(announced, 0xFF);
            Received = 1;
            Time = f.Time;
            return true;
        }
        Id = TxId = f.Id;
    }

    if ((f.Id & GroupMask) != (TxId & GroupMask)) return false;

    if (Length() == kMinLength) {
        Time = f.Time;
        std::copy(f.Data.begin(), f.Data.end(), data_.begin());
        Received = 1;
        return true;
    }

    // A TP.DT: sequence numbers count from 1. A message that never had an announcement
    // (Received 0) cannot take sequence 0 either.
    const int seq = f.Data[0];
    if (seq != Received || seq == 0) {
        Received = 1;
        throw TBaseError(op, "multipacket index error");
    }
    const std::size_t offset = std::size_t(seq - 1) * kBytesPerPacket;
    if (offset >= data_.size()) throw TBaseError(op, "multipacket index overflow");
    for (std::size_t j = 0; j < kBytesPerPacket; ++j) {
        if (offset + j < data_.size())
            data_[offset + j] = f.Data[1 + j];
        else if (f.Data[1 + j] != 0xFF)
            throw TBaseError(op, "last multipacket not filled with FF");
    }
    ++Received;
    return true;
}
