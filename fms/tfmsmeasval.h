#pragma once
// One signal of a parameter group: its value and everything needed to put it on the
// bus. Converts a text to a value (Read), a value to display text (Write) and a value
// to the bits of its parameter group (WriteToCan).

#include "fms/tmeasval.h"
#include "support/tastring.h"

#include <cstdint>
#include <memory>

class TCanHigh;

// Rounds to the nearest integer, halves away from zero: 0.5 gives 1, 1.5 gives 2, -0.5
// gives -1. A value within a billionth (and a part in 10^12 of itself) of a half counts
// as that half, so that a decimal half step survives its binary form: 0.15 / 0.1 is
// 1.4999999999999998 in doubles and gives 2. A NaN gives 0; results beyond 64 bits
// saturate.
int64_t RoundHalfAway(double x);

class TFmsMeasVal {
public:
    // StartBit: directly after the data already in the message (strings only).
    static constexpr uint16_t AfterData = 0xFFFF;
    // BitLength: as long as the text (strings only).
    static constexpr uint16_t TextLength = 0xFFFF;
    // The byte that ends each field of a message made of several texts ("*").
    static constexpr uint8_t EndMark = 0x2A;

    // When codeFF..codeFB are all 0 they follow from bitLength: below 8 bits (n) FF is
    // 2^n - 1 and FE 2^n - 2, FD..FB unsupported; 8 to 32 bits FF FE FD FC FB themselves;
    // above 32 bits none.
    TFmsMeasVal(const TAString& name, uint32_t canId, int32_t groupIndex, int32_t period, uint16_t startBit,
                uint16_t bitLength, double resolution, const TAString& unit, double offset,
                std::unique_ptr<TMeasVal> value, uint16_t minIntDigits, uint16_t maxIntDigits,
                uint16_t minDecimals, uint16_t maxDecimals, uint8_t codeFF = 0, uint8_t codeFE = 0,
                uint8_t codeFD = 0, uint8_t codeFC = 0, uint8_t codeFB = 0);

    // How many decimals Read takes: the signal's text limits (a user's text), or any
    // number (a value line of a test or tool, which writes every number exactly).
    enum class TDecimals { Limited, Any };

    TFmsMeasVal(const TFmsMeasVal&) = delete;
    TFmsMeasVal& operator=(const TFmsMeasVal&) = delete;

    // A new value, a clone of MeasVal holding the content or state that text gives.
    // The signal itself is unchanged; the caller installs the result.
    // - a whole text "*", "o", "n", "p", "r", "R" or "e": that state, content kept;
    // - number: decimal text of "-", "." and digits with MinIntDigits..MaxIntDigits
    //   characters before the point (a sign counts: "-12" has three) and
    //   MinDecimals..MaxDecimals after it (any number with TDecimals::Any); the state
    //   then follows from the range;
    // - string, tell-tales: 2*MinIntDigits .. 2*MaxIntDigits hex characters, stored as given;
    // - enumeration: a number 0..255 by TAString::AsNum (its errors pass through).
    // Throws TBaseError("TFmsMeasVal::Read", "too short" | "too long" | "has illegal character").
    std::unique_ptr<TMeasVal> Read(const TAString& text, TDecimals decimals = TDecimals::Limited) const;

    // Display text: the state letter unless msValid; else a number with exactly
    // MaxDecimals decimals (5.2 with 3 gives "5.200"), an enumeration's index, the
    // tell-tale digits, or a string's bytes as characters where printable (0x20..0x7E)
    // and as "x" plus the two hex characters otherwise ("56450D" gives "VEx0D").
    // Throws TBaseError("TFmsMeasVal::Write", "unknown type") for a value of no known kind.
    TAString Write() const;

    // Writes the value, or the code of its state, into this signal's bits of m.
    // Valid and out-of-range contents are sent as raw values, never outside the valid
    // range: a number as the nearest raw value of its value, or of the nearest end of its
    // range when it lies beyond (RoundHalfAway((SentValue() - Offset) / Resolution): 300
    // km/h on a 0..250.9965 km/h field of 1/256 km/h goes out as FAFF, never wrapped), an
    // enumeration as its index or the nearest index with an entry, a string as its bytes,
    // the tell-tales as their next block (which advances the block). The tell-tales in any
    // other state send their next block with every tell-tale not available (F0 FF .., F1
    // FF .., F2 FF ..). A string in any other state is sent as 0xFF bytes (eight when its
    // length follows the text), a Delimited one as the end mark alone; a number or
    // enumeration as the code of its state: 0xFF bytes with the code in the field's top
    // byte (16 bits in msError: FF FE). A string that starts AfterData starts at
    // m.DataEnd().
    // Throws TBaseError("TFmsMeasVal::WriteToCan", "Error flag not supported") for a
    // number or enumeration in a state without a code (msNotSet always), and passes on
    // SetMV's errors and the number parser's error for a string that is not hexadecimal.
    void WriteToCan(TCanHigh& m);

    // The byte sent for an indicator state (CodeFB .. CodeFF); 0 for a state without one
    // (msValid, msOutOfRange, msNotSet, or a code the field does not support).
    uint8_t Code(TMeasState state) const;

    uint32_t CanId;        // the group's identifier template: PGN << 8 (0x00FEF100)
    int32_t GroupIndex;    // position of the group in the catalogue
    int32_t Period;        // ms
    TAString Name;
    double Resolution;     // physical units per raw bit
    TAString Unit;
    double Offset;         // physical value of raw 0
    uint16_t StartBit;     // from the least significant bit of data byte 0; or AfterData
    uint16_t BitLength;    // or TextLength
    std::unique_ptr<TMeasVal> MeasVal;
    // Numbers: digits before and after the point; strings: fewest and most bytes in
    // the first two. MaxDecimals is also the number of decimals Write prints.
    uint16_t MinIntDigits;
    uint16_t MaxIntDigits;
    uint16_t MinDecimals;
    uint16_t MaxDecimals;
    // Texts of their own length only: one of several fields of a message, each ending
    // with EndMark (the driver identifications: "D1*D2*"). Without content it is sent
    // as the empty field, the end mark alone, so that the field after it keeps its
    // place: a missing driver 1 gives "*D2*", where 0xFF bytes would be taken for the
    // end of the data and driver 2 would be read as driver 1.
    bool Delimited = false;
    // Bytes sent for msParamSpecific .. msNotAvailable; 0 = state not supported.
    uint8_t CodeFB = 0;
    uint8_t CodeFC = 0;
    uint8_t CodeFD = 0;
    uint8_t CodeFE = 0;
    uint8_t CodeFF = 0;
};
