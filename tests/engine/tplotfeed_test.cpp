// The plot's values through the real engine: the simulation's frames as they leave,
// read out by the plot's feed, give one point per frame of the signal's group with the
// value the frame carries.

#include "engine/tplotfeed.h"

#include "engine/tframetrace.h"
#include "engine/trecordingcockpit.h"
#include "engine/trunengine.h"
#include "engine/ttimesource.h"
#include "fms/tbusfmsstandard.h"
#include "fms/tfmsmeasval.h"
#include "tests/engine/runfakes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

int SignalIndex(const TBusFmsStandard& catalogue, const char* name)
{
    for (int i = 0; i < catalogue.SignalCount(); ++i)
        if (catalogue.Signal(i).Name == name) return i;
    ADD_FAILURE() << "no signal " << name;
    return -1;
}

// The start-up cockpit whose engine speed and vehicle speed the test sets: the model
// steps, then the scripted values replace its own before the values are handed over.
class TScriptedCockpit final : public TRunCockpit {
public:
    const TSignalSnapshot& Step(double dt, bool refresh) override
    {
        inner.Step(dt, refresh);
        Apply();
        return inner.Values();
    }
    const TSignalSnapshot& Values() override
    {
        Apply();
        return inner.Values();
    }
    void Apply()
    {
        inner.Lkw().SetMV("Drehzahl", rpm);
        inner.Lkw().SetMV("Geschwindigkeit", kmh);
    }
    TRecordingCockpit inner;
    double rpm = 0;
    double kmh = 0;
};

struct TRig {
    TRig()
    {
        transmit.engine = &engine;
        engine.SetCockpit(&cockpit);
        engine.SetErrorReporter(&errors);
        engine.SetCanChannel(&channel);
    }
    void RunFor(int64_t ms)
    {
        for (; ms > 0; ms -= TRunEngine::TickIntervalMs) {
            clock.AdvanceMicros(TRunEngine::TickIntervalMs * 1000);
            engine.TimerSysTimer();
        }
    }
    // What left since the last call, through the feed into store, stamped with its
    // time: every frame here leaves on time (the run has no late frame), so its time
    // is its departure.
    void Feed(const TPlotFeed& feed, TPlotStore& store)
    {
        for (; fed < transmit.sent.size(); ++fed) {
            const TCanFrame& f = transmit.sent[fed].Frame;
            feed.Frame(f.Id, f.Extended, f.Dlc, f.Data, f.Time, store);
        }
    }
    std::vector<int64_t> DeparturesOf(uint32_t pgn) const
    {
        std::vector<int64_t> times;
        for (const TSentFrame& s : transmit.sent)
            if (((s.Frame.Id >> 8) & 0xFFFF) == pgn) times.push_back(s.Frame.Time);
        return times;
    }

    TManualTimeSource clock{1000500000};
    TRecordingTransmit transmit;
    TFakeChannel channel;
    TRecordingErrors errors;
    TScriptedCockpit cockpit;
    TRunEngine engine{clock, transmit};
    std::size_t fed = 0;
};

}  // namespace

// Engine speed (EEC1, PGN 61444, every 20 ms) and wheel based speed (CCVS, PGN 65265,
// every 100 ms) set to 1500 rpm and 50 km/h, then 1812.5 rpm and 80.5 km/h: every frame
// of their groups is one point at its departure, with the value it carried.
TEST(TPlotFeed, EveryFrameThatLeftIsOnePointWithTheValueItCarried)
{
    TRig rig;
    TPlotFeed feed;
    TPlotStore store;
    const int rpm = SignalIndex(feed.Catalogue(), "Engine speed");
    const int kmh = SignalIndex(feed.Catalogue(), "Wheel based speed");
    ASSERT_TRUE(feed.Plottable(rpm));
    ASSERT_TRUE(feed.Plottable(kmh));
    store.Add(rpm, "Engine speed", "rpm");
    store.Add(kmh, "Wheel based speed", "km/h");

    rig.cockpit.rpm = 1500;
    rig.cockpit.kmh = 50;
    rig.engine.Controls.SendCan = true;
    rig.engine.Start();
    rig.RunFor(1000);
    rig.Feed(feed, store);
    const std::size_t firstRpm = store.Find(rpm)->Series.Size();
    const std::size_t firstKmh = store.Find(kmh)->Series.Size();
    rig.cockpit.rpm = 1812.5;
    rig.cockpit.kmh = 80.5;
    rig.RunFor(1000);
    rig.Feed(feed, store);
    rig.engine.Stop();

    const struct {
        int Index;
        uint32_t Pgn;
        double Before, After;
        std::size_t PerSecond;   // frames in a second at the group's period
        std::size_t First;
    } cases[] = {
        {rpm, 61444, 1500, 1812.5, 50, firstRpm},
        {kmh, 65265, 50, 80.5, 10, firstKmh},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Pgn);
        const TSignalSeries& series = store.Find(c.Index)->Series;
        const std::vector<int64_t> departures = rig.DeparturesOf(c.Pgn);
        ASSERT_EQ(series.Size(), departures.size());
        EXPECT_NEAR(static_cast<double>(series.Size()), 2.0 * static_cast<double>(c.PerSecond), 1.0);
        EXPECT_NEAR(static_cast<double>(c.First), static_cast<double>(c.PerSecond), 1.0);
        for (std::size_t i = 0; i < series.Size(); ++i) {
            EXPECT_EQ(series.At(i).Time, departures[i]);
            EXPECT_EQ(series.At(i).State, 0);
        }
        // The value changes once, within a period of the change: the frames queued
        // before it carry the old value.
        std::size_t changes = 0;
        for (std::size_t i = 0; i < series.Size(); ++i) {
            const double v = series.At(i).Value;
            EXPECT_TRUE(v == c.Before || v == c.After) << v;
            if (i > 0 && v != series.At(i - 1).Value) ++changes;
            if (i < c.First) {
                EXPECT_EQ(v, c.Before) << i;
            }
        }
        EXPECT_EQ(changes, 1u);
        EXPECT_EQ(series.Back().Value, c.After);
    }
    EXPECT_EQ(store.OutOfOrder(), 0u);
    EXPECT_EQ(rig.engine.MaxLateness(), 0);
    EXPECT_TRUE(rig.errors.shown.empty());

    // The engine's own frame trace, read in two pieces as the window reads it, gives the
    // very same points.
    TPlotStore traced;
    traced.Add(rpm, "Engine speed", "rpm");
    traced.Add(kmh, "Wheel based speed", "km/h");
    const uint64_t half = rig.engine.Trace().Last() / 2;
    uint64_t seen = 0;
    TFrameTrace::TBatch first = rig.engine.Trace().Since(0, half);
    for (const TTraceFrame& f : first.Frames)
        if (f.Direction == TTraceFrame::Tx) feed.Frame(f.Id, f.Extended, f.Length, f.Data, f.Time, traced);
    seen = first.Until;
    seen = feed.FromTrace(rig.engine.Trace(), seen, traced);
    EXPECT_EQ(seen, rig.engine.Trace().Last());
    EXPECT_EQ(traced.Missed(), 0u);
    for (int index : {rpm, kmh}) {
        const TSignalSeries& a = store.Find(index)->Series;
        const TSignalSeries& b = traced.Find(index)->Series;
        ASSERT_EQ(a.Size(), b.Size());
        for (std::size_t i = 0; i < a.Size(); ++i) {
            EXPECT_EQ(a.At(i).Time, b.At(i).Time);
            EXPECT_EQ(a.At(i).Value, b.At(i).Value);
        }
    }
}

// Frames the trace's ring no longer holds are counted as missed; received frames are
// not values sent and are passed over.
TEST(TPlotFeed, FramesTheTraceNoLongerHeldAreCountedAsMissed)
{
    TPlotFeed feed;
    TPlotStore store;
    const int rpm = SignalIndex(feed.Catalogue(), "Engine speed");
    store.Add(rpm, "Engine speed", "rpm");
    TFrameTrace trace(4);
    // Ten EEC1 frames 20 ms apart, 1000 rpm + 100 rpm each (raw 8000 + 800 n), and one
    // received frame at the end.
    for (int n = 0; n < 10; ++n) {
        const uint16_t raw = static_cast<uint16_t>(8000 + 800 * n);
        trace.Append(TTraceFrame::Tx, 20000 * n, 0x0CF00400, true, 8,
                     {0xFF, 0xFF, 0xFF, static_cast<uint8_t>(raw & 0xFF), static_cast<uint8_t>(raw >> 8), 0xFF, 0xFF, 0xFF});
    }
    trace.Append(TTraceFrame::Rx, 200000, 0x0CF00400, true, 8, {0xFF, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(feed.FromTrace(trace, 0, store), 11u);
    EXPECT_EQ(store.Missed(), 7u);   // frames 1 .. 7 are gone from a ring of 4
    const TSignalSeries& s = store.Find(rpm)->Series;
    ASSERT_EQ(s.Size(), 3u);        // frames 8, 9, 10 (the 11th was received)
    EXPECT_EQ(s.At(0).Time, 140000);
    EXPECT_EQ(s.At(0).Value, 1700.0);
    EXPECT_EQ(s.At(2).Time, 180000);
    EXPECT_EQ(s.At(2).Value, 1900.0);
    store.ClearSeries();
    EXPECT_EQ(store.Missed(), 0u);
}

// The field of a frame read as a receiver reads it: the indicator bytes as states, a
// narrow field's top values as not available and error, numbers scaled.
TEST(TPlotFeed, FieldsAreReadWithTheirStatesAndScale)
{
    TPlotFeed feed;
    const TBusFmsStandard& catalogue = feed.Catalogue();
    const TFmsMeasVal& rpm = catalogue.Signal(SignalIndex(catalogue, "Engine speed"));   // bit 24, 16 bits, 0.125
    const TFmsMeasVal& kmh = catalogue.Signal(SignalIndex(catalogue, "Wheel based speed"));   // bit 8, 16 bits, 1/256
    const struct {
        const TFmsMeasVal* Signal;
        std::array<uint8_t, 8> Data;
        uint8_t Length;
        bool Found;
        double Value;
        char State;
    } cases[] = {
        {&rpm, {0xFF, 0xFF, 0xFF, 0xE0, 0x2E, 0xFF, 0xFF, 0xFF}, 8, true, 1500.0, 0},      // 0x2EE0 * 0.125
        {&rpm, {0xFF, 0xFF, 0xFF, 0xFF, 0xFA, 0xFF, 0xFF, 0xFF}, 8, true, 8031.875, 0},    // 0xFAFF, the largest
        {&rpm, {0xFF, 0xFF, 0xFF, 0x00, 0xFE, 0xFF, 0xFF, 0xFF}, 8, true, 0, 'e'},
        {&rpm, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 8, true, 0, 'n'},
        {&rpm, {0xFF, 0xFF, 0xFF, 0x12, 0xFB, 0xFF, 0xFF, 0xFF}, 8, true, 0, 'p'},
        {&rpm, {0xFF, 0xFF, 0xFF, 0xE0, 0x2E, 0, 0, 0}, 4, false, 0, 0},                   // field beyond the length
        {&kmh, {0xFF, 0x80, 0x32, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 8, true, 50.5, 0},        // 0x3280 / 256
        {&kmh, {0xFF, 0x00, 0xFD, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 8, true, 0, 'R'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Signal->Name.c_str() << " " << int(c.Data[3]) << " " << int(c.Data[4]));
        double value = 0;
        char state = 0;
        ASSERT_EQ(TPlotFeed::Decode(*c.Signal, c.Data, c.Length, value, state), c.Found);
        if (!c.Found) continue;
        EXPECT_EQ(state, c.State);
        if (c.State == 0)
            EXPECT_EQ(value, c.Value);
        else
            EXPECT_TRUE(std::isnan(value));
    }
}
