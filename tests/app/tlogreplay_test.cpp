#include "app/tlogreplay.h"

#include "app/tinternallog.h"
#include "app/trunengine.h"
#include "app/ttimesource.h"
#include "runfakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

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

    void Lines(const char* text) { engine.InternalLines = StringList(TAString(text)); }
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

TEST_F(TRunEngineReplay, WithoutRepeatTheRunStopsAfterTheLastLineAndKeepsTheQueue)
{
    Lines("000.0000 18FEF100F315000CFFFFFFFF\n"
          "000.0000 18F00300FFFAFFFFFFFFFFFF");
    engine.Start();
    RunFor(50);
    EXPECT_FALSE(engine.Running());
    EXPECT_EQ(engine.SimTime(), 1000);   // stopped in step 1, before its frame
    ASSERT_EQ(transmit.sent.size(), 1u);
    EXPECT_EQ(engine.SendQueue().Count(), 1);
    EXPECT_EQ(view.states, (std::vector<bool>{true, false}));
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

TEST_F(TRunEngineReplay, MultipacketErrorEndsThePassAndIsShown)
{
    // A VIN announcement at 0 ms, then at 1 ms packet 2 where 1 is due; the line at 2 ms
    // is not replayed.
    Lines("000.0000 18ECFF0020180004FFECFE00\n"
          "000.0010 18EBFF0002FFFFFFFFFFFFFF\n"
          "000.0020 18FEF100F315000CFFFFFFFF");
    engine.Start();
    RunFor(50);
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_EQ(errors.shown[0].Operation(), "TCanHigh::Add");
    EXPECT_EQ(errors.shown[0].Message(), "multipacket index error");
    EXPECT_FALSE(engine.Running());
    EXPECT_EQ(engine.SimTime(), 2000);   // step 1 went on, step 2 ended the run
    EXPECT_EQ(Find(0x18FEF100, 2000), nullptr);
    ASSERT_EQ(transmit.sent.size(), 1u);
    EXPECT_EQ(transmit.sent[0].Frame.Id, 0x18ECFF00u);
}

TEST_F(TRunEngineReplay, LineThatDoesNotParseEndsEveryPassButIsShownOncePerRun)
{
    Lines("000.0000 18FEF100F315000CFFFFFFFF\n"
          "000.0010 18FEF1ZZF315000CFFFFFFFF\n"
          "000.0020 18F00300FFFAFFFFFFFFFFFF");
    engine.Controls.Repeat = true;
    engine.Start();
    RunFor(5);
    EXPECT_TRUE(engine.Running());
    ASSERT_EQ(errors.shown.size(), 1u);
    for (const TSentFrame& s : transmit.sent) EXPECT_EQ(s.Frame.Id, 0x18FEF100u);
    EXPECT_EQ(transmit.sent.size(), 5u);   // each pass is its first line only

    engine.Stop();
    engine.Start();
    RunFor(1);
    EXPECT_EQ(errors.shown.size(), 2u);
}

TEST_F(TRunEngineReplay, OutputLogIsLayoutFiveWithCrLfAndReadsBackAsUserLog)
{
    Lines("000.0100 18FEF100F315000CFFFFFFFF\n"
          "000.0120 18ECFF0020180004FFECFE00\n"
          "000.1120 18EBFF000156656869636C65");
    const std::string out = Path("out.asc");
    ASSERT_TRUE(engine.OpenLogOut(out));
    engine.Controls.LogFile = true;
    engine.Start();
    RunFor(200);
    EXPECT_FALSE(engine.Running());   // flushed at the stop
    EXPECT_EQ(ReadAll(out),
              "000.0100 18FEF100F315000CFFFFFFFF\r\n"
              "000.0120 18ECFF0020180004FFECFE00\r\n"
              "000.1120 18EBFF000156656869636C65\r\n");

    ASSERT_TRUE(engine.LoadUserLog(out));
    ASSERT_EQ(engine.UserLines().Count(), 3);
    EXPECT_EQ(engine.UserLines()[2], "000.1120 18EBFF000156656869636C65");
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
    const TAString& line = engine.UserLines()[0];
    const TCanFrame back(line, TCanFrame::DetectFormat(line, lfFixed));
    EXPECT_EQ(back.Id, 0x18FEF100u);
    EXPECT_EQ(back.Time, 1000500000);
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

TEST_F(TRunEngineReplay, UserLogWithAForeignLineIsRefused)
{
    const std::string good = Path("good.asc");
    WriteAll(good, "000.0000 00FEF1F315000CFFFFFFFF\r\n000.0020 18F00300FFFAFFFFFFFFFFFF\r\n");
    ASSERT_TRUE(engine.LoadUserLog(good));
    EXPECT_EQ(engine.UserLines().Count(), 2);
    EXPECT_EQ(engine.UserLines()[0], "000.0000 00FEF1F315000CFFFFFFFF");

    const std::string bad = Path("bad.asc");
    WriteAll(bad, "000.0000 18FEF100F315000CFFFFFFFF\r\nhello\r\n");
    EXPECT_FALSE(engine.LoadUserLog(bad));
    EXPECT_EQ(engine.UserLines().Count(), 0);
    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_EQ(errors.shown[0].Operation(), "");
    EXPECT_EQ(errors.shown[0].Message(), "Logfile Read Error");

    EXPECT_FALSE(engine.LoadUserLog(Path("nothing-here.asc")));
    EXPECT_EQ(errors.shown.size(), 1u);

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
