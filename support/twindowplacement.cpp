#include "support/twindowplacement.h"

#include <algorithm>
#include <cstdint>

namespace {

int64_t SharedPixels(const TScreenRect& a, const TScreenRect& b)
{
    const int64_t w = std::min(a.Right(), b.Right()) - std::max(a.Left, b.Left);
    const int64_t h = std::min(a.Bottom(), b.Bottom()) - std::max(a.Top, b.Top);
    return w > 0 && h > 0 ? w * h : 0;
}

// The start of a span of length size moved the least so that it lies in [from, from + room).
int Clamp(int start, int size, int from, int room)
{
    if (start + size > from + room) start = from + room - size;
    return std::max(start, from);
}

}  // namespace

int TWindowPlacement::ChooseScreen(const TScreenRect& window, const std::vector<TScreenRect>& areas, int primary)
{
    if (areas.empty()) return -1;
    int best = -1;
    int64_t bestShared = 0;
    for (std::size_t i = 0; i < areas.size(); ++i) {
        const int64_t shared = SharedPixels(window, areas[i]);
        if (shared > bestShared) {
            bestShared = shared;
            best = static_cast<int>(i);
        }
    }
    if (best >= 0) return best;
    return primary >= 0 && primary < static_cast<int>(areas.size()) ? primary : 0;
}

TScreenRect TWindowPlacement::Fit(const TScreenRect& window, const TScreenRect& area)
{
    TScreenRect fitted;
    fitted.Width = std::max(0, std::min(window.Width, area.Width));
    fitted.Height = std::max(0, std::min(window.Height, area.Height));
    fitted.Left = Clamp(window.Left, fitted.Width, area.Left, area.Width);
    fitted.Top = Clamp(window.Top, fitted.Height, area.Top, area.Height);
    return fitted;
}

TScreenRect TWindowPlacement::Place(const TScreenRect& window, const std::vector<TScreenRect>& areas, int primary)
{
    const int screen = ChooseScreen(window, areas, primary);
    if (screen < 0) return window;
    return Fit(window, areas[static_cast<std::size_t>(screen)]);
}
