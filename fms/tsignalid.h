#pragma once
// Identifiers of the catalogue's signals, looked up in the catalogue's own table
// (fms/tfmstable.h) when the program is compiled: SignalIdOf("Engine speed") is the
// position of "Engine speed" in the catalogue (8), and a name the table does not hold
// does not compile. The vehicle model addresses the values it hands over by them.

#include "fms/tfmstable.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// A catalogue position, 0 .. fmstable::CatalogueSize - 1.
enum class TSignalId : uint8_t {};

// What a signal's value holds.
enum class TSignalKind : uint8_t { Number, Enumeration, Text, TellTales };

constexpr int SignalIndex(TSignalId id)
{
    return static_cast<int>(id);
}

namespace fmstable {

consteval bool SameName(std::string_view a, std::string_view b)
{
    return a == b;
}

// Doors of Door Control 2: their lock, open and enable status.
enum class TDoorStatus : int { Lock = 0, Open = 1, Enable = 2 };

}  // namespace fmstable

// The signal called name in the table. Compiling fails for a name it does not hold.
consteval TSignalId SignalIdOf(std::string_view name)
{
    for (const auto& r : fmstable::Numerics)
        if (fmstable::SameName(r.Name, name)) return static_cast<TSignalId>(r.Pos);
    for (const auto& r : fmstable::Enums)
        if (fmstable::SameName(r.Name, name)) return static_cast<TSignalId>(r.Pos);
    for (const auto& r : fmstable::Texts)
        if (fmstable::SameName(r.Name, name)) return static_cast<TSignalId>(r.Pos);
    throw "no signal of the catalogue has this name";
}

// The status signal of door 1..10 of Door Control 2.
consteval TSignalId DoorSignalId(int door, fmstable::TDoorStatus status)
{
    if (door < 1 || door > fmstable::Doors) throw "doors are numbered 1 to 10";
    return static_cast<TSignalId>(fmstable::FirstDoorPos + 3 * (door - 1) + static_cast<int>(status));
}

namespace fmstable {

// The kind of every catalogue position, worked out from the table when compiling; the
// door signals between the table's rows are enumerations.
consteval std::array<TSignalKind, CatalogueSize> SignalKinds()
{
    std::array<TSignalKind, CatalogueSize> kinds{};
    kinds.fill(TSignalKind::Enumeration);
    for (const auto& r : Numerics) kinds[static_cast<std::size_t>(r.Pos)] = TSignalKind::Number;
    for (const auto& r : Texts)
        kinds[static_cast<std::size_t>(r.Pos)] = r.Kind == tkTellTales ? TSignalKind::TellTales : TSignalKind::Text;
    return kinds;
}

inline constexpr std::array<TSignalKind, CatalogueSize> Kinds = SignalKinds();

}  // namespace fmstable

// The kind of the signal at catalogue position pos (0 .. CatalogueSize - 1), looked up:
// the vehicle model asks for every signal at every step.
constexpr TSignalKind SignalKindAt(int pos)
{
    return fmstable::Kinds[static_cast<std::size_t>(pos)];
}

// The identifiers the vehicle model uses, by the signals' names in the table.
namespace fmssignal {
inline constexpr TSignalId ParkingBrake = SignalIdOf("Parking Brake Switch");
inline constexpr TSignalId WheelSpeed = SignalIdOf("Wheel based speed");
inline constexpr TSignalId ClutchSwitch = SignalIdOf("Clutch switch");
inline constexpr TSignalId BrakeSwitch = SignalIdOf("Brake switch");
inline constexpr TSignalId CruiseControl = SignalIdOf("Cruise control active");
inline constexpr TSignalId Accelerator = SignalIdOf("Accelerator pedal position");
inline constexpr TSignalId FuelUsed = SignalIdOf("Total fuel used");
inline constexpr TSignalId FuelLevel = SignalIdOf("Fuel level");
inline constexpr TSignalId EngineSpeed = SignalIdOf("Engine speed");
inline constexpr TSignalId EngineHours = SignalIdOf("Total engine hours");
inline constexpr TSignalId Vin = SignalIdOf("Vehicle identification number");
inline constexpr TSignalId Requests = SignalIdOf("Requests supported");
inline constexpr TSignalId Diagnostics = SignalIdOf("Diagnostics supported");
inline constexpr TSignalId SoftwareVersion = SignalIdOf("SW-version supported");
inline constexpr TSignalId Distance = SignalIdOf("High resolution total vhcl. distance");
inline constexpr TSignalId DriveRecognize = SignalIdOf("Drive recognize");
inline constexpr TSignalId Driver1State = SignalIdOf("Driver 1 working state");
inline constexpr TSignalId Driver2State = SignalIdOf("Driver 2 working state");
inline constexpr TSignalId Overspeed = SignalIdOf("Overspeed");
inline constexpr TSignalId Driver1Card = SignalIdOf("Driver 1 card");
inline constexpr TSignalId Driver1Time = SignalIdOf("Driver 1 time rel. state");
inline constexpr TSignalId Driver2Card = SignalIdOf("Driver 2 card");
inline constexpr TSignalId Driver2Time = SignalIdOf("Driver 2 time rel. state");
inline constexpr TSignalId Direction = SignalIdOf("Direction indicator");
inline constexpr TSignalId Performance = SignalIdOf("Tachograph performance");
inline constexpr TSignalId Handling = SignalIdOf("Handling information");
inline constexpr TSignalId SystemEvent = SignalIdOf("System event");
inline constexpr TSignalId TachoSpeed = SignalIdOf("Tachograph vehicle speed");
inline constexpr TSignalId Coolant = SignalIdOf("Engine coolant temperature");
inline constexpr TSignalId Ambient = SignalIdOf("Ambient Air Temperatur");
inline constexpr TSignalId DoorsStatus2 = SignalIdOf("Status 2 of Doors");
inline constexpr TSignalId Ramp = SignalIdOf("Ramp / Wheel Chair Lift Position");
inline constexpr TSignalId DoorPositions = SignalIdOf("Positions of doors");
inline constexpr TSignalId Seconds = SignalIdOf("Seconds");
inline constexpr TSignalId Minutes = SignalIdOf("Minutes");
inline constexpr TSignalId Hours = SignalIdOf("Hours");
inline constexpr TSignalId Month = SignalIdOf("Month");
inline constexpr TSignalId Day = SignalIdOf("Day");
inline constexpr TSignalId Year = SignalIdOf("Year");
inline constexpr TSignalId BrakeCircuit1 = SignalIdOf("Service Brake Air Pressure Circuit1");
inline constexpr TSignalId BrakeCircuit2 = SignalIdOf("Service Brake Air Pressure Circuit2");
inline constexpr TSignalId Alternator1 = SignalIdOf("Alternator Status 1");
inline constexpr TSignalId Alternator2 = SignalIdOf("Alternator Status 2");
inline constexpr TSignalId Alternator3 = SignalIdOf("Alternator Status 3");
inline constexpr TSignalId Alternator4 = SignalIdOf("Alternator Status 4");
inline constexpr TSignalId SelectedGear = SignalIdOf("Selected Gear");
inline constexpr TSignalId CurrentGear = SignalIdOf("Current Gear");
inline constexpr TSignalId BellowFrontLeft = SignalIdOf("Below Pressure Front Axle Left");
inline constexpr TSignalId BellowFrontRight = SignalIdOf("Below Pressure Front Axle Right");
inline constexpr TSignalId BellowRearLeft = SignalIdOf("Below Pressure Rear Axle Left");
inline constexpr TSignalId BellowRearRight = SignalIdOf("Below Pressure Rear Axle Right");
inline constexpr TSignalId Driver1Id = SignalIdOf("Driver 1 identification");
inline constexpr TSignalId Driver2Id = SignalIdOf("Driver 2 identification");
inline constexpr TSignalId FuelRate = SignalIdOf("Fuel Rate");
inline constexpr TSignalId FuelEconomy = SignalIdOf("Instantaneous Fuel Economy");
inline constexpr TSignalId TellTales = SignalIdOf("Tell Tale Status");
}  // namespace fmssignal
