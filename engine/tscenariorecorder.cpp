#include "engine/tscenariorecorder.h"

#include <charconv>
#include <cstdio>
#include <string>

namespace {

// The shortest text that reads back as value: 40, 12.5, 0.1.
TAString Number(double value)
{
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return ec == std::errc() ? TAString(std::string(buf, end)) : TAString("0");
}

// Whole microseconds as seconds: 12340000 -> "12.34", 20000 -> "0.02".
TAString Seconds(int64_t micros)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld.%06lld", static_cast<long long>(micros / 1000000),
                  static_cast<long long>(micros % 1000000));
    std::string text(buf);
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
    return TAString(text);
}

// A text in quotes when it needs them to read back whole: blanks at its ends, "#".
TAString Quoted(const TAString& text)
{
    const std::string& s = text.str();
    const bool quote = s.empty() || s.front() == ' ' || s.back() == ' ' || s.find('#') != std::string::npos;
    return quote ? "\"" + text + "\"" : text;
}

}  // namespace

void TScenarioRecorder::Start(int64_t now)
{
    recording_ = true;
    start_ = now;
    text_ = "# recorded in the cockpit: seconds from the start of the recording, then what was done\n";
}

void TScenarioRecorder::Finish(int64_t now)
{
    if (!recording_) return;
    Line(now, "stop");
    recording_ = false;
}

void TScenarioRecorder::Line(int64_t now, const TAString& action)
{
    if (!recording_) return;
    text_ += Seconds(now < start_ ? 0 : now - start_) + " " + action + "\n";
}

void TScenarioRecorder::Set(int64_t now, const TAString& name, double value)
{
    Line(now, "set " + name + "=" + Number(value));
}

void TScenarioRecorder::Starter(int64_t now)
{
    Line(now, "starter");
}

void TScenarioRecorder::TellTale(int64_t now, int n, int state)
{
    Line(now, "telltale " + TAString(static_cast<int32_t>(n)) + "=" + TAString(static_cast<int32_t>(state)));
}

void TScenarioRecorder::Identification(int64_t now, const char* field, const TAString& text)
{
    const TAString name(field);
    const char* action = name == "E_FzgID" ? "vin " : name == "E_DID1" ? "driver1 " : "driver2 ";
    Line(now, action + Quoted(text));
}

void TScenarioRecorder::Force(int64_t now, const TAString& signal, const TAString& state)
{
    Line(now, "force \"" + signal + "=" + state + "\"");
}

void TScenarioRecorder::Release(int64_t now, const TAString& signal)
{
    Line(now, "release \"" + signal + "\"");
}

void TScenarioRecorder::SendGroup(int64_t now, uint32_t pgn, bool send)
{
    Line(now, (send ? "keep " : "drop ") + TAString::Hex16(static_cast<uint16_t>(pgn)));
}
