#include "fms/tcanhighdb.h"

#include "support/tbaseerror.h"

#include <cstdio>
#include <iterator>
#include <limits>

namespace {

constexpr uint32_t kMaxId = 0x1FFFFFFFu;

bool IsTpCmGlobal(uint32_t id)
{
    return (id & TCanHigh::GroupMask) == TCanHigh::TpCmGlobal;
}

bool IsTpDtGlobal(uint32_t id)
{
    return (id & TCanHigh::GroupMask) == TCanHigh::TpDtGlobal;
}

// When the next frame of m is due, or nothing while it waits for a packet (or is sent).
bool NextDue(const TCanHigh& m, int64_t& due)
{
    if (m.Length() == 8) {
        if (m.Sent != 0) return false;
        due = m.Time;
        return true;
    }
    const int k = m.Sent;
    if (k >= m.Received || k > m.Packets()) return false;
    due = m.Time + k * TCanHigh::PacketSpacing;
    return true;
}

TAString Seconds(int64_t micros)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.4f s", static_cast<double>(micros) / 1e6);
    return TAString(buf);
}

}  // namespace

TAString TTransferDrop::Describe() const
{
    TAString text = "source address " + TAString::Hex8(SourceAddress);
    if (Reason == drBadAnnouncement) return text + ", announcement at " + Seconds(AnnouncedAt) + " refused: " + Error;
    text += ", PGN " + TAString::Hex16(static_cast<uint16_t>(Pgn)) + " announced at " + Seconds(AnnouncedAt) + ": " +
            TAString(int32_t(PacketsIn)) + " of " + TAString(int32_t(Packets)) + " packets, then ";
    switch (Reason) {
    case drNewAnnouncement: return text + "a new announcement at " + Seconds(At);
    case drTimeout: return text + "no packet until " + Seconds(At);
    case drEndOfPass: return text + "the end of the log";
    case drPacketError: return text + "a packet refused at " + Seconds(At) + " (" + Error + ")";
    case drBadAnnouncement: break;
    }
    return text;
}

TCanHighDB::TSeq TCanHighDB::Append(TCanHigh m)
{
    const TSeq seq = nextSeq_++;
    items_.emplace_hint(items_.end(), seq, std::move(m));
    Schedule(seq);
    return seq;
}

void TCanHighDB::AddCanHigh(const TCanHigh& m)
{
    Append(m);
}

void TCanHighDB::Schedule(TSeq seq)
{
    auto it = items_.find(seq);
    if (it == items_.end()) return;
    const TCanHigh& m = it->second;
    int64_t due = 0;
    if (NextDue(m, due)) {
        waitingAt_[seq] = due;
        waiting_.emplace(due, seq);
        return;
    }
    waitingAt_.erase(seq);
    if (m.IsSent()) items_.erase(it);
    // Otherwise a replayed transfer waits for its next packet; AddFrame schedules it.
}

void TCanHighDB::AddFrame(const TCanFrame& f)
{
    if (f.Id > kMaxId) throw TBaseError("TCanHighDB::AddFrame", "identifier wider than 29 bits");
    const uint8_t sa = static_cast<uint8_t>(f.Id & 0xFFu);
    if (IsTpCmGlobal(f.Id)) {
        if (open_.count(sa)) Drop(sa, TTransferDrop::drNewAnnouncement, f.Time);
        TCanHigh m(TCanFrame::NoId);
        try {
            m.Add(f);
        } catch (const TBaseError& e) {
            TTransferDrop drop;
            drop.Reason = TTransferDrop::drBadAnnouncement;
            drop.SourceAddress = sa;
            drop.AnnouncedAt = drop.At = f.Time;
            drop.Error = e.Message();
            drops_.push_back(drop);
            return;
        }
        const TSeq seq = Append(std::move(m));
        open_[sa] = TOpen{seq, f.Time};
        return;
    }

    if (IsTpDtGlobal(f.Id)) {
        auto open = open_.find(sa);
        if (open != open_.end()) {
            const TSeq seq = open->second.Seq;
            TCanHigh& m = items_.at(seq);
            const bool waitedForIt = !waitingAt_.count(seq) && !due_.count(seq);
            const int packetsIn = m.Received - 1;
            try {
                m.Add(f);
            } catch (const TBaseError& e) {
                Drop(sa, TTransferDrop::drPacketError, f.Time, e.Message(), packetsIn);
                return;
            }
            open->second.LastFrame = f.Time;
            if (m.IsComplete()) open_.erase(open);
            if (waitedForIt) Schedule(seq);
            return;
        }
        // A packet of a transfer whose announcement is not in the log: a frame of its own.
    }

    TCanHigh m(TCanFrame::NoId);
    m.Add(f);   // any frame that is no announcement is a single-frame message
    Append(std::move(m));
}

TCanFrame TCanHighDB::GetNextFrame(int64_t now)
{
    while (!waiting_.empty() && waiting_.top().first <= now) {
        const auto [due, seq] = waiting_.top();
        waiting_.pop();
        ++examined_;
        auto at = waitingAt_.find(seq);
        if (at == waitingAt_.end() || at->second != due) continue;   // stale entry
        waitingAt_.erase(at);
        due_.insert(seq);
    }
    if (due_.empty()) return TCanFrame();

    const TSeq seq = *due_.begin();
    due_.erase(due_.begin());
    ++examined_;
    const TCanFrame f = items_.at(seq).GetFrame(now);
    Schedule(seq);
    return f;
}

void TCanHighDB::Drop(uint8_t sa, TTransferDrop::TReason reason, int64_t at, const TAString& error, int packetsIn)
{
    auto open = open_.find(sa);
    if (open == open_.end()) return;
    const TSeq seq = open->second.Seq;
    open_.erase(open);
    auto it = items_.find(seq);
    if (it == items_.end()) return;
    const TCanHigh& m = it->second;
    TTransferDrop drop;
    drop.Reason = reason;
    drop.SourceAddress = sa;
    drop.Pgn = (m.Id & TCanHigh::GroupMask) >> 8;
    drop.Packets = m.Packets();
    drop.PacketsIn = packetsIn >= 0 ? packetsIn : m.Received - 1;
    drop.AnnouncedAt = m.Time;
    drop.At = at;
    drop.Error = error;
    drops_.push_back(drop);
    waitingAt_.erase(seq);
    due_.erase(seq);
    items_.erase(it);
}

void TCanHighDB::ExpireTransfers(int64_t now)
{
    std::vector<uint8_t> stale;
    for (const auto& [sa, open] : open_)
        if (now - open.LastFrame > TransferTimeout) stale.push_back(sa);
    for (uint8_t sa : stale) Drop(sa, TTransferDrop::drTimeout, now);
}

void TCanHighDB::EndOfPass(int64_t now)
{
    while (!open_.empty()) Drop(open_.begin()->first, TTransferDrop::drEndOfPass, now);
}

std::vector<TTransferDrop> TCanHighDB::TakeDrops()
{
    return std::exchange(drops_, {});
}

int64_t TCanHighDB::NextDueTime()
{
    if (!due_.empty()) return std::numeric_limits<int64_t>::min();
    while (!waiting_.empty()) {
        const auto [due, seq] = waiting_.top();
        auto at = waitingAt_.find(seq);
        if (at != waitingAt_.end() && at->second == due) return due;
        waiting_.pop();   // stale entry
    }
    return std::numeric_limits<int64_t>::max();
}

void TCanHighDB::Clear()
{
    items_.clear();
    due_.clear();
    waiting_ = {};
    waitingAt_.clear();
    open_.clear();
    drops_.clear();
}

const TCanHigh& TCanHighDB::Item(int i) const
{
    if (i < 0 || i >= Count()) throw TBaseError("TCanHighDB::Item", "IndexOverrun");
    return std::next(items_.begin(), i)->second;
}
