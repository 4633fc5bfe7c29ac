// Arbitrary adapter settings and channel descriptions: the description assembled from a
// settings key, the simulation channel's split into communication descriptions, and the
// communication factory for the kind that touches nothing outside the process (RAM).
// File and socket kinds are parsed only up to the factory: a fuzzer must not write files
// or connect anywhere.
#include "can/sim/tcanchannelsim.h"
#include "can/tcanadapters.h"
#include "support/tbaseerror.h"
#include "support/txmlelement.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

class TQuietComm final : public TACommunication {
public:
    TQuietComm() : TACommunication(std::nullopt, std::nullopt, TSimFrameRecord::Size) { StartThreads(); }
    ~TQuietComm() override { StopThreads(); }
    TAString Where() const override { return "quiet"; }

protected:
    bool Send() override
    {
        SendBuffer().Skip(SendBuffer().Count());
        return false;
    }
    bool Receive() override { return false; }
};

std::unique_ptr<TACommunication> SafeFactory(const TAString& description, bool sendOnly)
{
    if (description.Word(0) == "RAM")
        return TACommunication::New(description, TCommOptions(TSimFrameRecord::Size, nullptr, sendOnly));
    if (description.WordCount() == 0) throw TBaseError("TACommunication::New", "ConfigError");
    return std::make_unique<TQuietComm>();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    // First line: a settings document around an adapter key; the rest: a channel text.
    const size_t cut = input.find('\n');
    const TAString settings(input.substr(0, cut));
    const TAString text(cut == std::string::npos ? std::string() : input.substr(cut + 1));
    try {
        const TXmlElement root = TXmlElement::ParseDocument(settings);
        if (root.CountKeys() > 0) (void)TCanAdapters::ChannelDescription(root.GetKey(0));
    } catch (const TBaseError&) {
    }
    try {
        TCanChannelSim channel(text, SafeFactory, [] { return int64_t{0}; });
        channel.Write(TCanFrame(0x18FEF100, {1, 2, 3, 4, 5, 6, 7, 8}, 8, 0));
        (void)channel.Read();
    } catch (const TBaseError&) {
    }
    return 0;
}
