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
