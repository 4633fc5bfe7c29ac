#include "engine/trunengine.h"

#include "logs/tcanlogreader.h"
#include "engine/trecordingcockpit.h"
#include "engine/trunmonitor.h"
#include "engine/trunvalidity.h"
#include "engine/ttimesource.h"
#include "fms/tsignalid.h"
#include "runfakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <set>
#include <string>

namespace {

class TRunEngineTick : public ::testing::Test {
protected:
    // 1000.5 s is exact in binary, so the start time in µs is exact too.
    static constexpr int64_t StartMicros = 1000500000;

    void SetUp() override
    {
        transmit.engine = &engine;
        engine.SetCockpit(&cockpit);
        engine.SetErrorReporter(&errors);
        engine.SetView(&view);
        engine.SetCanChannel(&channel);
    }

    void Tick(int64_t ms)
    {
        clock.AdvanceMicros(ms * 1000);
        engine.TimerSysTimer();
    }
    void RunFor(int64_t ms)
    {
        while (ms > 0) {
            const int64_t t = std::min<int64_t>(ms, TRunEngine::TickIntervalMs);
            Tick(t);
            ms -= t;
        }
    }

    TManualTimeSource clock{StartMicros};
    TRecordingTransmit transmit;
    TFakeChannel channel;
    TRecordingErrors errors;
    TRecordingView view;
    TRecordingCockpit cockpit;
    TRunEngine engine{clock, transmit};
};

TEST_F(TRunEngineTick, EveryFrameLeavesAloneAtItsScheduledMillisecondAndIsDueTwoHundredMsLater)
{
    engine.Start();
    RunFor(1000);

    // In the first second: EEC1 and TCO1 every 20 ms (100), EEC2 every 50 ms (20), six
    // groups every 100 ms (60), ten groups once (10), the VIN announcement and its four
    // packets (5), the FMS group (1).
    ASSERT_EQ(transmit.sent.size(), 196u);
    std::set<int64_t> steps;
    for (const TSentFrame& s : transmit.sent) {
        EXPECT_EQ(s.SimTime, s.Frame.Time) << std::hex << s.Frame.Id;
        EXPECT_EQ(s.Delay, StartMicros + 200000);
        EXPECT_EQ(s.Frame.Dlc, 8);
        steps.insert(s.SimTime);
    }
    EXPECT_EQ(steps.size(), transmit.sent.size()) << "two frames left in one millisecond";
    EXPECT_EQ(transmit.sent.front().Frame.Id, 0x18FEF100u);
    EXPECT_EQ(transmit.sent.front().Frame.Time, 0);
}

// A tick that finds the run more than 200 ms behind (the process was held up: a box
// left open, a suspended machine) goes on from the present: no burst of the missed
// milliseconds, nothing lost, the adapter stays on, and the stop tells it once.
TEST_F(TRunEngineTick, StallGoesOnFromThePresentWithoutABurst)
{
    struct TCase {
        const char* What;
        int64_t Before;   // ms run before the stall
        int64_t Stall;    // ms the process was held up
        int64_t After;    // ms run after it
    } const cases[] = {
        {"the first tick 350 ms late", 0, 350, 1000},
        {"a box open for 10 s", 1000, 10000, 1000},
        {"just above the limit", 500, 260, 500},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        transmit.sent.clear();
        errors.shown.clear();
        engine.Start();
        const int64_t start = clock.Micros();
        RunFor(c.Before);
        const size_t before = transmit.sent.size();
        clock.AdvanceMicros(c.Stall * 1000);
        Tick(0);
        // One step, not the hundreds missed.
        EXPECT_EQ(engine.SimTime(), (c.Before + 1) * 1000);
        EXPECT_LE(transmit.sent.size() - before, 1u);
        const int64_t shift = (c.Stall - 1) * 1000;
        EXPECT_EQ(engine.Stalls(), 1);
        EXPECT_EQ(engine.StallShift(), shift);
        RunFor(c.After);
        EXPECT_TRUE(engine.Controls.SendCan);
        EXPECT_EQ(engine.ReplayBacklog(), 0u);
        // Every frame in its own millisecond and due by the moved start from then on.
        std::set<int64_t> steps;
        for (const TSentFrame& s : transmit.sent) {
            EXPECT_GE(s.SimTime, s.Frame.Time);
            EXPECT_EQ(s.Delay, start + (s.SimTime >= c.Before * 1000 ? shift : 0) + TRunEngine::TransmitLead);
            steps.insert(s.SimTime);
        }
        EXPECT_EQ(steps.size(), transmit.sent.size());
        EXPECT_TRUE(errors.shown.empty());
        engine.Stop();
        ASSERT_EQ(errors.shown.size(), 1u);
        EXPECT_EQ(errors.shown[0].Message(), "run stalled");
        EXPECT_NE(errors.shown[0].Detail().str().find("the simulation skipped the missed periods"), std::string::npos);
    }
}

// A transmit buffer that takes nothing holds the frames back; while it takes them again
// within a second nothing is lost. One that takes nothing for a second: the frames held
// are told as not delivered, once, and the adapter stays on for what comes next.
TEST_F(TRunEngineTick, FullTransmitBufferHoldsFramesAndNeverSwitchesTheAdapterOff)
{
    struct TCase {
        const char* What;
        int64_t Blocked;      // ms the buffer takes nothing
        int64_t StallMs;      // a stall while it is blocked
        bool Lost;
    } const cases[] = {
        {"blocked for 0.5 s", 500, 0, false},
        {"blocked for 0.3 s with a 1 s stall in it", 300, 1000, false},
        {"blocked for 1.5 s", 1500, 0, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        transmit.sent.clear();
        errors.shown.clear();
        engine.Start();
        RunFor(100);
        transmit.perStep = 0;
        RunFor(c.Blocked / 2);
        if (c.StallMs > 0) {
            clock.AdvanceMicros(c.StallMs * 1000);
            Tick(0);
        }
        RunFor(c.Blocked - c.Blocked / 2 - (c.StallMs > 0 ? 1 : 0));
        EXPECT_TRUE(engine.Controls.SendCan);
        transmit.perStep = std::numeric_limits<int>::max();
        RunFor(200);
        EXPECT_TRUE(engine.Controls.SendCan);
        EXPECT_EQ(engine.ReplayBacklog(), 0u);
        // In order, each frame of the schedule once.
        for (size_t i = 1; i < transmit.sent.size(); ++i) EXPECT_LT(transmit.sent[i - 1].Frame.Time, transmit.sent[i].Frame.Time);
        const size_t expected = c.Lost ? 0u : 1u;
        EXPECT_EQ(engine.Undelivered() == 0, expected == 1u) << engine.Undelivered();
        if (c.Lost) {
            ASSERT_FALSE(errors.shown.empty());
            EXPECT_EQ(errors.shown[0].Message(), "Frames not delivered");
            EXPECT_NE(errors.shown[0].Detail().str().find(std::to_string(engine.Undelivered()) + " frames waited"),
                      std::string::npos)
                << errors.shown[0].Detail().str();
        } else {
            EXPECT_EQ(errors.shown.size(), c.StallMs > 0 ? 0u : 0u);
        }
        engine.Stop();
    }
}

TEST_F(TRunEngineTick, StepCounterKeepsItsPhaseAcrossStopAndStart)
{
    engine.Start();
    RunFor(7);                  // steps 0..6 of the cycle: one vehicle step, at 0
    EXPECT_EQ(cockpit.Steps(), 1);
    EXPECT_EQ(engine.StepCounter(), 6);
    engine.Stop();

    engine.Start();
    EXPECT_EQ(engine.SimTime(), 0);
    RunFor(13);                 // 7..19
    EXPECT_EQ(cockpit.Steps(), 1);
    RunFor(1);                  // 20: the first vehicle step of this run, after 14 steps
    EXPECT_EQ(cockpit.Steps(), 2);
    EXPECT_EQ(engine.StepCounter(), 20);
}

TEST_F(TRunEngineTick, NoCatalogueErrorBeforeTheFirstVehicleStepOfARun)
{
    engine.Controls.ValidManip = false;
    engine.Start();
    RunFor(7);
    engine.Stop();
    // The second run's first vehicle step comes only at its 14th step, after the
    // requests at its 4th and 9th: they find the values handed over at Start.
    engine.Start();
    RunFor(100);
    EXPECT_TRUE(errors.shown.empty()) << errors.shown.front().DescribeText().c_str();
    EXPECT_FALSE(transmit.sent.empty());
}

TEST_F(TRunEngineTick, SimulationErrorsAreShownOncePerRunAndTheTickGoesOn)
{
    TFixedCockpit bad;   // no values: the catalogue refuses them, every value stays unset
    engine.SetCockpit(&bad);
    engine.Start();
    RunFor(200);
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_EQ(engine.SimTime(), 200000);
    EXPECT_EQ(bad.steps, 10);
    engine.Stop();

    engine.Start();
    RunFor(50);
    EXPECT_EQ(errors.shown.size(), 2u);
}

TEST_F(TRunEngineTick, FailingChannelReadIsShownOncePerRunAndFramesStillGoOut)
{
    channel.failReads = true;
    engine.Start();
    RunFor(100);
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_EQ(errors.shown[0].Message(), "read error");
    EXPECT_EQ(channel.reads, 100);
    EXPECT_FALSE(transmit.sent.empty());
    EXPECT_EQ(engine.SimTime(), 100000);
}

TEST_F(TRunEngineTick, TransmitFailureUnchecksTheAdapterAndTheRunGoesOn)
{
    transmit.fail = TRecordingTransmit::fBaseError;
    engine.Start();
    RunFor(100);
    EXPECT_FALSE(engine.Controls.SendCan);
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_EQ(errors.shown[0].Operation(), "TCanBuffer::Write");
    EXPECT_EQ(errors.shown[0].Message(), "write error");
    EXPECT_GE(view.controlChanges, 1);
    EXPECT_EQ(engine.SimTime(), 100000);

    // Checked again, an error that is not a TBaseError is shown as the tick's own.
    engine.Controls.SendCan = true;
    transmit.fail = TRecordingTransmit::fOther;
    RunFor(50);
    EXPECT_FALSE(engine.Controls.SendCan);
    ASSERT_EQ(errors.shown.size(), 2u);
    EXPECT_EQ(errors.shown[1].Operation(), "Maintask");
    EXPECT_EQ(errors.shown[1].Message(), "CAN write error");
}

TEST_F(TRunEngineTick, StopInTheDriverIdentificationTransferLeavesNothingForTheNextRun)
{
    // The driver identification goes out at 5.012 s: announcement and six packets 100 ms
    // apart. Stopped after its second packet, its packets 3..6 belong to that run only.
    engine.Start();
    RunFor(5300);
    engine.Stop();
    transmit.sent.clear();
    engine.Start();
    RunFor(1000);
    std::vector<int> sequence;
    for (const TSentFrame& s : transmit.sent)
        if (s.Frame.Id == 0x18EBFF00u) sequence.push_back(s.Frame.Data[0]);
    // Only the VIN transfer of the new run: packets 1..4.
    EXPECT_EQ(sequence, (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(TRunEngineTick, ChannelChangeShowsTheOldChannelsErrorAndKeepsTheAdapterOn)
{
    // An error the sending thread recorded on channel A is shown when the channel is
    // changed, as A's, and is not thrown at the first frame for channel B.
    transmit.pending = TBaseError("TCanChannelSim::Write", "connection lost");
    TFakeChannel other;
    engine.SetCanChannel(&other);
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_EQ(errors.shown[0].Message(), "connection lost");
    engine.Start();
    RunFor(50);
    EXPECT_TRUE(engine.Controls.SendCan);
    EXPECT_FALSE(transmit.sent.empty());
    EXPECT_EQ(errors.shown.size(), 1u);
}

TEST_F(TRunEngineTick, RunCountsTheFramesSentAndLoggedFromItsStart)
{
    const std::string name = (std::filesystem::temp_directory_path() / "trunengine_counts.asc").string();
    std::remove(name.c_str());
    ASSERT_TRUE(engine.OpenLogOut(name));
    engine.Controls.LogFile = true;
    engine.Start();
    RunFor(1000);
    // The 196 frames of the first second went to the adapter and the log alike.
    EXPECT_EQ(engine.FramesSent(), 196u);
    EXPECT_EQ(engine.FramesLogged(), 196u);
    engine.Stop();
    EXPECT_EQ(std::filesystem::file_size(name), 196u * 35u);

    // A new run counts from 0; frames the adapter refused are not counted as sent.
    engine.Start();
    EXPECT_EQ(engine.FramesSent(), 0u);
    EXPECT_EQ(engine.FramesLogged(), 0u);
    transmit.fail = TRecordingTransmit::fBaseError;
    RunFor(100);
    EXPECT_EQ(engine.FramesSent(), 0u);
    EXPECT_GT(engine.FramesLogged(), 0u);

    // A new output file in the middle of the run: "Written" is the lines of that file.
    transmit.fail = TRecordingTransmit::fNone;
    const std::string second = name + ".2";
    std::remove(second.c_str());
    ASSERT_TRUE(engine.OpenLogOut(second));
    EXPECT_EQ(engine.FramesLogged(), 0u);
    RunFor(500);
    engine.Stop();
    EXPECT_EQ(engine.FramesLogged() * 35u, std::filesystem::file_size(second));
    engine.LogOut().Close();
    std::remove(name.c_str());
    std::remove(second.c_str());
}

TEST_F(TRunEngineTick, NoChannelOrAdapterOffMeansNothingIsWritten)
{
    engine.Controls.SendCan = false;
    engine.Start();
    RunFor(50);
    EXPECT_TRUE(transmit.sent.empty());

    engine.Controls.SendCan = true;
    engine.SetCanChannel(nullptr);
    RunFor(50);
    EXPECT_TRUE(transmit.sent.empty());
    EXPECT_EQ(transmit.channels, (std::vector<TCanChannel*>{&channel, nullptr}));
    EXPECT_EQ(engine.CanChannel(), nullptr);
}

TEST_F(TRunEngineTick, FrameWatchShowsTheBitsOfTheWatchedGroupWithATrailingBlank)
{
    engine.Controls.FrameWatchPgn = "FEF1";
    engine.Start();            // as the cockpit's starter does it
    cockpit.StartEngine();
    RunFor(50);
    // The first CCVS: F3 15 00 0C FF FF FF FF (0.082 km/h after the first vehicle step).
    EXPECT_EQ(engine.Controls.FrameWatchBits.str(),
              "11110011 00010101 00000000 00001100 11111111 11111111 11111111 11111111 ");
}

TEST_F(TRunEngineTick, FrameWatchIgnoresTextThatIsNoGroupNumber)
{
    const TAString initial = engine.Controls.FrameWatchBits;
    for (const char* text : {"FEG1", "", "1FEF1"}) {
        engine.Controls.FrameWatchPgn = text;
        engine.Start();
        RunFor(50);
        engine.Stop();
        EXPECT_EQ(engine.Controls.FrameWatchBits, initial) << text;
    }
    EXPECT_TRUE(errors.shown.empty());
    EXPECT_FALSE(transmit.sent.empty());
}

TEST_F(TRunEngineTick, OptionsSetSourceAddressAndPriorityAndDropGroupsInSimulation)
{
    engine.Options.SourceAddress = 0x2A;
    engine.Options.Priority = 3;
    engine.Options.FrameFlags[1] = 0;   // second listed group: EEC2, 0x00F00300
    engine.Start();
    RunFor(500);
    ASSERT_FALSE(transmit.sent.empty());
    bool sawTransport = false;
    for (const TSentFrame& s : transmit.sent) {
        EXPECT_EQ(s.Frame.Id & 0xFFu, 0x2Au);
        EXPECT_EQ((s.Frame.Id >> 26) & 7u, 3u);
        EXPECT_NE(s.Frame.Id & 0x01FFFF00u, 0x00F00300u);
        if ((s.Frame.Id & 0x01FFFF00u) == 0x00ECFF00u) sawTransport = true;
    }
    EXPECT_TRUE(sawTransport);
}

TEST_F(TRunEngineTick, OptionsLeaveLoggedFramesAsTheyAre)
{
    engine.Options.SourceAddress = 0x2A;
    engine.Options.Priority = 3;
    engine.Options.FrameFlags[1] = 0;
    engine.InternalLines = TCanLogReader::Parse("000.0000 18F00300FFFAFFFFFFFFFFFF\n000.0010 0CFEF117F315000CFFFFFFFF");
    engine.Controls.Simulation = false;
    engine.Controls.InternalLog = true;
    engine.Start();
    RunFor(50);
    ASSERT_EQ(transmit.sent.size(), 2u);
    EXPECT_EQ(transmit.sent[0].Frame.Id, 0x18F00300u);
    EXPECT_EQ(transmit.sent[1].Frame.Id, 0x0CFEF117u);
}

}  // namespace

namespace {

class TSpyCockpit final : public TRunCockpit {
public:
    const TSignalSnapshot& Step(double dt, bool refresh) override
    {
        refreshes.push_back(refresh);
        return inner.Step(dt, refresh);
    }
    const TSignalSnapshot& Values() override { return inner.Values(); }
    TRecordingCockpit inner;
    std::vector<bool> refreshes;
};

class TSpyMonitor final : public TRunMonitor {
public:
    void ShowValues(const TBusFmsStandard* catalogue) override { calls.push_back(catalogue); }
    std::vector<const TBusFmsStandard*> calls;
};

// Counts its runs; forces "error" onto the engine speed; its choices change when the
// test says so.
class TSpyValidity final : public TRunValidity {
public:
    void Execute(TBusFmsStandard& catalogue) override
    {
        ++calls;
        catalogue.Signal(SignalIndex(fmssignal::EngineSpeed)).MeasVal->State = msError;
    }
    uint64_t ChoicesVersion() const override { return version; }
    int calls = 0;
    uint64_t version = 0;
};

TEST_F(TRunEngineTick, MonitorAndCockpitDisplayAreRefreshedEveryFourthTick)
{
    TSpyCockpit spy;
    TSpyMonitor monitor;
    engine.SetCockpit(&spy);
    engine.SetMonitor(&monitor);
    engine.Start();
    ASSERT_EQ(monitor.calls.size(), 1u);
    EXPECT_EQ(monitor.calls[0], nullptr);   // emptied at Start

    RunFor(150);                            // ticks 1..3
    EXPECT_EQ(monitor.calls.size(), 1u);
    RunFor(50);                             // tick 4: 150..199 ms
    // The refresh comes in the 5 ms step at 150 ms, before that step's frame; the
    // frame ends it for the rest of the tick. The cockpit refreshes at its first
    // step of the tick (160 ms) only.
    ASSERT_EQ(monitor.calls.size(), 2u);
    EXPECT_EQ(monitor.calls[1], &engine.Catalogue());
    ASSERT_EQ(spy.refreshes.size(), 10u);   // 0, 20, ..., 180 ms
    for (size_t i = 0; i < spy.refreshes.size(); ++i) EXPECT_EQ(spy.refreshes[i], i == 8) << i;

    engine.Controls.Display = false;
    RunFor(200);
    EXPECT_EQ(monitor.calls.size(), 2u);
}

// Ticks that start 2 ms after a multiple of 5 ms release a frame (on the even
// milliseconds of the schedule) before their first 5 ms step; the monitor must still
// be refreshed on every fourth tick.
TEST_F(TRunEngineTick, MonitorIsRefreshedWhateverTheTickPhase)
{
    TSpyMonitor monitor;
    engine.SetMonitor(&monitor);
    engine.Start();
    Tick(2);
    for (int i = 0; i < 8; ++i) Tick(50);   // ticks 2..9: 4 and 8 are refresh ticks
    EXPECT_EQ(monitor.calls.size(), 1u + 2u);
}

TEST_F(TRunEngineTick, ValidityManipulationRunsOnlyWhenItsChoicesOrTheValuesChange)
{
    TRecordingCockpit start;
    TFixedCockpit still(start.Values());   // a model whose values stay as they are
    engine.SetCockpit(&still);
    TSpyValidity validity;
    engine.SetValidity(&validity);
    const auto engineSpeedState = [&] { return engine.Catalogue().Signal(SignalIndex(fmssignal::EngineSpeed)).MeasVal->State; };

    engine.Start();
    RunFor(1000);   // 50 vehicle steps, 200 steps of 5 ms: nothing new after Start
    EXPECT_EQ(validity.calls, 1);
    EXPECT_EQ(engineSpeedState(), msError);

    validity.version = 7;   // the user applies other choices
    RunFor(50);
    EXPECT_EQ(validity.calls, 2);
    RunFor(50);
    EXPECT_EQ(validity.calls, 2);

    still.values.SetNumber(fmssignal::EngineSpeed, 1500);   // the model changes one value
    RunFor(50);
    EXPECT_EQ(validity.calls, 3);
    EXPECT_EQ(engineSpeedState(), msError);   // forced again over the new value

    // Switched off, the values get their own states back at once, without a run.
    engine.Controls.ValidManip = false;
    RunFor(5);
    EXPECT_EQ(validity.calls, 3);
    EXPECT_EQ(engineSpeedState(), msValid);
    still.values.SetNumber(fmssignal::EngineSpeed, 1600);
    RunFor(50);
    EXPECT_EQ(validity.calls, 3);
    EXPECT_EQ(engine.Catalogue().Signal(SignalIndex(fmssignal::EngineSpeed)).Write(), "1600.000");
    engine.Controls.ValidManip = true;
    RunFor(5);
    EXPECT_EQ(validity.calls, 4);
    engine.Stop();

    // A model that moves hands over new values every 20 ms: one run per vehicle step.
    engine.SetCockpit(&cockpit);
    engine.Start();
    cockpit.StartEngine();
    RunFor(1000);
    EXPECT_GE(validity.calls, 4 + 40);
    EXPECT_LE(validity.calls, 4 + 1 + 50);
    engine.Stop();

    // A replay has no values to manipulate.
    const int before = validity.calls;
    engine.Controls.Simulation = false;
    engine.Controls.InternalLog = true;
    engine.InternalLines = TCanLogReader::Parse("000.0400 18FEF100F315000CFFFFFFFF");
    engine.Start();
    RunFor(30);
    EXPECT_EQ(validity.calls, before);
}

}  // namespace

namespace {

// An error box that lets the window's timer fire while it is open.
class TReenteringErrors final : public TErrorReporter {
public:
    void ShowError(const TBaseError& error) override
    {
        shown.push_back(error);
        clock->AdvanceMicros(50000);
        engine->TimerSysTimer();
        if (stop) engine->Stop();
    }
    bool stop = false;
    TManualTimeSource* clock = nullptr;
    TRunEngine* engine = nullptr;
    std::vector<TBaseError> shown;
};

TEST_F(TRunEngineTick, TickCalledFromAnErrorBoxDoesNotStepInsideTheUnfinishedStep)
{
    TReenteringErrors reentering;
    reentering.clock = &clock;
    reentering.engine = &engine;
    engine.SetErrorReporter(&reentering);
    transmit.fail = TRecordingTransmit::fBaseError;
    engine.Start();
    Tick(50);
    ASSERT_EQ(reentering.shown.size(), 1u);
    EXPECT_EQ(engine.SimTime(), 50000);   // the outer tick only; the clock ran on meanwhile
    EXPECT_EQ(engine.TickCounter(), 1u);
    Tick(0);
    EXPECT_EQ(engine.SimTime(), 100000);

    // Stopped by the user while the box is open, the tick ends after that step.
    reentering.stop = true;
    engine.Controls.SendCan = true;
    Tick(50);
    EXPECT_FALSE(engine.Running());
    EXPECT_EQ(engine.SimTime(), 101000);
    EXPECT_EQ(view.states, (std::vector<bool>{true, false}));
}

}  // namespace
