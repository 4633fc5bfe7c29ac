#pragma once
// The control API without the server: one HTTP request in, one JSON answer out. The
// server (app/control) hands every request here on its own thread; this checks it,
// answers reads from the run's published status, the signal monitor and the frame
// trace, and hands changes to the run through the hub, where the model's next step
// applies them. It never reads or writes a file.
//
//   GET    /status              run state, run time, frames sent and received, errors
//   GET    /signals             every catalogue signal: value, unit, state, group, ...
//   GET    /signals/NAME        one of them (NAME percent-encoded: Engine%20speed)
//   PUT    /model/NAME          {"value": 40}: a model value, the names and ranges of --set
//   POST   /model/starter       the starter
//   PUT    /force/SIGNAL        {"state": "error"}: a signal's validity, the choices of --force
//   DELETE /force/SIGNAL        the signal sent valid again
//   POST   /scenario            a scenario's text as the body, played from the next step
//   POST   /run/start, /run/stop
//   GET    /frames?since=N      the frames after sequence number N (at most MaxFrames),
//                               with how many the trace no longer held
//
// Answers: 200 with a JSON object; errors {"error": "..."} with 400 (a bad value or
// body), 401 (the bearer token is missing or wrong), 404 (an unknown name or path),
// 405 (a method the path does not take), 409 (the run is not going, or already is),
// 503 (the run is not taking commands).

#include "engine/tcontrolhub.h"
#include "support/tastring.h"

#include <optional>
#include <string>
#include <vector>

class TVehicleChecks;

struct TControlRequest {
    std::string Method;          // "GET", "PUT", ...
    std::string Path;            // percent-encoded, without the query: "/signals/Engine%20speed"
    std::string Query;           // "since=10"
    std::string Authorization;   // the header's value, empty when none
    std::string Body;
};

struct TControlResponse {
    int Status = 200;
    std::string Body;            // JSON
};

class TControlApi {
public:
    static constexpr std::size_t MaxFrames = 10000;   // frames in one answer of /frames

    // checks: what the vehicle takes (made on the run's thread before the server
    // starts); token: when not empty, every request must carry "Authorization: Bearer
    // TOKEN". hub and checks must outlive this.
    TControlApi(TControlHub& hub, const TVehicleChecks& checks, std::string token);
    TControlApi(const TControlApi&) = delete;
    TControlApi& operator=(const TControlApi&) = delete;

    // Any thread; requests may come from several at once.
    TControlResponse Handle(const TControlRequest& request) const;

    // "a%20b" -> "a b"; none for a broken escape.
    static std::optional<std::string> PercentDecoded(const std::string& text);
    // A JSON string literal with its quotes.
    static std::string Quoted(const std::string& text);

private:
    TControlResponse Route(const TControlRequest& request) const;
    TControlResponse Status() const;
    TControlResponse Signals(const std::optional<std::string>& name) const;
    TControlResponse SetModel(const std::string& name, const std::string& body) const;
    TControlResponse Starter() const;
    TControlResponse Force(const std::string& signal, const std::string& body) const;
    TControlResponse Release(const std::string& signal) const;
    TControlResponse Scenario(const std::string& body) const;
    TControlResponse Run(bool start) const;
    TControlResponse Frames(const std::string& query) const;
    TControlResponse Queue(TControlCommand command, const std::string& done) const;

    TControlHub& hub_;
    const TVehicleChecks& checks_;
    std::string token_;
};
