#include "sim/ttelltales.h"

#include "fms/tbusfmsstandard.h"

int TTellTales::NextState(int state)
{
    switch (state) {
    case 0: return 1;
    case 1: return 2;
    case 2: return 3;
    case 3: return 6;
    case 6: return 7;
    default: return 0;   // 7, and the states clicking never reaches
    }
}

TAString TTellTales::StateName(int state)
{
    switch (state) {
    case 0: return "Off - ";
    case 1: return "Cond. Red - ";
    case 2: return "Cond. Yellow - ";
    case 3: return "Cond. Info - ";
    case 7: return "Not available - ";
    default: return "Reserved - ";
    }
}

TTellTaleColour TTellTales::StateColour(int state)
{
    switch (state) {
    case 0: return {128, 128, 128};
    case 1: return {255, 128, 128};
    case 2: return {255, 255, 128};
    case 3: return {255, 255, 255};
    case 4:
    case 5:
    case 6: return {0, 0, 255};
    default: return {0, 0, 0};
    }
}

TTellTaleColour TTellTales::Tint(uint8_t intensity, int state)
{
    const TTellTaleColour c = StateColour(state);
    return {intensity * c.R / 256, intensity * c.G / 256, intensity * c.B / 256};
}

int TTellTales::CellAt(int x, int y)
{
    if (x < 0 || y < 0 || x >= FieldWidth) return -1;
    return x / CellSize + Columns * (y / CellSize);
}

bool TTellTales::Click(int index)
{
    if (index < 0 || index >= Count) return false;
    int& state = states_[static_cast<size_t>(index)];
    state = NextState(state);
    return true;
}

TAString TTellTales::Text() const
{
    TAString text;
    for (int state : states_) text += static_cast<char>('0' + state);
    return text;
}

TAString TTellTales::Hint(int index) const
{
    if (index < 0 || index >= Count) return {};
    return StateName(State(index)) + TAString(index + 1) + " - " + TBusFmsStandard::GetTellTaleName(index);
}
