#include "app/ttimingreport.h"

#include "fms/tbusfmsstandard.h"
#include "fms/tcanframe.h"

#include <gtest/gtest.h>

namespace {

class TTimingReportTest : public ::testing::Test {
protected:
    void Frame(uint32_t id, int64_t ms, std::array<uint8_t, 8> data = {})
    {
        report.Record(TCanFrame(id, data, 8, 0), ms * 1000);
    }
    const TTimingGroup& Group(const std::vector<TTimingGroup>& groups, uint32_t pgn)
    {
        for (const TTimingGroup& g : groups)
            if (g.Pgn == pgn) return g;
        ADD_FAILURE() << "no group " << std::hex << pgn;
        return groups.front();
    }

    TBusFmsStandard catalogue{"00.02"};
    TTimingReport report;
};

TEST_F(TTimingReportTest, PeriodsAreMeasuredBetweenMessagesAndFlaggedBeyondOneMillisecond)
{
    for (int k = 0; k < 10; ++k) Frame(0x18FEF100u, 100 * k);        // CCVS on time
    for (int k = 0; k < 10; ++k) Frame(0x18F00400u, 8 + 20 * k + (k == 5 ? 3 : 0));   // EEC1, one late
    for (int k = 0; k < 10; ++k) Frame(0x18F00300u, 2 + 52 * k);     // EEC2 every 52 ms, not 50
    const auto groups = report.Groups(catalogue, {}, 1000);

    const TTimingGroup& ccvs = Group(groups, 0xFEF1);
    EXPECT_EQ(ccvs.PeriodMs, 100);
    EXPECT_EQ(ccvs.Messages, 10);
    EXPECT_DOUBLE_EQ(ccvs.MedianMs, 100);
    EXPECT_FALSE(ccvs.Flagged);

    const TTimingGroup& eec1 = Group(groups, 0xF004);
    EXPECT_DOUBLE_EQ(eec1.MedianMs, 20);   // one late frame moves min and max, not the median
    EXPECT_DOUBLE_EQ(eec1.MinMs, 17);
    EXPECT_DOUBLE_EQ(eec1.MaxMs, 23);
    EXPECT_DOUBLE_EQ(eec1.FirstOffsetMs, 8);
    EXPECT_FALSE(eec1.Flagged);

    const TTimingGroup& eec2 = Group(groups, 0xF003);
    EXPECT_TRUE(eec2.Flagged);
    EXPECT_EQ(eec2.Reason, "period off by 2.000 ms");
}

TEST_F(TTimingReportTest, BroadcastTransfersCountAnnouncementsAndMeasureTheirGaps)
{
    // The 24-byte VIN: announcement at 12 ms, four data packets 100 ms apart.
    Frame(0x18ECFF00u, 12, {0x20, 0x18, 0x00, 0x04, 0xFF, 0xEC, 0xFE, 0x00});
    for (int k = 1; k <= 4; ++k) Frame(0x18EBFF00u, 12 + 100 * k, {uint8_t(k)});
    const auto groups = report.Groups(catalogue, {}, 1000);
    const TTimingGroup& vin = Group(groups, 0xFEEC);
    EXPECT_TRUE(vin.Multipacket);
    EXPECT_EQ(vin.Messages, 1);
    EXPECT_EQ(vin.Frames, 5);
    EXPECT_DOUBLE_EQ(vin.FirstOffsetMs, 12);
    EXPECT_DOUBLE_EQ(vin.AnnounceToDataMs, 100);
    EXPECT_DOUBLE_EQ(vin.DataGapMinMs, 100);
    EXPECT_DOUBLE_EQ(vin.DataGapMaxMs, 100);
}

TEST_F(TTimingReportTest, MissingScheduleIsFlaggedOnlyWhenItWasDueAndNotLeftOut)
{
    // Nothing was sent at all: every group is missing in a 10 s run, except the ones left out.
    std::vector<bool> leftOut(22, false);
    leftOut[0] = true;
    auto groups = report.Groups(catalogue, leftOut, 10000);
    EXPECT_FALSE(groups[0].Flagged);
    EXPECT_TRUE(Group(groups, 0xFEEC).Flagged);
    EXPECT_EQ(Group(groups, 0xFEEC).Reason, "schedule missing");
    EXPECT_TRUE(TTimingReport::AnyFlagged(groups));
    EXPECT_NE(TTimingReport::Json(groups, "virtual", 10).Find("\"flagged\": true"), -1);

    // The driver identification is first due at 5012 ms: a 5 s run cannot have it.
    groups = report.Groups(catalogue, leftOut, 5000);
    EXPECT_EQ(Group(groups, 0xFE6B).FirstDueMs, 5012);
    EXPECT_FALSE(Group(groups, 0xFE6B).Flagged);
    EXPECT_NE(TTimingReport::Text(groups).Find("(first due after the run)"), -1);
    groups = report.Groups(catalogue, leftOut, 5013);
    EXPECT_TRUE(Group(groups, 0xFE6B).Flagged);
}

}  // namespace
