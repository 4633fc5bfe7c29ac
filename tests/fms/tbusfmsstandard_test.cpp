#include "fms/tbusfmsstandard.h"

#include "support/tbaseerror.h"

#include "tests/errorof.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Identifier templates in catalogue order, and each group's period and first due time.
struct TGroupPlan {
    uint32_t Id;
    int Period;
    int FirstDue;
};
const TGroupPlan Plan[22] = {
    {0x00FEF100, 100, 0},  {0x00F00300, 50, 2},       {0x00FEE900, 1000, 4}, {0x00FEFC00, 1000, 6},
    {0x00F00400, 20, 8},   {0x00FEE500, 1000, 10},    {0x00FEEC00, 10000, 12}, {0x00FDD100, 10000, 14},
    {0x00FEC100, 1000, 16}, {0x00FE6C00, 20, 18},     {0x00FEEE00, 1000, 20}, {0x00FEF500, 1000, 22},
    {0x00FE4E00, 100, 24}, {0x00FDA500, 100, 26},     {0x00FEE600, 1000, 30}, {0x00FEAE00, 1000, 32},
    {0x00FED500, 1000, 34}, {0x00F00500, 100, 36},    {0x00FE5800, 100, 40}, {0x00FE6B00, 10000, 5012},
    {0x00FEF200, 100, 42}, {0x00FD7D00, 1000, 44},
};

// A fixed value line: every field valid except the state letters and the index 9 of field 22.
std::string GoldenLine()
{
    std::vector<std::string> f = {
        "1", "85.5", "1", "0", "1",                      // 0..4 CCVS
        "42.4",                                          // 5 EEC2
        "12345.5",                                       // 6 LFC
        "80.0",                                          // 7 DD
        "1500.000",                                      // 8 EEC1
        "1234.50",                                       // 9 HOUR
        "57515631323334353637383930313233342A",          // 10 VI: WQV12345678901234*
        "1", "0", "30303032",                            // 11..13 FMS
        "123455",                                        // 14 VDHR
        "1", "3", "2", "0", "1", "2", "0", "9", "0", "0", "1", "0", "85.50",   // 15..27 TCO1
        "85",                                            // 28 ET1
        "21.5",                                          // 29 AMB
        "1", "0", "2",                                   // 30..32 DC1
    };
    // 33..62 DC2: lock, open, enable of doors 1..10.
    const char* doors[10][3] = {{"1", "0", "1"}, {"0", "1", "1"}, {"0", "0", "0"}, {"0", "0", "0"},
                                {"0", "0", "0"}, {"0", "0", "0"}, {"0", "0", "0"}, {"0", "0", "0"},
                                {"e", "0", "0"}, {"0", "0", "n"}};
    for (auto& d : doors)
        f.insert(f.end(), {d[0], d[1], d[2]});
    const std::vector<std::string> rest = {
        "30.25", "45", "13", "12", "24.00", "2026",      // 63..68 TD
        "800", "1000",                                   // 69..70 AIR1
        "1", "0", "1", "0",                              // 71..74 AS
        "3", "-1",                                       // 75..76 ETC2
        "650.5", "650.0", "700.0", "e",                  // 77..80 ASC4
        "443143415244303030312A", "44322A",              // 81..82 DI: D1CARD0001*, D2*
        "25.50", "5.5",                                  // 83..84 LFE
        "01234567012345670123456701234567012345671",     // 85 TTS
    };
    f.insert(f.end(), rest.begin(), rest.end());
    std::string line;
    for (std::size_t i = 0; i < f.size(); ++i)
        line += (i ? ":" : "") + f[i];
    return line;
}

// The message bytes of each group for GoldenLine, worked out from the encoding rules.
const std::map<uint32_t, Bytes> GoldenData = {
    {0x00FEF100, {0xF7, 0x80, 0x55, 0x4D, 0xFF, 0xFF, 0xFF, 0xFF}},
    {0x00F00300, {0xFF, 0x6A, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
    {0x00FEE900, {0xFF, 0xFF, 0xFF, 0xFF, 0x73, 0x60, 0x00, 0x00}},
    {0x00FEFC00, {0xFF, 0xC8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
    {0x00F00400, {0xFF, 0xFF, 0xFF, 0xE0, 0x2E, 0xFF, 0xFF, 0xFF}},
    {0x00FEE500, {0x72, 0x60, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
    {0x00FEEC00, {0x57, 0x51, 0x56, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x30, 0x31, 0x32, 0x33,
                  0x34, 0x2A}},
    {0x00FDD100, {0xF4, 0x30, 0x30, 0x30, 0x32, 0xFF, 0xFF, 0xFF}},
    {0x00FEC100, {0x73, 0x60, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
    // Driver 2's time-related state 9 has no entry: its last entry, 6, goes out (C6).
    {0x00FE6C00, {0x53, 0x12, 0xC6, 0x04, 0xFF, 0xFF, 0x80, 0x55}},
    {0x00FEEE00, {0x7D, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
    {0x00FEF500, {0xFF, 0xFF, 0xFF, 0xD0, 0x24, 0xFF, 0xFF, 0xFF}},
    {0x00FE4E00, {0x42, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
    {0x00FDA500, {0x11, 0x05, 0x00, 0x00, 0x00, 0x00, 0x02, 0xFC}},
    {0x00FEE600, {0x79, 0x2D, 0x0D, 0x0C, 0x5D, 0x29, 0xFF, 0xFF}},
    {0x00FEAE00, {0xFF, 0xFF, 0x64, 0x7D, 0xFF, 0xFF, 0xFF, 0xFF}},
    {0x00FED500, {0xFF, 0xFF, 0x11, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
    {0x00F00500, {0x80, 0xFF, 0xFF, 0x7C, 0xFF, 0xFF, 0xFF, 0xFF}},
    {0x00FE5800, {0x69, 0x19, 0x64, 0x19, 0x58, 0x1B, 0xFF, 0xFE}},
    {0x00FE6B00, {0x44, 0x31, 0x43, 0x41, 0x52, 0x44, 0x30, 0x30, 0x30, 0x31, 0x2A, 0x44, 0x32, 0x2A}},
    {0x00FEF200, {0xFE, 0x01, 0x00, 0x0B, 0xFF, 0xFF, 0xFF, 0xFF}},
};
// The tell-tale group sends blocks 0, 1, 2, 0, ...
const Bytes TellTaleBlocks[3] = {
    {0x80, 0xA9, 0xCB, 0xED, 0x8F, 0xA9, 0xCB, 0xED},
    {0xF1, 0x98, 0xBA, 0xDC, 0xFE, 0x98, 0xBA, 0xDC},
    {0xE2, 0x8F, 0xA9, 0xCB, 0xED, 0x9F, 0xFF, 0xFF},
};

std::vector<TCanFrame> AllFrames(TCanHigh m, int64_t until)
{
    std::vector<TCanFrame> frames;
    for (int64_t t = m.Time; t <= until; t += 1000) {
        for (TCanFrame f = m.GetFrame(t); !f.IsNone(); f = m.GetFrame(t))
            frames.push_back(f);
    }
    return frames;
}

std::unique_ptr<TFmsMeasVal> ExtraSignal(int32_t group, int32_t period)
{
    return std::make_unique<TFmsMeasVal>("x", 0x00FF0000u + static_cast<uint32_t>(group << 8), group, period, 0, 8,
                                         1.0, "", 0.0, std::make_unique<TMeasValEnum>(0, "a"), 1, 1, 0, 0);
}

}  // namespace

TEST(TBusFmsStandard, VersionTwoHoldsAllGroupsInOrder)
{
    TBusFmsStandard c("00.02");
    ASSERT_EQ(c.SignalCount(), 86);
    ASSERT_EQ(c.FrameCount(), 22);
    for (int g = 0; g < 22; ++g)
        EXPECT_EQ(c.FrameIds()[static_cast<std::size_t>(g)], Plan[g].Id) << g;
    EXPECT_EQ(c.FrameIds()[22], TBusFmsStandard::EndOfIds);

    // Signals of one group stand together, share id, index and period.
    int group = -1;
    for (int i = 0; i < c.SignalCount(); ++i) {
        const auto& s = c.Signal(i);
        if (s.GroupIndex != group) {
            EXPECT_EQ(s.GroupIndex, group + 1) << i;
            group = s.GroupIndex;
        }
        EXPECT_EQ(s.CanId, Plan[group].Id) << i;
        EXPECT_EQ(s.Period, Plan[group].Period) << i;
    }
    EXPECT_EQ(c.Signal(29).Name, "Ambient Air Temperatur");
    EXPECT_EQ(c.Signal(29).Unit, "°C");
    EXPECT_EQ(c.Signal(82).Name, "Driver 2 identification");
    EXPECT_EQ(c.Signal(82).StartBit, 0xFFFF);
}

TEST(TBusFmsStandard, OtherVersionLeavesOutTheLastThreeGroups)
{
    TBusFmsStandard c("00.01");
    EXPECT_EQ(c.SignalCount(), 81);
    EXPECT_EQ(c.FrameCount(), 19);
    EXPECT_EQ(c.FrameIds()[18], 0x00FE5800u);
    EXPECT_EQ(c.FrameIds()[19], TBusFmsStandard::EndOfIds);
    EXPECT_EQ(TBusFmsStandard("").SignalCount(), 81);
    EXPECT_EQ(TBusFmsStandard("00.02 ").SignalCount(), 81);
}

TEST(TBusFmsStandard, DoorControl2FollowsItsRule)
{
    TBusFmsStandard c("00.02");
    const char* kinds[3] = {"Lock Status of Door ", "Open Status of Door ", "Enable Status of Door "};
    const char* first[3] = {"unlocked", "door_closed", "door_disabled"};
    for (int door = 1; door <= 10; ++door) {
        for (int k = 0; k < 3; ++k) {
            const int pos = 33 + 3 * (door - 1) + k;
            const auto& s = c.Signal(pos);
            EXPECT_EQ(s.Name, TAString(kinds[k] + std::to_string(door))) << pos;
            EXPECT_EQ(s.StartBit, 6 * (door - 1) + 2 * k) << pos;
            EXPECT_EQ(s.BitLength, 2) << pos;
            const auto* e = dynamic_cast<const TMeasValEnum*>(s.MeasVal.get());
            ASSERT_NE(e, nullptr);
            ASSERT_EQ(e->Texts.size(), 2u);
            EXPECT_EQ(e->Texts[0], first[k]);
        }
    }
    EXPECT_EQ(c.Signal(62).Name, "Enable Status of Door 10");
    EXPECT_EQ(c.Signal(62).StartBit, 58);
}

TEST(TBusFmsStandard, ResetSetsEveryValueNotSetAndThePhasePlan)
{
    TBusFmsStandard c("00.02");
    for (int i = 0; i < c.SignalCount(); ++i) {
        EXPECT_EQ(c.Signal(i).MeasVal->State, msNotSet) << i;
        EXPECT_EQ(c.NextDue(i), Plan[c.Signal(i).GroupIndex].FirstDue) << i;
    }
    // Over the whole 10 s cycle no two groups share a millisecond.
    std::vector<int> owner(10000, -1);
    for (int g = 0; g < 22; ++g) {
        for (int t = Plan[g].FirstDue; t < Plan[g].FirstDue + 10000; t += Plan[g].Period) {
            EXPECT_EQ(owner[static_cast<std::size_t>(t % 10000)], -1) << "group " << g << " at " << t;
            owner[static_cast<std::size_t>(t % 10000)] = g;
        }
    }
}

TEST(TBusFmsStandard, ValuesMustBeSetBeforeTheFirstGroup)
{
    TBusFmsStandard c("00.02");
    ExpectError([&] { (void)c.GetCanHighs(0); }, "TFmsMeasVal::WriteToCan", "Error flag not supported");
}

TEST(TBusFmsStandard, ReadValuesIsAllOrNothing)
{
    TBusFmsStandard c("00.02");
    // Fields 0..4 are there, field 5 (a number) is missing: no signal takes a value.
    ExpectError([&] { c.ReadValues("1:85.5:1:0:1"); }, "TFmsMeasVal::Read", "too short");
    for (int i = 0; i < c.SignalCount(); ++i) EXPECT_EQ(c.Signal(i).MeasVal->State, msNotSet) << i;

    // An error in the middle of a whole line changes nothing either, before or after it.
    c.ReadValues(GoldenLine());
    const TAString first = c.Signal(0).Write();
    const TAString last = c.Signal(85).Write();
    std::string line = GoldenLine();
    line.replace(line.find(":42.4:"), 6, ":4242.4:");   // field 5 too long
    line.replace(0, line.find(':'), "0");                // field 0 changed before it
    ExpectError([&] { c.ReadValues(line); }, "TFmsMeasVal::Read", "too long");
    EXPECT_EQ(c.Signal(0).Write(), first);
    EXPECT_NE(first, TAString("0"));
    EXPECT_EQ(c.Signal(85).Write(), last);
    c.ReadValues(GoldenLine());
    for (int i = 0; i < c.SignalCount(); ++i) {
        if (i != 22 && i != 57 && i != 62 && i != 80) {
            EXPECT_EQ(c.Signal(i).MeasVal->State, msValid) << i;
        }
    }
    EXPECT_EQ(c.Signal(22).MeasVal->State, msOutOfRange);
    EXPECT_EQ(c.Signal(57).MeasVal->State, msError);
    EXPECT_EQ(c.Signal(80).MeasVal->State, msError);
    EXPECT_EQ(c.Signal(62).MeasVal->State, msNotAvailable);
    EXPECT_EQ(c.Signal(10).Write(), "WQV12345678901234*");
}

TEST(TBusFmsStandard, FirstCallsAfterResetFollowThePlan)
{
    TBusFmsStandard c("00.02");
    c.ReadValues(GoldenLine());
    auto early = c.GetCanHighs(5000);
    ASSERT_EQ(early.size(), 3u);
    EXPECT_EQ(early[0].Id, 0x00FEF100u);
    EXPECT_EQ(early[0].Time, 0);
    EXPECT_EQ(early[1].Id, 0x00F00300u);
    EXPECT_EQ(early[1].Time, 2000);
    EXPECT_EQ(early[2].Id, 0x00FEE900u);
    EXPECT_EQ(early[2].Time, 4000);

    c.Reset();
    c.ReadValues(GoldenLine());
    auto all = c.GetCanHighs(44000);
    ASSERT_EQ(all.size(), 21u);
    std::size_t k = 0;
    for (int g = 0; g < 22; ++g) {
        if (g == 19)
            continue;   // the driver identification waits until 5012 ms
        EXPECT_EQ(all[k].Id, Plan[g].Id) << g;
        EXPECT_EQ(all[k].Time, Plan[g].FirstDue * 1000) << g;
        ++k;
    }
}

TEST(TBusFmsStandard, GroupThatFellBehindCatchesUpOncePerCall)
{
    TBusFmsStandard c("00.02");
    c.ReadValues(GoldenLine());
    int64_t expected = 8000;
    for (int call = 0; call < 50; ++call) {
        const auto ms = c.GetCanHighs(1000000);
        int eec1 = 0;
        for (const auto& m : ms) {
            if (m.Id == 0x00F00400u) {
                ++eec1;
                EXPECT_EQ(m.Time, expected) << call;
            }
        }
        EXPECT_EQ(eec1, 1) << call;
        expected += 20000;
    }
    for (const auto& m : c.GetCanHighs(1000000))
        EXPECT_NE(m.Id, 0x00F00400u);
}

TEST(TBusFmsStandard, LongPeriodGroupsComeEveryTenSeconds)
{
    TBusFmsStandard c("00.02");
    c.ReadValues(GoldenLine());
    auto count = [](const std::vector<TCanHigh>& v, uint32_t id) {
        return std::count_if(v.begin(), v.end(), [id](const TCanHigh& m) { return m.Id == id; });
    };
    EXPECT_EQ(count(c.GetCanHighs(5011999), 0x00FE6B00u), 0);
    // Every group has caught up to 5011 ms by now: one more call per group per ms.
    for (int i = 0; i < 600; ++i)
        (void)c.GetCanHighs(5011999);
    auto at = c.GetCanHighs(5012000);
    ASSERT_EQ(count(at, 0x00FE6B00u), 1);
    EXPECT_EQ(c.NextDue(81), 15012);
    EXPECT_EQ(c.NextDue(82), 15012);
    EXPECT_EQ(c.NextDue(10), 10012);
}

TEST(TBusFmsStandard, GoldenTenSeconds)
{
    TBusFmsStandard c("00.02");
    c.ReadValues(GoldenLine());

    std::map<uint32_t, std::vector<TCanHigh>> byGroup;
    for (int64_t ms = 0; ms < 10000; ++ms) {
        auto due = c.GetCanHighs(ms * 1000);
        // The phase plan never puts two groups into one millisecond.
        ASSERT_LE(due.size(), 1u) << ms;
        for (auto& m : due) {
            EXPECT_EQ(m.Time, ms * 1000);
            byGroup[m.Id].push_back(m);
        }
    }

    ASSERT_EQ(byGroup.size(), 22u);
    for (const auto& g : Plan) {
        const auto& msgs = byGroup[g.Id];
        const std::size_t expected = g.Id == 0x00FE6B00u ? 1u : static_cast<std::size_t>(10000 / g.Period);
        ASSERT_EQ(msgs.size(), expected) << std::hex << g.Id;
        for (std::size_t k = 0; k < msgs.size(); ++k) {
            const TCanHigh& m = msgs[k];
            EXPECT_EQ(m.Time, (g.FirstDue + static_cast<int64_t>(k) * g.Period) * 1000) << std::hex << g.Id;
            const Bytes& want = g.Id == 0x00FD7D00u ? TellTaleBlocks[k % 3] : GoldenData.at(g.Id);
            EXPECT_EQ(m.Data(), want) << std::hex << g.Id << std::dec << " message " << k;
        }
    }
}

TEST(TBusFmsStandard, GoldenMultipacketFrames)
{
    TBusFmsStandard c("00.02");
    c.ReadValues(GoldenLine());
    std::vector<TCanHigh> vin;
    std::vector<TCanHigh> di;
    std::vector<TCanHigh> ccvs;
    for (int64_t ms = 0; ms <= 5012; ++ms) {
        for (auto& m : c.GetCanHighs(ms * 1000)) {
            if (m.Id == 0x00FEEC00u)
                vin.push_back(m);
            if (m.Id == 0x00FE6B00u)
                di.push_back(m);
            if (m.Id == 0x00FEF100u && ccvs.empty())
                ccvs.push_back(m);
        }
    }
    ASSERT_EQ(vin.size(), 1u);
    ASSERT_EQ(di.size(), 1u);
    ASSERT_EQ(ccvs.size(), 1u);
    // As the main tick does: priority 6, source address 0.
    vin[0].SetPriority(6);
    di[0].SetPriority(6);
    ccvs[0].SetPriority(6);

    using D = std::array<uint8_t, 8>;
    const std::vector<TCanFrame> vinFrames = {
        {0x18ECFF00, D{0x20, 0x12, 0x00, 0x03, 0xFF, 0xEC, 0xFE, 0x00}, 8, 12000},
        {0x18EBFF00, D{0x01, 0x57, 0x51, 0x56, 0x31, 0x32, 0x33, 0x34}, 8, 112000},
        {0x18EBFF00, D{0x02, 0x35, 0x36, 0x37, 0x38, 0x39, 0x30, 0x31}, 8, 212000},
        {0x18EBFF00, D{0x03, 0x32, 0x33, 0x34, 0x2A, 0xFF, 0xFF, 0xFF}, 8, 312000},
    };
    EXPECT_EQ(AllFrames(vin[0], 1000000), vinFrames);

    const std::vector<TCanFrame> diFrames = {
        {0x18ECFF00, D{0x20, 0x0E, 0x00, 0x02, 0xFF, 0x6B, 0xFE, 0x00}, 8, 5012000},
        {0x18EBFF00, D{0x01, 0x44, 0x31, 0x43, 0x41, 0x52, 0x44, 0x30}, 8, 5112000},
        {0x18EBFF00, D{0x02, 0x30, 0x30, 0x31, 0x2A, 0x44, 0x32, 0x2A}, 8, 5212000},
    };
    EXPECT_EQ(AllFrames(di[0], 6000000), diFrames);

    const std::vector<TCanFrame> ccvsFrames = {
        {0x18FEF100, D{0xF7, 0x80, 0x55, 0x4D, 0xFF, 0xFF, 0xFF, 0xFF}, 8, 0},
    };
    EXPECT_EQ(AllFrames(ccvs[0], 1000000), ccvsFrames);
}

TEST(TBusFmsStandard, AddRefusesThe141stSignal)
{
    TBusFmsStandard c("00.02");
    for (int i = 86; i < 140; ++i)
        c.Add(ExtraSignal(22 + (i - 86), 10000));
    EXPECT_EQ(c.SignalCount(), 140);
    EXPECT_EQ(c.FrameCount(), 22 + 54);
    EXPECT_EQ(c.FrameIds()[76], TBusFmsStandard::EndOfIds);
    ExpectError([&] { c.Add(ExtraSignal(200, 10000)); }, "TBusFmsStandard::Add", "Fatal: Array erweitern !!!");
    EXPECT_EQ(c.SignalCount(), 140);
}

TEST(TBusFmsStandard, ResetFailsWhenAGroupFindsNoSlot)
{
    // Even offsets only: a 20 ms group has ten residues; the catalogue uses two (8, 18)
    // and the 50 and 100 ms groups block more, so some tens of 20 ms groups cannot all fit.
    TBusFmsStandard full("00.02");
    for (int g = 22; g < 32; ++g)
        full.Add(ExtraSignal(g, 20));
    ExpectError([&] { full.Reset(); }, "Reset", "Frames full");

    // A period that does not divide the cycle has no place (and must not hang).
    TBusFmsStandard odd("00.02");
    odd.Add(ExtraSignal(22, 30));
    ExpectError([&] { odd.Reset(); }, "Reset", "Frames full");
    TBusFmsStandard zero("00.02");
    zero.Add(ExtraSignal(22, 0));
    ExpectError([&] { zero.Reset(); }, "Reset", "Frames full");
}

TEST(TBusFmsStandard, PgnNames)
{
    EXPECT_EQ(TBusFmsStandard::GetPgnName(0x18FEF100, 2), "CCVS");
    EXPECT_EQ(TBusFmsStandard::GetPgnName(0x18FEF200, 2), "LFE ");
    EXPECT_EQ(TBusFmsStandard::GetPgnName(0x18F00100, 0), "Not Fms");
    EXPECT_EQ(TBusFmsStandard::GetPgnName(0x00FEF100, 0), "Cruise Control/Vehicle Speed");
    EXPECT_EQ(TBusFmsStandard::GetPgnName(0x00FEF100, 1), "Cruise Contr./Veh. Speed");
    EXPECT_EQ(TBusFmsStandard::GetPgnName(0x0CFE6B17, 0), "Driver's Identification");
    EXPECT_EQ(TBusFmsStandard::GetPgnName(0x00FDD100, 1), "FMS Software ID");
    EXPECT_EQ(TBusFmsStandard::GetPgnName(0x00FEF100, 3), "Not Fms");
    EXPECT_EQ(TBusFmsStandard::GetPgnName(0, 11), "CruiseControlVehicleSpeed");
    EXPECT_EQ(TBusFmsStandard::GetPgnName(21, 11), "TellTaleStatus");
    EXPECT_EQ(TBusFmsStandard::GetPgnName(22, 11), "Not Fms");
    EXPECT_EQ(TBusFmsStandard::GetTellTaleName(0), "Cooling air conditioning");
    EXPECT_EQ(TBusFmsStandard::GetTellTaleName(13), "Position lights,side lights");
    EXPECT_EQ(TBusFmsStandard::GetTellTaleName(40), "Ad blue level");
    EXPECT_EQ(TBusFmsStandard::GetTellTaleName(41), "");
    EXPECT_EQ(TBusFmsStandard::GetTellTaleName(-1), "");
}

namespace {

// One typed text of a number, the state it gives and the raw field it is sent as.
struct TTyped {
    const char* Text;
    bool Valid;
    uint64_t Raw;
};

struct TRangeRow {
    int Pos;
    const char* Name;
    uint16_t Bit, Bits;
    double Tolerance;
    TTyped Min, Below, Max, Above;   // one step of the text's last decimal outside
};

// Raw values worked out as RoundHalfAway((value - offset) / resolution), for a value
// beyond the range of the nearest end of the range. The largest valid raw value of a
// field is FA, FAFF or FAFFFFFF: above start the indicator codes (FB parameter specific
// .. FF not available), which no value may ever send, nor a value wrapped to its field.
// clang-format off
const TRangeRow Ranges[] = {
//   #   signal                                  bit bits tol    smallest              below                        largest                           above
    { 1, "Wheel based speed",                     8, 16, 1,     {"0", 1, 0},          {"-0.001", 0, 0},            {"250.996", 1, 0xFAFF},           {"250.997", 0, 0xFAFF}},
    { 5, "Accelerator pedal position",            8,  8, 0.5,   {"0", 1, 0},          {"-0.1", 0, 0},              {"100.0", 1, 0xFA},               {"100.1", 0, 0xFA}},
    { 6, "Total fuel used",                      32, 32, 1,     {"0", 1, 0},          {"-0.1", 0, 0},              {"2105540607.5", 1, 0xFAFFFFFF},  {"2105540607.6", 0, 0xFAFFFFFF}},
    { 7, "Fuel level",                            8,  8, 1,     {"0", 1, 0},          {"-0.1", 0, 0},              {"100", 1, 0xFA},                 {"100.1", 0, 0xFA}},
    { 8, "Engine speed",                         24, 16, 1,     {"0", 1, 0},          {"-0.001", 0, 0},            {"8031.875", 1, 0xFAFF},          {"8031.876", 0, 0xFAFF}},
    { 9, "Total engine hours",                    0, 32, 1,     {"0", 1, 0},          {"-0.01", 0, 0},             {"210554060.75", 1, 0xFAFFFFFF},  {"210554060.76", 0, 0xFAFFFFFF}},
    {14, "High resolution total vhcl. distance",  0, 32, 1,     {"0", 1, 0},          {"-1", 0, 0},                {"21055406075", 1, 0xFAFFFFFF},   {"21055406076", 0, 0xFAFFFFFF}},
    {27, "Tachograph vehicle speed",             48, 16, 0.5,   {"0", 1, 0},          {"-0.01", 0, 0},             {"250.99", 1, 0xFAFD},            {"251.00", 0, 0xFAFF}},
    {28, "Engine coolant temperature",            0,  8, 0.5,   {"-40", 1, 0},        {"-41", 0, 0},               {"210", 1, 0xFA},                 {"211", 0, 0xFA}},
    {29, "Ambient Air Temperatur",               24, 16, 0.5,   {"-273", 1, 0},       {"-273.001", 0, 0},          {"1734.969", 1, 0xFAFF},          {"1734.970", 0, 0xFAFF}},
    {63, "Seconds",                               0,  8, 1,     {"0", 1, 0},          {"-0.01", 0, 0},             {"60", 1, 0xF0},                  {"60.01", 0, 0xF0}},
    {64, "Minutes",                               8,  8, 1,     {"0", 1, 0},          {"-1", 0, 0},                {"60", 1, 60},                    {"61", 0, 60}},
    {65, "Hours",                                16,  8, 1,     {"0", 1, 0},          {"-1", 0, 0},                {"24", 1, 24},                    {"25", 0, 24}},
    {66, "Month",                                24,  8, 1,     {"1", 1, 1},          {"0", 0, 1},                 {"12", 1, 12},                    {"13", 0, 12}},
    {67, "Day",                                  32,  8, 1,     {"1", 1, 1},          {"0.99", 0, 1},              {"31", 1, 121},                   {"31.01", 0, 121}},
    {68, "Year",                                 40,  8, 1,     {"1985", 1, 0},       {"1984", 0, 0},              {"2235", 1, 0xFA},                {"2236", 0, 0xFA}},
    {69, "Service Brake Air Pressure Circuit1",  16,  8, 1,     {"0", 1, 0},          {"-1", 0, 0},                {"2000", 1, 0xFA},                {"2001", 0, 0xFA}},
    {70, "Service Brake Air Pressure Circuit2",  24,  8, 1,     {"0", 1, 0},          {"-1", 0, 0},                {"2000", 1, 0xFA},                {"2001", 0, 0xFA}},
    {75, "Selected Gear",                         0,  8, 1,     {"-125", 1, 0},       {"-126", 0, 0},              {"125", 1, 0xFA},                 {"126", 0, 0xFA}},
    {76, "Current Gear",                         24,  8, 1,     {"-125", 1, 0},       {"-126", 0, 0},              {"125", 1, 0xFA},                 {"126", 0, 0xFA}},
    {77, "Below Pressure Front Axle Left",        0, 16, 0.05,  {"0", 1, 0},          {"-0.1", 0, 0},              {"6425.5", 1, 0xFAFF},            {"6425.6", 0, 0xFAFF}},
    {78, "Below Pressure Front Axle Right",      16, 16, 0.05,  {"0", 1, 0},          {"-0.1", 0, 0},              {"6425.5", 1, 0xFAFF},            {"6425.6", 0, 0xFAFF}},
    {79, "Below Pressure Rear Axle Left",        32, 16, 0.05,  {"0", 1, 0},          {"-0.1", 0, 0},              {"6425.5", 1, 0xFAFF},            {"6425.6", 0, 0xFAFF}},
    {80, "Below Pressure Rear Axle Right",       48, 16, 0.05,  {"0", 1, 0},          {"-0.1", 0, 0},              {"6425.5", 1, 0xFAFF},            {"6425.6", 0, 0xFAFF}},
    {83, "Fuel Rate",                             0, 16, 0.025, {"0", 1, 0},          {"-0.01", 0, 0},             {"3212.75", 1, 0xFAFF},           {"3212.76", 0, 0xFAFF}},
    {84, "Instantaneous Fuel Economy",           16, 16, 0.001, {"0", 1, 0},          {"-0.001", 0, 0},            {"125.499", 1, 0xFAFF},           {"125.500", 0, 0xFAFF}},
};
// clang-format on

// The field of bits bits at bit of a message that holds nothing else; every other
// byte must still be 0xFF.
uint64_t FieldOf(const Bytes& data, uint16_t bit, uint16_t bits)
{
    EXPECT_EQ(data.size(), 8u);
    uint64_t raw = 0;
    for (std::size_t i = 0; i < data.size(); ++i) {
        const bool inField = i >= bit / 8u && i < (bit + bits) / 8u;
        if (inField)
            raw |= uint64_t(data[i]) << (8 * (i - bit / 8u));
        else
            EXPECT_EQ(data[i], 0xFF) << "byte " << i;
    }
    return raw;
}

}  // namespace

TEST(TBusFmsStandard, EveryNumberIsValidExactlyWithinWhatItsFieldCarries)
{
    TBusFmsStandard c("00.02");
    int numbers = 0;
    for (int i = 0; i < c.SignalCount(); ++i)
        numbers += dynamic_cast<const TMeasValDouble*>(c.Signal(i).MeasVal.get()) != nullptr;
    ASSERT_EQ(numbers, static_cast<int>(std::size(Ranges)));

    for (const auto& r : Ranges) {
        TFmsMeasVal& s = c.Signal(r.Pos);
        ASSERT_EQ(s.Name, r.Name) << r.Pos;
        EXPECT_EQ(s.StartBit, r.Bit) << r.Name;
        EXPECT_EQ(s.BitLength, r.Bits) << r.Name;
        for (const TTyped& t : {r.Min, r.Below, r.Max, r.Above}) {
            s.MeasVal = s.Read(t.Text);
            EXPECT_EQ(s.MeasVal->State, t.Valid ? msValid : msOutOfRange) << r.Name << " " << t.Text;
            if (!t.Valid) {
                EXPECT_EQ(s.Write(), "o") << r.Name << " " << t.Text;
            }
            TCanHigh m(s.CanId);
            s.WriteToCan(m);
            EXPECT_EQ(FieldOf(m.Data(), r.Bit, r.Bits), t.Raw) << r.Name << " " << t.Text;
        }

        // Values within the tolerance of one another count as equal, none further apart.
        const auto largest = s.Read(r.Max.Text);
        auto near = largest->Clone();
        auto& value = dynamic_cast<TMeasValDouble&>(*near).Value;
        const double v = dynamic_cast<const TMeasValDouble&>(*largest).Value;
        for (double k : {-1.0, 1.0}) {
            value = v + k * r.Tolerance;
            EXPECT_TRUE(largest->IsEqual(*near)) << r.Name << " " << k;
            value = v + k * 1.01 * r.Tolerance;
            EXPECT_FALSE(largest->IsEqual(*near)) << r.Name << " " << k;
        }
    }
}

TEST(TBusFmsStandard, DriverIdentificationKeepsEachDriverInItsPlace)
{
    auto bytes = [](const std::string& s, std::size_t fill = 0) {
        Bytes b(s.begin(), s.end());
        b.resize(std::max(b.size(), fill), 0xFF);
        return b;
    };
    // The texts as the catalogue reads them: hexadecimal bytes or a state letter.
    const struct {
        const char* Driver1;
        const char* Driver2;
        Bytes Sent;
    } cases[] = {
        {"445249564552314F4E452A", "44524956455232424F2A", bytes("DRIVER1ONE*DRIVER2BO*")},
        // A missing driver is an empty field: the other keeps its place.
        {"n", "44524956455232424F2A", bytes("*DRIVER2BO*")},
        {"445249564552314F4E452A", "n", bytes("DRIVER1ONE**")},
        {"n", "n", bytes("**", 8)},
        {"*", "2A", bytes("**", 8)},
        // A 0xFF byte inside driver 1 is data, not its end.
        {"41FF422A", "432A", bytes("A\xFF" "B*C*", 8)},
    };
    TBusFmsStandard c("00.02");
    for (const auto& k : cases) {
        c.Signal(81).MeasVal = c.Signal(81).Read(k.Driver1);
        c.Signal(82).MeasVal = c.Signal(82).Read(k.Driver2);
        TCanHigh m(0x00FE6B00);
        c.Signal(81).WriteToCan(m);
        c.Signal(82).WriteToCan(m);
        EXPECT_EQ(m.Data(), k.Sent) << k.Driver1 << " " << k.Driver2;
    }

    // The vehicle identification, alone in its message, is not available as 0xFF bytes.
    c.Signal(10).MeasVal = c.Signal(10).Read("n");
    TCanHigh vin(0x00FEEC00);
    c.Signal(10).WriteToCan(vin);
    EXPECT_EQ(vin.Data(), Bytes(8, 0xFF));
}

namespace {

struct TTie {
    int Pos;
    const char* Text;   // a value exactly halfway between two raw values
    uint64_t Raw;       // the one further from zero
};

// Worked out as (value - offset) / resolution = k + 0.5, sent as k + 1.
// clang-format off
const TTie Ties[] = {
    { 1, "0.001953125",   1},      // 0.5 / 256 km/h
    { 5, "0.2",           1},      // 0.5 x 0.4 %
    { 6, "0.25",          1},      // 0.5 x 0.5 l
    { 7, "0.6",           2},      // 1.5 x 0.4 %
    { 8, "0.0625",        1},      // 0.5 x 0.125 rpm
    { 9, "0.075",         2},      // 1.5 x 0.05 h
    {14, "2.5",           1},      // 0.5 x 5 m
    {27, "0.005859375",   2},      // 1.5 / 256 km/h
    {28, "-39.5",         1},      // -40 + 0.5
    {29, "-272.984375",   1},      // -273 + 0.5 x 0.03125
    {63, "0.125",         1},      // 0.5 x 0.25 s
    {64, "0.5",           1},
    {65, "1.5",           2},
    {66, "1.5",           2},
    {67, "1.125",         2},      // 0.75 + 1.5 x 0.25
    {68, "1985.5",        1},
    {69, "4",             1},      // 0.5 x 8 kPa
    {70, "12",            2},      // 1.5 x 8 kPa
    {75, "-124.5",        1},
    {76, "0.5",         126},      // -125 + 125.5
    {77, "0.05",          1},      // 0.5 x 0.1 kPa
    {78, "0.15",          2},      // 1.5 x 0.1 kPa
    {79, "0.25",          3},      // 2.5 x 0.1 kPa
    {80, "6425.45",   64255},      // 64254.5 x 0.1 kPa
    {83, "0.025",         1},      // 0.5 x 0.05 l/h
    {84, "0.0009765625",  1},      // 0.5 / 512 km/l
};
// clang-format on

}  // namespace

TEST(TBusFmsStandard, HalvesRoundAwayFromZeroInEveryNumber)
{
    TBusFmsStandard c("00.02");
    int numbers = 0;
    for (int i = 0; i < c.SignalCount(); ++i)
        numbers += dynamic_cast<const TMeasValDouble*>(c.Signal(i).MeasVal.get()) != nullptr;
    ASSERT_EQ(numbers, static_cast<int>(std::size(Ties)));
    for (const TTie& t : Ties) {
        TFmsMeasVal& s = c.Signal(t.Pos);
        s.MeasVal = s.Read(t.Text, TFmsMeasVal::TDecimals::Any);
        ASSERT_EQ(s.MeasVal->State, msValid) << s.Name.str();
        TCanHigh m(s.CanId);
        s.WriteToCan(m);
        EXPECT_EQ(FieldOf(m.Data(), s.StartBit, s.BitLength), t.Raw) << s.Name.str() << " " << t.Text;
    }
}

