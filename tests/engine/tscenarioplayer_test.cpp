// Scenarios played through the real engine on the simulated clock: each action reaches
// the frames at its time, ramps follow their line at every model step, repeat starts the
// file again, and a scenario naming what the vehicle lacks is refused before it runs.

#include "engine/tscenarioplayer.h"

#include "engine/trecordingcockpit.h"
#include "engine/trunengine.h"
#include "engine/trunvalidity.h"
#include "engine/tscenariocockpit.h"
#include "engine/tscenariorecorder.h"
#include "engine/ttimesource.h"
#include "engine/tvehiclechecks.h"
#include "engine/tvehiclecommands.h"
#include "fms/tbusfmsstandard.h"
#include "fms/tvalidmanip.h"
#include "fms/tvehicledatatext.h"
#include "runfakes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace {

class TManip final : public TRunValidity {
public:
    void Execute(TBusFmsStandard& catalogue) override { manip.Execute(catalogue); }
    uint64_t ChoicesVersion() const override { return manip.Version(); }
    TValidManip manip;
};

// The start-up cockpit, noting what the model holds for one name at every model step,
// after the scenario's steps of that step were carried out.
class TWatchedCockpit final : public TRunCockpit {
public:
    const TSignalSnapshot& Step(double dt, bool refresh) override
    {
        if (engine && !watch.IsEmpty()) seen.push_back({engine->SimTime(), inner.Lkw().GetMV(watch)});
        return inner.Step(dt, refresh);
    }
    const TSignalSnapshot& Values() override { return inner.Values(); }

    struct TSeen {
        int64_t SimTime;
        double Value;
    };
    TRecordingCockpit inner;
    const TRunEngine* engine = nullptr;
    TAString watch;
    std::vector<TSeen> seen;
};

// One engine with the start-up cockpit and a scenario player in front of it.
struct TRig {
    TRig()
    {
        transmit.engine = &engine;
        watched.engine = &engine;
        engine.SetCockpit(&cockpit);
        engine.SetErrorReporter(&errors);
        engine.SetCanChannel(&channel);
        engine.SetValidity(&validity);
        engine.Controls.ValidManip = true;
    }

    // Parses, checks and plays text from the start of a run.
    void Play(const char* text)
    {
        const TScenarioParse parse = ParseScenario(text);
        ASSERT_FALSE(parse.Refusal) << parse.Refusal->Describe().str();
        const std::optional<TScenarioRefusal> refusal = TScenarioPlayer::Check(parse.Scenario, checks);
        ASSERT_FALSE(refusal) << refusal->Describe().str();
        engine.Start();
        player.Play(parse.Scenario, engine.SimTime());
    }
    // Runs until ms of the run have passed, in the window's 50 ms ticks.
    void RunUntil(int64_t ms)
    {
        while (engine.SimTime() < ms * 1000 && engine.Running()) {
            clock.AdvanceMicros(std::min<int64_t>(TRunEngine::TickIntervalMs, ms - engine.SimTime() / 1000) * 1000);
            engine.TimerSysTimer();
        }
    }

    static uint32_t Pgn(const TCanFrame& f) { return (f.Id >> 8) & 0xFFFFu; }
    static uint64_t Field(const TCanFrame& f, int bit, int bits) { return FrameField(f, bit, bits); }
    // The frames of pgn that left in [fromMs, toMs).
    std::vector<TCanFrame> FramesOf(uint32_t pgn, int64_t fromMs = 0, int64_t toMs = INT64_MAX / 1000) const
    {
        std::vector<TCanFrame> frames;
        for (const TSentFrame& s : transmit.sent)
            if (Pgn(s.Frame) == pgn && s.SimTime >= fromMs * 1000 && s.SimTime < toMs * 1000) frames.push_back(s.Frame);
        return frames;
    }
    // The monitor's text of the signal in row.
    TAString Shown(int row) { return TVehicleDataText::Values(&engine.Catalogue())[static_cast<size_t>(row)]; }

    TManualTimeSource clock{1000500000};
    TRecordingTransmit transmit;
    TFakeChannel channel;
    TRecordingErrors errors;
    TWatchedCockpit watched;
    TManip validity;
    TRunEngine engine{clock, transmit};
    TVehicleCommands commands{watched.inner.Lkw(), validity.manip, engine.Options, engine.Catalogue()};
    TVehicleChecks checks{watched.inner.Lkw()};
    TScenarioPlayer player{commands};
    TScenarioCockpit cockpit{watched, player, commands, engine};
};

// Each action, at 1 s, reaches the frames sent after it and not those before it. Raw
// values worked by hand from the signals' resolutions.
TEST(TScenarioPlayer, EveryActionReachesTheFramesAtItsTime)
{
    struct TField {
        uint32_t pgn;
        int bit, bits;
    };
    const TField pedal{0xF003, 8, 8};     // accelerator pedal, 0.4 % per bit
    const TField rpm{0xF004, 24, 16};     // engine speed, 0.125 rpm per bit
    const TField gear{0xF005, 24, 8};     // current gear, gear + 125
    const struct {
        const char* text;
        TField field;
        uint64_t before;   // the last frame before 1 s
        uint64_t after;    // every frame from 1.1 s to 2 s
    } cases[] = {
        {"1 set Gaspedal=40\n", pedal, 250, 100},
        {"0.5 set Gaspedal=10\n1 ramp Gaspedal=40..40 over 0.5\n", pedal, 25, 100},
        {"1 set Gang=0\n", gear, 126, 125},
        {"0 set Gang=3\n1 set Gang=5\n", gear, 128, 130},
        {"0 set Gang=2\n0.5 set Gang=4\n+0.5 set Gang=6\n", gear, 129, 131},   // +0.5 after 0.5: at 1 s
        {"1 force \"Engine speed=error\"\n", rpm, 0, 0xFE00},
        {"0 force \"Engine speed=not available\"\n1 release \"Engine speed\"\n", rpm, 0xFFFF, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TRig rig;
        rig.Play(c.text);
        rig.RunUntil(2000);
        const std::vector<TCanFrame> before = rig.FramesOf(c.field.pgn, 0, 1000);
        const std::vector<TCanFrame> after = rig.FramesOf(c.field.pgn, 1100, 2000);
        ASSERT_FALSE(before.empty());
        ASSERT_FALSE(after.empty());
        const uint64_t mask = c.after == 0xFE00 ? 0xFF00 : 0xFFFF;   // an error code keeps its low byte
        EXPECT_EQ(TRig::Field(before.back(), c.field.bit, c.field.bits), c.before);
        for (const TCanFrame& f : after) EXPECT_EQ(TRig::Field(f, c.field.bit, c.field.bits) & mask, c.after);
        EXPECT_TRUE(rig.errors.shown.empty());
    }
}

TEST(TScenarioPlayer, StarterTurnsTheEngineOverAtItsTime)
{
    TRig rig;
    rig.Play("1 starter\n");
    rig.RunUntil(2000);
    for (const TCanFrame& f : rig.FramesOf(0xF004, 0, 1000)) EXPECT_EQ(TRig::Field(f, 24, 16), 0u);
    const std::vector<TCanFrame> after = rig.FramesOf(0xF004, 1100, 2000);
    ASSERT_FALSE(after.empty());
    EXPECT_GT(TRig::Field(after.back(), 24, 16), 0u);
}

// Texts, tell-tales and the groups sent: as the monitor and the wire show them.
TEST(TScenarioPlayer, IdentificationsTellTalesAndGroupsChangeAtTheirTimes)
{
    TRig rig;
    rig.Play("1 vin WDB9634031L123456\n"
             "1 driver1 DRIVER0000000001\n"
             "1 driver2 DRIVER0000000002\n"
             "1 telltale 7=1\n"
             "1 drop FEF1\n"
             "2 keep FEF1\n"
             "3 stop\n");
    rig.RunUntil(900);
    const TAString vinBefore = rig.Shown(10);
    const TAString driverBefore = rig.Shown(81);
    const TAString tellBefore = rig.Shown(85);
    rig.RunUntil(1500);
    EXPECT_NE(rig.Shown(10), vinBefore);
    EXPECT_NE(rig.Shown(10).Find("WDB9634031L123456"), -1) << rig.Shown(10).str();
    EXPECT_NE(rig.Shown(81), driverBefore);
    EXPECT_NE(rig.Shown(81).Find("DRIVER0000000001"), -1) << rig.Shown(81).str();
    EXPECT_NE(rig.Shown(82).Find("DRIVER0000000002"), -1) << rig.Shown(82).str();
    EXPECT_NE(rig.Shown(85), tellBefore);
    EXPECT_EQ(rig.watched.inner.Lkw().GetTellTales()[6], '1');
    rig.RunUntil(3500);
    EXPECT_FALSE(rig.FramesOf(0xFEF1, 0, 1000).empty());
    EXPECT_TRUE(rig.FramesOf(0xFEF1, 1100, 2000).empty());
    EXPECT_FALSE(rig.FramesOf(0xFEF1, 2200, 3000).empty());
    EXPECT_TRUE(rig.player.StopReached());
    EXPECT_FALSE(rig.player.Playing());
    EXPECT_EQ(rig.player.Line(), 7);
    EXPECT_EQ(rig.player.LineText(), "3 stop");
}

// A ramp sets its line's value at every 20 ms model step: FROM at its start, TO at its
// end; the frames carry the value within one resolution step (0.4 %) of the line.
TEST(TScenarioPlayer, RampFollowsItsLineAtEveryModelStep)
{
    TRig rig;
    rig.watched.watch = "Gaspedal";
    rig.Play("0 set Gaspedal=0\n2 ramp Gaspedal=0..60 over 5\n");
    rig.RunUntil(9000);
    auto line = [](double us) { return us <= 2e6 ? 0.0 : us >= 7e6 ? 60.0 : 60.0 * (us - 2e6) / 5e6; };
    ASSERT_EQ(rig.watched.seen.size(), 450u);   // 9 s of 20 ms steps
    for (std::size_t i = 0; i < rig.watched.seen.size(); ++i) {
        const auto& s = rig.watched.seen[i];
        EXPECT_EQ(s.SimTime, static_cast<int64_t>(i) * 20000);
        EXPECT_NEAR(s.Value, line(static_cast<double>(s.SimTime)), 1e-9) << s.SimTime;
    }
    int frames = 0;
    for (const TSentFrame& s : rig.transmit.sent) {
        if (TRig::Pgn(s.Frame) != 0xF003) continue;
        ++frames;
        // Built from the model's value at most one model step before it was queued, which
        // is at most a few steps before it left: 50 ms covers both.
        const auto t = static_cast<double>(s.SimTime);
        const double value = static_cast<double>(TRig::Field(s.Frame, 8, 8)) * 0.4;
        EXPECT_GE(value, line(t - 50000) - 0.4 - 1e-9) << s.SimTime;
        EXPECT_LE(value, line(t) + 0.4 + 1e-9) << s.SimTime;
    }
    EXPECT_GT(frames, 100);
}

// A whole-number value ramps through whole numbers; a later set ends a ramp.
TEST(TScenarioPlayer, WholeNumberRampRoundsAndALaterSetEndsIt)
{
    TRig rig;
    rig.watched.watch = "Gang";
    rig.Play("0 ramp Gang=1..6 over 1\n0.5 set Gang=8\n");
    rig.RunUntil(1000);
    ASSERT_EQ(rig.watched.seen.size(), 50u);
    for (const auto& s : rig.watched.seen) {
        const double expected = s.SimTime < 500000 ? std::round(1 + 5 * static_cast<double>(s.SimTime) / 1e6) : 8;
        EXPECT_EQ(s.Value, expected) << s.SimTime;
    }
}

// repeat starts the file again at its own time: the drive runs every 2 s.
TEST(TScenarioPlayer, RepeatStartsTheFileAgain)
{
    TRig rig;
    rig.Play("0 set Gaspedal=10\n1 set Gaspedal=50\n2 repeat\n");
    rig.RunUntil(6000);
    const struct {
        int64_t fromMs;
        uint64_t raw;
    } spans[] = {{100, 25}, {1100, 125}, {2100, 25}, {3100, 125}, {4100, 25}, {5100, 125}};
    for (const auto& s : spans) {
        SCOPED_TRACE(s.fromMs);
        const std::vector<TCanFrame> frames = rig.FramesOf(0xF003, s.fromMs, s.fromMs + 850);
        ASSERT_FALSE(frames.empty());
        for (const TCanFrame& f : frames) EXPECT_EQ(TRig::Field(f, 8, 8), s.raw);
    }
    EXPECT_TRUE(rig.player.Playing());
}

// Names the vehicle does not have are refused with the line, before anything runs.
TEST(TScenarioPlayer, CheckRefusesWhatTheVehicleLacksWithTheLine)
{
    const struct {
        const char* text;
        int line;
        const char* expected;
    } cases[] = {
        {"0 starter\n1 set Nonsense=1\n", 2,
         "a name and a value that --set takes (--help lists them): the vehicle model has no value named 'Nonsense'"},
        {"1 set Tankinhalt=150\n", 1, "a name and a value that --set takes (--help lists them): 150 is outside its range, 0 to 100"},
        {"1 set Gang=2.5\n", 1,
         "a name and a value that --set takes (--help lists them): 2.5 is not one of its values, whole numbers 0 to 8"},
        {"1 ramp Gaspedal=0..101 over 2\n", 1,
         "a name and values that --set takes (--help lists them): 101 is outside its range, 0 to 100"},
        {"1 ramp Gaspedal=-1..50 over 2\n", 1,
         "a name and values that --set takes (--help lists them): -1 is outside its range, 0 to 100"},
        {"1 force \"Warp speed=error\"\n", 1, "a signal and a choice that --force takes: no signal is named 'Warp speed'"},
        {"1 release \"Warp speed\"\n", 1, "a signal of the catalogue: no signal is named 'Warp speed'"},
        {"1 driver1 AB*CD\n", 1,
         "an identification the cockpit's field takes: the text contains '*', which ends the field on the bus"},
        {"1 vin \"\"\n", 1,
         "an identification the cockpit's field takes: the text is 0 characters long; the field needs at least 1"},
        {"1 drop 1234\n", 1, "a parameter group of the catalogue: 1234: not a group of the catalogue"},
        {"1 keep 1234\n", 1, "a parameter group of the catalogue: 1234: not a group of the catalogue"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TRig rig;
        const TScenarioParse parse = ParseScenario(c.text);
        ASSERT_FALSE(parse.Refusal);
        const std::optional<TScenarioRefusal> refusal = TScenarioPlayer::Check(parse.Scenario, rig.checks);
        ASSERT_TRUE(refusal);
        EXPECT_EQ(refusal->Line, c.line);
        EXPECT_EQ(refusal->Expected, c.expected);
    }
    TRig rig;
    const TScenarioParse parse = ParseScenario("1 force \"Engine speed=Reserved 9\"\n");
    const std::optional<TScenarioRefusal> refusal = TScenarioPlayer::Check(parse.Scenario, rig.checks);
    ASSERT_TRUE(refusal);
    EXPECT_NE(refusal->Expected.Find("'Reserved 9' is not a choice of 'Engine speed'"), -1) << refusal->Expected.str();
}

// A drive done by hand (each action between two ticks, as the cockpit does it) and
// recorded, played back from its scenario: the same frames at the same times.
TEST(TScenarioPlayer, RecordedDrivePlaysBackTheSameFrames)
{
    TRig live;
    TScenarioRecorder recorder;
    live.engine.Start();
    recorder.Start(live.engine.SimTime());
    const struct {
        int64_t atMs;
        std::function<void(TVehicleCommands&, TScenarioRecorder&, int64_t)> act;
    } drive[] = {
        {300, [](TVehicleCommands& c, TScenarioRecorder& r, int64_t t) { c.Set("Gaspedal", 40); r.Set(t, "Gaspedal", 40); }},
        {300, [](TVehicleCommands& c, TScenarioRecorder& r, int64_t t) { c.Set("Gang", 3); r.Set(t, "Gang", 3); }},
        {650, [](TVehicleCommands& c, TScenarioRecorder& r, int64_t t) { c.Starter(); r.Starter(t); }},
        {900, [](TVehicleCommands& c, TScenarioRecorder& r, int64_t t) { c.SetTellTale(7, 1); r.TellTale(t, 7, 1); }},
        {1000, [](TVehicleCommands& c, TScenarioRecorder& r, int64_t t) {
             c.Force("Engine speed", "error");
             r.Force(t, "Engine speed", "error");
         }},
        {1250, [](TVehicleCommands& c, TScenarioRecorder& r, int64_t t) {
             c.SetIdentification("E_DID1", "DRIVER 0001");
             r.Identification(t, "E_DID1", "DRIVER 0001");
         }},
        {1400, [](TVehicleCommands& c, TScenarioRecorder& r, int64_t t) { c.Release("Engine speed"); r.Release(t, "Engine speed"); }},
        {1600, [](TVehicleCommands& c, TScenarioRecorder& r, int64_t t) { c.SendGroup(0xFEF1, false); r.SendGroup(t, 0xFEF1, false); }},
        {1850, [](TVehicleCommands& c, TScenarioRecorder& r, int64_t t) { c.Set("Bremspedal", 12.5); r.Set(t, "Bremspedal", 12.5); }},
        {2200, [](TVehicleCommands& c, TScenarioRecorder& r, int64_t t) { c.SendGroup(0xFEF1, true); r.SendGroup(t, 0xFEF1, true); }},
    };
    for (const auto& d : drive) {
        live.RunUntil(d.atMs);
        d.act(live.commands, recorder, live.engine.SimTime());
    }
    live.RunUntil(3000);
    recorder.Finish(live.engine.SimTime());

    TRig played;
    played.Play(recorder.Text().c_str());
    played.RunUntil(3000);
    ASSERT_EQ(played.transmit.sent.size(), live.transmit.sent.size()) << recorder.Text().str();
    for (std::size_t i = 0; i < live.transmit.sent.size(); ++i) {
        const TSentFrame& a = live.transmit.sent[i];
        const TSentFrame& b = played.transmit.sent[i];
        ASSERT_EQ(a.SimTime, b.SimTime) << i;
        ASSERT_EQ(a.Frame.Id, b.Frame.Id) << i;
        ASSERT_EQ(a.Frame.Data, b.Frame.Data) << i << " at " << a.SimTime;
    }
    // The drive changed the frames: the same run without it sends others.
    TRig idle;
    idle.Play("3 stop\n");
    idle.RunUntil(3000);
    bool differs = idle.transmit.sent.size() != live.transmit.sent.size();
    for (std::size_t i = 0; i < std::min(idle.transmit.sent.size(), live.transmit.sent.size()); ++i)
        differs = differs || idle.transmit.sent[i].Frame.Data != live.transmit.sent[i].Frame.Data;
    EXPECT_TRUE(differs);
    played.RunUntil(3100);
    EXPECT_TRUE(played.player.StopReached());   // the recording ends with a stop at 3 s
    EXPECT_NE(recorder.Text().Find("1 force \"Engine speed=error\""), -1) << recorder.Text().str();
}

}  // namespace
