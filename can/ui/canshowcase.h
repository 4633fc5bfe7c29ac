#pragma once
// Puts the CAN channel dialog into a state worth showing (screenshots, manuals),
// without showing it; the caller does.

class TFCanChannel;

namespace CanShowcase {

// The simulation driver with a write/read channel and two write-only channels.
void SimulationPanel(TFCanChannel& dialog);

// The second channel of the first Vector CANcaseXL at 250000 bit/s with the proposed
// bit timing (sjw 2, tseg1 8, tseg2 7, sam 1, presc 2).
void CardWithBitTiming(TFCanChannel& dialog);

}  // namespace CanShowcase
