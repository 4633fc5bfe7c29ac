#include "can/tbittiming.h"

#include <gtest/gtest.h>

namespace {

using namespace BitTiming;

TEST(TBitTiming, StandardRatesComeFromTheTableWithAWholePrescaler)
{
    struct Row {
        int rate;
        TBitTiming timing;
        double presc;
    };
    const Row rows[] = {
        {10000, {16, 8, 4, 3}, 32}, {20000, {16, 8, 4, 3}, 16}, {50000, {11, 8, 4, 3}, 8},
        {100000, {11, 8, 4, 3}, 4}, {125000, {8, 7, 2, 1}, 4},  {250000, {8, 7, 2, 1}, 2},
        {500000, {8, 7, 1, 1}, 1},  {1000000, {4, 3, 1, 1}, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.rate);
        ASSERT_EQ(Propose(r.rate), r.timing);
        const double presc = Presc(r.rate, r.timing.Tseg1, r.timing.Tseg2);
        EXPECT_DOUBLE_EQ(presc, r.presc);
        EXPECT_TRUE(PrescOk(presc));
    }
    EXPECT_EQ(PrescText(2), "2");
}

TEST(TBitTiming, OtherRatesSearchForAWholePrescaler)
{
    // 40000: n = 20 quanta gives presc 16000000 / (2 x 40000 x 20) = 10.
    EXPECT_EQ(Propose(40000), (TBitTiming{13, 6, 3, 3}));
    EXPECT_DOUBLE_EQ(Presc(40000, 13, 6), 10);
    // 33333 has no whole prescaler for any n: nothing but sam is set.
    EXPECT_EQ(Propose(33333), (TBitTiming{0, 0, 0, 3}));
    EXPECT_FALSE(PrescOk(Presc(33333, 0, 0)));
    // 400000: whole prescalers only at n = 4, 5, 10, 20 (presc 5, 4, 2, 1): n = 20.
    EXPECT_EQ(Propose(400000), (TBitTiming{13, 6, 3, 1}));
    // 800000: n = 5 and n = 10 only (presc 2, 1): the largest below 16.
    EXPECT_EQ(Propose(800000), (TBitTiming{6, 3, 1, 1}));
    EXPECT_FALSE(Propose(0).has_value());
}

TEST(TBitTiming, RangesAndFieldTexts)
{
    EXPECT_TRUE(Tseg1Ok(16));
    EXPECT_FALSE(Tseg1Ok(17));
    EXPECT_FALSE(Tseg2Ok(0));
    EXPECT_TRUE(Tseg2Ok(8));
    EXPECT_FALSE(SjwOk(5));
    EXPECT_TRUE(SamOk(3));
    EXPECT_FALSE(SamOk(2));
    EXPECT_FALSE(PrescOk(2.5));
    EXPECT_FALSE(PrescOk(65));
    EXPECT_EQ(FieldInt("abc"), 0);
    EXPECT_EQ(FieldInt("x10"), 0);
    EXPECT_EQ(FieldInt("7"), 7);
    EXPECT_EQ(PrescText(240.0024), "240.002");
}

TEST(TBitTiming, OkChecksInOrder)
{
    EXPECT_EQ(CheckOnOk("250000", "8", "7", "2"), std::nullopt);
    EXPECT_EQ(CheckOnOk("33333", "0", "0", "240.002"), TAString("tseg1 is not between 1 and 16"));
    EXPECT_EQ(CheckOnOk("250000", "17", "7", "2"), TAString("tseg1 is not between 1 and 16"));
    EXPECT_EQ(CheckOnOk("250000", "8", "9", "2"), TAString("tseg2 is not between 1 and 8"));
    // Stored 500000 with the timing of 250000.
    EXPECT_EQ(CheckOnOk("500000", "8", "7", "2"), TAString("Chip param not consistent with baudrate"));
    // The presc field's fraction is cut off: 2.9 counts as 2.
    EXPECT_EQ(CheckOnOk("250000", "8", "7", "2.9"), std::nullopt);
    EXPECT_EQ(CheckOnOk("250000", "8", "7", ""), TAString("Chip param not consistent with baudrate"));
}

TEST(TBitTiming, EveryTimingFieldMustBeAWholeNumberBeforeTheOtherChecks)
{
    EXPECT_EQ(CheckNumbersOnOk("250000", "2", "8", "7", "1"), std::nullopt);
    const struct {
        const char* rate;
        const char* sjw;
        const char* tseg1;
        const char* tseg2;
        const char* sam;
        const char* message;
    } cases[] = {
        {"", "2", "8", "7", "1", "Baudrate is not a number"},
        {"250000", "", "8", "7", "1", "sjw is not a number"},    // the cleared field of the card at 13.9 kbit/s
        {"250000", "-2", "8", "7", "1", "sjw is not a number"},
        {"250000", "2", "x8", "7", "1", "tseg1 is not a number"},
        {"250000", "2", "8", " 7", "1", "tseg2 is not a number"},
        {"250000", "2", "8", "7", "1.0", "sam is not a number"},
        {"250000", "2 1", "8", "7", "1", "sjw is not a number"},   // two words
        {"", "", "", "", "", "Baudrate is not a number"},         // the first in field order
    };
    for (const auto& c : cases)
        EXPECT_EQ(CheckNumbersOnOk(c.rate, c.sjw, c.tseg1, c.tseg2, c.sam), TAString(c.message)) << c.message;
}

}  // namespace

