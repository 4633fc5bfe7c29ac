// What the simulation puts on the bus for values outside their fields' ranges, and how
// exactly speeds reach their fields: through the run engine, the vehicle model of the
// cockpit, the catalogue, the validity manipulation (every row at "Valid Signal") and
// the monitor's text.

#include "engine/trunengine.h"

#include "engine/trecordingcockpit.h"
#include "engine/trunmonitor.h"
#include "engine/trunvalidity.h"
#include "engine/ttimesource.h"
#include "fms/tbusfmsstandard.h"
#include "fms/tvalidmanip.h"
#include "fms/tvehicledatatext.h"
#include "runfakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

// The monitor as the runner's --monitor prints it: the text of every value.
// The start-up cockpit, noting after each model step what the model holds.
class TWatchedCockpit final : public TRunCockpit {
public:
    const TSignalSnapshot& Step(double dt, bool refresh) override
    {
        const TSignalSnapshot& values = inner.Step(dt, refresh);
        Note();
        return values;
    }
    const TSignalSnapshot& Values() override
    {
        Note();
        return inner.Values();
    }
    void Note()
    {
        if (engine) speeds.push_back({engine->SimTime(), inner.Lkw().GetMV("Geschwindigkeit")});
    }

    struct TSpeed {
        int64_t SimTime;
        double Kmh;
    };
    TRecordingCockpit inner;
    const TRunEngine* engine = nullptr;
    std::vector<TSpeed> speeds;
};

// One engine with the start-up cockpit, every row of the validity window at "Valid
// Signal" and the monitor refreshed.
struct TRig {
    TRig()
    {
        transmit.engine = &engine;
        cockpit.engine = &engine;
        engine.SetCockpit(&cockpit);
        engine.SetErrorReporter(&errors);
        engine.SetCanChannel(&channel);
        engine.SetMonitor(&monitor);
        engine.SetValidity(&validity);
        engine.Controls.ValidManip = true;
        engine.Controls.Display = true;
    }

    TLkw& Lkw() { return cockpit.inner.Lkw(); }

    void RunFor(int64_t ms) { RunTicks(clock, engine, ms); }

    static uint32_t Pgn(const TCanFrame& f) { return (f.Id >> 8) & 0xFFFFu; }
    static uint64_t Field(const TCanFrame& f, int bit, int bits) { return FrameField(f, bit, bits); }
    std::vector<TCanFrame> FramesOf(uint32_t pgn) const
    {
        std::vector<TCanFrame> frames;
        for (const TSentFrame& s : transmit.sent)
            if (Pgn(s.Frame) == pgn) frames.push_back(s.Frame);
        return frames;
    }

    TManualTimeSource clock{1000500000};   // exact in binary
    TRecordingTransmit transmit;
    TFakeChannel channel;
    TRecordingErrors errors;
    TWatchedCockpit cockpit;
    TValueListMonitor monitor;
    TManipValidity validity;
    TRunEngine engine{clock, transmit};
};

class TRunEngineValues : public ::testing::Test {
protected:
    TRig rig;
};

// The values that used to wrap or turn into indicator codes, put straight into the
// vehicle model: each leaves as the nearest valid raw value and the monitor shows "o".
TEST_F(TRunEngineValues, ValuesOutsideTheirRangeLeaveAsTheNearestValidRawValueShownAsO)
{
    struct TRow {
        const char* name;
        double value;
        uint32_t pgn;
        int bit, bits;
        uint64_t raw;   // the nearest valid raw value, worked out by hand
        int signal;     // its row in the monitor
    };
    const TRow rows[] = {
        {"Tankinhalt", 100.4, 0xFEFC, 8, 8, 250, 7},           // 100 % / 0.4
        {"Tankinhalt", 102.4, 0xFEFC, 8, 8, 250, 7},
        {"Tankinhalt", 150, 0xFEFC, 8, 8, 250, 7},
        {"Tankinhalt", -0.8, 0xFEFC, 8, 8, 0, 7},
        {"AmbTemp", 1775, 0xFEF5, 24, 16, 0xFAFF, 29},          // (1734.969 + 273) / 0.03125 = 64255.008
        {"Year", 2241, 0xFEE6, 40, 8, 250, 68},                 // 2235 - 1985
        {"Gang", 126, 0xF005, 0, 8, 250, 75},                   // 125 + 125
        {"Gang", 126, 0xF005, 24, 8, 250, 76},
        {"ParkBrake", 4, 0xFEF1, 2, 2, 1, 0},                   // "set", its last entry
        {"Geschwindigkeit", 256.1, 0xFEF1, 8, 16, 0xFAFF, 1},   // 250.9965 x 256 = 64255.1
        {"Geschwindigkeit", 256.1, 0xFE6C, 48, 16, 0xFAFF, 27},
        {"Gaspedal", -1e15, 0xF003, 8, 8, 0, 5},
    };
    for (const TRow& r : rows) {
        SCOPED_TRACE(std::string(r.name) + "=" + std::to_string(r.value));
        TRig row;
        row.Lkw().SetMV(r.name, r.value);
        row.engine.Start();
        row.RunFor(400);

        const std::vector<TCanFrame> frames = row.FramesOf(r.pgn);
        ASSERT_FALSE(frames.empty());
        for (const TCanFrame& f : frames) EXPECT_EQ(TRig::Field(f, r.bit, r.bits), r.raw);
        ASSERT_EQ(row.monitor.values.size(), 86u);
        EXPECT_EQ(row.monitor.values[static_cast<size_t>(r.signal)], "o");
        EXPECT_TRUE(row.errors.shown.empty());
    }
}

// With the clutch engaged at speed the wheels would drive the engine past its limit.
TEST_F(TRunEngineValues, DownshiftAtSpeedNeverSendsAnEngineSpeedAboveTheLimit)
{
    rig.Lkw().SetMV("Geschwindigkeit", 150);
    rig.Lkw().SetGear(1);
    rig.engine.Start();
    rig.Lkw().StartEngine();
    rig.RunFor(20000);
    const std::vector<TCanFrame> eec1 = rig.FramesOf(0xF004);
    ASSERT_EQ(eec1.size(), 1000u);   // every 20 ms
    uint64_t highest = 0;
    for (const TCanFrame& f : eec1) {
        const uint64_t raw = TRig::Field(f, 24, 16);
        EXPECT_LE(raw, 28000u);   // 3500 rpm / 0.125
        highest = std::max(highest, raw);
    }
    EXPECT_EQ(highest, 28000u);   // the wheels hold it at its limit for a while
}

// A 600 s drive with the accelerator down: the wheel-based and the tachograph speed are
// each the nearest raw value of the model's speed at the step they were built in, so
// both groups carry the same speed within one model step.
TEST_F(TRunEngineValues, EverySpeedOfALongDriveIsTheNearestRawValue)
{
    rig.engine.Start();
    rig.Lkw().StartEngine();
    rig.RunFor(600000);
    const auto& speeds = rig.cockpit.speeds;

    // The speed in effect for a group built at step s (5 ms ahead of its due time, at the
    // first step for the first 5 ms): the last one the model gave at or before s.
    auto speedAt = [&](int64_t dueMicros) {
        const int64_t built = std::max<int64_t>(0, dueMicros - TRunEngine::RequestLead);
        double kmh = -1;
        auto it = std::upper_bound(speeds.begin(), speeds.end(), built,
                                   [](int64_t t, const TWatchedCockpit::TSpeed& s) { return t < s.SimTime; });
        if (it != speeds.begin()) kmh = std::prev(it)->Kmh;
        return kmh;
    };
    double fastest = 0;
    int checked = 0;
    for (const auto& [pgn, bit] : {std::pair<uint32_t, int>{0xFEF1, 8}, {0xFE6C, 48}}) {
        for (const TCanFrame& f : rig.FramesOf(pgn)) {
            const double kmh = speedAt(f.Time);
            ASSERT_GE(kmh, 0.0);
            fastest = std::max(fastest, kmh);
            const double exact = kmh * 256.0;
            EXPECT_LE(std::fabs(static_cast<double>(TRig::Field(f, bit, 16)) - exact), 0.5 + 1e-9)
                << std::hex << pgn << std::dec << " at " << f.Time << " us: " << kmh << " km/h";
            ++checked;
        }
    }
    EXPECT_EQ(checked, 6000 + 30000);
    EXPECT_GT(fastest, 20.0);   // the vehicle moved

    // Same step, same speed: CCVS due at 100 ms and TCO1 due at 98 ms are built at 95 and
    // 93 ms, both after the model step at 80 ms.
    const std::vector<TCanFrame> ccvs = rig.FramesOf(0xFEF1);
    const std::vector<TCanFrame> tco1 = rig.FramesOf(0xFE6C);
    for (const TCanFrame& c : ccvs) {
        const auto partner = std::find_if(tco1.begin(), tco1.end(), [&](const TCanFrame& t) { return t.Time == c.Time - 2000; });
        if (partner == tco1.end()) continue;
        EXPECT_EQ(TRig::Field(c, 8, 16), TRig::Field(*partner, 48, 16)) << c.Time;
    }
}

}  // namespace
