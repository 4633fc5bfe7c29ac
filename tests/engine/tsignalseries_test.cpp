#include "engine/tsignalseries.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

struct TAppend {
    int64_t Time;
    double Value;
    char State = 0;
};

TSignalSeries Filled(std::size_t capacity, const std::vector<TAppend>& points)
{
    TSignalSeries s(capacity);
    for (const TAppend& p : points) s.Append(p.Time, p.Value, p.State);
    return s;
}

std::vector<int64_t> Times(const TSignalSeries& s)
{
    std::vector<int64_t> times;
    for (std::size_t i = 0; i < s.Size(); ++i) times.push_back(s.At(i).Time);
    return times;
}

}  // namespace

// A full series keeps the newest points in order and counts the ones it gave up.
TEST(TSignalSeries, KeepsTheNewestPointsInOrderAndCountsTheOnesReplaced)
{
    const struct {
        std::size_t Capacity;
        int Appended;   // points at 0, 20, 40, ... ms with value = their number
        std::vector<int64_t> Kept;
        uint64_t Dropped;
    } cases[] = {
        {4, 0, {}, 0},
        {4, 3, {0, 20000, 40000}, 0},
        {4, 4, {0, 20000, 40000, 60000}, 0},
        {4, 6, {40000, 60000, 80000, 100000}, 2},
        {4, 9, {100000, 120000, 140000, 160000}, 5},   // wrapped more than once
        {1, 3, {40000}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "capacity " << c.Capacity << ", appended " << c.Appended);
        TSignalSeries s(c.Capacity);
        for (int i = 0; i < c.Appended; ++i) EXPECT_TRUE(s.Append(20000LL * i, i));
        EXPECT_EQ(Times(s), c.Kept);
        EXPECT_EQ(s.Dropped(), c.Dropped);
        for (std::size_t i = 0; i < s.Size(); ++i) EXPECT_EQ(s.At(i).Value, static_cast<double>(s.At(i).Time / 20000));
    }
}

// A point earlier than the latest is refused and counted; one at the same time is kept.
TEST(TSignalSeries, RefusesAPointEarlierThanTheLatestAndCountsIt)
{
    TSignalSeries s(8);
    EXPECT_TRUE(s.Append(1000, 1));
    EXPECT_TRUE(s.Append(3000, 2));
    EXPECT_FALSE(s.Append(2999, 3));
    EXPECT_TRUE(s.Append(3000, 4));
    EXPECT_EQ(Times(s), (std::vector<int64_t>{1000, 3000, 3000}));
    EXPECT_EQ(s.OutOfOrder(), 1u);
    s.Clear();
    EXPECT_TRUE(s.Empty());
    EXPECT_EQ(s.OutOfOrder(), 0u);
    EXPECT_TRUE(s.Append(0, 5));   // a new run starts at 0 again
}

// The value that holds at a time is the last one sent at or before it.
TEST(TSignalSeries, ValueAtATimeIsTheLastOneSentAtOrBeforeIt)
{
    // Capacity 4 after six points: 20 ms (2), 20 ms (3), 40 ms (4), 60 ms (5) are kept.
    const TSignalSeries s = Filled(4, {{0, 0}, {10000, 1}, {20000, 2}, {20000, 3}, {40000, 4}, {60000, 5}});
    const struct {
        int64_t Time;
        bool Found;
        double Value;
        std::size_t LowerBound;
    } cases[] = {
        {0, false, 0, 0},         // before the oldest point kept
        {19999, false, 0, 0},
        {20000, true, 3, 0},      // the later of two points at one time
        {20001, true, 3, 2},
        {39999, true, 3, 2},
        {40000, true, 4, 2},
        {59999, true, 4, 3},
        {60000, true, 5, 3},
        {999999, true, 5, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Time);
        const TSeriesPoint* p = s.AtOrBefore(c.Time);
        ASSERT_EQ(p != nullptr, c.Found);
        if (p) {
            EXPECT_EQ(p->Value, c.Value);
        }
        EXPECT_EQ(s.LowerBound(c.Time), c.LowerBound);
    }
    EXPECT_EQ(TSignalSeries(4).AtOrBefore(0), nullptr);
}

// The extent of a range passes over points without a number (not available, error).
TEST(TSignalSeries, ExtentOfARangePassesOverPointsWithoutANumber)
{
    const double none = std::nan("");
    const TSignalSeries s =
        Filled(16, {{0, 5}, {20000, -2.5}, {40000, none, 'n'}, {60000, 12}, {80000, none, 'e'}, {100000, 7}});
    const struct {
        int64_t From, To;
        bool Any;
        double Low, High;
    } cases[] = {
        {0, 100000, true, -2.5, 12},
        {20000, 20000, true, -2.5, -2.5},
        {40000, 40000, false, 0, 0},
        {30000, 59999, false, 0, 0},
        {70000, 100000, true, 7, 7},
        {100001, 200000, false, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.From << ".." << c.To);
        double low = 0;
        double high = 0;
        ASSERT_EQ(s.Extent(c.From, c.To, low, high), c.Any);
        if (c.Any) {
            EXPECT_EQ(low, c.Low);
            EXPECT_EQ(high, c.High);
        }
    }
    EXPECT_FALSE(s.At(2).HasValue());
    EXPECT_EQ(s.At(2).State, 'n');
}

// A plot draws a line through at most four points per pixel column (first, smallest,
// largest, last), with the point before the range and the one after it, and breaks the
// line where a point has no number.
TEST(TSignalSeries, ColumnsGatherThePointsOfEachPixelColumn)
{
    const double none = std::nan("");
    // 51 points 20 ms apart over one second, values 0 1 2 3 0 1 2 3 ...
    std::vector<TAppend> saw;
    for (int i = 0; i <= 50; ++i) saw.push_back({20000LL * i, static_cast<double>(i % 4)});
    const struct {
        const char* What;
        std::vector<TAppend> Points;
        int64_t From, To;
        int Width;
        std::vector<TSeriesColumn> Expected;   // Column, First, Low, High, Last, Break
    } cases[] = {
        // 100 ms per column: column k holds the points from (k - 0.5) to (k + 0.5) x 100 ms.
        {"ten columns of a second",
         saw,
         0,
         1000000,
         10,
         {{0, 0, 0, 2, 2, false},
          {1, 3, 0, 3, 3, false},
          {2, 0, 0, 3, 0, false},
          {3, 1, 0, 3, 1, false},
          {4, 2, 0, 3, 2, false},
          {5, 3, 0, 3, 3, false},
          {6, 0, 0, 3, 0, false},
          {7, 1, 0, 3, 1, false},
          {8, 2, 0, 3, 2, false},
          {9, 3, 0, 3, 3, false},
          {10, 0, 0, 2, 2, false}}},
        // The line comes in from the last point before the range and leaves to the first
        // after it; the points farther out are not drawn.
        {"one point either side",
         {{0, 1}, {500000, 2}, {1500000, 5}, {2500000, 4}, {3000000, 6}},
         1000000,
         2000000,
         100,
         {{-50, 2, 2, 2, 2, false}, {50, 5, 5, 5, 5, false}, {150, 4, 4, 4, 4, false}}},
        {"a point without a number breaks the line",
         {{0, 1}, {100000, none, 'n'}, {200000, 2}, {210000, 3}, {300000, none, 'e'}, {300000, 4}},
         0,
         1000000,
         10,
         {{0, 1, 1, 1, 1, false}, {2, 2, 2, 3, 3, true}, {3, 4, 4, 4, 4, true}}},
        {"nothing to join before the first number",
         {{0, none, 'n'}, {100000, 7}},
         0,
         1000000,
         10,
         {{1, 7, 7, 7, 7, false}}},
        {"a break inside one column starts it again",
         {{0, 1}, {10000, none, 'n'}, {20000, 2}},
         0,
         1000000,
         10,
         {{0, 1, 1, 1, 1, false}, {0, 2, 2, 2, 2, true}}},
        {"no points", {}, 0, 1000000, 10, {}},
        {"no width", saw, 0, 1000000, 0, {}},
        {"an empty range", saw, 500000, 500000, 10, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        const TSignalSeries s = Filled(64, c.Points);
        std::vector<TSeriesColumn> got{{99, 9, 9, 9, 9, true}};   // replaced, not appended to
        s.Columns(c.From, c.To, c.Width, got);
        ASSERT_EQ(got.size(), c.Expected.size());
        for (std::size_t k = 0; k < got.size(); ++k) {
            SCOPED_TRACE(k);
            EXPECT_EQ(got[k].Column, c.Expected[k].Column);
            EXPECT_EQ(got[k].First, c.Expected[k].First);
            EXPECT_EQ(got[k].Low, c.Expected[k].Low);
            EXPECT_EQ(got[k].High, c.Expected[k].High);
            EXPECT_EQ(got[k].Last, c.Expected[k].Last);
            EXPECT_EQ(got[k].Break, c.Expected[k].Break);
        }
    }
}

// An hour of a 20 ms signal on a plot 800 pixels wide: one entry per pixel column, each
// with the extremes of its 225 points.
TEST(TSignalSeries, AnHourOfPointsGivesNoMoreColumnsThanPixels)
{
    TSignalSeries s(200000);
    for (int i = 0; i < 180000; ++i) s.Append(20000LL * i, static_cast<double>(i % 1000));
    std::vector<TSeriesColumn> columns;
    s.Columns(0, 3600000000LL, 800, columns);
    ASSERT_EQ(columns.size(), 801u);
    for (std::size_t k = 0; k < columns.size(); ++k) EXPECT_EQ(columns[k].Column, static_cast<int>(k));
    // 4.5 s per column: column 400 holds 1797.75 s .. 1802.25 s, points 89888 .. 90112,
    // values 888 .. 999 and 0 .. 112.
    EXPECT_EQ(columns[400].First, 888);
    EXPECT_EQ(columns[400].Low, 0);
    EXPECT_EQ(columns[400].High, 999);
    EXPECT_EQ(columns[400].Last, 112);
}
