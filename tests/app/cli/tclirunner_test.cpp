#include "app/cli/tclirunner.h"
#include "clirunfixture.h"

#include "engine/tcantransmit.h"
#include "engine/trunengine.h"
#include "engine/ttimesource.h"
#include "fms/tcanframe.h"
#include "support/stringlist.h"

#include "can/qtcanbus/qtcanbusdriverentry.h"
#include "can/tcanadapters.h"
#include "can/tcanchannel.h"
#include "can/vector/tcandrivervector.h"
#include "support/Communication/tacommunication.h"
#include "tests/can/qtcanbus/virtualbus.h"
#include "tests/support/Communication/channeltesthelpers.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
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
               ("qv_cli_" + std::to_string(::getpid()) + "_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    TAString Path(const char* name) const { return TAString((dir_ / name).string()); }

    // Runs the command line; returns the exit status, with stdout and stderr captured.
    int Run(std::initializer_list<const char*> words)
    {
        clitest::TCliOutcome outcome = clitest::RunCommandLine(std::vector<std::string>(words.begin(), words.end()));
        out_ = std::move(outcome.Out);
        err_ = std::move(outcome.Err);
        return outcome.Status;
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
    const TAString a = Path("a.l5");
    const TAString b = Path("b.l5");
    ASSERT_EQ(Run({"--fast", "--duration", "60", "--source", "sim", "--starter", "--log-out", a.c_str()}), 0) << err_;
    EXPECT_NE(out_.find("every group within 1 ms of its period"), std::string::npos) << out_;
    ASSERT_EQ(Run({"--fast", "--duration", "60", "--source", "sim", "--starter", "--log-out", b.c_str()}), 0);
    TAString textA, textB;
    textA.LoadFromFile(a, false);
    textB.LoadFromFile(b, false);
    EXPECT_EQ(textA, textB);
    // The address claim in the run's first millisecond, the schedule from the next.
    EXPECT_EQ(textA.SubString(0, 70),
              "000.0000 18EEFF000100000000000010\r\n000.0010 18FEF100F315000CFFFFFFFF\r\n");

    std::set<uint32_t> ids;
    for (const TCanFrame& f : Frames(a)) ids.insert(f.Id);
    // 20 single-frame groups, the two transfers' TP.CM and TP.DT identifiers, the claim.
    EXPECT_EQ(ids.size(), 23u);
    EXPECT_TRUE(ids.count(0x18EEFF00u));
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
    const TAString log = Path("forced.l5");
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
    // ... and lists the names it takes, with meaning, unit and range.
    EXPECT_NE(err_.find("\n  Gaspedal                     accelerator pedal, % [0 to 100]\n"), std::string::npos) << err_;
    EXPECT_NE(err_.find("\n  Sec                          Seconds, sec [0 to 59.75]\n"), std::string::npos) << err_;
    EXPECT_EQ(Run({"--fast", "--duration", "1", "--force", "Warp drive=error"}), TCliRunner::ExitUsage);
    EXPECT_EQ(Run({"--fast", "--duration", "1", "--force", "Engine speed=broken"}), TCliRunner::ExitUsage);
    EXPECT_EQ(Run({"--fast", "--duration", "1", "--drop", "1234"}), TCliRunner::ExitUsage);
}

// --export-dbc writes the file with the options' source address and priority, and runs nothing.
TEST_F(TCliRunnerTest, ExportDbcWritesTheFileAndRunsNothing)
{
    const TAString dbc = Path("fms.dbc");
    ASSERT_EQ(Run({"--export-dbc", dbc.c_str(), "--sa", "xFE", "--prio", "3", "--duration", "5"}), 0) << err_;
    EXPECT_EQ(out_, "");
    TAString text;
    text.LoadFromFile(dbc, false);
    EXPECT_NE(text.Find("\nBO_ 2365518334 CCVS: 8 Quorvella\n"), -1);   // 0x8CFEF1FE
    EXPECT_EQ(text.Find("BO_ 2566844672 "), -1);                          // 0x98FEF100

    EXPECT_EQ(Run({"--export-dbc", Path("no/such/folder/fms.dbc").c_str()}), TCliRunner::ExitFailed);
    EXPECT_NE(err_.find("DBC file error: Writing the DBC file failed: the folder '" + Path("no/such/folder").str() +
                        "' does not exist"),
              std::string::npos)
        << err_;
}

TEST_F(TCliRunnerTest, FailuresPrintTheErrorDialogTextAndFail)
{
    EXPECT_EQ(Run({"--fast", "--duration", "1", "--channel", "Nonsense 1 2"}), TCliRunner::ExitFailed);
    EXPECT_NE(err_.find("CAN configuration error: Selected driver not supported"), std::string::npos) << err_;
    EXPECT_EQ(Run({"--source", "log", Path("missing.asc").c_str()}), TCliRunner::ExitFailed);
}

TEST_F(TCliRunnerTest, InternalLogReplaysItsMinuteWithRepeat)
{
    const TAString log = Path("internal.l5");
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

// Logs replayed with --fast: exit 1 exactly where a frame was lost or the log was
// refused, 0 otherwise; the output log holds every frame that left. A transfer the log
// cut short is sent as it is and told as a notice.
TEST_F(TCliRunnerTest, ReplayedLogsFailExactlyWhereSomethingWasLostOrRefused)
{
    std::string burst = "000.0000 18F00300FFFAFFFFFFFFFFFF\n";
    for (int i = 0; i < 10; ++i) burst += "001.0000 18FEF100F315000CFFFFFFFF\n";
    std::string dense;
    char line[64];
    for (int ms = 0; ms < 100; ++ms) {
        for (int k = 0; k < 2; ++k) {
            std::snprintf(line, sizeof line, "000.%04d 18FEF1%02X%016X\n", ms * 10, k, ms);
            dense += line;
        }
    }
    struct Case {
        const char* name;
        std::string log;
        int status;
        size_t framesOut;     // lines in the output log
        const char* stderrHas;   // "" when stderr must be empty
    };
    const Case cases[] = {
        {"burst at the end", burst, 0, 11, ""},
        {"two sources interleaved",
         "000.0000 18ECFF0020090002FFECFE00\n000.0010 18ECFF2120090002FFCAFE00\n"
         "000.1000 18EBFF000141424344454647\n000.1010 18EBFF210161626364656667\n"
         "000.2000 18EBFF000248FFFFFFFFFFFF\n000.2010 18EBFF210268FFFFFFFFFFFF\n",
         0, 6, ""},
        {"truncated transfer, then a good one",
         "000.0000 18ECFF0020180004FFECFE00\n000.1000 18EBFF000141424344454647\n"
         "000.1500 18ECFF0020090002FFCAFE00\n000.2500 18EBFF000161626364656667\n"
         "000.3500 18EBFF000268FFFFFFFFFFFF\n",
         0, 5,
         "Transport notice: Transport transfers of the log were incomplete or malformed; they were sent as the log "
         "has them: 2 transfers: 1 complete, 1 incomplete, 0 malformed: broadcast from 00, PGN FEEC (24 bytes, 4 "
         "packets) at 0.0000 s: 1 of 4 packets, then a new announcement at 0.1500 s"},
        {"identifier wider than 29 bits", "000.0000 18FEF100F315000CFFFFFFFF\n000.0010 E8FEE900F315000CFFFFFFFF\n", 1,
         0, "Log file error: Reading CAN log entry failed: "},
        {"epoch times", "1733700000.1234 18FEF100F315000CFFFFFFFF\n1733700001.0000 18F00300FFFAFFFFFFFFFFFF\n", 0, 2,
         ""},
        // Frames sharing a millisecond all leave in it.
        {"denser than one frame per millisecond", dense, 0, 200, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TAString in = Path("in.asc");
        const TAString out = Path("out.l5");
        std::remove(out.c_str());
        {
            std::FILE* f = std::fopen(in.c_str(), "wb");
            std::fwrite(c.log.data(), 1, c.log.size(), f);
            std::fclose(f);
        }
        EXPECT_EQ(Run({"--fast", "--source", "log", in.c_str(), "--log-out", out.c_str()}), c.status) << err_;
        if (c.stderrHas[0] == 0) {
            EXPECT_EQ(err_, "");
        } else {
            EXPECT_NE(err_.find(c.stderrHas), std::string::npos) << err_;
        }
        if (c.framesOut > 0) {
            EXPECT_EQ(Frames(out).size(), c.framesOut);
        }
    }
}

// Real time: frames leave through the transmit buffer's timer thread into a
// simulation channel, and the departure times keep every group's period.
TEST_F(TCliRunnerTest, RealTimeRunIntoAMemoryChannelKeepsEveryPeriod)
{
    const TAString report = Path("timing.json");
    const int status = Run({"--duration", "10", "--starter", "--channel", "Simulation RAM 1 1", "--report",
                            report.c_str(), "--strict-timing"});
    // A machine so busy that the run was held up for more than 200 ms fails strict
    // timing for that reason alone; the periods must hold all the same.
    const bool stalled = out_.find("\nstalls: ") != std::string::npos;
    ASSERT_EQ(status, stalled ? TCliRunner::ExitFailed : 0) << out_ << err_;
    TAString json;
    json.LoadFromFile(report, false);
    EXPECT_NE(json.Find("\"flagged\": false"), -1) << json.str();
    EXPECT_NE(json.Find("\"mode\": \"real-time\""), -1);
    // Which scheduling the transmit timer got, in the report and on standard output.
    const bool realTime = json.Find("\"transmit_timer\": \"real-time (SCHED_FIFO 10), memory ") != -1;
    EXPECT_TRUE(realTime || json.Find("\"transmit_timer\": \"normal (") != -1) << json.str();
    EXPECT_NE(out_.find(realTime ? "\ntransmit timer: real-time (SCHED_FIFO 10), memory " : "\ntransmit timer: normal ("),
              std::string::npos)
        << out_;
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
    while (total < 1914 && std::chrono::steady_clock::now() < deadline) {
        const TCanFrame f = peer->Read();
        if (f.IsNone()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        ++perId[f.Id];
        ++total;
    }
    adapters.CloseChannel(peer);
    // The address claim and 10 s of the schedule: 20 single-frame groups plus the VIN
    // and driver identification transfers (TP.CM and TP.DT), every frame once.
    EXPECT_EQ(perId.size(), 23u);
    EXPECT_EQ(perId[0x18EEFF00u], 1);
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

namespace {

// The whole minute of the schedule, 11478 frames, reaches a peer over TCP and over
// files; without a peer the run fails and says how many frames it could not deliver.
TEST_F(TCliRunnerTest, SixtySecondsOverSocketsAndFilesReachAPeerFrameForFrame)
{
    const uint16_t runnerLocal = commtest::FreePort();
    uint16_t peerLocal = commtest::FreePort();
    while (peerLocal == runnerLocal) peerLocal = commtest::FreePort();
    const std::string dir = dir_.string();
    const struct {
        const char* name;
        std::string channel;
        std::string peer;
    } cases[] = {
        {"SOC", "Simulation SOC 127.0.0.1 " + std::to_string(peerLocal) + " " + std::to_string(runnerLocal) + " 1",
         "SOC 127.0.0.1 " + std::to_string(runnerLocal) + " " + std::to_string(peerLocal) + " 1"},
        {"HDD", "Simulation HDD " + dir + "/to_peer " + dir + "/to_runner",
         "HDD " + dir + "/to_runner " + dir + "/to_peer"},
    };
    for (const auto& c : cases) {
        auto peer = TACommunication::New(c.peer.c_str(), 24);
        std::map<uint32_t, int> perId;
        size_t records = 0;
        bool whole = true;
        std::thread reader([&] {
            // The peer polls as a test bench would.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            uint8_t record[24];
            while (records < 11478 && std::chrono::steady_clock::now() < deadline) {
                if (peer->Read(record, 24) == 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                    continue;
                }
                ++records;
                const uint32_t id = record[0] | record[1] << 8 | record[2] << 16 | static_cast<uint32_t>(record[3]) << 24;
                ++perId[id];
                whole = whole && record[12] == 8;   // every frame cut from a group has Dlc 8
            }
        });
        EXPECT_EQ(Run({"--fast", "--duration", "60", "--channel", c.channel.c_str()}), TCliRunner::ExitOk)
            << c.name << ": " << err_;
        reader.join();
        EXPECT_EQ(records, 11478u) << c.name;
        EXPECT_TRUE(whole) << c.name;
        EXPECT_FALSE(peer->TakeCutRecords().has_value()) << c.name;
        // 60 s: EEC1 every 20 ms, CCVS every 100 ms, fuel consumption every second.
        EXPECT_EQ(perId[0x18F00400u], 3000) << c.name;
        EXPECT_EQ(perId[0x18FEF100u], 600) << c.name;
        EXPECT_EQ(perId[0x18FEE900u], 60) << c.name;
    }
}

TEST_F(TCliRunnerTest, NoPeerFailsTheRunSayingHowManyFramesWereNotDelivered)
{
    const std::string channel = "Simulation SOC 127.0.0.1 " + std::to_string(commtest::FreePort()) + " "
                                + std::to_string(commtest::FreePort()) + " 1";
    EXPECT_EQ(Run({"--fast", "--duration", "60", "--channel", channel.c_str(), "--drain", "0.2"}),
              TCliRunner::ExitFailed);
    // The address claim and 11478 frames of the schedule.
    EXPECT_NE(err_.find("CAN error: Frames could not be delivered: 11479 frames written to the CAN channel could "
                        "not be delivered"),
              std::string::npos)
        << err_;
    EXPECT_NE(err_.find("after 0.2 s (11479 frames were written)"), std::string::npos) << err_;
}

TEST_F(TCliRunnerTest, ChannelThreadErrorsAndCutRecordsFailTheRun)
{
    // A read name that is a directory ends the receive thread. Half a second of real time
    // lets the thread, which looks at once, run however busy the machine.
    std::filesystem::create_directory(dir_ / "in");
    const std::string dead = "Simulation HDD " + Path("loop").str() + " " + Path("in").str();
    EXPECT_EQ(Run({"--duration", "0.5", "--channel", dead.c_str(), "--drain", "0"}), TCliRunner::ExitFailed);
    EXPECT_NE(err_.find("Modul: TCommHDD::Receive: Message: unknown-Fatal-Error: HDD read file '" + Path("in").str()
                        + "' is a directory"),
              std::string::npos)
        << err_;

    // Another program's drop of 10 bytes waits on the channel's own file loop: the frames
    // go round, the 10 bytes are dropped and told.
    const std::string loop = Path("loop").str();
    {
        std::FILE* drop = std::fopen(loop.c_str(), "wb");
        ASSERT_NE(drop, nullptr);
        std::fwrite("0123456789", 1, 10, drop);
        std::fclose(drop);
    }
    const std::string looped = "Simulation HDD " + loop + " " + loop;
    EXPECT_EQ(Run({"--duration", "0.5", "--channel", looped.c_str()}), TCliRunner::ExitFailed);
    EXPECT_NE(err_.find("Message: FrameError: HDD " + loop + " " + loop + ": HDD drop '" + loop
                        + "' ended 10 bytes into a 24-byte record; those bytes were dropped"),
              std::string::npos)
        << err_;
    EXPECT_EQ(err_.find("not be delivered"), std::string::npos) << err_;
}

// A read name that is a FIFO nobody writes to: the run delivers its frames and ends; a
// run that hangs on the FIFO is a failure, and a writer then comes to release it.
TEST_F(TCliRunnerTest, ReadNameThatIsAFifoWithoutAWriterDoesNotHoldUpTheEnd)
{
    const std::string fifo = Path("from_peer").str();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto peer = TACommunication::New("HDD " + Path("unused") + " " + Path("to_peer"), 24);
    const std::string channel = "Simulation HDD " + Path("to_peer").str() + " " + fifo;
    std::atomic<bool> ended{false};
    int status = -1;
    std::thread run([&] {
        status = Run({"--fast", "--duration", "1", "--channel", channel.c_str()});
        ended = true;
    });
    if (!commtest::Eventually([&] { return ended.load(); }, std::chrono::seconds(120))) {
        ADD_FAILURE() << "the run hangs on the FIFO";
        while (!ended) {
            const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0) ::close(writer);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    run.join();
    EXPECT_EQ(status, TCliRunner::ExitOk) << err_;
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
}

}  // namespace
