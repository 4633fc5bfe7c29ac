#pragma once
// The SJA1000-style bit-timing registers both IXXAT drivers give their CAN controller,
// built from words 4 to 8 of the channel text (sjw, tseg1, tseg2, sam, presc):
//   BT0 = ((presc - 1) & 0x3F) | ((sjw * 64) & 0xC0)
//   BT1 = ((tseg1 - 1) & 0x0F) | (((tseg2 - 1) * 16) & 0x70) | ((sam * 128) & 0x80)
// sam is 1 only for the word "3" (three samples). The sjw word goes into BT0 as it
// stands: "1 5 2 1 2" gives BT0 0x41, BT1 0x14 (0x94 with sam word "3"). A missing or
// malformed word counts as 0.

#include "support/tastring.h"

#include <cstdint>

struct TVciBitTiming {
    uint8_t Bt0 = 0;
    uint8_t Bt1 = 0;

    static TVciBitTiming FromChannelText(const TAString& text);
};
