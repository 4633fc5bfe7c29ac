#include "engine/tplotfeed.h"

#include "engine/tframetrace.h"
#include "fms/tbusfmsstandard.h"
#include "fms/tfmsmeasval.h"
#include "fms/tmeasval.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

bool IsNumber(const TFmsMeasVal& s)
{
    return dynamic_cast<const TMeasValDouble*>(s.MeasVal.get()) != nullptr && s.StartBit != TFmsMeasVal::AfterData &&
           s.BitLength != TFmsMeasVal::TextLength && s.BitLength >= 1 && s.BitLength <= 32 && s.StartBit + s.BitLength <= 64;
}

// The parameter group of an extended identifier: data page and PDU format, with the PDU
// specific byte for PDU format 240 and above.
uint32_t PgnOf(uint32_t id)
{
    const uint32_t pf = (id >> 16) & 0xFF;
    return pf >= 240 ? (id >> 8) & 0x3FFFF : (id >> 8) & 0x3FF00;
}

}  // namespace

TPlotFeed::TPlotFeed() : catalogue_(std::make_unique<TBusFmsStandard>("00.02"))
{
    for (int i = 0; i < catalogue_->SignalCount(); ++i) {
        const TFmsMeasVal& s = catalogue_->Signal(i);
        if (!IsNumber(s)) continue;
        const uint32_t pgn = s.CanId >> 8;
        auto it = std::find_if(groups_.begin(), groups_.end(), [pgn](const TGroup& g) { return g.Pgn == pgn; });
        if (it == groups_.end()) it = groups_.insert(groups_.end(), TGroup{pgn, {}});
        it->Signals.push_back(i);
    }
    std::sort(groups_.begin(), groups_.end(), [](const TGroup& a, const TGroup& b) { return a.Pgn < b.Pgn; });
}

TPlotFeed::~TPlotFeed() = default;

bool TPlotFeed::Plottable(int index) const
{
    return index >= 0 && index < catalogue_->SignalCount() && IsNumber(catalogue_->Signal(index));
}

void TPlotFeed::Frame(uint32_t id, bool extended, uint8_t length, const std::array<uint8_t, 8>& data, int64_t time,
                      TPlotStore& store) const
{
    if (!extended || store.Signals().empty()) return;
    const uint32_t pgn = PgnOf(id);
    const auto it = std::lower_bound(groups_.begin(), groups_.end(), pgn,
                                     [](const TGroup& g, uint32_t p) { return g.Pgn < p; });
    if (it == groups_.end() || it->Pgn != pgn) return;
    for (int index : it->Signals) {
        if (!store.Plotted(index)) continue;
        double value = 0.0;
        char state = 0;
        if (Decode(catalogue_->Signal(index), data, length, value, state)) store.Append(index, time, value, state);
    }
}

uint64_t TPlotFeed::FromTrace(const TFrameTrace& trace, uint64_t after, TPlotStore& store) const
{
    const TFrameTrace::TBatch batch = trace.Since(after);
    if (batch.Missed > 0) store.NoteMissed(batch.Missed);
    for (const TTraceFrame& f : batch.Frames)
        if (f.Direction == TTraceFrame::Tx) Frame(f.Id, f.Extended, f.Length, f.Data, f.Time, store);
    return batch.Until;
}

bool TPlotFeed::Decode(const TFmsMeasVal& signal, const std::array<uint8_t, 8>& data, uint8_t length, double& value,
                       char& state)
{
    const int bits = signal.BitLength;
    const int start = signal.StartBit;
    if (bits < 1 || bits > 32 || start + bits > 8 * std::min<int>(length, 8)) return false;
    uint64_t raw = 0;
    for (int b = 0; b < bits; ++b)
        raw |= static_cast<uint64_t>((data[static_cast<std::size_t>((start + b) / 8)] >> ((start + b) % 8)) & 1u) << b;
    state = 0;
    if (bits >= 8) {
        static const char codes[] = {'p', 'r', 'R', 'e', 'n'};   // FB .. FF
        const uint64_t top = raw >> (bits - 8);
        if (top >= 0xFB) state = codes[top - 0xFB];
    } else {
        const uint64_t all = (uint64_t{1} << bits) - 1;
        if (raw == all) state = 'n';
        else if (bits >= 2 && raw == all - 1) state = 'e';
    }
    if (state != 0) {
        value = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    value = static_cast<double>(raw) * signal.Resolution + signal.Offset;
    if (const auto* number = dynamic_cast<const TMeasValDouble*>(signal.MeasVal.get()))
        if (value < number->Min || value > number->Max) state = 'o';
    return true;
}
