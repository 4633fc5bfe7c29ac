// Arbitrary text as a CAN log line: detection for every request, parsing in the layout
// found, and writing the frame back in every layout.
#include "fms/tcanframe.h"
#include "support/tbaseerror.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const TAString line(std::string(reinterpret_cast<const char*>(data), size));
    for (TLogFormat request : {lfAscD, lfAscD8, lfFixed, lfFixedSaPgn, lfFixedId, lfAny}) {
        const TLogFormat found = TCanFrame::DetectFormat(line, request);
        if (found == lfNone) continue;
        try {
            const TCanFrame frame(line, found);
            for (TLogFormat out : {lfAscD, lfAscD8, lfFixedSaPgn, lfFixedId}) (void)frame.ToString(out);
        } catch (const TBaseError&) {
        }
    }
    return 0;
}
