// The program's drivers, one row each, in registry slot order. A new driver is
// added here and nowhere else.

#include "can/tcandriverentry.h"

#include "can/sim/tcandriversim.h"
#include "support/tbaseerror.h"

namespace {

// Stands in for a driver that this build does not contain yet.
TCanDriverEntry::Factory Unavailable()
{
    return []() -> std::unique_ptr<TCanDriver> {
        throw TBaseError("TCanAdapters::OpenChannel", "Driver not available");
    };
}

} // namespace

const std::vector<TCanDriverEntry>& CanDriverTable()
{
    static const std::vector<TCanDriverEntry> table{
        {"Simulation", "Simulation",
         [] { return std::make_unique<TCanDriverSim>(); }, false, CommListDescription},
        {"Vector3.2", "Vector Informatik GmbH (VCANL 3.2)", Unavailable(), true, CardDescription},
        {"Vci2.0", "IXXAT GmbH (VCI 2.x)", Unavailable(), false, CardDescription},
        {"Vci3.0", "IXXAT GmbH (VCI 3.x)", Unavailable(), false, CardDescription},
    };
    return table;
}
