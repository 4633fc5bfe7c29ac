// TWindowPlacement: a window's frame brought inside the usable area of a screen.
#include "support/twindowplacement.h"

#include <gtest/gtest.h>

namespace {

// A 1366 x 768 laptop screen less a 40 px top panel, a 1600 x 1000 monitor, and a
// 1280 x 1024 monitor to the right of it.
const TScreenRect Laptop{0, 40, 1366, 728};
const TScreenRect Left{0, 0, 1600, 1000};
const TScreenRect Right{1600, 0, 1280, 1024};

TEST(TWindowPlacement, FitKeepsAWindowThatLiesInsideAndMovesOthersTheLeastDistance)
{
    const struct {
        const char* what;
        TScreenRect window;
        TScreenRect area;
        TScreenRect expected;
    } cases[] = {
        {"inside: unchanged", {100, 100, 400, 300}, Left, {100, 100, 400, 300}},
        {"touching every edge: unchanged", {0, 0, 1600, 1000}, Left, {0, 0, 1600, 1000}},
        // Stored Top/Left 3000: right edge to 1366, bottom edge to 768.
        {"far right and below", {3000, 3000, 792, 600}, Laptop, {574, 168, 792, 600}},
        {"left of and above", {-50, -20, 400, 300}, Laptop, {0, 40, 400, 300}},
        {"over the right edge", {1500, 100, 400, 300}, Left, {1200, 100, 400, 300}},
        // The validity window, 850 px high with its frame, on the laptop: Apply/OK/Cancel stay visible.
        {"taller than the area", {0, 0, 407, 850}, Laptop, {0, 40, 407, 728}},
        {"wider and taller", {10, 10, 2000, 1100}, Left, {0, 0, 1600, 1000}},
        {"wider only", {10, 10, 2000, 900}, Left, {0, 10, 1600, 900}},
        {"area away from the origin", {0, 0, 300, 200}, Right, {1600, 0, 300, 200}},
    };
    for (const auto& c : cases) EXPECT_EQ(TWindowPlacement::Fit(c.window, c.area), c.expected) << c.what;
}

TEST(TWindowPlacement, ScreenIsTheOneSharingMostOfTheWindowElseThePrimary)
{
    const std::vector<TScreenRect> two{Left, Right};
    // 100 x 300 on the left monitor, 300 x 300 on the right one.
    EXPECT_EQ(TWindowPlacement::ChooseScreen({1500, 100, 400, 300}, two, 0), 1);
    EXPECT_EQ(TWindowPlacement::ChooseScreen({1200, 100, 500, 300}, two, 1), 0);
    // 200 x 100 on each: the first.
    EXPECT_EQ(TWindowPlacement::ChooseScreen({1400, 0, 400, 100}, two, 1), 0);
    // On no screen: the primary; a primary that does not exist counts as the first.
    EXPECT_EQ(TWindowPlacement::ChooseScreen({5000, 5000, 400, 300}, two, 1), 1);
    EXPECT_EQ(TWindowPlacement::ChooseScreen({5000, 5000, 400, 300}, two, 5), 0);
    EXPECT_EQ(TWindowPlacement::ChooseScreen({5000, 5000, 400, 300}, two, -1), 0);
    EXPECT_EQ(TWindowPlacement::ChooseScreen({0, 0, 10, 10}, {}, 0), -1);
}

TEST(TWindowPlacement, PlaceBringsAWindowFromAnUnpluggedMonitorOntoTheOneLeft)
{
    // Stored on the right monitor, which is gone: onto the left one at its right edge.
    EXPECT_EQ(TWindowPlacement::Place({1700, 100, 792, 600}, {Left}, 0), (TScreenRect{808, 100, 792, 600}));
    // Both monitors there: the window stays where it was stored.
    EXPECT_EQ(TWindowPlacement::Place({1700, 100, 792, 600}, {Left, Right}, 0), (TScreenRect{1700, 100, 792, 600}));
    // Half on each, too tall for the left one: it stays on the right one, limited to 1024.
    EXPECT_EQ(TWindowPlacement::Place({1500, -10, 400, 1100}, {Left, Right}, 0), (TScreenRect{1600, 0, 400, 1024}));
    // No screen known: left as it is.
    EXPECT_EQ(TWindowPlacement::Place({-5, -5, 10, 10}, {}, 0), (TScreenRect{-5, -5, 10, 10}));
}

}  // namespace
