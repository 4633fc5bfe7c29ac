// Arbitrary text as the value of every catalogue signal: Read, and for what it accepts,
// Write and the encoding into its parameter group.
#include "fms/tbusfmsstandard.h"
#include "fms/tcanhigh.h"
#include "support/tbaseerror.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static TBusFmsStandard catalogue("00.02");
    const TAString text(std::string(reinterpret_cast<const char*>(data), size));
    for (int i = 0; i < catalogue.SignalCount(); ++i) {
        TFmsMeasVal& signal = catalogue.Signal(i);
        try {
            std::unique_ptr<TMeasVal> value = signal.Read(text);
            std::unique_ptr<TMeasVal> kept = std::move(signal.MeasVal);
            signal.MeasVal = std::move(value);
            (void)signal.Write();
            TCanHigh message;
            try {
                signal.WriteToCan(message);
            } catch (const TBaseError&) {
            }
            signal.MeasVal = std::move(kept);
        } catch (const TBaseError&) {
        }
    }
    return 0;
}
