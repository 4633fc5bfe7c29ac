#pragma once
// Where the control API's thread and the run meet. The API's thread pushes commands
// and reads the run's published status; the thread that steps the model takes the
// commands at the model's next step and applies them there (TControlApplier), and
// publishes the status once per tick. Nothing here ever makes the run's thread wait
// for the API's: the one mutex is held only to move a command or copy the status.
//
// Producer/consumer: any number of API threads push (Push, RequestRun); one run thread
// takes (Take, TakeRunRequest) and publishes (Publish). The signal monitor and the
// frame trace are read through their own thread-safe snapshots.

#include "engine/tscenario.h"
#include "support/tastring.h"

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <vector>

class TFrameTrace;
class TSignalMonitor;

struct TControlCommand {
    enum class TKind { Set, Starter, Force, Release, Scenario };
    TKind Kind = TKind::Starter;
    TAString Name;       // Set: the model value; Force, Release: the signal
    TAString State;      // Force: the validity choice
    double Value = 0;    // Set
    TScenario Scenario;  // Scenario: checked, played from the step it is taken in
};

struct TControlStatus {
    bool Running = false;
    bool Simulation = true;       // false: a log is replayed, the model takes no commands
    int64_t RunTime = 0;          // µs since Start
    uint64_t FramesSent = 0;
    uint64_t FramesReceived = 0;
    int Errors = 0;               // errors reported during the run
    bool ScenarioPlaying = false;
    int ScenarioLine = 0;         // the scenario step carried out last, 0 before the first
    TAString ScenarioText;
};

class TControlHub {
public:
    enum class TRunRequest { None, Start, Stop };
    // Commands waiting at most; a push beyond is refused (the run is not taking them).
    static constexpr std::size_t MaxCommands = 1000;

    // Either may be null (no monitor, no trace); not owned, each must outlive this.
    TControlHub(const TSignalMonitor* monitor, const TFrameTrace* trace) : monitor_(monitor), trace_(trace) {}

    // API threads. False when MaxCommands are already waiting.
    bool Push(TControlCommand command);
    void RequestRun(TRunRequest request);
    TControlStatus Status() const;
    const TSignalMonitor* Monitor() const { return monitor_; }
    const TFrameTrace* Trace() const { return trace_; }

    // The run's thread.
    std::vector<TControlCommand> Take();
    TRunRequest TakeRunRequest();
    void Publish(const TControlStatus& status);
    // Commands of a run that ended never reach the next one.
    void Clear();

private:
    const TSignalMonitor* monitor_;
    const TFrameTrace* trace_;
    mutable std::mutex mutex_;
    std::deque<TControlCommand> commands_;   // guarded by mutex_
    TRunRequest request_ = TRunRequest::None;   // guarded by mutex_
    TControlStatus status_;                  // guarded by mutex_
};
