// Arbitrary frame sequences into the send queue's reassembly: BAM announcements, data
// packets in any order, single frames; then everything that came out complete is sent.
#include "fms/tcanhighdb.h"
#include "support/tbaseerror.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TCanHighDB queue;
    // Each frame takes 10 bytes: a selector for the identifier, a time step, 8 data bytes.
    static constexpr uint32_t kIds[] = {0x18ECFF00u, 0x18EBFF00u, 0x18FEF100u, 0x18ECFF01u,
                                        0x18EBFF01u, 0x18FEEC00u, 0x1CECFF00u, 0xFFFFFFFFu};
    int64_t time = 0;
    for (size_t at = 0; at + 10 <= size; at += 10) {
        TCanFrame frame;
        frame.Id = kIds[data[at] % 8];
        time += data[at + 1] * 1000;
        frame.Time = time;
        for (int i = 0; i < 8; ++i) frame.Data[static_cast<size_t>(i)] = data[at + 2 + static_cast<size_t>(i)];
        try {
            queue.AddFrame(frame);
        } catch (const TBaseError&) {
        }
    }
    for (int guard = 0; guard < 100000; ++guard)
        if (queue.GetNextFrame(INT64_MAX).IsNone()) break;
    return 0;
}
