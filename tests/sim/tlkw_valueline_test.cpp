// The snapshot of typed values that TLkw hands the Bus-FMS catalogue.

#include "sim/tlkw.h"

#include "fms/tbusfmsstandard.h"
#include "fms/tsignalsnapshot.h"
#include "support/tbaseerror.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>
#include <vector>

namespace {

double Number(const TSignalSnapshot& s, int i)
{
    EXPECT_EQ(s.Entry(i).State, msValid) << i;
    const double* v = std::get_if<double>(&s.Entry(i).Content);
    return v ? *v : std::nan("");
}

uint32_t Index(const TSignalSnapshot& s, int i)
{
    EXPECT_EQ(s.Entry(i).State, msValid) << i;
    const TEnumIndex* v = std::get_if<TEnumIndex>(&s.Entry(i).Content);
    return v ? v->Index : 0xFFFFFFFFu;
}

std::string Bytes(const TSignalSnapshot& s, int i)
{
    EXPECT_EQ(s.Entry(i).State, msValid) << i;
    const TSignalText* v = std::get_if<TSignalText>(&s.Entry(i).Content);
    return v ? v->Bytes : std::string("(no text)");
}

std::string TellTaleDigits(const TSignalSnapshot& s, int i)
{
    const TTellTaleStates* v = std::get_if<TTellTaleStates>(&s.Entry(i).Content);
    std::string digits;
    if (v)
        for (uint8_t state : v->States) digits += static_cast<char>('0' + state);
    return digits;
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

}  // namespace

TEST(TLkw, SnapshotEntriesFollowTheCatalogue)
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

    const TSignalSnapshot& s = lkw.Snapshot();
    EXPECT_EQ(Index(s, 0), 0u);
    // Every number exactly as the model holds it, so that the catalogue rounds the
    // model's own number to the nearest raw value.
    EXPECT_EQ(Number(s, 1), 12.3456);
    EXPECT_EQ(Index(s, 4), 0u);
    EXPECT_EQ(Number(s, 5), 100);
    EXPECT_EQ(Number(s, 6), 7.25);
    EXPECT_EQ(Number(s, 7), 100);
    EXPECT_EQ(Number(s, 8), 1234.5);
    EXPECT_EQ(Number(s, 9), 1.005);
    EXPECT_EQ(Bytes(s, 10), "A_B*");
    EXPECT_EQ(Index(s, 11), 1u);
    EXPECT_EQ(Index(s, 12), 1u);
    EXPECT_EQ(Number(s, 14), 1234.4);
    EXPECT_EQ(Index(s, 20), 6u);
    EXPECT_EQ(Number(s, 27), Number(s, 1));   // the tachograph and the wheel carry the same speed
    EXPECT_EQ(Number(s, 28), 15);
    EXPECT_EQ(Number(s, 29), -12.5);
    EXPECT_EQ(Index(s, 32), 2u);
    EXPECT_EQ(Index(s, 61), 1u);   // open status of door 10
    EXPECT_EQ(Index(s, 62), 0u);
    EXPECT_EQ(Number(s, 63), 59.75);
    EXPECT_EQ(Number(s, 64), 20);
    EXPECT_EQ(Number(s, 67), 9);
    EXPECT_EQ(Number(s, 68), 2009);
    EXPECT_EQ(Number(s, 69), 1000);
    EXPECT_EQ(Number(s, 75), 3);
    EXPECT_EQ(Number(s, 76), 3);
    EXPECT_EQ(Number(s, 77), 400);
    EXPECT_EQ(Bytes(s, 81), "GB_Driver_ID_000001*");
    EXPECT_EQ(Bytes(s, 82), "*");
    EXPECT_EQ(Number(s, 83), 27.5);
    EXPECT_EQ(Number(s, 84), 125.498046875);
    // Past the five characters given, every tell-tale is not available.
    EXPECT_EQ(TellTaleDigits(s, 85), "01237" + std::string(36, '7'));
    // Addressed by the identifiers taken from the catalogue's table.
    EXPECT_EQ(&s.Entry(fmssignal::EngineSpeed), &s.Entry(8));
    EXPECT_EQ(&s.Entry(fmssignal::TellTales), &s.Entry(85));
    EXPECT_EQ(&s.Entry(DoorSignalId(10, fmstable::TDoorStatus::Enable)), &s.Entry(62));
}

TEST(TLkw, SnapshotChangesOnlyWhenAValueDoes)
{
    TLkw lkw;
    CockpitModel(lkw);
    const uint64_t first = lkw.Snapshot().Generation();
    EXPECT_EQ(lkw.Snapshot().Generation(), first);
    lkw.SetMV("Drehzahl", 1500);
    const uint64_t second = lkw.Snapshot().Generation();
    EXPECT_NE(second, first);
    lkw.SetMV("Drehzahl", 1500);
    lkw.SetDriverId1("GB_Driver_ID_000001");   // the same text again
    EXPECT_EQ(lkw.Snapshot().Generation(), second);
    lkw.SetTellTales("1");
    EXPECT_NE(lkw.Snapshot().Generation(), second);
}

TEST(TLkw, SnapshotSwitchesAndVersion)
{
    TLkw lkw;
    CockpitModel(lkw);
    const struct { double clutch, brake; uint32_t clutchSwitch, brakeSwitch; } cases[] = {
        {100, 0, 0, 0}, {50, 50, 0, 0}, {49.9, 50.1, 1, 1}, {0, 100, 1, 1},
    };
    for (const auto& c : cases) {
        lkw.SetClutch(c.clutch, true);
        lkw.SetBrake(c.brake);
        EXPECT_EQ(Index(lkw.Snapshot(), 2), c.clutchSwitch) << c.clutch;
        EXPECT_EQ(Index(lkw.Snapshot(), 3), c.brakeSwitch) << c.brake;
    }
    // The version goes out as four ASCII digits of hundredths, thousands to units:
    // 0.02 is "0002", 12.34 is "1234".
    const struct { double version; const char* field; } versions[] = {
        {0.02, "0002"}, {12.34, "1234"}, {99.99, "9999"}, {0.0, "0000"},
    };
    for (const auto& v : versions) {
        lkw.SetMV("Fms:Version", v.version);
        EXPECT_EQ(Bytes(lkw.Snapshot(), 13), v.field) << v.version;
    }
}

TEST(TLkw, CatalogueTakesTheSnapshot)
{
    TLkw lkw;
    CockpitModel(lkw);
    lkw.SetMV("Drehzahl", 1500.0);
    lkw.SetMV("Geschwindigkeit", 80.0);
    lkw.SetVehicleId("WDB 123");
    TBusFmsStandard fms("00.02");
    ASSERT_NO_THROW(fms.Apply(lkw.Snapshot()));
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

TEST(TLkw, ValuesBeyondTheirFieldsAreHandedOverAsTheyAre)
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
    lkw.SetMV("TCO:D1 Karte", INFINITY);
    lkw.SetVehicleId("");
    lkw.SetDriverId1(std::string(30, 'x'));
    lkw.SetDriverId2("AB*CD");
    lkw.SetTellTales("9:");
    const TSignalSnapshot& s = lkw.Snapshot();
    EXPECT_EQ(Number(s, 8), 29166.7);
    EXPECT_EQ(Number(s, 1), -0.0001);
    EXPECT_EQ(Number(s, 68), 0);
    EXPECT_EQ(Number(s, 29), -99999.0);
    EXPECT_TRUE(std::isnan(Number(s, 14)));
    EXPECT_EQ(Index(s, 16), 300u);
    EXPECT_EQ(Index(s, 17), 0u);
    EXPECT_EQ(s.Entry(19).State, msError);   // no index is nearest to infinity
    EXPECT_EQ(s.Entry(10).State, msNotSet);  // "*" alone is shorter than a VIN can be
    EXPECT_EQ(s.Entry(81).State, msError);   // 30 characters do not fit the field: an error, never cut
    EXPECT_EQ(s.Entry(82).State, msError);   // a "*" inside would end the field early
    EXPECT_EQ(TellTaleDigits(s, 85), std::string(41, '7'));

    TBusFmsStandard fms("00.02");
    ASSERT_NO_THROW(fms.Apply(s));
    EXPECT_EQ(fms.Signal(8).MeasVal->State, msOutOfRange);
    EXPECT_EQ(fms.Signal(68).MeasVal->State, msOutOfRange);
    EXPECT_EQ(fms.Signal(14).MeasVal->State, msError);
    EXPECT_EQ(fms.Signal(16).MeasVal->State, msOutOfRange);
    EXPECT_EQ(fms.Signal(10).MeasVal->State, msNotSet);
    EXPECT_EQ(fms.Signal(1).MeasVal->State, msOutOfRange);
    EXPECT_EQ(fms.Signal(81).MeasVal->State, msError);
    EXPECT_EQ(fms.Signal(19).MeasVal->State, msError);

    lkw.SetTellTales("");   // no tell-tales: every one reads as not available
    EXPECT_EQ(TellTaleDigits(lkw.Snapshot(), 85), std::string(41, '7'));
    ASSERT_NO_THROW(fms.Apply(lkw.Snapshot()));
}

TEST(TLkw, EverySnapshotOfADriveCycleIsAccepted)
{
    TLkw lkw;
    CockpitModel(lkw);
    TBusFmsStandard fms("00.02");
    int64_t nowUs = 0;
    int lines = 0;
    auto tick = [&](int steps) {
        for (int i = 0; i < steps; ++i) {
            lkw.Step(0.02);
            ASSERT_NO_THROW(fms.Apply(lkw.Snapshot()));
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

TEST(TLkw, SnapshotKeepsTheNumberInAnyLocale)
{
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "de_DE"))
        GTEST_SKIP() << "no locale with a decimal comma installed";
    TLkw lkw;
    CockpitModel(lkw);
    lkw.SetMV("Geschwindigkeit", 12.5);
    TBusFmsStandard fms("00.02");
    fms.Apply(lkw.Snapshot());
    const TAString shown = fms.Signal(1).Write();
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(shown, "12.500");
}
