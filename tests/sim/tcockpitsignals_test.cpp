#include "sim/tcockpitsignals.h"

#include "sim/tlkw.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>

namespace {

// Controls as a test sets them, by object name; anything not set reads as cleared,
// empty or 0.
class TFakeValues final : public TCockpitValues {
public:
    bool Checked(const TCockpitControl& c) const override { return checked.count(c.Name.str()) > 0; }
    TAString Text(const TCockpitControl& c) const override
    {
        auto it = texts.find(c.Name.str());
        return it == texts.end() ? TAString() : it->second;
    }
    double Number(const TCockpitControl& c) const override
    {
        auto it = numbers.find(c.Name.str());
        return it == numbers.end() ? 0.0 : it->second;
    }
    std::map<std::string, bool> checked;
    std::map<std::string, TAString> texts;
    std::map<std::string, double> numbers;
};

class TCockpitSignalsTest : public ::testing::Test {
protected:
    TCockpitSignalsTest()
    {
        for (const TAString& name : TCockpitTable::ExtraValueNames()) lkw.AddMV(name, -1.0);
    }
    TLkw lkw;
    TFakeValues values;
};

TEST_F(TCockpitSignalsTest, ATagHandlesOnlyItsControl)
{
    values.texts["CO_D1Time"] = "0110 = 16 h reached";
    values.numbers["E_Year"] = 2011;
    values.checked["C_Park"] = true;
    TCockpitSignals::Change(lkw, values, 1617);
    EXPECT_EQ(lkw.GetMV("TCO:D1 ZeitStatus"), 6.0);
    EXPECT_EQ(lkw.GetMV("Year"), -1.0);
    EXPECT_EQ(lkw.GetMV("ParkBrake"), -1.0);

    TCockpitSignals::Change(lkw, values, 70);
    EXPECT_EQ(lkw.GetMV("ParkBrake"), 1.0);
    values.checked.clear();
    TCockpitSignals::Change(lkw, values, 70);
    EXPECT_EQ(lkw.GetMV("ParkBrake"), 0.0);

    // A tag that no control carries changes nothing.
    TCockpitSignals::Change(lkw, values, 1623);
    EXPECT_EQ(lkw.GetMV("Year"), -1.0);
}

TEST_F(TCockpitSignalsTest, NoTagWritesEverySignalControl)
{
    values.numbers["E_Year"] = 2011;
    values.numbers["E_Sec"] = 59.75;
    values.numbers["E_WPHR"] = 6425.55;
    values.checked["C_DCE10"] = true;
    values.checked["C_AltStat3"] = true;
    values.texts["CO_PosDoor"] = "0001 = closing last door";
    values.texts["E_FzgID"] = "AB C\r\n";
    values.texts["E_DID1"] = "D1";
    values.texts["E_DID2"] = "D2";
    TCockpitSignals::Change(lkw, values, 0);

    EXPECT_EQ(lkw.GetMV("Year"), 2011.0);
    EXPECT_EQ(lkw.GetMV("Sec"), 59.75);
    EXPECT_EQ(lkw.GetMV("WPHR"), 6425.55);
    EXPECT_EQ(lkw.GetMV("DoorEnable10"), 1.0);
    EXPECT_EQ(lkw.GetMV("DoorLock10"), 0.0);
    EXPECT_EQ(lkw.GetMV("AltStat3"), 1.0);
    EXPECT_EQ(lkw.GetMV("DCPosDoor"), 1.0);
    // An empty combo text stores 0.
    EXPECT_EQ(lkw.GetMV("TCO:D2 Status"), 0.0);
    EXPECT_EQ(lkw.GetMV("Geschwindigkeit"), 0.0);
    EXPECT_EQ(lkw.GetVehicleId(), "AB_C__");
    EXPECT_EQ(lkw.GetDriverId1(), "D1");
    EXPECT_EQ(lkw.GetDriverId2(), "D2");
    // Every table value was written: nothing keeps the -1 the test started with.
    for (const TAString& name : TCockpitTable::ExtraValueNames()) EXPECT_NE(lkw.GetMV(name), -1.0) << name.str();
}

TEST(TCockpitSignals, GaugeRawIsTruncatedHundredthsWithinInt32)
{
    EXPECT_EQ(TCockpitSignals::GaugeRaw(60.5), 6050);
    EXPECT_EQ(TCockpitSignals::GaugeRaw(245.009), 24500);
    EXPECT_EQ(TCockpitSignals::GaugeRaw(-0.009), 0);
    EXPECT_EQ(TCockpitSignals::GaugeRaw(1e12), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(TCockpitSignals::GaugeRaw(-1e12), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(TCockpitSignals::GaugeRaw(std::nan("")), 0);
}

TEST(TCockpitSignals, AcceleratorPositionShowsTheControllersPedal)
{
    EXPECT_EQ(TCockpitSignals::AcceleratorPosition(37.4), 62);
    EXPECT_EQ(TCockpitSignals::AcceleratorPosition(100.0), 0);
    EXPECT_EQ(TCockpitSignals::AcceleratorPosition(0.0), 100);
    EXPECT_EQ(TCockpitSignals::AcceleratorPosition(-3.0), 100);
    EXPECT_EQ(TCockpitSignals::AcceleratorPosition(130.0), 0);
}

}  // namespace
