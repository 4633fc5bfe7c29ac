#include "sim/tcockpitsignals.h"

#include "sim/tlkw.h"

#include <cmath>
#include <limits>

void TCockpitSignals::Change(TLkw& lkw, const TCockpitValues& values, int senderTag)
{
    if (senderTag >= 1) {
        if (const TCockpitControl* control = TCockpitTable::FindTag(senderTag)) Apply(lkw, values, *control);
        return;
    }
    for (const TCockpitControl* control : TCockpitTable::InTagOrder()) Apply(lkw, values, *control);
}

void TCockpitSignals::Apply(TLkw& lkw, const TCockpitValues& values, const TCockpitControl& control)
{
    switch (control.Kind) {
    case TCockpitKind::Check: lkw.SetMV(control.ValueName, values.Checked(control) ? 1.0 : 0.0); return;
    case TCockpitKind::Combo: lkw.SetMV(control.ValueName, TCockpitTable::ComboValue(values.Text(control))); return;
    case TCockpitKind::Number: lkw.SetMV(control.ValueName, values.Number(control)); return;
    case TCockpitKind::Text: break;
    }
    const TAString text = values.Text(control);
    switch (control.Target) {
    case TCockpitTarget::VehicleId: lkw.SetVehicleId(text); break;
    case TCockpitTarget::DriverId1: lkw.SetDriverId1(text); break;
    case TCockpitTarget::DriverId2: lkw.SetDriverId2(text); break;
    case TCockpitTarget::Value: break;
    }
}

int32_t TCockpitSignals::GaugeRaw(double value)
{
    const double raw = std::trunc(value * 100.0);
    if (std::isnan(raw)) return 0;
    if (raw >= static_cast<double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    if (raw <= static_cast<double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(raw);
}

int TCockpitSignals::AcceleratorPosition(double percent)
{
    const double position = std::trunc(100.0 - percent);
    if (std::isnan(position) || position <= 0.0) return 0;
    if (position >= 100.0) return 100;
    return static_cast<int>(position);
}
