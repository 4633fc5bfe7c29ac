// What the vehicle model takes from outside: the cockpit's ranges, and identifications
// that go on the bus as given.

#include "sim/tmodelinputs.h"

#include "sim/teditrule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

TEST(TModelInputs, ValuesOutsideTheCockpitsRangesAreRefusedNamingTheRange)
{
    const struct {
        const char* name;
        double value;
        const char* refusal;   // empty: taken
    } cases[] = {
        {"Tankinhalt", 100.4, "100.4 is outside its range, 0 to 100"},
        {"Tankinhalt", 102.4, "102.4 is outside its range, 0 to 100"},
        {"Tankinhalt", 150, "150 is outside its range, 0 to 100"},
        {"Tankinhalt", -0.8, "-0.8 is outside its range, 0 to 100"},
        {"Tankinhalt", 100, ""},
        {"AmbTemp", 1775, "1775 is outside its range, -273 to 1734.96876"},
        {"AmbTemp", -273, ""},
        {"Year", 2241, "2241 is outside its range, 1985 to 2235"},
        {"Year", 2235, ""},
        {"Gang", 126, "126 is outside its range, whole numbers 0 to 8"},
        {"Gang", 1.5, "1.5 is not one of its values, whole numbers 0 to 8"},
        {"Gang", 8, ""},
        {"ParkBrake", 4, "4 is outside its range, 0 or 1"},
        {"ParkBrake", 0.5, "0.5 is not one of its values, 0 or 1"},
        {"Geschwindigkeit", 256.1, "256.1 is outside its range, 0 to 250.996"},
        {"Gaspedal", -1e15, "-1000000000000000 is outside its range, 0 to 100"},
        {"Gaspedal", 40.5, ""},
        {"TCO:D1 ZeitStatus", 7, "7 is outside its range, whole numbers 0 to 6"},
        {"TCO:D1 ZeitStatus", 6, ""},
        {"TCO:D2 Status", 4, "4 is outside its range, whole numbers 0 to 3"},
        {"DCPosDoor", 3, "3 is outside its range, whole numbers 0 to 2"},
        {"WPFL", 6425.55, "6425.55 is outside its range, 0 to 6425.5"},   // 6425.55 kPa would be FB00
        {"FURA", 3212.76, "3212.76 is outside its range, 0 to 3212.75"},
        {"Day", 31.75, "31.75 is outside its range, 1 to 31"},
        {"Sec", 59.75, ""},
        {"Drehzahlstand", 1e12, ""},   // no control sets it: the model's own count
    };
    for (const auto& c : cases)
        EXPECT_EQ(TModelInputs::Refusal(c.name, c.value), c.refusal) << c.name << "=" << c.value;
    EXPECT_NE(TModelInputs::Refusal("Tankinhalt", std::nan("")), "");
}

TEST(TIdTextRule, IdentificationsArePrintableAsciiWithoutTheEndMarkAndNeverCut)
{
    const struct {
        std::string text;
        int max;
        const char* refusal;   // empty: taken
    } cases[] = {
        {"GB_Driver_ID_000001", 19, ""},
        {"Fahrer 1 ~!", 19, ""},
        {"", 19, ""},
        {"AB*CD", 19, "contains '*', which ends the field on the bus"},
        {"AB\xFF", 19, "contains a character that is not printable ASCII (byte 0xFF at position 3)"},
        {"M\xC3\xBCller", 19, "contains a character that is not printable ASCII (byte 0xC3 at position 2)"},
        {"A\tB", 19, "contains a character that is not printable ASCII (byte 0x09 at position 2)"},
        {std::string(20, 'D'), 19, "is 20 characters long; the field takes at most 19"},
        {std::string(101, 'V'), 100, "is 101 characters long; the field takes at most 100"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TIdTextRule::Refusal(c.text, 0, c.max), c.refusal) << c.text;
        EXPECT_EQ(TIdTextRule(0, c.max).IsValid(c.text), std::string(c.refusal).empty()) << c.text;
    }
    EXPECT_EQ(TIdTextRule::Refusal("", 1, 100), "is 0 characters long; the field needs at least 1");
}

}  // namespace
