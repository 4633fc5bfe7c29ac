#pragma once
// Parts shared by the soak test and the soak and CPU benchmarks: a byte hash to compare
// the channel's frames with the output log, a validity manipulation that moves every
// signal on each simulated second, and a monitor that builds the data monitor's text.

#include "engine/trunengine.h"
#include "engine/trunmonitor.h"
#include "engine/trunvalidity.h"
#include "fms/tbusfmsstandard.h"
#include "fms/tvehicledatatext.h"

#include <cstddef>
#include <cstdint>

// FNV-1a over bytes.
class THash {
public:
    void Add(const char* bytes, size_t size)
    {
        for (size_t i = 0; i < size; ++i) {
            value_ ^= static_cast<uint8_t>(bytes[i]);
            value_ *= 1099511628211ull;
        }
    }
    uint64_t Value() const { return value_; }

private:
    uint64_t value_ = 1469598103934665603ull;
};

// Every simulated second each signal moves one place on in valid, error, not available.
class TRotatingValidity final : public TRunValidity {
public:
    explicit TRotatingValidity(const TRunEngine& engine) : engine_(engine) {}
    void Execute(TBusFmsStandard& catalogue) override
    {
        static constexpr TMeasState Rotation[] = {msValid, msError, msNotAvailable};
        const int64_t second = engine_.SimTime() / 1000000;
        if (second != last_) {
            last_ = second;
            ++changes;
        }
        for (int i = 0; i < catalogue.SignalCount(); ++i)
            catalogue.Signal(i).MeasVal->State = Rotation[(i + second) % 3];
    }
    // The choices change with every simulated second.
    uint64_t ChoicesVersion() const override { return static_cast<uint64_t>(engine_.SimTime() / 1000000); }
    long changes = 0;

private:
    const TRunEngine& engine_;
    int64_t last_ = -1;
};

// The data monitor's work without its window: the text of every row.
class TTextMonitor final : public TRunMonitor {
public:
    // A refresh with a catalogue counts; none (the start of a run) empties the text.
    void ShowValues(const TBusFmsStandard* catalogue) override
    {
        text = catalogue ? TVehicleDataText::Table(*catalogue) : TAString();
        if (catalogue) ++refreshes;
    }
    TAString text;
    long refreshes = 0;
};
