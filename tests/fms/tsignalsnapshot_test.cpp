// The typed snapshot the vehicle model hands the catalogue, and the catalogue taking it
// all at once or not at all.

#include "fms/tsignalsnapshot.h"

#include "fms/tbusfmsstandard.h"
#include "support/tbaseerror.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TBaseError CatchError(auto&& action)
{
    try {
        action();
    } catch (const TBaseError& e) {
        return e;
    }
    ADD_FAILURE() << "no TBaseError";
    return {};
}

// Every signal with a content it takes: numbers `number`, enumerations index 1, texts
// of their own sizes, every tell-tale `tellTale`.
TSignalSnapshot Filled(double number, uint8_t tellTale)
{
    TSignalSnapshot s;
    for (int i = 0; i < TSignalSnapshot::Size; ++i) {
        const auto id = static_cast<TSignalId>(i);
        switch (SignalKindAt(i)) {
        case TSignalKind::Number: s.SetNumber(id, number); break;
        case TSignalKind::Enumeration: s.SetIndex(id, 1); break;
        case TSignalKind::Text: s.SetText(id, number > 1 ? "9876" : "1234"); break;
        case TSignalKind::TellTales: {
            TTellTaleStates t;
            t.States.fill(tellTale);
            s.SetTellTales(id, t);
            break;
        }
        }
    }
    return s;
}

std::vector<std::string> Shown(const TBusFmsStandard& c)
{
    std::vector<std::string> texts;
    for (int i = 0; i < c.SignalCount(); ++i)
        texts.push_back(c.Signal(i).Write().str() + "/" + std::to_string(c.Signal(i).MeasVal->State));
    return texts;
}

}  // namespace

TEST(TSignalSnapshot, EntriesStartAsTheKindOfTheirSignalNotSet)
{
    const TSignalSnapshot s;
    EXPECT_TRUE(std::holds_alternative<double>(s.Entry(fmssignal::EngineSpeed).Content));
    EXPECT_TRUE(std::holds_alternative<TEnumIndex>(s.Entry(fmssignal::ClutchSwitch).Content));
    EXPECT_TRUE(std::holds_alternative<TSignalText>(s.Entry(fmssignal::Vin).Content));
    ASSERT_TRUE(std::holds_alternative<TTellTaleStates>(s.Entry(fmssignal::TellTales).Content));
    for (uint8_t state : std::get<TTellTaleStates>(s.Entry(fmssignal::TellTales).Content).States) EXPECT_EQ(state, 7);
    for (int i = 0; i < TSignalSnapshot::Size; ++i) EXPECT_EQ(s.Entry(i).State, msNotSet) << i;
    // The identifiers are the positions of the names in the catalogue's table.
    EXPECT_EQ(SignalIndex(fmssignal::WheelSpeed), 1);
    EXPECT_EQ(SignalIndex(fmssignal::EngineSpeed), 8);
    EXPECT_EQ(SignalIndex(fmssignal::TachoSpeed), 27);
    EXPECT_EQ(SignalIndex(DoorSignalId(1, fmstable::TDoorStatus::Lock)), 33);
    EXPECT_EQ(SignalIndex(fmssignal::TellTales), 85);
    const TBusFmsStandard c("00.02");
    EXPECT_EQ(c.Signal(SignalIndex(fmssignal::Year)).Name, "Year");
    EXPECT_EQ(c.Signal(SignalIndex(fmssignal::Driver2Id)).Name, "Driver 2 identification");
}

TEST(TSignalSnapshot, GenerationMovesOnlyWhenAnEntryChanges)
{
    TSignalSnapshot s;
    const uint64_t g0 = s.Generation();
    s.SetNumber(fmssignal::EngineSpeed, 1500);
    const uint64_t g1 = s.Generation();
    EXPECT_NE(g1, g0);
    s.SetNumber(fmssignal::EngineSpeed, 1500);
    s.SetState(fmssignal::Vin, msNotSet);   // already not set
    EXPECT_EQ(s.Generation(), g1);
    s.SetNumber(fmssignal::Ambient, std::nan(""));
    const uint64_t g2 = s.Generation();
    s.SetNumber(fmssignal::Ambient, std::nan(""));   // a NaN again is no change
    EXPECT_EQ(s.Generation(), g2);
    s.SetState(fmssignal::EngineSpeed, msError);
    EXPECT_NE(s.Generation(), g2);
    // Two snapshots never share a generation.
    EXPECT_NE(TSignalSnapshot().Generation(), TSignalSnapshot().Generation());
}

// One bad entry among new values for every signal: nothing changes, and the error says
// which signal and why.
TEST(TBusFmsStandardApply, ASnapshotWithOneBadValueChangesNothing)
{
    struct TRow {
        const char* what;
        TSignalId id;
        TSignalContent content;   // given with msValid when State is msValid
        TMeasState state;
        const char* detail;
    };
    const TRow rows[] = {
        {"text for a number", fmssignal::EngineSpeed, TSignalText{"1500"}, msValid,
         "Engine speed: a number is expected; no value was changed"},
        {"number for an enumeration", fmssignal::ClutchSwitch, 1.0, msValid,
         "Clutch switch: an enumeration index is expected; no value was changed"},
        {"VIN too long", fmssignal::Vin, TSignalText{std::string(201, 'V')}, msValid,
         "Vehicle identification number: the text has 201 bytes, at most 200 fit; no value was changed"},
        {"version too short", fmssignal::SoftwareVersion, TSignalText{"002"}, msValid,
         "SW-version supported: the text has 3 bytes, at least 4 are needed; no value was changed"},
        {"tell-tale status 8", fmssignal::TellTales, TTellTaleStates{{0, 0, 0, 0, 8}}, msValid,
         "Tell Tale Status: tell-tale 5 has the status 8, the statuses are 0 to 7; no value was changed"},
        {"reserved on 2 bits", fmssignal::ClutchSwitch, TEnumIndex{1}, msReserved1,
         "Clutch switch: the field of 2 bits cannot carry the state \"r\"; no value was changed"},
        {"o given", fmssignal::FuelLevel, 50.0, msOutOfRange,
         "Fuel level: the state \"o\" follows from the value's range; it is never given; no value was changed"},
        {"number not set", fmssignal::EngineSpeed, 0.0, msNotSet,
         "Engine speed: a number or an enumeration cannot be sent without a value; no value was changed"},
    };
    for (const TRow& r : rows) {
        SCOPED_TRACE(r.what);
        TBusFmsStandard c("00.02");
        c.Apply(Filled(1.0, 1));
        const std::vector<std::string> before = Shown(c);

        TSignalSnapshot bad = Filled(2.0, 2);
        bad.SetContent(r.id, r.content);
        if (r.state != msValid) bad.SetState(r.id, r.state);
        const TBaseError e = CatchError([&] { c.Apply(bad); });
        EXPECT_EQ(e.Operation(), "TBusFmsStandard::Apply");
        EXPECT_EQ(e.Message(), "value refused");
        EXPECT_EQ(e.Detail(), r.detail);
        EXPECT_EQ(Shown(c), before);

        // Without the bad entry the same values are all taken.
        c.Apply(Filled(2.0, 2));
        EXPECT_EQ(c.Signal(8).Write(), "2.000");
        EXPECT_EQ(c.Signal(13).Write(), "9876");
    }
}

TEST(TBusFmsStandardApply, StatesAndTellTaleBlocksCarryOn)
{
    TBusFmsStandard c("00.02");
    TSignalSnapshot s = Filled(1.0, 0);
    s.SetState(fmssignal::EngineSpeed, msError);
    s.SetState(fmssignal::Vin, msNotAvailable);
    s.SetNumber(fmssignal::FuelLevel, 100.4);
    c.Apply(s);
    EXPECT_EQ(c.Signal(8).Write(), "e");
    EXPECT_EQ(c.Signal(10).Write(), "n");
    EXPECT_EQ(c.Signal(7).Write(), "o");   // beyond 100 %
    EXPECT_EQ(c.Signal(85).Write(), std::string(41, '0'));

    // The tell-tale blocks go on 0, 1, 2 however often values are taken in between.
    std::vector<int> blocks;
    for (int i = 0; i < 4; ++i) {
        TCanHigh m(c.Signal(85).CanId);
        c.Signal(85).WriteToCan(m);
        blocks.push_back(m.Data()[0] & 0x0F);
        c.Apply(Filled(1.0 + i, 3));
    }
    EXPECT_EQ(blocks, (std::vector<int>{0, 1, 2, 0}));
    // Tell-tale 1 of block 0 in the high half of byte 0 beside the block number.
    TCanHigh m(c.Signal(85).CanId);
    c.Signal(85).WriteToCan(m);
    EXPECT_EQ(m.Data()[0], 0xB1);   // block 1, tell-tale 16 status 3
}
