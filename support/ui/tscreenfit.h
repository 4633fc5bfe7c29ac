#pragma once
// Puts a top-level window where the user can see all of it: no larger than the usable
// area of its screen (the screen less panels and docks) and wholly inside it
// (TWindowPlacement). A window that has never been shown has no frame yet; on a
// desktop with window decorations a title bar is allowed for.

class QWidget;

class TScreenFit {
public:
    // Limits window's size and moves it on screen. A window with a fixed size gets its
    // fixed size limited, so a layout inside it has to cope (scroll areas do).
    static void Apply(QWidget& window);
    // Moves window to the top left corner of the usable area of the primary screen,
    // then Apply.
    static void TopLeft(QWidget& window);
    // Centres window on the usable area of the primary screen, then Apply.
    static void Centre(QWidget& window);
    // Apply again each time window is shown: the window system knows its frame then,
    // and the screens may have changed since.
    static void Keep(QWidget& window);
};
