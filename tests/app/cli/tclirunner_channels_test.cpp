// The README's channel configurations run for 300 s of virtual time and end cleanly: every
// frame sent comes back as a received frame, nothing is lost or left undelivered.

#include "clirunfixture.h"

#include "app/cli/tclioptions.h"
#include "tests/support/Communication/channeltesthelpers.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

class TCliRunnerChannels : public clitest::TCliRunFixture {};

TEST_F(TCliRunnerChannels, EveryReadmeExampleRunsThreeHundredSecondsWithoutLoss)
{
    const std::string port = std::to_string(commtest::FreePort());
    const std::string port6 = std::to_string(commtest::FreePort());
    const std::string drop = Path("loop.drop");
    const std::vector<std::string> channels = {
        "Simulation RAM 1 1",
        "Simulation HDD " + drop + " " + drop,
        "Simulation SOC localhost " + port + " " + port + " 1",
        "Simulation SOC ::1 " + port6 + " " + port6 + " 1",
    };
    for (const std::string& channel : channels) {
        const std::string log = Path("loop.asc");
        const int status = Run({"--fast", "--duration", "300", "--starter", "--channel", channel, "--log-out", log,
                                "--log-format", "asc", "--log-rx"});
        EXPECT_EQ(status, 0) << channel << ": " << err_;
        EXPECT_EQ(err_, "") << channel;
        // Everything that went out came back in: half the output log's lines are received frames.
        std::smatch counts;
        ASSERT_TRUE(std::regex_search(out_, counts, std::regex("output log: (\\d+) frames written, (\\d+) of them received")))
            << channel << ": " << out_;
        const long written = std::stol(counts[1]);
        const long received = std::stol(counts[2]);
        EXPECT_GT(received, 50000) << channel;
        EXPECT_EQ(written, 2 * received) << channel;
        std::filesystem::remove(log);
    }
}

TEST(TCliOptionsHelp, SaysWhatDeliveredMeansForEveryMedium)
{
    // The text as one line: its wrapping is not the point.
    const std::string text = std::regex_replace(CliUsage().str(), std::regex("\n +"), " ");
    for (const char* meaning : {"Delivered means: RAM the peer's channel took the mailbox block;",
                                "HDD the drop file carries its final name;",
                                "SOC the peer's TCP acknowledged the bytes (they reached its machine; whether its "
                                "program read them cannot be known);",
                                "COM the serial device took the bytes;",
                                "frames lost on receiving (cut, invalid, dropped by a full queue) are reported"})
        EXPECT_NE(text.find(meaning), std::string::npos) << meaning;
}

} // namespace
