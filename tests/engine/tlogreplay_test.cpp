#include "engine/tlogreplay.h"

#include "logs/tcanlogreader.h"
#include "engine/terrortable.h"
#include "logs/tinternallog.h"
#include "engine/trunengine.h"
#include "engine/ttimesource.h"
#include "runfakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// The engine replaying a log (the internal one, or lines the test gives) into a
// recording transmit buffer.
class TRunEngineReplay : public ::testing::Test {
protected:
    void SetUp() override
    {
        transmit.engine = &engine;
        engine.SetErrorReporter(&errors);
        engine.SetView(&view);
        engine.SetCanChannel(&channel);
        engine.Controls.Simulation = false;
        engine.Controls.InternalLog = true;
        dir = fs::temp_directory_path() / ("qv_replay_" + std::to_string(::getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    void Lines(const char* text) { engine.InternalLines = TCanLogReader::Parse(text); }
    void RunFor(int64_t ms)
    {
        while (ms > 0 && engine.Running()) {
            const int64_t t = std::min<int64_t>(ms, TRunEngine::TickIntervalMs);
            clock.AdvanceMicros(t * 1000);
            engine.TimerSysTimer();
            ms -= t;
        }
    }
    // One tick per millisecond: a frame handed over in step S is handed over at S + 1 ms
    // on the clock.
    void RunStepwise(int64_t ms)
    {
        for (; ms > 0 && engine.Running(); --ms) {
            clock.AdvanceMicros(1000);
            engine.TimerSysTimer();
        }
    }
    const TSentFrame* Find(uint32_t id, int64_t time) const
    {
        auto it = std::find_if(transmit.sent.begin(), transmit.sent.end(), [&](const TSentFrame& s) {
            return s.Frame.Id == id && s.Frame.Time == time;
        });
        return it == transmit.sent.end() ? nullptr : &*it;
    }
    std::string Path(const char* name) const { return (dir / name).string(); }
    static TLogFrame LogFrame(int64_t time, uint32_t id, std::array<uint8_t, 8> data, uint8_t dlc = 8,
                              bool extended = true)
    {
        TLogFrame f;
        f.Time = time;
        f.Id = id;
        f.Data = data;
        f.Dlc = dlc;
        f.Extended = extended;
        return f;
    }
    // Every frame of log left as written (identifier and kind, length, data, order),
    // due at its log time and released within a millisecond of it unless the medium
    // held it back.
    void ExpectVerbatim(const TCanLog& log) const
    {
        ASSERT_EQ(transmit.sent.size(), log.Frames.size());
        for (size_t i = 0; i < log.Frames.size(); ++i) {
            const TCanFrame& f = transmit.sent[i].Frame;
            const TLogFrame& l = log.Frames[i];
            ASSERT_EQ(f.Id, l.Id) << i;
            ASSERT_EQ(f.Extended, l.Extended) << i;
            ASSERT_EQ(f.Dlc, l.Dlc) << i;
            ASSERT_EQ(f.Data, l.Data) << i;
            ASSERT_GE(f.Time, l.Time) << i;   // a small step back leaves after its predecessor
            ASSERT_LT(f.Time - l.Time, 1000) << i;
            if (transmit.perStep == std::numeric_limits<int>::max()) {
                ASSERT_LT(transmit.sent[i].SimTime - l.Time, 1000) << i;
            }
        }
    }
    static std::string ReadAll(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void WriteAll(const std::string& path, const std::string& text)
    {
        std::ofstream(path, std::ios::binary) << text;
    }

    TManualTimeSource clock{2000000000};
    TRecordingTransmit transmit;
    TFakeChannel channel;
    TRecordingErrors errors;
    TRecordingView view;
    TRunEngine engine{clock, transmit};
    fs::path dir;
};

TEST(TInternalLog, IsTheRecordingOfTheSimulationsFirstMinute)
{
    const StringList lines = TInternalLog::Lines();
    ASSERT_GT(lines.Count(), 11400);
    EXPECT_EQ(lines[0], "000.0000 18FEF100F315000CFFFFFFFF");
    EXPECT_EQ(lines[1], "000.0020 18F00300FFFAFFFFFFFFFFFF");
    EXPECT_EQ(lines[2], "000.0040 18FEE900FFFFFFFF00000000");
    EXPECT_EQ(lines[6], "000.0120 18ECFF0020180004FFECFE00");
    EXPECT_EQ(lines[lines.Count() - 1].SubString(0, 9), "059.9980 ");
    int vinPacket = 0;
    for (int i = 0; i < lines.Count(); ++i) {
        ASSERT_EQ(lines[i].Length(), 33) << i;
        ASSERT_EQ(TCanFrame::DetectFormat(lines[i], lfFixed), lfFixedId) << i;
        if (lines[i].SubString(0, 8) == "000.1120") vinPacket = i;
    }
    EXPECT_EQ(lines[vinPacket], "000.1120 18EBFF000156656869636C65");
}

TEST_F(TRunEngineReplay, InternalLogWithRepeatFollowsOnWithoutAGap)
{
    ASSERT_EQ(engine.InternalLines.Count(), TInternalLog::Lines().Count());   // built in
    EXPECT_EQ(TInternalLog::Log().Count(), TInternalLog::Lines().Count());
    engine.Controls.Repeat = true;
    engine.Start();
    RunFor(120100);
    EXPECT_TRUE(engine.Running());
    EXPECT_TRUE(errors.shown.empty());

    // Pass 1 ends with its last line at 59.998 s; pass 2's first line (time 0) takes that
    // time, its second (0.002 s) comes at 60.000 s; pass 3 starts at 119.996 s.
    EXPECT_NE(Find(0x18FEF100, 0), nullptr);
    EXPECT_NE(Find(0x18FEF100, 59998000), nullptr);
    EXPECT_NE(Find(0x18F00300, 60000000), nullptr);
    EXPECT_NE(Find(0x18FEE900, 60002000), nullptr);
    EXPECT_NE(Find(0x18FEF100, 119996000), nullptr);
    EXPECT_NE(Find(0x18F00300, 119998000), nullptr);
    // The VIN transfer's frames are sent as logged, at their times.
    EXPECT_NE(Find(0x18ECFF00, 59998000 + 12000), nullptr);
    EXPECT_NE(Find(0x18EBFF00, 59998000 + 112000), nullptr);
    EXPECT_EQ(engine.Replay().LineTimeOffset(), 119996000);
    // The first pass is the file frame for frame, each frame in its own millisecond.
    const TCanLog& file = engine.InternalLines;
    for (size_t i = 0; i < file.Frames.size(); ++i) {
        ASSERT_EQ(transmit.sent[i].Frame, file.Frames[i].ToFrame()) << i;
        ASSERT_EQ(transmit.sent[i].SimTime, file.Frames[i].Time) << i;
    }

    int64_t last = -1;
    for (const TSentFrame& s : transmit.sent) {
        ASSERT_GE(s.SimTime, s.Frame.Time);
        ASSERT_GT(s.SimTime, last) << "two frames in one millisecond";
        last = s.SimTime;
    }
}

// The sequence numbers of the data packets sent with identifier dtId, in order.
std::vector<uint32_t> Sequence(const std::vector<TSentFrame>& sent, uint32_t dtId)
{
    std::vector<uint32_t> seq;
    for (const TSentFrame& s : sent)
        if (s.Frame.Id == dtId) seq.push_back(s.Frame.Data[0]);
    return seq;
}

TEST_F(TRunEngineReplay, FramesOfOneMillisecondAllLeaveInItInFileOrder)
{
    Lines("000.0100 18FEF100F315000CFFFFFFFF\n"
          "000.0100 18F00300FFFAFFFFFFFFFFFF\n"
          "000.0105 18FEE900FFFFFFFF00000000\n"
          "000.1000 18FEFC00FFFAFFFFFFFFFFFF");
    engine.Start();
    RunFor(50);
    ASSERT_EQ(transmit.sent.size(), 3u);
    const uint32_t ids[] = {0x18FEF100u, 0x18F00300u, 0x18FEE900u};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(transmit.sent[i].Frame.Id, ids[i]) << i;
        EXPECT_EQ(transmit.sent[i].SimTime, 10000) << i;
        EXPECT_EQ(transmit.sent[i].Delay, 2000000000 + 200000) << i;
    }
    EXPECT_EQ(transmit.sent[2].Frame.Time, 10500);   // due at its own microsecond
    EXPECT_EQ(engine.MaxLateness(), 0);
}

TEST_F(TRunEngineReplay, WithoutRepeatTheRunEndsOnceTheLastFrameHasLeft)
{
    // Ten frames share the log's last millisecond: they leave in it and the run ends in
    // the step after.
    std::string text = "000.0000 18F00300FFFAFFFFFFFFFFFF\n";
    char line[64];
    for (int i = 0; i < 10; ++i) {
        std::snprintf(line, sizeof line, "001.0000 18FEF1%02XF315000CFFFFFFFF\n", 0xA0 + i);
        text += line;
    }
    Lines(text.c_str());
    engine.Start();
    RunFor(1100);
    EXPECT_FALSE(engine.Running());
    ASSERT_EQ(transmit.sent.size(), 11u);
    for (int i = 0; i < 10; ++i) {
        const TSentFrame& s = transmit.sent[size_t(1 + i)];
        EXPECT_EQ(s.Frame.Id, 0x18FEF1A0u + uint32_t(i));
        EXPECT_EQ(s.Frame.Time, 1000000);
        EXPECT_EQ(s.SimTime, 1000000);
    }
    EXPECT_EQ(engine.SimTime(), 1001000);
    EXPECT_EQ(view.states, (std::vector<bool>{true, false}));
    EXPECT_TRUE(errors.shown.empty());
    EXPECT_EQ(engine.MaxLateness(), 0);
}

// A medium slower than the log: every frame still leaves, in order, and how late the
// last one left is what the notice says (the transmit buffer's 200 ms lead absorbs a
// release up to that much late).
TEST_F(TRunEngineReplay, LogDenserThanTheMediumLosesNothingAndSaysOnceHowLateItsFramesLeft)
{
    // Two frames in every millisecond for 1 s; the medium takes one per millisecond.
    std::string text;
    char line[64];
    for (int ms = 0; ms < 1000; ++ms) {
        for (int k = 0; k < 2; ++k) {
            std::snprintf(line, sizeof line, "%03d.%04d 18FEF1%02X%016X\n", ms / 1000, (ms % 1000) * 10, k, ms);
            text += line;
        }
    }
    Lines(text.c_str());
    transmit.perStep = 1;
    engine.Start();
    RunStepwise(2100);
    EXPECT_FALSE(engine.Running());
    ASSERT_EQ(transmit.sent.size(), 2000u);
    for (size_t i = 0; i < transmit.sent.size(); ++i) {
        ASSERT_EQ(transmit.sent[i].Frame.Id & 0xFF, i % 2) << i;
        ASSERT_EQ(transmit.sent[i].Frame.Data[7], (i / 2) & 0xFF) << i;
    }
    EXPECT_EQ(transmit.sent.back().SimTime, 1999000);
    // The last frame (due at 0.999 s) was handed over at 2.000 s and left the buffer
    // 0.200 s before that (its due time had long passed).
    EXPECT_EQ(engine.MaxLateness(), 1800000 - 999000);
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_EQ(errors.shown[0].Message(), "frames late");
    EXPECT_EQ(TErrorTable::Lookup(errors.shown[0]).Category, "Timing notice");
}

// 70,000 frames at one time, then a complete transfer: all leave in order as fast as
// the medium takes them, the transfer arrives whole, and the lateness is told.
TEST_F(TRunEngineReplay, BacklogLeavesInOrderAndATransferBehindItStaysWhole)
{
    TCanLog log;
    for (uint32_t i = 0; i < 70000; ++i)
        log.Frames.push_back(LogFrame(1000000, 0x18FEF100, {uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16)}));
    log.Frames.push_back(LogFrame(1010000, 0x18ECFF00, {0x20, 0x1C, 0x00, 0x04, 0xFF, 0xCA, 0xFE, 0x00}));
    for (uint8_t k = 1; k <= 4; ++k) log.Frames.push_back(LogFrame(1010000 + k * 50000, 0x18EBFF00, {k, k, k, k, k, k, k, k}));
    engine.InternalLines = log;
    transmit.perStep = 100;
    engine.Start();
    RunStepwise(2000);
    EXPECT_FALSE(engine.Running());
    ExpectVerbatim(log);
    EXPECT_EQ(engine.Transfers().Complete(), 1);
    EXPECT_TRUE(engine.Transfers().AllWell()) << engine.Transfers().Detail().str();
    // 100 frames a millisecond from 1.000 s: the last of the 70,000 is taken at 1.699 s
    // and leaves the buffer its 200 ms lead later than due, the latest of all.
    EXPECT_EQ(engine.MaxLateness(), 1700000 - TRunEngine::TransmitLead - 1000000);
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_EQ(errors.shown[0].Message(), "frames late");
}

TEST_F(TRunEngineReplay, RepeatedDenseLogKeepsItsBacklogBounded)
{
    // Ten frames at one time, repeated: ten come due every millisecond, one leaves.
    std::string text;
    for (int i = 0; i < 10; ++i) text += "000.0000 18FEF100F315000CFFFFFFFF\n";
    Lines(text.c_str());
    transmit.perStep = 1;
    engine.Controls.Repeat = true;
    engine.Start();
    RunFor(20000);
    EXPECT_TRUE(engine.Running());
    EXPECT_EQ(transmit.sent.size(), 20000u);
    EXPECT_LE(engine.ReplayBacklog(), TLogReplay::MaxBacklog);
}

TEST_F(TRunEngineReplay, EmptyLogStopsTheRunEvenWithRepeat)
{
    Lines("");
    engine.Controls.Repeat = true;
    engine.Start();
    RunFor(50);
    EXPECT_FALSE(engine.Running());
    EXPECT_TRUE(errors.shown.empty());
}

TEST_F(TRunEngineReplay, OneLineLogWithRepeatSendsItOncePerMillisecond)
{
    Lines("000.0000 18FEF100F315000CFFFFFFFF");
    engine.Controls.Repeat = true;
    engine.Start();
    RunFor(10);
    EXPECT_TRUE(engine.Running());
    EXPECT_EQ(transmit.sent.size(), 10u);
}

TEST_F(TRunEngineReplay, LogOutOfTimeOrderKeepsItsOrder)
{
    // 10 ms, then 5 ms before it by 1.5 s... a jump of a second or more starts a new pass
    // (it follows the 10 ms line), then 20 ms (+1.5 s). A step back of less than a
    // second leaves right after its predecessor and shifts nothing.
    Lines("001.5100 18FEF100F315000CFFFFFFFF\n"
          "000.0050 18F00300FFFAFFFFFFFFFFFF\n"
          "000.0200 18FEE900FFFFFFFF00000000\n"
          "000.0190 18FEEE00FFFFFFFF00000000\n"
          "000.0300 18FEF500FFFFFFFF00000000");
    engine.Start();
    RunFor(1600);
    const struct {
        uint32_t Id;
        int64_t Time;
    } expected[] = {{0x18FEF100u, 1510000},
                    {0x18F00300u, 1510000},
                    {0x18FEE900u, 1525000},
                    {0x18FEEE00u, 1525000},
                    {0x18FEF500u, 1535000}};
    ASSERT_EQ(transmit.sent.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(transmit.sent[i].Frame.Id, expected[i].Id) << i;
        EXPECT_EQ(transmit.sent[i].Frame.Time, expected[i].Time) << i;
    }
    EXPECT_EQ(engine.Replay().NewPasses(), 1);
    EXPECT_EQ(engine.Replay().SmallBackwardSteps(), 1);
}

// Two channels merged into one log step back by 0.3 ms a thousand times: nothing
// drifts, the last frame leaves within a millisecond of its log time.
TEST_F(TRunEngineReplay, MergedChannelsSteppingBackALittleDoNotDrift)
{
    TCanLog log;
    for (int64_t k = 1; k <= 1000; ++k) {
        log.Frames.push_back(LogFrame(k * 10000, 0x18F00400, {uint8_t(k)}));
        log.Frames.push_back(LogFrame(k * 10000 - 300, 0x18FEF121, {uint8_t(k)}));
    }
    engine.InternalLines = log;
    engine.Start();
    RunFor(10100);
    EXPECT_FALSE(engine.Running());
    ExpectVerbatim(log);
    EXPECT_EQ(engine.Replay().SmallBackwardSteps(), 1000);
    EXPECT_EQ(engine.Replay().NewPasses(), 0);
    EXPECT_EQ(transmit.sent.back().SimTime, 10000000);
    EXPECT_EQ(transmit.sent.back().Frame.Time, 10000000);
    EXPECT_EQ(engine.MaxLateness(), 0);
}

// Transport frames of a log leave exactly as written, at their own times; the watch
// only reports what they amounted to.
TEST_F(TRunEngineReplay, TransportFramesLeaveVerbatimAndAreOnlyReportedOn)
{
    using F = std::vector<TLogFrame>;
    // A broadcast of `packets` packets announced at `at`, `gap` µs apart, source 00.
    auto broadcast = [](int64_t at, int64_t gap, int size, std::vector<int> sequence, uint8_t pad = 0xFF,
                        uint8_t control = 0x20, uint32_t cm = 0x18ECFF00, uint32_t dt = 0x18EBFF00) {
        const int packets = (size + 6) / 7;
        F frames{LogFrame(at, cm, {control, uint8_t(size), uint8_t(size >> 8), uint8_t(packets), 0xFF, 0xCA, 0xFE, 0})};
        int64_t t = at;
        for (int k : sequence) {
            t += gap;
            std::array<uint8_t, 8> d{uint8_t(k)};
            for (int j = 1; j < 8; ++j) d[size_t(j)] = (k - 1) * 7 + j - 1 < size ? uint8_t(k * 16 + j) : pad;
            frames.push_back(LogFrame(t, dt, d));
        }
        return frames;
    };
    auto seq = [](int n) {
        std::vector<int> s;
        for (int k = 1; k <= n; ++k) s.push_back(k);
        return s;
    };
    auto join = [](std::initializer_list<F> parts) {
        F all;
        for (const F& p : parts) all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    struct TCase {
        const char* What;
        F Frames;
        int64_t Complete, Incomplete, Malformed, Stray;
    } const cases[] = {
        {"13 packets 50 ms apart, transfers 1 s apart",
         join({broadcast(0, 50000, 91, seq(13)), broadcast(1000000, 50000, 91, seq(13)),
               broadcast(2000000, 50000, 91, seq(13)), broadcast(3000000, 50000, 91, seq(13))}),
         4, 0, 0, 0},
        {"packets 200 ms apart", broadcast(0, 200000, 20, seq(3)), 1, 0, 0, 0},
        {"aborted by its sender",
         join({broadcast(0, 50000, 20, seq(1)), F{LogFrame(120000, 0x18ECFF00, {0xFF, 3, 0xFF, 0xFF, 0xFF, 0xCA, 0xFE, 0})}}),
         0, 1, 0, 0},
        {"request to send to the global address", broadcast(0, 50000, 20, seq(3), 0xFF, 0x10), 0, 0, 1, 0},
        {"272 bytes in 39 packets", broadcast(0, 10000, 272, seq(39)), 1, 0, 0, 0},
        {"last packet padded with 0x00", broadcast(0, 50000, 20, seq(3), 0x00), 1, 0, 0, 0},
        {"a packet twice", broadcast(0, 50000, 20, {1, 1, 2, 3}), 0, 0, 1, 0},
        {"a packet skipped", broadcast(0, 50000, 20, {1, 3}), 0, 0, 1, 0},
        {"announcement of 8 bytes", broadcast(0, 50000, 8, seq(1)), 0, 0, 1, 0},
        {"the log ends inside a transfer", broadcast(0, 50000, 20, seq(2)), 0, 1, 0, 0},
        {"a packet and nothing open", F{LogFrame(0, 0x18EBFF00, {1, 2, 3, 4, 5, 6, 7, 8})}, 0, 0, 0, 1},
        {"a request of 3 bytes and an 11-bit frame",
         F{LogFrame(0, 0x18EA00F9, {0xE5, 0xFE, 0x00}, 3), LogFrame(500, 0x123, {0xAA, 0xBB}, 2, false),
           LogFrame(700, 0x18FECA00, {}, 0)},
         0, 0, 0, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TCanLog log;
        log.Frames = c.Frames;
        engine.InternalLines = log;
        transmit.sent.clear();
        errors.shown.clear();
        engine.Start();
        RunFor(6000);
        EXPECT_FALSE(engine.Running());
        ExpectVerbatim(log);
        EXPECT_EQ(engine.MaxLateness(), 0);
        const TTransferWatch& w = engine.Transfers();
        EXPECT_EQ(w.Complete(), c.Complete) << w.Detail().str();
        EXPECT_EQ(w.Incomplete(), c.Incomplete) << w.Detail().str();
        EXPECT_EQ(w.Malformed(), c.Malformed) << w.Detail().str();
        EXPECT_EQ(w.StrayPackets(), c.Stray) << w.Detail().str();
        EXPECT_EQ(static_cast<int64_t>(w.Listed().size()), c.Incomplete + c.Malformed);
        // Told once, as a notice, with every such transfer in the detail.
        if (w.AllWell()) {
            EXPECT_TRUE(errors.shown.empty());
        } else {
            ASSERT_EQ(errors.shown.size(), 1u);
            EXPECT_EQ(errors.shown[0].Message(), "transfers incomplete");
            EXPECT_EQ(errors.shown[0].Detail(), w.Detail());
        }
    }
}

TEST_F(TRunEngineReplay, EveryIncompleteTransferOfARepeatedLogIsListed)
{
    // A log that ends one packet short: each pass leaves one transfer incomplete.
    Lines("000.0000 18ECFF0020140003FFCAFE00\n"
          "000.0500 18EBFF000111111111111111\n"
          "000.1000 18EBFF000222222222222222\n"
          "002.0000 18FEF100F315000CFFFFFFFF");
    engine.Controls.Repeat = true;
    engine.Start();
    RunFor(10 * 2000 + 500);
    engine.Stop();
    const TTransferWatch& w = engine.Transfers();
    EXPECT_EQ(w.Incomplete(), 11);
    ASSERT_EQ(w.Listed().size(), 11u);
    EXPECT_NE(w.Listed()[0].Describe().str().find("broadcast from 00, PGN FECA (20 bytes, 3 packets) at 0.0000 s: "
                                                  "2 of 3 packets, then no packet for 750 ms after 0.1000 s"),
              std::string::npos)
        << w.Listed()[0].Describe().str();
    EXPECT_NE(w.Listed()[10].Describe().str().find("then the end of the run"), std::string::npos);
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_EQ(TErrorTable::Lookup(errors.shown[0]).Category, "Transport notice");
}

// The output log holds each frame with the time it left: its own time while the
// medium keeps up (with the transmit buffer's lead), the step that released it after.
TEST_F(TRunEngineReplay, OutputLogIsStampedWithTheTimeEachFrameLeft)
{
    std::string text;
    for (int i = 0; i < 300; ++i) text += "000.1000 18FEF100F315000CFFFFFFFF\n";
    Lines(text.c_str());
    const std::string out = Path("left.l5");
    ASSERT_TRUE(engine.OpenLogOut(out.c_str()));
    engine.Controls.LogFile = true;
    transmit.perStep = 1;
    engine.Start();
    RunStepwise(600);
    EXPECT_FALSE(engine.Running());
    const TCanLog back = TCanLogReader::Parse(ReadAll(out).c_str());
    ASSERT_EQ(back.Count(), 300);
    for (int i = 0; i < 300; ++i) {
        // Frame i is handed over at 0.101 s + i ms and leaves the buffer 0.200 s after
        // its due time, or at once when that has passed.
        EXPECT_EQ(back.Frames[size_t(i)].Time, std::max<int64_t>(100000, 101000 + i * 1000 - 200000)) << i;
    }
    EXPECT_EQ(engine.MaxLateness(), 100000);

    // Without the adapter every frame leaves in its own millisecond.
    engine.Controls.SendCan = false;
    ASSERT_TRUE(engine.OpenLogOut(out.c_str(), TLogOut::omReplace));
    engine.Start();
    RunFor(600);
    const TCanLog alone = TCanLogReader::Parse(ReadAll(out).c_str());
    ASSERT_EQ(alone.Count(), 300);
    EXPECT_EQ(alone.Frames.back().Time, 100000);
}

TEST_F(TRunEngineReplay, StopAndStartInTheMiddleOfATransferSendsNothingStale)
{
    // The internal log's VIN transfer: announced at 12 ms, packets at 112..412 ms.
    engine.Start();
    RunFor(250);   // announcement and packets 1 and 2 are out
    engine.Stop();
    transmit.sent.clear();
    engine.Start();
    RunFor(600);
    ASSERT_FALSE(transmit.sent.empty());
    EXPECT_EQ(transmit.sent[0].Frame.Id, 0x18FEF100u);
    EXPECT_EQ(transmit.sent[0].Frame.Time, 0);
    EXPECT_EQ(Sequence(transmit.sent, 0x18EBFF00), (std::vector<uint32_t>{1, 2, 3, 4}));
}

TEST_F(TRunEngineReplay, StartingAUserLogAgainQueuesItOnce)
{
    Lines("000.0000 18FEF100F315000CFFFFFFFF\n"
          "000.0000 18F00300FFFAFFFFFFFFFFFF\n"
          "000.0000 18FEE900FFFFFFFF00000000\n"
          "000.0000 18FEFC00FFFAFFFFFFFFFFFF\n"
          "010.0000 18FEF100F315000CFFFFFFFF");
    transmit.perStep = 1;
    for (int run = 0; run < 3; ++run) {
        transmit.sent.clear();
        engine.Start();
        RunFor(1);
        EXPECT_EQ(engine.ReplayBacklog(), 3u) << run;   // four released, one taken
        engine.Stop();
    }
}

TEST_F(TRunEngineReplay, FastModeJumpsOverTheSilenceOfAnEpochTimeLog)
{
    // The runner's loop on virtual time: jump, then one tick. Two frames a second apart
    // at epoch times take a few ticks, not 1.7e9 s of them.
    Lines("1733700000.1234 18FEF100F315000CFFFFFFFF\n"
          "1733700001.0000 18F00300FFFAFFFFFFFFFFFF");
    engine.Start();
    int ticks = 0;
    while (engine.Running() && ticks < 100) {
        const int64_t before = engine.SimTime();
        clock.AdvanceMicros(engine.SkipIdleTime(INT64_MAX) - before);
        clock.AdvanceMicros(TRunEngine::TickIntervalMs * 1000);
        engine.TimerSysTimer();
        ++ticks;
    }
    EXPECT_FALSE(engine.Running());
    EXPECT_LE(ticks, 4);
    ASSERT_EQ(transmit.sent.size(), 2u);
    EXPECT_EQ(transmit.sent[0].Frame.Time, 1733700000123400);
    EXPECT_EQ(transmit.sent[0].SimTime, 1733700000123000);   // in its own millisecond
    EXPECT_EQ(transmit.sent[1].SimTime, 1733700001000000);
    // Never past the limit, and never while stopped.
    EXPECT_EQ(engine.SkipIdleTime(INT64_MAX), engine.SimTime());
}

// A log cut out of a long recording: with "Start at first frame" its first frame
// leaves at Start and a repeated pass follows on without a gap; without it nothing is
// due for 100 s.
TEST_F(TRunEngineReplay, FromFirstFrameTheFirstFrameLeavesAtStart)
{
    Lines("100.0000 18FEF100F315000CFFFFFFFF\n"
          "100.0100 18F00300FFFAFFFFFFFFFFFF");
    engine.Controls.Repeat = true;
    engine.Start();
    RunFor(31);
    EXPECT_TRUE(transmit.sent.empty());
    engine.Stop();

    engine.Controls.FromFirstFrame = true;
    engine.Start();
    RunFor(31);
    // Pass 1 at 0 and 10 ms; pass 2 starts with the time of pass 1's last frame, so its
    // first frame waits for the step after that one.
    const struct {
        uint32_t id;
        int64_t time;
        int64_t step;
    } expected[] = {
        {0x18FEF100, 0, 0}, {0x18F00300, 10000, 10000}, {0x18FEF100, 10000, 11000}, {0x18F00300, 20000, 20000},
    };
    ASSERT_GE(transmit.sent.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(transmit.sent[i].Frame.Id, expected[i].id) << i;
        EXPECT_EQ(transmit.sent[i].Frame.Time, expected[i].time) << i;
        EXPECT_EQ(transmit.sent[i].SimTime, expected[i].step) << i;
    }
}

TEST_F(TRunEngineReplay, CandumpLogAlwaysPlaysFromItsFirstFrame)
{
    engine.InternalLines = TCanLogReader::Parse("(1700000000.000000) can0 18FEF100#F315000CFFFFFFFF\n"
                                                "(1700000000.010000) can0 18F00300#FFFAFFFFFFFFFFFF\n");
    engine.Start();
    RunFor(50);
    EXPECT_FALSE(engine.Running());
    ASSERT_EQ(transmit.sent.size(), 2u);
    EXPECT_EQ(transmit.sent[0].SimTime, 0);
    EXPECT_EQ(transmit.sent[1].Frame.Time, 10000);
    EXPECT_EQ(transmit.sent[1].SimTime, 10000);
}

// A user log read in the background arrives while the internal log runs: the run
// goes on. One arriving while the user log is the source ends that run.
TEST_F(TRunEngineReplay, LogReadInTheBackgroundStopsOnlyARunOfTheUserLog)
{
    engine.Start();
    engine.SetUserLog(TCanLogReader::Parse("000.0000 18FEF100F315000CFFFFFFFF\n"));
    EXPECT_TRUE(engine.Running());
    EXPECT_EQ(engine.UserLines().Count(), 1);
    engine.Stop();
    engine.Controls.InternalLog = false;
    engine.Start();
    engine.SetUserLog(TCanLog());
    EXPECT_FALSE(engine.Running());
    EXPECT_TRUE(engine.UserLines().Empty());
}

TEST_F(TRunEngineReplay, OutputLogIsLayoutFiveWithCrLfAndReadsBackAsUserLog)
{
    Lines("000.0100 18FEF100F315000CFFFFFFFF\n"
          "000.0120 18ECFF0020090002FFECFE00\n"
          "000.1120 18EBFF000156656869636C65\n"
          "000.2120 18EBFF00024142FFFFFFFFFF");
    const std::string out = Path("out.asc");
    ASSERT_TRUE(engine.OpenLogOut(out));
    engine.Controls.LogFile = true;
    engine.Start();
    RunFor(300);
    EXPECT_FALSE(engine.Running());   // flushed at the stop
    EXPECT_TRUE(errors.shown.empty());
    EXPECT_EQ(ReadAll(out),
              "000.0100 18FEF100F315000CFFFFFFFF\r\n"
              "000.0120 18ECFF0020090002FFECFE00\r\n"
              "000.1120 18EBFF000156656869636C65\r\n"
              "000.2120 18EBFF00024142FFFFFFFFFF\r\n");

    ASSERT_TRUE(engine.LoadUserLog(out));
    ASSERT_EQ(engine.UserLines().Count(), 4);
    const TLogFrame& third = engine.UserLines().Frames[2];
    EXPECT_EQ(third.Time, 112000);
    EXPECT_EQ(third.Id, 0x18EBFF00u);
    EXPECT_EQ(third.Line, 3u);
    EXPECT_EQ(third.Data, (std::array<uint8_t, 8>{0x01, 0x56, 0x65, 0x68, 0x69, 0x63, 0x6C, 0x65}));
}

TEST_F(TRunEngineReplay, OutputLogPastOneThousandSecondsStillReadsBack)
{
    const std::string out = Path("long.asc");
    TLogOut log;
    ASSERT_TRUE(log.Open(out));
    TCanFrame frame(0x18FEF100, {0xF3, 0x15, 0x00, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF}, 8, 1000500000);
    ASSERT_TRUE(log.Append(frame));
    log.Close();
    EXPECT_EQ(ReadAll(out), "1000.5000 18FEF100F315000CFFFFFFFF\r\n");

    ASSERT_TRUE(engine.LoadUserLog(out));
    EXPECT_EQ(engine.UserLines().Frames[0].Id, 0x18FEF100u);
    EXPECT_EQ(engine.UserLines().Frames[0].Time, 1000500000);
}

TEST_F(TRunEngineReplay, SecondSaveClosesTheFirstFile)
{
    const std::string a = Path("a.asc");
    const std::string b = Path("b.asc");
    Lines("000.0000 18FEF100F315000CFFFFFFFF\n"
          "000.0010 18F00300FFFAFFFFFFFFFFFF");
    ASSERT_TRUE(engine.OpenLogOut(a));
    engine.Controls.LogFile = true;
    engine.Start();
    RunFor(1);   // the first frame into a, not yet flushed
    ASSERT_TRUE(engine.OpenLogOut(b));
    EXPECT_EQ(ReadAll(a), "000.0000 18FEF100F315000CFFFFFFFF\r\n");
    RunFor(5);
    engine.Stop();
    EXPECT_EQ(ReadAll(a), "000.0000 18FEF100F315000CFFFFFFFF\r\n");
    EXPECT_EQ(ReadAll(b), "000.0010 18F00300FFFAFFFFFFFFFFFF\r\n");
    EXPECT_EQ(engine.LogOut().FileName(), b);
}

TEST_F(TRunEngineReplay, OutputLogAppendsAndAnUnopenableOneUnchecksTheBox)
{
    const std::string out = Path("keep.asc");
    WriteAll(out, "old\r\n");
    ASSERT_TRUE(engine.OpenLogOut(out));
    engine.LogOut().Append(TCanFrame(0x18FEF100, {}, 8, 0));
    engine.LogOut().Flush();
    EXPECT_EQ(ReadAll(out), "old\r\n000.0000 18FEF100" "0000000000000000\r\n");

    engine.Controls.LogFile = true;
    EXPECT_FALSE(engine.OpenLogOut(Path("missing/dir.asc")));
    EXPECT_FALSE(engine.Controls.LogFile);
    EXPECT_FALSE(engine.LogOut().IsOpen());
}

TEST_F(TRunEngineReplay, UserLogWithAForeignLineIsRefusedWithWhereAndWhy)
{
    const std::string good = Path("good.asc");
    WriteAll(good, "000.0000 00FEF1F315000CFFFFFFFF\r\n000.0020 18F00300FFFAFFFFFFFFFFFF\r\n");
    ASSERT_TRUE(engine.LoadUserLog(good));
    EXPECT_EQ(engine.UserLines().Count(), 2);
    EXPECT_EQ(engine.UserLines().Frames[0].Id, 0x18FEF100u);
    EXPECT_EQ(engine.UserLines().FileName, good);

    struct Case {
        const char* text;
        const char* detail;   // after "<file> line "
    };
    const Case cases[] = {
        {"000.0000 18FEF100F315000CFFFFFFFF\r\nhello\r\n", "2: 'hello' is not a log line"},
        {"000.0000 FFFFFFFFF315000CFFFFFFFF\n",
         "1: '000.0000 FFFFFFFFF315000CFFFFFFFF': identifier 'FFFFFFFF' is wider than 29 bits"},
        {"000.0000 18FEF100F315000CFFFFFFFF\n000.0000 E8FEE900F315000CFFFFFFFF\n",
         "2: '000.0000 E8FEE900F315000CFFFFFFFF': identifier 'E8FEE900' is wider than 29 bits"},
        {"000.0000 18FEF1ZZF315000CFFFFFFFF\n",
         "1: '000.0000 18FEF1ZZF315000CFFFFFFFF': identifier '18FEF1ZZ' is not hexadecimal"},
        {"000.0000 18FEF100F315000CFFFFFFFF\n\n000.0020 18F00300FFFAFFFFFFFFFFFF\n", "2: '' is not a log line"},
    };
    const std::string bad = Path("bad.asc");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        errors.shown.clear();
        WriteAll(bad, c.text);
        EXPECT_FALSE(engine.LoadUserLog(bad));
        EXPECT_EQ(engine.UserLines().Count(), 0);
        ASSERT_EQ(errors.shown.size(), 1u);
        EXPECT_EQ(errors.shown[0].Operation(), "");
        EXPECT_EQ(errors.shown[0].Message(), "Logfile Read Error");
        EXPECT_EQ(errors.shown[0].Detail().str().rfind(bad + " line " + c.detail, 0), 0u) << errors.shown[0].Detail().str();
    }
    // The largest identifier a log may hold is 29 bits wide.
    WriteAll(bad, "000.0000 1FFFFFFFF315000CFFFFFFFF\n");
    EXPECT_TRUE(engine.LoadUserLog(bad));

    // A file that cannot be read is said to be so, with the reason.
    errors.shown.clear();
    EXPECT_FALSE(engine.LoadUserLog(Path("nothing-here.asc")));
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_NE(errors.shown[0].Detail().str().find("No such file"), std::string::npos);

    const std::string empty = Path("empty.asc");
    WriteAll(empty, "");
    EXPECT_TRUE(engine.LoadUserLog(empty));
    EXPECT_EQ(engine.UserLines().Count(), 0);
}

TEST_F(TRunEngineReplay, UserLogReplaysItsLayoutFourLinesWithPriority6)
{
    const std::string log = Path("user.asc");
    WriteAll(log, "000.0030 17FEF1F315000CFFFFFFFF\r\n");
    ASSERT_TRUE(engine.LoadUserLog(log));
    engine.Controls.InternalLog = false;
    engine.Start();
    RunFor(50);
    ASSERT_EQ(transmit.sent.size(), 1u);
    EXPECT_EQ(transmit.sent[0].Frame.Id, 0x18FEF117u);
    EXPECT_EQ(transmit.sent[0].SimTime, 3000);
}

}  // namespace

namespace {

// The second's wait for a transmit buffer that takes nothing starts when a frame begins
// to wait, not at the frame before it: after a long silence, a buffer full for a
// moment delays the next frame and loses nothing.
TEST_F(TRunEngineReplay, BufferFullForAMomentAfterASilenceLosesNothing)
{
    Lines("000.0000 18FEF100F315000CFFFFFFFF\n"
          "003.0000 18F00300FFFAFFFFFFFFFFFF\n");
    engine.Start();
    RunStepwise(3000);
    ASSERT_EQ(transmit.sent.size(), 1u);
    transmit.perStep = 0;
    RunStepwise(1);
    EXPECT_EQ(engine.ReplayBacklog(), 1u);
    transmit.perStep = std::numeric_limits<int>::max();
    RunStepwise(10);
    EXPECT_FALSE(engine.Running());
    ASSERT_EQ(transmit.sent.size(), 2u);
    EXPECT_EQ(transmit.sent[1].Frame.Id, 0x18F00300u);
    EXPECT_EQ(engine.Undelivered(), 0);
    EXPECT_TRUE(errors.shown.empty());
}

}  // namespace
