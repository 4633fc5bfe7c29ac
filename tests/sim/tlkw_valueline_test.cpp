// The value line of TLkw as the Bus-FMS catalogue reads it.

#include "sim/tlkw.h"

#include "fms/tbusfmsstandard.h"
#include "support/tbaseerror.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Fields(const TAString& line)
{
    std::vector<std::string> fields;
    std::string s = line.str();
    size_t from = 0;
    while (true) {
        const size_t end = s.find(':', from);
        fields.push_back(s.substr(from, end == std::string::npos ? std::string::npos : end - from));
        if (end == std::string::npos) break;
        from = end + 1;
    }
    return fields;
}

// The model as the cockpit sets it up: its further values, then the controls' initial
// contents.
void CockpitModel(TLkw& lkw)
{
    std::vector<std::string> names = {
        "TCO:D1 Karte", "TCO:D1 Status", "TCO:D1 ZeitStatus", "TCO:D2 Karte", "TCO:D2 Status",
        "TCO:D2 ZeitStatus", "TCO:Fahren", "TCO:Rueckwaerts", "TCO:Uebergeschwindigkeit", "TCO:Performance",
        "TCO:Handling", "TCO:SystemEreigniss", "Fms:Version", "Can:Anfragen", "Can:Diagnose", "ParkBrake",
        "AmbTemp", "Stat2door", "RampWheel", "DCPosDoor"};
    for (const char* kind : {"DoorOpen", "DoorLock", "DoorEnable"})
        for (int i = 1; i <= 10; ++i) names.push_back(kind + std::to_string(i));
    for (const char* n : {"Sec", "Min", "Hours", "Month", "Day", "Year", "SBraC1", "SBraC2", "AltStat1",
                          "AltStat2", "AltStat3", "AltStat4", "WPFL", "WPFR", "WPHL", "WPHR"})
        names.push_back(n);
    ASSERT_EQ(names.size(), 66u);
    for (const auto& n : names) lkw.AddMV(n, 0.0);
    ASSERT_EQ(lkw.Count(), 89);

    lkw.SetAccelerator(100);
    lkw.SetBrake(0);
    lkw.SetClutch(100, true);
    lkw.SetGear(1);
    lkw.SetIgnition(true);
    lkw.SetMV("Tankinhalt", 100);
    lkw.SetMV("Motor:Kuehlmitteltemperatur", 15);
    lkw.SetMV("AmbTemp", 22);
    lkw.SetVehicleId("Vehicle_ID_0001_abcdefg");
    lkw.SetMV("Min", 20);
    lkw.SetMV("Hours", 12);
    lkw.SetMV("Day", 9);
    lkw.SetMV("Month", 11);
    lkw.SetMV("Year", 2009);
    lkw.SetMV("SBraC1", 1000);
    lkw.SetMV("SBraC2", 1000);
    lkw.SetDriverId1("GB_Driver_ID_000001");
    lkw.SetDriverId2("GB_Driver_ID_000002");
    for (const char* n : {"WPFL", "WPFR", "WPHL", "WPHR"}) lkw.SetMV(n, 400);
    lkw.SetMV("DCPosDoor", 2);
    lkw.SetMV("Can:Diagnose", 1);
    lkw.SetMV("Can:Anfragen", 1);
    lkw.SetMV("Fms:Version", 0.02);
    lkw.SetTellTales(std::string(41, '0'));
}

std::string Hex(const std::string& bytes)
{
    std::string out;
    const char* digits = "0123456789ABCDEF";
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

}  // namespace

TEST(TLkw, ValueLineFieldsFollowTheCatalogue)
{
    TLkw lkw;
    CockpitModel(lkw);
    lkw.SetMV("Geschwindigkeit", 12.3456);
    lkw.SetMV("Drehzahl", 1234.5);
    lkw.SetMV("Verbrauch total", 7.25);
    lkw.SetMV("Motor:Betriebszeit", 1.005);
    lkw.SetMV("Kilometerstand", 1234.4);
    lkw.SetMV("AmbTemp", -12.5);
    lkw.SetMV("Sec", 59.75);
    lkw.SetMV("FURA", 27.5);
    lkw.SetMV("IFEff", 125.498046875);
    lkw.SetMV("Gang", 3);
    lkw.SetMV("TCO:D1 ZeitStatus", 6);
    lkw.SetMV("DoorOpen10", 1);
    lkw.SetVehicleId("A B");
    lkw.SetDriverId2("");
    lkw.SetTellTales("01237");

    const std::vector<std::string> f = Fields(lkw.BuildValueLine());
    ASSERT_EQ(f.size(), 86u);
    EXPECT_EQ(f[0], "0");
    // Every number exactly as the model holds it, so that the catalogue rounds the
    // model's own number to the nearest raw value.
    EXPECT_EQ(f[1], "12.3456");
    EXPECT_EQ(f[4], "0");
    EXPECT_EQ(f[5], "100");
    EXPECT_EQ(f[6], "7.25");
    EXPECT_EQ(f[7], "100");
    EXPECT_EQ(f[8], "1234.5");
    EXPECT_EQ(f[9], "1.005");
    EXPECT_EQ(f[10], "415F422A");
    EXPECT_EQ(f[11], "1");
    EXPECT_EQ(f[12], "1");
    EXPECT_EQ(f[14], "1234.4");
    EXPECT_EQ(f[20], "6");
    EXPECT_EQ(f[27], f[1]);   // the tachograph and the wheel carry the same speed
    EXPECT_EQ(f[28], "15");
    EXPECT_EQ(f[29], "-12.5");
    EXPECT_EQ(f[32], "2");
    EXPECT_EQ(f[61], "1");   // open status of door 10
    EXPECT_EQ(f[62], "0");
    EXPECT_EQ(f[63], "59.75");
    EXPECT_EQ(f[64], "20");
    EXPECT_EQ(f[67], "9");
    EXPECT_EQ(f[68], "2009");
    EXPECT_EQ(f[69], "1000");
    EXPECT_EQ(f[75], "3");
    EXPECT_EQ(f[76], "3");
    EXPECT_EQ(f[77], "400");
    EXPECT_EQ(f[81], Hex("GB_Driver_ID_000001*"));
    EXPECT_EQ(f[82], "2A");
    EXPECT_EQ(f[83], "27.5");
    EXPECT_EQ(f[84], "125.498046875");
    EXPECT_EQ(f[85], "01237");
}

TEST(TLkw, ValueLineSwitchesAndVersion)
{
    TLkw lkw;
    CockpitModel(lkw);
    const struct { double clutch, brake; const char* clutchField; const char* brakeField; } cases[] = {
        {100, 0, "0", "0"}, {50, 50, "0", "0"}, {49.9, 50.1, "1", "1"}, {0, 100, "1", "1"},
    };
    for (const auto& c : cases) {
        lkw.SetClutch(c.clutch, true);
        lkw.SetBrake(c.brake);
        const auto f = Fields(lkw.BuildValueLine());
        EXPECT_EQ(f[2], c.clutchField) << c.clutch;
        EXPECT_EQ(f[3], c.brakeField) << c.brake;
    }
    // The version goes out as four ASCII digits of hundredths, thousands to units:
    // 0.02 is "0002", 12.34 is "1234".
    const struct { double version; const char* field; } versions[] = {
        {0.02, "30303032"}, {12.34, "31323334"}, {99.99, "39393939"}, {0.0, "30303030"},
    };
    for (const auto& v : versions) {
        lkw.SetMV("Fms:Version", v.version);
        EXPECT_EQ(Fields(lkw.BuildValueLine())[13], v.field) << v.version;
    }
}

TEST(TLkw, CatalogueReadsTheValueLine)
{
    TLkw lkw;
    CockpitModel(lkw);
    lkw.SetMV("Drehzahl", 1500.0);
    lkw.SetMV("Geschwindigkeit", 80.0);
    lkw.SetVehicleId("WDB 123");
    TBusFmsStandard fms("00.02");
    ASSERT_NO_THROW(fms.ReadValues(lkw.BuildValueLine()));
    EXPECT_EQ(fms.Signal(8).Write(), "1500.000");
    EXPECT_EQ(fms.Signal(1).Write(), "80.000");
    EXPECT_EQ(fms.Signal(10).Write(), "WDB_123*");
    EXPECT_EQ(fms.Signal(13).Write(), "0002");
    EXPECT_EQ(fms.Signal(68).Write(), "2009");
    EXPECT_EQ(fms.Signal(81).Write(), "GB_Driver_ID_000001*");
    EXPECT_EQ(fms.Signal(85).Write(), std::string(41, '0'));
    for (int i = 0; i < fms.SignalCount(); ++i)
        EXPECT_EQ(fms.Signal(i).MeasVal->State, msValid) << i << " " << fms.Signal(i).Name.str();
    // Every group can be encoded from these values.
    EXPECT_NO_THROW(fms.GetCanHighs(10'000'000));
}

TEST(TLkw, ValuesBeyondTheirFieldsAreFittedToIt)
{
    TLkw lkw;
    CockpitModel(lkw);
    lkw.SetMV("Drehzahl", 29166.7);        // gear 1 at 250 km/h
    lkw.SetMV("Geschwindigkeit", -0.0001);
    lkw.SetMV("Year", 0);
    lkw.SetMV("AmbTemp", -99999.0);
    lkw.SetMV("Kilometerstand", NAN);
    lkw.SetMV("TCO:D1 Status", 300);
    lkw.SetMV("TCO:D2 Status", -2);
    lkw.SetVehicleId("");
    lkw.SetDriverId1(std::string(30, 'x'));
    lkw.SetTellTales("9:");
    const TAString line = lkw.BuildValueLine();
    const auto f = Fields(line);
    ASSERT_EQ(f.size(), 86u);
    EXPECT_EQ(f[8], "9999.999");
    EXPECT_EQ(f[1], "-0.0001");   // below the range: "o", sent as 0
    EXPECT_EQ(f[68], "0000");
    EXPECT_EQ(f[29], "-999.999");
    EXPECT_EQ(f[14], "e");
    EXPECT_EQ(f[16], "255");
    EXPECT_EQ(f[17], "0");
    EXPECT_EQ(f[10], "*");
    EXPECT_EQ(f[81], "e");   // 30 characters do not fit the field: an error, never cut
    EXPECT_EQ(f[85], "77");

    TBusFmsStandard fms("00.02");
    ASSERT_NO_THROW(fms.ReadValues(line));
    EXPECT_EQ(fms.Signal(8).MeasVal->State, msOutOfRange);
    EXPECT_EQ(fms.Signal(68).MeasVal->State, msOutOfRange);
    EXPECT_EQ(fms.Signal(14).MeasVal->State, msError);
    EXPECT_EQ(fms.Signal(10).MeasVal->State, msNotSet);
    EXPECT_EQ(fms.Signal(1).MeasVal->State, msOutOfRange);
    EXPECT_EQ(fms.Signal(81).MeasVal->State, msError);

    lkw.SetTellTales("");   // no tell-tales: every one reads as not available
    EXPECT_EQ(Fields(lkw.BuildValueLine())[85], "");
    ASSERT_NO_THROW(fms.ReadValues(lkw.BuildValueLine()));
}

TEST(TLkw, EveryLineOfADriveCycleIsAccepted)
{
    TLkw lkw;
    CockpitModel(lkw);
    TBusFmsStandard fms("00.02");
    int64_t nowUs = 0;
    int lines = 0;
    auto tick = [&](int steps) {
        for (int i = 0; i < steps; ++i) {
            lkw.Step(0.02);
            const TAString line = lkw.BuildValueLine();
            ASSERT_NO_THROW(fms.ReadValues(line)) << line.str();
            const TAString engineSpeed = fms.Signal(8).Write();
            if (lkw.GetMV("Drehzahl") > 8031.8751) ASSERT_EQ(engineSpeed, "o");
            else ASSERT_NEAR(std::stod(engineSpeed.str()), lkw.GetMV("Drehzahl"), 0.0005);
            nowUs += 20000;
            ASSERT_NO_THROW(fms.GetCanHighs(nowUs));
            ++lines;
        }
    };
    lkw.StartEngine();
    for (int gear = 1; gear <= 8; ++gear) {
        lkw.SetGear(gear);
        tick(200);
    }
    lkw.SetCruiseControl(true);
    tick(500);
    lkw.SetCruiseControl(false);
    lkw.SetAccelerator(0);
    lkw.SetBrake(100);
    lkw.SetClutch(10, true);   // pedal pressed: the switch reads 1
    tick(500);
    lkw.SetGear(0);
    lkw.SetIgnition(false);
    tick(300);
    // The cockpit's extremes: speed typed in at its top in first gear would drive the
    // engine far beyond its scale while the clutch holds; it stops at its limit.
    lkw.SetIgnition(true);
    lkw.SetClutch(100, true);
    lkw.SetGear(1);
    lkw.SetMV("Geschwindigkeit", 250.996);
    tick(100);
    EXPECT_EQ(lkw.GetMV("Drehzahl"), 3500.0);
    lkw.SetMV("Geschwindigkeit", 0);
    lkw.SetMV("Motor:Kuehlmitteltemperatur", -40);
    lkw.SetMV("AmbTemp", -273);
    lkw.SetMV("Year", 2235);
    lkw.SetMV("Kilometerstand", 21055406075.0);
    lkw.SetMV("Verbrauch total", 2105540607.5);
    lkw.SetMV("Motor:Betriebszeit", 210554060.75);
    lkw.SetMV("Fms:Version", 99.99);
    lkw.SetVehicleId(std::string(100, 'V'));
    tick(100);
    EXPECT_EQ(lines, 3100);
}

TEST(TLkw, ValueLineKeepsTheDecimalPointInAnyLocale)
{
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "de_DE"))
        GTEST_SKIP() << "no locale with a decimal comma installed";
    TLkw lkw;
    CockpitModel(lkw);
    lkw.SetMV("Geschwindigkeit", 12.5);
    const auto f = Fields(lkw.BuildValueLine());
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(f[1], "12.5");
}
