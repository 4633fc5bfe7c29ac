#include "sim/teditrule.h"
#include "sim/tgaugegeometry.h"

#include <gtest/gtest.h>

namespace {

// 0..120 km/h, 12 intervals, factor 0.01 on a 200 x 200 image: cx = cy = 100.
TEST(TGaugeGeometry, SpeedScaleNeedlePointsUpAtTheMiddle)
{
    TGaugeGeometry g(200, 200, 0, 120, 12, 0.01, 0);
    EXPECT_DOUBLE_EQ(g.Value(6000), 60.0);
    // Straight up: sin(pi) is a hair above 0 in doubles, so x truncates to 99.
    EXPECT_EQ(g.NeedleTip(g.Value(6000)), (TGaugePoint{99, 20}));
    // The minimum lies at the lower left, the maximum at the lower right:
    // angle pi/4 gives (100 - 0.7071 * 80, 0.7071 * 80 + 100) = (43.4, 156.6).
    EXPECT_EQ(g.NeedleTip(0), (TGaugePoint{43, 156}));
    EXPECT_EQ(g.NeedleTip(120), (TGaugePoint{156, 156}));
    EXPECT_EQ(g.Centre(), (TGaugePoint{100, 100}));
    EXPECT_EQ(g.DialRx(), 95);
}

TEST(TGaugeGeometry, MarksSpanTheScaleWithIntervalsPlusOne)
{
    TGaugeGeometry g(200, 200, 0, 120, 12, 0.01, 0);
    // First mark at pi/4: (100 - 0.7071 * 85, 0.7071 * 85 + 100) = (39.9, 160.1).
    EXPECT_EQ(g.Mark(0), (TGaugePoint{39, 160}));
    // Mark 6 of 12 is at the top: (100, 100 - 85).
    EXPECT_EQ(g.Mark(6), (TGaugePoint{99, 15}));
    EXPECT_EQ(g.Mark(12), (TGaugePoint{160, 160}));
}

TEST(TGaugeGeometry, OffsetAndNonZeroMinimumShiftTheScale)
{
    // Rev counter 500..3000 rpm, raw in 0.125 rpm with offset 0: 1750 rpm is the middle.
    TGaugeGeometry g(100, 100, 500, 3000, 5, 0.125, 0);
    EXPECT_EQ(g.NeedleTip(g.Value(14000)), (TGaugePoint{49, 10}));
    TGaugeGeometry shifted(100, 100, 0, 100, 10, 1, 40);
    EXPECT_DOUBLE_EQ(shifted.Value(90), 50);
}

TEST(TEditRule, LengthAndNumberRules)
{
    TLengthRule len(2, 4);
    EXPECT_FALSE(len.IsValid("a"));
    EXPECT_TRUE(len.IsValid("ab"));
    EXPECT_TRUE(len.IsValid("abcd"));
    EXPECT_FALSE(len.IsValid("abcde"));
    EXPECT_TRUE(TLengthRule(0, -1).IsValid(TAString(std::string(5000, 'x'))));

    TNumberRule num(0, 250);
    EXPECT_TRUE(num.IsValid("0"));
    EXPECT_TRUE(num.IsValid("250"));
    EXPECT_TRUE(num.IsValid(" 12.5"));
    EXPECT_FALSE(num.IsValid("250.01"));
    EXPECT_FALSE(num.IsValid("-1"));
    EXPECT_FALSE(num.IsValid("1e2"));
    EXPECT_FALSE(num.IsValid(""));
}

TEST(TEditRule, ColourShowsValidityAndChange)
{
    EXPECT_EQ(EditColour(false, "x", "x"), TEditColour::Red);
    EXPECT_EQ(EditColour(true, "12", "12"), TEditColour::Black);
    EXPECT_EQ(EditColour(true, "13", "12"), TEditColour::Green);
}

}  // namespace
