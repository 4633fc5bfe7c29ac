#include "app/cli/tclirunner.h"

#include "app/tcantransmit.h"
#include "app/trunengine.h"
#include "app/ttimesource.h"
#include "fms/tcanframe.h"
#include "support/stringlist.h"

#include "can/qtcanbus/qtcanbusdriverentry.h"
#include "can/tcanadapters.h"
#include "can/tcanchannel.h"
#include "can/vector/tcandrivervector.h"
#include "tests/can/qtcanbus/virtualbus.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <chrono>
#include <map>
#include <set>
#include <thread>

namespace {

class TCliRunnerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path() /
               ("qv_cli_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    TAString Path(const char* name) const { return TAString((dir_ / name).string()); }

    // Runs the command line; returns the exit status, with stdout and stderr captured.
    int Run(std::initializer_list<const char*> words)
    {
        std::vector<TAString> args;
        for (const char* w : words) args.emplace_back(w);
        const TCliParse parsed = ParseCommandLine(args);
        EXPECT_EQ(parsed.Error, "");
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        std::atomic<int> stop{0};
        const int status = TCliRunner(parsed.Options, out, err).Run(stop);
        out_ = Slurp(out);
        err_ = Slurp(err);
        return status;
    }

    static std::string Slurp(std::FILE* f)
    {
        std::string text;
        std::rewind(f);
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
        std::fclose(f);
        return text;
    }

    static std::vector<TCanFrame> Frames(const TAString& file)
    {
        StringList lines;
        lines.LoadFromFile(file, true);
        std::vector<TCanFrame> frames;
        for (int i = 0; i < lines.Count(); ++i) frames.emplace_back(lines[i], lfFixedId);
        return frames;
    }

    std::filesystem::path dir_;
    std::string out_;
    std::string err_;
};

TEST_F(TCliRunnerTest, FastSixtySecondsGiveTheWholeScheduleAndTheSameLogTwice)
{
    const TAString a = Path("a.asc");
    const TAString b = Path("b.asc");
    ASSERT_EQ(Run({"--fast", "--duration", "60", "--source", "sim", "--starter", "--log-out", a.c_str()}), 0) << err_;
    EXPECT_NE(out_.find("every group within 1 ms of its period"), std::string::npos) << out_;
    ASSERT_EQ(Run({"--fast", "--duration", "60", "--source", "sim", "--starter", "--log-out", b.c_str()}), 0);
    TAString textA, textB;
    textA.LoadFromFile(a, false);
    textB.LoadFromFile(b, false);
    EXPECT_EQ(textA, textB);
    EXPECT_EQ(textA.SubString(0, 35), "000.0000 18FEF100F315000CFFFFFFFF\r\n");

    std::set<uint32_t> ids;
    for (const TCanFrame& f : Frames(a)) ids.insert(f.Id);
    // 20 single-frame groups, the two transfers' TP.CM and TP.DT identifiers.
    EXPECT_EQ(ids.size(), 22u);
    EXPECT_TRUE(ids.count(0x18ECFF00u));
    EXPECT_TRUE(ids.count(0x18EBFF00u));

    // The windowed program takes the output as a user log.
    struct TNoTransmit : TCanTransmit {
        void Write(const TCanFrame&, int64_t) override {}
        void SetChannel(TCanChannel*) override {}
    } transmit;
    TManualTimeSource clock;
    TRunEngine engine(clock, transmit);
    EXPECT_TRUE(engine.LoadUserLog(a));
    EXPECT_GT(engine.UserLines().Count(), 11000);
}

TEST_F(TCliRunnerTest, ForcedErrorDroppedGroupAndOptionsReachEveryFrame)
{
    const TAString log = Path("forced.asc");
    ASSERT_EQ(Run({"--fast", "--duration", "5", "--starter", "--force", "Engine speed=error", "--drop", "FEF1",
                   "--sa", "xFE", "--prio", "3", "--log-out", log.c_str()}),
              0)
        << err_;
    int eec1 = 0;
    for (const TCanFrame& f : Frames(log)) {
        EXPECT_EQ(f.Id & 0xFFu, 0xFEu);
        EXPECT_EQ((f.Id >> 26) & 7u, 3u);
        EXPECT_NE((f.Id >> 8) & 0xFFFFu, 0xFEF1u);
        if (((f.Id >> 8) & 0xFFFFu) == 0xF004u) {
            ++eec1;
            EXPECT_EQ(f.Data[3], 0xFF);
            EXPECT_EQ(f.Data[4], 0xFE);
        }
    }
    EXPECT_EQ(eec1, 250);   // every 20 ms for 5 s
    EXPECT_NE(out_.find("(left out)"), std::string::npos);
}

TEST_F(TCliRunnerTest, NamesOnlyTheRunKnowsAreUsageErrors)
{
    EXPECT_EQ(Run({"--fast", "--duration", "1", "--set", "Warp=9"}), TCliRunner::ExitUsage);
    EXPECT_NE(err_.find("no value named 'Warp'"), std::string::npos);
    EXPECT_EQ(Run({"--fast", "--duration", "1", "--force", "Warp drive=error"}), TCliRunner::ExitUsage);
    EXPECT_EQ(Run({"--fast", "--duration", "1", "--force", "Engine speed=broken"}), TCliRunner::ExitUsage);
    EXPECT_EQ(Run({"--fast", "--duration", "1", "--drop", "1234"}), TCliRunner::ExitUsage);
}

TEST_F(TCliRunnerTest, FailuresPrintTheErrorDialogTextAndFail)
{
    EXPECT_EQ(Run({"--fast", "--duration", "1", "--channel", "Nonsense 1 2"}), TCliRunner::ExitFailed);
    EXPECT_NE(err_.find("CAN configuration error: Selected driver not supported"), std::string::npos) << err_;
    EXPECT_EQ(Run({"--source", "log", Path("missing.asc").c_str()}), TCliRunner::ExitFailed);
}

TEST_F(TCliRunnerTest, InternalLogReplaysItsMinuteWithRepeat)
{
    const TAString log = Path("internal.asc");
    ASSERT_EQ(Run({"--fast", "--duration", "61", "--source", "internal", "--repeat", "--log-out", log.c_str()}), 0)
        << err_;
    const std::vector<TCanFrame> frames = Frames(log);
    ASSERT_GT(frames.size(), 11000u);
    // The second pass starts at 59.998 s with the recording's first frame.
    bool secondPass = false;
    for (const TCanFrame& f : frames)
        if (f.Time == 59998000 + 0 && f.Id == 0x18FEF100u) secondPass = true;
    EXPECT_TRUE(secondPass);
}

// Real time: frames leave through the transmit buffer's timer thread into a
// simulation channel, and the departure times keep every group's period.
TEST_F(TCliRunnerTest, RealTimeRunIntoAMemoryChannelKeepsEveryPeriod)
{
    const TAString report = Path("timing.json");
    ASSERT_EQ(Run({"--duration", "10", "--starter", "--channel", "Simulation RAM 1 1", "--report", report.c_str(),
                   "--strict-timing"}),
              0)
        << out_ << err_;
    TAString json;
    json.LoadFromFile(report, false);
    EXPECT_NE(json.Find("\"flagged\": false"), -1) << json.str();
    EXPECT_NE(json.Find("\"mode\": \"real-time\""), -1);
}

}  // namespace

namespace {

// The program's own run with a Qt virtual CAN bus as adapter: a peer on the same bus
// records the whole Bus-FMS schedule.
TEST_F(TCliRunnerTest, VirtualCanBusPeerReceivesTheWholeSchedule)
{
    const std::string bus = virtualbus::Description(virtualbus::TestPort());
    TCanAdapters adapters(QtCanBusDriverTable());
    TCanChannel* peer = adapters.OpenChannel(TAString("QtCanBus " + bus));
    const std::string channel = "QtCanBus " + bus;
    ASSERT_EQ(Run({"--fast", "--duration", "10", "--starter", "--channel", channel.c_str()}), 0) << err_;

    std::map<uint32_t, int> perId;
    int total = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (total < 1913 && std::chrono::steady_clock::now() < deadline) {
        const TCanFrame f = peer->Read();
        if (f.IsNone()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        ++perId[f.Id];
        ++total;
    }
    adapters.CloseChannel(peer);
    // 10 s of the schedule: 20 single-frame groups plus the VIN and driver
    // identification transfers (TP.CM and TP.DT), every frame once.
    EXPECT_EQ(perId.size(), 22u);
    EXPECT_EQ(perId[0x18F00400u], 500);   // EEC1 every 20 ms
    EXPECT_EQ(perId[0x18FEF100u], 100);   // CCVS every 100 ms
    EXPECT_EQ(perId[0x18FEE900u], 10);    // fuel consumption every second
}

}  // namespace

namespace {

// The adapter and the Vector library path come from a settings file as the windowed
// program reads them at start-up.
TEST_F(TCliRunnerTest, SettingsFileGivesTheAdapterAndTheVectorLibrary)
{
    const TAString settings = Path("Quorvella.xml");
    TAString(R"(<?xml version="1.0" encoding="UTF-8"?>
<Quorvella>
  <FileNameVectorDll>/nowhere/vcand32.so</FileNameVectorDll>
  <CanAdapter><Vector3.2><DriverName>Vector</DriverName><CardType>CANcaseXL</CardType><CardIndex>1</CardIndex><Channel>1</Channel></Vector3.2></CanAdapter>
</Quorvella>
)").SaveToFile(settings, false);
    EXPECT_EQ(Run({"--fast", "--duration", "1", "--settings", settings.c_str()}), TCliRunner::ExitFailed);
    // The Vector driver tried the library named in the file, which is not there.
    EXPECT_NE(err_.find("VECTOR initialisation error: Opening driver failed. Errorcode=201"), std::string::npos)
        << err_;
    EXPECT_EQ(VectorDllPath(), "/nowhere/vcand32.so");
    VectorDllPath() = "vcand32.dll";
}

}  // namespace
