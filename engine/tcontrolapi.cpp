#include "engine/tcontrolapi.h"

#include "engine/tframetrace.h"
#include "engine/tscenarioplayer.h"
#include "engine/tsignalmonitor.h"
#include "engine/tvehiclechecks.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <variant>

namespace {

using TJsonValue = std::variant<std::nullptr_t, bool, double, std::string>;

TControlResponse Error(int status, const std::string& message)
{
    return {status, "{\"error\": " + TControlApi::Quoted(message) + "}"};
}

// A flat JSON object: string keys, each value a string, a number, true, false or null.
// None for anything else (nested values included: nothing here takes them).
class TFlatJson {
public:
    static std::optional<std::map<std::string, TJsonValue>> Parse(const std::string& text)
    {
        TFlatJson p(text);
        std::map<std::string, TJsonValue> object;
        p.Blanks();
        if (!p.Eat('{')) return std::nullopt;
        p.Blanks();
        if (p.Eat('}')) return p.End() ? std::optional(object) : std::nullopt;
        while (true) {
            p.Blanks();
            std::optional<std::string> key = p.String();
            p.Blanks();
            if (!key || !p.Eat(':')) return std::nullopt;
            p.Blanks();
            std::optional<TJsonValue> value = p.Value();
            if (!value) return std::nullopt;
            object[*key] = std::move(*value);
            p.Blanks();
            if (p.Eat('}')) return p.End() ? std::optional(object) : std::nullopt;
            if (!p.Eat(',')) return std::nullopt;
        }
    }

private:
    explicit TFlatJson(const std::string& text) : s_(text) {}
    void Blanks()
    {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n')) ++i_;
    }
    bool Eat(char c)
    {
        if (i_ < s_.size() && s_[i_] == c) {
            ++i_;
            return true;
        }
        return false;
    }
    bool Word(const char* w)
    {
        const std::string word(w);
        if (s_.compare(i_, word.size(), word) != 0) return false;
        i_ += word.size();
        return true;
    }
    bool End()
    {
        Blanks();
        return i_ == s_.size();
    }
    std::optional<std::string> String()
    {
        if (!Eat('"')) return std::nullopt;
        std::string out;
        while (i_ < s_.size()) {
            const char c = s_[i_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size()) return std::nullopt;
            const char e = s_[i_++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                if (i_ + 4 > s_.size()) return std::nullopt;
                unsigned code = 0;
                const auto [end, ec] = std::from_chars(s_.data() + i_, s_.data() + i_ + 4, code, 16);
                if (ec != std::errc() || end != s_.data() + i_ + 4) return std::nullopt;
                i_ += 4;
                // Names and choices are ASCII; anything else cannot match one.
                if (code >= 0x80) return std::nullopt;
                out += static_cast<char>(code);
                break;
            }
            default: return std::nullopt;
            }
        }
        return std::nullopt;
    }
    std::optional<TJsonValue> Value()
    {
        if (i_ >= s_.size()) return std::nullopt;
        if (s_[i_] == '"') {
            std::optional<std::string> text = String();
            if (!text) return std::nullopt;
            return TJsonValue(std::move(*text));
        }
        if (Word("true")) return TJsonValue(true);
        if (Word("false")) return TJsonValue(false);
        if (Word("null")) return TJsonValue(nullptr);
        double value = 0;
        const auto [end, ec] = std::from_chars(s_.data() + i_, s_.data() + s_.size(), value);
        if (ec != std::errc() || end == s_.data() + i_ || !std::isfinite(value)) return std::nullopt;
        i_ = static_cast<std::size_t>(end - s_.data());
        return TJsonValue(value);
    }

    const std::string& s_;
    std::size_t i_ = 0;
};

// The shortest text that reads back as value: 0.8, 40, 1e+21.
std::string Number(double value)
{
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return ec == std::errc() ? std::string(buf, end) : std::string("null");
}

std::string Integer(int64_t value)
{
    return std::to_string(value);
}

// The path's segments after the leading "/", each still encoded.
std::vector<std::string> Segments(const std::string& path)
{
    std::vector<std::string> parts;
    std::size_t start = 1;
    while (start <= path.size()) {
        const std::size_t slash = path.find('/', start);
        parts.push_back(path.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return parts;
}

std::string SignalJson(const TSignalRow& row)
{
    return "{\"name\": " + TControlApi::Quoted(row.Name.str()) + ", \"value\": " + TControlApi::Quoted(row.Value.str()) +
           ", \"unit\": " + TControlApi::Quoted(row.Unit.str()) + ", \"state\": " +
           TControlApi::Quoted(row.StateName.str()) + ", \"stateCode\": " + TControlApi::Quoted(row.StateCode.str()) +
           ", \"group\": " + TControlApi::Quoted(row.Group.str()) + ", \"pgn\": " + Integer(row.Pgn) +
           ", \"spn\": " + Integer(row.Spn) + ", \"raw\": " + TControlApi::Quoted(row.Raw.str()) +
           ", \"lastFrame\": " + (row.LastFrame < 0 ? std::string("null") : Number(static_cast<double>(row.LastFrame) / 1e6)) +
           "}";
}

std::string FrameJson(const TTraceFrame& f)
{
    char id[16];
    std::snprintf(id, sizeof id, f.Extended ? "%08X" : "%03X", f.Id);
    return "{\"seq\": " + std::to_string(f.Seq) + ", \"time\": " + Number(static_cast<double>(f.Time) / 1e6) +
           ", \"dir\": " + (f.Direction == TTraceFrame::Rx ? "\"Rx\"" : "\"Tx\"") + ", \"id\": \"" + id +
           "\", \"extended\": " + (f.Extended ? "true" : "false") + ", \"length\": " + std::to_string(f.Length) +
           ", \"data\": " + TControlApi::Quoted(f.DataText().str()) + ", \"pgn\": " + std::to_string(f.Pgn()) +
           ", \"sa\": " + std::to_string(f.SourceAddress()) + ", \"group\": " + TControlApi::Quoted(f.GroupName().str()) +
           "}";
}

// Constant time in the token's length: how long a wrong token takes says nothing about
// how much of it was right.
bool SameToken(const std::string& given, const std::string& token)
{
    unsigned char diff = given.size() == token.size() ? 0 : 1;
    for (std::size_t i = 0; i < token.size(); ++i)
        diff |= static_cast<unsigned char>(token[i] ^ (i < given.size() ? given[i] : 0));
    return diff == 0;
}

}  // namespace

TControlApi::TControlApi(TControlHub& hub, const TVehicleChecks& checks, std::string token)
    : hub_(hub), checks_(checks), token_(std::move(token))
{
}

std::optional<std::string> TControlApi::PercentDecoded(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        unsigned byte = 0;
        const auto [end, ec] = std::from_chars(text.data() + i + 1, text.data() + i + 3, byte, 16);
        if (ec != std::errc() || end != text.data() + i + 3) return std::nullopt;
        out += static_cast<char>(byte);
        i += 2;
    }
    return out;
}

std::string TControlApi::Quoted(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x80) {
                // Bytes outside ASCII (a log's text field) as their code, never as broken UTF-8.
                char esc[8];
                std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned char>(c));
                out += esc;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

TControlResponse TControlApi::Handle(const TControlRequest& request) const
{
    if (!token_.empty()) {
        const std::string prefix = "Bearer ";
        const std::string& given = request.Authorization;
        if (given.compare(0, prefix.size(), prefix) != 0 || !SameToken(given.substr(prefix.size()), token_))
            return Error(401, "this server needs the header Authorization: Bearer TOKEN with the token of --control-token");
    }
    try {
        return Route(request);
    } catch (const std::bad_alloc&) {
        return Error(503, "not enough memory to answer");
    }
}

TControlResponse TControlApi::Route(const TControlRequest& request) const
{
    const std::vector<std::string> parts = Segments(request.Path);
    const std::string& m = request.Method;
    auto method = [&](std::initializer_list<const char*> allowed) {
        return std::any_of(allowed.begin(), allowed.end(), [&](const char* a) { return m == a; });
    };
    auto wrongMethod = [&](const char* allowed) {
        return Error(405, request.Path + " takes " + allowed + ", not " + m);
    };
    auto name = [&](std::size_t i) { return PercentDecoded(parts[i]); };
    const std::size_t n = parts.size();
    const std::string first = n > 0 ? parts[0] : std::string();

    if (first == "status" && n == 1) return method({"GET"}) ? Status() : wrongMethod("GET");
    if (first == "signals" && n == 1) return method({"GET"}) ? Signals(std::nullopt) : wrongMethod("GET");
    if (first == "signals" && n == 2) {
        if (!method({"GET"})) return wrongMethod("GET");
        const std::optional<std::string> signal = name(1);
        if (!signal) return Error(400, "the signal's name has a broken %-escape");
        return Signals(*signal);
    }
    if (first == "model" && n == 2) {
        const std::optional<std::string> value = name(1);
        if (!value) return Error(400, "the value's name has a broken %-escape");
        if (*value == "starter") return method({"POST"}) ? Starter() : wrongMethod("POST");
        return method({"PUT"}) ? SetModel(*value, request.Body) : wrongMethod("PUT");
    }
    if (first == "force" && n == 2) {
        const std::optional<std::string> signal = name(1);
        if (!signal) return Error(400, "the signal's name has a broken %-escape");
        if (m == "PUT") return Force(*signal, request.Body);
        if (m == "DELETE") return Release(*signal);
        return wrongMethod("PUT or DELETE");
    }
    if (first == "scenario" && n == 1) return method({"POST"}) ? Scenario(request.Body) : wrongMethod("POST");
    if (first == "run" && n == 2 && (parts[1] == "start" || parts[1] == "stop"))
        return method({"POST"}) ? Run(parts[1] == "start") : wrongMethod("POST");
    if (first == "frames" && n == 1) return method({"GET"}) ? Frames(request.Query) : wrongMethod("GET");
    return Error(404, "no endpoint " + request.Path + " (see the README: /status, /signals, /model, /force, "
                                                      "/scenario, /run, /frames)");
}

TControlResponse TControlApi::Status() const
{
    const TControlStatus s = hub_.Status();
    return {200, std::string("{\"state\": ") + (s.Running ? "\"running\"" : "\"stopped\"") +
                     ", \"source\": " + (s.Simulation ? "\"simulation\"" : "\"log\"") +
                     ", \"runTime\": " + Number(static_cast<double>(s.RunTime) / 1e6) +
                     ", \"framesSent\": " + std::to_string(s.FramesSent) +
                     ", \"framesReceived\": " + std::to_string(s.FramesReceived) +
                     ", \"errors\": " + std::to_string(s.Errors) + ", \"scenario\": {\"playing\": " +
                     (s.ScenarioPlaying ? "true" : "false") + ", \"line\": " + std::to_string(s.ScenarioLine) +
                     ", \"text\": " + Quoted(s.ScenarioText.str()) + "}}"};
}

TControlResponse TControlApi::Signals(const std::optional<std::string>& name) const
{
    const TSignalMonitor* monitor = hub_.Monitor();
    if (!monitor) return Error(404, "this run has no signal monitor");
    const TSignalMonitor::TSnapshot snapshot = monitor->Snapshot();
    if (name) {
        for (const TSignalRow& row : snapshot.Rows)
            if (row.Name.str() == *name) return {200, SignalJson(row)};
        return Error(404, "no signal is named '" + *name + "'");
    }
    std::string body = "{\"seq\": " + std::to_string(snapshot.Seq) +
                       ", \"time\": " + Number(static_cast<double>(snapshot.Now) / 1e6) + ", \"signals\": [";
    for (std::size_t i = 0; i < snapshot.Rows.size(); ++i) body += (i ? ", " : "") + SignalJson(snapshot.Rows[i]);
    return {200, body + "]}"};
}

TControlResponse TControlApi::Queue(TControlCommand command, const std::string& done) const
{
    const TControlStatus status = hub_.Status();
    if (!status.Running) return Error(409, "the run is not going: start it first (POST /run/start)");
    if (!status.Simulation) return Error(409, "the run replays a log: the vehicle model takes no commands");
    if (!hub_.Push(std::move(command)))
        return Error(503, "the run is not taking commands: " + std::to_string(TControlHub::MaxCommands) +
                              " are waiting");
    return {200, "{\"done\": " + Quoted(done + ", from the model's next step") + "}"};
}

TControlResponse TControlApi::SetModel(const std::string& name, const std::string& body) const
{
    const TAString model(name);
    if (!checks_.HasValue(model)) return Error(404, "the vehicle model has no value named '" + name + "'");
    const auto json = TFlatJson::Parse(body);
    const auto found = json ? json->find("value") : decltype(json->find("value")){};
    if (!json || found == json->end() || !std::holds_alternative<double>(found->second))
        return Error(400, "the body must be a JSON object with a number, e.g. {\"value\": 40}");
    const double value = std::get<double>(found->second);
    const TAString refusal = checks_.Set(model, value);
    if (!refusal.IsEmpty()) return Error(400, name + ": " + refusal.str());
    TControlCommand command;
    command.Kind = TControlCommand::TKind::Set;
    command.Name = model;
    command.Value = value;
    return Queue(std::move(command), name + " set to " + Number(value));
}

TControlResponse TControlApi::Starter() const
{
    TControlCommand command;
    command.Kind = TControlCommand::TKind::Starter;
    return Queue(std::move(command), "starter pressed");
}

TControlResponse TControlApi::Force(const std::string& signal, const std::string& body) const
{
    if (!checks_.HasSignal(TAString(signal))) return Error(404, "no signal is named '" + signal + "'");
    const auto json = TFlatJson::Parse(body);
    const auto found = json ? json->find("state") : decltype(json->find("state")){};
    if (!json || found == json->end() || !std::holds_alternative<std::string>(found->second))
        return Error(400, "the body must be a JSON object with a state, e.g. {\"state\": \"error\"}");
    const std::string& state = std::get<std::string>(found->second);
    const TAString refusal = checks_.Force(TAString(signal), TAString(state));
    if (!refusal.IsEmpty()) return Error(400, refusal.str());
    TControlCommand command;
    command.Kind = TControlCommand::TKind::Force;
    command.Name = TAString(signal);
    command.State = TAString(state);
    return Queue(std::move(command), signal + " forced to " + state);
}

TControlResponse TControlApi::Release(const std::string& signal) const
{
    if (!checks_.HasSignal(TAString(signal))) return Error(404, "no signal is named '" + signal + "'");
    TControlCommand command;
    command.Kind = TControlCommand::TKind::Release;
    command.Name = TAString(signal);
    return Queue(std::move(command), signal + " released");
}

TControlResponse TControlApi::Scenario(const std::string& body) const
{
    TScenarioParse parse = ParseScenario(TAString(body));
    if (parse.Refusal) return Error(400, "scenario " + parse.Refusal->Describe().str());
    if (const std::optional<TScenarioRefusal> refusal = TScenarioPlayer::Check(parse.Scenario, checks_))
        return Error(400, "scenario " + refusal->Describe().str());
    const std::size_t steps = parse.Scenario.Steps.size();
    TControlCommand command;
    command.Kind = TControlCommand::TKind::Scenario;
    command.Scenario = std::move(parse.Scenario);
    return Queue(std::move(command), "scenario of " + std::to_string(steps) + " steps playing");
}

TControlResponse TControlApi::Run(bool start) const
{
    const bool running = hub_.Status().Running;
    if (start && running) return Error(409, "the run is already going");
    if (!start && !running) return Error(409, "the run is not going");
    hub_.RequestRun(start ? TControlHub::TRunRequest::Start : TControlHub::TRunRequest::Stop);
    return {200, std::string("{\"done\": ") + (start ? "\"start requested\"" : "\"stop requested\"") + "}"};
}

TControlResponse TControlApi::Frames(const std::string& query) const
{
    const TFrameTrace* trace = hub_.Trace();
    if (!trace) return Error(404, "this run has no frame trace");
    uint64_t since = 0;
    std::size_t start = 0;
    while (start < query.size()) {
        std::size_t amp = query.find('&', start);
        if (amp == std::string::npos) amp = query.size();
        const std::string pair = query.substr(start, amp - start);
        start = amp + 1;
        if (pair.rfind("since=", 0) != 0) continue;
        const std::string text = pair.substr(6);
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), since);
        if (text.empty() || ec != std::errc() || end != text.data() + text.size())
            return Error(400, "since must be a sequence number (a whole number from 0), not '" + text + "'");
    }
    const TFrameTrace::TBatch batch = trace->Since(since, MaxFrames);
    std::string body = "{\"missed\": " + std::to_string(batch.Missed) + ", \"last\": " + std::to_string(batch.Last) +
                       ", \"frames\": [";
    for (std::size_t i = 0; i < batch.Frames.size(); ++i) body += (i ? ", " : "") + FrameJson(batch.Frames[i]);
    return {200, body + "]}"};
}
