#pragma once
// The ranges in which the vehicle model takes its values from outside: those of the
// cockpit's controls (track bars, check boxes, combo boxes, numeric fields), so that
// every input path offers what the cockpit offers. Check boxes and combo boxes give
// whole numbers only: a check box 0 or 1, a combo box the numbers of its items (the
// time states 0 to 6), each an entry its signal has.

#include "support/tastring.h"

#include <optional>
#include <vector>

struct TModelInput {
    TAString Name;        // the model's value name, "Tankinhalt"
    double Min = 0.0;
    double Max = 0.0;
    bool Whole = false;   // whole numbers only
};

class TModelInputs {
public:
    // Every value a control of the cockpit sets, the driving controls first.
    static const std::vector<TModelInput>& All();
    // The range of name; none for a value no control sets (the model computes it).
    static std::optional<TModelInput> Find(const TAString& name);
    // "0 to 100", "whole numbers 0 to 8", "0 or 1".
    static TAString RangeText(const TModelInput& input);
    // Why value cannot be given to name, naming the range ("150 is outside its range, 0
    // to 100"; "1.5 is not one of its values, whole numbers 0 to 8");
    // empty when it can, or when no control sets name.
    static TAString Refusal(const TAString& name, double value);
};
