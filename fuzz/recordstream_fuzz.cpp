// Arbitrary bytes from peers on a simulation channel, arriving in pieces of any size and
// in streams (connections, drops) that may end anywhere: Read gives whole frames or "no
// frame", reports every stream cut inside a record once, and never loses its place.
#include "can/sim/tcanchannelsim.h"
#include "support/tbaseerror.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// A communication channel the fuzzer feeds by hand; its threads have nothing to do.
class TFedComm final : public TACommunication {
public:
    TFedComm() : TACommunication(std::nullopt, std::nullopt, TSimFrameRecord::Size) {}
    TAString Where() const override { return "fed"; }
    void Feed(const uint8_t* bytes, size_t n) { Deliver(stream_, bytes, n); }
    void End() { EndStream(stream_, "fed stream"); }

protected:
    bool Send() override { return false; }
    bool Receive() override { return false; }

private:
    TInbound stream_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TFedComm* fed = nullptr;
    TCanChannelSim channel(
        "RAM 0 0",
        [&](const TAString&, bool) {
            auto comm = std::make_unique<TFedComm>();
            fed = comm.get();
            return comm;
        },
        [] { return int64_t{42}; });
    size_t at = 0;
    size_t inStream = 0;
    size_t whole = 0;
    size_t cut = 0;
    size_t got = 0;
    size_t reported = 0;
    while (at < size) {
        // The first byte of each piece says how many bytes follow in it, or (from 0xF0)
        // that the stream ends there.
        if (data[at] >= 0xF0) {
            fed->End();
            whole += inStream / 24;
            cut += inStream % 24 != 0 ? 1 : 0;
            inStream = 0;
            ++at;
        } else {
            const size_t piece = std::min<size_t>(data[at] % 40, size - at - 1);
            fed->Feed(data + at + 1, piece);
            inStream += piece;
            at += piece + 1;
        }
        // Every record comes out stamped by the reader's clock; "no frame" is not.
        for (;;) {
            try {
                if (channel.Read().Time != 42) break;
                ++got;
            } catch (const TBaseError& e) {
                if (e.Message() != "FrameError") std::abort();
                ++reported;
            }
        }
    }
    whole += inStream / 24;
    if (got != whole || reported != cut) std::abort();
    return 0;
}
