// --scenario: a drive file played by the runner. Bad files are refused before anything
// runs, naming the line; a scenario's stop ends the run; under --fast the output log is
// the same byte for byte every time.

#include "app/cli/tclirunner.h"
#include "clirunfixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

namespace {

using clitest::TCliRunFixture;

constexpr const char* kDrive = "# a short drive\n"
                               "0      set Gaspedal=0\n"
                               "0      starter\n"
                               "0.5    ramp Gaspedal=0..60 over 2\n"
                               "1      telltale 7=1\n"
                               "1.5    force \"Engine speed=error\"\n"
                               "2      release \"Engine speed\"\n"
                               "2.5    driver1 DRIVER0000000001\n"
                               "+0.5   set Gang=0            # after the previous step\n"
                               "3.2    drop FEF1\n"
                               "3.6    keep FEF1\n"
                               "4      stop\n";

class TCliRunnerScenario : public TCliRunFixture {
protected:
    // The lines of text without the ones that carry the date of the run.
    static std::string WithoutDates(const std::string& text)
    {
        std::istringstream in(text);
        std::string line, kept;
        while (std::getline(in, line))
            if (line.rfind("date ", 0) != 0 && line.rfind("Begin Triggerblock", 0) != 0) kept += line + "\n";
        return kept;
    }
};

TEST_F(TCliRunnerScenario, FastRunIsTheSameByteForByteEveryTime)
{
    const std::string drive = Path("drive.txt");
    Write(drive, kDrive);
    for (const char* format : {"l5", "asc"}) {
        SCOPED_TRACE(format);
        const std::string first = Path(std::string("first.") + format);
        const std::string second = Path(std::string("second.") + format);
        ASSERT_EQ(Run({"--fast", "--scenario", drive, "--log-out", first, "--log-format", format}), 0) << err_;
        ASSERT_EQ(Run({"--fast", "--scenario", drive, "--log-out", second, "--log-format", format}), 0) << err_;
        const std::string a = Read(first);
        const std::string b = Read(second);
        ASSERT_GT(a.size(), 1000u);
        if (std::string(format) == "l5") {
            EXPECT_EQ(a, b);
        } else {
            EXPECT_EQ(WithoutDates(a), WithoutDates(b));
        }
    }
    // The drive is in the log: the same run without it sends something else.
    const std::string plain = Path("plain.l5");
    ASSERT_EQ(Run({"--fast", "--duration", "4", "--log-out", plain}), 0) << err_;
    EXPECT_NE(Read(plain), Read(Path("first.l5")));
}

// The stop step ends the run at its time; without --duration under --fast too.
TEST_F(TCliRunnerScenario, StopEndsTheRunAtItsTime)
{
    const std::string drive = Path("drive.txt");
    const std::string log = Path("out.l5");
    Write(drive, "0 starter\n1.5 stop\n");
    ASSERT_EQ(Run({"--fast", "--scenario", drive, "--log-out", log}), 0) << err_;
    const std::string text = Read(log);
    ASSERT_GT(text.size(), clitest::LineBytes);
    const std::string last = text.substr(text.size() - clitest::LineBytes, 8);
    EXPECT_GE(last, "001.4900");
    EXPECT_LT(last, "001.5000");
    // A --duration that ends sooner wins.
    ASSERT_EQ(Run({"--fast", "--duration", "1", "--scenario", drive, "--log-out", log}), 0) << err_;
    const std::string shorter = Read(log);
    EXPECT_LT(shorter.substr(shorter.size() - clitest::LineBytes, 8), "001.0000");
}

TEST_F(TCliRunnerScenario, BadScenarioIsRefusedWithItsLineBeforeAnythingRuns)
{
    const struct {
        const char* text;
        const char* message;
    } cases[] = {
        {"0 starter\n2 ramp Gaspedal=0..60 in 5\n",
         "line 2: '2 ramp Gaspedal=0..60 in 5': expected ramp NAME=FROM..TO over SECONDS"},
        {"# comment\n\n1 set Tankinhalt=150\n",
         "line 3: '1 set Tankinhalt=150': expected a name and a value that --set takes (--help lists them): 150 is "
         "outside its range, 0 to 100"},
        {"1 force \"Warp speed=error\"\n",
         "line 1: '1 force \"Warp speed=error\"': expected a signal and a choice that --force takes: no signal is "
         "named 'Warp speed'"},
    };
    const std::string drive = Path("drive.txt");
    const std::string log = Path("out.l5");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Write(drive, c.text);
        EXPECT_EQ(Run({"--fast", "--duration", "1", "--scenario", drive, "--log-out", log}), TCliRunner::ExitUsage);
        EXPECT_NE(err_.find("--scenario " + drive + ": " + c.message), std::string::npos) << err_;
        EXPECT_FALSE(std::filesystem::exists(log));
    }
    // A scenario that never stops needs --duration under --fast.
    Write(drive, "0 starter\n5 repeat\n30 stop\n");
    EXPECT_EQ(Run({"--fast", "--scenario", drive, "--log-out", log}), TCliRunner::ExitUsage);
    EXPECT_NE(err_.find("--fast with a --scenario that never reaches a stop step needs --duration"), std::string::npos)
        << err_;
    EXPECT_FALSE(std::filesystem::exists(log));
    // A file that cannot be read.
    EXPECT_EQ(Run({"--fast", "--duration", "1", "--scenario", Path("missing.txt"), "--log-out", log}),
              TCliRunner::ExitFailed);
    EXPECT_NE(err_.find("missing.txt"), std::string::npos) << err_;
    EXPECT_FALSE(std::filesystem::exists(log));
    // The output log may not replace the scenario.
    Write(drive, "0 starter\n1 stop\n");
    EXPECT_EQ(Run({"--fast", "--scenario", drive, "--log-out", drive}), TCliRunner::ExitFailed);
    EXPECT_EQ(Read(drive), "0 starter\n1 stop\n");
}

TEST(TCliOptionsScenario, ScenarioGoesWithTheSimulationAndHelpListsTheActions)
{
    const TCliParse internal = ParseCommandLine({"--source", "internal", "--scenario", "x.txt"});
    EXPECT_EQ(internal.Error, "--scenario goes with --source sim");
    EXPECT_EQ(ParseCommandLine({"--scenario"}).Error, "--scenario needs a value: a scenario file");
    const TCliParse good = ParseCommandLine({"--fast", "--scenario", "x.txt"});
    EXPECT_EQ(good.Error, "");
    EXPECT_EQ(good.Options.Scenario, TAString("x.txt"));
    const std::string help = CliUsage().str();
    for (const char* form : {"--scenario FILE", "ramp NAME=FROM..TO over SECONDS", "telltale N=STATE", "repeat"})
        EXPECT_NE(help.find(form), std::string::npos) << form;
}

}  // namespace

// A state forced and released during the run reaches the frames of the next model step,
// also while the vehicle stands still and its values do not change: engine speed (EEC1,
// bytes 3 and 4) is FExx from 1.5 s to 2 s and a number after it.
TEST_F(TCliRunnerScenario, ForceAndReleaseDuringTheRunReachTheFrames)
{
    const std::string drive = Path("force.txt");
    const std::string log = Path("force.l5");
    Write(drive, "1.5 force \"Engine speed=error\"\n2 release \"Engine speed\"\n2.5 stop\n");
    ASSERT_EQ(Run({"--fast", "--scenario", drive, "--log-out", log}), 0) << err_;
    std::istringstream in(Read(log));
    std::string line;
    int forced = 0, free = 0;
    while (std::getline(in, line)) {
        if (line.size() < 33 || line.compare(9, 6, "18F004") != 0) continue;
        const double time = std::stod(line.substr(0, 8));
        const bool error = line.compare(25, 2, "FE") == 0;   // the top byte of engine speed
        if (time >= 1.5 && time < 2.0) {
            EXPECT_TRUE(error) << line;
            ++forced;
        } else if (time >= 1.0) {
            EXPECT_FALSE(error) << line;
            ++free;
        }
    }
    EXPECT_EQ(forced, 25);   // every 20 ms for 0.5 s
    EXPECT_GT(free, 40);
}
