// What the vehicle model takes from outside: the cockpit's ranges (the runner's refusals
// of the values that used to wrap are tested with the runner).

#include "sim/tmodelinputs.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(TModelInputs, ValuesOutsideTheCockpitsRangesAreRefusedNamingTheRange)
{
    const struct {
        const char* name;
        double value;
        const char* refusal;   // empty: taken
    } cases[] = {
        {"Tankinhalt", 150, "150 is outside its range, 0 to 100"},
        {"Tankinhalt", 100, ""},
        {"AmbTemp", -273, ""},
        {"Year", 2235, ""},
        {"Gang", 126, "126 is outside its range, whole numbers 0 to 8"},
        {"Gang", 1.5, "1.5 is not one of its values, whole numbers 0 to 8"},
        {"Gang", 8, ""},
        {"ParkBrake", 4, "4 is outside its range, 0 or 1"},
        {"ParkBrake", 0.5, "0.5 is not one of its values, 0 or 1"},
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

}  // namespace
