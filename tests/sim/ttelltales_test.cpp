#include "sim/ttelltales.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(TTellTales, SixClicksReturnToOffAndFourAndFiveNeverOccur)
{
    TTellTales t;
    const int expected[] = {1, 2, 3, 6, 7, 0};
    for (int s : expected) {
        ASSERT_TRUE(t.Click(5));
        EXPECT_EQ(t.State(5), s);
    }
    EXPECT_EQ(TTellTales::NextState(4), 0);
    EXPECT_EQ(TTellTales::NextState(5), 0);
    EXPECT_FALSE(t.Click(41));
    EXPECT_FALSE(t.Click(-1));
}

TEST(TTellTales, TextHasOneDigitPerTellTale)
{
    TTellTales t;
    EXPECT_EQ(t.Text(), TAString(std::string(41, '0')));
    t.Click(0);
    t.Click(40);
    t.Click(40);
    EXPECT_EQ(t.Text(), TAString("1" + std::string(39, '0') + "2"));
}

TEST(TTellTales, HintNamesStateCellAndTellTale)
{
    TTellTales t;
    EXPECT_EQ(t.Hint(0), "Off - 1 - Cooling air conditioning");
    for (int i = 0; i < 3; ++i) t.Click(1);
    EXPECT_EQ(t.Hint(1), "Cond. Info - 2 - High beam, main beam");
    t.SetState(40, 7);
    EXPECT_EQ(t.Hint(40), "Not available - 41 - Ad blue level");
    EXPECT_EQ(t.Hint(41), "");
    EXPECT_EQ(TTellTales::StateName(1), "Cond. Red - ");
    EXPECT_EQ(TTellTales::StateName(2), "Cond. Yellow - ");
    EXPECT_EQ(TTellTales::StateName(4), "Reserved - ");
    EXPECT_EQ(TTellTales::StateName(6), "Reserved - ");
}

TEST(TTellTales, CellsAreThirtyTwoPixelsEightToARow)
{
    EXPECT_EQ(TTellTales::CellAt(0, 0), 0);
    EXPECT_EQ(TTellTales::CellAt(31, 31), 0);
    EXPECT_EQ(TTellTales::CellAt(32, 0), 1);
    EXPECT_EQ(TTellTales::CellAt(0, 32), 8);
    EXPECT_EQ(TTellTales::CellAt(0, 160), 40);
    EXPECT_EQ(TTellTales::CellAt(33, 160), 41);    // beyond the last tell-tale
    EXPECT_EQ(TTellTales::CellAt(255, 191), 47);
    EXPECT_EQ(TTellTales::CellAt(256, 0), -1);
    EXPECT_EQ(TTellTales::CellAt(-1, 0), -1);
}

TEST(TTellTales, TintScalesEachChannelByTheStateColourOver256)
{
    EXPECT_EQ(TTellTales::Tint(255, 0), (TTellTaleColour{127, 127, 127}));
    EXPECT_EQ(TTellTales::Tint(255, 3), (TTellTaleColour{254, 254, 254}));
    EXPECT_EQ(TTellTales::Tint(200, 1), (TTellTaleColour{199, 100, 100}));
    EXPECT_EQ(TTellTales::Tint(200, 2), (TTellTaleColour{199, 199, 100}));
    EXPECT_EQ(TTellTales::Tint(255, 6), (TTellTaleColour{0, 0, 254}));
    EXPECT_EQ(TTellTales::Tint(255, 4), (TTellTaleColour{0, 0, 254}));
    EXPECT_EQ(TTellTales::Tint(255, 7), (TTellTaleColour{0, 0, 0}));
    EXPECT_EQ(TTellTales::Tint(0, 3), (TTellTaleColour{0, 0, 0}));
}

}  // namespace
