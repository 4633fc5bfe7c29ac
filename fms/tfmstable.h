#pragma once
// The table of the Bus-FMS catalogue: its parameter groups and the signals in them, each
// at its catalogue position (Pos). TBusFmsStandard builds its signals from it, and the
// signal identifiers (TSignalId) are looked up in it when the program is compiled, so
// the two can never disagree.

#include <cstdint>

namespace fmstable {

// Parameter groups in catalogue order; the enumerator is the group's GroupIndex.
enum TGroup : int {
    CCVS, EEC2, LFC, DD, EEC1, HOUR, VI, FMS, VDHR, TCO1, ET1, AMB,
    DC1, DC2, TD, AIR1, AS, ETC2, ASC4, DI, LFE, TTS, GroupCount
};

struct TGroupRow {
    uint32_t Pgn;
    const char* Acronym;
    const char* Name;
    const char* ShortName;
    int32_t PeriodMs;
    const char* KeyName;
};

// clang-format off
inline constexpr TGroupRow Groups[GroupCount] = {
//    PGN    acronym  name                                    short name                   period  key name
    {65265, "CCVS", "Cruise Control/Vehicle Speed",         "Cruise Contr./Veh. Speed",     100, "CruiseControlVehicleSpeed"},
    {61443, "EEC2", "Electronic Engine Controller #2",      "Electr. Engine Cont. #2",       50, "ElectronicEngineController2"},
    {65257, "LFC ", "Fuel Consumption",                     "Fuel Consumption",            1000, "FuelConsumption"},
    {65276, "DD  ", "Dash Display",                         "Dash Display",                1000, "DashDisplay"},
    {61444, "EEC1", "Electronic Engine Controller #1",      "Electr. Engine Cont. #1",       20, "ElectronicEngineController1"},
    {65253, "HOUR", "Engine Hours, Revolutions",            "Engine Hours",                1000, "EngineHoursRevolutions"},
    {65260, "VI  ", "Vehicle Identification",               "Vehicle Identification",     10000, "VehicleIdentification"},
    {64977, "FMS ", "FMS-Standard Interface",               "FMS Software ID",            10000, "FMSStandardInterface"},
    {65217, "VDHR", "High Resolution Vehicle Distance",     "Vehicle Distance",            1000, "HighResolutionVehicleDistance"},
    {65132, "TCO1", "Tachograph",                           "TCO1",                          20, "Tachograph"},
    {65262, "ET1 ", "Engine Temperature",                   "Engine Temperature",          1000, "EngineTemperature"},
    {65269, "AMB ", "Ambient Conditions",                   "Ambient Conditions",          1000, "AmbientConditions"},
    {65102, "DC1 ", "Door Control 1",                       "Door Control 1",               100, "DoorControl1"},
    {64933, "DC2 ", "Door Control 2",                       "Door Control 2",               100, "DoorControl2"},
    {65254, "TD  ", "Time/Date",                            "Time/Date",                   1000, "TimeDate"},
    {65198, "AIR1", "Air Supply Pressure",                  "Air Supply Pressure",         1000, "AirSupplyPressure"},
    {65237, "AS  ", "Alternator Speed",                     "Alternator Speed",            1000, "AlternatorSpeed"},
    {61445, "ETC2", "Electronic Transmission Controller 2", "Electr. Transm. Ctrl 2",       100, "ElectronicTransmissionController2"},
    {65112, "ASC4", "Air Suspension Control 4",             "Air Suspension Control 4",     100, "AirSuspensionControl4"},
    {65131, "DI  ", "Driver's Identification",              "Driver's Identification",    10000, "DriversIdentification"},
    {65266, "LFE ", "Fuel Economy",                         "Fuel Economy",                 100, "FuelEconomy"},
    {64893, "TTS ", "Tell Tale Status",                     "Tell Tale Status",            1000, "TellTaleStatus"},
};

struct TNumericRow {
    int Pos;
    const char* Name;
    TGroup Group;
    uint16_t Bit, Bits;
    double Resolution, Offset;
    const char* Unit;
    double Min, Max, Tolerance;
    uint16_t MinInt, MaxInt, MinDec, MaxDec;
};

// Decimals: the tachograph speed shows three like the wheel-based speed, so that the
// monitor shows either within one step (1/256 km/h) of what is sent; two decimals
// would be up to 0.005 km/h off the nearest raw value.
//
// The valid range of a number is what its field can carry as a value: every valid
// value rounds to a raw value of at most FA (8 bits), FAFF (16 bits) or FAFFFFFF
// (32 bits) and at least 0, so that none goes out as an indicator (FB parameter
// specific .. FF not available) or wraps. Hence the year ends at 2235 (raw 250; 2241
// would be raw 256), the gears at 125 (126 is FB), the ambient temperature at
// 1734.969 degrees (raw FAFF; 1735 is FB00) and the fuel economy at 125.499 km/l
// (125.5 is FB00). A value beyond is out of range ("o") and sent as the nearest end
// of the range.
inline constexpr TNumericRow Numerics[] = {
//   #   signal                                   group  bit bits  resolution    offset unit      min     max               tol    int    dec
    { 1, "Wheel based speed",                    CCVS,  8, 16, 0.00390625,    0,    "Km/h",   0,    250.9965,         1,     1, 3,  0, 3},
    { 5, "Accelerator pedal position",           EEC2,  8,  8, 0.4,           0,    "%",      0,    100,              0.5,   1, 3,  0, 1},
    { 6, "Total fuel used",                      LFC,  32, 32, 0.5,           0,    "L",      0,    2105540607.55,    1,     1, 10, 0, 1},
    { 7, "Fuel level",                           DD,    8,  8, 0.4,           0,    "%",      0,    100,              1,     1, 3,  0, 1},
    { 8, "Engine speed",                         EEC1, 24, 16, 0.125,         0,    "rpm",    0,    8031.8751,        1,     1, 4,  0, 3},
    { 9, "Total engine hours",                   HOUR,  0, 32, 0.05,          0,    "h",      0,    210554060.755,    1,     1, 9,  0, 2},
    {14, "High resolution total vhcl. distance", VDHR,  0, 32, 5,             0,    "m",      0,    21055406075.5,    1,     1, 11, 0, 0},
    {27, "Tachograph vehicle speed",             TCO1, 48, 16, 0.00390625,    0,    "Km/h",   0,    250.9965,         0.5,   1, 3,  0, 3},
    {28, "Engine coolant temperature",           ET1,   0,  8, 1,           -40,    "°C",   -40,    210,              0.5,   1, 3,  0, 0},
    {29, "Ambient Air Temperatur",               AMB,  24, 16, 0.03125,    -273,    "°C",  -273,    1734.969,         0.5,   1, 4,  0, 3},
    {63, "Seconds",                              TD,    0,  8, 0.25,          0,    "sec",    0,    60,               1,     1, 2,  0, 2},
    {64, "Minutes",                              TD,    8,  8, 1,             0,    "min",    0,    60,               1,     1, 2,  0, 0},
    {65, "Hours",                                TD,   16,  8, 1,             0,    "hr",     0,    24,               1,     1, 2,  0, 0},
    {66, "Month",                                TD,   24,  8, 1,             0,    "month",  1,    12,               1,     1, 2,  0, 0},
    {67, "Day",                                  TD,   32,  8, 0.25,          0.75, "day",    1,    31,               1,     1, 2,  0, 2},
    {68, "Year",                                 TD,   40,  8, 1,          1985,    "year",1985,    2235,             1,     4, 4,  0, 0},
    {69, "Service Brake Air Pressure Circuit1",  AIR1, 16,  8, 8,             0,    "kPa",    0,    2000,             1,     1, 4,  0, 0},
    {70, "Service Brake Air Pressure Circuit2",  AIR1, 24,  8, 8,             0,    "kPa",    0,    2000,             1,     1, 4,  0, 0},
    {75, "Selected Gear",                        ETC2,  0,  8, 1,          -125,    "",    -125,    125,              1,     1, 4,  0, 0},
    {76, "Current Gear",                         ETC2, 24,  8, 1,          -125,    "",    -125,    125,              1,     1, 4,  0, 0},
    {77, "Below Pressure Front Axle Left",       ASC4,  0, 16, 0.1,           0,    "kPa",    0,    6425.5,           0.05,  1, 4,  0, 1},
    {78, "Below Pressure Front Axle Right",      ASC4, 16, 16, 0.1,           0,    "kPa",    0,    6425.5,           0.05,  1, 4,  0, 1},
    {79, "Below Pressure Rear Axle Left",        ASC4, 32, 16, 0.1,           0,    "kPa",    0,    6425.5,           0.05,  1, 4,  0, 1},
    {80, "Below Pressure Rear Axle Right",       ASC4, 48, 16, 0.1,           0,    "kPa",    0,    6425.5,           0.05,  1, 4,  0, 1},
    {83, "Fuel Rate",                            LFE,   0, 16, 0.05,          0,    "L/h",    0,    3212.75,          0.025, 1, 4,  0, 2},
    {84, "Instantaneous Fuel Economy",           LFE,  16, 16, 0.001953125,   0,    "Km/L",   0,    125.499,          0.001, 1, 3,  0, 3},
};

struct TEnumRow {
    int Pos;
    const char* Name;
    TGroup Group;
    uint16_t Bit, Bits;
    const char* Texts;   // entry i is index i
};

inline constexpr const char* TimeRelStates =
    "normal,15min_bef_4.5h,4.5h_reached,15min_bef_9h,9h_reached,15min_bef_16h,16h_reached";

inline constexpr TEnumRow Enums[] = {
//   #   signal                              group bit bits texts
    { 0, "Parking Brake Switch",             CCVS,  2, 2, "not_set,set"},
    { 2, "Clutch switch",                    CCVS, 30, 2, "released,pressed"},
    { 3, "Brake switch",                     CCVS, 28, 2, "released,depressed"},
    { 4, "Cruise control active",            CCVS, 24, 2, "off,on"},
    {11, "Requests supported",               FMS,   2, 2, "no,yes,reserved,don't_care"},
    {12, "Diagnostics supported",            FMS,   0, 2, "no,yes,reserved,don't_care"},
    {15, "Drive recognize",                  TCO1,  6, 2, "no_motion,motion"},
    {16, "Driver 1 working state",           TCO1,  0, 3, "Rest,Available,Work,Drive"},
    {17, "Driver 2 working state",           TCO1,  3, 3, "Rest,Available,Work,Drive"},
    {18, "Overspeed",                        TCO1, 14, 2, "No,Yes"},
    {19, "Driver 1 card",                    TCO1, 12, 2, "not_pressent,present"},
    {20, "Driver 1 time rel. state",         TCO1,  8, 4, TimeRelStates},
    {21, "Driver 2 card",                    TCO1, 20, 2, "not_pressent,present"},
    {22, "Driver 2 time rel. state",         TCO1, 16, 4, TimeRelStates},
    {23, "Direction indicator",              TCO1, 30, 2, "Forward,Reverse"},
    {24, "Tachograph performance",           TCO1, 28, 2, "Performance,Analysis"},
    {25, "Handling information",             TCO1, 26, 2, "No,Yes"},
    {26, "System event",                     TCO1, 24, 2, "no_tachogr._event,tachogr._event"},
    {30, "Status 2 of Doors",                DC1,   6, 2, "all_bus_doors_disabled,at_least_1_bus_door_enabled"},
    {31, "Ramp / Wheel Chair Lift Position", DC1,   4, 2, "inside_bus,outside_bus"},
    {32, "Positions of doors",               DC1,   0, 4, "at_least_1_door_is_open,closing_last_door,all_doors_closed"},
    {71, "Alternator Status 1",              AS,   16, 2, "not_charging,charging"},
    {72, "Alternator Status 2",              AS,   18, 2, "not_charging,charging"},
    {73, "Alternator Status 3",              AS,   20, 2, "not_charging,charging"},
    {74, "Alternator Status 4",              AS,   22, 2, "not_charging,charging"},
};

// tkField: one of the "*"-ended fields that share their message (TFmsMeasVal::Delimited).
enum TTextKind { tkBytes, tkField, tkTellTales };

constexpr uint16_t After = 0xFFFF;    // TFmsMeasVal::AfterData
constexpr uint16_t AsLong = 0xFFFF;   // TFmsMeasVal::TextLength

struct TTextRow {
    int Pos;
    const char* Name;
    TGroup Group;
    uint16_t Bit, Bits;
    TTextKind Kind;
    uint16_t MinBytes, MaxBytes;   // tell-tales: two hex characters count as one byte
};

inline constexpr TTextRow Texts[] = {
//   #   signal                           group  bit    bits    content      limit
    {10, "Vehicle identification number", VI,    0,     AsLong, tkBytes,     2, 200},
    {13, "SW-version supported",          FMS,   8,     32,     tkBytes,     4, 4},
    {81, "Driver 1 identification",       DI,    0,     AsLong, tkField,     0, 20},
    {82, "Driver 2 identification",       DI,    After, AsLong, tkField,     0, 20},
    {85, "Tell Tale Status",              TTS,   0,     64,     tkTellTales, 0, 41},
};
// clang-format on

// Door Control 2, positions 33..62: per door k = 1..10 its lock, open and enable
// status, 2 bits each, at bit 6(k-1), +2 and +4.
constexpr int FirstDoorPos = 33;
constexpr int Doors = 10;

struct TDoorSignal {
    const char* Prefix;
    const char* Texts;
};
inline constexpr TDoorSignal DoorSignals[3] = {
    {"Lock Status of Door ", "unlocked,locked"},
    {"Open Status of Door ", "door_closed,door_opened"},
    {"Enable Status of Door ", "door_disabled,door_enabled"},
};

// Signals after this position belong to version "00.02" only.
constexpr int LastBaseSignal = 80;
// Signals of version "00.02".
constexpr int CatalogueSize = 86;

}  // namespace fmstable
