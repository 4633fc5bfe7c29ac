// What the runner takes for the vehicle's values and identifications, and what the
// simulation then sends: refusals name the range or the fault, forced tell-tales keep
// their blocks, and the date and time run.

#include "app/cli/tclirunner.h"
#include "clirunfixture.h"

#include "fms/tcanframe.h"
#include "support/stringlist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using clitest::TCliRunFixture;

class TCliRunnerValues : public TCliRunFixture {
protected:
    static std::vector<TCanFrame> Frames(const std::string& file, uint32_t pgn)
    {
        StringList lines;
        lines.LoadFromFile(TAString(file), true);
        std::vector<TCanFrame> frames;
        for (int i = 0; i < lines.Count(); ++i) {
            const TCanFrame f(lines[i], lfFixedId);
            if (((f.Id >> 8) & 0xFFFFu) == pgn) frames.push_back(f);
        }
        return frames;
    }
};

// The values that used to wrap or become indicator codes on the bus never reach the
// model from the command line: each is refused with the range the cockpit gives it.
TEST_F(TCliRunnerValues, SetOutsideTheCockpitsRangeIsRefusedNamingTheRange)
{
    const struct {
        const char* set;
        const char* message;
    } cases[] = {
        {"Tankinhalt=100.4", "--set Tankinhalt: 100.4 is outside its range, 0 to 100"},
        {"Tankinhalt=102.4", "--set Tankinhalt: 102.4 is outside its range, 0 to 100"},
        {"Tankinhalt=150", "--set Tankinhalt: 150 is outside its range, 0 to 100"},
        {"Tankinhalt=-0.8", "--set Tankinhalt: -0.8 is outside its range, 0 to 100"},
        {"AmbTemp=1775", "--set AmbTemp: 1775 is outside its range, -273 to 1734.96876"},
        {"Year=2241", "--set Year: 2241 is outside its range, 1985 to 2235"},
        {"Gang=126", "--set Gang: 126 is outside its range, whole numbers 0 to 8"},
        {"ParkBrake=4", "--set ParkBrake: 4 is outside its range, 0 or 1"},
        {"Geschwindigkeit=256.1", "--set Geschwindigkeit: 256.1 is outside its range, 0 to 250.996"},
        {"Gaspedal=-1000000000000000", "--set Gaspedal: -1000000000000000 is outside its range, 0 to 100"},
        {"TCO:D1 ZeitStatus=2.5", "--set TCO:D1 ZeitStatus: 2.5 is not one of its values, whole numbers 0 to 6"},
    };
    const std::string log = Path("x.l5");
    for (const auto& c : cases) {
        EXPECT_EQ(Run({"--fast", "--duration", "0.06", "--set", c.set, "--log-out", log}), TCliRunner::ExitUsage)
            << c.set;
        EXPECT_NE(err_.find(c.message), std::string::npos) << err_;
        EXPECT_FALSE(std::filesystem::exists(log)) << c.set;   // nothing ran
    }
    EXPECT_EQ(Run({"--fast", "--duration", "0.06", "--set", "Tankinhalt=100", "--set", "Gang=8"}), 0) << err_;
}

TEST_F(TCliRunnerValues, IdentificationsThatWouldNotParseAsSentAreRefused)
{
    const struct {
        const char* option;
        std::string text;
        const char* message;
    } cases[] = {
        {"--driver1", "AB*CD", "--driver1: the text contains '*', which ends the field on the bus"},
        {"--driver2", "AB\xFF", "--driver2: the text contains a character that is not printable ASCII (byte 0xFF at position 3)"},
        {"--driver1", "M\xC3\xBCller", "--driver1: the text contains a character that is not printable ASCII (byte 0xC3 at position 2)"},
        {"--driver1", std::string(20, 'D'), "--driver1: the text is 20 characters long; the field takes at most 19"},
        {"--vin", std::string(101, 'V'), "--vin: the text is 101 characters long; the field takes at most 100"},
        {"--vin", "", "--vin: the text is 0 characters long; the field needs at least 1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Run({"--fast", "--duration", "0.06", c.option, c.text}), TCliRunner::ExitUsage) << c.text;
        EXPECT_NE(err_.find(c.message), std::string::npos) << err_;
    }
    // What fits goes out as given: driver 1 "AB CD" and driver 2 "EF", each ended by "*".
    const std::string log = Path("di.l5");
    ASSERT_EQ(Run({"--fast", "--duration", "5.3", "--driver1", "AB CD", "--driver2", "EF", "--log-out", log}), 0)
        << err_;
    // Nine bytes: a broadcast transfer announced at 5012 ms, its two packets (5112 and
    // 5212 ms) the last ones of the run.
    const std::vector<TCanFrame> packets = Frames(log, 0xEBFF);
    ASSERT_GE(packets.size(), 2u);
    std::string bytes;
    for (size_t i = packets.size() - 2; i < packets.size(); ++i)
        bytes.append(packets[i].Data.begin() + 1, packets[i].Data.end());
    EXPECT_EQ(bytes.substr(0, 9), "AB CD*EF*");
}

TEST_F(TCliRunnerValues, TellTalesForcedNotAvailableSendEachBlockWithItsId)
{
    const std::string log = Path("tts.l5");
    ASSERT_EQ(Run({"--fast", "--duration", "3.1", "--force", "Tell Tale Status=not available", "--log-out", log}), 0)
        << err_;
    const std::vector<TCanFrame> tts = Frames(log, 0xFD7D);
    ASSERT_EQ(tts.size(), 4u);   // at 44, 1044, 2044 and 3044 ms
    const uint8_t ids[] = {0xF0, 0xF1, 0xF2, 0xF0};
    for (size_t i = 0; i < tts.size(); ++i) {
        EXPECT_EQ(tts[i].Data[0], ids[i]) << i;
        for (int b = 1; b < 8; ++b) EXPECT_EQ(tts[i].Data[static_cast<size_t>(b)], 0xFF) << i;
    }
    // The software version has no error code to send: only "not available" is offered.
    EXPECT_EQ(Run({"--fast", "--duration", "1", "--force", "SW-version supported=error"}), TCliRunner::ExitUsage);
    EXPECT_NE(err_.find("(Valid Signal, FF = not available)"), std::string::npos) << err_;
}

// The clock set by --set runs with the run, on virtual time as in real time, through
// midnight and the end of January.
TEST_F(TCliRunnerValues, TimeAndDateRunAcrossMidnightAndAMonthEnd)
{
    const std::string log = Path("td.l5");
    ASSERT_EQ(Run({"--fast", "--duration", "2.1", "--set", "Year=2009", "--set", "Month=1", "--set", "Day=31",
                   "--set", "Hours=23", "--set", "Min=59", "--set", "Sec=59", "--log-out", log}),
              0)
        << err_;
    const std::vector<TCanFrame> td = Frames(log, 0xFEE6);
    ASSERT_EQ(td.size(), 3u);   // at 30, 1030 and 2030 ms
    // Built 5 ms ahead, after the model steps up to 20 ms, 1020 ms and 2020 ms: 0.04 s,
    // 1.04 s and 2.04 s past 23:59:59 on 31 January 2009. Seconds in quarters, day raw
    // (day - 0.75) / 0.25, year raw year - 1985.
    const std::vector<uint8_t> want[] = {
        {236, 59, 23, 1, 121, 24, 0xFF, 0xFF},   // 23:59:59, 31 January 2009
        {0, 0, 0, 2, 1, 24, 0xFF, 0xFF},         // 00:00:00, 1 February 2009
        {4, 0, 0, 2, 1, 24, 0xFF, 0xFF},         // 00:00:01
    };
    for (size_t i = 0; i < td.size(); ++i)
        EXPECT_EQ(std::vector<uint8_t>(td[i].Data.begin(), td[i].Data.end()), want[i]) << i;
}

}  // namespace
