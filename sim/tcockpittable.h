#pragma once
// The cockpit's signal controls as data: for each control its tag (the J1939 SPN of the
// signal it sets, 0 for the time and date fields), its object name, its kind, caption,
// group, initial text, the model value it writes and its range. The window builds its
// controls from this table and MVCockpitChange (TCockpitSignals) reads it; the order of
// Controls() is the order of the groups and controls on screen.
//
// Combo boxes carry a list of item texts whose first word is a binary number:
// "0110 = 16 h reached" stands for 6.

#include "support/tastring.h"

#include <vector>

enum class TCockpitKind { Check, Combo, Number, Text };

// Where a control's value goes in the model: a named value, or one of the three texts.
enum class TCockpitTarget { Value, VehicleId, DriverId1, DriverId2 };

enum class TComboList { None, WorkingState, TimeStates, DoorPosition };

struct TCockpitControl {
    int Tag = 0;                   // J1939 SPN; 0 = none (time and date)
    int Spn = 0;                   // the signal's SPN, also where a control has no tag
    TAString Name;                 // object name of the control
    TCockpitKind Kind = TCockpitKind::Check;
    TAString Caption;              // caption of a check box, label of any other control
    TAString Group;                // the group box it sits in
    TAString SubGroup;             // "Driver 1" / "Driver 2" inside "Tachograph", else empty
    TAString Initial;              // edits and combos: initial text; check boxes: "1" checked, "" clear
    TAString ValueName;            // model value (Target Value only)
    TCockpitTarget Target = TCockpitTarget::Value;
    double Min = 0.0;              // number: range; text: length limits
    double Max = 0.0;
    TComboList Items = TComboList::None;
    // Number written back from the model when the window is created; Width < 0: not written.
    int Width = -1;
    int Decimals = 0;
    // Door grid of "Door Control 2": door 1..10 and row 0 lock, 1 open, 2 enable; 0 elsewhere.
    int Door = 0;
    int DoorRow = 0;
};

// A field that the display update rewrites from the model (as width and decimals of
// TAString(double, width, decimals)).
struct TCockpitDisplayField {
    TAString Name;
    TAString ValueName;
    int Width;
    int Decimals;
};

class TCockpitTable {
public:
    // Every signal control, in screen order.
    static const std::vector<TCockpitControl>& Controls();
    // Every control in ascending order of its signal's SPN (the tag where there is one),
    // the order in which MVCockpitChange handles them all.
    static const std::vector<const TCockpitControl*>& InTagOrder();
    // The control with that tag, or nullptr (also for tag < 1).
    static const TCockpitControl* FindTag(int tag);
    // The control with that object name, or nullptr.
    static const TCockpitControl* FindName(const TAString& name);

    static const std::vector<TAString>& ComboItems(TComboList list);
    // The first whitespace-separated word read as binary digits: each "1" sets the bit of
    // its position counted from the right, any other character counts as 0. "0110 = 16 h
    // reached" gives 6, an empty text 0.
    static double ComboValue(const TAString& text);
    // Index of the first item whose value equals trunc(value), or -1.
    static int ComboIndex(TComboList list, double value);

    // The 66 values the cockpit adds to the vehicle model (initial value 0), in the order
    // it adds them.
    static const std::vector<TAString>& ExtraValueNames();

    // The value fields the display update rewrites from the model while the model runs.
    static const std::vector<TCockpitDisplayField>& DisplayFields();

    // Text of the number written back into a control at creation (Width >= 0).
    static TAString WriteBackText(const TCockpitControl& control, double value);
};
