// The runner's simulated vehicle as a J1939 node: its claim in the output log, the
// switch that turns it off, and a claim lost to another node on a real channel.
#include "app/cli/tclirunner.h"
#include "clirunfixture.h"

#include "can/qtcanbus/qtcanbusdriverentry.h"
#include "can/tcanadapters.h"
#include "can/tcanchannel.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using clitest::Slurp;
using TBytes = std::array<uint8_t, 8>;

TBytes NameBytes(uint64_t name)
{
    TBytes b{};
    for (size_t i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(name >> (8 * i));
    return b;
}

std::vector<std::string> Lines(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

class TCliRunnerClaim : public clitest::TCliRunFixture {};

// Layout 5 lines: "000.0000 18EEFF80 0100000000000010" without the blank. The claim is
// the run's first line; with --no-address-claim there is none, and at 0x80 the groups
// then start at once instead of after 250 ms.
TEST_F(TCliRunnerClaim, ClaimIsTheFirstLineUnlessSwitchedOff)
{
    const struct {
        const char* what;
        std::vector<std::string> extra;
        const char* firstLine;   // nullptr: no claim line at all
        const char* state;       // the runner's "address claim:" line
    } rows[] = {
        {"default NAME", {}, "000.0000 18EEFF800100000000000010", "address claim: claimed 0x80, NAME 1000000000000001\n"},
        {"--name", {"--name", "A00000000000FF12"}, "000.0000 18EEFF8012FF0000000000A0",
         "address claim: claimed 0x80, NAME A00000000000FF12\n"},
        {"--no-address-claim", {"--no-address-claim"}, nullptr, "address claim: off\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string log = Path("claim.l5");
        std::vector<std::string> words = {"--fast", "--duration", "1", "--sa", "x80", "--log-out", log};
        words.insert(words.end(), row.extra.begin(), row.extra.end());
        const clitest::TCliOutcome outcome = clitest::RunCommandLine(words);
        EXPECT_EQ(outcome.Status, 0) << outcome.Err;
        EXPECT_NE(outcome.Out.find(row.state), std::string::npos) << outcome.Out;
        const std::vector<std::string> lines = Lines(log);
        ASSERT_GT(lines.size(), 20u);
        int claims = 0;
        for (const std::string& line : lines)
            if (line.substr(9, 4) == "18EE") ++claims;
        if (row.firstLine) {
            EXPECT_EQ(lines[0], row.firstLine);
            EXPECT_EQ(claims, 1);
            // Nothing else before 250 ms.
            EXPECT_EQ(lines[1].substr(0, 8), "000.2500");
        } else {
            EXPECT_EQ(claims, 0);
            EXPECT_EQ(lines[0].substr(0, 8), "000.0000");
        }
    }
}

// With --strict-timing the claim and the 250 ms wait are not judged as the schedule's.
TEST_F(TCliRunnerClaim, ClaimIsLeftOutOfTheScheduleCheck)
{
    const clitest::TCliOutcome outcome =
        clitest::RunCommandLine({"--fast", "--duration", "12", "--starter", "--strict-timing"});
    EXPECT_EQ(outcome.Status, 0) << outcome.Out << outcome.Err;
    EXPECT_EQ(outcome.Out.find("EE00"), std::string::npos) << outcome.Out;
}

// A device on the bus claims the runner's address (0x00) with a NAME of higher priority
// as soon as it sees the runner's claim: the runner sends Cannot Claim, nothing of its
// own after it, tells why on standard error and ends with exit status 1.
TEST(TCliRunnerClaimLost, LostClaimEndsWithStatus1)
{
    TCanAdapters adapters(QtCanBusDriverTable());
    TCanChannel* peer = adapters.OpenChannel(TAString("Simulation RAM 2 1"));
    ASSERT_NE(peer, nullptr);
    const TCliParse parsed = ParseCommandLine({"--duration", "1", "--channel", "Simulation RAM 1 2"});
    ASSERT_EQ(parsed.Error, "");
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    std::atomic<int> stop{0};
    int status = -1;
    std::atomic<bool> done{false};
    std::thread run([&] {
        status = TCliRunner(parsed.Options, out, err).Run(stop);
        done = true;
    });

    std::vector<TCanFrame> received;
    bool contested = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    int idle = 0;
    while (std::chrono::steady_clock::now() < deadline && idle < 300) {
        const TCanFrame f = peer->Read();
        if (f.IsNone()) {
            if (done) ++idle;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        idle = 0;
        received.push_back(f);
        if (!contested && f.Id == 0x18EEFF00u) {
            peer->Write(TCanFrame(0x18EEFF00u, NameBytes(1)));
            contested = true;
        }
    }
    run.join();
    adapters.CloseChannel(peer);
    const std::string report = Slurp(out);
    const std::string errors = Slurp(err);

    ASSERT_TRUE(contested);
    EXPECT_EQ(status, 1) << errors;
    EXPECT_NE(errors.find("Address claim lost"), std::string::npos) << errors;
    EXPECT_NE(errors.find("lost 0x00 to NAME 0000000000000001"), std::string::npos) << errors;
    EXPECT_NE(report.find("address claim: lost 0x00 to NAME 0000000000000001: sending nothing\n"), std::string::npos)
        << report;
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received.front().Id, 0x18EEFF00u);
    EXPECT_EQ(received.back().Id, 0x18EEFFFEu) << "a frame of the runner after its Cannot Claim";
    EXPECT_EQ(received.back().Data, NameBytes(0x1000000000000001ull));
}

}  // namespace
