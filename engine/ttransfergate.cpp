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
    if (waiting_.empty()) return;
    TCanHigh next = std::move(waiting_.front());
    waiting_.pop_front();
    next.Time = std::max(next.Time, now + NextMillisecond);
    Release(std::move(next), queue);
}

void TTransferGate::Clear()
{
    waiting_.clear();
    busy_ = false;
}

void TTransferGate::Release(TCanHigh m, TCanHighDB& queue)
{
    busy_ = true;
    busyTxId_ = m.TxId;
    busyPackets_ = m.Packets();
    queue.AddCanHigh(m);
}
