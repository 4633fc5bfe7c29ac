#pragma once
// A scenario: a drive written as a text file of timed steps, one a line, and its parser.
//
//   # time in seconds from Start, then an action in the runner's own words
//   0      set Gaspedal=0
//   0      starter
//   2      ramp Gaspedal=0..60 over 5
//   12.5   force "Engine speed=error"
//   +5     set Gang=0            # +SECONDS: after the previous step
//   30     stop
//
// A time is seconds from the start of the file (0, 12.5) or "+SECONDS" after the step on
// the line before. Steps run in the order of their times; steps of the same time keep
// the order of the file. "#" starts a comment (outside quotes); blank lines are skipped.
//
// The parser checks the form of every line; the names a line gives (a model value, a
// signal, a parameter group) are checked against the vehicle by TScenarioPlayer::Check,
// also before anything runs. Either refusal names the line, its text and what was
// expected there.

#include "support/tastring.h"

#include <cstdint>
#include <optional>
#include <vector>

struct TScenarioStep {
    enum class TAction { Set, Ramp, Starter, TellTale, Force, Release, Vin, Driver1, Driver2, Drop, Keep, Stop, Repeat };

    TAction Action = TAction::Stop;
    int64_t Time = 0;    // µs from the start of the file
    int Line = 0;        // 1 for the file's first line
    TAString Text;       // the line without its comment and outer blanks
    TAString Name;       // Set, Ramp: the model value; Force, Release: the signal; Vin, Driver1, Driver2: the text
    TAString State;      // Force: the validity choice ("error")
    double Value = 0;    // Set: the value; Ramp: where it starts
    double To = 0;       // Ramp: where it ends
    int64_t Over = 0;    // Ramp: µs from Value to To, more than 0
    int Number = 0;      // TellTale: 1..41; Drop, Keep: the parameter group number
    int TellState = 0;   // TellTale: 0..7
};

struct TScenarioRefusal {
    int Line = 0;
    TAString Text;       // the line as written
    TAString Expected;   // what was expected there ("a time in seconds such as 12.5 or +5")
    // "line 3: 'ramp Gaspedal=0..60 in 5': expected ramp NAME=FROM..TO over SECONDS"
    TAString Describe() const;
};

struct TScenario {
    std::vector<TScenarioStep> Steps;   // by time, steps of the same time in file order

    // When the file ends the run: the time of its first stop step, unless a repeat step
    // comes before it (the file then starts again and never reaches it). None when the
    // scenario never ends the run.
    std::optional<int64_t> StopTime() const;
};

struct TScenarioParse {
    TScenario Scenario;
    std::optional<TScenarioRefusal> Refusal;   // the first bad line; Scenario is then empty
};

TScenarioParse ParseScenario(const TAString& text);

// The actions a line may hold, for --help.
TAString ScenarioActionsHelp();
