// --name and --no-address-claim: the simulated vehicle's J1939 NAME and its address claim.
#include "app/cli/tclioptions.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

TCliParse Parse(std::initializer_list<const char*> words)
{
    std::vector<TAString> args;
    for (const char* w : words) args.emplace_back(w);
    return ParseCommandLine(args);
}

TEST(TCliOptionsClaim, NameIsUpTo16HexadecimalDigits)
{
    const struct {
        const char* text;
        std::optional<uint64_t> name;   // nothing: refused
    } rows[] = {
        {"1000000000000001", 0x1000000000000001ull},
        {"0x8000000000000000", 0x8000000000000000ull},
        {"xA5", 0xA5ull},
        {"ffffffffffffffff", 0xFFFFFFFFFFFFFFFFull},
        {"0", 0ull},
        {"10000000000000001", std::nullopt},   // 17 digits
        {"12G4", std::nullopt},
        {"", std::nullopt},
        {"0x", std::nullopt},
        {"-1", std::nullopt},
        {"1 2", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const TCliParse p = Parse({"--name", row.text});
        if (row.name) {
            EXPECT_EQ(p.Error, "");
            EXPECT_EQ(p.Options.Name, row.name);
        } else {
            EXPECT_EQ(p.Error, "--name " + TAString(row.text) +
                                   ": the J1939 NAME is 1 to 16 hexadecimal digits, e.g. 1000000000000001");
        }
    }
}

TEST(TCliOptionsClaim, ClaimIsOnUnlessSwitchedOff)
{
    const TCliParse plain = Parse({});
    EXPECT_FALSE(plain.Options.NoAddressClaim);
    EXPECT_FALSE(plain.Options.Name.has_value());

    const TCliParse off = Parse({"--no-address-claim", "--name=12"});
    ASSERT_EQ(off.Error, "");
    EXPECT_TRUE(off.Options.NoAddressClaim);
    EXPECT_EQ(off.Options.Name, 0x12ull);

    const struct {
        std::initializer_list<const char*> args;
        const char* error;
    } refused[] = {
        {{"--no-address-claim=1"}, "--no-address-claim takes no value"},
        {{"--name"}, "--name needs a value: the J1939 NAME, 1 to 16 hexadecimal digits"},
        {{"--source", "internal", "--name", "12"},
         "--name goes with --source sim: a replay sends the log's traffic as it is, without a claim"},
    };
    for (const auto& row : refused) EXPECT_EQ(Parse(row.args).Error, row.error);
    EXPECT_NE(CliUsage().Find("--no-address-claim"), -1);
    EXPECT_NE(CliUsage().Find("--name HEX"), -1);
}

}  // namespace
