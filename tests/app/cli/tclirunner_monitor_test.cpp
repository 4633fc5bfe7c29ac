// The runner's --monitor for a replayed log: the values that left, decoded from the
// frames, with the state spelled out where a value is not valid.

#include "app/cli/tclirunner.h"
#include "clirunfixture.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace {

using clitest::TCliRunFixture;

class TCliRunnerMonitor : public TCliRunFixture {
protected:
    // The text after the name of signal `name` in the last monitor printed.
    std::string LastValue(const std::string& name) const
    {
        const std::size_t from = out_.rfind("--- data monitor at ");
        std::istringstream in(out_.substr(from == std::string::npos ? 0 : from));
        for (std::string line; std::getline(in, line);) {
            if (line.rfind(name + " ", 0) != 0) continue;
            const std::size_t value = line.find_first_not_of(' ', name.size());
            return value == std::string::npos ? std::string() : line.substr(value);
        }
        return "(no row)";
    }
};

}  // namespace

TEST_F(TCliRunnerMonitor, AReplayShowsTheLogsValuesDecoded)
{
    // Engine speed 0x2EE0 * 0.125 rpm = 1500 rpm; seconds 0xF4 * 0.25 s = 61 s, beyond
    // the range's 60; the minutes field not available.
    const std::string log = Path("replay.l5");
    Write(log, "000.0010 0CF00400FFFFFFE02EFFFFFF\n"
               "000.0020 18FEE600F4FFFFFFFFFFFFFF\n"
               "001.5000 0CF00400FFFFFF002FFFFFFF\n");
    ASSERT_EQ(Run({"--fast", "--source", "log", log, "--monitor"}), 0) << err_;
    EXPECT_EQ(LastValue("Engine speed"), "1504.000");   // 0x2F00 at the end
    EXPECT_EQ(LastValue("Seconds"), "o (out of range)");
    EXPECT_EQ(LastValue("Minutes"), "n (not available)");
    EXPECT_EQ(LastValue("Wheel based speed"), "");   // never sent
}
