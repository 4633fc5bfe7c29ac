#pragma once
// The 41 tell-tales of the cockpit: each a state 0..7 that a click advances
// 0 -> 1 -> 2 -> 3 -> 6 -> 7 -> 0 (4 and 5 are never reached by clicking), shown as a
// field of 32 x 32 cells, 8 to a row, each a 30 x 30 grey-scale symbol tinted with the
// colour of its state.

#include "support/tastring.h"

#include <array>
#include <cstdint>

struct TTellTaleColour {
    int R;
    int G;
    int B;
    friend bool operator==(const TTellTaleColour&, const TTellTaleColour&) = default;
};

class TTellTales {
public:
    static constexpr int Count = 41;
    static constexpr int CellSize = 32;
    static constexpr int SymbolSize = 30;
    static constexpr int Columns = 8;
    static constexpr int Rows = (Count + Columns - 1) / Columns;   // 6
    static constexpr int FieldWidth = Columns * CellSize;            // 256
    static constexpr int FieldHeight = Rows * CellSize;              // 192

    // The state that follows state on a click.
    static int NextState(int state);
    // "Off - ", "Cond. Red - ", "Cond. Yellow - ", "Cond. Info - ", "Not available - ",
    // "Reserved - " for any other state.
    static TAString StateName(int state);
    // State 0 grey (128, 128, 128), 1 light red (255, 128, 128), 2 light yellow
    // (255, 255, 128), 3 white, 4 to 6 blue, 7 black.
    static TTellTaleColour StateColour(int state);
    // A symbol pixel of intensity 0..255 in the colour of state: each channel
    // intensity x channel / 256 (white 255 in state 3 gives 254).
    static TTellTaleColour Tint(uint8_t intensity, int state);
    // Cell index of a pixel of the field: column x / 32 + 8 x row y / 32; -1 outside the
    // field's 8 columns (indices above 40 are returned; they have no tell-tale).
    static int CellAt(int x, int y);

    int State(int index) const { return states_.at(static_cast<size_t>(index)); }
    void SetState(int index, int state) { states_.at(static_cast<size_t>(index)) = state; }
    // Advances the state of cell index (0..40) and returns true; false for any other index.
    bool Click(int index);
    // One decimal digit per tell-tale, tell-tale 1 first ("000...0" at the start).
    TAString Text() const;
    // State name, the cell number (index + 1), " - " and the catalogue's name of that
    // tell-tale: "Off - 2 - High beam, main beam". Empty beyond index 40.
    TAString Hint(int index) const;

private:
    std::array<int, Count> states_{};
};
