#include "engine/tmodelvaluenames.h"

#include "engine/trecordingcockpit.h"
#include "sim/tlkw.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>

namespace {

TEST(TModelValueNames, EveryNameOfTheCockpitsModelWithMeaningAndUnit)
{
    TRecordingCockpit cockpit;
    const TLkw& lkw = cockpit.Lkw();
    const std::vector<TModelValueName> list = TModelValueNames::List(lkw);
    ASSERT_EQ(static_cast<int>(list.size()), lkw.Count());
    std::map<std::string, std::pair<std::string, std::string>> byName;
    for (const TModelValueName& n : list) {
        EXPECT_FALSE(n.Meaning.IsEmpty()) << n.Name.str();
        byName[n.Name.str()] = {n.Meaning.str(), n.Unit.str()};
    }
    using P = std::pair<std::string, std::string>;
    // The model's own values.
    EXPECT_EQ(byName["Gaspedal"], P("accelerator pedal", "%"));
    EXPECT_EQ(byName["Gang"], P("gear", "0 = neutral, 1 to 8"));
    EXPECT_EQ(byName["Kupplungspedal"], P("clutch pedal", "%, 100 = engaged"));
    EXPECT_EQ(byName["Motor:Kuehlmitteltemperatur"], P("engine coolant temperature", "°C"));
    // The cockpit's further values, by the signal whose field they fill.
    EXPECT_EQ(byName["Sec"], P("Seconds", "sec"));
    EXPECT_EQ(byName["AmbTemp"], P("Ambient Air Temperatur", "°C"));
    EXPECT_EQ(byName["WPHR"], P("Below Pressure Rear Axle Right", "kPa"));
    EXPECT_EQ(byName["TCO:D1 Karte"], P("Driver 1 card", "0 = not_pressent, 1 = present"));
    EXPECT_EQ(byName["DoorOpen3"], P("Open Status of Door 3", "0 = door_closed, 1 = door_opened"));
    EXPECT_EQ(byName["Fms:Version"], P("SW-version supported", ""));
}

TEST(TModelValueNames, TextListsOneNamePerLineInColumns)
{
    TLkw lkw;
    const std::string text = TModelValueNames::Text(lkw).str();
    // The longest of the 23 own names is "Motor:Kuehlmitteltemperatur" (27 characters).
    // Values a control of the cockpit sets carry its range.
    EXPECT_EQ(text.substr(0, text.find('\n') + 1),
              "  Geschwindigkeit" + std::string(27 - 15 + 2, ' ') + "vehicle speed, km/h [0 to 250.996]\n");
    EXPECT_NE(text.find("\n  Gaspedal" + std::string(27 - 8 + 2, ' ') + "accelerator pedal, % [0 to 100]\n"),
              std::string::npos);
    EXPECT_NE(text.find("\n  Gang" + std::string(27 - 4 + 2, ' ') + "gear, 0 = neutral, 1 to 8 [whole numbers 0 to 8]\n"),
              std::string::npos);
    EXPECT_NE(text.find("\n  Laengengrad" + std::string(27 - 11 + 2, ' ') + "longitude\n"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 23);
}

}  // namespace
