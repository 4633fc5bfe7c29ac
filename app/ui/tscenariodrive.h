#pragma once
// The window's vehicle driven from outside the cockpit: a scenario played on the run's
// simulated clock and, when the user switched it on, the HTTP control API. It is the
// runner's wiring in the window: the checks and commands of the vehicle, the scenario
// player, the cockpit the engine steps (the player's and the API's changes before each
// model step), the hub and, last, the server whose thread reads them.
//
// Everything but the server's own thread runs on the window thread; the server's thread
// meets the run only in the hub, and it is joined before anything it reads goes away.

#include "app/control/tcontrolserver.h"
#include "engine/tcontrolapi.h"
#include "engine/tcontrolhub.h"
#include "engine/treceivedframesink.h"
#include "engine/tscenario.h"
#include "engine/tscenariocockpit.h"
#include "engine/tscenarioplayer.h"
#include "engine/tvehiclechecks.h"
#include "engine/tvehiclecommands.h"
#include "support/tastring.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class TLkw;
class TRunCockpit;
class TRunEngine;
class TValidManip;

class TScenarioDrive {
public:
    // Not owned; each must outlive this. cockpit: the window that owns lkw.
    TScenarioDrive(TRunEngine& engine, TRunCockpit& cockpit, TLkw& lkw, TValidManip& validity);
    // The server's thread ends first.
    ~TScenarioDrive();
    TScenarioDrive(const TScenarioDrive&) = delete;
    TScenarioDrive& operator=(const TScenarioDrive&) = delete;

    // What the engine steps in place of the cockpit.
    TRunCockpit& Cockpit() { return driven_; }

    // A scenario's text parsed and checked against the vehicle: the scenario, or the
    // refusal of its first bad line.
    struct TLoad {
        std::optional<TScenario> Scenario;
        std::optional<TScenarioRefusal> Refusal;
    };
    TLoad Load(const TAString& text) const;
    // Plays scenario from the run's time now; Halt ends it where it is.
    void Play(const TScenario& scenario);
    void Halt() { player_.Halt(); }
    const TScenarioPlayer& Player() const { return player_; }

    // Listens on address (empty: the loopback address) and port; token: the bearer token
    // every request must carry, empty for none. Returns the port. Throws TBaseError
    // ("TControlServer::Start", "Control API not started", why) when it cannot be bound;
    // nothing is left running then.
    uint16_t StartControl(const TAString& address, uint16_t port, const std::string& token);
    // Joins the server's thread; the hub forgets what it held. Later calls do nothing.
    void StopControl();
    bool ControlRunning() const { return server_ != nullptr; }

    // Once per tick, and while stopped as often: the status the API shows (errors: those
    // of the run), and the start or stop the API asked for since.
    TControlHub::TRunRequest Publish(int errors);

    // Counts the frames the channel received, for the API's status; from 0 at each run.
    TReceivedFrameSink& Received() { return received_; }
    void RunStarted() { received_.count = 0; }

private:
    class TCount final : public TReceivedFrameSink {
    public:
        void FrameReceived(const TCanFrame&) override { ++count; }
        uint64_t count = 0;
    };

    TRunEngine& engine_;
    TVehicleChecks checks_;
    TVehicleCommands commands_;
    TScenarioPlayer player_{commands_};
    TScenarioCockpit driven_;
    TCount received_;
    TControlHub hub_;
    std::unique_ptr<TControlApi> api_;
    std::unique_ptr<TControlServer> server_;   // declared after what its thread reads: stopped first
};
