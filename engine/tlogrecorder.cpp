#include "engine/tlogrecorder.h"

#include "engine/tcantransmit.h"
#include "engine/terrorreporter.h"
#include "engine/trecordingcockpit.h"
#include "engine/trunengine.h"
#include "engine/trunvalidity.h"
#include "engine/ttimesource.h"
#include "fms/tbusfmsstandard.h"
#include "support/tbaseerror.h"

namespace {

class TNoTransmit final : public TCanTransmit {
public:
    void Write(const TCanFrame&, int64_t) override {}
    void SetChannel(TCanChannel*) override {}
};

// The validity window as it starts: every row "Valid Signal".
class TAllValid final : public TRunValidity {
public:
    void Execute(TBusFmsStandard& catalogue) override
    {
        for (int i = 0; i < catalogue.SignalCount(); ++i) catalogue.Signal(i).MeasVal->State = msValid;
    }
    uint64_t ChoicesVersion() const override { return 0; }   // the same for the whole run
};

class TFirstError final : public TErrorReporter {
public:
    void ShowError(const TBaseError& error) override
    {
        if (text.IsEmpty()) text = error.DescribeText();
    }
    TAString text;
};

}  // namespace

TAString TLogRecorder::Record(const TAString& fileName, int64_t runMicros)
{
    constexpr int64_t tickMicros = TRunEngine::TickIntervalMs * 1000;
    TManualTimeSource clock(1000000000);
    TNoTransmit transmit;
    TRecordingCockpit cockpit;
    TAllValid validity;
    TFirstError errors;

    TRunEngine engine(clock, transmit);
    engine.SetCockpit(&cockpit);
    engine.SetValidity(&validity);
    engine.SetErrorReporter(&errors);
    engine.Controls.SendCan = false;
    engine.Controls.Display = false;
    if (!engine.OpenLogOut(fileName)) throw TBaseError("TLogRecorder::Record", "cannot open");
    engine.Controls.LogFile = true;

    engine.Start();
    cockpit.StartEngine();
    for (int64_t t = 0; t < runMicros; t += tickMicros) {
        clock.AdvanceMicros(tickMicros);
        engine.TimerSysTimer();
    }
    engine.Stop();
    engine.LogOut().Close();
    return errors.text;
}
