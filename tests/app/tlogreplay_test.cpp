#include "app/tlogreplay.h"

#include "app/tcanlogreader.h"
#include "app/tinternallog.h"
#include "app/trunengine.h"
#include "app/ttimesource.h"
#include "runfakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
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
    const TSentFrame* Find(uint32_t id, int64_t time) const
    {
        auto it = std::find_if(transmit.sent.begin(), transmit.sent.end(), [&](const TSentFrame& s) {
            return s.Frame.Id == id && s.Frame.Time == time;
        });
        return it == transmit.sent.end() ? nullptr : &*it;
    }
    std::string Path(const char* name) const { return (dir / name).string(); }
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
    // The VIN transfer is rebuilt from its logged packets and sent again at their times.
    EXPECT_NE(Find(0x18ECFF00, 59998000 + 12000), nullptr);
    EXPECT_NE(Find(0x18EBFF00, 59998000 + 112000), nullptr);
    EXPECT_EQ(engine.Replay().LineTimeOffset(), 119996000);

    int64_t last = -1;
    for (const TSentFrame& s : transmit.sent) {
        ASSERT_GE(s.SimTime, s.Frame.Time);
        ASSERT_GT(s.SimTime, last) << "two frames in one millisecond";
        last = s.SimTime;
    }
}

TEST_F(TRunEngineReplay, FramesOfOneMillisecondLeaveInSuccessiveSteps)
{
    Lines("000.0100 18FEF100F315000CFFFFFFFF\n"
          "000.0100 18F00300FFFAFFFFFFFFFFFF\n"
          "000.0100 18FEE900FFFFFFFF00000000\n"
          "000.1000 18FEFC00FFFAFFFFFFFFFFFF");
    engine.Start();
    RunFor(50);
    ASSERT_EQ(transmit.sent.size(), 3u);
    EXPECT_EQ(transmit.sent[0].SimTime, 10000);
    EXPECT_EQ(transmit.sent[1].SimTime, 11000);
    EXPECT_EQ(transmit.sent[2].SimTime, 12000);
    EXPECT_EQ(transmit.sent[2].Frame.Id, 0x18FEE900u);
    EXPECT_EQ(transmit.sent[2].Frame.Time, 10000);
    EXPECT_EQ(transmit.sent[2].Delay, 2000000000 + 200000);
}

TEST_F(TRunEngineReplay, WithoutRepeatTheRunEndsOnceTheLastFrameHasLeft)
{
    // Ten frames share the log's last millisecond: they leave in ten successive steps
    // and the run ends in the step after the tenth.
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
        EXPECT_EQ(s.SimTime, 1000000 + 1000 * i);
    }
    EXPECT_EQ(engine.SimTime(), 1010000);
    EXPECT_EQ(engine.SendQueue().Count(), 0);
    EXPECT_EQ(view.states, (std::vector<bool>{true, false}));
    EXPECT_TRUE(errors.shown.empty());   // 9 ms late is within what a replay allows
    EXPECT_EQ(engine.MaxLateness(), 9000);
}

TEST_F(TRunEngineReplay, DenseLogLosesNothingAndSaysOnceThatItsFramesLeaveLate)
{
    // Two frames in every millisecond for 1 s: 2000 frames at one per ms take 2 s.
    std::string text;
    char line[64];
    for (int ms = 0; ms < 1000; ++ms) {
        for (int k = 0; k < 2; ++k) {
            std::snprintf(line, sizeof line, "%03d.%04d 18FEF1%02X%016X\n", ms / 1000, (ms % 1000) * 10, k, ms);
            text += line;
        }
    }
    Lines(text.c_str());
    engine.Start();
    RunFor(2100);
    EXPECT_FALSE(engine.Running());
    ASSERT_EQ(transmit.sent.size(), 2000u);
    EXPECT_EQ(transmit.sent.back().SimTime, 1999000);
    EXPECT_EQ(engine.MaxLateness(), 1999000 - 999000);
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_EQ(errors.shown[0].Message(), "frames late");
    EXPECT_NE(errors.shown[0].Detail().str().find("one frame leaves per millisecond"), std::string::npos);
}

TEST_F(TRunEngineReplay, BacklogOfAHundredThousandFramesCostsTheSameWorkPerFrame)
{
    // Taking a frame examines a bounded number of messages however long the queue is
    // (a scan of the queue would look at the whole backlog in every step).
    std::string text;
    text.reserve(100000 * 34);
    for (int i = 0; i < 100000; ++i) text += "000.0010 18FEF100F315000CFFFFFFFF\n";
    Lines(text.c_str());
    engine.Start();
    RunFor(100200);
    EXPECT_FALSE(engine.Running());
    EXPECT_EQ(transmit.sent.size(), 100000u);
    EXPECT_LE(engine.SendQueue().Examined(), 2u * 100000u);
}

TEST_F(TRunEngineReplay, RepeatedDenseLogKeepsItsBacklogBounded)
{
    // Ten frames at one time, repeated: ten come due every millisecond, one leaves.
    std::string text;
    for (int i = 0; i < 10; ++i) text += "000.0000 18FEF100F315000CFFFFFFFF\n";
    Lines(text.c_str());
    engine.Controls.Repeat = true;
    engine.Start();
    RunFor(20000);
    EXPECT_TRUE(engine.Running());
    EXPECT_EQ(transmit.sent.size(), 20000u);
    EXPECT_LE(engine.SendQueue().Count(), TLogReplay::MaxBacklog);
    EXPECT_LE(engine.SendQueue().Examined(), 2u * 20000u + TLogReplay::MaxBacklog);
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
    // 10 ms, then 5 ms (a new pass: it follows the 10 ms line), then 20 ms (+5 ms).
    Lines("000.0100 18FEF100F315000CFFFFFFFF\n"
          "000.0050 18F00300FFFAFFFFFFFFFFFF\n"
          "000.0200 18FEE900FFFFFFFF00000000");
    engine.Start();
    RunFor(50);
    ASSERT_EQ(transmit.sent.size(), 3u);
    EXPECT_EQ(transmit.sent[0].Frame.Id, 0x18FEF100u);
    EXPECT_EQ(transmit.sent[0].Frame.Time, 10000);
    EXPECT_EQ(transmit.sent[1].Frame.Id, 0x18F00300u);
    EXPECT_EQ(transmit.sent[1].Frame.Time, 10000);
    EXPECT_EQ(transmit.sent[2].Frame.Id, 0x18FEE900u);
    EXPECT_EQ(transmit.sent[2].Frame.Time, 25000);
}

// The sequence numbers of the data packets sent with identifier dtId, in order.
std::vector<uint32_t> Sequence(const std::vector<TSentFrame>& sent, uint32_t dtId)
{
    std::vector<uint32_t> seq;
    for (const TSentFrame& s : sent)
        if (s.Frame.Id == dtId) seq.push_back(s.Frame.Data[0]);
    return seq;
}

TEST_F(TRunEngineReplay, BroadcastsFromTwoSourcesInterleavedAreBothRebuilt)
{
    // Source 00 sends a 24-byte VIN, source 21 a 16-byte group; their packets alternate.
    Lines("000.0000 18ECFF0020180004FFECFE00\n"
          "000.0010 18ECFF2120100003FFCAFE00\n"
          "000.1000 18EBFF000141424344454647\n"
          "000.1010 18EBFF210161626364656667\n"
          "000.2000 18EBFF000248494A4B4C4D4E\n"
          "000.2010 18EBFF210268696A6B6C6D6E\n"
          "000.3000 18EBFF00034F505152535455\n"
          "000.3010 18EBFF21036F70FFFFFFFFFF\n"
          "000.4000 18EBFF0004565758FFFFFFFF");
    engine.Start();
    RunFor(600);
    EXPECT_TRUE(errors.shown.empty()) << errors.shown[0].Detail().str();
    EXPECT_EQ(engine.DroppedTransfers(), 0);
    EXPECT_EQ(Sequence(transmit.sent, 0x18EBFF00), (std::vector<uint32_t>{1, 2, 3, 4}));
    EXPECT_EQ(Sequence(transmit.sent, 0x18EBFF21), (std::vector<uint32_t>{1, 2, 3}));
    const TSentFrame* last21 = Find(0x18EBFF21, 1000 + 300000);
    ASSERT_NE(last21, nullptr);
    EXPECT_EQ(last21->Frame.Data, (std::array<uint8_t, 8>{3, 0x6F, 0x70, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_NE(Find(0x18EBFF00, 400000), nullptr);
}

TEST_F(TRunEngineReplay, UnfinishedTransfersAreDroppedAndToldOnceWithoutHoldingUpTheNext)
{
    struct Case {
        const char* name;
        const char* log;
        int64_t second;       // when the good transfer is announced, µs
        const char* message;
        const char* detail;   // part of the error's detail
    };
    // Each log cuts a 4-packet VIN transfer short; a good 3-packet one follows.
    const Case cases[] = {
        {"new announcement",
         "000.0000 18ECFF0020180004FFECFE00\n"
         "000.1000 18EBFF000141424344454647\n"
         "000.1500 18ECFF0020100003FFCAFE00\n",
         150000, "multipacket transfer incomplete",
         "PGN FEEC announced at 0.0000 s: 1 of 4 packets, then a new announcement at 0.1500 s"},
        {"silence",
         "000.0000 18ECFF0020180004FFECFE00\n"
         "000.1000 18EBFF000141424344454647\n"
         "000.9000 18ECFF0020100003FFCAFE00\n",
         900000, "multipacket transfer incomplete", "1 of 4 packets, then no packet until"},
        {"wrong sequence",
         "000.0000 18ECFF0020180004FFECFE00\n"
         "000.1000 18EBFF000341424344454647\n"
         "000.1500 18ECFF0020100003FFCAFE00\n",
         150000, "multipacket index error",
         "0 of 4 packets, then a packet refused at 0.1000 s (multipacket index error)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        errors.shown.clear();
        transmit.sent.clear();
        const int64_t s = c.second / 1000;
        char good[160];
        std::snprintf(good, sizeof good,
                      "%03d.%04d 18EBFF000161626364656667\n%03d.%04d 18EBFF000268696A6B6C6D6E\n"
                      "%03d.%04d 18EBFF00036F70FFFFFFFFFF\n",
                      int((s + 100) / 1000), int((s + 100) % 1000 * 10), int((s + 200) / 1000),
                      int((s + 200) % 1000 * 10), int((s + 300) / 1000), int((s + 300) % 1000 * 10));
        Lines((std::string(c.log) + good).c_str());
        engine.Start();
        RunFor(2000);
        EXPECT_FALSE(engine.Running());
        ASSERT_EQ(errors.shown.size(), 1u);
        EXPECT_EQ(errors.shown[0].Message(), c.message);
        EXPECT_NE(errors.shown[0].Detail().str().find(c.detail), std::string::npos) << errors.shown[0].Detail().str();
        EXPECT_EQ(engine.DroppedTransfers(), 1);
        // The second transfer goes out whole: its announcement and packets 1..3.
        EXPECT_NE(Find(0x18ECFF00, c.second), nullptr);
        for (int k = 1; k <= 3; ++k) EXPECT_NE(Find(0x18EBFF00, c.second + k * 100000), nullptr) << k;
        EXPECT_EQ(engine.SendQueue().Count(), 0);
    }
}

TEST_F(TRunEngineReplay, TransferStillOpenAtTheEndOfTheLogEndsTheRunAndIsTold)
{
    Lines("000.0000 18ECFF0020180004FFECFE00\n"
          "000.1000 18EBFF000141424344454647");
    engine.Start();
    RunFor(400);
    EXPECT_FALSE(engine.Running());
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_NE(errors.shown[0].Detail().str().find("1 of 4 packets, then the end of the log"), std::string::npos);
}

TEST_F(TRunEngineReplay, StopAndStartInTheMiddleOfATransferSendsNothingStale)
{
    // The internal log's VIN transfer: announced at 12 ms, packets at 112..412 ms.
    engine.Start();
    RunFor(250);   // announcement and packets 1 and 2 are out, 3 and 4 are queued
    engine.Stop();
    transmit.sent.clear();
    engine.Start();
    RunFor(600);
    EXPECT_TRUE(errors.shown.empty()) << errors.shown[0].Message().str();
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
    for (int run = 0; run < 3; ++run) {
        engine.Start();
        RunFor(1);
        EXPECT_EQ(engine.SendQueue().Count(), 3) << run;   // four queued, one left
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
    EXPECT_EQ(transmit.sent[0].SimTime, 1733700000124000);
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
