#pragma once
// Puts the validity and monitor windows into a state worth showing (screenshots,
// manuals). Neither shows the window; the caller does.

class TFValidFlagManip;
class TFVehicleData;

namespace FmsShowcase {

// Chooses and applies, as a user would: "10 = Error" for "Clutch switch",
// "FF = not available" for "Fuel level", "FE = Error" for "Engine speed" and
// "FF = not available" for "Vehicle identification number".
void ValidFlagManip(TFValidFlagManip& window);

// Fills the monitor as it looks during a run: a run of the vehicle simulation at its
// start-up settings with a running engine, 3 s of simulated time, refreshing the window.
void VehicleData(TFVehicleData& window);

}  // namespace FmsShowcase
