#pragma once
// The simulated vehicle: a registry of named values (German names, fixed for the whole
// program), a simple longitudinal vehicle and engine model advanced by Step, and the
// snapshot that hands every signal value to the Bus-FMS catalogue, typed.
//
// Units: speed km/h, engine speed rpm, distance m, fuel l and l/h, fuel level and pedals
// in percent, temperatures in degrees Celsius, engine hours h, mass kg, time s.

#include "fms/tsignalsnapshot.h"
#include "sim/tdateclock.h"
#include "support/tastring.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class TLkw {
public:
    static constexpr int MaxValues = 100;
    // GetMV's answer for a name that no entry has.
    static constexpr double NoValue = -9999999999.0;
    // Highest instantaneous fuel economy the signal can carry, km/l.
    static constexpr double MaxFuelEconomy = 125.498046875;

    // The texts Init parses. The built-in ones are the model's own; an empty text counts
    // as missing.
    struct TParameterTexts {
        TAString TorqueMap;      // "Nx 8 Ny 5 ..." percent of maximum torque
        TAString FuelRateMap;    // "Nx 8 Ny 5 ..." l/h
        TAString Set1;           // four numbers, stored only
        TAString GearRatios;     // eight ratios, gears 1 to 8
        TAString Set2;           // four numbers, stored only
    };
    static TParameterTexts BuiltInParameters();

    // Builds the registry with the model's 23 own values and initialises from the
    // built-in parameters.
    TLkw();
    ~TLkw();
    TLkw(const TLkw&) = delete;
    TLkw& operator=(const TLkw&) = delete;

    // Parses the maps and parameter sets and puts the model into its initial
    // operating state (mass 6000 kg, full tank, distance 0).
    // Throws TBaseError("TLkw::Init", "Parameter Missing") when a text is empty.
    void Init();
    void Init(const TParameterTexts& texts);
    bool IsInitialised() const { return initialised_; }

    // Appends a named value. The registry holds at most 100: the 100th is stored and then
    // TBaseError("TLkw::AddMV", "Max100MV") is thrown; on a full registry nothing is
    // stored and the same error is thrown.
    void AddMV(const TAString& name, double initial);
    int Count() const { return count_; }
    // The name of entry index, 0 .. Count() - 1; empty outside.
    TAString Name(int index) const;
    // The name of the value that feeds the signal at catalogue position field:
    // "Gaspedal" for field 5; empty outside the catalogue's 86 signals.
    static TAString LineName(int field);
    // First entry of exactly that name (case-sensitive); NoValue when there is none.
    double GetMV(const TAString& name) const;
    // Sets the first entry of that name; an unknown name is ignored.
    void SetMV(const TAString& name, double value);

    void SetAccelerator(double percent);
    void SetBrake(double percent);
    // percent 100 = fully engaged. The auto-clutch flag lets the idle hold keep the engine
    // from stalling.
    void SetClutch(double percent, bool autoClutch);
    void SetGear(int gear);          // 0 = neutral, 1 to 8
    void SetIgnition(bool on);
    // Switching either way takes the current speed as the set speed and the current
    // accelerator position as the controller's integral term.
    void SetCruiseControl(bool on);
    // Turns the engine over at 7 % of its maximum speed (245 rpm).
    void StartEngine();

    // Advances the model by dt seconds (0.02 s from the cockpit), the date and time with it.
    // Engine speed never exceeds the maximum engine speed after a step, whichever way the
    // clutch works.
    void Step(double dt);
    // Advances only the date and time ("Sec", "Min", "Hours", "Day", "Month", "Year") by dt
    // seconds, with every carry (TDateClock). Values set since the last advance (the
    // cockpit's fields, --set) are its new starting point. Nothing happens while the
    // model lacks one of these names.
    void AdvanceClock(double dt);

    // Every blank, CR and LF becomes "_".
    void SetVehicleId(const TAString& text);
    const TAString& GetVehicleId() const { return vehicleId_; }
    void SetDriverId1(const TAString& text);
    const TAString& GetDriverId1() const { return driverId1_; }
    void SetDriverId2(const TAString& text);
    const TAString& GetDriverId2() const { return driverId2_; }
    // One character per tell-tale, "0" to "7", tell-tale 1 first.
    void SetTellTales(const TAString& text);
    const TAString& GetTellTales() const { return tellTales_; }

    // Every signal value as the catalogue takes it (TBusFmsStandard::Apply), typed and
    // addressed by the signal's identifier; only the entries that changed since the last
    // call are touched (the snapshot's Generation tells whether any did). Numbers are the
    // model's own doubles (the catalogue rounds them to the nearest raw value and marks
    // one beyond its range "o"; a NaN is "e"); the clutch and brake switches are 1
    // (clutch below 50 %, brake above 50 %) or 0; an enumeration is the nearest whole
    // number of its value ("e" when not finite); the identifications are their bytes and
    // "*" ("A_B" gives A_B*), "e" when they are not printable ASCII without "*" or too
    // long for their field (never cut) and not set when too short; the FMS version is
    // four ASCII digits of hundredths (0.02 gives "0002"); the tell-tales are their
    // states, 7 for a character that is no state and past the text.
    const TSignalSnapshot& Snapshot() const;

    // Map values as the step reads them: [accelerator percent][engine speed percent].
    double TorqueMap(int accelerator, int engineSpeed) const;
    double FuelRateMap(int accelerator, int engineSpeed) const;
    double GearRatio(int gear) const;

private:
    static constexpr int MapSize = 101;
    using TMap = std::array<double, MapSize * MapSize>;

    double& V(int index) { return values_[static_cast<size_t>(index)]; }
    double V(int index) const { return values_[static_cast<size_t>(index)]; }
    int Find(const TAString& name) const;
    int GearIndex() const;

    std::array<TAString, MaxValues> names_;
    std::array<double, MaxValues> values_{};
    int count_ = 0;
    // Where the snapshot's entries find their values (-1: none), looked up once for the
    // values there are (values are only ever added).
    mutable std::vector<int> lineIndex_;
    mutable int lineIndexCount_ = -1;

    double maxEngineSpeed_ = 3500.0;
    double maxTorque_ = 1000.0;
    std::array<double, 9> ratios_{};
    std::unique_ptr<TMap> torqueMap_;
    std::unique_ptr<TMap> fuelRateMap_;
    double setSpeed_ = 0.0;
    double integral_ = 0.0;
    bool autoClutch_ = false;
    double turnRate_ = 0.0;
    std::array<double, 4> set1_{};
    std::array<double, 4> set2_{};
    double pairLow_ = 2.0;
    double pairHigh_ = 5.0;
    bool initialised_ = false;

    TAString vehicleId_;
    TAString driverId1_;
    TAString driverId2_;
    TAString tellTales_;

    // Where "Sec" .. "Year" are (-1: none), looked up again when values were added.
    std::array<int, 6> clockIndex_{};
    int clockIndexCount_ = -1;
    std::optional<TDateClock> clock_;
    TDateClock::TValues clockShown_{};

    mutable TSignalSnapshot snapshot_;
    // The identifications or tell-tales changed since the snapshot last took them.
    mutable bool textsChanged_ = true;
    mutable std::string scratch_;
};
