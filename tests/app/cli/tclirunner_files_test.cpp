// The runner and the files it is given: bad inputs and outputs are refused before
// anything at an output's path changes; write failures on the output log, the report
// and standard output are reported and fail the run.
#include "app/cli/tclirunner.h"
#include "clirunfixture.h"

#include "engine/tcantransmit.h"
#include "engine/trunengine.h"
#include "engine/ttimesource.h"
#include "fms/tcanframe.h"
#include "support/stringlist.h"
#include "tests/support/tfilesizelimit.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using clitest::LineBytes;

class TCliRunnerFiles : public clitest::TCliRunFixture {};

TEST_F(TCliRunnerFiles, BadInputsAndOutputsFailBeforeAnyFileChanges)
{
    const std::string precious = Path("precious.asc");
    Write(precious, Log(300));
    ::chmod(precious.c_str(), 0600);
    Write(Path("report.json"), "{\"old\": true}\n");
    fs::create_directories(Path("empty-folder"));
    fs::create_symlink("precious.asc", Path("link.asc"));
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0644), 0);
    Write(Path("adapter.xml"), "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
                               "<Quorvella><CanAdapter><Vector3.2/></CanAdapter></Quorvella>");
    Write(Path("qtcanbus.xml"), "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
                                "<Quorvella><CanAdapter><QtCanBus/></CanAdapter></Quorvella>");
    Write(Path("cut.xml"), "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
                           "<Quorvella>\n <CanAdapter>\n  <Simulation>\n   <Kind>RAM</");
    const std::string log = "--log-out=" + precious;
    const std::string report = "--report=" + Path("report.json");

    struct TCase {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const TCase cases[] = {
        {{"--fast", "--duration", "1", "--channel", "Nonsense 1 2", log, report}, 1,
         "CAN configuration error: Selected driver not supported"},
        {{"--fast", "--duration", "1", "--channel", "Nonsense 1 2", "--log-out", Path("link.asc")}, 1,
         "Selected driver not supported"},
        {{"--fast", "--duration", "1", "--channel", "Simulation SOC 127.0.0.1 5000 70000 1", log, report}, 1,
         "Message: OutOfRange: SOC local port '70000' is not a number from 1 to 65535"},
        {{"--fast", "--duration", "1", "--channel", "Simulation RAM 1 1,HDD " + Path("out") + " " + Path("in") +
              ",RAM 2 256", log, report}, 1,
         "RAM receive slot '256' is not a number from 0 to 255"},
        {{"--fast", "--duration", "1", "--log-out", Path("empty-folder"), report}, 1,
         "Log file error: Opening the output log failed: '" + Path("empty-folder") + "' is a folder, not a file"},
        {{"--fast", "--duration", "1", "--log-out", "/dev/null"}, 1,
         "'/dev/null' is a device or a socket, not a regular file or a FIFO"},
        {{"--fast", "--duration", "1", "--log-out", Path("fifo"), report}, 1,
         "'" + Path("fifo") + "' is a FIFO that no program reads"},
        {{"--fast", "--duration", "1", "--log-out", Path("no/such/out.asc")}, 1,
         "the folder '" + Path("no/such") + "' does not exist"},
        {{"--fast", "--duration", "1", log, "--report", Path("empty-folder")}, 1,
         "Report file error: Writing the timing report failed: '" + Path("empty-folder") + "' is a folder, not a file"},
        {{"--fast", "--duration", "1", "--settings", Path("adapter.xml"), log}, 1,
         "Settings error: The settings file cannot be used: '" + Path("adapter.xml") +
             "': the adapter entry <Vector3.2> is incomplete"},
        {{"--fast", "--duration", "1", "--settings", Path("qtcanbus.xml"), log}, 1,
         "the adapter entry <QtCanBus> is incomplete"},
        {{"--fast", "--duration", "1", "--settings", Path("cut.xml"), log}, 1,
         "'" + Path("cut.xml") + "': not a well-formed settings file"},
        {{"--fast", "--duration", "1", "--settings", Path("none.xml"), log}, 1,
         "'" + Path("none.xml") + "': No such file or directory"},
        {{"--source", "log", Path("missing.asc"), log, report}, 1,
         "Log file error: Reading CAN log entry failed: " + Path("missing.asc") +
             ": cannot open the file: No such file or directory"},
        {{"--source", "log", precious, "--log-out", Path("link.asc")}, 1,
         "'" + Path("link.asc") + "': is the log being replayed"},
        {{"--fast", "--duration", "1", "--set", "Warp=9", log, report}, 2, "no value named 'Warp'"},
    };
    const auto before = Snapshot();
    for (const TCase& c : cases) {
        std::string line;
        for (const std::string& a : c.args) line += a + " ";
        SCOPED_TRACE(line);
        EXPECT_EQ(Run(c.args), c.status) << err_;
        EXPECT_NE(err_.find(c.message), std::string::npos) << err_;
        EXPECT_NE(err_.find("quorvella-cli: "), std::string::npos) << err_;
        EXPECT_EQ(Snapshot(), before);
    }
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

TEST_F(TCliRunnerFiles, FullDiskUnderTheLogIsReportedAndTheLogEndsWithAWholeLine)
{
    const std::string log = Path("full.l5");
    int status = 0;
    {
        TFileSizeLimit limit(10000);
        status = Run({"--fast", "--duration", "10", "--starter", "--log-out", log});
    }
    EXPECT_EQ(status, TCliRunner::ExitFailed);
    EXPECT_NE(err_.find("quorvella-cli: Log file error: Writing the output log failed: '" + log +
                        "': File too large; 285 lines written, the file ends with the last whole line"),
              std::string::npos)
        << err_;
    // 10000 / 35 = 285 whole lines (9975 bytes).
    EXPECT_EQ(fs::file_size(log), 285 * LineBytes);
    EXPECT_EQ(UserLogLines(log), 285);
    // Reported once, and the run went on to print its timing self-check.
    EXPECT_EQ(err_.find("Log file error"), err_.rfind("Log file error"));
    EXPECT_NE(out_.find("PGN"), std::string::npos);
}

TEST_F(TCliRunnerFiles, ReportThatCannotBeWrittenFailsTheRunAndTheLogIsWhole)
{
    ASSERT_EQ(::mkfifo(Path("report-fifo").c_str(), 0644), 0);   // nobody reads it at the end
    EXPECT_EQ(Run({"--fast", "--duration", "2", "--starter", "--log-out", Path("a.asc"), "--report", Path("report-fifo")}),
              TCliRunner::ExitFailed);
    EXPECT_NE(err_.find("Report file error: Writing the timing report failed: '" + Path("report-fifo") +
                        "' is a FIFO that no program reads"),
              std::string::npos)
        << err_;
    EXPECT_GT(UserLogLines(Path("a.asc")), 300);
    EXPECT_TRUE(fs::is_fifo(Path("report-fifo")));
}

TEST_F(TCliRunnerFiles, ReportReplacesTheOldOneThroughItsLinkAndKeepsItsMode)
{
    Write(Path("old.json"), "{}");
    ::chmod(Path("old.json").c_str(), 0640);
    fs::create_symlink("old.json", Path("report.json"));
    ASSERT_EQ(Run({"--fast", "--duration", "1", "--report", Path("report.json")}), 0) << err_;
    EXPECT_TRUE(fs::is_symlink(Path("report.json")));
    EXPECT_NE(Read(Path("old.json")).find("\"mode\": \"virtual\""), std::string::npos);
    EXPECT_EQ(fs::status(Path("old.json")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(TCliRunnerFiles, StandardOutputFailuresAreReportedOrEndTheRunAsAClosedPipe)
{
    // A full device: reported once, the run goes on to its end.
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(Run({"--fast", "--duration", "3", "--monitor", "--log-out", Path("full.asc")}, full), TCliRunner::ExitFailed);
    std::fclose(full);
    EXPECT_NE(err_.find("Output error: Writing to standard output failed: standard output: No space left on device"),
              std::string::npos)
        << err_;
    EXPECT_EQ(err_.find("Output error"), err_.rfind("Output error"));
    const int fullLines = UserLogLines(Path("full.asc"));
    EXPECT_GT(fullLines, 500);   // three seconds of the schedule

    // A reader that went away (| head): the run stops at the first monitor print, as
    // for SIGPIPE, and the log ends with whole lines.
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    ::close(pipeEnds[0]);
    std::FILE* closed = ::fdopen(pipeEnds[1], "w");
    auto previous = std::signal(SIGPIPE, SIG_IGN);
    const int status = Run({"--fast", "--duration", "3", "--monitor", "--log-out", Path("cut.asc")}, closed);
    std::signal(SIGPIPE, previous);
    std::fclose(closed);
    EXPECT_EQ(status, TCliRunner::ExitSignalBase + SIGPIPE);
    EXPECT_NE(err_.find("run cut short by SIGPIPE after 1.000 s"), std::string::npos) << err_;
    const int cutLines = UserLogLines(Path("cut.asc"));
    EXPECT_GT(cutLines, 100);
    EXPECT_LT(cutLines, fullLines / 2);
}

}  // namespace
