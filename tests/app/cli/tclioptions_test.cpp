#include "app/cli/tclioptions.h"

#include <gtest/gtest.h>

namespace {

TCliParse Parse(std::initializer_list<const char*> words)
{
    std::vector<TAString> args;
    for (const char* w : words) args.emplace_back(w);
    return ParseCommandLine(args);
}

TEST(TCliOptions, ReadsEveryKindOfArgument)
{
    const TCliParse p = Parse({"--source", "log", "drive.asc", "--repeat", "--from-first-frame", "--channel",
                               "Simulation RAM 1 1", "--log-out=out.asc", "--log-format", "candump", "--log-rx", "--monitor", "--set", "Gaspedal=40", "--set", "Gang=6",
                               "--starter", "--vin", "WDB 123", "--telltale", "7=1", "--force",
                               "Engine speed=error", "--sa", "xFE", "--prio", "3", "--drop", "FEF1", "--drop",
                               "xF004", "--duration", "2.5", "--report", "r.json", "--strict-timing", "--drain", "0.5"});
    ASSERT_EQ(p.Error, "");
    const TCliOptions& o = p.Options;
    EXPECT_EQ(o.Source, TCliOptions::TSource::Log);
    EXPECT_EQ(o.LogFile, "drive.asc");
    EXPECT_TRUE(o.Repeat);
    EXPECT_TRUE(o.FromFirstFrame);
    EXPECT_EQ(o.LogFormat, TLogOutFormat::Candump);
    EXPECT_TRUE(o.LogRx);
    EXPECT_EQ(*o.Channel, "Simulation RAM 1 1");
    EXPECT_EQ(*o.LogOut, "out.asc");
    ASSERT_EQ(o.Sets.size(), 2u);
    EXPECT_EQ(o.Sets[1].first, "Gang");
    EXPECT_DOUBLE_EQ(o.Sets[1].second, 6);
    EXPECT_EQ(*o.Vin, "WDB 123");
    EXPECT_EQ(o.TellTales.at(0), std::make_pair(7, 1));
    EXPECT_EQ(o.Forces.at(0).first, "Engine speed");
    EXPECT_EQ(o.Forces.at(0).second, "error");
    EXPECT_EQ(*o.SourceAddress, "xFE");
    ASSERT_EQ(o.Drops.size(), 2u);
    EXPECT_EQ(o.Drops[0], 0xFEF1u);
    EXPECT_EQ(o.Drops[1], 0xF004u);
    EXPECT_DOUBLE_EQ(*o.Duration, 2.5);
    EXPECT_TRUE(o.StrictTiming);
    EXPECT_DOUBLE_EQ(o.DrainSeconds, 0.5);
}

TEST(TCliOptions, BadArgumentsNameTheArgument)
{
    struct Case {
        std::initializer_list<const char*> args;
        const char* fragment;
    };
    const Case cases[] = {
        {{"--bogus"}, "unknown argument '--bogus'"},
        {{"--source", "disk"}, "--source: unknown source 'disk'"},
        {{"--source", "log"}, "--source log needs a file name"},
        {{"--set", "Gaspedal"}, "--set needs NAME=VALUE"},
        {{"--set", "Gaspedal=lots"}, "--set Gaspedal: 'lots' is not a decimal number"},
        {{"--telltale", "42=1"}, "the tell-tale number must be 1 to 41"},
        {{"--telltale", "7=8"}, "the state must be 0 to 7"},
        {{"--sa", "x100"}, "--sa x100: the source address must be a hexadecimal byte"},
        {{"--prio", "8"}, "--prio 8: the priority must be 0 to 7"},
        {{"--drop", "fuel"}, "--drop fuel: a parameter group number"},
        {{"--duration", "0"}, "--duration 0: seconds"},
        {{"--duration"}, "--duration needs a value"},
        {{"--force", "Engine speed"}, "--force needs \"SIGNAL NAME=STATE\""},
        {{"--repeat"}, "--repeat goes with --source internal"},
        {{"--fast"}, "--fast with --source sim needs --duration"},
        {{"--fast=1", "--duration", "1"}, "--fast takes no value"},
        {{"--export-dbc"}, "--export-dbc needs a value: a file name"},
        {{"--drain", "-1"}, "--drain -1: seconds from 0 to 3600"},
        {{"--drain"}, "--drain needs a value"},
        {{"--from-first-frame"}, "--from-first-frame goes with --source internal or --source log FILE"},
        {{"--source", "internal", "--from-first-frame=yes"}, "--from-first-frame takes no value"},
        {{"--log-out", "x.asc", "--log-format", "blf"}, "--log-format: unknown format 'blf' (l5, asc or candump)"},
        {{"--log-out", "x.asc", "--log-format"}, "--log-format needs a value: l5, asc or candump"},
        {{"--log-format", "asc"}, "--log-format goes with --log-out FILE"},
        {{"--log-rx"}, "--log-rx goes with --log-out FILE"},
        {{"--log-out", "x.asc", "--log-format", "asc", "--log-rx=1"}, "--log-rx takes no value"},
        // Layout 5, chosen or taken from the name, has no direction: both ways out are named.
        {{"--log-out", "x.l5", "--log-rx"},
         "--log-rx needs --log-format asc or candump (or a --log-out name ending in .asc or .log): layout 5"},
        {{"--log-out", "x.asc", "--log-format", "l5", "--log-rx"}, "--log-rx needs --log-format asc or candump"},
        {{"--replay-channels"}, "--replay-channels needs a value: channel numbers (ASC) or interfaces (candump)"},
        {{"--source", "log", "a.asc", "--replay-channels", ""}, "--replay-channels needs a value"},
        {{"--source", "log", "a.asc", "--replay-channels", "1,,2"}, "--replay-channels 1,,2: an empty name in the list"},
        {{"--source", "log", "a.asc", "--replay-channels", "1,"}, "--replay-channels 1,: an empty name in the list"},
        {{"--source", "internal", "--replay-channels", "1"}, "--replay-channels goes with --source log FILE"},
        {{"--replay-channels", "1"}, "--replay-channels goes with --source log FILE"},
    };
    for (const Case& c : cases) {
        const TCliParse p = Parse(c.args);
        EXPECT_NE(p.Error.str().find(c.fragment), std::string::npos) << p.Error.str();
    }
}

// Without --log-format the output log's name tells its format.
TEST(TCliOptions, LogFormatComesFromTheOutputNameUnlessGiven)
{
    const struct {
        std::vector<TAString> args;
        TLogOutFormat format;
    } cases[] = {
        {{"--log-out", "fms.asc"}, TLogOutFormat::Asc},
        {{"--log-out", "FMS.ASC"}, TLogOutFormat::Asc},
        {{"--log-out", "bus.log"}, TLogOutFormat::Candump},
        {{"--log-out=bus.log", "--log-rx"}, TLogOutFormat::Candump},
        {{"--log-out", "run.l5"}, TLogOutFormat::Layout5},
        {{"--log-out", "run"}, TLogOutFormat::Layout5},
        {{"--log-out", "/tmp/fifo"}, TLogOutFormat::Layout5},
        {{"--log-out", "fms.asc", "--log-format", "l5"}, TLogOutFormat::Layout5},
        {{"--log-out", "fms.asc", "--log-format", "candump"}, TLogOutFormat::Candump},
        {{"--log-format", "asc", "--log-out", "run.l5"}, TLogOutFormat::Asc},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1].str());
        const TCliParse p = ParseCommandLine(c.args);
        ASSERT_EQ(p.Error, "");
        EXPECT_EQ(p.Options.LogFormat, c.format);
    }
    EXPECT_FALSE(Parse({"--duration", "1"}).Options.LogFormat.has_value());
}

TEST(TCliOptions, ReplayChannelsAreAList)
{
    const struct {
        std::vector<TAString> args;
        std::vector<TAString> channels;
    } cases[] = {
        {{"--source", "log", "a.asc"}, {}},
        {{"--source", "log", "a.asc", "--replay-channels", "2"}, {"2"}},
        {{"--source", "log", "a.asc", "--replay-channels", "1,3"}, {"1", "3"}},
        {{"--source", "log", "a.log", "--replay-channels=can0,vcan1"}, {"can0", "vcan1"}},
        {{"--source", "log", "a.log", "--replay-channels", "can0", "--replay-channels", "can1"}, {"can1"}},
    };
    for (const auto& c : cases) {
        const TCliParse p = ParseCommandLine(c.args);
        ASSERT_EQ(p.Error, "");
        EXPECT_EQ(p.Options.ReplayChannels, c.channels);
    }
    EXPECT_NE(CliUsage().Find("--replay-channels LIST"), -1);
    EXPECT_NE(CliUsage().Find("--log-out bus.log --log-rx"), -1);
}

TEST(TCliOptions, DefaultsAndHelp)
{
    const TCliParse p = Parse({});
    EXPECT_EQ(p.Error, "");
    EXPECT_EQ(p.Options.Source, TCliOptions::TSource::Sim);
    EXPECT_FALSE(p.Options.Duration.has_value());
    EXPECT_DOUBLE_EQ(p.Options.DrainSeconds, 2.0);
    EXPECT_FALSE(p.Options.LogFormat.has_value());
    EXPECT_FALSE(p.Options.FromFirstFrame);
    EXPECT_FALSE(p.Options.LogRx);
    EXPECT_EQ(Parse({"--log-out", "x.asc", "--log-format=l5"}).Options.LogFormat, TLogOutFormat::Layout5);
    EXPECT_TRUE(Parse({"--help"}).Options.Help);
    EXPECT_NE(CliUsage().Find("--force \"SIGNAL NAME=STATE\""), -1);
    // The way to the list of the model's names.
    EXPECT_NE(CliUsage().Find("a NAME the model does not have lists every name with its meaning\n"
                              "                               and unit"),
              -1);
    EXPECT_EQ(*Parse({"--export-dbc", "fms.dbc", "--sa", "xFE"}).Options.ExportDbc, "fms.dbc");
    EXPECT_NE(CliUsage().Find("--drain SECONDS              at the end, wait at most this long (default 2)"), -1);
}

}  // namespace
