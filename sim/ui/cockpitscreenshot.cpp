#include "sim/ui/cockpitscreenshot.h"

#include "sim/tlkw.h"
#include "sim/ui/tfsim_lkw.h"

#include <QLayout>
#include <QPixmap>
#include <QSlider>

void PrepareCockpitScreenshot(TFSim_Lkw& cockpit)
{
    if (auto* gear = cockpit.findChild<QSlider*>("TB_Gang")) gear->setValue(8 - 3);
    if (auto* accel = cockpit.findChild<QSlider*>("TB_Accel")) accel->setValue(100 - 60);
    cockpit.Lkw().StartEngine();
    for (int i = 0; i < 1000; ++i) cockpit.Step(0.02, false);
    cockpit.UpdateDisplay();

    const struct {
        int Index;
        int Clicks;
    } lit[] = {{1, 3}, {9, 2}, {18, 1}};
    for (const auto& t : lit)
        for (int k = 0; k < t.Clicks; ++k) cockpit.ClickTellTale(t.Index);
}

bool RenderCockpitScreenshot(TFSim_Lkw& cockpit, const QString& fileName)
{
    PrepareCockpitScreenshot(cockpit);
    cockpit.ensurePolished();
    if (cockpit.layout()) cockpit.layout()->activate();
    return cockpit.grab().save(fileName, "PNG");
}
