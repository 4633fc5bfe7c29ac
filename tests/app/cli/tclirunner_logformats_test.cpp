// The runner with logs in the formats users already have: files written by python-can
// (ASCWriter, CanutilsLogWriter) replayed frame for frame, and the runner's ASC and
// candump output read by python-can's readers and converted by can-utils (log2asc,
// asc2log) with every frame's identifier and its kind, length, data, direction and
// time as sent.
#include "app/cli/tclirunner.h"
#include "clirunfixture.h"

#include "logs/tcanlogreader.h"
#include "logs/tlogout.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr const char* kPython = "/usr/bin/python3";

// The frames python-can writes: four 29-bit data frames (one of them sent, "Tx") and an
// 11-bit one of 2 bytes the replay takes, and a remote and an error frame it passes over.
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

// Every message python-can reads with its direction and channel; times less argv[3]
// (a candump log's epoch start) so that they print exactly.
constexpr const char* kDirectionScript = R"(
import sys
import can
reader = can.ASCReader(sys.argv[1]) if sys.argv[2] == "asc" else can.CanutilsLogReader(sys.argv[1])
base = float(sys.argv[3]) if len(sys.argv) > 3 else 0.0
for m in reader:
    print("%.6f %X %d %d %s %s %s" % (m.timestamp - base, m.arbitration_id, m.is_extended_id, m.dlc,
                                      "rx" if m.is_rx else "tx", m.channel, m.data.hex().upper()))
)";

// The frames python-can writes for the round trips: a J1939 request of 3 bytes received,
// an answer sent, 11-bit and empty frames, each direction.
constexpr const char* kShortFramesScript = R"(
import sys
import can
t0 = 1700000000.0
messages = [
    can.Message(timestamp=t0 + 0.001, arbitration_id=0x18EA00F9, is_extended_id=True, is_rx=True, data=[0xE5, 0xFE, 0x00]),
    can.Message(timestamp=t0 + 0.002, arbitration_id=0x18FEE500, is_extended_id=True, is_rx=False,
                data=[0x10, 0x27, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF]),
    can.Message(timestamp=t0 + 0.0035, arbitration_id=0x123, is_extended_id=False, is_rx=False, data=[0xAA, 0xBB]),
    can.Message(timestamp=t0 + 0.004, arbitration_id=0x7FF, is_extended_id=False, is_rx=True, data=[]),
    can.Message(timestamp=t0 + 0.005, arbitration_id=0x5, is_extended_id=True, is_rx=False, data=[0x01]),
]
writer = can.ASCWriter(sys.argv[1]) if sys.argv[2] == "asc" else can.CanutilsLogWriter(sys.argv[1])
for m in messages:
    writer.on_message_received(m)
writer.stop()
)";

// The 29-bit frames of 8 bytes the replay takes from the files python-can writes, as a
// layout-5 output log has them.
constexpr const char* kReplayed = "000.0000 18FEF100F315000CFFFFFFFF\r\n"
                                  "000.0100 0CF00400F07D7D000000F07D\r\n"
                                  "000.0500 18FEC1EE0102030405060708\r\n"
                                  "000.1000 1FFFFFFF00FF00FF00FF00FF\r\n";

// Frames as the bus carries them, with the direction they were logged in.
struct TLogged {
    TCanFrame Frame;
    TLogDirection Direction;
};
const TLogged kShortFrames[] = {
    {TCanFrame(0x18EA00F9, {0xE5, 0xFE, 0x00}, 3, 1000), TLogDirection::Received},
    {TCanFrame(0x18FEE500, {0x10, 0x27, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}, 8, 2000), TLogDirection::Sent},
    {TCanFrame(0x123, {0xAA, 0xBB}, 2, 3500, false), TLogDirection::Sent},
    {TCanFrame(0x7FF, {}, 0, 4000, false), TLogDirection::Received},
    {TCanFrame(0x5, {0x01}, 1, 5000), TLogDirection::Sent},
};
// The same as python-can reads them (kDirectionScript), times from the first.
constexpr const char* kShortFramesRead = "0.001000 18EA00F9 1 3 rx %s E5FE00\n"
                                         "0.002000 18FEE500 1 8 tx %s 10270000FFFFFFFF\n"
                                         "0.003500 123 0 2 tx %s AABB\n"
                                         "0.004000 7FF 0 0 rx %s \n"
                                         "0.005000 5 1 1 tx %s 01\n";

std::string Filled(const char* pattern, const char* channel)
{
    std::string text;
    for (const char* p = pattern; *p; ++p) {
        if (p[0] == '%' && p[1] == 's') {
            text += channel;
            ++p;
        } else {
            text += *p;
        }
    }
    return text;
}

class TCliRunnerLogFormats : public clitest::TCliRunFixture {
protected:
    static int64_t Epoch()
    {
        return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
    static std::string Six(int64_t micros)
    {
        char text[16];
        std::snprintf(text, sizeof text, "%06lld", static_cast<long long>(micros));
        return text;
    }
    // What a shell command printed, with its exit status.
    static std::string Capture(const std::string& command, int& status)
    {
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
    // A tool's output with its exit status.
    static std::string Shell(const std::string& command, int& status) { return Capture(command + " 2>/dev/null", status); }
    // The script run by the system's Python, isolated (-I) and from the root folder so
    // that the source tree's can/ folder cannot shadow the package; its output.
    std::string Python(const char* script, const std::string& args, int& status) const
    {
        const std::string file = Path("script.py");
        Write(file, script);
        return Capture(std::string("cd / && ") + kPython + " -I '" + file + "' " + args + " 2>&1", status);
    }
};

#define QV_NEED_PYTHON()                                                                                        \
    if (::access(kPython, X_OK) != 0)                                                                          \
    GTEST_SKIP() << kPython << " is missing: the round trips through python-can need it (tools/setup.sh "        \
                               "installs python3-can)"

constexpr const char* kLog2Asc = "/usr/bin/log2asc";
constexpr const char* kAsc2Log = "/usr/bin/asc2log";
#define QV_NEED_CAN_UTILS()                                                                                     \
    if (::access(kLog2Asc, X_OK) != 0 || ::access(kAsc2Log, X_OK) != 0)                                        \
    GTEST_SKIP() << "log2asc or asc2log is missing: the round trips through can-utils need them (tools/setup.sh " \
                    "installs can-utils)"

TEST_F(TCliRunnerLogFormats, FilesWrittenByPythonCanReplayFrameForFrame)
{
    QV_NEED_PYTHON();
    const struct {
        const char* kind;
        const char* file;
        const char* summary;
    } cases[] = {
        {"asc", "python.asc",
         ": 5 frames (ASC) on channel 1; 8 lines skipped: 5 header and comment lines, 1 remote frame, 1 error frame, "
         "1 event line\n"},
        // Epoch times: a candump log plays from its first frame.
        {"candump", "python.log", ": 5 frames (candump) on interface vcan0; 2 lines skipped: 1 remote frame, 1 error frame\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind);
        const std::string in = Path(c.file);
        int status = 0;
        const std::string written = Python(kWriteScript, "'" + in + "' " + c.kind, status);
        ASSERT_EQ(status, 0) << written << "(python-can missing? apt-get install python3-can)";
        const TCanLog log = TCanLogReader::Load(in);
        ASSERT_EQ(log.Count(), 5);
        EXPECT_EQ(log.Frames[2].ToFrame(), TCanFrame(0x123, {1, 2}, 2, log.Frames[0].Time + 20000, false));

        // Layout 5 cannot hold the 11-bit frame: refused before the run, nothing written.
        const std::string l5 = Path("out.l5");
        EXPECT_EQ(Run({"--fast", "--source", "log", in, "--log-out", l5}), TCliRunner::ExitFailed);
        EXPECT_NE(err_.find("quorvella-cli: Log file error: Opening the output log failed: '" + l5 +
                            "': layout 5 cannot hold the log's frame 0x123 (11-bit identifier) with 2 data bytes at "
                            "line "),
                  std::string::npos)
            << err_;
        EXPECT_NE(err_.find(": use --log-format asc or candump, or a name ending in .asc or .log"), std::string::npos);
        EXPECT_FALSE(fs::exists(l5));

        // Into an ASC log, named so: every frame.
        ASSERT_EQ(Run({"--fast", "--source", "log", in, "--log-out", Path("out.asc")}), 0) << err_;
        EXPECT_EQ(err_, "");
        EXPECT_NE(out_.find("log: " + in + c.summary), std::string::npos) << out_;
        const TCanLog out = TCanLogReader::Load(Path("out.asc"));
        ASSERT_EQ(out.Count(), 5);
        const TCanLog expected = TCanLogReader::Parse(kReplayed);
        for (std::size_t i = 0, k = 0; i < 5; ++i) {
            SCOPED_TRACE(i);
            // As the bus carried it: identifier and its kind, length and data.
            EXPECT_EQ(out.Frames[i].Id, log.Frames[i].Id);
            EXPECT_EQ(out.Frames[i].Extended, log.Frames[i].Extended);
            EXPECT_EQ(out.Frames[i].Dlc, log.Frames[i].Dlc);
            EXPECT_EQ(out.Frames[i].Data, log.Frames[i].Data);
            if (out.Frames[i].Id != 0x123) {
                EXPECT_EQ(out.Frames[i].ToFrame(), expected.Frames[k++].ToFrame());
            }
        }
    }
}

// Frames python-can writes in either format, as the bus carried them, are read with
// their identifier kind, length, data and time.
TEST_F(TCliRunnerLogFormats, ShortFramesWrittenByPythonCanReadAsWritten)
{
    QV_NEED_PYTHON();
    for (const char* kind : {"asc", "candump"}) {
        SCOPED_TRACE(kind);
        const std::string in = Path(std::string("short.") + (kind[0] == 'a' ? "asc" : "log"));
        int status = 0;
        const std::string written = Python(kShortFramesScript, "'" + in + "' " + kind, status);
        ASSERT_EQ(status, 0) << written;
        const TCanLog log = TCanLogReader::Load(in);
        ASSERT_EQ(log.Count(), 5);
        // ASC counts from the first frame; candump keeps the epoch.
        const int64_t base = kind[0] == 'a' ? -1000 : 1700000000000000;
        for (std::size_t i = 0; i < 5; ++i) {
            SCOPED_TRACE(i);
            TCanFrame expected = kShortFrames[i].Frame;
            expected.Time += base;
            EXPECT_EQ(log.Frames[i].ToFrame(), expected);
        }
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
    // Every frame sent: "Tx", "T".
    const char* const sent = "0.000000 18FEF100 1 8 tx %s F315000CFFFFFFFF\n"
                             "0.010000 CF00400 1 8 tx %s F07D7D000000F07D\n"
                             "0.050000 18FEC1EE 1 8 tx %s 0102030405060708\n"
                             "0.100000 1FFFFFFF 1 8 tx %s 00FF00FF00FF00FF\n";
    const struct {
        const char* format;
        const char* file;
        const char* reader;
        std::string expected;
    } cases[] = {
        {"asc", "out.asc", "asc", std::string(frames) + "absolute 4\n"},
        {"candump", "out.log", "candump", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.format);
        const std::string out = Path(c.file);
        const int64_t before = Epoch();
        ASSERT_EQ(Run({"--fast", "--source", "log", in, "--log-out", out, "--log-format", c.format}), 0) << err_;
        const int64_t after = Epoch();
        int status = 0;
        if (c.format[0] == 'a') {
            EXPECT_EQ(Python(kReadScript, "'" + out + "' " + c.reader, status), c.expected);
            EXPECT_EQ(status, 0);
            EXPECT_EQ(Python(kDirectionScript, "'" + out + "' asc", status), Filled(sent, "0"));
            continue;
        }
        // candump: seconds since the epoch, from the wall clock at the start.
        const TCanLog log = TCanLogReader::Load(out);
        ASSERT_EQ(log.Count(), 4);
        const int64_t start = log.Frames[0].Time;
        EXPECT_GE(start, before);
        EXPECT_LE(start, after);
        const std::string base = std::to_string(start / 1000000) + "." + Six(start % 1000000);
        EXPECT_EQ(Python(kDirectionScript, "'" + out + "' candump " + base, status), Filled(sent, "can0"));
        EXPECT_EQ(status, 0);
    }
}

// An output log with received frames: the program's reader takes the received lines as
// frames like the sent ones (a recording of a bus is all "Rx"), python-can reads them as
// received and the others as sent: "Rx" and "Tx" in ASC, "R" and "T" in a candump log.
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
         "0.010000 18FEF100 1 8 tx 0 F315000CFFFFFFFF\n"
         "0.012000 18EA0021 1 8 rx 0 E5FE00FFFFFFFFFF\n"
         "0.012000 18FEE500 1 8 tx 0 10270000FFFFFFFF\n"},
        {TLogOutFormat::Candump, "rx.log", "candump 1700000000",
         "0.010000 18FEF100 1 8 tx can0 F315000CFFFFFFFF\n"
         "0.012000 18EA0021 1 8 rx can0 E5FE00FFFFFFFFFF\n"
         "0.012000 18FEE500 1 8 tx can0 10270000FFFFFFFF\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = Path(c.file);
        TLogOut out;
        out.SetFormat(c.format);
        ASSERT_TRUE(out.Open(path));
        out.StartRun(1700000000000000);
        ASSERT_TRUE(out.Append(sent));
        ASSERT_TRUE(out.Append(request, TLogDirection::Received));
        ASSERT_TRUE(out.Append(answer));
        ASSERT_TRUE(out.Close());

        const TCanLog log = TCanLogReader::Load(path);
        ASSERT_EQ(log.Count(), 3);
        const TCanFrame* expected[] = {&sent, &request, &answer};
        const int64_t base = c.format == TLogOutFormat::Candump ? 1700000000000000 : 0;
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(log.Frames[i].Id, expected[i]->Id);
            EXPECT_EQ(log.Frames[i].Data, expected[i]->Data);
            EXPECT_EQ(log.Frames[i].Time, expected[i]->Time + base);
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
    const int64_t before = Epoch();
    ASSERT_EQ(Run({"--fast", "--source", "log", late, "--from-first-frame", "--log-out", out}), 0) << err_;
    const int64_t after = Epoch();
    // The wall clock at the start, then 10 ms later.
    const std::string dump = Read(out);
    ASSERT_EQ(dump.size(), 2 * 53u) << dump;
    const int64_t start = std::stoll(dump.substr(1, 10)) * 1000000 + std::stoll(dump.substr(12, 6));
    EXPECT_GE(start, before);
    EXPECT_LE(start, after);
    const int64_t next = start + 10000;
    EXPECT_EQ(dump, "(" + std::to_string(start / 1000000) + "." + Six(start % 1000000) +
                        ") can0 18FEF100#F315000CFFFFFFFF T\n(" + std::to_string(next / 1000000) + "." +
                        Six(next % 1000000) + ") can0 18F00300#FFFAFFFFFFFFFFFF T\n");
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

    // A CAN FD frame is passed over and counted; a line that cannot be read fails the run
    // with the line and the reason.
    const std::string fd = Path("fd.log");
    Write(fd, "(1.0) can0 18FEF100#F315000CFFFFFFFF\n(1.5) can0 18FEF100##1F315000CFFFFFFFF\n");
    EXPECT_EQ(Run({"--fast", "--source", "log", fd}), 0) << err_;
    EXPECT_NE(out_.find("log: " + fd + ": 1 frame (candump) on interface can0; 1 line skipped: 1 CAN FD frame\n"),
              std::string::npos)
        << out_;
    const std::string bad = Path("bad.log");
    Write(bad, "(1.0) can0 18FEF100#F315000CFFFFFFFF\n(1.5) can0 18FEF100#F315000CFFFFFFFF0\n");
    EXPECT_EQ(Run({"--fast", "--source", "log", bad}), TCliRunner::ExitFailed);
    EXPECT_NE(err_.find("Log file error: Reading CAN log entry failed: " + bad + " line 2: "
                        "'(1.5) can0 18FEF100#F315000CFFFFFFFF0': data 'F315000CFFFFFFFF0' is not 0 to 8 bytes"),
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


// The output log through the tools users convert logs with: can-utils' log2asc turns
// the candump log into ASC and asc2log the ASC log into candump; python-can and the
// program's own reader read the results with every frame's identifier kind, length,
// data, direction and time as written.
TEST_F(TCliRunnerLogFormats, OutputRoundTripsThroughCanUtilsAndPythonCan)
{
    QV_NEED_CAN_UTILS();
    const auto write = [&](TLogOutFormat format, const std::string& path) {
        TLogOut out;
        out.SetFormat(format);
        EXPECT_TRUE(out.Open(path, TLogOut::omReplace));
        out.StartRun(1700000000000000);
        for (const TLogged& f : kShortFrames) EXPECT_TRUE(out.Append(f.Frame, f.Direction));
        EXPECT_TRUE(out.Close());
    };
    // Directions as the converted files have them: log2asc and asc2log carry them.
    const auto expectFrames = [&](const std::string& path, int64_t base) {
        const TCanLog log = TCanLogReader::Load(path);
        ASSERT_EQ(log.Count(), 5) << Read(path);
        for (std::size_t i = 0; i < 5; ++i) {
            SCOPED_TRACE(i);
            TCanFrame expected = kShortFrames[i].Frame;
            expected.Time += base;
            EXPECT_EQ(log.Frames[i].ToFrame(), expected);
        }
    };
    int status = 0;

    // candump -> log2asc -> ASC: times from the first frame (the start of the ASC file).
    const std::string log = Path("out.log");
    write(TLogOutFormat::Candump, log);
    const std::string asc = Path("converted.asc");
    const std::string said = Shell(std::string(kLog2Asc) + " -I '" + log + "' -O '" + asc + "' can0", status);
    ASSERT_EQ(status, 0) << said;
    expectFrames(asc, -kShortFrames[0].Frame.Time);
    const std::string ascText = Read(asc);
    EXPECT_NE(ascText.find(" 1  18EA00F9x       Rx   d 3 E5 FE 00"), std::string::npos) << ascText;
    EXPECT_NE(ascText.find(" 1  123             Tx   d 2 AA BB"), std::string::npos) << ascText;

    // ASC -> asc2log -> candump: the times after the start kept (asc2log takes the start
    // from the header's date where it can read it, else from its own clock).
    const std::string ascOut = Path("out.asc");
    write(TLogOutFormat::Asc, ascOut);
    const std::string converted = Path("converted.log");
    Shell(std::string(kAsc2Log) + " -I '" + ascOut + "' -O '" + converted + "'", status);
    ASSERT_EQ(status, 0);
    const TCanLog back = TCanLogReader::Load(converted);
    ASSERT_EQ(back.Count(), 5) << Read(converted);
    const int64_t start = back.Frames[0].Time - kShortFrames[0].Frame.Time;
    expectFrames(converted, start);
    const std::string logText = Read(converted);
    EXPECT_NE(logText.find(" can0 18EA00F9#E5FE00 R\n"), std::string::npos) << logText;
    EXPECT_NE(logText.find(" can0 123#AABB T\n"), std::string::npos) << logText;

    if (::access(kPython, X_OK) != 0) GTEST_SKIP() << kPython << " is missing: python-can's part was not run";
    // python-can reads the converted files as the program wrote them.
    EXPECT_EQ(Python(kDirectionScript, "'" + asc + "' asc -0.001", status), Filled(kShortFramesRead, "0"));
    const std::string base = std::to_string(start / 1000000) + "." + Six(start % 1000000);
    EXPECT_EQ(Python(kDirectionScript, "'" + converted + "' candump " + base, status), Filled(kShortFramesRead, "can0"));
    // ... and the program's own output in both formats.
    EXPECT_EQ(Python(kDirectionScript, "'" + ascOut + "' asc", status), Filled(kShortFramesRead, "0"));
    EXPECT_EQ(Python(kDirectionScript, "'" + log + "' candump 1700000000", status), Filled(kShortFramesRead, "can0"));
}

// --replay-channels replays the channels or interfaces named, the load's summary says
// which of how many; a name the log does not hold is a usage error naming those it holds.
TEST_F(TCliRunnerLogFormats, ReplayChannelsChoosesWhatIsReplayed)
{
    const std::string four = std::string(QV_TEST_DATA_DIR) + "/logs/four_channels.asc";
    const std::string two = std::string(QV_TEST_DATA_DIR) + "/logs/two_interfaces.log";
    const struct {
        std::vector<std::string> args;
        int status;
        std::string out;   // in standard output
        std::vector<std::string> log;   // the frames of the output log, in order (their times are the engine's)
        std::string err;   // in standard error
    } cases[] = {
        {{"--source", "log", four, "--replay-channels", "1,2,3"}, 0,
         "log: " + four + ": 7 frames (ASC) from 3 of 4 channels merged into one replay: 1 (2 frames), 2 (3 frames), "
                          "3 (2 frames), 4 (2 frames, not replayed); 5 lines skipped: 5 header and comment lines\n",
         {"0CF00400 0300000000000000", "18FEF100 0100000000000000", "18FEF100 0200000000000000",
          "18FEF100 0201000000000000", "18FEF100 0101000000000000", "0CF00400 0301000000000000",
          "18FEF100 0202000000000000"},
         ""},
        {{"--source", "log", four, "--replay-channels", "3"}, 0,
         "log: " + four + ": 2 frames (ASC) from channel 3 of 4: 1 (2 frames, not replayed), 2 (3 frames, not "
                          "replayed), 3 (2 frames), 4 (2 frames, not replayed); 5 lines skipped",
         {"0CF00400 0300000000000000", "0CF00400 0301000000000000"}, ""},
        {{"--source", "log", two, "--replay-channels", "can0", "--from-first-frame"}, TCliRunner::ExitFailed,
         "log: " + two + ": 3 frames (candump) from interface can0 of 2: can0 (3 frames), can1 (3 frames, not replayed)",
         {}, "'%OUT%': layout 5 cannot hold the log's frame 0x18EA00F9 with 3 data bytes at line 3"},
        {{"--source", "log", four, "--replay-channels", "1,5"}, TCliRunner::ExitUsage, "", {},
         "--replay-channels: " + four + ": no channel '5' (the log holds 1, 2, 3, 4)"},
        {{"--source", "log", two, "--replay-channels", "can2"}, TCliRunner::ExitUsage, "", {},
         "--replay-channels: " + two + ": no interface 'can2' (the log holds can0, can1)"},
        // Layout 5 cannot hold what channel 4 carries: refused before the run.
        {{"--source", "log", four, "--replay-channels", "2,4"}, TCliRunner::ExitFailed, "", {},
         "Opening the output log failed: '%OUT%': layout 5 cannot hold the log's frame 0x123 (11-bit identifier) with "
         "1 data byte at line 8 (it holds only 29-bit frames of 8 bytes): use --log-format asc or candump, or a name "
         "ending in .asc or .log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[4]);
        const std::string out = Path("out.l5");
        fs::remove(out);
        std::vector<std::string> words = {"--fast"};
        words.insert(words.end(), c.args.begin(), c.args.end());
        words.insert(words.end(), {"--log-out", out});
        EXPECT_EQ(Run(words), c.status) << err_;
        EXPECT_NE(out_.find(c.out), std::string::npos) << out_;
        std::string err = c.err;
        if (const std::size_t at = err.find("%OUT%"); at != std::string::npos) err.replace(at, 5, out);
        if (err.empty()) {
            EXPECT_EQ(err_, "");
        } else {
            EXPECT_NE(err_.find(err), std::string::npos) << err_;
        }
        if (c.status != 0) {
            EXPECT_FALSE(fs::exists(out));
            continue;
        }
        std::vector<std::string> frames;
        char text[40];
        for (const TLogFrame& f : TCanLogReader::Load(out).Frames) {
            std::snprintf(text, sizeof text, "%08X %02X%02X%02X%02X%02X%02X%02X%02X", static_cast<unsigned>(f.Id), f.Data[0],
                          f.Data[1], f.Data[2], f.Data[3], f.Data[4], f.Data[5], f.Data[6], f.Data[7]);
            frames.push_back(text);
        }
        EXPECT_EQ(frames, c.log);
    }
}

// A log whose last line has no line end: every whole line replays, and the user is
// told that the last one was not.
TEST_F(TCliRunnerLogFormats, CutLogReplaysItsWholeLinesAndSaysTheLastWasCut)
{
    const std::string cut = std::string(QV_TEST_DATA_DIR) + "/logs/cut.log";
    const std::string out = Path("out.l5");
    EXPECT_EQ(Run({"--fast", "--source", "log", cut, "--replay-channels", "can0", "--log-out", out, "--log-format", "l5"}),
              TCliRunner::ExitFailed);   // the 3-byte request: layout 5 cannot hold it
    ASSERT_EQ(Run({"--fast", "--source", "log", cut, "--log-out", Path("out.log")}), 0) << err_;
    EXPECT_NE(out_.find("log: " + cut + ": 2 frames (candump) on interface can0; the last line (line 3) has no line "
                                        "end and was not read: '(1700000000.300000) can0 18FEF100#F315'\n"),
              std::string::npos)
        << out_;
    EXPECT_EQ(err_, "quorvella-cli: Log file error: Reading CAN log entry failed: " + cut +
                        " line 3: the last line has no line end: it was cut off or is still being written, and is not "
                        "replayed ('(1700000000.300000) can0 18FEF100#F315')\n");
    EXPECT_EQ(TCanLogReader::Load(Path("out.log")).Count(), 2);
}

}  // namespace

namespace {

// A recording as J1939 tools write it: a 3-byte request, a TxRq line, a transport note
// of 5,000 characters, classic frames written as CANFD lines (and a remote one). It
// loads, and every classic data frame leaves as it was: the request with 3 bytes, the
// 11-bit frame with its own identifier, an empty frame with none.
TEST_F(TCliRunnerLogFormats, J1939RecordingReplaysEveryClassicFrameAsItWas)
{
    const std::string in = std::string(QV_TEST_DATA_DIR) + "/logs/j1939_mixed.asc";
    const std::string out = Path("mixed.log");
    ASSERT_EQ(Run({"--fast", "--source", "log", in, "--log-out", out}), 0) << out_ << err_;
    const TCanLog sent = TCanLogReader::Load(out);
    const struct {
        uint32_t Id;
        bool Extended;
        uint8_t Dlc;
    } expected[] = {
        {0x18EA00F9, true, 3}, {0x123, false, 2},     {0x18FEF100, true, 8},
        {0x18FEF101, true, 3}, {0x18EAFF00, true, 0}, {0x18FEF100, true, 8},
    };
    ASSERT_EQ(sent.Frames.size(), std::size(expected)) << Read(out);
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sent.Frames[i].Id, expected[i].Id);
        EXPECT_EQ(sent.Frames[i].Extended, expected[i].Extended);
        EXPECT_EQ(sent.Frames[i].Dlc, expected[i].Dlc);
    }
    EXPECT_EQ(sent.Frames[0].Data, (std::array<uint8_t, 8>{0xE5, 0xFE, 0x00}));
}

}  // namespace
