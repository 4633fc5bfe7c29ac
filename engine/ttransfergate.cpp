#include "engine/ttransfergate.h"

#include "fms/tcanhighdb.h"

#include <algorithm>
#include <utility>

void TTransferGate::Queue(const TCanHigh& m, TCanHighDB& queue)
{
    if (m.Length() <= 8) {
        queue.AddCanHigh(m);
        return;
    }
    if (busy_) {
        waiting_.push_back(m);
        return;
    }
    Release(m, queue);
}

void TTransferGate::Sent(const TCanFrame& frame, int64_t now, TCanHighDB& queue)
{
    if (!busy_ || frame.Id != busyTxId_ || frame.Data[0] != busyPackets_) return;
    busy_ = false;
    scheduledEnd_ = std::max(scheduledEnd_, frame.Time);
    // The answers that arrived meanwhile come first: they are older.
    while (!unplanned_.empty()) {
        Plan(std::move(unplanned_.front()));
        unplanned_.pop_front();
    }
    if (waiting_.empty()) return;
    TCanHigh next = std::move(waiting_.front());
    waiting_.pop_front();
    next.Time = std::max(next.Time, now + NextMillisecond);
    Release(std::move(next), queue);
}

void TTransferGate::QueueAnswer(TCanHigh m, int64_t arrival)
{
    m.Time = arrival;
    if (busy_) {
        unplanned_.push_back(std::move(m));
        return;
    }
    Plan(std::move(m));
}

void TTransferGate::Plan(TCanHigh m)
{
    m.Time = std::max({m.Time, scheduledEnd_ + NextMillisecond, answerEnd_ + NextMillisecond});
    answerEnd_ = m.Time + m.Packets() * TCanHigh::PacketSpacing;
    planned_.push_back(std::move(m));
}

TCanFrame TTransferGate::NextAnswerFrame(int64_t wireNow)
{
    if (planned_.empty()) return TCanFrame();
    TCanHigh& m = planned_.front();
    const TCanFrame f = m.GetFrame(wireNow);
    if (m.IsSent()) planned_.pop_front();
    return f;
}

void TTransferGate::Clear()
{
    waiting_.clear();
    planned_.clear();
    unplanned_.clear();
    busy_ = false;
    scheduledEnd_ = NoTime;
    answerEnd_ = NoTime;
}

void TTransferGate::Release(TCanHigh m, TCanHighDB& queue)
{
    // On the wire after every answer planned so far.
    m.Time = std::max(m.Time, answerEnd_ + AnswerGap);
    busy_ = true;
    busyTxId_ = m.TxId;
    busyPackets_ = m.Packets();
    queue.AddCanHigh(m);
}
