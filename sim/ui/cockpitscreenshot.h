#pragma once
// The cockpit as the screenshots show it: during a drive, with a few tell-tales lit.

#include <QString>

class TFSim_Lkw;

// Puts the cockpit into a drive: engine started, third gear, accelerator at 60 %,
// 20 s of model time driven and shown, high beam on (info), fuel level warning
// (yellow), service due (red). Meant for a freshly created cockpit.
void PrepareCockpitScreenshot(TFSim_Lkw& cockpit);

// PrepareCockpitScreenshot, then the window rendered into fileName as PNG (for
// "TFSim_Lkw.png"). False when the file could not be written.
bool RenderCockpitScreenshot(TFSim_Lkw& cockpit, const QString& fileName);
