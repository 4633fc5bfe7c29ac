// The runner's timing self-check by source: the simulation against the Bus-FMS
// schedule, a replayed log against its own times.
#include "app/cli/tclirunner.h"
#include "clirunfixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

class TCliRunnerTiming : public clitest::TCliRunFixture {
protected:
    // Lines of EEC1 (18F00400) at the given times in units of 0.1 ms.
    static std::string Eec1(const std::vector<int>& tenthsOfMs)
    {
        std::string text;
        char line[64];
        for (int t : tenthsOfMs) {
            std::snprintf(line, sizeof line, "%03d.%04d 18F00400F0FF7DE01E00FF7D\r\n", t / 10000, t % 10000);
            text += line;
        }
        return text;
    }
};

// A faithful 10 ms EEC1 log: twice the catalogue's rate and 21 groups short of it, and
// still every frame leaves at its log time.
TEST_F(TCliRunnerTiming, FaithfulLogPassesStrictTimingWhateverTheCatalogueSays)
{
    std::vector<int> times;
    for (int k = 0; k < 100; ++k) times.push_back(k * 100);
    Write(Path("eec1.asc"), Eec1(times));
    ASSERT_EQ(Run({"--fast", "--source", "log", Path("eec1.asc"), "--strict-timing", "--report", Path("r.json")}), 0)
        << out_ << err_;
    EXPECT_NE(out_.find("timing: every frame within 10 ms of its log time"), std::string::npos) << out_;
    EXPECT_NE(out_.find("timing: the largest lateness was 0.000 ms"), std::string::npos) << out_;
    EXPECT_EQ(out_.find("schedule missing"), std::string::npos);
    EXPECT_EQ(out_.find("period off"), std::string::npos);
    const std::string json = Read(Path("r.json"));
    EXPECT_NE(json.find("\"judged_by\": \"log time\""), std::string::npos);
    EXPECT_NE(json.find("\"transmit_timer\": \"none (virtual time)\""), std::string::npos) << json;
    EXPECT_NE(out_.find("\ntransmit timer: none (virtual time)\n"), std::string::npos) << out_;
    EXPECT_NE(json.find("\"flagged\": false"), std::string::npos);
}

TEST_F(TCliRunnerTiming, InternalLogIsItsOwnSchedule)
{
    ASSERT_EQ(Run({"--fast", "--source", "internal", "--strict-timing"}), 0) << out_ << err_;
    EXPECT_NE(out_.find("timing: every frame within 10 ms of its log time"), std::string::npos) << out_;
}

// Two frames in every millisecond of a second leave in their milliseconds: on time.
TEST_F(TCliRunnerTiming, FramesSharingMillisecondsPassStrictTiming)
{
    std::vector<int> times;
    for (int k = 0; k < 2000; ++k) times.push_back((k / 2) * 10 + (k % 2) * 3);
    Write(Path("busy.asc"), Eec1(times));
    ASSERT_EQ(Run({"--fast", "--source", "log", Path("busy.asc"), "--strict-timing"}), 0) << out_ << err_;
    EXPECT_NE(out_.find("timing: the largest lateness was 0.000 ms"), std::string::npos) << out_;
    EXPECT_EQ(err_, "");
}

// Real time: 30,000 frames at one instant are far more than the transmit buffer takes at
// once (255, refilled as fast as the timer sends: at most 50 steps of a tick, 12,750
// frames, before the next tick); they leave in order as it takes them, late by more
// than a tick; the notice gives the figure the self-check gives, and strict timing fails.
TEST_F(TCliRunnerTiming, BacklogBeyondTheTransmitBufferFailsStrictTimingWithOneFigure)
{
    std::vector<int> times(30000, 500);
    Write(Path("burst.asc"), Eec1(times));
    EXPECT_EQ(Run({"--source", "log", Path("burst.asc"), "--strict-timing", "--log-out", Path("out.l5")}),
              TCliRunner::ExitFailed)
        << out_ << err_;
    EXPECT_NE(out_.find("timing: some frames left more than 10 ms after their log time"), std::string::npos) << out_;
    const std::string key = "timing: the largest lateness was ";
    const size_t at = out_.find(key);
    ASSERT_NE(at, std::string::npos) << out_;
    const double selfCheck = std::stod(out_.substr(at + key.size()));
    const std::string notice = "the latest left ";
    const size_t n = err_.find(notice);
    ASSERT_NE(n, std::string::npos) << err_;
    const double told = std::stod(err_.substr(n + notice.size()));
    EXPECT_GT(selfCheck, 10.0);
    // The notice and the self-check both measure when the medium took each frame, the
    // last ones (which left after the run's end) too: one figure, to the printed digit.
    EXPECT_NEAR(told, selfCheck, 0.0015) << out_ << err_;
    EXPECT_NE(err_.find("Timing notice"), std::string::npos) << err_;
    const std::string written = Read(Path("out.l5"));
    EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 30000);
}

TEST_F(TCliRunnerTiming, SimulationIsJudgedByTheScheduleAndShowsItsLateness)
{
    ASSERT_EQ(Run({"--fast", "--duration", "12", "--starter", "--strict-timing"}), 0) << out_ << err_;
    EXPECT_NE(out_.find("timing: every group within 1 ms of its period"), std::string::npos) << out_;
    EXPECT_NE(out_.find("timing: the largest lateness was 0.000 ms"), std::string::npos) << out_;
}

}  // namespace
