#include "engine/ttransportassembler.h"

#include <algorithm>

std::optional<TTransportAssembler::TMessage> TTransportAssembler::Frame(uint32_t id, bool extended, uint8_t length,
                                                                        const std::array<uint8_t, 8>& data)
{
    if (!extended) return std::nullopt;
    const uint32_t pf = (id >> 16) & 0xFF;
    if (pf != 0xEC && pf != 0xEB) return std::nullopt;
    const auto source = static_cast<uint8_t>(id & 0xFF);
    const auto destination = static_cast<uint8_t>((id >> 8) & 0xFF);
    const auto key = static_cast<uint16_t>(source << 8 | destination);

    if (pf == 0xEC) {
        if (length < 8) return std::nullopt;
        const uint8_t control = data[0];
        if (control == 0xFF) {
            // An abort from either side ends the transfer between the two.
            open_.erase(key);
            open_.erase(static_cast<uint16_t>(destination << 8 | source));
            return std::nullopt;
        }
        if (control != 0x20 && control != 0x10) return std::nullopt;   // CTS, EndOfMsgAck: not data
        open_.erase(key);
        const int size = data[1] | data[2] << 8;
        const int packets = data[3];
        if (size < 9 || size > 1785 || packets != (size + 6) / 7) return std::nullopt;
        TOpen o;
        o.Message.Pgn = static_cast<uint32_t>(data[5] | data[6] << 8 | (data[7] & 0x03) << 16);
        o.Message.Source = source;
        o.Message.Destination = destination;
        o.Message.Data.reserve(static_cast<std::size_t>(packets) * 7);
        o.Packets = packets;
        o.Size = size;
        open_[key] = std::move(o);
        return std::nullopt;
    }

    auto it = open_.find(key);
    if (it == open_.end()) return std::nullopt;
    TOpen& o = it->second;
    if (length < 8 || data[0] != o.Next) {
        open_.erase(it);
        return std::nullopt;
    }
    o.Message.Data.insert(o.Message.Data.end(), data.begin() + 1, data.end());
    if (++o.Next <= o.Packets) return std::nullopt;
    TMessage done = std::move(o.Message);
    done.Data.resize(static_cast<std::size_t>(o.Size));
    open_.erase(it);
    return done;
}
