#pragma once
// The signals a plot shows and the values each was sent with: one TSignalSeries per
// signal, addressed by the signal's catalogue index, in the order they were picked.
//
// Append is cheap enough to be called for every value of every frame that leaves: a
// signal that is not plotted costs one table look-up. Signals are grouped by unit, one
// plot per unit, in the order the first signal of each unit was picked.
//
// Csv writes the plotted data as the user exports them: a header "time [s]" and one
// column "<name> [<unit>]" per signal, then one row per point in time order; a signal
// with no point at that time leaves its cell empty. Times are seconds with 6 decimals
// (the µs of the point), values the shortest text that reads back as the same double,
// and a point without a value its state's letter ("n", "e"). Of points at one time,
// each has a row of its own: nothing is merged away. Fields holding a comma or a quote
// are quoted. Lines end with "\r\n" (RFC 4180).
//
// Not thread-safe: the window thread appends and reads.

#include "engine/tsignalseries.h"
#include "support/tastring.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TPlotStore {
public:
    struct TSignal {
        int Index = 0;
        TAString Name;
        TAString Unit;
        TSignalSeries Series;
    };

    explicit TPlotStore(std::size_t capacity = TSignalSeries::DefaultCapacity) : capacity_(capacity) {}

    // Starts plotting signal index (an empty series); false when it is plotted already.
    bool Add(int index, const TAString& name, const TAString& unit);
    // Stops plotting it and forgets its points; false when it was not plotted.
    bool Remove(int index);
    void RemoveAll();
    // Empties every series (a new run), keeping the signals.
    void ClearSeries();
    bool Plotted(int index) const { return Slot(index) >= 0; }
    const TSignal* Find(int index) const;

    // A value of signal index was sent at time (µs); ignored when it is not plotted.
    // False when it was plotted but refused (earlier than its latest point).
    bool Append(int index, int64_t time, double value, char state = 0);

    const std::vector<std::unique_ptr<TSignal>>& Signals() const { return signals_; }
    // The distinct units, in the order their first signal was picked.
    std::vector<TAString> Units() const;
    // The signals of one unit, in the order they were picked.
    std::vector<const TSignal*> SignalsOf(const TAString& unit) const;
    // The latest time of any point; 0 without points.
    int64_t LatestTime() const;
    // The earliest time of any point kept; 0 without points.
    int64_t EarliestTime() const;
    // Points of every series replaced by newer ones, or refused as out of order.
    uint64_t Dropped() const;
    uint64_t OutOfOrder() const;
    // Frames that passed the feed by before it could read them (since ClearSeries).
    void NoteMissed(uint64_t frames) { missed_ += frames; }
    uint64_t Missed() const { return missed_; }

    // The points in [from, to] of every signal, as described above.
    std::string Csv(int64_t from, int64_t to) const;

private:
    int Slot(int index) const
    {
        return index >= 0 && static_cast<std::size_t>(index) < slots_.size() ? slots_[static_cast<std::size_t>(index)]
                                                                             : -1;
    }
    void Reindex();

    std::size_t capacity_;
    uint64_t missed_ = 0;
    std::vector<std::unique_ptr<TSignal>> signals_;
    std::vector<int> slots_;   // catalogue index -> position in signals_, -1 when not plotted
};
