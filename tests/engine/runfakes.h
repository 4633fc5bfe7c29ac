#pragma once
// Fakes for the run engine's seams: they record what the engine hands them and fail
// on demand.

#include "engine/tcantransmit.h"
#include "engine/terrorreporter.h"
#include "engine/treceivedframesink.h"
#include "engine/truncockpit.h"
#include "engine/trunengine.h"
#include "engine/trunview.h"
#include "can/tcanchannel.h"
#include "support/tbaseerror.h"

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
