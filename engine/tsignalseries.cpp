#include "engine/tsignalseries.h"

#include <algorithm>
#include <cmath>

TSignalSeries::TSignalSeries(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {}

bool TSignalSeries::Append(int64_t time, double value, char state)
{
    if (size_ > 0 && time < Back().Time) {
        ++outOfOrder_;
        return false;
    }
    const TSeriesPoint point{time, value, state};
    if (size_ < capacity_) {
        // The ring only wraps once it is full, so until then slot i is points_[i].
        points_.push_back(point);
        ++size_;
        return true;
    }
    points_[head_] = point;
    head_ = head_ + 1 == capacity_ ? 0 : head_ + 1;
    ++dropped_;
    return true;
}

void TSignalSeries::Clear()
{
    points_.clear();
    head_ = 0;
    size_ = 0;
    dropped_ = 0;
    outOfOrder_ = 0;
}

std::size_t TSignalSeries::LowerBound(int64_t time) const
{
    std::size_t lo = 0;
    std::size_t hi = size_;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (At(mid).Time < time)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

const TSeriesPoint* TSignalSeries::AtOrBefore(int64_t time) const
{
    // The first point after time, then one back: of several points at the same time the
    // last one sent is the value that holds.
    std::size_t lo = 0;
    std::size_t hi = size_;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (At(mid).Time <= time)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo == 0 ? nullptr : &At(lo - 1);
}

bool TSignalSeries::Extent(int64_t from, int64_t to, double& low, double& high) const
{
    bool any = false;
    for (std::size_t i = LowerBound(from); i < size_; ++i) {
        const TSeriesPoint& p = At(i);
        if (p.Time > to) break;
        if (!p.HasValue()) continue;
        if (!any) {
            low = high = p.Value;
            any = true;
        } else {
            low = std::min(low, p.Value);
            high = std::max(high, p.Value);
        }
    }
    return any;
}

void TSignalSeries::Columns(int64_t from, int64_t to, int width, std::vector<TSeriesColumn>& columns) const
{
    columns.clear();
    if (size_ == 0 || to <= from || width <= 0) return;
    // Far outside the plot a column only sets the slope of the line coming in or going
    // out; the bound keeps the column an int.
    constexpr double Far = 1 << 24;
    const double scale = static_cast<double>(width) / static_cast<double>(to - from);
    std::size_t i = LowerBound(from);
    if (i > 0) --i;
    bool broken = false;
    for (; i < size_; ++i) {
        const TSeriesPoint& p = At(i);
        if (!p.HasValue()) {
            broken = true;
            if (p.Time > to) break;
            continue;
        }
        const int column = static_cast<int>(std::lround(std::clamp(static_cast<double>(p.Time - from) * scale, -Far, Far)));
        if (columns.empty() || broken || columns.back().Column != column) {
            columns.push_back({column, p.Value, p.Value, p.Value, p.Value, broken && !columns.empty()});
            broken = false;
        } else {
            TSeriesColumn& c = columns.back();
            c.Low = std::min(c.Low, p.Value);
            c.High = std::max(c.High, p.Value);
            c.Last = p.Value;
        }
        if (p.Time > to) break;
    }
}
