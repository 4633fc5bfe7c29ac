#include "fms/tcanhighdb.h"

void TCanHighDB::AddCanHigh(const TCanHigh& m)
{
    Items.push_back(m);
}

void TCanHighDB::AddFrame(const TCanFrame& f)
{
    for (TCanHigh& m : Items) {
        if (m.IsComplete()) continue;
        if (m.Add(f)) return;
    }
    TCanHigh fresh(TCanFrame::NoId);
    if (fresh.Add(f)) Items.push_back(std::move(fresh));
}

TCanFrame TCanHighDB::GetNextFrame(int64_t now)
{
    for (auto it = Items.begin(); it != Items.end(); ++it) {
        if (it->Time > now) continue;
        const TCanFrame f = it->GetFrame(now);
        if (f.IsNone()) continue;
        if (it->IsSent()) Items.erase(it);
        return f;
    }
    return TCanFrame();
}
