#include "engine/tscenario.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <string_view>

namespace {

constexpr double MaxSeconds = 1e9;   // about 31 years: far beyond any drive

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// A plain decimal number ("40", "-2.5", "1e3"); none for anything else, for text after
// it, a sign "+" and for infinities and NaN.
std::optional<double> Number(std::string_view s)
{
    s = Trim(s);
    if (s.empty() || s.front() == '+') return std::nullopt;
    double value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<int64_t> Micros(double seconds)
{
    if (seconds < 0 || seconds > MaxSeconds) return std::nullopt;
    return static_cast<int64_t>(std::llround(seconds * 1e6));
}

// The line without its comment: "#" outside double quotes starts it.
std::string_view WithoutComment(std::string_view line)
{
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') quoted = !quoted;
        if (line[i] == '#' && !quoted) return line.substr(0, i);
    }
    return line;
}

// The text of an argument that may be in double quotes: "Engine speed=error".
std::optional<std::string> Unquoted(std::string_view s)
{
    s = Trim(s);
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') {
        s = s.substr(1, s.size() - 2);
        if (s.find('"') != std::string_view::npos) return std::nullopt;
        return std::string(s);
    }
    if (s.find('"') != std::string_view::npos) return std::nullopt;
    return std::string(s);
}

// "NAME=VALUE" with a name of at least one character.
bool SplitPair(std::string_view s, std::string& name, std::string& value)
{
    const std::size_t eq = s.find('=');
    if (eq == std::string_view::npos) return false;
    name = std::string(Trim(s.substr(0, eq)));
    value = std::string(Trim(s.substr(eq + 1)));
    return !name.empty();
}

struct TActionForm {
    const char* Word;
    TScenarioStep::TAction Action;
    const char* Form;   // what the line must look like, for refusals and --help
    const char* Meaning;
};

constexpr TActionForm Forms[] = {
    {"set", TScenarioStep::TAction::Set, "set NAME=VALUE", "a value of the vehicle model, as --set takes it"},
    {"ramp", TScenarioStep::TAction::Ramp, "ramp NAME=FROM..TO over SECONDS",
     "a model value moved in a straight line from FROM to TO, at every 20 ms step of the model"},
    {"starter", TScenarioStep::TAction::Starter, "starter", "press the starter"},
    {"telltale", TScenarioStep::TAction::TellTale, "telltale N=STATE", "tell-tale N (1..41) in state 0..7"},
    {"force", TScenarioStep::TAction::Force, "force \"SIGNAL=STATE\"", "force a signal's validity, as --force"},
    {"release", TScenarioStep::TAction::Release, "release \"SIGNAL\"", "the signal is sent valid again"},
    {"vin", TScenarioStep::TAction::Vin, "vin TEXT", "the vehicle identification"},
    {"driver1", TScenarioStep::TAction::Driver1, "driver1 TEXT", "driver 1's identification"},
    {"driver2", TScenarioStep::TAction::Driver2, "driver2 TEXT", "driver 2's identification"},
    {"drop", TScenarioStep::TAction::Drop, "drop PGN", "leave a parameter group out, e.g. drop FEF1"},
    {"keep", TScenarioStep::TAction::Keep, "keep PGN", "send a parameter group again"},
    {"stop", TScenarioStep::TAction::Stop, "stop", "end the run"},
    {"repeat", TScenarioStep::TAction::Repeat, "repeat", "start the file again from its first step"},
};

TAString ActionWords()
{
    TAString words;
    for (const TActionForm& f : Forms) words += TAString(words.IsEmpty() ? "" : ", ") + f.Word;
    return words;
}

std::optional<uint32_t> Pgn(std::string_view s)
{
    s = Trim(s);
    if (s.size() != 4) return std::nullopt;
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value, 16);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return value;
}

// The arguments of one action into step; false when they do not have the action's form.
bool ReadArguments(const TActionForm& form, std::string_view args, TScenarioStep& step)
{
    using A = TScenarioStep::TAction;
    args = Trim(args);
    std::string name, value;
    switch (form.Action) {
    case A::Starter:
    case A::Stop:
    case A::Repeat: return args.empty();
    case A::Set: {
        if (!SplitPair(args, name, value)) return false;
        const std::optional<double> v = Number(value);
        if (!v) return false;
        step.Name = name;
        step.Value = *v;
        return true;
    }
    case A::Ramp: {
        const std::size_t over = args.rfind(" over ");
        if (over == std::string_view::npos) return false;
        if (!SplitPair(args.substr(0, over), name, value)) return false;
        const std::size_t dots = value.find("..");
        if (dots == std::string::npos) return false;
        const std::optional<double> from = Number(std::string_view(value).substr(0, dots));
        const std::optional<double> to = Number(std::string_view(value).substr(dots + 2));
        const std::optional<double> seconds = Number(args.substr(over + 6));
        if (!from || !to || !seconds || *seconds <= 0) return false;
        const std::optional<int64_t> micros = Micros(*seconds);
        if (!micros || *micros <= 0) return false;
        step.Name = name;
        step.Value = *from;
        step.To = *to;
        step.Over = *micros;
        return true;
    }
    case A::TellTale: {
        if (!SplitPair(args, name, value)) return false;
        const std::optional<double> n = Number(name);
        const std::optional<double> state = Number(value);
        if (!n || !state || std::trunc(*n) != *n || std::trunc(*state) != *state) return false;
        if (*n < 1 || *n > 41 || *state < 0 || *state > 7) return false;
        step.Number = static_cast<int>(*n);
        step.TellState = static_cast<int>(*state);
        return true;
    }
    case A::Force: {
        const std::optional<std::string> text = Unquoted(args);
        if (!text || !SplitPair(*text, name, value) || value.empty()) return false;
        step.Name = name;
        step.State = value;
        return true;
    }
    case A::Release: {
        const std::optional<std::string> text = Unquoted(args);
        if (!text || Trim(*text).empty()) return false;
        step.Name = std::string(Trim(*text));
        return true;
    }
    case A::Vin:
    case A::Driver1:
    case A::Driver2: {
        // Quotes keep blanks and "#" in a text; the identification rules are checked
        // against the cockpit's fields by the player.
        const std::optional<std::string> text = Unquoted(args);
        if (!text) return false;
        step.Name = *text;
        return true;
    }
    case A::Drop:
    case A::Keep: {
        const std::optional<uint32_t> pgn = Pgn(args);
        if (!pgn) return false;
        step.Number = static_cast<int>(*pgn);
        return true;
    }
    }
    return false;
}

}  // namespace

TAString TScenarioRefusal::Describe() const
{
    return "line " + TAString(static_cast<int32_t>(Line)) + ": '" + Text + "': expected " + Expected;
}

std::optional<int64_t> TScenario::StopTime() const
{
    for (const TScenarioStep& step : Steps) {
        if (step.Action == TScenarioStep::TAction::Repeat) return std::nullopt;
        if (step.Action == TScenarioStep::TAction::Stop) return step.Time;
    }
    return std::nullopt;
}

TScenarioParse ParseScenario(const TAString& text)
{
    TScenarioParse result;
    const std::string& all = text.str();
    int64_t previous = 0;
    int lineNumber = 0;
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t end = all.find('\n', start);
        if (end == std::string::npos) end = all.size();
        const std::string_view raw(all.data() + start, end - start);
        start = end + 1;
        ++lineNumber;
        const std::string_view line = Trim(WithoutComment(raw));
        if (line.empty()) continue;

        auto refuse = [&](const TAString& expected) {
            result.Refusal = TScenarioRefusal{lineNumber, TAString(std::string(Trim(raw))), expected};
            result.Scenario.Steps.clear();
            return result;
        };
        TScenarioStep step;
        step.Line = lineNumber;
        step.Text = TAString(std::string(line));

        const std::size_t timeEnd = line.find_first_of(" \t");
        const std::string_view timeText = line.substr(0, timeEnd);
        const bool relative = timeText.front() == '+';
        const std::optional<double> seconds = Number(relative ? timeText.substr(1) : timeText);
        const std::optional<int64_t> micros = seconds ? Micros(*seconds) : std::nullopt;
        if (!micros || (relative && timeText.size() < 2))
            return refuse("a time in seconds from the start (0 to 1000000000, e.g. 12.5) or +SECONDS after the step "
                          "before, then an action");
        step.Time = relative ? previous + *micros : *micros;
        if (step.Time > static_cast<int64_t>(MaxSeconds * 1e6)) return refuse("a time of at most 1000000000 seconds");

        const std::string_view rest = timeEnd == std::string_view::npos ? std::string_view() : Trim(line.substr(timeEnd));
        const std::size_t wordEnd = rest.find_first_of(" \t");
        const std::string_view word = rest.substr(0, wordEnd);
        const std::string_view args = wordEnd == std::string_view::npos ? std::string_view() : rest.substr(wordEnd);
        const TActionForm* form = nullptr;
        for (const TActionForm& f : Forms)
            if (word == f.Word) form = &f;
        if (!form) return refuse("an action after the time: " + ActionWords());
        step.Action = form->Action;
        if (!ReadArguments(*form, args, step)) return refuse(form->Form);
        if (step.Action == TScenarioStep::TAction::Repeat && step.Time == 0)
            return refuse("repeat at a time after 0 (at 0 the file would start again at once, for ever)");
        previous = step.Time;
        result.Scenario.Steps.push_back(std::move(step));
    }
    std::stable_sort(result.Scenario.Steps.begin(), result.Scenario.Steps.end(),
                     [](const TScenarioStep& a, const TScenarioStep& b) { return a.Time < b.Time; });
    return result;
}

TAString ScenarioActionsHelp()
{
    TAString text;
    for (const TActionForm& f : Forms) {
        std::string line = "    ";
        line += f.Form;
        if (line.size() < 38) line.resize(38, ' ');
        text += TAString(line) + " " + f.Meaning + "\n";
    }
    return text;
}
