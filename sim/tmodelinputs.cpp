#include "sim/tmodelinputs.h"

#include "sim/tcockpittable.h"

#include <charconv>
#include <cmath>
#include <string>

namespace {

// The shortest decimal text that reads back as value: 250.996, 1734.96876, -273.
TAString Number(double value)
{
    char buf[1100];   // the longest fixed text of a double
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    return ec == std::errc() ? TAString(std::string(buf, end)) : TAString("?");
}

std::vector<TModelInput> Build()
{
    // The driving controls: track bars 0..100 (accelerator, brake, clutch), the gear bar
    // 0..8, the ignition and cruise control boxes.
    std::vector<TModelInput> inputs = {
        {"Gaspedal", 0, 100, false},  {"Bremspedal", 0, 100, false}, {"Kupplungspedal", 0, 100, false},
        {"Gang", 0, 8, true},         {"Zuendung", 0, 1, true},      {"Tempomat", 0, 1, true},
    };
    for (const TCockpitControl& c : TCockpitTable::Controls()) {
        switch (c.Kind) {
        case TCockpitKind::Number: inputs.push_back({c.ValueName, c.Min, c.Max, false}); break;
        case TCockpitKind::Check: inputs.push_back({c.ValueName, 0, 1, true}); break;
        case TCockpitKind::Combo: {
            double most = 0;
            for (const TAString& item : TCockpitTable::ComboItems(c.Items))
                most = std::fmax(most, TCockpitTable::ComboValue(item));
            inputs.push_back({c.ValueName, 0, most, true});
            break;
        }
        case TCockpitKind::Text: break;   // identifications: texts, not values
        }
    }
    return inputs;
}

}  // namespace

const std::vector<TModelInput>& TModelInputs::All()
{
    static const std::vector<TModelInput> inputs = Build();
    return inputs;
}

std::optional<TModelInput> TModelInputs::Find(const TAString& name)
{
    for (const TModelInput& input : All())
        if (input.Name == name) return input;
    return std::nullopt;
}

TAString TModelInputs::RangeText(const TModelInput& input)
{
    if (input.Whole && input.Min == 0 && input.Max == 1) return "0 or 1";
    const TAString range = Number(input.Min) + " to " + Number(input.Max);
    return input.Whole ? "whole numbers " + range : range;
}

TAString TModelInputs::Refusal(const TAString& name, double value)
{
    const std::optional<TModelInput> input = Find(name);
    if (!input) return {};
    const bool inside = value >= input->Min && value <= input->Max;   // false for a NaN
    if (!inside) return Number(value) + " is outside its range, " + RangeText(*input);
    if (input->Whole && std::trunc(value) != value)
        return Number(value) + " is not one of its values, " + RangeText(*input);
    return {};
}
