#pragma once
// The program's time source: seconds as a long double on a monotonic scale.
// Microseconds are seconds x 1000000 truncated to a signed 64-bit number.
// The real source is CLOCK_MONOTONIC; tests drive a TManualTimeSource.

#include <atomic>
#include <cstdint>

class TTimeSource {
public:
    virtual ~TTimeSource() = default;
    virtual long double Seconds() const = 0;

    int64_t Micros() const { return static_cast<int64_t>(Seconds() * 1000000.0L); }
};

// CLOCK_MONOTONIC in seconds.
class TMonotonicTimeSource final : public TTimeSource {
public:
    long double Seconds() const override;
    // The process-wide instance.
    static const TMonotonicTimeSource& Instance();
};

// A clock that only moves when told to; safe to read from another thread.
class TManualTimeSource final : public TTimeSource {
public:
    explicit TManualTimeSource(int64_t startMicros = 0) : micros_(startMicros) {}
    long double Seconds() const override { return static_cast<long double>(micros_.load()) / 1000000.0L; }
    void SetMicros(int64_t micros) { micros_.store(micros); }
    void AdvanceMicros(int64_t delta) { micros_.fetch_add(delta); }

private:
    std::atomic<int64_t> micros_;
};
