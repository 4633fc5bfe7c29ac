// The runner with logs in the formats users already have: files written by python-can
// (ASCWriter, CanutilsLogWriter) replayed frame for frame, and the runner's ASC and
// candump output read by python-can's readers with every frame, identifier, data
// byte and time as sent.
#include "app/cli/tclirunner.h"
#include "clirunfixture.h"

#include "app/tcanlogreader.h"
#include "app/tlogout.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr const char* kPython = "/usr/bin/python3";

// The frames python-can writes: four 29-bit data frames the replay takes (one of them
// sent, "Tx"), and a standard, a remote and an error frame it passes over.
constexpr const char* kWriteScript = R"(
import sys
import can
t0 = 1700000000.0
messages = [
    can.Message(timestamp=t0, arbitration_id=0x18FEF100, is_extended_id=True,
                data=[0xF3, 0x15, 0x00, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF]),
    can.Message(timestamp=t0 + 0.010, arbitration_id=0x0CF00400, is_extended_id=True,
                data=[0xF0, 0x7D, 0x7D, 0x00, 0x00, 0x00, 0xF0, 0x7D]),
    can.Message(timestamp=t0 + 0.020, arbitration_id=0x123, is_extended_id=False, data=[1, 2]),
    can.Message(timestamp=t0 + 0.030, arbitration_id=0x18FEE900, is_extended_id=True, is_remote_frame=True, dlc=8),
    can.Message(timestamp=t0 + 0.040, is_error_frame=True),
    can.Message(timestamp=t0 + 0.050, arbitration_id=0x18FEC1EE, is_extended_id=True, is_rx=False,
                data=[0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08]),
    can.Message(timestamp=t0 + 0.100, arbitration_id=0x1FFFFFFF, is_extended_id=True,
                data=[0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF]),
]
writer = can.ASCWriter(sys.argv[1]) if sys.argv[2] == "asc" else can.CanutilsLogWriter(sys.argv[1])
for m in messages:
    writer.on_message_received(m)
writer.stop()
)";

// Every message python-can reads: time, identifier, extended, length, data.
constexpr const char* kReadScript = R"(
import sys
import can
reader = can.ASCReader(sys.argv[1]) if sys.argv[2] == "asc" else can.CanutilsLogReader(sys.argv[1])
for m in reader:
    print("%.6f %08X %d %d %s" % (m.timestamp, m.arbitration_id, m.is_extended_id, m.dlc, m.data.hex().upper()))
if sys.argv[2] == "asc":
    # The header's date must be one python-can understands: absolute times start there.
    print("absolute", sum(1 for m in can.ASCReader(sys.argv[1], relative_timestamp=False) if m.timestamp > 1e9))
)";

// Every message python-can reads with its direction and channel.
constexpr const char* kDirectionScript = R"(
import sys
import can
reader = can.ASCReader(sys.argv[1]) if sys.argv[2] == "asc" else can.CanutilsLogReader(sys.argv[1])
for m in reader:
    print("%.6f %08X %s %s %s" % (m.timestamp, m.arbitration_id, "rx" if m.is_rx else "tx", m.channel,
                                  m.data.hex().upper()))
)";

// The frames the replay takes from the files python-can writes, as the output log has them.
constexpr const char* kReplayed = "000.0000 18FEF100F315000CFFFFFFFF\r\n"
                                  "000.0100 0CF00400F07D7D000000F07D\r\n"
                                  "000.0500 18FEC1EE0102030405060708\r\n"
                                  "000.1000 1FFFFFFF00FF00FF00FF00FF\r\n";

class TCliRunnerLogFormats : public clitest::TCliRunFixture {
protected:
    // The script run by the system's Python, isolated (-I) and from the root folder so
    // that the source tree's can/ folder cannot shadow the package; its output.
    std::string Python(const char* script, const std::string& args, int& status) const
    {
        const std::string file = Path("script.py");
        Write(file, script);
        const std::string command = std::string("cd / && ") + kPython + " -I '" + file + "' " + args + " 2>&1";
        std::FILE* pipe = popen(command.c_str(), "r");
        if (!pipe) {
            status = -1;
            return "";
        }
        std::string text;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) text.append(buf, n);
        status = pclose(pipe);
        return text;
    }
};

#define QV_NEED_PYTHON()                                                                                        \
    if (::access(kPython, X_OK) != 0)                                                                          \
    GTEST_SKIP() << kPython << " is missing: the round trips through python-can need it (tools/setup.sh "        \
                               "installs python3-can)"

TEST_F(TCliRunnerLogFormats, FilesWrittenByPythonCanReplayFrameForFrame)
{
    QV_NEED_PYTHON();
    const struct {
        const char* kind;
        const char* file;
        const char* summary;
    } cases[] = {
        {"asc", "python.asc",
         ": 4 frames (ASC); 9 lines skipped: 5 header and comment lines, 1 standard (11-bit) frame, 1 remote frame, "
         "1 error frame, 1 event line\n"},
        // Epoch times: a candump log plays from its first frame.
        {"candump", "python.log",
         ": 4 frames (candump); 3 lines skipped: 1 standard (11-bit) frame, 1 remote frame, 1 error frame\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const std::string in = Path(c.file);
        const std::string out = Path("out.asc");
        fs::remove(out);
        int status = 0;
        const std::string written = Python(kWriteScript, "'" + in + "' " + c.kind, status);
        ASSERT_EQ(status, 0) << written << "(python-can missing? apt-get install python3-can)";
        ASSERT_EQ(Run({"--fast", "--source", "log", in, "--log-out", out}), 0) << err_;
        EXPECT_EQ(err_, "");
        EXPECT_NE(out_.find("log: " + in + c.summary), std::string::npos) << out_;
        EXPECT_EQ(Read(out), kReplayed);
    }
}

TEST_F(TCliRunnerLogFormats, AscAndCandumpOutputReadsInPythonCanAsSent)
{
    QV_NEED_PYTHON();
    const std::string in = Path("in.asc");
    Write(in, kReplayed);
    const char* const frames = "0.000000 18FEF100 1 8 F315000CFFFFFFFF\n"
                               "0.010000 0CF00400 1 8 F07D7D000000F07D\n"
                               "0.050000 18FEC1EE 1 8 0102030405060708\n"
                               "0.100000 1FFFFFFF 1 8 00FF00FF00FF00FF\n";
    const struct {
        const char* format;
        const char* file;
        const char* reader;
        std::string expected;
    } cases[] = {
        {"asc", "out.asc", "asc", std::string(frames) + "absolute 4\n"},
        {"candump", "out.log", "candump", frames},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        const std::string out = Path(c.file);
        ASSERT_EQ(Run({"--fast", "--source", "log", in, "--log-out", out, "--log-format", c.format}), 0) << err_;
        int status = 0;
        EXPECT_EQ(Python(kReadScript, "'" + out + "' " + c.reader, status), c.expected);
        EXPECT_EQ(status, 0);
    }
}

// An output log with received frames: the program's reader takes the received lines as
// frames like the sent ones (a recording of a bus is all "Rx"), python-can reads them as
// received: "Rx" in ASC; in a candump log, which has no direction, on their own
// interface can0rx.
TEST_F(TCliRunnerLogFormats, ReceivedFramesReadBackAsReceived)
{
    const TCanFrame sent(0x18FEF100, {0xF3, 0x15, 0x00, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF}, 8, 10000);
    const TCanFrame request(0x18EA0021, {0xE5, 0xFE, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 8, 12000);
    const TCanFrame answer(0x18FEE500, {0x10, 0x27, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}, 8, 12000);
    const struct {
        TLogOutFormat format;
        const char* file;
        const char* reader;
        const char* expected;
    } cases[] = {
        {TLogOutFormat::Asc, "rx.asc", "asc",
         "0.010000 18FEF100 tx 0 F315000CFFFFFFFF\n"
         "0.012000 18EA0021 rx 0 E5FE00FFFFFFFFFF\n"
         "0.012000 18FEE500 tx 0 10270000FFFFFFFF\n"},
        // candump carries no direction: python-can calls every frame received.
        {TLogOutFormat::Candump, "rx.log", "candump",
         "0.010000 18FEF100 rx can0 F315000CFFFFFFFF\n"
         "0.012000 18EA0021 rx can0rx E5FE00FFFFFFFFFF\n"
         "0.012000 18FEE500 rx can0 10270000FFFFFFFF\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = Path(c.file);
        TLogOut out;
        out.SetFormat(c.format);
        ASSERT_TRUE(out.Open(path));
        ASSERT_TRUE(out.Append(sent));
        ASSERT_TRUE(out.Append(request, TLogDirection::Received));
        ASSERT_TRUE(out.Append(answer));
        ASSERT_TRUE(out.Close());

        const TCanLog log = TCanLogReader::Load(path);
        ASSERT_EQ(log.Count(), 3);
        const TCanFrame* expected[] = {&sent, &request, &answer};
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(log.Frames[i].Id, expected[i]->Id);
            EXPECT_EQ(log.Frames[i].Data, expected[i]->Data);
            EXPECT_EQ(log.Frames[i].Time, expected[i]->Time);
        }
        if (::access(kPython, X_OK) != 0) continue;
        int status = 0;
        EXPECT_EQ(Python(kDirectionScript, "'" + path + "' " + c.reader, status), c.expected);
        EXPECT_EQ(status, 0);
    }
    if (::access(kPython, X_OK) != 0) GTEST_SKIP() << kPython << " is missing: python-can's part was not run";
}

// Without Python: the formats' first lines, and a log from a long recording played
// from its first frame.
TEST_F(TCliRunnerLogFormats, OutputFormatAndStartAtFirstFrame)
{
    const std::string late = Path("late.asc");
    Write(late, "100.0000 18FEF100F315000CFFFFFFFF\n100.0100 18F00300FFFAFFFFFFFFFFFF\n");
    const std::string out = Path("out.log");
    ASSERT_EQ(Run({"--fast", "--source", "log", late, "--from-first-frame", "--log-out", out, "--log-format",
                   "candump"}),
              0)
        << err_;
    EXPECT_EQ(Read(out), "(0000000000.000000) can0 18FEF100#F315000CFFFFFFFF\n"
                            "(0000000000.010000) can0 18F00300#FFFAFFFFFFFFFFFF\n");
    EXPECT_NE(out_.find("log: " + late + ": 2 frames (layout 4/5)\n"), std::string::npos) << out_;

    const std::string asc = Path("out.asc");
    ASSERT_EQ(Run({"--fast", "--source", "log", out, "--log-out", asc, "--log-format", "asc"}), 0) << err_;
    const std::string text = Read(asc);
    EXPECT_EQ(text.find("date "), 0u);
    EXPECT_NE(text.find("\r\nbase hex  timestamps absolute\r\nno internal events logged\r\nBegin Triggerblock "),
              std::string::npos);
    EXPECT_NE(text.find("\r\n   0.000000 1  18FEF100x       Tx   d 8 F3 15 00 0C FF FF FF FF\r\n"
                        "   0.010000 1  18F00300x       Tx   d 8 FF FA FF FF FF FF FF FF\r\nEnd TriggerBlock\r\n"),
              std::string::npos)
        << text;

    // A refused line fails the run with the line and the reason.
    const std::string fd = Path("fd.log");
    Write(fd, "(1.0) can0 18FEF100#F315000CFFFFFFFF\n(1.5) can0 18FEF100##1F315000CFFFFFFFF\n");
    EXPECT_EQ(Run({"--fast", "--source", "log", fd}), TCliRunner::ExitFailed);
    EXPECT_NE(err_.find("Log file error: Reading CAN log entry failed: " + fd + " line 2: "
                        "'(1.5) can0 18FEF100##1F315000CFFFFFFFF': a CAN FD frame cannot be replayed"),
              std::string::npos)
        << err_;
}

// A stop signal (the runner's stop holds its number) ends a load however long the log,
// and the run ends as one cut short by that signal.
TEST_F(TCliRunnerLogFormats, StopFlagEndsTheLoadOfALog)
{
    const std::string log = Path("log.asc");
    Write(log, "000.0000 18FEF100F315000CFFFFFFFF\n");
    const TCliParse parsed = ParseCommandLine({"--fast", "--source", "log", log});
    ASSERT_EQ(parsed.Error, "");
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const std::atomic<int> stop{SIGTERM};
    EXPECT_EQ(TCliRunner(parsed.Options, out, err).Run(stop), TCliRunner::ExitSignalBase + SIGTERM);
    clitest::Slurp(out);
    EXPECT_NE(clitest::Slurp(err).find(log + ": loading stopped before the end of the file"), std::string::npos);
}

}  // namespace
