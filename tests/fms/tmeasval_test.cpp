#include "fms/tmeasval.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TMeasValDouble Speed(double v)
{
    return TMeasValDouble(v, 0.0, 250.9965, 1.0, 2.0, 0.0, -1.0);
}

}  // namespace

TEST(TMeasState, LettersAreCaseSensitiveAndCoverEveryCodedState)
{
    struct Row { const char* text; TMeasState state; };
    const Row rows[] = {{"*", msNotSet},    {"o", msOutOfRange}, {"n", msNotAvailable}, {"p", msParamSpecific},
                        {"r", msReserved1}, {"R", msReserved2},  {"e", msError}};
    for (const auto& r : rows) {
        TMeasState s = msValid;
        EXPECT_TRUE(MeasStateFromText(r.text, s)) << r.text;
        EXPECT_EQ(s, r.state) << r.text;
        EXPECT_EQ(MeasStateText(r.state), r.text);
    }
    TMeasState s = msValid;
    EXPECT_FALSE(MeasStateFromText("E", s));
    EXPECT_FALSE(MeasStateFromText("P", s));
    EXPECT_FALSE(MeasStateFromText("ee", s));
    EXPECT_FALSE(MeasStateFromText("", s));
    EXPECT_EQ(MeasStateText(msValid), "");
}

TEST(TMeasValDouble, StateFollowsRangeAndInvalidWindow)
{
    EXPECT_EQ(Speed(0.0).State, msValid);
    EXPECT_EQ(Speed(250.9965).State, msValid);
    EXPECT_EQ(Speed(300.0).State, msOutOfRange);
    EXPECT_EQ(Speed(-0.001).State, msOutOfRange);
    // No value of the range is nearest to a NaN: it cannot be sent as one, it is an error.
    EXPECT_EQ(Speed(std::nan("")).State, msError);

    TMeasValDouble windowed(5.0, 0.0, 100.0, 1.0, 2.0, 10.0, 20.0);
    EXPECT_EQ(windowed.State, msValid);
    windowed.SetValue(10.0);
    EXPECT_EQ(windowed.State, msOutOfRange);
    windowed.SetValue(20.0);
    EXPECT_EQ(windowed.State, msOutOfRange);
    windowed.SetValue(20.5);
    EXPECT_EQ(windowed.State, msValid);
    EXPECT_DOUBLE_EQ(windowed.Value, 20.5);
}

TEST(TMeasValDouble, IsEqualUsesOwnToleranceOnlyWhenValid)
{
    const auto a = Speed(100.0);
    EXPECT_TRUE(a.IsEqual(Speed(101.0)));
    EXPECT_TRUE(a.IsEqual(Speed(99.0)));
    EXPECT_FALSE(a.IsEqual(Speed(101.5)));

    auto e1 = Speed(10.0);
    auto e2 = Speed(200.0);
    e1.State = msError;
    e2.State = msError;
    EXPECT_TRUE(e1.IsEqual(e2));
    e2.State = msNotAvailable;
    EXPECT_FALSE(e1.IsEqual(e2));
}

TEST(TMeasVal, IsEqualAcrossClassesIsFalse)
{
    TMeasValDouble d(0.0, 0.0, 10.0, 1.0, 2.0, 0.0, -1.0);
    TMeasValEnum e(0, "off,on");
    TMeasValString s("");
    TMeasValTTS t;
    // All valid with "empty" content, so only the class tells them apart.
    EXPECT_FALSE(d.IsEqual(e));
    EXPECT_FALSE(e.IsEqual(d));
    EXPECT_FALSE(s.IsEqual(t));
    EXPECT_FALSE(t.IsEqual(s));
    EXPECT_FALSE(s.IsEqual(e));
    TMeasValString s41(std::string(41, '7'));
    EXPECT_FALSE(s41.IsEqual(t));
    EXPECT_TRUE(t.IsEqual(TMeasValTTS()));
}

TEST(TMeasValEnum, TextsAndIndexState)
{
    TMeasValEnum e(1, "no,yes,reserved,don't_care");
    ASSERT_EQ(e.Texts.size(), 4u);
    EXPECT_EQ(e.Texts[3], "don't_care");
    EXPECT_EQ(e.State, msValid);
    e.SetIndex(4);
    EXPECT_EQ(e.State, msOutOfRange);
    EXPECT_EQ(e.Index, 4u);

    TMeasValEnum gap(1, "a,,b");
    ASSERT_EQ(gap.Texts.size(), 3u);
    EXPECT_EQ(gap.State, msOutOfRange);   // an empty entry is no valid index
    gap.SetIndex(2);
    EXPECT_EQ(gap.State, msValid);

    EXPECT_TRUE(TMeasValEnum(2, "a,b,c").IsEqual(TMeasValEnum(2, "x,y,z")));
    EXPECT_FALSE(TMeasValEnum(1, "a,b,c").IsEqual(TMeasValEnum(2, "a,b,c")));
}

TEST(TMeasValString, ValidAtConstructionAndComparesText)
{
    TMeasValString s("56656869636C65");
    EXPECT_EQ(s.State, msValid);
    EXPECT_TRUE(s.IsEqual(TMeasValString("56656869636C65")));
    EXPECT_FALSE(s.IsEqual(TMeasValString("56")));
    s.Reset();
    EXPECT_EQ(s.State, msNotSet);
}

TEST(TMeasValTTS, CloneCarriesTheBlock)
{
    TMeasValTTS t;
    t.Text = "0123";
    t.Block = 2;
    auto tc = t.Clone();
    auto* tp = dynamic_cast<TMeasValTTS*>(tc.get());
    ASSERT_NE(tp, nullptr);
    EXPECT_EQ(tp->Block, 2);
    EXPECT_EQ(tp->Text, "0123");
}

TEST(TMeasValTTS, BlocksCycleAndResetRestartsAtZero)
{
    TMeasValTTS t;
    EXPECT_EQ(t.Text, TAString(std::string(41, '7')));
    using B = std::array<uint8_t, 8>;
    EXPECT_EQ(t.NextBlock(), (B{0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(t.NextBlock(), (B{0xF1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(t.NextBlock(), (B{0xF2, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(t.NextBlock()[0], 0xF0);
    t.Reset();
    EXPECT_EQ(t.State, msNotSet);
    EXPECT_EQ(t.Block, 0);
}

TEST(TMeasValTTS, StatusesLandInTheirHalfBytes)
{
    TMeasValTTS t;
    // Tell-tales 1, 2, 3 = 1, 2, 3; a short text leaves the rest at 7.
    t.Text = "123";
    using B = std::array<uint8_t, 8>;
    // Byte 0: block 0 | tell-tale 1 in bits 4..6; byte 1: tell-tale 2 low, 3 high.
    EXPECT_EQ(t.NextBlock(), (B{0x90, 0xBA, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    // A character outside "0".."7" stays within its own 3 bits.
    t.Text = std::string(15, '7') + "\x01";   // tell-tale 16: '\x01' - '0' masked to 1
    EXPECT_EQ(t.NextBlock(), (B{0x91, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}
