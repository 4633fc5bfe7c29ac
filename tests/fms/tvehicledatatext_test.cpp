#include "fms/tvehicledatatext.h"

#include "fms/tbusfmsstandard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

constexpr int EngineSpeed = 8;
constexpr int Vin = 10;

TEST(TVehicleDataText, NamesAreTheSignalsInCatalogueOrder)
{
    const std::vector<TAString> names = TVehicleDataText::Names();
    ASSERT_EQ(names.size(), 86u);
    EXPECT_EQ(names[0], "Parking Brake Switch");
    EXPECT_EQ(names[EngineSpeed], "Engine speed");
    EXPECT_EQ(names[62], "Enable Status of Door 10");
    EXPECT_EQ(names[85], "Tell Tale Status");
}

TEST(TVehicleDataText, ValuesShowWhatWriteGivesOrNothing)
{
    TBusFmsStandard catalogue("00.02");   // after Reset nothing is supplied
    std::vector<TAString> v = TVehicleDataText::Values(&catalogue);
    ASSERT_EQ(v.size(), 86u);
    for (const TAString& t : v)
        EXPECT_EQ(t, "*");

    catalogue.Signal(EngineSpeed).MeasVal = catalogue.Signal(EngineSpeed).Read("1500");
    catalogue.Signal(Vin).MeasVal = catalogue.Signal(Vin).Read("57510D");
    catalogue.Signal(5).MeasVal->State = msError;
    v = TVehicleDataText::Values(&catalogue);
    EXPECT_EQ(v[EngineSpeed], "1500.000");   // three decimals, no unit
    EXPECT_EQ(v[Vin], "WQx0D");
    EXPECT_EQ(v[5], "e");

    for (const TAString& t : TVehicleDataText::Values(nullptr))
        EXPECT_EQ(t, "");
}

TEST(TVehicleDataText, ShorterCatalogueLeavesTheLastRowsEmpty)
{
    const TBusFmsStandard shorter("00.01");   // 81 signals
    const std::vector<TAString> v = TVehicleDataText::Values(&shorter);
    ASSERT_EQ(v.size(), 86u);
    EXPECT_EQ(v[80], "*");
    EXPECT_EQ(v[81], "");
    EXPECT_EQ(v[85], "");
}

TEST(TVehicleDataText, TableLinesUpTheValuesAfterTheLongestName)
{
    TBusFmsStandard catalogue("00.02");
    catalogue.Signal(EngineSpeed).MeasVal = catalogue.Signal(EngineSpeed).Read("1500");
    const std::string table = TVehicleDataText::Table(catalogue).str();
    // The longest name, "High resolution total vhcl. distance", has 36 characters.
    EXPECT_EQ(table.substr(0, 39), "Parking Brake Switch" + std::string(17, ' ') + "*\n");
    EXPECT_NE(table.find("\nEngine speed" + std::string(25, ' ') + "1500.000\n"), std::string::npos);
    EXPECT_NE(table.find("\nHigh resolution total vhcl. distance *\n"), std::string::npos);
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 86);
}

}  // namespace
