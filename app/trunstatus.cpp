#include "app/trunstatus.h"

#include <cinttypes>
#include <cstdio>
#include <filesystem>

namespace {

TAString Count(uint64_t n, const char* what)
{
    char text[48];
    std::snprintf(text, sizeof text, "%" PRIu64 " %s", n, what);
    return TAString(text);
}

}  // namespace

TAString TRunStatus::Elapsed(int64_t micros)
{
    const int64_t seconds = micros > 0 ? micros / 1000000 : 0;
    char text[48];
    std::snprintf(text, sizeof text, "%" PRId64 ":%02d:%02d", seconds / 3600, static_cast<int>(seconds / 60 % 60),
                  static_cast<int>(seconds % 60));
    return TAString(text);
}

TAString TRunStatus::BaseName(const TAString& fileName)
{
    const std::string name = std::filesystem::path(fileName.str()).filename().string();
    return TAString(name.empty() ? fileName.str() : name);
}

TAString TRunStatus::RunLine(const TRunStatusFacts& f)
{
    if (!f.Running && !f.Started) return "Ready";
    TAString line = f.Running ? "Running " : "Stopped ";
    line += Elapsed(f.SimTimeMicros) + ", " + Count(f.FramesSent, f.FramesSent == 1 ? "frame sent" : "frames sent");
    if (!f.SendCan) line += " (CAN-Adapter off)";
    return line;
}

TAString TRunStatus::LogLine(const TRunStatusFacts& f)
{
    if (f.LogFileName.IsEmpty()) return "Output log: none chosen";
    const TAString name = BaseName(f.LogFileName);
    if (!f.LogOpen) return "Output log " + name + " cannot be opened: " + f.LogError;
    TAString line = "Output log " + name + ": " + Count(f.FramesLogged, f.FramesLogged == 1 ? "frame" : "frames");
    if (!f.LogError.IsEmpty()) return line + ", then writing failed: " + f.LogError;
    if (!f.LogFile) line += " (Logfile off)";
    return line;
}
