#include "engine/trequestresponder.h"

#include "engine/taddressclaim.h"
#include "fms/tbusfmsstandard.h"

namespace {

constexpr uint32_t PfMask = 0x03FF0000u;   // extended data page, data page, PDU format
constexpr uint8_t BamControl = 0x20;

uint32_t Pgn24(uint8_t lsb, uint8_t mid, uint8_t msb)
{
    return uint32_t(lsb) | uint32_t(mid) << 8 | uint32_t(msb) << 16;
}

// The catalogue's list entry of pgn that the options send, or -1.
int SentGroup(const TBusFmsStandard& catalogue, const TFrameOptions& options, uint32_t pgn)
{
    const auto& ids = catalogue.FrameIds();
    for (int k = 0; k < catalogue.FrameCount(); ++k) {
        if (ids[static_cast<std::size_t>(k)] >> 8 != pgn) continue;
        const bool sent = k >= TFrameOptions::MaxFlags || options.FrameFlags[static_cast<std::size_t>(k)] != 0;
        return sent ? k : -1;
    }
    return -1;
}

// The group as the schedule would send it now: every signal of it, in catalogue order.
TCanHigh CurrentGroup(TBusFmsStandard& catalogue, uint32_t canId)
{
    TCanHigh m(canId);
    for (int i = 0; i < catalogue.SignalCount(); ++i) {
        TFmsMeasVal& signal = catalogue.Signal(i);
        if (signal.CanId == canId) signal.WriteToCan(m);
    }
    return m;
}

}  // namespace

std::optional<TRequestResponder::TRequest> TRequestResponder::AsRequest(const TCanFrame& frame)
{
    if (frame.IsNone() || !frame.Extended || frame.Dlc < 3 || (frame.Id & PfMask) != (RequestPgn << 8))
        return std::nullopt;
    TRequest r;
    r.Pgn = Pgn24(frame.Data[0], frame.Data[1], frame.Data[2]);
    r.Destination = static_cast<uint8_t>(frame.Id >> 8);
    r.Requester = static_cast<uint8_t>(frame.Id);
    return r;
}

TCanHigh TRequestResponder::NegativeAck(const TRequest& request, const TFrameOptions& options, int64_t time)
{
    TCanHigh m((AcknowledgementPgn | GlobalAddress) << 8);
    const uint8_t data[8] = {NegativeAcknowledgement,
                             0xFF,
                             0xFF,
                             0xFF,
                             request.Requester,
                             static_cast<uint8_t>(request.Pgn),
                             static_cast<uint8_t>(request.Pgn >> 8),
                             static_cast<uint8_t>(request.Pgn >> 16)};
    m.SetMV(data, 0, 64);
    m.SetSourceAddress(options.SourceAddress);
    m.SetPriority(options.Priority);
    m.Time = time;
    return m;
}

std::optional<TCanHigh> TRequestResponder::Answer(const TCanFrame& frame, TBusFmsStandard& catalogue,
                                                   const TFrameOptions& options, int64_t now)
{
    const std::optional<TRequest> request = AsRequest(frame);
    if (!request) {
        // A request too short to name a PGN (devices pad theirs to 8 bytes; the first 3
        // count) cannot be answered: counted when it was meant for us.
        const auto to = static_cast<uint8_t>(frame.Id >> 8);
        if (!frame.IsNone() && frame.Extended && frame.Dlc < 3 && (frame.Id & PfMask) == (RequestPgn << 8) &&
            (to == GlobalAddress || to == options.SourceAddress))
            ++counts_.Ignored;
        return std::nullopt;
    }
    // 0xFF is every node's address, never one node's, even when the options give it as ours.
    const bool toAll = request->Destination == GlobalAddress;
    const bool toUs = !toAll && request->Destination == options.SourceAddress;
    if (std::optional<std::optional<TCanHigh>> claim = AnswerForClaim(*request, toUs, toAll, now)) return *claim;
    if (!toUs && !toAll) return std::nullopt;
    ++counts_.Received;

    const int group = SentGroup(catalogue, options, request->Pgn);
    if (group < 0) {
        if (!toUs) return std::nullopt;
        if (!waiting_.insert(NackKey(request->Requester, request->Pgn)).second) {
            ++counts_.Served;
            return std::nullopt;
        }
        ++counts_.Refused;
        return NegativeAck(*request, options, now);
    }

    const uint32_t canId = catalogue.FrameIds()[static_cast<std::size_t>(group)];
    if (waiting_.count(GroupKey(canId))) {
        ++counts_.Served;
        return std::nullopt;
    }
    TCanHigh m = CurrentGroup(catalogue, canId);
    m.SetSourceAddress(options.SourceAddress);
    m.SetPriority(options.Priority);
    m.Time = now;
    waiting_.insert(GroupKey(canId));
    ++counts_.Answered;
    return m;
}

std::optional<std::optional<TCanHigh>> TRequestResponder::AnswerForClaim(const TRequest& request, bool toUs,
                                                                         bool toAll, int64_t now)
{
    if (!claim_ || (claim_->State() != TAddressClaim::TState::Claimed && !claim_->Lost())) return std::nullopt;
    const bool lost = claim_->Lost();
    // The address is not ours any more: only a request to all is still for us.
    if (lost) toUs = false;
    if (request.Pgn != TAddressClaim::ClaimPgn) {
        if (lost) return std::optional<TCanHigh>();
        return std::nullopt;
    }
    if (!toUs && !toAll) return std::optional<TCanHigh>();
    ++counts_.Received;
    std::optional<TCanHigh> m = claim_->Message(now);
    if (!m || !waiting_.insert(GroupKey(m->Id)).second) {
        ++counts_.Served;
        return std::optional<TCanHigh>();
    }
    ++counts_.Answered;
    return m;
}

void TRequestResponder::Sent(const TCanFrame& frame)
{
    if (waiting_.empty() || frame.IsNone()) return;
    if ((frame.Id & TCanHigh::GroupMask) == TCanHigh::TpCmGlobal) {
        if (frame.Data[0] == BamControl)
            waiting_.erase(GroupKey(Pgn24(frame.Data[5], frame.Data[6], frame.Data[7]) << 8));
        return;
    }
    if ((frame.Id & PfMask) == (AcknowledgementPgn << 8) && frame.Data[0] == NegativeAcknowledgement) {
        waiting_.erase(NackKey(frame.Data[4], Pgn24(frame.Data[5], frame.Data[6], frame.Data[7])));
        return;
    }
    waiting_.erase(GroupKey(frame.Id));
}

void TRequestResponder::Reset()
{
    waiting_.clear();
    counts_ = TRequestCounts();
}
