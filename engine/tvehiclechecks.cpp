#include "engine/tvehiclechecks.h"

#include "engine/toptionseditor.h"
#include "fms/tbusfmsstandard.h"
#include "fms/tvalidmanip.h"
#include "sim/tcockpittable.h"
#include "sim/teditrule.h"
#include "sim/tlkw.h"
#include "sim/tmodelinputs.h"

#include <algorithm>

TVehicleChecks::TVehicleChecks(const TLkw& lkw)
    : catalogue_(std::make_unique<TBusFmsStandard>("00.02")), validity_(std::make_unique<TValidManip>(*catalogue_))
{
    for (int i = 0; i < lkw.Count(); ++i) names_.push_back(lkw.Name(i));
}

TVehicleChecks::~TVehicleChecks() = default;

bool TVehicleChecks::HasValue(const TAString& name) const
{
    return std::find(names_.begin(), names_.end(), name) != names_.end();
}

TAString TVehicleChecks::Set(const TAString& name, double value) const
{
    if (!HasValue(name)) return "the vehicle model has no value named '" + name + "'";
    // What the cockpit cannot set never reaches the model: out of range, or an index its
    // signal has no entry for.
    return TModelInputs::Refusal(name, value);
}

TAString TVehicleChecks::TellTale(int n, int state)
{
    if (n < 1 || n > 41) return "the tell-tale number must be 1 to 41";
    if (state < 0 || state > 7) return "the state must be 0 to 7";
    return {};
}

TAString TVehicleChecks::Identification(const char* field, const TAString& text)
{
    const TCockpitControl* control = TCockpitTable::FindName(field);
    if (!control) return "no identification field is named '" + TAString(field) + "'";
    // Identifications go on the bus as given or not at all: never cut, never with a byte
    // a receiver would read as the end of the field.
    const TAString refusal = TIdTextRule::Refusal(text, static_cast<int>(control->Min), static_cast<int>(control->Max));
    return refusal.IsEmpty() ? refusal : "the text " + refusal;
}

bool TVehicleChecks::HasSignal(const TAString& signal) const
{
    return validity_->FindRow(signal) >= 0;
}

TAString TVehicleChecks::Force(const TAString& signal, const TAString& state) const
{
    const int row = validity_->FindRow(signal);
    if (row < 0) return "no signal is named '" + signal + "'";
    if (validity_->FindChoice(row, state) == TValidManip::NoItem) {
        TAString offered;
        for (const TAString& item : validity_->Row(row).Items) offered += (offered.IsEmpty() ? "" : ", ") + item;
        return "'" + state + "' is not a choice of '" + signal + "' (" + offered + ")";
    }
    return {};
}

TAString TVehicleChecks::Release(const TAString& signal) const
{
    return HasSignal(signal) ? TAString() : "no signal is named '" + signal + "'";
}

TAString TVehicleChecks::Group(uint32_t pgn) const
{
    if (TOptionsEditor::FrameIndexOfPgn(*catalogue_, pgn) < 0)
        return TAString::Hex16(static_cast<uint16_t>(pgn)) + ": not a group of the catalogue";
    return {};
}
