#include "fms/ui/fmsshowcase.h"

#include "engine/tcantransmit.h"
#include "engine/trecordingcockpit.h"
#include "engine/trunengine.h"
#include "engine/ttimesource.h"
#include "fms/ui/tfvalidflagmanip.h"
#include "fms/ui/tfvehicledata.h"

#include <QComboBox>

namespace {

// The run needs somewhere to send its frames; the showcase throws them away.
class TDiscardingTransmit final : public TCanTransmit {
public:
    void Write(const TCanFrame&, int64_t) override {}
    void SetChannel(TCanChannel*) override {}
};

void Choose(TFValidFlagManip& window, const char* signal, const char* item)
{
    const int row = window.Manip().FindRow(signal);
    if (row < 0)
        return;
    QComboBox* box = window.RangeBox(row);
    box->setCurrentIndex(box->findText(QString::fromUtf8(item)));
}

}  // namespace

namespace FmsShowcase {

void ValidFlagManip(TFValidFlagManip& window)
{
    Choose(window, "Clutch switch", "10 = Error");
    Choose(window, "Fuel level", "FF = not available");
    Choose(window, "Engine speed", "FE = Error");
    Choose(window, "Vehicle identification number", "FF = not available");
    window.B_ApplyClick();
}

void VehicleData(TFVehicleData& window)
{
    TManualTimeSource clock(1000000000);
    TDiscardingTransmit transmit;
    TRecordingCockpit cockpit;
    TRunEngine engine(clock, transmit);
    engine.SetCockpit(&cockpit);
    engine.SetMonitor(&window);
    engine.Start();
    cockpit.StartEngine();
    // Past the first driver identification (due at 5012 ms, its transfer 0.5 s long).
    for (int t = 0; t < 6000; t += TRunEngine::TickIntervalMs) {
        clock.AdvanceMicros(TRunEngine::TickIntervalMs * 1000);
        engine.TimerSysTimer();
    }
    engine.Stop();
}

}  // namespace FmsShowcase
