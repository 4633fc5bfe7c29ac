#include "app/ui/tscenariodrive.h"

#include "engine/trunengine.h"

#include <utility>

TScenarioDrive::TScenarioDrive(TRunEngine& engine, TRunCockpit& cockpit, TLkw& lkw, TValidManip& validity)
    : engine_(engine),
      checks_(lkw),
      commands_(lkw, validity, engine.Options, engine.Catalogue()),
      driven_(cockpit, player_, commands_, engine),
      hub_(&engine.Signals(), &engine.Trace())
{
}

TScenarioDrive::~TScenarioDrive()
{
    StopControl();
}

TScenarioDrive::TLoad TScenarioDrive::Load(const TAString& text) const
{
    TLoad load;
    TScenarioParse parse = ParseScenario(text);
    if (parse.Refusal) {
        load.Refusal = parse.Refusal;
        return load;
    }
    if (std::optional<TScenarioRefusal> refusal = TScenarioPlayer::Check(parse.Scenario, checks_)) {
        load.Refusal = std::move(refusal);
        return load;
    }
    load.Scenario = std::move(parse.Scenario);
    return load;
}

void TScenarioDrive::Play(const TScenario& scenario)
{
    player_.Play(scenario, engine_.SimTime());
}

uint16_t TScenarioDrive::StartControl(const TAString& address, uint16_t port, const std::string& token)
{
    StopControl();
    api_ = std::make_unique<TControlApi>(hub_, checks_, token);
    server_ = std::make_unique<TControlServer>(*api_);
    try {
        const uint16_t bound = server_->Start(address.IsEmpty() ? TAString("127.0.0.1") : address, port);
        driven_.SetControl(&hub_);
        return bound;
    } catch (...) {
        server_.reset();
        api_.reset();
        throw;
    }
}

void TScenarioDrive::StopControl()
{
    if (!server_) return;
    server_->Stop();
    server_.reset();
    api_.reset();
    driven_.SetControl(nullptr);
    hub_.Clear();
}

TControlHub::TRunRequest TScenarioDrive::Publish(int errors)
{
    if (!server_) return TControlHub::TRunRequest::None;
    hub_.Publish(driven_.Status(errors, received_.count));
    return hub_.TakeRunRequest();
}
