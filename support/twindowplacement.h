#pragma once
// Where a window may stand: inside the part of a screen that windows may use (the
// screen less its panels and docks). A stored position from another session may lie
// on a monitor that is gone, or a window may be taller than a small screen; both are
// brought back where the user can see and reach every edge, title bar and buttons
// included.
//
// Rectangles are in the desktop's coordinates (pixels, y downwards); a window's
// rectangle is its outer frame. Example: a 792 x 600 frame at (3000, 3000) on one
// 1366 x 728 area at (0, 40) becomes 792 x 600 at (574, 168): the least move that
// puts it wholly inside.

#include <vector>

struct TScreenRect {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;

    int Right() const { return Left + Width; }    // one past the last column
    int Bottom() const { return Top + Height; }   // one past the last row
    bool operator==(const TScreenRect&) const = default;
};

class TWindowPlacement {
public:
    // The screen a window belongs on: the available area that shares the most pixels
    // with it; the primary one when it shares none with any (and for ties, the first).
    // -1 when there are no screens; primary outside the list counts as 0.
    static int ChooseScreen(const TScreenRect& window, const std::vector<TScreenRect>& areas, int primary);

    // The window made no larger than area (each side on its own), then moved the least
    // distance that puts it wholly inside area.
    static TScreenRect Fit(const TScreenRect& window, const TScreenRect& area);

    // Fit on the area ChooseScreen picks; the window as it is when there is no screen.
    static TScreenRect Place(const TScreenRect& window, const std::vector<TScreenRect>& areas, int primary);
};
