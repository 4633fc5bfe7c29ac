#include "engine/trecordingcockpit.h"

namespace {

// The names the cockpit adds to the model, in the cockpit's order.
constexpr const char* ExtraNames[] = {
    "TCO:D1 Karte", "TCO:D1 Status", "TCO:D1 ZeitStatus", "TCO:D2 Karte", "TCO:D2 Status",
    "TCO:D2 ZeitStatus", "TCO:Fahren", "TCO:Rueckwaerts", "TCO:Uebergeschwindigkeit",
    "TCO:Performance", "TCO:Handling", "TCO:SystemEreigniss", "Fms:Version", "Can:Anfragen",
    "Can:Diagnose", "ParkBrake", "AmbTemp", "Stat2door", "RampWheel", "DCPosDoor",
};

struct TInitial {
    const char* Name;
    double Value;
};

// Signal controls whose initial text is a valid, non-zero entry. "Wheel based speed"
// ("999.99") and "Engine speed" ("9999.99") start out of their ranges, are never
// committed and leave the model's 0; combo boxes give the binary number of their
// first word ("0010 = all doors closed" is 2).
constexpr TInitial Initials[] = {
    {"Tankinhalt", 100.0},
    {"Motor:Kuehlmitteltemperatur", 15.0},
    {"AmbTemp", 22.0},
    {"Sec", 0.0},
    {"Min", 20.0},
    {"Hours", 12.0},
    {"Day", 9.0},
    {"Month", 11.0},
    {"Year", 2009.0},
    {"SBraC1", 1000.0},
    {"SBraC2", 1000.0},
    {"WPFL", 400.0},
    {"WPFR", 400.0},
    {"WPHL", 400.0},
    {"WPHR", 400.0},
    {"DCPosDoor", 2.0},
    {"Can:Diagnose", 1.0},
    {"Can:Anfragen", 1.0},
    {"Fms:Version", 0.02},
};

}  // namespace

TRecordingCockpit::TRecordingCockpit()
{
    for (const char* name : ExtraNames) lkw_.AddMV(name, 0.0);
    for (int door = 1; door <= 10; ++door) lkw_.AddMV(TAString("DoorOpen") + TAString(door), 0.0);
    for (int door = 1; door <= 10; ++door) lkw_.AddMV(TAString("DoorLock") + TAString(door), 0.0);
    for (int door = 1; door <= 10; ++door) lkw_.AddMV(TAString("DoorEnable") + TAString(door), 0.0);
    for (const char* name : {"Sec", "Min", "Hours", "Month", "Day", "Year", "SBraC1", "SBraC2",
                             "AltStat1", "AltStat2", "AltStat3", "AltStat4", "WPFL", "WPFR", "WPHL",
                             "WPHR"})
        lkw_.AddMV(name, 0.0);

    lkw_.SetTellTales(TAString(std::string(41, '0')));

    // The pedal, clutch and gear handlers at their initial track bar positions.
    lkw_.SetClutch(100.0, true);
    lkw_.SetBrake(100.0 - 100.0);
    lkw_.SetAccelerator(100.0 - 0.0);
    lkw_.SetGear(8 - 7);

    for (const TInitial& initial : Initials) lkw_.SetMV(initial.Name, initial.Value);
    lkw_.SetVehicleId("Vehicle_ID_0001_abcdefg");
    lkw_.SetDriverId1("GB_Driver_ID_000001");
    lkw_.SetDriverId2("GB_Driver_ID_000002");
}

const TSignalSnapshot& TRecordingCockpit::Step(double dt, bool)
{
    lkw_.Step(dt);
    ++steps_;
    return lkw_.Snapshot();
}

const TSignalSnapshot& TRecordingCockpit::Values()
{
    return lkw_.Snapshot();
}
