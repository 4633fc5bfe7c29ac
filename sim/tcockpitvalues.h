#pragma once
// What the cockpit's signal controls hold, as TCockpitSignals reads them: the window
// answers from its check boxes, combo boxes and edit wrappers, tests from a table.

#include "sim/tcockpittable.h"

class TCockpitValues {
public:
    virtual ~TCockpitValues() = default;
    virtual bool Checked(const TCockpitControl& control) const = 0;
    // Combo box: its current text; text field: its committed text.
    virtual TAString Text(const TCockpitControl& control) const = 0;
    // Numeric field: its committed number.
    virtual double Number(const TCockpitControl& control) const = 0;

protected:
    TCockpitValues() = default;
    TCockpitValues(const TCockpitValues&) = default;
    TCockpitValues& operator=(const TCockpitValues&) = default;
};
