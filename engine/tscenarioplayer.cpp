#include "engine/tscenarioplayer.h"

#include "engine/tvehiclechecks.h"
#include "engine/tvehiclecommands.h"
#include "sim/tmodelinputs.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

const char* IdentificationField(TScenarioStep::TAction action)
{
    switch (action) {
    case TScenarioStep::TAction::Vin: return "E_FzgID";
    case TScenarioStep::TAction::Driver1: return "E_DID1";
    case TScenarioStep::TAction::Driver2: return "E_DID2";
    default: return "";
    }
}

}  // namespace

TScenarioPlayer::TScenarioPlayer(TVehicleCommands& vehicle) : vehicle_(vehicle) {}

std::optional<TScenarioRefusal> TScenarioPlayer::Check(const TScenario& scenario, const TVehicleChecks& checks)
{
    using A = TScenarioStep::TAction;
    for (const TScenarioStep& step : scenario.Steps) {
        TAString refusal;
        TAString expected;
        switch (step.Action) {
        case A::Set:
            refusal = checks.Set(step.Name, step.Value);
            expected = "a name and a value that --set takes (--help lists them)";
            break;
        case A::Ramp:
            refusal = checks.Set(step.Name, step.Value);
            if (refusal.IsEmpty()) refusal = checks.Set(step.Name, step.To);
            expected = "a name and values that --set takes (--help lists them)";
            break;
        case A::TellTale: refusal = TVehicleChecks::TellTale(step.Number, step.TellState); break;
        case A::Force:
            refusal = checks.Force(step.Name, step.State);
            expected = "a signal and a choice that --force takes";
            break;
        case A::Release:
            refusal = checks.Release(step.Name);
            expected = "a signal of the catalogue";
            break;
        case A::Vin:
        case A::Driver1:
        case A::Driver2:
            refusal = TVehicleChecks::Identification(IdentificationField(step.Action), step.Name);
            expected = "an identification the cockpit's field takes";
            break;
        case A::Drop:
        case A::Keep:
            refusal = checks.Group(static_cast<uint32_t>(step.Number));
            expected = "a parameter group of the catalogue";
            break;
        case A::Starter:
        case A::Stop:
        case A::Repeat: break;
        }
        if (!refusal.IsEmpty()) return TScenarioRefusal{step.Line, step.Text, expected + ": " + refusal};
    }
    return std::nullopt;
}

void TScenarioPlayer::Play(TScenario scenario, int64_t now)
{
    scenario_ = std::move(scenario);
    next_ = 0;
    base_ = now;
    playing_ = true;
    stopReached_ = false;
    line_ = 0;
    lineText_ = TAString();
    ramps_.clear();
}

void TScenarioPlayer::Halt()
{
    playing_ = false;
    ramps_.clear();
}

void TScenarioPlayer::Set(const TAString& name, double value)
{
    EndRamp(name);
    vehicle_.Set(name, value);
}

void TScenarioPlayer::Advance(int64_t now)
{
    if (!playing_) return;
    const std::vector<TScenarioStep>& steps = scenario_.Steps;
    while (playing_ && next_ < steps.size() && base_ + steps[next_].Time <= now) {
        const TScenarioStep& step = steps[next_++];
        line_ = step.Line;
        lineText_ = step.Text;
        // A repeat is never at time 0 (the parser refuses it): each one moves the base on.
        if (step.Action == TScenarioStep::TAction::Repeat) {
            base_ += step.Time;
            next_ = 0;
            continue;
        }
        Carry(step, base_ + step.Time);
    }
    if (playing_) SetRamps(now);
}

void TScenarioPlayer::Carry(const TScenarioStep& step, int64_t at)
{
    using A = TScenarioStep::TAction;
    switch (step.Action) {
    case A::Set:
        EndRamp(step.Name);
        vehicle_.Set(step.Name, step.Value);
        break;
    case A::Ramp: {
        EndRamp(step.Name);
        const std::optional<TModelInput> input = TModelInputs::Find(step.Name);
        ramps_.push_back({step.Name, step.Value, step.To, at, step.Over, input && input->Whole});
        break;
    }
    case A::Starter: vehicle_.Starter(); break;
    case A::TellTale: vehicle_.SetTellTale(step.Number, step.TellState); break;
    case A::Force: vehicle_.Force(step.Name, step.State); break;
    case A::Release: vehicle_.Release(step.Name); break;
    case A::Vin:
    case A::Driver1:
    case A::Driver2: vehicle_.SetIdentification(IdentificationField(step.Action), step.Name); break;
    case A::Drop: vehicle_.SendGroup(static_cast<uint32_t>(step.Number), false); break;
    case A::Keep: vehicle_.SendGroup(static_cast<uint32_t>(step.Number), true); break;
    case A::Stop:
        playing_ = false;
        stopReached_ = true;
        ramps_.clear();
        break;
    case A::Repeat: break;
    }
}

void TScenarioPlayer::EndRamp(const TAString& name)
{
    ramps_.erase(std::remove_if(ramps_.begin(), ramps_.end(), [&](const TRamp& r) { return r.Name == name; }),
                 ramps_.end());
}

void TScenarioPlayer::SetRamps(int64_t now)
{
    for (const TRamp& ramp : ramps_) {
        const double part =
            std::clamp(static_cast<double>(now - ramp.Start) / static_cast<double>(ramp.Over), 0.0, 1.0);
        // At the end exactly TO, whatever the rounding of the line between.
        double value = part >= 1.0 ? ramp.To : ramp.From + (ramp.To - ramp.From) * part;
        if (ramp.Whole) value = std::round(value);
        vehicle_.Set(ramp.Name, value);
    }
    ramps_.erase(std::remove_if(ramps_.begin(), ramps_.end(), [&](const TRamp& r) { return now >= r.Start + r.Over; }),
                 ramps_.end());
}
