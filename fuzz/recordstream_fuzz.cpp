// Arbitrary bytes from a peer on a simulation channel, arriving in pieces of any size:
// Read gives whole frames or "no frame" and never loses its place in the stream.
#include "can/sim/tcanchannelsim.h"
#include "support/tbaseerror.h"

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstdlib>

namespace {

// A communication channel the fuzzer feeds by hand; no thread ever touches its buffers.
class TFedComm final : public TACommunication {
public:
    TFedComm() : TACommunication(std::nullopt, std::nullopt) {}
    void Feed(const uint8_t* bytes, int n) { ReceiveBuffer().Write(bytes, n); }

protected:
    bool Send() override { return false; }
    bool Receive() override { return false; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TFedComm* fed = nullptr;
    TCanChannelSim channel(
        "RAM 0 0",
        [&](const TAString&) {
            auto comm = std::make_unique<TFedComm>();
            fed = comm.get();
            return comm;
        },
        [] { return int64_t{42}; });
    size_t at = 0;
    size_t total = 0;
    size_t got = 0;
    while (at < size) {
        // The first byte of each piece says how many bytes follow in it.
        const size_t piece = std::min<size_t>(data[at] % 40, size - at - 1);
        fed->Feed(data + at + 1, static_cast<int>(piece));
        total += piece;
        at += piece + 1;
        // Every complete record comes out stamped by the reader's clock; "no frame" is not.
        while (channel.Read().Time == 42) ++got;
    }
    if (got != total / 24) std::abort();
    return 0;
}
