#pragma once
// Plays a scenario on the vehicle, driven by the run's simulated clock: the model's step
// calls Advance with the run time, and every step of the scenario that is due by then is
// carried out through TVehicleCommands, the path the runner's options take. A step of
// time T thus takes effect at the first model step at or after T (the model steps every
// 20 ms: a step at 12.51 s acts at 12.52 s), before the model moves on in that step.
//
// A ramp sets its value at every model step while it runs: FROM at its start, TO at its
// end, in a straight line between (whole-number values such as Gang to the nearest
// whole number). A later set or ramp of the same name ends it. "repeat" starts the file
// again at that moment; ramps that are running go on. "stop" ends the playing and says
// so (StopReached); the owner ends the run.
//
// Everything here runs on the thread that steps the model.

#include "engine/tscenario.h"

#include <cstdint>
#include <optional>
#include <vector>

class TVehicleChecks;
class TVehicleCommands;

class TScenarioPlayer {
public:
    explicit TScenarioPlayer(TVehicleCommands& vehicle);

    // The first step of scenario the vehicle cannot carry out (a name the model, the
    // catalogue or the validity choices do not have, a value outside its range, an
    // identification its field does not take).
    static std::optional<TScenarioRefusal> Check(const TScenario& scenario, const TVehicleChecks& checks);

    // Plays scenario (checked) from now, µs of the run: its time 0 is now. Whatever was
    // playing ends, its ramps where they are.
    void Play(TScenario scenario, int64_t now);
    // Ends the playing; the model keeps the values it has.
    void Halt();
    // A value set from elsewhere (the control API) while playing: a ramp of the same
    // name ends, the value stays.
    void Set(const TAString& name, double value);
    bool Playing() const { return playing_; }

    // Carries out every step due by now (µs of the run) and sets the ramps' values.
    void Advance(int64_t now);

    // A stop step was reached; cleared by Play.
    bool StopReached() const { return stopReached_; }
    // The step carried out last: its line number (0 before the first) and its text.
    int Line() const { return line_; }
    const TAString& LineText() const { return lineText_; }

private:
    struct TRamp {
        TAString Name;
        double From = 0;
        double To = 0;
        int64_t Start = 0;   // µs of the run
        int64_t Over = 0;
        bool Whole = false;
    };
    void Carry(const TScenarioStep& step, int64_t at);
    void EndRamp(const TAString& name);
    void SetRamps(int64_t now);

    TVehicleCommands& vehicle_;
    TScenario scenario_;
    std::size_t next_ = 0;
    int64_t base_ = 0;   // µs of the run at which the file's time 0 is
    bool playing_ = false;
    bool stopReached_ = false;
    int line_ = 0;
    TAString lineText_;
    std::vector<TRamp> ramps_;
};
