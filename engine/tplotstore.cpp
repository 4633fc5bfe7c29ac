#include "engine/tplotstore.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

void Field(std::string& out, const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        out += text;
        return;
    }
    out += '"';
    for (char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

void Seconds(std::string& out, int64_t micros)
{
    const bool negative = micros < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(micros) : static_cast<uint64_t>(micros);
    char text[32];
    std::snprintf(text, sizeof text, "%s%llu.%06llu", negative ? "-" : "",
                  static_cast<unsigned long long>(magnitude / 1000000), static_cast<unsigned long long>(magnitude % 1000000));
    out += text;
}

void Value(std::string& out, const TSeriesPoint& p)
{
    if (!p.HasValue()) {
        out += p.State != 0 ? p.State : '*';
        return;
    }
    char text[64];
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, p.Value);
    out.append(text, r.ptr);
}

}  // namespace

bool TPlotStore::Add(int index, const TAString& name, const TAString& unit)
{
    if (index < 0 || Plotted(index)) return false;
    auto signal = std::make_unique<TSignal>(TSignal{index, name, unit, TSignalSeries(capacity_)});
    signals_.push_back(std::move(signal));
    Reindex();
    return true;
}

bool TPlotStore::Remove(int index)
{
    const int slot = Slot(index);
    if (slot < 0) return false;
    signals_.erase(signals_.begin() + slot);
    Reindex();
    return true;
}

void TPlotStore::RemoveAll()
{
    signals_.clear();
    slots_.clear();
}

void TPlotStore::ClearSeries()
{
    missed_ = 0;
    for (auto& s : signals_) s->Series.Clear();
}

const TPlotStore::TSignal* TPlotStore::Find(int index) const
{
    const int slot = Slot(index);
    return slot < 0 ? nullptr : signals_[static_cast<std::size_t>(slot)].get();
}

bool TPlotStore::Append(int index, int64_t time, double value, char state)
{
    const int slot = Slot(index);
    if (slot < 0) return true;
    return signals_[static_cast<std::size_t>(slot)]->Series.Append(time, value, state);
}

std::vector<TAString> TPlotStore::Units() const
{
    std::vector<TAString> units;
    for (const auto& s : signals_)
        if (std::find(units.begin(), units.end(), s->Unit) == units.end()) units.push_back(s->Unit);
    return units;
}

std::vector<const TPlotStore::TSignal*> TPlotStore::SignalsOf(const TAString& unit) const
{
    std::vector<const TSignal*> of;
    for (const auto& s : signals_)
        if (s->Unit == unit) of.push_back(s.get());
    return of;
}

int64_t TPlotStore::LatestTime() const
{
    int64_t latest = 0;
    bool any = false;
    for (const auto& s : signals_) {
        if (s->Series.Empty()) continue;
        latest = any ? std::max(latest, s->Series.Back().Time) : s->Series.Back().Time;
        any = true;
    }
    return latest;
}

int64_t TPlotStore::EarliestTime() const
{
    int64_t earliest = 0;
    bool any = false;
    for (const auto& s : signals_) {
        if (s->Series.Empty()) continue;
        earliest = any ? std::min(earliest, s->Series.Front().Time) : s->Series.Front().Time;
        any = true;
    }
    return earliest;
}

uint64_t TPlotStore::Dropped() const
{
    uint64_t n = 0;
    for (const auto& s : signals_) n += s->Series.Dropped();
    return n;
}

uint64_t TPlotStore::OutOfOrder() const
{
    uint64_t n = 0;
    for (const auto& s : signals_) n += s->Series.OutOfOrder();
    return n;
}

std::string TPlotStore::Csv(int64_t from, int64_t to) const
{
    std::string out = "time [s]";
    for (const auto& s : signals_) {
        out += ',';
        Field(out, s->Name.str() + (s->Unit.IsEmpty() ? std::string() : " [" + s->Unit.str() + "]"));
    }
    out += "\r\n";

    // A merge of the series by time: each row takes the next point of every series
    // that has one at the row's time.
    std::vector<std::size_t> next;
    std::vector<std::size_t> end;
    for (const auto& s : signals_) {
        next.push_back(s->Series.LowerBound(from));
        end.push_back(to == INT64_MAX ? s->Series.Size() : s->Series.LowerBound(to + 1));
    }
    for (;;) {
        bool any = false;
        int64_t time = 0;
        for (std::size_t k = 0; k < signals_.size(); ++k) {
            if (next[k] >= end[k]) continue;
            const int64_t t = signals_[k]->Series.At(next[k]).Time;
            time = any ? std::min(time, t) : t;
            any = true;
        }
        if (!any) break;
        Seconds(out, time);
        for (std::size_t k = 0; k < signals_.size(); ++k) {
            out += ',';
            if (next[k] >= end[k]) continue;
            const TSeriesPoint& p = signals_[k]->Series.At(next[k]);
            if (p.Time != time) continue;
            Value(out, p);
            ++next[k];
        }
        out += "\r\n";
    }
    return out;
}

void TPlotStore::Reindex()
{
    int top = -1;
    for (const auto& s : signals_) top = std::max(top, s->Index);
    slots_.assign(static_cast<std::size_t>(top + 1), -1);
    for (std::size_t i = 0; i < signals_.size(); ++i)
        slots_[static_cast<std::size_t>(signals_[i]->Index)] = static_cast<int>(i);
}
