#include "app/tcanlog.h"

#include <string>

namespace {

// Singular and plural of each reason, in the order TLogSkip lists them.
constexpr const char* kSkipNames[skCount][2] = {
    {"header and comment line", "header and comment lines"},
    {"blank line", "blank lines"},
    {"standard (11-bit) frame", "standard (11-bit) frames"},
    {"remote frame", "remote frames"},
    {"error frame", "error frames"},
    {"event line", "event lines"},
};

TAString Counted(uint64_t n, const char* one, const char* many)
{
    return TAString(std::to_string(n)) + " " + (n == 1 ? one : many);
}

}  // namespace

uint32_t TCanLog::SkippedLines() const
{
    uint32_t sum = 0;
    for (uint32_t n : Skipped) sum += n;
    return sum;
}

const char* TCanLog::KindName(TLogFileKind kind)
{
    switch (kind) {
    case lkAsc:
        return "ASC";
    case lkCandump:
        return "candump";
    default:
        return "layout 4/5";
    }
}

TAString TCanLog::Summary() const
{
    TAString text = (FileName.IsEmpty() ? TAString("the log") : FileName) + ": " +
                    Counted(Frames.size(), "frame", "frames") + " (" + KindName(Kind) + ")";
    const uint32_t skipped = SkippedLines();
    if (skipped == 0) return text;
    text += "; " + Counted(skipped, "line skipped", "lines skipped") + ":";
    bool first = true;
    for (int reason = 0; reason < skCount; ++reason) {
        const uint32_t n = Skipped[static_cast<size_t>(reason)];
        if (n == 0) continue;
        text += (first ? " " : ", ") + Counted(n, kSkipNames[reason][0], kSkipNames[reason][1]);
        first = false;
    }
    return text;
}
