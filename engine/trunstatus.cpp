#include "engine/trunstatus.h"

#include <cinttypes>
#include <cstdio>
#include <filesystem>
#include <string>

namespace {

TAString Frames(uint64_t n)
{
    char text[48];
    std::snprintf(text, sizeof text, "%" PRIu64 " %s", n, n == 1 ? "frame" : "frames");
    return TAString(text);
}

// "4151 frames", or "4154 frames, 3 received".
TAString Written(const TRunStatusFacts& f)
{
    if (f.ReceivedLogged == 0) return Frames(f.FramesLogged);
    return Frames(f.FramesLogged) + ", " + TAString(std::to_string(f.ReceivedLogged)) + " received";
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

TRunStatusText TRunStatus::Text(const TRunStatusFacts& f)
{
    TRunStatusText t;
    if (!f.Running && !f.Started)
        t.Run = "Ready";
    else
        t.Run = (f.Running ? "Running " : "Stopped ") + Elapsed(f.SimTimeMicros);
    t.Sent = Frames(f.FramesSent);
    if (!f.SendCan) t.Sent += " (CAN-Adapter off)";
    if (!f.AddressClaim.IsEmpty()) t.Sent += ", address " + f.AddressClaim;
    t.Timer = f.TimerScheduling.IsEmpty() ? TAString("not started") : f.TimerScheduling;

    if (f.RunErrors > 0)
        t.Problem = TAString(int32_t(f.RunErrors)) + (f.RunErrors == 1 ? " error" : " errors") +
                    " in this run: see the error window";
    if (f.LogFileName.IsEmpty()) {
        t.Log = "none chosen";
        return t;
    }
    t.Log = BaseName(f.LogFileName);
    if (!f.LogOpen) {
        t.Written = "none (cannot open)";
        t.Problem = f.LogError;
    } else if (!f.LogError.IsEmpty()) {
        t.Written = Written(f) + " (write failed)";
        t.Problem = f.LogError;
    } else {
        t.Written = Written(f);
        if (!f.LogFile) t.Written += " (Logfile off)";
    }
    return t;
}
