// The program's drivers, one row each, in registry slot order. A new driver is
// added here and nowhere else. A row without a factory is a driver this build does
// not contain yet: asking for it fails with "Driver not available".

#include "can/tcandriverentry.h"

#include "can/sim/tcandriversim.h"
#include "can/vci/tcandrivervci.h"
#include "can/vci/tcandrivervci3.h"
#include "can/vector/tcandrivervector.h"

const std::vector<TCanDriverEntry>& CanDriverTable()
{
    static const std::vector<TCanDriverEntry> table{
        {"Simulation", "Simulation",
         [] { return std::make_unique<TCanDriverSim>(); }, false, CommListDescription},
        {"Vector3.2", "Vector Informatik GmbH (VCANL 3.2)",
         [] { return std::make_unique<TCanDriverVector>(); }, true, CardDescription},
        {"Vci2.0", "IXXAT GmbH (VCI 2.x)",
         [] { return std::make_unique<TCanDriverVCI>(); }, false, CardDescription},
        {"Vci3.0", "IXXAT GmbH (VCI 3.x)",
         [] { return std::make_unique<TCanDriverVCI3>(); }, false, CardDescription},
    };
    return table;
}
