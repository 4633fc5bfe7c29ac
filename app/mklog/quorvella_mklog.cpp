// Records the internal log: a 60 s run of the vehicle simulation as the program starts
// up (cockpit at its initial settings, "Valid Manipulation" on with every signal
// valid), started with the cockpit's starter, its frames written as the output log.
// The clock is simulated: the run takes as long as the computation.
//
// Usage: quorvella-mklog [output file]   (default data/internal.asc, replaced)

#include "app/tcantransmit.h"
#include "app/terrorreporter.h"
#include "app/trecordingcockpit.h"
#include "app/trunengine.h"
#include "app/trunvalidity.h"
#include "app/ttimesource.h"
#include "fms/tbusfmsstandard.h"
#include "support/tbaseerror.h"

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int64_t RunMicros = 60 * 1000000LL;

// No adapter is open while recording; nothing is written.
class TNoTransmit final : public TCanTransmit {
public:
    void Write(const TCanFrame&, int64_t) override {}
    void SetChannel(TCanChannel*) override {}
};

// The validity window at its start: every row "Valid Signal".
class TAllValid final : public TRunValidity {
public:
    void Execute(TBusFmsStandard& catalogue) override
    {
        for (int i = 0; i < catalogue.SignalCount(); ++i) catalogue.Signal(i).MeasVal->State = msValid;
    }
};

class TErrorsToStderr final : public TErrorReporter {
public:
    void ShowError(const TBaseError& error) override
    {
        std::fprintf(stderr, "quorvella-mklog: %s\n", error.DescribeText().c_str());
        failed = true;
    }
    bool failed = false;
};

}  // namespace

int main(int argc, char** argv)
{
    const TAString fileName = argc > 1 ? argv[1] : "data/internal.asc";
    std::remove(fileName.c_str());

    TManualTimeSource clock(1000000000);
    TNoTransmit transmit;
    TRecordingCockpit cockpit;
    TAllValid validity;
    TErrorsToStderr errors;

    TRunEngine engine(clock, transmit);
    engine.SetCockpit(&cockpit);
    engine.SetValidity(&validity);
    engine.SetErrorReporter(&errors);
    engine.Controls.Display = false;
    engine.Controls.SendCan = false;
    if (!engine.OpenLogOut(fileName)) {
        std::fprintf(stderr, "quorvella-mklog: cannot open %s\n", fileName.c_str());
        return EXIT_FAILURE;
    }
    engine.Controls.LogFile = true;

    // The starter: the run starts, then the engine is turned over.
    engine.Start();
    cockpit.StartEngine();
    for (int64_t t = 0; t < RunMicros;) {
        t += TRunEngine::TickIntervalMs * 1000;
        clock.AdvanceMicros(TRunEngine::TickIntervalMs * 1000);
        engine.TimerSysTimer();
    }
    engine.Stop();
    engine.LogOut().Close();
    return errors.failed ? EXIT_FAILURE : EXIT_SUCCESS;
}
