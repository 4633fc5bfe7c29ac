#include "engine/tmodelvaluenames.h"

#include "fms/tbusfmsstandard.h"
#include "sim/tlkw.h"
#include "sim/tmodelinputs.h"

#include <algorithm>
#include <string>

namespace {

struct TOwnValue {
    const char* Name;
    const char* Meaning;
    const char* Unit;
};

// The model's own values: what the step reads and computes.
constexpr TOwnValue OwnValues[] = {
    {"Geschwindigkeit", "vehicle speed", "km/h"},
    {"Kilometerstand", "total distance", "m"},
    {"Drehzahl", "engine speed", "rpm"},
    {"Drehzahlstand", "engine revolutions so far", "revolutions"},
    {"Gang", "gear", "0 = neutral, 1 to 8"},
    {"Gaspedal", "accelerator pedal", "%"},
    {"Bremspedal", "brake pedal", "%"},
    {"Kupplungspedal", "clutch pedal", "%, 100 = engaged"},
    {"Tankinhalt", "fuel level", "%"},
    {"Motormoment", "engine torque", "% of the maximum"},
    {"Verbrauch total", "total fuel used", "l"},
    {"Verbrauch 100Km", "fuel consumption", "l/100 km"},
    {"Laengengrad", "longitude", ""},
    {"Breitengrad", "latitude", ""},
    {"Kurs ueber Grund", "course over ground", ""},
    {"Tempomat", "cruise control", "0 = off, 1 = on"},
    {"Zuendung", "ignition", "0 = off, 1 = on"},
    {"Service distanz", "service distance", "km"},
    {"Motor:Betriebszeit", "total engine hours", "h"},
    {"Motor:Kuehlmitteltemperatur", "engine coolant temperature", "°C"},
    {"Gewicht", "vehicle mass", "kg"},
    {"FURA", "fuel rate", "l/h"},
    {"IFEff", "instantaneous fuel economy", "km/l"},
};

// Meaning and unit of a value that fills a field of the value line.
TModelValueName FromLine(const TAString& name, const TBusFmsStandard& catalogue)
{
    TModelValueName n{name, "", "", ""};
    for (int field = 0; field < catalogue.SignalCount(); ++field) {
        if (TLkw::LineName(field) != name) continue;
        const TFmsMeasVal& signal = catalogue.Signal(field);
        n.Meaning = signal.Name;
        if (const auto* e = dynamic_cast<const TMeasValEnum*>(signal.MeasVal.get())) {
            for (std::size_t i = 0; i < e->Texts.size(); ++i)
                n.Unit += (i ? ", " : "") + TAString(std::to_string(i)) + " = " + e->Texts[i];
        } else if (dynamic_cast<const TMeasValDouble*>(signal.MeasVal.get())) {
            n.Unit = signal.Unit;
        }
        return n;
    }
    n.Meaning = "a value of the cockpit";
    return n;
}

}  // namespace

std::vector<TModelValueName> TModelValueNames::List(const TLkw& lkw)
{
    const TBusFmsStandard catalogue("00.02");
    std::vector<TModelValueName> names;
    for (int i = 0; i < lkw.Count(); ++i) {
        const TAString name = lkw.Name(i);
        const auto own = std::find_if(std::begin(OwnValues), std::end(OwnValues),
                                      [&name](const TOwnValue& v) { return name == v.Name; });
        names.push_back(own != std::end(OwnValues) ? TModelValueName{name, own->Meaning, own->Unit, {}}
                                                   : FromLine(name, catalogue));
        if (const std::optional<TModelInput> input = TModelInputs::Find(name))
            names.back().Range = TModelInputs::RangeText(*input);
    }
    return names;
}

TAString TModelValueNames::Text(const TLkw& lkw)
{
    const std::vector<TModelValueName> names = List(lkw);
    int width = 0;
    for (const TModelValueName& n : names) width = std::max(width, n.Name.Length());
    std::string text;
    for (const TModelValueName& n : names) {
        text += "  " + n.Name.str();
        text.append(static_cast<std::size_t>(width - n.Name.Length() + 2), ' ');
        text += n.Meaning.str();
        if (!n.Unit.IsEmpty()) text += ", " + n.Unit.str();
        if (!n.Range.IsEmpty()) text += " [" + n.Range.str() + "]";
        text += '\n';
    }
    return text;
}
