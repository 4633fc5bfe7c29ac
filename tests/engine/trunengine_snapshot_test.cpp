// Typed values straight into the run engine: a snapshot the test writes is what the
// vehicle model hands over, and the frames, the monitor's text and the error display
// show what became of it (the catalogue, every row of the validity window at "Valid
// Signal", the monitor refreshed).

#include "engine/trunengine.h"

#include "engine/trecordingcockpit.h"
#include "engine/trunmonitor.h"
#include "engine/tsignalmonitor.h"
#include "engine/trunvalidity.h"
#include "engine/ttimesource.h"
#include "fms/tbusfmsstandard.h"
#include "fms/tfmstable.h"
#include "fms/tsignalid.h"
#include "fms/tvalidmanip.h"
#include "fms/tvehicledatatext.h"
#include "runfakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// The start-up cockpit's values, held still, for the test to change.
struct TRig {
    TRig()
    {
        TRecordingCockpit start;
        cockpit.values = start.Values();
        transmit.engine = &engine;
        engine.SetCockpit(&cockpit);
        engine.SetErrorReporter(&errors);
        engine.SetCanChannel(&channel);
        engine.SetMonitor(&monitor);
        engine.SetValidity(&validity);
        engine.Controls.ValidManip = true;
        engine.Controls.Display = true;
    }

    void RunFor(int64_t ms) { RunTicks(clock, engine, ms); }

    static uint32_t Pgn(const TCanFrame& f) { return (f.Id >> 8) & 0xFFFFu; }
    static uint64_t Field(const TCanFrame& f, int bit, int bits) { return FrameField(f, bit, bits); }
    std::vector<TCanFrame> FramesOf(uint32_t pgn, int64_t from = 0) const
    {
        std::vector<TCanFrame> frames;
        for (const TSentFrame& s : transmit.sent)
            if (Pgn(s.Frame) == pgn && s.Frame.Time >= from) frames.push_back(s.Frame);
        return frames;
    }

    TManualTimeSource clock{1000500000};
    TRecordingTransmit transmit;
    TFakeChannel channel;
    TRecordingErrors errors;
    TFixedCockpit cockpit;
    TValueListMonitor monitor;
    TManipValidity validity;
    TRunEngine engine{clock, transmit};
};

}  // namespace

// The values that used to wrap or turn into indicator codes, put straight into the
// snapshot: each leaves as the nearest valid raw value, and the monitor shows "o".
TEST(TRunEngineSnapshot, ValuesOutsideTheirRangeLeaveAsTheNearestValidRawValueShownAsO)
{
    struct TRow {
        const char* what;
        TSignalId id;
        TSignalContent value;
        uint32_t pgn;
        int bit, bits;
        uint64_t raw;   // the nearest valid raw value, worked out by hand
    };
    const TRow rows[] = {
        {"Tankinhalt=100.4", fmssignal::FuelLevel, 100.4, 0xFEFC, 8, 8, 250},   // 100 % / 0.4
        {"Tankinhalt=102.4", fmssignal::FuelLevel, 102.4, 0xFEFC, 8, 8, 250},
        {"Tankinhalt=150", fmssignal::FuelLevel, 150.0, 0xFEFC, 8, 8, 250},
        {"Tankinhalt=-0.8", fmssignal::FuelLevel, -0.8, 0xFEFC, 8, 8, 0},
        {"AmbTemp=1775", fmssignal::Ambient, 1775.0, 0xFEF5, 24, 16, 0xFAFF},   // (1734.969 + 273) / 0.03125 = 64255.008
        {"Year=2241", fmssignal::Year, 2241.0, 0xFEE6, 40, 8, 250},             // 2235 - 1985
        {"Gang=126 selected", fmssignal::SelectedGear, 126.0, 0xF005, 0, 8, 250},   // 125 + 125
        {"Gang=126 current", fmssignal::CurrentGear, 126.0, 0xF005, 24, 8, 250},
        {"ParkBrake=4", fmssignal::ParkingBrake, TEnumIndex{4}, 0xFEF1, 2, 2, 1},   // "set", its last entry
        {"Geschwindigkeit=256.1 wheel", fmssignal::WheelSpeed, 256.1, 0xFEF1, 8, 16, 0xFAFF},   // 250.9965 x 256 = 64255.1
        {"Geschwindigkeit=256.1 tachograph", fmssignal::TachoSpeed, 256.1, 0xFE6C, 48, 16, 0xFAFF},
        {"Gaspedal=-1e15", fmssignal::Accelerator, -1e15, 0xF003, 8, 8, 0},
        {"Drehzahl=29166.7", fmssignal::EngineSpeed, 29166.7, 0xF004, 24, 16, 0xFAFF},   // 8031.8751 / 0.125 = 64255.0008
    };
    for (const TRow& r : rows) {
        SCOPED_TRACE(r.what);
        TRig rig;
        rig.cockpit.values.SetContent(r.id, r.value);
        rig.engine.Start();
        rig.RunFor(1100);

        const std::vector<TCanFrame> frames = rig.FramesOf(r.pgn);
        ASSERT_FALSE(frames.empty());
        for (const TCanFrame& f : frames) EXPECT_EQ(TRig::Field(f, r.bit, r.bits), r.raw);
        ASSERT_EQ(rig.monitor.values.size(), 86u);
        EXPECT_EQ(rig.monitor.values[static_cast<size_t>(SignalIndex(r.id))], "o");
        // The monitor of the bus reads the valid end value and keeps the sender's "o".
        const TSignalRow row = rig.engine.Signals().Snapshot().Rows[static_cast<size_t>(SignalIndex(r.id))];
        EXPECT_EQ(row.StateCode.str(), "o");
        EXPECT_EQ(row.StateName.str(), "out of range");
        EXPECT_TRUE(rig.errors.shown.empty());
    }
}

// Every numeric field rounds to the nearest raw value, halves away from zero: the
// values 1.5 and 2.5 steps above a field's offset go out as 2 and 3 (pedal 0.6 % is
// raw 2, 1.0 % raw 3).
TEST(TRunEngineSnapshot, TiesRoundAwayFromZeroInEveryField)
{
    for (const double steps : {1.5, 2.5}) {
        TRig rig;
        for (const auto& n : fmstable::Numerics)
            rig.cockpit.values.SetNumber(static_cast<TSignalId>(n.Pos), n.Offset + steps * n.Resolution);
        rig.engine.Start();
        rig.RunFor(1100);
        const uint64_t expected = steps == 1.5 ? 2 : 3;
        int checked = 0;
        for (const auto& n : fmstable::Numerics) {
            SCOPED_TRACE(std::string(n.Name) + " at " + std::to_string(steps) + " steps");
            const std::vector<TCanFrame> frames = rig.FramesOf(fmstable::Groups[n.Group].Pgn);
            ASSERT_FALSE(frames.empty());
            for (const TCanFrame& f : frames) EXPECT_EQ(TRig::Field(f, n.Bit, n.Bits), expected);
            EXPECT_NE(rig.monitor.values[static_cast<size_t>(n.Pos)], "o");
            EXPECT_EQ(rig.engine.Signals().Snapshot().Rows[static_cast<size_t>(n.Pos)].StateName.str(), "valid");
            ++checked;
        }
        EXPECT_EQ(checked, 26);
        EXPECT_TRUE(rig.errors.shown.empty());
    }
}

// A snapshot with one value the catalogue cannot take changes nothing: the error says
// which, the values sent and shown stay the last good ones until the model hands over
// a good snapshot again.
TEST(TRunEngineSnapshot, ASnapshotWithOneBadValueChangesNothing)
{
    TRig rig;
    rig.cockpit.values.SetNumber(fmssignal::EngineSpeed, 1500);
    rig.engine.Start();
    rig.RunFor(100);
    ASSERT_TRUE(rig.errors.shown.empty());

    rig.cockpit.values.SetNumber(fmssignal::EngineSpeed, 2000);
    rig.cockpit.values.SetText(fmssignal::Vin, std::string(201, 'V'));   // one byte too many
    rig.RunFor(200);
    ASSERT_EQ(rig.errors.shown.size(), 1u);
    EXPECT_EQ(rig.errors.shown[0].Operation(), "TBusFmsStandard::Apply");
    EXPECT_EQ(rig.errors.shown[0].Message(), "value refused");
    EXPECT_EQ(rig.errors.shown[0].Detail(),
              "Vehicle identification number: the text has 201 bytes, at most 200 fit; no value was changed");
    for (const TCanFrame& f : rig.FramesOf(0xF004)) EXPECT_EQ(TRig::Field(f, 24, 16), 12000u) << f.Time;   // 1500 rpm
    EXPECT_EQ(rig.monitor.values[8], "1500.000");
    EXPECT_EQ(rig.monitor.values[10], "Vehicle_ID_0001_abcdefg*");

    rig.cockpit.values.SetText(fmssignal::Vin, "WDB*");
    rig.RunFor(100);
    const std::vector<TCanFrame> later = rig.FramesOf(0xF004, 320000);
    ASSERT_FALSE(later.empty());
    for (const TCanFrame& f : later) EXPECT_EQ(TRig::Field(f, 24, 16), 16000u) << f.Time;   // 2000 rpm
    EXPECT_EQ(rig.monitor.values[8], "2000.000");
    EXPECT_EQ(rig.errors.shown.size(), 1u);
}
