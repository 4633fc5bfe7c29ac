#include "fms/ttransferwatch.h"

#include <cstdio>
#include <string>

namespace {

constexpr uint8_t TpCm = 0xEC;
constexpr uint8_t TpDt = 0xEB;
constexpr uint8_t Rts = 0x10;
constexpr uint8_t Bam = 0x20;
constexpr uint8_t Abort = 0xFF;
constexpr uint8_t Global = 0xFF;
constexpr int MinSize = 9;
constexpr int MaxSize = 1785;   // 255 packets of 7 bytes

TAString Seconds(int64_t micros)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.4f s", static_cast<double>(micros) / 1e6);
    return buf;
}

TAString Number(int64_t n)
{
    return TAString(std::to_string(n));
}

// "FECA", or five digits for a PGN of data page 1 or above 0xFFFF.
TAString PgnText(uint32_t pgn)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04X", pgn);
    return buf;
}

}  // namespace

TAString TTransferRecord::Describe() const
{
    TAString text = Broadcast ? "broadcast from " + TAString::Hex8(Source)
                              : "transfer from " + TAString::Hex8(Source) + " to " + TAString::Hex8(Destination);
    text += ", PGN " + PgnText(Pgn) + " (" + Number(Size) + " bytes, " +
            Number(Packets) + " packets) at " + Seconds(AnnouncedAt) + ": " + Number(PacketsIn) + " of " +
            Number(Packets) + " packets";
    if (Outcome == Complete) return text;
    return text + (Outcome == Malformed ? ", malformed: " : ", then ") + Why;
}

void TTransferWatch::Frame(const TCanFrame& frame)
{
    if (!open_.empty()) ExpireBefore(frame.Time);
    if (!frame.Extended) return;
    const auto format = static_cast<uint8_t>(frame.Id >> 16);
    if (format != TpCm && format != TpDt) return;
    const auto destination = static_cast<uint8_t>(frame.Id >> 8);
    const auto source = static_cast<uint8_t>(frame.Id);
    if (format == TpCm)
        Announce(frame, source, destination);
    else
        Packet(frame, source, destination);
}

void TTransferWatch::Announce(const TCanFrame& frame, uint8_t source, uint8_t destination)
{
    const TKey key = static_cast<TKey>(source << 8 | destination);
    const uint8_t control = frame.Dlc > 0 ? frame.Data[0] : 0;
    if (control == Abort) {
        // Either side may abort the connection between the two.
        const TKey reverse = static_cast<TKey>(destination << 8 | source);
        const TAString why = "aborted by " + TAString::Hex8(source) + " at " + Seconds(frame.Time) +
                             (frame.Dlc > 1 ? " (reason " + Number(frame.Data[1]) + ")" : TAString());
        if (open_.count(key)) Finish(key, TTransferRecord::Incomplete, frame.Time, why);
        if (reverse != key && open_.count(reverse)) Finish(reverse, TTransferRecord::Incomplete, frame.Time, why);
        return;
    }
    if (control != Bam && control != Rts) return;   // clear to send, acknowledgement: no data
    if (open_.count(key))
        Finish(key, TTransferRecord::Incomplete, frame.Time, "a new announcement at " + Seconds(frame.Time));

    TOpen open;
    TTransferRecord& r = open.Record;
    r.Broadcast = control == Bam;
    r.Source = source;
    r.Destination = destination;
    r.AnnouncedAt = frame.Time;
    open.LastFrame = frame.Time;
    if (frame.Dlc != 8) {
        r.Why = "announcement of " + Number(frame.Dlc) + " bytes";
        open.Unsound = true;
    } else {
        r.Size = frame.Data[1] | frame.Data[2] << 8;
        r.Packets = frame.Data[3];
        r.Pgn = static_cast<uint32_t>(frame.Data[5] | frame.Data[6] << 8 | frame.Data[7] << 16);
        if (r.Size < MinSize || r.Size > MaxSize) {
            r.Why = "announces " + Number(r.Size) + " bytes";
            open.Unsound = true;
        } else if (r.Packets != (r.Size + 6) / 7) {
            r.Why = "announces " + Number(r.Packets) + " packets for " + Number(r.Size) + " bytes";
            open.Unsound = true;
        } else if (r.Broadcast && destination != Global) {
            r.Why = "broadcast announced to " + TAString::Hex8(destination);
            open.Unsound = true;
        } else if (!r.Broadcast && destination == Global) {
            r.Why = "request to send to the global address";
            open.Unsound = true;
        }
    }
    if (r.Packets == 0) {
        // Nothing will follow: it ends here.
        open_[key] = open;
        Finish(key, TTransferRecord::Malformed, frame.Time, open.Record.Why);
        return;
    }
    open_[key] = open;
}

void TTransferWatch::Packet(const TCanFrame& frame, uint8_t source, uint8_t destination)
{
    const TKey key = static_cast<TKey>(source << 8 | destination);
    const auto it = open_.find(key);
    if (it == open_.end()) {
        ++stray_;
        return;
    }
    TOpen& open = it->second;
    TTransferRecord& r = open.Record;
    open.LastFrame = frame.Time;
    const int sequence = frame.Dlc > 0 ? frame.Data[0] : -1;
    const int expected = r.PacketsIn + 1;
    if (frame.Dlc != 8 && !open.Unsound) {
        r.Why = "packet " + Number(sequence) + " of " + Number(frame.Dlc) + " bytes at " + Seconds(frame.Time);
        open.Unsound = true;
    }
    if (sequence == expected) {
        ++r.PacketsIn;
    } else if (!r.Broadcast && sequence >= 1 && sequence < expected) {
        return;   // a connection's receiver may ask for packets again
    } else if (!open.Unsound) {
        r.Why = "packet " + Number(sequence) + " after " + Number(r.PacketsIn) + " at " + Seconds(frame.Time);
        open.Unsound = true;
    }
    if (sequence >= r.Packets && r.Packets > 0)
        Finish(key, open.Unsound || r.PacketsIn != r.Packets ? TTransferRecord::Malformed : TTransferRecord::Complete,
               frame.Time, r.Why);
}

void TTransferWatch::Finish(TKey key, TTransferRecord::TOutcome outcome, int64_t at, const TAString& why)
{
    const auto it = open_.find(key);
    TTransferRecord r = it->second.Record;
    if (it->second.Unsound) outcome = TTransferRecord::Malformed;
    open_.erase(it);
    r.Outcome = outcome;
    r.EndedAt = at;
    if (outcome == TTransferRecord::Complete) {
        ++complete_;
        return;
    }
    if (outcome == TTransferRecord::Malformed) {
        ++malformed_;
        if (r.Why.IsEmpty()) r.Why = why;
    } else {
        ++incomplete_;
        r.Why = why;
    }
    if (listed_.size() < MaxListed)
        listed_.push_back(r);
    else
        ++notListed_;
}

void TTransferWatch::ExpireBefore(int64_t now)
{
    for (auto it = open_.begin(); it != open_.end();) {
        const TOpen& open = it->second;
        const int64_t timeout = open.Record.Broadcast ? BroadcastTimeout : ConnectionTimeout;
        const TKey key = it->first;
        const int64_t last = open.LastFrame;
        ++it;
        if (now - last > timeout)
            Finish(key, TTransferRecord::Incomplete, now, "no packet for " + Number(timeout / 1000) + " ms after " + Seconds(last));
    }
}

void TTransferWatch::End(int64_t at, const char* why)
{
    while (!open_.empty()) Finish(open_.begin()->first, TTransferRecord::Incomplete, at, why);
}

void TTransferWatch::Clear()
{
    *this = TTransferWatch();
}

TAString TTransferWatch::Summary() const
{
    if (Transfers() == 0 && stray_ == 0) return "no transfers";
    TAString text = Number(Transfers()) + (Transfers() == 1 ? " transfer: " : " transfers: ") + Number(complete_) +
                    " complete, " + Number(incomplete_) + " incomplete, " + Number(malformed_) + " malformed";
    if (stray_ > 0) text += "; " + Number(stray_) + (stray_ == 1 ? " stray packet" : " stray packets");
    return text;
}

TAString TTransferWatch::Detail() const
{
    TAString text = Summary();
    for (const TTransferRecord& r : listed_) text += "\n" + r.Describe();
    if (notListed_ > 0) text += "\n... and " + Number(notListed_) + " more";
    return text;
}
