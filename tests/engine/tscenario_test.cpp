// The scenario file's form: times, actions, comments and the order of steps, and every
// refusal with the line it is on.

#include "engine/tscenario.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using A = TScenarioStep::TAction;

TEST(TScenario, ReadsEveryActionWithItsTimeAndLine)
{
    const char* text = "# time in seconds from Start, then an action\n"
                       "0      set Gaspedal=0\n"
                       "0      starter\n"
                       "2      ramp Gaspedal=0..60 over 5\n"
                       "10     telltale 7=1\n"
                       "12.5   force \"Engine speed=error\"\n"
                       "15     release \"Engine speed\"\n"
                       "20     driver1 DRIVER0000000001\n"
                       "+5     set Gang=0            # +SECONDS: after the previous step\n"
                       "\n"
                       "26     set TCO:D1 ZeitStatus=2\n"
                       "27     vin \"WDB 9#1\"   # quotes keep blanks and #\n"
                       "28     driver2 D2\n"
                       "29     drop FEF1\n"
                       "29.5   keep fef1\n"
                       "30     stop\n"
                       "31     repeat\r\n";
    const TScenarioParse parse = ParseScenario(text);
    ASSERT_FALSE(parse.Refusal) << parse.Refusal->Describe().str();
    const struct {
        A action;
        int64_t time;
        int line;
        const char* name;
        double value;
    } expected[] = {
        {A::Set, 0, 2, "Gaspedal", 0},
        {A::Starter, 0, 3, "", 0},
        {A::Ramp, 2000000, 4, "Gaspedal", 0},
        {A::TellTale, 10000000, 5, "", 0},
        {A::Force, 12500000, 6, "Engine speed", 0},
        {A::Release, 15000000, 7, "Engine speed", 0},
        {A::Driver1, 20000000, 8, "DRIVER0000000001", 0},
        {A::Set, 25000000, 9, "Gang", 0},
        {A::Set, 26000000, 11, "TCO:D1 ZeitStatus", 2},
        {A::Vin, 27000000, 12, "WDB 9#1", 0},
        {A::Driver2, 28000000, 13, "D2", 0},
        {A::Drop, 29000000, 14, "", 0},
        {A::Keep, 29500000, 15, "", 0},
        {A::Stop, 30000000, 16, "", 0},
        {A::Repeat, 31000000, 17, "", 0},
    };
    ASSERT_EQ(parse.Scenario.Steps.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const TScenarioStep& s = parse.Scenario.Steps[i];
        SCOPED_TRACE(s.Text.str());
        EXPECT_EQ(s.Action, expected[i].action);
        EXPECT_EQ(s.Time, expected[i].time);
        EXPECT_EQ(s.Line, expected[i].line);
        EXPECT_EQ(s.Name, expected[i].name);
        EXPECT_EQ(s.Value, expected[i].value);
    }
    const std::vector<TScenarioStep>& s = parse.Scenario.Steps;
    EXPECT_EQ(s[2].To, 60);
    EXPECT_EQ(s[2].Over, 5000000);
    EXPECT_EQ(s[3].Number, 7);
    EXPECT_EQ(s[3].TellState, 1);
    EXPECT_EQ(s[4].State, "error");
    EXPECT_EQ(s[11].Number, 0xFEF1);
    EXPECT_EQ(s[12].Number, 0xFEF1);
    EXPECT_EQ(s[6].Text, "20     driver1 DRIVER0000000001");
}

// Steps run by time; steps of the same time in file order, and +SECONDS counts from the
// line before in the file, not from the latest time.
TEST(TScenario, StepsRunByTimeAndKeepFileOrderAtTheSameTime)
{
    const struct {
        const char* text;
        std::vector<int> lines;        // the lines in the order they run
        std::vector<int64_t> times;    // µs
    } cases[] = {
        {"5 set Gang=1\n1 set Gang=2\n5 set Gang=3\n", {2, 1, 3}, {1000000, 5000000, 5000000}},
        {"3 starter\n3 stop\n3 starter\n", {1, 2, 3}, {3000000, 3000000, 3000000}},
        {"10 starter\n+2 set Gang=1\n1 set Gang=2\n+0.25 stop\n", {3, 4, 1, 2}, {1000000, 1250000, 10000000, 12000000}},
        {"+1.5 starter\n+0 stop\n", {1, 2}, {1500000, 1500000}},
        {"0.0000004 starter\n0.0000006 stop\n", {1, 2}, {0, 1}},   // whole microseconds
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const TScenarioParse parse = ParseScenario(c.text);
        ASSERT_FALSE(parse.Refusal) << parse.Refusal->Describe().str();
        std::vector<int> lines;
        std::vector<int64_t> times;
        for (const TScenarioStep& s : parse.Scenario.Steps) {
            lines.push_back(s.Line);
            times.push_back(s.Time);
        }
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(times, c.times);
    }
}

TEST(TScenario, BadLineIsRefusedWithItsNumberTextAndWhatWasExpected)
{
    const char* time = "a time in seconds from the start (0 to 1000000000, e.g. 12.5) or +SECONDS after the step "
                       "before, then an action";
    const char* actions = "an action after the time: set, ramp, starter, telltale, force, release, vin, driver1, "
                          "driver2, drop, keep, stop, repeat";
    const struct {
        const char* text;
        int line;
        const char* bad;
        const char* expected;
    } cases[] = {
        {"soon starter\n", 1, "soon starter", time},
        {"-1 starter\n", 1, "-1 starter", time},
        {"+ starter\n", 1, "+ starter", time},
        {"++1 starter\n", 1, "++1 starter", time},
        {"inf starter\n", 1, "inf starter", time},
        {"1000000001 starter\n", 1, "1000000001 starter", time},
        {"0 starter\n1000000000 starter\n+1 stop\n", 3, "+1 stop", "a time of at most 1000000000 seconds"},
        {"# drive\n\n0 starter\n2 jump   # no such action\n", 4, "2 jump   # no such action", actions},
        {"5\n", 1, "5", actions},
        {"5 Set Gang=1\n", 1, "5 Set Gang=1", actions},
        {"5 set Gaspedal\n", 1, "5 set Gaspedal", "set NAME=VALUE"},
        {"5 set =40\n", 1, "5 set =40", "set NAME=VALUE"},
        {"5 set Gaspedal=forty\n", 1, "5 set Gaspedal=forty", "set NAME=VALUE"},
        {"5 set Gaspedal=40 km\n", 1, "5 set Gaspedal=40 km", "set NAME=VALUE"},
        {"5 ramp Gaspedal=0..60 in 5\n", 1, "5 ramp Gaspedal=0..60 in 5", "ramp NAME=FROM..TO over SECONDS"},
        {"5 ramp Gaspedal=0-60 over 5\n", 1, "5 ramp Gaspedal=0-60 over 5", "ramp NAME=FROM..TO over SECONDS"},
        {"5 ramp Gaspedal=0..60 over 0\n", 1, "5 ramp Gaspedal=0..60 over 0", "ramp NAME=FROM..TO over SECONDS"},
        {"5 ramp Gaspedal=0..60 over -1\n", 1, "5 ramp Gaspedal=0..60 over -1", "ramp NAME=FROM..TO over SECONDS"},
        {"5 ramp Gaspedal=..60 over 2\n", 1, "5 ramp Gaspedal=..60 over 2", "ramp NAME=FROM..TO over SECONDS"},
        {"5 starter now\n", 1, "5 starter now", "starter"},
        {"5 telltale 42=1\n", 1, "5 telltale 42=1", "telltale N=STATE"},
        {"5 telltale 0=1\n", 1, "5 telltale 0=1", "telltale N=STATE"},
        {"5 telltale 7=8\n", 1, "5 telltale 7=8", "telltale N=STATE"},
        {"5 telltale 7=1.5\n", 1, "5 telltale 7=1.5", "telltale N=STATE"},
        {"5 force \"Engine speed\"\n", 1, "5 force \"Engine speed\"", "force \"SIGNAL=STATE\""},
        {"5 force \"Engine speed=\"\n", 1, "5 force \"Engine speed=\"", "force \"SIGNAL=STATE\""},
        {"5 force \"Engine speed=error\n", 1, "5 force \"Engine speed=error", "force \"SIGNAL=STATE\""},
        {"5 release\n", 1, "5 release", "release \"SIGNAL\""},
        {"5 release \"\"\n", 1, "5 release \"\"", "release \"SIGNAL\""},
        {"5 vin \"AB\"C\"\n", 1, "5 vin \"AB\"C\"", "vin TEXT"},
        {"5 drop FEF\n", 1, "5 drop FEF", "drop PGN"},
        {"5 drop FEF1 FEF2\n", 1, "5 drop FEF1 FEF2", "drop PGN"},
        {"5 keep XYZW\n", 1, "5 keep XYZW", "keep PGN"},
        {"5 stop at once\n", 1, "5 stop at once", "stop"},
        {"0 starter\n0 repeat\n", 2, "0 repeat", "repeat at a time after 0 (at 0 the file would start again at once, for ever)"},
        {"0 starter\n+0 repeat\n", 2, "+0 repeat", "repeat at a time after 0 (at 0 the file would start again at once, for ever)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const TScenarioParse parse = ParseScenario(c.text);
        ASSERT_TRUE(parse.Refusal);
        EXPECT_EQ(parse.Refusal->Line, c.line);
        EXPECT_EQ(parse.Refusal->Text, c.bad);
        EXPECT_EQ(parse.Refusal->Expected, c.expected);
        EXPECT_TRUE(parse.Scenario.Steps.empty());   // nothing of a refused file runs
    }
    EXPECT_EQ(ParseScenario("0 starter\n2 ramp Gaspedal=0..60 in 5\n").Refusal->Describe(),
              "line 2: '2 ramp Gaspedal=0..60 in 5': expected ramp NAME=FROM..TO over SECONDS");
}

TEST(TScenario, StopTimeIsTheFirstStopUnlessARepeatComesFirst)
{
    const struct {
        const char* text;
        std::optional<int64_t> stop;
    } cases[] = {
        {"0 starter\n30 stop\n", 30000000},
        {"0 starter\n30 stop\n10 stop\n", 10000000},
        {"0 starter\n20 repeat\n30 stop\n", std::nullopt},
        {"0 starter\n30 stop\n40 repeat\n", 30000000},
        {"0 starter\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const TScenarioParse parse = ParseScenario(c.text);
        ASSERT_FALSE(parse.Refusal);
        EXPECT_EQ(parse.Scenario.StopTime(), c.stop);
    }
}

TEST(TScenario, HelpListsEveryAction)
{
    const std::string help = ScenarioActionsHelp().str();
    for (const char* form : {"set NAME=VALUE", "ramp NAME=FROM..TO over SECONDS", "starter", "telltale N=STATE",
                             "force \"SIGNAL=STATE\"", "release \"SIGNAL\"", "vin TEXT", "driver1 TEXT", "driver2 TEXT",
                             "drop PGN", "keep PGN", "stop", "repeat"})
        EXPECT_NE(help.find(form), std::string::npos) << form;
}

}  // namespace
