#include "engine/ttimingreport.h"

#include "fms/tbusfmsstandard.h"
#include "fms/tcanframe.h"

#include <gtest/gtest.h>

namespace {

class TTimingReportTest : public ::testing::Test {
protected:
    // A frame due at ms that left on time.
    void Frame(uint32_t id, int64_t ms, std::array<uint8_t, 8> data = {})
    {
        report.Record(TCanFrame(id, data, 8, ms * 1000), ms * 1000);
    }
    // A frame due at dueMs that left at leftMicros.
    void Late(uint32_t id, int64_t dueMs, int64_t leftMicros)
    {
        report.Record(TCanFrame(id, {}, 8, dueMs * 1000), leftMicros);
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
    for (int k = 0; k < 10; ++k) Late(0x18F00400u, 8 + 20 * k, (8 + 20 * k + (k == 5 ? 3 : 0)) * 1000);   // EEC1, one late
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

    EXPECT_DOUBLE_EQ(eec1.LatenessMaxMs, 3);
    EXPECT_EQ(eec1.MedianResolutionMs, 0.001);

    const TTimingGroup& eec2 = Group(groups, 0xF003);
    EXPECT_TRUE(eec2.Flagged);
    EXPECT_EQ(eec2.Reason, "period off by 2.000 ms");
    // Late frames are reported for the simulation too, but judged by its schedule only.
    EXPECT_DOUBLE_EQ(TTimingReport::LatenessMaxMs(groups), 3);
    EXPECT_NE(TTimingReport::Text(groups).Find("timing: the largest lateness was 3.000 ms"), -1);
}

// Beyond HistogramBins distinct periods, bins merge and the median is their midpoint:
// 2048 periods of 20000..22047 µs, each once. The exact median is (21023 + 21024) / 2 =
// 21023.5 µs. With 2 µs bins the ranks 1023 and 1024 fall into the bins [21022, 21023]
// and [21024, 21025], midpoints 21023 and 21025: 21024 µs, within half a bin (1 µs).
TEST_F(TTimingReportTest, MedianOfManyDistinctPeriodsIsWithinHalfABin)
{
    int64_t t = 0;
    report.Record(TCanFrame(0x18F00400u, {}, 8, t), t);
    for (int k = 0; k < 2048; ++k) {
        t += 20000 + k;
        report.Record(TCanFrame(0x18F00400u, {}, 8, t), t);
    }
    const auto groups = report.Groups(catalogue, {}, 50000);
    const TTimingGroup& eec1 = Group(groups, 0xF004);
    EXPECT_EQ(eec1.Messages, 2049);
    EXPECT_DOUBLE_EQ(eec1.MedianMs, 21.024);
    EXPECT_DOUBLE_EQ(eec1.MedianResolutionMs, 0.002);
    EXPECT_DOUBLE_EQ(eec1.MinMs, 20.0);     // the extremes stay exact
    EXPECT_DOUBLE_EQ(eec1.MaxMs, 22.047);
    EXPECT_NE(TTimingReport::Text(groups).Find("(median to 0.001 ms)"), -1);
}

// A day of frames costs no more memory than a minute: 3 groups, 600,000 frames with
// periods spread over 5000 distinct values each.
TEST_F(TTimingReportTest, MemoryStaysBoundedHoweverLongTheRun)
{
    const uint32_t ids[] = {0x18F00400u, 0x18FEF100u, 0x18F00300u};
    int64_t t[3] = {0, 0, 0};
    uint64_t seed = 12345;
    for (int n = 0; n < 600000; ++n) {
        const int g = n % 3;
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        t[g] += 20000 + static_cast<int64_t>((seed >> 33) % 5000);
        report.Record(TCanFrame(ids[g], {}, 8, t[g]), t[g]);
    }
    EXPECT_EQ(report.Count(), 600000);
    EXPECT_LE(report.Bins(), 3 * TTimingReport::HistogramBins);
    const auto groups = report.Groups(catalogue, {}, t[0] / 1000);
    // Uniform over 20.000..24.999 ms: the median is near 22.5 ms.
    EXPECT_NEAR(Group(groups, 0xF004).MedianMs, 22.5, 0.05);
}

// A replayed log is its own schedule: a faithful 10 ms EEC1 log is neither "period
// off" nor missing the groups it lacks; only frames late against their log time count.
TEST_F(TTimingReportTest, LogIsJudgedAgainstItsOwnTimesNotTheCatalogue)
{
    for (int k = 0; k < 100; ++k) Frame(0x18F00400u, 10 * k);
    Frame(0x18FF0100u, 5);   // a group the catalogue does not know
    auto judged = report.Groups(catalogue, {}, 1000, TTimingReport::jLogTime);
    EXPECT_FALSE(TTimingReport::AnyFlagged(judged));
    const TTimingGroup& eec1 = Group(judged, 0xF004);
    EXPECT_DOUBLE_EQ(eec1.MedianMs, 10);
    EXPECT_EQ(eec1.PeriodMs, 20);   // shown, not judged
    EXPECT_EQ(Group(judged, 0xFF01).InCatalogue, false);
    EXPECT_EQ(Group(judged, 0xFF01).Messages, 1);
    const TAString text = TTimingReport::Text(judged, TTimingReport::jLogTime);
    EXPECT_EQ(text.Find("schedule missing"), -1);
    EXPECT_EQ(text.Find("period off"), -1);
    EXPECT_NE(text.Find("timing: every frame within 10 ms of its log time"), -1) << text.str();
    EXPECT_NE(TTimingReport::Json(judged, "virtual", 1, TTimingReport::jLogTime).Find("\"judged_by\": \"log time\""), -1);

    // The same frames judged by the catalogue's schedule would be flagged.
    const auto scheduled = report.Groups(catalogue, {}, 1000, TTimingReport::jSchedule);
    EXPECT_EQ(Group(scheduled, 0xF004).Reason, "period off by -10.000 ms");
    EXPECT_EQ(Group(scheduled, 0xFEF1).Reason, "schedule missing");

    // Lateness: 10 ms late is within the tolerance, 10.001 ms is not.
    Late(0x18FEF100u, 1000, 1010000);
    judged = report.Groups(catalogue, {}, 1100, TTimingReport::jLogTime);
    EXPECT_FALSE(TTimingReport::AnyFlagged(judged));
    Late(0x18FEF100u, 1100, 1110001);
    Late(0x18FEF100u, 1200, 1250000);
    judged = report.Groups(catalogue, {}, 1300, TTimingReport::jLogTime);
    const TTimingGroup& ccvs = Group(judged, 0xFEF1);
    EXPECT_TRUE(ccvs.Flagged);
    EXPECT_EQ(ccvs.LateFrames, 2);
    EXPECT_EQ(ccvs.Reason, "2 frames more than 10 ms after their log time");
    EXPECT_DOUBLE_EQ(ccvs.LatenessMaxMs, 50);
    EXPECT_DOUBLE_EQ(TTimingReport::LatenessMaxMs(judged), 50);
    EXPECT_FALSE(Group(judged, 0xF004).Flagged);
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
