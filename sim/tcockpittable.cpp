#include "sim/tcockpittable.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr const char* Cockpit = "Simulation Cockpit ";
constexpr const char* Tachograph = "Tachograph";

TCockpitControl Check(int tag, const char* name, const char* caption, const char* group, const char* value,
                      bool checked = false)
{
    TCockpitControl c;
    c.Tag = c.Spn = tag;
    c.Name = name;
    c.Kind = TCockpitKind::Check;
    c.Caption = caption;
    c.Group = group;
    c.Initial = checked ? "1" : "";
    c.ValueName = value;
    return c;
}

TCockpitControl Number(int tag, const char* name, const char* caption, const char* group, const char* initial,
                       const char* value, double min, double max, int width = -1, int decimals = 0)
{
    TCockpitControl c;
    c.Tag = c.Spn = tag;
    c.Name = name;
    c.Kind = TCockpitKind::Number;
    c.Caption = caption;
    c.Group = group;
    c.Initial = initial;
    c.ValueName = value;
    c.Min = min;
    c.Max = max;
    c.Width = width;
    c.Decimals = decimals;
    return c;
}

// A time or date field: no tag, ordered by its signal's SPN.
TCockpitControl TimeField(int spn, const char* name, const char* caption, const char* initial, const char* value,
                          double min, double max, int width, int decimals)
{
    TCockpitControl c = Number(0, name, caption, "Time / Date", initial, value, min, max, width, decimals);
    c.Spn = spn;
    return c;
}

TCockpitControl Text(int tag, const char* name, const char* caption, const char* group, const char* initial,
                     TCockpitTarget target, int minLength, int maxLength)
{
    TCockpitControl c;
    c.Tag = c.Spn = tag;
    c.Name = name;
    c.Kind = TCockpitKind::Text;
    c.Caption = caption;
    c.Group = group;
    c.Initial = initial;
    c.Target = target;
    c.Min = minLength;
    c.Max = maxLength;
    return c;
}

TCockpitControl Combo(int tag, const char* name, const char* caption, const char* group, const char* initial,
                      const char* value, TComboList items)
{
    TCockpitControl c;
    c.Tag = c.Spn = tag;
    c.Name = name;
    c.Kind = TCockpitKind::Combo;
    c.Caption = caption;
    c.Group = group;
    c.Initial = initial;
    c.ValueName = value;
    c.Items = items;
    return c;
}

TCockpitControl InDriver(TCockpitControl c, const char* driver)
{
    c.SubGroup = driver;
    return c;
}

std::vector<TCockpitControl> BuildTable()
{
    std::vector<TCockpitControl> t;
    // The left group: main value fields beside the gauges and pedals.
    t.push_back(Number(84, "ETacho", "Wheel based speed", Cockpit, "999.99", "Geschwindigkeit", 0, 250.996));
    t.push_back(Number(190, "EDrehzahl", "Engine speed", Cockpit, "9999.99", "Drehzahl", 0, 8031.875));
    t.push_back(Number(917, "EDKmStand", "Tot vehicle dist ( m )", Cockpit, "0", "Kilometerstand", 0, 21055406075.0));
    t.push_back(Number(96, "E_Tankinhalt", "Fuel level ( % )", Cockpit, "100", "Tankinhalt", 0, 100));
    t.push_back(Number(250, "E_TotFuelUsed", "Total fuel used ( l )", Cockpit, "0", "Verbrauch total", 0, 2105540607.5));
    t.push_back(Number(247, "E_BetrZeit", "Total engine hours ( h )", Cockpit, "0", "Motor:Betriebszeit", 0,
                       210554060.75, 0, 3));
    t.push_back(Number(110, "E_WTemp", "Eng. coolant temp. ( \u00B0C )", Cockpit, "15.0",
                       "Motor:Kuehlmitteltemperatur", -40, 210, 0, 0));
    t.push_back(Number(183, "E_FuRa", "Fuel Rate (L/h)", Cockpit, "0", "FURA", 0, 3212.75));
    t.push_back(Number(184, "E_InFuEc", "Fuel Eco (Km/L)", Cockpit, "0", "IFEff", 0, 125.499));
    t.push_back(Text(237, "E_FzgID", "Vehicle identification nr.", Cockpit, "Vehicle_ID_0001_abcdefg",
                     TCockpitTarget::VehicleId, 1, 100));
    t.push_back(Check(70, "C_Park", "Parking", Cockpit, "ParkBrake"));

    // The right group: the further signals.
    t.push_back(Check(1611, "CB_Fahren", "Drive recognize", Tachograph, "TCO:Fahren"));
    t.push_back(Check(1614, "CB_OverSpeed", "Overspeed", Tachograph, "TCO:Uebergeschwindigkeit"));
    t.push_back(Check(1619, "CB_Zurueck", "Direction indicator", Tachograph, "TCO:Rueckwaerts"));
    t.push_back(Check(1620, "CB_Performance", "TCO Performance ", Tachograph, "TCO:Performance"));
    t.push_back(Check(1621, "CB_Handling", "Handling information", Tachograph, "TCO:Handling"));
    t.push_back(Check(1622, "CB_SystEvent", "System event", Tachograph, "TCO:SystemEreigniss"));
    for (int d = 1; d <= 2; ++d) {
        const char* driver = d == 1 ? "Driver 1" : "Driver 2";
        const TAString n(d);
        t.push_back(InDriver(Combo(1611 + d, ("CO_D" + n + "Status").c_str(), "Working state", Tachograph,
                                   "000 = Rest", ("TCO:D" + n + " Status").c_str(), TComboList::WorkingState),
                             driver));
        t.push_back(InDriver(Check(1614 + d, ("CB_D" + n + "Card").c_str(), "Card", Tachograph,
                                   ("TCO:D" + n + " Karte").c_str()),
                             driver));
        t.push_back(InDriver(Combo(1616 + d, ("CO_D" + n + "Time").c_str(), "Time states", Tachograph,
                                   "0000 = Normal", ("TCO:D" + n + " ZeitStatus").c_str(), TComboList::TimeStates),
                             driver));
    }

    t.push_back(Text(1625, "E_DID1", "Driver 1", "Driver's Identification", "GB_Driver_ID_000001",
                     TCockpitTarget::DriverId1, 0, 19));
    t.push_back(Text(1626, "E_DID2", "Driver 2", "Driver's Identification", "GB_Driver_ID_000002",
                     TCockpitTarget::DriverId2, 0, 19));

    t.push_back(Number(171, "E_AmbTemp", "Ambient Air Temperature (\u00B0C)", "Ambient Conditions", "22", "AmbTemp",
                       -273, 1734.96876, 0, 0));

    t.push_back(TimeField(959, "E_Sec", "Seconds", "0", "Sec", 0, 59.75, 2, 2));
    t.push_back(TimeField(960, "E_Min", "Minutes", "20", "Min", 0, 59, 2, 0));
    t.push_back(TimeField(961, "E_Hours", "Hours", "12", "Hours", 0, 23, 1, 0));
    t.push_back(TimeField(962, "E_Day", "Day", "09", "Day", 1, 31, 1, 2));
    t.push_back(TimeField(963, "E_Month", "Month", "11", "Month", 1, 12, 1, 0));
    t.push_back(TimeField(964, "E_Year", "Year", "2009", "Year", 1985, 2235, 4, 0));

    t.push_back(Number(1087, "E_SBraC1", "Service Brake Air Pressure 1 ( kPa )", "Pressure", "1000", "SBraC1", 0, 2000,
                       0, 1));
    t.push_back(Number(1088, "E_SBraC2", "Service Brake Air Pressure 2 ( kPa )", "Pressure", "1000", "SBraC2", 0, 2000,
                       0, 1));
    t.push_back(Number(1725, "E_WPFL", "Bellow Pressure Front Axle Left   ( kPa )", "Pressure", "400", "WPFL", 0,
                       6425.5, 0, 1));
    t.push_back(Number(1726, "E_WPFR", "Bellow Pressure Front Axle Right ( kPa )", "Pressure", "400", "WPFR", 0,
                       6425.5, 0, 1));
    t.push_back(Number(1727, "E_WPHL", "Bellow Pressure Rear Axle Left    ( kPa )", "Pressure", "400", "WPHL", 0,
                       6425.5, 0, 1));
    t.push_back(Number(1728, "E_WPHR", "Bellow Pressure Rear Axle Right  ( kPa )", "Pressure", "400", "WPHR", 0,
                       6425.5, 0, 1));

    t.push_back(Check(1820, "C_DC_RampWheel", "Ramp/Wheel chairlift outside bus", "Door Control 1", "RampWheel"));
    t.push_back(Combo(1821, "CO_PosDoor", "Position of doors", "Door Control 1", "0010 = all doors closed",
                      "DCPosDoor", TComboList::DoorPosition));

    t.push_back(Check(3411, "C_DC_En", "At least 1 bus door enabled", "Door Control 2", "Stat2door"));
    constexpr const char* RowName[3] = {"C_DCL", "C_DCO", "C_DCE"};
    constexpr const char* RowValue[3] = {"DoorLock", "DoorOpen", "DoorEnable"};
    for (int row = 0; row < 3; ++row) {
        for (int door = 1; door <= 10; ++door) {
            const TAString n(door);
            TCockpitControl c = Check(3412 + 3 * (door - 1) + row, (RowName[row] + n).c_str(), "", "Door Control 2",
                                      (RowValue[row] + n).c_str());
            c.Door = door;
            c.DoorRow = row;
            t.push_back(c);
        }
    }

    for (int k = 1; k <= 4; ++k) {
        const TAString n(k);
        t.push_back(Check(3352 + k, ("C_AltStat" + n).c_str(), ("Alternator " + n + " charging").c_str(), "Alternator",
                          ("AltStat" + n).c_str()));
    }

    constexpr const char* Fms = "FMS-Standard Interface";
    t.push_back(Check(2804, "CB_Diagnose", "Diagnostics supported", Fms, "Can:Diagnose", true));
    t.push_back(Check(2805, "CB_Anfragen", "Requests supported", Fms, "Can:Anfragen", true));
    t.push_back(Number(2806, "E_FmsVersion", "SW-version supported", Fms, "00.02", "Fms:Version", 0, 99.99, 5, 2));
    return t;
}

}  // namespace

const std::vector<TCockpitControl>& TCockpitTable::Controls()
{
    static const std::vector<TCockpitControl> table = BuildTable();
    return table;
}

const std::vector<const TCockpitControl*>& TCockpitTable::InTagOrder()
{
    static const std::vector<const TCockpitControl*> order = [] {
        std::vector<const TCockpitControl*> o;
        for (const TCockpitControl& c : Controls()) o.push_back(&c);
        std::stable_sort(o.begin(), o.end(), [](const auto* a, const auto* b) { return a->Spn < b->Spn; });
        return o;
    }();
    return order;
}

const TCockpitControl* TCockpitTable::FindTag(int tag)
{
    if (tag < 1) return nullptr;
    for (const TCockpitControl& c : Controls())
        if (c.Tag == tag) return &c;
    return nullptr;
}

const TCockpitControl* TCockpitTable::FindName(const TAString& name)
{
    for (const TCockpitControl& c : Controls())
        if (c.Name == name) return &c;
    return nullptr;
}

const std::vector<TAString>& TCockpitTable::ComboItems(TComboList list)
{
    static const std::vector<TAString> none;
    static const std::vector<TAString> working = {"000 = Rest", "001 = Available", "010 = Work", "011 = Drive"};
    static const std::vector<TAString> times = {"0000 = Normal",        "0001 = 15 min bef. 4.5 h",
                                                "0010 = 4.5 h reached", "0011 = 15 min bef 9 h",
                                                "0100 = 9 h reached",   "0101 = 15 min bef 16 h",
                                                "0110 = 16 h reached"};
    static const std::vector<TAString> doors = {"0000 = at least 1 door is open", "0001 = closing last door",
                                                "0010 = all doors closed"};
    switch (list) {
    case TComboList::WorkingState: return working;
    case TComboList::TimeStates: return times;
    case TComboList::DoorPosition: return doors;
    case TComboList::None: break;
    }
    return none;
}

double TCockpitTable::ComboValue(const TAString& text)
{
    const TAString word = text.Word(0);
    double value = 0.0;
    for (int i = 0; i < word.Length(); ++i) {
        // Beyond 2^1023 ldexp gives infinity, which the value line reports as an error.
        if (word[i] == '1') value += std::ldexp(1.0, word.Length() - 1 - i);
    }
    return value;
}

int TCockpitTable::ComboIndex(TComboList list, double value)
{
    const double wanted = std::trunc(value);
    const auto& items = ComboItems(list);
    for (size_t i = 0; i < items.size(); ++i)
        if (ComboValue(items[i]) == wanted) return static_cast<int>(i);
    return -1;
}

const std::vector<TAString>& TCockpitTable::ExtraValueNames()
{
    static const std::vector<TAString> names = [] {
        std::vector<TAString> n = {"TCO:D1 Karte", "TCO:D1 Status", "TCO:D1 ZeitStatus", "TCO:D2 Karte",
                                   "TCO:D2 Status", "TCO:D2 ZeitStatus", "TCO:Fahren", "TCO:Rueckwaerts",
                                   "TCO:Uebergeschwindigkeit", "TCO:Performance", "TCO:Handling",
                                   "TCO:SystemEreigniss", "Fms:Version", "Can:Anfragen", "Can:Diagnose",
                                   "ParkBrake", "AmbTemp", "Stat2door", "RampWheel", "DCPosDoor"};
        for (const char* kind : {"DoorOpen", "DoorLock", "DoorEnable"})
            for (int door = 1; door <= 10; ++door) n.push_back(kind + TAString(door));
        for (const char* name : {"Sec", "Min", "Hours", "Month", "Day", "Year", "SBraC1", "SBraC2", "AltStat1",
                                 "AltStat2", "AltStat3", "AltStat4", "WPFL", "WPFR", "WPHL", "WPHR"})
            n.push_back(name);
        return n;
    }();
    return names;
}

const std::vector<TCockpitDisplayField>& TCockpitTable::DisplayFields()
{
    static const std::vector<TCockpitDisplayField> fields = {
        {"EDKmStand", "Kilometerstand", 1, 3},
        {"E_Tankinhalt", "Tankinhalt", 5, 1},
        {"E_TotFuelUsed", "Verbrauch total", 1, 3},
        {"E_BetrZeit", "Motor:Betriebszeit", 1, 3},
        {"E_WTemp", "Motor:Kuehlmitteltemperatur", 1, 1},
        {"E_FuRa", "FURA", 1, 2},
        {"E_InFuEc", "IFEff", 1, 3},
    };
    return fields;
}

TAString TCockpitTable::WriteBackText(const TCockpitControl& control, double value)
{
    return TAString(value, control.Width, control.Decimals);
}
