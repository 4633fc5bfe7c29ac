#pragma once
// Fakes for the run engine's seams: they record what the engine hands them and fail
// on demand.

#include "engine/tcantransmit.h"
#include "engine/terrorreporter.h"
#include "engine/treceivedframesink.h"
#include "engine/truncockpit.h"
#include "engine/trunengine.h"
#include "engine/trunmonitor.h"
#include "engine/trunvalidity.h"
#include "engine/trunview.h"
#include "engine/ttimesource.h"
#include "can/tcanchannel.h"
#include "fms/tbusfmsstandard.h"
#include "fms/tvalidmanip.h"
#include "fms/tvehicledatatext.h"
#include "support/tbaseerror.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <limits>
#include <stdexcept>
#include <utility>
#include <vector>

struct TSentFrame {
    TCanFrame Frame;
    int64_t Delay;
    int64_t SimTime;   // the step in which the engine wrote it
    bool Now = false;  // written with WriteNow (an answer), not for the schedule
};

class TRecordingTransmit final : public TCanTransmit {
public:
    enum TFail { fNone, fBaseError, fOther };

    void Write(const TCanFrame& frame, int64_t delay) override
    {
        if (fail == fBaseError) throw TBaseError("TCanBuffer::Write", "write error");
        if (fail == fOther) throw std::runtime_error("boom");
        sent.push_back({frame, delay, engine ? engine->SimTime() : -1});
    }
    void WriteNow(const TCanFrame& frame, int64_t delay) override
    {
        Write(frame, delay);
        sent.back().Now = true;
    }
    // A medium that takes perStep frames in each millisecond step.
    int Room() const override
    {
        if (perStep == std::numeric_limits<int>::max() || !engine) return perStep;
        int taken = 0;
        for (auto it = sent.rbegin(); it != sent.rend() && it->SimTime == engine->SimTime(); ++it) ++taken;
        return perStep - taken;
    }
    void SetChannel(TCanChannel* channel) override { channels.push_back(channel); }
    TBaseError TakeError() override { return std::exchange(pending, TBaseError()); }

    const TRunEngine* engine = nullptr;
    TBaseError pending;   // what the sending thread would have recorded
    TFail fail = fNone;
    int perStep = std::numeric_limits<int>::max();
    std::vector<TSentFrame> sent;
    std::vector<TCanChannel*> channels;
};

// Keeps every frame handed to it, in order, and nothing else.
class TFrameListTransmit final : public TCanTransmit {
public:
    void Write(const TCanFrame& frame, int64_t) override { sent.push_back(frame); }
    void SetChannel(TCanChannel*) override {}
    std::vector<TCanFrame> sent;
};

// A channel on which nothing ever arrives and everything written goes nowhere.
class TSilentChannel final : public TCanChannel {
public:
    TCanFrame Read() override
    {
        TCanFrame none;
        none.Id = NoFrameId;
        return none;
    }
    void Write(const TCanFrame&) override {}
};

// The data monitor's rows as text, as the window would show them after a refresh.
class TValueListMonitor final : public TRunMonitor {
public:
    void ShowValues(const TBusFmsStandard* catalogue) override
    {
        if (catalogue) values = TVehicleDataText::Values(catalogue);
    }
    std::vector<TAString> values;
};

// The validity window's manipulation without its window: every row at "Valid Signal"
// until the test forces one.
class TManipValidity final : public TRunValidity {
public:
    void Execute(TBusFmsStandard& catalogue) override { manip.Execute(catalogue); }
    uint64_t ChoicesVersion() const override { return manip.Version(); }
    TValidManip manip;
};

// Advances clock by ms in the window's ticks, each ending in the engine's tick.
inline void RunTicks(TManualTimeSource& clock, TRunEngine& engine, int64_t ms)
{
    while (ms > 0) {
        const int64_t t = std::min<int64_t>(ms, TRunEngine::TickIntervalMs);
        clock.AdvanceMicros(t * 1000);
        engine.TimerSysTimer();
        ms -= t;
    }
}

// The field of bits bits at bit of a frame's data (J1939 byte order).
inline uint64_t FrameField(const TCanFrame& f, int bit, int bits)
{
    uint64_t raw = 0;
    for (int b = 0; b < bits; ++b)
        raw |= uint64_t((f.Data[static_cast<size_t>((bit + b) / 8)] >> ((bit + b) % 8)) & 1u) << b;
    return raw;
}

class TFakeChannel final : public TCanChannel {
public:
    TCanFrame Read() override
    {
        ++reads;
        if (failReads) throw TBaseError("TCanChannelSim::Read", "read error");
        return {};
    }
    void Write(const TCanFrame&) override {}

    int reads = 0;
    bool failReads = false;
};

// A channel that has received what the test pushed, in that order.
class TScriptedChannel final : public TCanChannel {
public:
    TCanFrame Read() override
    {
        ++reads;
        if (waiting.empty()) return {};
        const TCanFrame f = waiting.front();
        waiting.pop_front();
        return f;
    }
    void Write(const TCanFrame&) override {}
    void Push(const TCanFrame& f) { waiting.push_back(f); }

    std::deque<TCanFrame> waiting;
    int reads = 0;
};

class TRecordingSink final : public TReceivedFrameSink {
public:
    void FrameReceived(const TCanFrame& frame) override { frames.push_back(frame); }
    std::vector<TCanFrame> frames;
};

class TRecordingErrors final : public TErrorReporter {
public:
    void ShowError(const TBaseError& error) override { shown.push_back(error); }
    std::vector<TBaseError> shown;
};

class TRecordingView final : public TRunView {
public:
    void RunStateChanged(bool running) override { states.push_back(running); }
    void ControlsChanged() override { ++controlChanges; }
    std::vector<bool> states;
    int controlChanges = 0;
};

// A cockpit whose values the test chooses.
class TFixedCockpit final : public TRunCockpit {
public:
    explicit TFixedCockpit(TSignalSnapshot start = {}) : values(std::move(start)) {}
    const TSignalSnapshot& Step(double, bool) override
    {
        ++steps;
        return values;
    }
    const TSignalSnapshot& Values() override { return values; }
    int steps = 0;
    TSignalSnapshot values;   // what every step hands over; the test may change it
};
