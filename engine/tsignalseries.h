#pragma once
// The values one signal took over a run, as they were sent: a bounded series of
// (time, value) points in time order, for a plot.
//
// Appending is O(1) and allocates only while the series grows towards its capacity
// (amortised); once full, each new point replaces the oldest one, which is counted in
// Dropped() so that a view can say that its beginning is gone. A point earlier than the
// latest one is not stored (a series is of one run, where time only goes on): it is
// counted in OutOfOrder(), never silently placed elsewhere.
//
// A value sent in a state without a number ("not available", "error", ...) is a point
// with that state's letter and no value (NaN): a plot leaves a gap there and the CSV
// export writes the letter. Out of range ('o') keeps its number.
//
// Not thread-safe: one thread appends and reads (the window thread).

#include <cstddef>
#include <cstdint>
#include <vector>

struct TSeriesPoint {
    int64_t Time = 0;    // µs since the run started
    double Value = 0.0;  // NaN when the state has no number
    char State = 0;      // 0 valid, else the state's letter ('o', 'n', 'e', 'R', 'r', 'p', '*')

    bool HasValue() const { return Value == Value; }
};

// The points of a series that fall into one pixel column of a plot, as a line through
// them is drawn: the first, smallest, largest and last value. Break: a point without a
// value came before this column's points, so the line does not join the column before.
struct TSeriesColumn {
    int Column = 0;
    double First = 0.0;
    double Low = 0.0;
    double High = 0.0;
    double Last = 0.0;
    bool Break = false;
};

class TSignalSeries {
public:
    // One hour of a 20 ms signal would need 180,000; 100,000 points hold 33 minutes of
    // it and 2.4 MB.
    static constexpr std::size_t DefaultCapacity = 100000;

    explicit TSignalSeries(std::size_t capacity = DefaultCapacity);

    // Stores the point unless time is earlier than the latest point's (then false).
    bool Append(int64_t time, double value, char state = 0);
    void Clear();

    std::size_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }
    std::size_t Capacity() const { return capacity_; }
    // Points replaced by newer ones since the last Clear.
    uint64_t Dropped() const { return dropped_; }
    // Points refused because they were earlier than the latest one.
    uint64_t OutOfOrder() const { return outOfOrder_; }

    // Point i, 0 the oldest kept; i < Size().
    const TSeriesPoint& At(std::size_t i) const { return points_[Slot(i)]; }
    const TSeriesPoint& Front() const { return At(0); }
    const TSeriesPoint& Back() const { return At(size_ - 1); }

    // Index of the first point at or after time (Size() when none), by bisection.
    std::size_t LowerBound(int64_t time) const;
    // The latest point at or before time (a value holds until the next one is sent);
    // nullptr when the series starts after time or is empty.
    const TSeriesPoint* AtOrBefore(int64_t time) const;
    // The smallest and largest value of the points in [from, to] that have one; false
    // when there is none.
    bool Extent(int64_t from, int64_t to, double& low, double& high) const;
    // The points from the last one before from to the first one after to (so that the
    // line comes in from the left and leaves to the right), gathered into the pixel
    // columns of a plot width pixels wide that shows [from, to]: a point at time t falls
    // into column round((t - from) / (to - from) * width), which is below 0 or above
    // width for the points outside. An hour of a 20 ms signal gives no more columns than
    // the plot has pixels. Replaces columns.
    void Columns(int64_t from, int64_t to, int width, std::vector<TSeriesColumn>& columns) const;

private:
    std::size_t Slot(std::size_t i) const
    {
        const std::size_t s = head_ + i;
        return s < capacity_ ? s : s - capacity_;
    }

    std::vector<TSeriesPoint> points_;
    std::size_t capacity_;
    std::size_t head_ = 0;   // slot of the oldest point
    std::size_t size_ = 0;
    uint64_t dropped_ = 0;
    uint64_t outOfOrder_ = 0;
};
