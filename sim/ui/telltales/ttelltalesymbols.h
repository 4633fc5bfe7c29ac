#pragma once
// The 41 tell-tale symbols of the cockpit, drawn for this program: simple line
// pictures in white on black, 30 x 30 pixels of grey-scale intensity (the cockpit tints
// them with the colour of each tell-tale's state). Index i is tell-tale i + 1 of the
// catalogue: 0 air conditioning, 1 high beam, 2 low beam, 3 turn signals, ...

#include <QImage>

class TTellTaleSymbols {
public:
    // Format_Grayscale8, 30 x 30; an all-black image for an index outside 0..40.
    static QImage Symbol(int index);
};
