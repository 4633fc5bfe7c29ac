#pragma once
// Bit timing of an SJA1000-style CAN controller clocked at 16 MHz / 2: one bit lasts
// presc x (1 + tseg1 + tseg2) controller clock periods, so
//     bit rate = 16000000 / (2 x presc x (tseg1 + tseg2 + 1)).
// 250000 bit/s with tseg1 8, tseg2 7 needs presc 16000000 / (2 x 250000 x 16) = 2.
// Ranges: tseg1 1..16, tseg2 1..8, sjw 1..4, sam 1 or 3, presc a whole number 1..64.

#include "support/tastring.h"

#include <optional>

struct TBitTiming {
    int Tseg1 = 0;
    int Tseg2 = 0;
    int Sjw = 0;
    int Sam = 0;
    friend bool operator==(const TBitTiming&, const TBitTiming&) = default;
};

namespace BitTiming {

constexpr double ClockHz = 16000000.0;

// The timing proposed for a bit rate: the table for the standard rates, else the
// first bit length n = 16..25 quanta (else the largest below 16) for which a whole
// prescaler 1..64 exists; with none, tseg1, tseg2 and sjw stay 0. sam is 3 below
// 100000 bit/s, else 1. A rate of 0 proposes nothing.
std::optional<TBitTiming> Propose(int rate);

// 16000000 / (rate x 2 x (tseg1 + tseg2 + 1)); 0 when the divisor is 0.
double Presc(int rate, int tseg1, int tseg2);
// The presc field's text: the number in the general floating-point format ("2", "2.5").
TAString PrescText(double presc);

bool Tseg1Ok(int v);
bool Tseg2Ok(int v);
bool SjwOk(int v);
bool SamOk(int v);
bool PrescOk(double presc);

// A field's text as an integer; text that is not a number reads as 0.
int FieldInt(const TAString& text);

// After CheckOnOk has passed: every timing field that becomes a word of the channel
// description must be a whole decimal number (digits only). The message for the first that is not,
// in the order Baudrate, sjw, tseg1, tseg2, sam ("sjw is not a number"), or nothing.
std::optional<TAString> CheckNumbersOnOk(const TAString& rateText, const TAString& sjwText, const TAString& tseg1Text,
                                         const TAString& tseg2Text, const TAString& samText);

// The checks made when the dialog's OK is pressed with bit timing: the message to show
// ("tseg1 is not between 1 and 16", "tseg2 is not between 1 and 8",
// "Chip param not consistent with baudrate"), or nothing when the timing may be stored.
std::optional<TAString> CheckOnOk(const TAString& rateText, const TAString& tseg1Text, const TAString& tseg2Text,
                                  const TAString& prescText);

}  // namespace BitTiming
