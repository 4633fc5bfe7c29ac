#include "sim/tlkw.h"

#include "fms/tsignalid.h"
#include "sim/teditrule.h"
#include "sim/tmatrix.h"
#include "support/tbaseerror.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

namespace {

// Registry positions of the model's own values.
enum : int {
    vSpeed,            // "Geschwindigkeit" km/h
    vDistance,         // "Kilometerstand" m
    vEngineSpeed,      // "Drehzahl" rpm
    vRevolutions,      // "Drehzahlstand"
    vGear,             // "Gang"
    vAccelerator,      // "Gaspedal" %
    vBrake,            // "Bremspedal" %
    vClutch,           // "Kupplungspedal" %, 100 = engaged
    vFuelLevel,        // "Tankinhalt" %
    vTorque,           // "Motormoment" % of maximum
    vFuelUsed,         // "Verbrauch total" l
    vConsumption,      // "Verbrauch 100Km" l/100 km
    vLongitude,        // "Laengengrad"
    vLatitude,         // "Breitengrad"
    vCourse,           // "Kurs ueber Grund"
    vCruiseControl,    // "Tempomat"
    vIgnition,         // "Zuendung"
    vServiceDistance,  // "Service distanz" km
    vEngineHours,      // "Motor:Betriebszeit" h
    vCoolant,          // "Motor:Kuehlmitteltemperatur" degrees C
    vMass,             // "Gewicht" kg
    vFuelRate,         // "FURA" l/h
    vFuelEconomy,      // "IFEff" km/l
    vOwnCount
};

constexpr const char* OwnNames[vOwnCount] = {
    "Geschwindigkeit", "Kilometerstand", "Drehzahl", "Drehzahlstand", "Gang", "Gaspedal",
    "Bremspedal", "Kupplungspedal", "Tankinhalt", "Motormoment", "Verbrauch total",
    "Verbrauch 100Km", "Laengengrad", "Breitengrad", "Kurs ueber Grund", "Tempomat", "Zuendung",
    "Service distanz", "Motor:Betriebszeit", "Motor:Kuehlmitteltemperatur", "Gewicht", "FURA",
    "IFEff",
};

constexpr const char* TorqueMapText =
    "Nx 8 Ny 5 10   0 -20 -30 -40 -50 -55 -60 15  20  30  28   0 -15 -30 -50 20  40  55  60  50"
    "  35   0 -20 25  50  60  70  82  80  65  -8 30  50  75  90  99  90  75  -8";
constexpr const char* FuelRateMapText =
    "Nx 8 Ny 5 0  5  0  0  0  0  0  0  0  5  8 12 15 18 10 25  0 10 16 24 30 36 50 50  0 15 25 35"
    " 45 55 65 75  0 20 35 55 70 80 90 99";

// Whitespace-separated numbers read with the C library's decimal conversion into out;
// missing ones are 0.
template <size_t N>
void ParseList(const TAString& text, double* out)
{
    const std::string& s = text.str();
    size_t pos = 0;
    const char* blanks = " \t\r\n\v\f";
    for (size_t i = 0; i < N; ++i) {
        pos = s.find_first_not_of(blanks, pos);
        if (pos == std::string::npos) {
            out[i] = 0.0;
            continue;
        }
        size_t end = s.find_first_of(blanks, pos);
        if (end == std::string::npos) end = s.size();
        out[i] = std::strtod(s.substr(pos, end - pos).c_str(), nullptr);
        pos = end;
    }
}

// The model's value behind each signal, in catalogue order (position = TSignalId).
constexpr int LineFields = fmstable::CatalogueSize;
constexpr const char* LineNames[LineFields] = {
    "ParkBrake", "Geschwindigkeit", "Kupplungspedal", "Bremspedal", "Tempomat", "Gaspedal",
    "Verbrauch total", "Tankinhalt", "Drehzahl", "Motor:Betriebszeit", "FahrzeugID", "Can:Anfragen",
    "Can:Diagnose", "Fms:Version", "Kilometerstand", "TCO:Fahren", "TCO:D1 Status", "TCO:D2 Status",
    "TCO:Uebergeschwindigkeit", "TCO:D1 Karte", "TCO:D1 ZeitStatus", "TCO:D2 Karte",
    "TCO:D2 ZeitStatus", "TCO:Rueckwaerts", "TCO:Performance", "TCO:Handling", "TCO:SystemEreigniss",
    "Geschwindigkeit", "Motor:Kuehlmitteltemperatur", "AmbTemp", "Stat2door", "RampWheel", "DCPosDoor",
    "DoorLock1", "DoorOpen1", "DoorEnable1", "DoorLock2", "DoorOpen2", "DoorEnable2",
    "DoorLock3", "DoorOpen3", "DoorEnable3", "DoorLock4", "DoorOpen4", "DoorEnable4",
    "DoorLock5", "DoorOpen5", "DoorEnable5", "DoorLock6", "DoorOpen6", "DoorEnable6",
    "DoorLock7", "DoorOpen7", "DoorEnable7", "DoorLock8", "DoorOpen8", "DoorEnable8",
    "DoorLock9", "DoorOpen9", "DoorEnable9", "DoorLock10", "DoorOpen10", "DoorEnable10",
    "Sec", "Min", "Hours", "Month", "Day", "Year", "SBraC1", "SBraC2",
    "AltStat1", "AltStat2", "AltStat3", "AltStat4", "Gang", "Gang", "WPFL", "WPFR", "WPHL", "WPHR",
    "DriverId1", "DriverId2", "FURA", "IFEff", "TellTail",
};
enum : int {
    fClutch = 2,
    fBrake = 3,
    fVehicleId = 10,
    fFmsVersion = 13,
    fDriverId1 = 81,
    fDriverId2 = 82,
    fTellTales = 85,
};

// The limits of a text signal in the catalogue's table: fewest and most bytes.
constexpr const fmstable::TTextRow& TextRow(TSignalId id)
{
    for (const auto& r : fmstable::Texts)
        if (r.Pos == SignalIndex(id)) return r;
    return fmstable::Texts[0];
}

// An identification as its signal takes it: its bytes and the end mark "*". One that is
// not printable ASCII without "*", or too long for its field with the mark, is an error
// ("e": sent as 0xFF bytes and shown "e"), never cut; one too short is not set ("*").
void PutIdentification(TSignalSnapshot& snapshot, TSignalId id, const TAString& text, std::string& scratch)
{
    const auto& row = TextRow(id);
    if (!TIdTextRule::Refusal(text, 0, row.MaxBytes - 1).IsEmpty()) {
        snapshot.SetState(id, msError);
        return;
    }
    scratch.assign(text.str());
    scratch += '*';
    if (scratch.size() > row.MaxBytes) snapshot.SetState(id, msError);
    else if (scratch.size() < row.MinBytes) snapshot.SetState(id, msNotSet);
    else snapshot.SetText(id, scratch);
}

// The tell-tale digits as states: any character that is no status "0".."7", and every
// tell-tale past the text, is 7 (not available).
TTellTaleStates TellTaleStates(const TAString& digits)
{
    TTellTaleStates states;
    for (int i = 0; i < TTellTaleStates::Count; ++i) {
        const char c = i < digits.Length() ? digits[i] : '7';
        states.States[static_cast<size_t>(i)] = static_cast<uint8_t>(c >= '0' && c <= '7' ? c - '0' : 7);
    }
    return states;
}

// An enumeration index from the model's number: the nearest whole number, halves away
// from zero, within 0 .. 2^32 - 1 (the catalogue marks an index without an entry "o").
uint32_t IndexOf(double value)
{
    return static_cast<uint32_t>(std::llround(std::clamp(value, 0.0, 4294967295.0)));
}

// Version 0.02 gives "0002": hundredths as four digits, thousands to units.
std::string VersionDigits(double version)
{
    double k = std::trunc(version * 100.0 + 0.1);
    if (!(k >= 0.0)) k = 0.0;
    auto units = static_cast<int>(std::fmod(std::min(k, 1e15), 10000.0));
    std::string digits(4, '0');
    for (int i = 3; i >= 0; --i, units /= 10) digits[static_cast<size_t>(i)] = static_cast<char>('0' + units % 10);
    return digits;
}

constexpr std::array<const char*, 6> ClockNames = {"Sec", "Min", "Hours", "Day", "Month", "Year"};

// Percent index 0..100 of a map row or column; anything not above 0 (NaN included) is 0.
int PercentIndex(double x)
{
    if (!(x > 0.0)) return 0;
    if (x >= 100.0) return 100;
    return static_cast<int>(x);
}

}  // namespace

TLkw::TParameterTexts TLkw::BuiltInParameters()
{
    return {TorqueMapText, FuelRateMapText, "20 20 30 30", "5.0 3.5 2.5 2.0 1.7 1.4 1.2 1.0", "0.7 0.7 0.7 0.7"};
}

TLkw::TLkw()
    : torqueMap_(std::make_unique<TMap>()),
      fuelRateMap_(std::make_unique<TMap>())
{
    torqueMap_->fill(0.0);
    fuelRateMap_->fill(0.0);
    for (int i = 0; i < vOwnCount; ++i) names_[static_cast<size_t>(i)] = OwnNames[i];
    count_ = vOwnCount;
    V(vGear) = 1.0;
    V(vAccelerator) = 100.0;
    V(vClutch) = 100.0;
    V(vFuelLevel) = 100.0;
    V(vLongitude) = 600.0;
    V(vLatitude) = 2880.0;
    V(vIgnition) = 1.0;
    V(vCoolant) = 20.0;
    V(vMass) = 10000.0;
    Init();
}

TLkw::~TLkw() = default;

void TLkw::Init()
{
    Init(BuiltInParameters());
}

void TLkw::Init(const TParameterTexts& texts)
{
    bool allPresent = true;
    auto loadMap = [&allPresent](const TAString& text, TMap& map) {
        if (text.IsEmpty()) {
            allPresent = false;
            return;
        }
        TMatrix matrix(MapSize, MapSize);
        matrix.LoadFromText(text);   // a text that does not parse leaves the map at zero
        matrix.CopyTo(map);
    };
    loadMap(texts.TorqueMap, *torqueMap_);
    loadMap(texts.FuelRateMap, *fuelRateMap_);
    if (texts.Set1.IsEmpty()) allPresent = false;
    else ParseList<4>(texts.Set1, set1_.data());
    if (texts.GearRatios.IsEmpty()) allPresent = false;
    else ParseList<8>(texts.GearRatios, ratios_.data() + 1);
    if (texts.Set2.IsEmpty()) allPresent = false;
    else ParseList<4>(texts.Set2, set2_.data());

    ratios_[0] = 0.0;
    pairLow_ = 2.4;
    pairHigh_ = 6.0;
    V(vMass) = 6000.0;
    V(vFuelLevel) = 100.0;
    maxEngineSpeed_ = 3500.0;
    maxTorque_ = 1000.0;
    V(vLongitude) = 600.0;
    V(vLatitude) = 2880.0;
    V(vCourse) = 0.0;
    V(vDistance) = 0.0;

    if (!allPresent) throw TBaseError("TLkw::Init", "Parameter Missing");
    // Below 5 % of maximum speed the engine cannot pull whatever the pedal: a stopped
    // engine needs the starter.
    for (int a = 0; a < MapSize; ++a)
        for (int e = 0; e <= 4; ++e) (*torqueMap_)[static_cast<size_t>(a * MapSize + e)] = -20.0;
    initialised_ = true;
}

void TLkw::AddMV(const TAString& name, double initial)
{
    if (count_ >= MaxValues) throw TBaseError("TLkw::AddMV", "Max100MV");
    names_[static_cast<size_t>(count_)] = name;
    values_[static_cast<size_t>(count_)] = initial;
    ++count_;
    if (count_ >= MaxValues) throw TBaseError("TLkw::AddMV", "Max100MV");
}

TAString TLkw::Name(int index) const
{
    return index >= 0 && index < count_ ? names_[static_cast<size_t>(index)] : TAString();
}

TAString TLkw::LineName(int field)
{
    return field >= 0 && field < LineFields ? TAString(LineNames[field]) : TAString();
}

int TLkw::Find(const TAString& name) const
{
    for (int i = 0; i < count_; ++i)
        if (names_[static_cast<size_t>(i)] == name) return i;
    return -1;
}

double TLkw::GetMV(const TAString& name) const
{
    const int i = Find(name);
    return i < 0 ? NoValue : V(i);
}

void TLkw::SetMV(const TAString& name, double value)
{
    const int i = Find(name);
    if (i >= 0) V(i) = value;
}

void TLkw::SetAccelerator(double percent) { V(vAccelerator) = percent; }
void TLkw::SetBrake(double percent) { V(vBrake) = percent; }

void TLkw::SetClutch(double percent, bool autoClutch)
{
    V(vClutch) = percent;
    autoClutch_ = autoClutch;
}

void TLkw::SetGear(int gear) { V(vGear) = gear; }
void TLkw::SetIgnition(bool on) { V(vIgnition) = on ? 1.0 : 0.0; }

void TLkw::SetCruiseControl(bool on)
{
    V(vCruiseControl) = on ? 1.0 : 0.0;
    setSpeed_ = V(vSpeed);
    integral_ = V(vAccelerator);
}

void TLkw::StartEngine()
{
    V(vEngineSpeed) = 7.0 * maxEngineSpeed_ / 100.0;
}

void TLkw::SetVehicleId(const TAString& text)
{
    std::string id = text.str();
    std::replace_if(id.begin(), id.end(), [](char c) { return c == ' ' || c == '\r' || c == '\n'; }, '_');
    vehicleId_ = id;
    textsChanged_ = true;
}

void TLkw::SetDriverId1(const TAString& text)
{
    driverId1_ = text;
    textsChanged_ = true;
}

void TLkw::SetDriverId2(const TAString& text)
{
    driverId2_ = text;
    textsChanged_ = true;
}

void TLkw::SetTellTales(const TAString& text)
{
    tellTales_ = text;
    textsChanged_ = true;
}

double TLkw::TorqueMap(int accelerator, int engineSpeed) const
{
    return (*torqueMap_)[static_cast<size_t>(PercentIndex(accelerator) * MapSize + PercentIndex(engineSpeed))];
}

double TLkw::FuelRateMap(int accelerator, int engineSpeed) const
{
    return (*fuelRateMap_)[static_cast<size_t>(PercentIndex(accelerator) * MapSize + PercentIndex(engineSpeed))];
}

double TLkw::GearRatio(int gear) const
{
    return gear >= 0 && gear <= 8 ? ratios_[static_cast<size_t>(gear)] : 0.0;
}

// Gears outside 1..8 (only reachable through SetMV) count as neutral or as the top gear,
// so the ratio table is never read outside its bounds.
int TLkw::GearIndex() const
{
    const double g = V(vGear);
    if (!(g >= 1.0)) return 0;
    if (g >= 8.0) return 8;
    return static_cast<int>(g);
}

void TLkw::Step(double dt)
{
    double v = V(vSpeed);
    double n = V(vEngineSpeed);
    const double m = V(vMass);
    const int gear = GearIndex();
    const double ratio = ratios_[static_cast<size_t>(gear)];

    const int e = PercentIndex(std::trunc(100.0 * n / maxEngineSpeed_));
    const int a = PercentIndex(std::trunc(V(vAccelerator)));

    double torque = TorqueMap(a, e);
    if (V(vIgnition) == 0.0) torque = TorqueMap(0, 0);
    V(vTorque) = torque;

    if (n == 0.0) {
        V(vConsumption) = 0.0;
        V(vFuelRate) = 0.0;
        V(vFuelEconomy) = v >= 1.0 ? MaxFuelEconomy : 0.0;
    } else {
        const double rate = FuelRateMap(a, e);
        double consumption = 1000.0;
        if (v > 1.0) consumption = rate / v * 100.0;
        V(vFuelRate) = rate;
        double economy = rate <= 0.1 ? 1000.0 : v / rate;
        if (economy > MaxFuelEconomy) economy = MaxFuelEconomy;
        V(vFuelEconomy) = economy;
        if (consumption > 1000.0) consumption = 1000.0;
        V(vConsumption) = consumption;

        V(vFuelLevel) -= rate * dt / 3600.0;
        if (V(vFuelLevel) < 0.0) V(vFuelLevel) = 100.0;   // the tank is refilled
        V(vFuelUsed) += rate * dt / 3600.0;

        // PI speed controller on the accelerator, its gain scaled by mass and gear.
        if (V(vCruiseControl) > 0.0 && gear > 0) {
            const double d = setSpeed_ - v;
            const double k = m / (6000.0 * ratio);
            integral_ += d * 40.0 * k * dt;
            V(vAccelerator) = d * 100.0 * k + integral_;
            integral_ = std::clamp(integral_, 0.0, 100.0);
            V(vAccelerator) = std::clamp(V(vAccelerator), 0.0, 100.0);
        }
        V(vEngineHours) += dt / 3600.0;
    }

    // The clutch holds while it can carry the engine torque; then the engine follows the
    // gearbox, at most c * 50 rpm per second away from where it is.
    const double c = gear == 0 ? 0.0 : V(vClutch);
    double transmitted = 0.0;
    if (std::fabs(torque) < c) {
        const double target = ratio * v / ratios_[8] / 150.0 * maxEngineSpeed_;
        if (target <= n) n = std::max(target, n - c * 50.0 * dt);
        else n = std::min(target, n + c * 50.0 * dt);
        transmitted = torque;
    } else {
        if (torque <= 0.0) {
            n -= 60.0 * dt * (std::fabs(torque) - c);
            transmitted = -c;
        } else {
            n += 60.0 * dt * (std::fabs(torque) - c);
            transmitted = c;
        }
    }
    // The engine's limit holds in every branch: with the clutch engaged at speed the
    // wheels would otherwise drive it past 3500 rpm.
    n = std::min(n, maxEngineSpeed_);
    if (n < 0.0) n = 0.0;
    if (autoClutch_ && V(vIgnition) != 0.0 && n < 300.0 && e != 0) n = 300.0;

    const double drive = transmitted * maxTorque_ * ratio * 0.25 / (2.0 * std::numbers::pi);
    const double resistance = 0.1 * v * v + 0.2 * m;
    const double braking = 0.05 * m * V(vBrake);
    v += (drive - resistance - braking) / m * dt * 3.6;
    if (v < 0.0) v = 0.0;
    V(vSpeed) = v;
    V(vEngineSpeed) = n;

    V(vRevolutions) += n * dt / 60.0;
    if (V(vCoolant) < 120.0 && torque > 0.0) V(vCoolant) += torque * n * 0.01 / 3500.0 * dt;
    V(vDistance) += v / 3.6 * dt;
    V(vCourse) += 0.1 * turnRate_ * dt;
    V(vServiceDistance) -= v / 3600.0 * dt;

    AdvanceClock(dt);
}

void TLkw::AdvanceClock(double dt)
{
    if (clockIndexCount_ != count_) {
        for (size_t i = 0; i < clockIndex_.size(); ++i) clockIndex_[i] = Find(ClockNames[i]);
        clockIndexCount_ = count_;
    }
    for (int index : clockIndex_)
        if (index < 0) return;   // a model without the cockpit's date and time
    std::array<double, 6> now{};
    for (size_t i = 0; i < now.size(); ++i) now[i] = V(clockIndex_[i]);
    // Values other than the ones the clock showed last were set since: a new base.
    if (!clock_ || now != clockShown_) clock_.emplace(now);
    clock_->Advance(dt);
    clockShown_ = clock_->Values();
    for (size_t i = 0; i < now.size(); ++i) V(clockIndex_[i]) = clockShown_[i];
}

const TSignalSnapshot& TLkw::Snapshot() const
{
    if (lineIndexCount_ != count_) {
        lineIndex_.assign(LineFields, -1);
        for (int i = 0; i < LineFields; ++i) lineIndex_[static_cast<size_t>(i)] = Find(LineNames[i]);
        lineIndexCount_ = count_;
    }
    TSignalSnapshot& out = snapshot_;
    for (int i = 0; i < LineFields; ++i) {
        const auto id = static_cast<TSignalId>(i);
        const int index = lineIndex_[static_cast<size_t>(i)];
        const double value = index < 0 ? NoValue : V(index);
        switch (i) {
        case SignalIndex(fmssignal::ClutchSwitch):
            out.SetIndex(id, V(vClutch) < 50.0 ? 1 : 0);
            break;
        case SignalIndex(fmssignal::BrakeSwitch):
            out.SetIndex(id, V(vBrake) > 50.0 ? 1 : 0);
            break;
        case SignalIndex(fmssignal::SoftwareVersion):
            out.SetText(id, VersionDigits(value));
            break;
        case SignalIndex(fmssignal::Vin):
        case SignalIndex(fmssignal::Driver1Id):
        case SignalIndex(fmssignal::Driver2Id):
        case SignalIndex(fmssignal::TellTales):
            break;   // texts: below, when they changed
        default:
            if (SignalKindAt(i) == TSignalKind::Number) {
                out.SetNumber(id, value);
            } else if (std::isfinite(value)) {
                out.SetIndex(id, IndexOf(value));
            } else {
                out.SetState(id, msError);
            }
            break;
        }
    }
    if (textsChanged_) {
        PutIdentification(out, fmssignal::Vin, vehicleId_, scratch_);
        PutIdentification(out, fmssignal::Driver1Id, driverId1_, scratch_);
        PutIdentification(out, fmssignal::Driver2Id, driverId2_, scratch_);
        out.SetTellTales(fmssignal::TellTales, TellTaleStates(tellTales_));
        textsChanged_ = false;
    }
    return out;
}
