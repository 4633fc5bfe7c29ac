#pragma once
// The cockpit with a scenario playing and, when a control API runs, its commands: before
// each step of the vehicle model, the commands the API handed over since the last step
// are applied, then the scenario's steps due by the run's time are carried out, so that
// both take effect in that very step and the frames queued after it.
//
// Runs on the thread that steps the model.

#include "engine/tcontrolhub.h"
#include "engine/truncockpit.h"
#include "engine/trunengine.h"
#include "engine/tscenarioplayer.h"
#include "engine/tvehiclecommands.h"

class TScenarioCockpit final : public TRunCockpit {
public:
    // Not owned; each must outlive this.
    TScenarioCockpit(TRunCockpit& cockpit, TScenarioPlayer& player, TVehicleCommands& vehicle, const TRunEngine& engine)
        : cockpit_(cockpit), player_(player), vehicle_(vehicle), engine_(engine)
    {
    }
    // The control API's commands (nullptr: none); not owned.
    void SetControl(TControlHub* hub) { hub_ = hub; }

    const TSignalSnapshot& Step(double dt, bool refresh) override
    {
        const int64_t now = engine_.SimTime();
        if (hub_)
            for (TControlCommand& command : hub_->Take()) Apply(command, now);
        player_.Advance(now);
        return cockpit_.Step(dt, refresh);
    }
    const TSignalSnapshot& Values() override { return cockpit_.Values(); }

    // What the control API shows of the run: errors and received frames as the owner
    // counts them.
    TControlStatus Status(int errors, uint64_t received) const
    {
        TControlStatus status;
        status.Running = engine_.Running();
        status.Simulation = engine_.Controls.Simulation;
        status.RunTime = engine_.SimTime();
        status.FramesSent = engine_.FramesSent();
        status.FramesReceived = received;
        status.Errors = errors;
        status.ScenarioPlaying = player_.Playing();
        status.ScenarioLine = player_.Line();
        status.ScenarioText = player_.LineText();
        return status;
    }

private:
    // The API checked each command against the same names and ranges before it queued it.
    void Apply(TControlCommand& command, int64_t now)
    {
        switch (command.Kind) {
        case TControlCommand::TKind::Set: player_.Set(command.Name, command.Value); break;
        case TControlCommand::TKind::Starter: vehicle_.Starter(); break;
        case TControlCommand::TKind::Force: vehicle_.Force(command.Name, command.State); break;
        case TControlCommand::TKind::Release: vehicle_.Release(command.Name); break;
        case TControlCommand::TKind::Scenario: player_.Play(std::move(command.Scenario), now); break;
        }
    }

    TRunCockpit& cockpit_;
    TScenarioPlayer& player_;
    TVehicleCommands& vehicle_;
    const TRunEngine& engine_;
    TControlHub* hub_ = nullptr;
};
