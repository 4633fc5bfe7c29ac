#pragma once
// A run of the engine without windows of its own: a manual clock, a transmit side that
// records every frame with the step it was written in, and a cockpit with a fixed
// value line. Used to check the fms windows end to end through the main tick.

#include "engine/tcantransmit.h"
#include "engine/trecordingcockpit.h"
#include "engine/truncockpit.h"
#include "engine/trunengine.h"
#include "engine/ttimesource.h"
#include "can/tcanchannel.h"

#include <algorithm>
#include <cstdint>
#include <vector>

struct TSentFrame {
    TCanFrame Frame;
    int64_t SimTime;   // the step in which the engine wrote it
};

class TRecordingTransmit final : public TCanTransmit {
public:
    void Write(const TCanFrame& frame, int64_t) override { sent.push_back({frame, engine ? engine->SimTime() : -1}); }
    void SetChannel(TCanChannel*) override {}

    const TRunEngine* engine = nullptr;
    std::vector<TSentFrame> sent;
};

class TQuietChannel final : public TCanChannel {
public:
    TCanFrame Read() override { return {}; }
    void Write(const TCanFrame&) override {}
};

// The start-up cockpit's values with some entries replaced.
class TFixedCockpit final : public TRunCockpit {
public:
    TFixedCockpit()
    {
        TRecordingCockpit start;
        values_ = start.Values();
    }
    // Entry i (its catalogue position) becomes a number, a text's bytes or a state.
    void SetNumber(int i, double value) { values_.SetNumber(static_cast<TSignalId>(i), value); }
    void SetText(int i, const std::string& bytes) { values_.SetText(static_cast<TSignalId>(i), bytes); }
    void SetState(int i, TMeasState state) { values_.SetState(static_cast<TSignalId>(i), state); }
    const TSignalSnapshot& Step(double, bool) override { return values_; }
    const TSignalSnapshot& Values() override { return values_; }

private:
    TSignalSnapshot values_;
};

struct TRunHarness {
    static constexpr int64_t StartMicros = 1000500000;

    TRunHarness()
    {
        transmit.engine = &engine;
        engine.SetCockpit(&cockpit);
        engine.SetCanChannel(&channel);
    }
    void RunFor(int64_t ms)
    {
        for (; ms > 0; ms -= TRunEngine::TickIntervalMs) {
            clock.AdvanceMicros(TRunEngine::TickIntervalMs * 1000);
            engine.TimerSysTimer();
        }
    }
    // The data of every frame of the group pgn written from step fromUs on.
    std::vector<std::array<uint8_t, 8>> Frames(uint32_t pgn, int64_t fromUs = 0) const
    {
        std::vector<std::array<uint8_t, 8>> r;
        for (const TSentFrame& s : transmit.sent)
            if (((s.Frame.Id >> 8) & 0xFFFF) == pgn && s.SimTime >= fromUs)
                r.push_back(s.Frame.Data);
        return r;
    }

    TManualTimeSource clock{StartMicros};
    TRecordingTransmit transmit;
    TQuietChannel channel;
    TFixedCockpit cockpit;
    TRunEngine engine{clock, transmit};
};
