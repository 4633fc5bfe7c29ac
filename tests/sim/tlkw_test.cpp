#include "sim/tlkw.h"

#include "support/tbaseerror.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

namespace {

constexpr double MaxEconomy = 125.498046875;

TBaseError CatchError(auto&& action)
{
    try {
        action();
    } catch (const TBaseError& e) {
        return e;
    }
    ADD_FAILURE() << "no TBaseError";
    return {};
}

// The cockpit's controls at creation: accelerator 100 %, brake 0, clutch engaged with
// auto-clutch, gear 1, ignition on; then the starter.
void CockpitStart(TLkw& lkw)
{
    lkw.SetAccelerator(100);
    lkw.SetBrake(0);
    lkw.SetClutch(100, true);
    lkw.SetGear(1);
    lkw.SetIgnition(true);
    lkw.StartEngine();
}

}  // namespace

// ---- registry --------------------------------------------------------------------

TEST(TLkw, OwnValuesStartAtTheirInitialValues)
{
    TLkw lkw;
    EXPECT_EQ(lkw.Count(), 23);
    EXPECT_TRUE(lkw.IsInitialised());
    const struct { const char* name; double value; } initial[] = {
        {"Geschwindigkeit", 0}, {"Kilometerstand", 0}, {"Drehzahl", 0}, {"Drehzahlstand", 0},
        {"Gang", 1}, {"Gaspedal", 100}, {"Bremspedal", 0}, {"Kupplungspedal", 100},
        {"Tankinhalt", 100}, {"Motormoment", 0}, {"Verbrauch total", 0}, {"Verbrauch 100Km", 0},
        {"Laengengrad", 600}, {"Breitengrad", 2880}, {"Kurs ueber Grund", 0}, {"Tempomat", 0},
        {"Zuendung", 1}, {"Service distanz", 0}, {"Motor:Betriebszeit", 0},
        {"Motor:Kuehlmitteltemperatur", 20}, {"Gewicht", 6000}, {"FURA", 0}, {"IFEff", 0},
    };
    for (const auto& v : initial) EXPECT_EQ(lkw.GetMV(v.name), v.value) << v.name;
}

TEST(TLkw, NamesAreExactAndFirstMatchWins)
{
    TLkw lkw;
    EXPECT_EQ(lkw.GetMV("geschwindigkeit"), -9999999999.0);
    EXPECT_EQ(lkw.GetMV("Gang "), -9999999999.0);
    lkw.SetMV("Nirgendwo", 5.0);   // ignored
    EXPECT_EQ(lkw.Count(), 23);

    lkw.AddMV("Drehzahl", 77.0);
    EXPECT_EQ(lkw.GetMV("Drehzahl"), 0.0);
    lkw.SetMV("Drehzahl", 1500.0);
    EXPECT_EQ(lkw.GetMV("Drehzahl"), 1500.0);

    lkw.AddMV("AmbTemp", 22.5);
    EXPECT_EQ(lkw.GetMV("AmbTemp"), 22.5);
    lkw.SetMV("AmbTemp", -3.0);
    EXPECT_EQ(lkw.GetMV("AmbTemp"), -3.0);
}

TEST(TLkw, EntriesAndValueLineFieldsAreNamed)
{
    TLkw lkw;
    lkw.AddMV("AmbTemp", 22.5);
    EXPECT_EQ(lkw.Name(0), "Geschwindigkeit");
    EXPECT_EQ(lkw.Name(22), "IFEff");
    EXPECT_EQ(lkw.Name(23), "AmbTemp");
    EXPECT_EQ(lkw.Name(24), "");
    EXPECT_EQ(lkw.Name(-1), "");
    // Field 5 of the line is the accelerator pedal position, 29 the ambient
    // temperature, 85 the tell-tales; the line has 86 fields.
    EXPECT_EQ(TLkw::LineName(5), "Gaspedal");
    EXPECT_EQ(TLkw::LineName(29), "AmbTemp");
    EXPECT_EQ(TLkw::LineName(85), "TellTail");
    EXPECT_EQ(TLkw::LineName(86), "");
    EXPECT_EQ(TLkw::LineName(-1), "");
}

TEST(TLkw, RegistryHoldsAtMostOneHundredValues)
{
    TLkw lkw;
    for (int i = 0; i < 76; ++i) lkw.AddMV(std::string("X").append(std::to_string(i)), i);
    EXPECT_EQ(lkw.Count(), 99);

    TBaseError full = CatchError([&] { lkw.AddMV("Last", 1.5); });
    EXPECT_EQ(full.Operation(), "TLkw::AddMV");
    EXPECT_EQ(full.Message(), "Max100MV");
    EXPECT_EQ(lkw.Count(), 100);
    EXPECT_EQ(lkw.GetMV("Last"), 1.5);   // stored before the error

    TBaseError beyond = CatchError([&] { lkw.AddMV("Beyond", 2.5); });
    EXPECT_EQ(beyond.Message(), "Max100MV");
    EXPECT_EQ(lkw.Count(), 100);
    EXPECT_EQ(lkw.GetMV("Beyond"), -9999999999.0);
}

// ---- parameters ------------------------------------------------------------------

TEST(TLkw, InitRefusesEveryMissingParameter)
{
    for (int missing = 0; missing < 5; ++missing) {
        TLkw lkw;
        TLkw::TParameterTexts texts = TLkw::BuiltInParameters();
        TAString* fields[] = {&texts.TorqueMap, &texts.FuelRateMap, &texts.Set1, &texts.GearRatios, &texts.Set2};
        *fields[missing] = "";
        TBaseError e = CatchError([&] { lkw.Init(texts); });
        EXPECT_EQ(e.Operation(), "TLkw::Init") << missing;
        EXPECT_EQ(e.Message(), "Parameter Missing") << missing;
    }
}

TEST(TLkw, InitResetsTheOperatingState)
{
    TLkw lkw;
    lkw.SetMV("Gewicht", 10000.0);
    lkw.SetMV("Tankinhalt", 3.0);
    lkw.SetMV("Kilometerstand", 1234.0);
    lkw.SetMV("Laengengrad", 1.0);
    lkw.Init();
    EXPECT_EQ(lkw.GetMV("Gewicht"), 6000.0);
    EXPECT_EQ(lkw.GetMV("Tankinhalt"), 100.0);
    EXPECT_EQ(lkw.GetMV("Kilometerstand"), 0.0);
    EXPECT_EQ(lkw.GetMV("Laengengrad"), 600.0);
}

TEST(TLkw, UnparseableMapStaysZeroWithoutError)
{
    TLkw lkw;
    TLkw::TParameterTexts texts = TLkw::BuiltInParameters();
    texts.FuelRateMap = "Nx 1 Ny 5 1 2 3 4 5";
    EXPECT_NO_THROW(lkw.Init(texts));
    EXPECT_EQ(lkw.FuelRateMap(100, 100), 0.0);
    EXPECT_EQ(lkw.FuelRateMap(50, 57), 0.0);
    EXPECT_EQ(lkw.TorqueMap(100, 57), 99.0);
}

TEST(TLkw, BuiltInMapsAndGearRatios)
{
    TLkw lkw;
    // Source points of the torque and fuel-rate maps.
    EXPECT_EQ(lkw.TorqueMap(100, 57), 99.0);
    EXPECT_EQ(lkw.TorqueMap(100, 100), -8.0);
    EXPECT_EQ(lkw.TorqueMap(50, 85), 0.0);
    EXPECT_EQ(lkw.FuelRateMap(100, 100), 99.0);
    EXPECT_EQ(lkw.FuelRateMap(75, 42), 35.0);
    EXPECT_EQ(lkw.FuelRateMap(0, 14), 5.0);
    // Below 5 % engine speed the torque is -20 whatever the pedal; from 5 % the map.
    for (int a : {0, 37, 100})
        for (int e = 0; e <= 4; ++e) EXPECT_EQ(lkw.TorqueMap(a, e), -20.0) << a << " " << e;
    EXPECT_NEAR(lkw.TorqueMap(0, 5), 10.0 - 10.0 * 5 / 14, 1e-12);
    EXPECT_NEAR(lkw.TorqueMap(100, 7), 40.0, 1e-12);

    const double ratios[] = {0.0, 5.0, 3.5, 2.5, 2.0, 1.7, 1.4, 1.2, 1.0};
    for (int g = 0; g <= 8; ++g) EXPECT_EQ(lkw.GearRatio(g), ratios[g]) << g;
}

// ---- setters ---------------------------------------------------------------------

TEST(TLkw, VehicleIdReplacesBlanksAndLineBreaks)
{
    TLkw lkw;
    lkw.SetVehicleId("A B");
    EXPECT_EQ(lkw.GetVehicleId(), "A_B");
    lkw.SetVehicleId(" X\r\nY ");
    EXPECT_EQ(lkw.GetVehicleId(), "_X__Y_");
    lkw.SetDriverId1("D 1");   // driver identifications are kept as given
    EXPECT_EQ(lkw.GetDriverId1(), "D 1");
}

TEST(TLkw, StartEngineTurnsAt245)
{
    TLkw lkw;
    lkw.StartEngine();
    EXPECT_EQ(lkw.GetMV("Drehzahl"), 245.0);
}

// ---- step ------------------------------------------------------------------------

TEST(TLkw, IdleHoldKeepsATurningEngineAt300)
{
    // 245 rpm, pedal released, gear 1 at standstill: torque at 7 % is 5, the clutch holds
    // and pulls the engine toward 0 by 100 rpm per step (145 rpm).
    for (bool autoClutch : {true, false}) {
        TLkw lkw;
        lkw.SetAccelerator(0);
        lkw.SetClutch(100, autoClutch);
        lkw.StartEngine();
        lkw.Step(0.02);
        EXPECT_DOUBLE_EQ(lkw.GetMV("Drehzahl"), autoClutch ? 300.0 : 145.0);
    }
    // 35 rpm is 1 % of maximum: held. 34 rpm is 0 %: the engine stalls.
    for (double start : {35.0, 34.0}) {
        TLkw lkw;
        lkw.SetAccelerator(0);
        lkw.SetClutch(100, true);
        lkw.SetMV("Drehzahl", start);
        lkw.Step(0.02);
        EXPECT_EQ(lkw.GetMV("Drehzahl"), start == 35.0 ? 300.0 : 0.0) << start;
    }
    // No hold with the ignition off.
    TLkw off;
    off.SetAccelerator(0);
    off.SetClutch(100, true);
    off.SetIgnition(false);
    off.StartEngine();
    off.Step(0.02);
    EXPECT_LT(off.GetMV("Drehzahl"), 300.0);
}

TEST(TLkw, IgnitionOffRunsTheEngineDownWhileRolling)
{
    TLkw lkw;
    lkw.SetGear(0);
    lkw.SetAccelerator(100);
    lkw.SetIgnition(false);
    lkw.SetMV("Geschwindigkeit", 50.0);
    lkw.SetMV("Drehzahl", 1000.0);
    // Torque -20 %, clutch open: the engine loses 60 * 0.02 * 20 = 24 rpm per step.
    lkw.Step(0.02);
    EXPECT_EQ(lkw.GetMV("Motormoment"), -20.0);
    EXPECT_DOUBLE_EQ(lkw.GetMV("Drehzahl"), 976.0);
    for (int i = 1; i < 42; ++i) lkw.Step(0.02);   // 1000 / 24 -> stopped after 42 steps
    EXPECT_EQ(lkw.GetMV("Drehzahl"), 0.0);

    const double level = lkw.GetMV("Tankinhalt");
    const double used = lkw.GetMV("Verbrauch total");
    const double hours = lkw.GetMV("Motor:Betriebszeit");
    lkw.Step(0.02);
    EXPECT_EQ(lkw.GetMV("FURA"), 0.0);
    EXPECT_EQ(lkw.GetMV("Verbrauch 100Km"), 0.0);
    EXPECT_EQ(lkw.GetMV("IFEff"), MaxEconomy);
    EXPECT_EQ(lkw.GetMV("Drehzahl"), 0.0);
    EXPECT_EQ(lkw.GetMV("Tankinhalt"), level);
    EXPECT_EQ(lkw.GetMV("Verbrauch total"), used);
    EXPECT_EQ(lkw.GetMV("Motor:Betriebszeit"), hours);
    EXPECT_GT(lkw.GetMV("Geschwindigkeit"), 45.0);

    lkw.SetMV("Geschwindigkeit", 0.5);   // below 1 km/h the economy reads 0
    lkw.Step(0.02);
    EXPECT_EQ(lkw.GetMV("IFEff"), 0.0);
}

TEST(TLkw, NeutralRevsFreelyAndOnlySlowsTheVehicle)
{
    TLkw lkw;
    lkw.SetGear(0);
    lkw.SetAccelerator(100);
    lkw.SetClutch(100, true);
    lkw.StartEngine();
    lkw.SetMV("Geschwindigkeit", 30.0);
    double v = 30.0;
    double highest = 0.0;
    for (int i = 0; i < 500; ++i) {
        lkw.Step(0.02);
        EXPECT_LE(lkw.GetMV("Geschwindigkeit"), v);
        v = lkw.GetMV("Geschwindigkeit");
        highest = std::max(highest, lkw.GetMV("Drehzahl"));
    }
    // Full-pedal torque is positive up to 98 % of maximum speed and negative from 99 %.
    EXPECT_LE(highest, 3500.0);
    EXPECT_GE(lkw.GetMV("Drehzahl"), 3430.0 - 60 * 0.02 * 8);
    EXPECT_LT(v, 30.0);

    // Above the maximum the free engine is capped at 3500 at once.
    lkw.SetMV("Drehzahl", 5000.0);
    lkw.Step(0.02);
    EXPECT_EQ(lkw.GetMV("Drehzahl"), 3500.0);
}

TEST(TLkw, EmptyTankIsRefilled)
{
    TLkw lkw;
    lkw.SetMV("Drehzahl", 1000.0);   // 28 %: full-pedal fuel rate 35 l/h
    lkw.SetMV("Tankinhalt", 0.0001);
    lkw.Step(0.02);
    EXPECT_EQ(lkw.GetMV("FURA"), 35.0);
    EXPECT_EQ(lkw.GetMV("Tankinhalt"), 100.0);
    EXPECT_DOUBLE_EQ(lkw.GetMV("Verbrauch total"), 35.0 * 0.02 / 3600);
}

TEST(TLkw, ConsumptionAndEconomyAreCapped)
{
    TLkw lkw;
    lkw.SetMV("Drehzahl", 1000.0);   // fuel rate 35 l/h at full pedal
    lkw.SetMV("Geschwindigkeit", 2.0);
    lkw.Step(0.02);
    EXPECT_EQ(lkw.GetMV("Verbrauch 100Km"), 1000.0);   // 35 / 2 * 100 = 1750
    EXPECT_DOUBLE_EQ(lkw.GetMV("IFEff"), 2.0 / 35.0);

    lkw.SetMV("Drehzahl", 1000.0);
    lkw.SetMV("Geschwindigkeit", 50.0);
    lkw.Step(0.02);
    EXPECT_DOUBLE_EQ(lkw.GetMV("Verbrauch 100Km"), 70.0);
    EXPECT_DOUBLE_EQ(lkw.GetMV("IFEff"), 50.0 / 35.0);

    TLkw idle;   // at 0 % engine speed and no pedal the fuel rate is 0 l/h
    idle.SetAccelerator(0);
    idle.SetGear(0);
    idle.SetMV("Drehzahl", 10.0);
    idle.Step(0.02);
    EXPECT_EQ(idle.GetMV("FURA"), 0.0);
    EXPECT_EQ(idle.GetMV("IFEff"), MaxEconomy);
    EXPECT_EQ(idle.GetMV("Verbrauch 100Km"), 1000.0);
}

TEST(TLkw, CruiseControlIsAPiControllerOnThePedal)
{
    TLkw lkw;
    lkw.SetGear(8);
    lkw.SetAccelerator(30);
    lkw.SetMV("Drehzahl", 1000.0);
    lkw.SetMV("Geschwindigkeit", 50.1);
    lkw.SetCruiseControl(true);   // set speed 50.1, integral 30
    lkw.SetMV("Geschwindigkeit", 50.0);
    lkw.Step(0.02);
    // k = 6000 / (6000 * 1.0) = 1; integral 30 + 0.1 * 40 * 0.02; pedal 0.1 * 100 + integral
    EXPECT_NEAR(lkw.GetMV("Gaspedal"), 40.08, 1e-9);
}

TEST(TLkw, CruiseControlDoesNothingInNeutral)
{
    TLkw lkw;
    lkw.SetGear(0);
    lkw.SetAccelerator(30);
    lkw.SetMV("Drehzahl", 1000.0);
    lkw.SetMV("Geschwindigkeit", 80.0);
    lkw.SetCruiseControl(true);
    lkw.SetMV("Geschwindigkeit", 10.0);
    lkw.Step(0.02);
    EXPECT_EQ(lkw.GetMV("Gaspedal"), 30.0);
}

TEST(TLkw, GearsOutsideTheTableAreSafe)
{
    TLkw lkw;
    lkw.SetMV("Drehzahl", 1000.0);
    lkw.SetMV("Geschwindigkeit", 20.0);
    for (double gear : {-1.0, 0.5, 9.0, 250.0}) {
        lkw.SetMV("Gang", gear);
        lkw.SetCruiseControl(true);
        lkw.Step(0.02);
        EXPECT_TRUE(std::isfinite(lkw.GetMV("Geschwindigkeit"))) << gear;
        EXPECT_TRUE(std::isfinite(lkw.GetMV("Drehzahl"))) << gear;
        EXPECT_TRUE(std::isfinite(lkw.GetMV("Gaspedal"))) << gear;
    }
}

// ---- trajectories ----------------------------------------------------------------

namespace {

// An independent working of the model for the cockpit's start: full pedal, gear 1,
// clutch engaged with auto-clutch, ignition on. Maps are evaluated straight from the
// 8 x 5 source points (columns at c * 100 / 7 %, rows every 25 %), not from a grid.
struct TReference {
    static constexpr double TorqueSrc[5][8] = {
        {10, 0, -20, -30, -40, -50, -55, -60},
        {15, 20, 30, 28, 0, -15, -30, -50},
        {20, 40, 55, 60, 50, 35, 0, -20},
        {25, 50, 60, 70, 82, 80, 65, -8},
        {30, 50, 75, 90, 99, 90, 75, -8},
    };
    static constexpr double FuelSrc[5][8] = {
        {0, 5, 0, 0, 0, 0, 0, 0},
        {0, 5, 8, 12, 15, 18, 10, 25},
        {0, 10, 16, 24, 30, 36, 50, 50},
        {0, 15, 25, 35, 45, 55, 65, 75},
        {0, 20, 35, 55, 70, 80, 90, 99},
    };

    static double Map(const double (&src)[5][8], int a, int e)
    {
        auto column = [&](int c) {
            const int r = a / 25;
            if (r >= 4) return src[4][c];
            return src[r][c] + (src[r + 1][c] - src[r][c]) * (a - 25 * r) / 25.0;
        };
        for (int c = 0; c < 7; ++c) {
            const int from = c * 100 / 7;
            const int to = (c + 1) * 100 / 7;
            if (e <= to) return column(c) + (column(c + 1) - column(c)) * (e - from) / (to - from);
        }
        return column(7);
    }

    double v = 0.0;       // km/h
    double n = 245.0;     // rpm, after the starter
    double distance = 0.0;
    double fuel = 0.0;

    void Step(double dt)
    {
        const double mass = 6000.0;
        const double ratio = 5.0;   // gear 1; top gear 1.0
        const int e = std::clamp(static_cast<int>(100.0 * n / 3500.0), 0, 100);
        const int a = 100;
        const double torque = e < 5 ? -20.0 : Map(TorqueSrc, a, e);
        if (n != 0.0) fuel += Map(FuelSrc, a, e) * dt / 3600.0;
        const double clutch = 100.0;
        double transmitted;
        if (std::fabs(torque) < clutch) {
            const double target = ratio * v / 1.0 / 150.0 * 3500.0;
            n = target <= n ? std::max(target, n - clutch * 50 * dt) : std::min(target, n + clutch * 50 * dt);
            transmitted = torque;
        } else {
            n += (torque > 0 ? 1 : -1) * 60 * dt * (std::fabs(torque) - clutch);
            transmitted = torque > 0 ? clutch : -clutch;
        }
        n = std::min(n, 3500.0);   // the limit holds whichever way the clutch works
        n = std::max(n, 0.0);
        if (n < 300.0 && e != 0) n = 300.0;
        const double force = transmitted * 1000.0 * ratio * 0.25 / (2 * std::numbers::pi) - 0.1 * v * v - 0.2 * mass;
        v = std::max(0.0, v + force / mass * dt * 3.6);
        distance += v / 3.6 * dt;
    }
};

}  // namespace

TEST(TLkw, FirstStepFromTheCockpitStart)
{
    TLkw lkw;
    CockpitStart(lkw);
    lkw.Step(0.02);
    // 7 % engine speed, full pedal: torque 40 %, drive force 40 * 1000 * 5 * 0.25 / (2 pi)
    // = 7957.75 N against 1200 N rolling resistance on 6000 kg.
    EXPECT_NEAR(lkw.GetMV("Motormoment"), 40.0, 1e-12);
    EXPECT_NEAR(lkw.GetMV("Geschwindigkeit"), (50000.0 / (2 * std::numbers::pi) - 1200.0) / 6000.0 * 0.072, 1e-12);
    EXPECT_EQ(lkw.GetMV("Drehzahl"), 300.0);   // pulled toward 0 by the clutch, held at idle
    EXPECT_NEAR(lkw.GetMV("FURA"), 10.0, 1e-12);   // halfway between 0 and 20 l/h
}

TEST(TLkw, ThirtySecondsFromTheCockpitStartFollowTheReference)
{
    TLkw lkw;
    CockpitStart(lkw);
    TReference ref;
    for (int i = 1; i <= 1500; ++i) {
        lkw.Step(0.02);
        ref.Step(0.02);
        if (i % 50 != 0) continue;
        ASSERT_NEAR(lkw.GetMV("Geschwindigkeit"), ref.v, 1e-6 + 1e-9 * ref.v) << "t=" << i * 0.02;
        ASSERT_NEAR(lkw.GetMV("Drehzahl"), ref.n, 1e-6 + 1e-9 * ref.n) << "t=" << i * 0.02;
        ASSERT_NEAR(lkw.GetMV("Kilometerstand"), ref.distance, 1e-6 + 1e-9 * ref.distance) << "t=" << i * 0.02;
        ASSERT_NEAR(lkw.GetMV("Verbrauch total"), ref.fuel, 1e-9) << "t=" << i * 0.02;
    }
    // In first gear the engine tops out where full-pedal torque meets the resistance.
    EXPECT_GT(ref.v, 25.0);
    EXPECT_LT(ref.n, 3500.0);
    EXPECT_NEAR(lkw.GetMV("Tankinhalt"), 100.0 - ref.fuel, 1e-9);
}

namespace {

// A whole drive: start, full pedal through the gears shifting at 3000 rpm (each gear for at
// least half a second), cruise control at top gear, then brake to a stop. Calls check
// after every step.
template <class Check>
void DriveCycle(TLkw& lkw, Check check)
{
    CockpitStart(lkw);
    auto run = [&](int steps) {
        for (int i = 0; i < steps; ++i) {
            lkw.Step(0.02);
            check(lkw);
        }
    };
    for (int gear = 1; gear <= 8; ++gear) {
        lkw.SetGear(gear);
        for (int i = 0; i < 3000 && (i < 25 || lkw.GetMV("Drehzahl") < 3000.0); ++i) run(1);
    }
    run(500);
    lkw.SetCruiseControl(true);
    run(3000);
    lkw.SetCruiseControl(false);
    lkw.SetAccelerator(0);
    lkw.SetBrake(100);
    run(1000);
    lkw.SetGear(0);
    lkw.SetIgnition(false);
    run(500);
}

}  // namespace

TEST(TLkw, DriveCycleStaysPlausible)
{
    TLkw lkw;
    double distance = 0.0;
    double used = 0.0;
    double level = 100.0;
    double revolutions = 0.0;
    double topSpeed = 0.0;
    DriveCycle(lkw, [&](const TLkw& m) {
        const double v = m.GetMV("Geschwindigkeit");
        const double n = m.GetMV("Drehzahl");
        ASSERT_GE(v, 0.0);
        ASSERT_GE(n, 0.0);
        ASSERT_GE(m.GetMV("Kilometerstand"), distance);
        ASSERT_GE(m.GetMV("Verbrauch total"), used);
        ASSERT_LE(m.GetMV("Tankinhalt"), level);
        ASSERT_GE(m.GetMV("Drehzahlstand"), revolutions);
        ASSERT_GE(m.GetMV("Gaspedal"), 0.0);
        ASSERT_LE(m.GetMV("Gaspedal"), 100.0);
        ASSERT_LE(m.GetMV("Verbrauch 100Km"), 1000.0);
        ASSERT_LE(m.GetMV("IFEff"), 125.498046875);
        distance = m.GetMV("Kilometerstand");
        used = m.GetMV("Verbrauch total");
        level = m.GetMV("Tankinhalt");
        revolutions = m.GetMV("Drehzahlstand");
        topSpeed = std::max(topSpeed, v);
    });
    EXPECT_GT(topSpeed, 60.0);
    EXPECT_EQ(lkw.GetMV("Geschwindigkeit"), 0.0);
    EXPECT_EQ(lkw.GetMV("Drehzahl"), 0.0);
    EXPECT_GT(distance, 1000.0);
    EXPECT_GT(used, 0.0);
}

// ---- drives worked by hand ---------------------------------------------------------

TEST(TLkw, BrakingFromSpeedInNeutral)
{
    // 6000 kg at 80 km/h, full brake, no drive: each step loses
    // (0.1 v^2 + 0.2 * 6000 + 0.05 * 6000 * 100) / 6000 * 0.02 * 3.6 = 0.3744 + 1.2e-6 v^2 km/h,
    // between 0.3744 (at rest) and 0.38208 (at 80 km/h).
    TLkw lkw;
    lkw.SetGear(0);
    lkw.SetAccelerator(0);
    lkw.SetBrake(100);
    lkw.SetMV("Geschwindigkeit", 80.0);
    lkw.Step(0.02);
    EXPECT_NEAR(lkw.GetMV("Geschwindigkeit"), 80.0 - 0.38208, 1e-9);
    EXPECT_NEAR(lkw.GetMV("Kilometerstand"), 79.61792 / 3.6 * 0.02, 1e-9);
    EXPECT_NEAR(lkw.GetMV("Service distanz"), -79.61792 / 3600 * 0.02, 1e-12);

    // Still rolling after 80 / 0.38208 = 209.4 steps, stopped after 80 / 0.3744 = 213.7.
    int steps = 1;
    while (lkw.GetMV("Geschwindigkeit") > 0.0 && steps < 1000) {
        lkw.Step(0.02);
        ++steps;
    }
    EXPECT_GE(steps, 210);
    EXPECT_LE(steps, 214);
    // The distance lies between the sums of 80 - 0.38208 k over 209 steps and of
    // 80 - 0.3744 k over 213 steps, times 0.02 / 3.6: 46.31 m and 47.26 m.
    const double metres = lkw.GetMV("Kilometerstand");
    EXPECT_GT(metres, 46.3);
    EXPECT_LT(metres, 47.3);
    // The distance to service shrinks by the same distance, in km.
    EXPECT_NEAR(lkw.GetMV("Service distanz"), -metres / 1000.0, 1e-12);
}

TEST(TLkw, AnHourAtIdle)
{
    // Gear 1 at rest, clutch engaged with auto-clutch, no pedal, engine at 300 rpm (8 %).
    // Torque T = 10 - 10 * 8 / 14 = 30/7 %: the clutch holds and pulls the engine toward
    // 0 by 100 rpm, the idle hold puts it back to 300; drive 30/7 * 1000 * 5 * 0.25 / 2pi =
    // 853 N stays below the 1200 N rolling resistance, so the vehicle does not move.
    TLkw lkw;
    lkw.SetGear(1);
    lkw.SetAccelerator(0);
    lkw.SetClutch(100, true);
    lkw.SetMV("Drehzahl", 300.0);
    for (int i = 0; i < 180000; ++i) lkw.Step(0.02);   // 3600 s

    EXPECT_EQ(lkw.GetMV("Drehzahl"), 300.0);
    EXPECT_EQ(lkw.GetMV("Geschwindigkeit"), 0.0);
    EXPECT_NEAR(lkw.GetMV("Motor:Betriebszeit"), 1.0, 1e-9);
    EXPECT_NEAR(lkw.GetMV("Drehzahlstand"), 300.0 * 60, 1e-5);
    // 30/7 * 300 * 0.01 / 3500 * 0.02 = 0.18 / 2450 degrees per step, 180000 steps.
    EXPECT_NEAR(lkw.GetMV("Motor:Kuehlmitteltemperatur"), 20.0 + 32400.0 / 2450.0, 1e-8);
    // Fuel rate 5 * 8 / 14 = 20/7 l/h for an hour.
    EXPECT_NEAR(lkw.GetMV("FURA"), 20.0 / 7.0, 1e-12);
    EXPECT_NEAR(lkw.GetMV("Verbrauch total"), 20.0 / 7.0, 1e-9);
    EXPECT_EQ(lkw.GetMV("Kilometerstand"), 0.0);
}

TEST(TLkw, WarmUpAtFullLoadStopsAt120Degrees)
{
    // The engine held at 2000 rpm (57 %) in neutral at full pedal, as on a test bench:
    // torque 99 %, the free engine gains 60 * 0.02 * 99 = 118.8 rpm in the step, and the
    // coolant 99 * 2118.8 * 0.01 / 3500 * 0.02 = 0.0119863542857 degrees per step from 20:
    // 120 is passed at step 100 / 0.0119863542857 = 8342.8.
    const double perStep = 99.0 * 2118.8 * 0.01 / 3500.0 * 0.02;
    TLkw lkw;
    lkw.SetGear(0);
    lkw.SetAccelerator(100);
    int steps = 0;
    auto runTo = [&](int n) {
        for (; steps < n; ++steps) {
            lkw.SetMV("Drehzahl", 2000.0);
            lkw.Step(0.02);
        }
        return lkw.GetMV("Motor:Kuehlmitteltemperatur");
    };
    EXPECT_NEAR(runTo(1000), 31.9863542857, 1e-9);
    EXPECT_NEAR(runTo(8342), 119.9901674514, 1e-9);
    EXPECT_NEAR(runTo(8343), 20.0 + 8343 * perStep, 1e-9);
    EXPECT_GE(lkw.GetMV("Motor:Kuehlmitteltemperatur"), 120.0);
    EXPECT_NEAR(runTo(9000), 20.0 + 8343 * perStep, 1e-9);   // no further once at 120
}

TEST(TLkw, CruiseControlRecoversFromALoadChange)
{
    // Top gear (ratio 1): k = mass / 6000 is at least 1. With the integral term kept
    // within 0..100 the pedal d * 100 * k + integral is at 100 whenever the vehicle is
    // 1 km/h or more below its set speed (d >= 1) and at 0 whenever 1 km/h or more above.
    TLkw lkw;
    CockpitStart(lkw);
    for (int gear = 1; gear <= 8; ++gear) {
        lkw.SetGear(gear);
        for (int i = 0; i < 3000 && (i < 25 || lkw.GetMV("Drehzahl") < 2500.0); ++i) lkw.Step(0.02);
    }
    const double set = lkw.GetMV("Geschwindigkeit");
    lkw.SetCruiseControl(true);
    double lowest = set;
    double highest = set;
    auto run = [&](int steps) {
        for (int i = 0; i < steps; ++i) {
            const double v = lkw.GetMV("Geschwindigkeit");
            lkw.Step(0.02);
            if (v <= set - 1.0) {
                ASSERT_EQ(lkw.GetMV("Gaspedal"), 100.0) << v;
            }
            if (v >= set + 1.0) {
                ASSERT_EQ(lkw.GetMV("Gaspedal"), 0.0) << v;
            }
            lowest = std::min(lowest, v);
            highest = std::max(highest, v);
        }
    };
    run(500);
    lkw.SetMV("Gewicht", 30000.0);   // a full load: full pedal cannot hold the speed
    run(1000);
    EXPECT_LT(lowest, set - 5.0);
    lkw.SetMV("Gewicht", 6000.0);
    run(3000);
    EXPECT_NEAR(lkw.GetMV("Geschwindigkeit"), set, 1.0);
    EXPECT_GT(lkw.GetMV("Gaspedal"), 0.0);
    EXPECT_LT(lkw.GetMV("Gaspedal"), 100.0);
    // Once 1 km/h over, the pedal is released: one step adds far less than another km/h.
    EXPECT_LT(highest, set + 2.0);
}
