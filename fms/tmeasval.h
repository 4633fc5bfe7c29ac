#pragma once
// A measured value: the current content of one signal with its validity state.
// Four kinds: a number (TMeasValDouble), an entry of an enumeration (TMeasValEnum),
// a byte string (TMeasValString) and the tell-tale table (TMeasValTTS).
// The base and its four small kinds live together here; they only make sense as one family.
// What differs between the kinds (reading a text, display text, the bits on the bus,
// taking a typed content) is a virtual operation of each kind, so no caller ever asks
// which kind it holds. Those operations need the signal's description and are defined
// with it, in tfmsmeasval.cpp.

#include "fms/tsignalcontent.h"
#include "support/tastring.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

// 16-bit validity state. The low byte of the five indicator states is the J1939
// indicator byte they stand for (FB parameter specific .. FF not available).
enum TMeasState : uint16_t {
    msValid = 0x1000,           // the content is sent
    msNotSet = 0x4000,          // "*": no content yet
    msOutOfRange = 0x4100,      // "o": outside its range, sent as the nearest end of its range
    msParamSpecific = 0x42FB,   // "p"
    msReserved1 = 0x42FC,       // "r"
    msReserved2 = 0x42FD,       // "R"
    msError = 0x42FE,           // "e"
    msNotAvailable = 0x42FF,    // "n"
};

// The one-letter text of a state ("*", "o", "p", "r", "R", "e", "n"); empty for
// msValid and for words that are no state.
TAString MeasStateText(TMeasState state);
// True when the whole text is one of the state letters (case-sensitive); state is then set.
bool MeasStateFromText(const TAString& text, TMeasState& state);

class TCanHigh;
class TFmsMeasVal;

class TMeasVal {
public:
    virtual ~TMeasVal() = default;

    // True when other is of the very same class, has the same state and, only when
    // that state is msValid, the same content. Values of different classes are never
    // equal.
    virtual bool IsEqual(const TMeasVal& other) const = 0;
    virtual std::unique_ptr<TMeasVal> Clone() const = 0;
    // Back to msNotSet.
    virtual void Reset() { SetOwnState(msNotSet); }

    // The state its content gives by itself: a number's range, an enumeration's index;
    // msValid for texts.
    virtual TMeasState ContentState() const { return msValid; }

    // Why content cannot be this value's for signal (another kind, a text too long or
    // not printable, a tell-tale status above 7); empty when it can.
    virtual TAString ContentRefusal(const TSignalContent& content, const TFmsMeasVal& signal) const = 0;
    // Takes content that ContentRefusal accepted; the state follows from it.
    virtual void TakeContent(const TSignalContent& content) = 0;
    // The content as the snapshot type holds it.
    virtual TSignalContent Content() const = 0;
    // True when the field can carry indicator codes (numbers and enumerations); texts and
    // tell-tales only know "not available", sent as 0xFF bytes.
    virtual bool HasIndicatorCodes() const { return true; }
    // Signal-dependent parts of TFmsMeasVal::Read, Write and WriteToCan.
    virtual void ReadText(const TAString& text, const TFmsMeasVal& signal, bool anyDecimals) = 0;
    // A kind without a display text of its own throws
    // TBaseError("TFmsMeasVal::Write", "unknown type").
    virtual TAString WriteText(const TFmsMeasVal& signal) const;
    virtual void Encode(const TFmsMeasVal& signal, TCanHigh& m) = 0;

    // State and OwnState at once: what the content, a text or a reset gave.
    void SetOwnState(TMeasState state) { State = OwnState = state; }

    // The state the value is sent and shown with. The validity manipulation assigns it
    // directly and puts OwnState back when the user withdraws the choice.
    TMeasState State = msNotSet;
    // The state the value had before anything forced another one.
    TMeasState OwnState = msNotSet;

protected:
    TMeasVal() = default;
    TMeasVal(const TMeasVal&) = default;
    TMeasVal& operator=(const TMeasVal&) = default;
    // Same dynamic class and same state.
    bool SameClassAndState(const TMeasVal& other) const;
};

class TMeasValDouble : public TMeasVal {
public:
    // Stores the limits, then SetValue(initial).
    TMeasValDouble(double initial, double min, double max, double tolerance, double spare,
                   double invalidLow, double invalidHigh);

    // Value = v; msOutOfRange when v lies outside [Min, Max] or inside the invalid
    // window [InvalidLow, InvalidHigh], otherwise msValid. A NaN is msError: no value of
    // the range is nearest to it.
    void SetValue(double v);
    TMeasState ContentState() const override;
    // Value as it is sent: within [Min, Max], the nearest end of the range when beyond.
    double SentValue() const;

    // Equal content: other.Value within this value's Value ± Tolerance.
    bool IsEqual(const TMeasVal& other) const override;
    std::unique_ptr<TMeasVal> Clone() const override;
    TAString ContentRefusal(const TSignalContent& content, const TFmsMeasVal& signal) const override;
    void TakeContent(const TSignalContent& content) override;
    TSignalContent Content() const override { return Value; }
    void ReadText(const TAString& text, const TFmsMeasVal& signal, bool anyDecimals) override;
    TAString WriteText(const TFmsMeasVal& signal) const override;
    void Encode(const TFmsMeasVal& signal, TCanHigh& m) override;

    double Value = 0.0;
    double Min = 0.0;
    double Max = 0.0;
    double InvalidLow = 0.0;    // InvalidLow > InvalidHigh: no invalid window
    double InvalidHigh = -1.0;
    double Tolerance = 0.0;
    double Spare = 0.0;         // carried along, read by nobody in the signal model
};

class TMeasValEnum : public TMeasVal {
public:
    // texts: the entries separated by "," ("off,on": entry 0 "off", entry 1 "on").
    TMeasValEnum(uint32_t initial, const TAString& texts);

    // Index = i; msValid when entry i exists and is not empty, else msOutOfRange.
    void SetIndex(uint32_t i);
    TMeasState ContentState() const override;
    // Index as it is sent: the nearest index that has an entry (the last one for an
    // index beyond the texts), so that no field carries a number it has no meaning for.
    uint32_t SentIndex() const;

    bool IsEqual(const TMeasVal& other) const override;
    std::unique_ptr<TMeasVal> Clone() const override;
    TAString ContentRefusal(const TSignalContent& content, const TFmsMeasVal& signal) const override;
    void TakeContent(const TSignalContent& content) override;
    TSignalContent Content() const override { return TEnumIndex{Index}; }
    void ReadText(const TAString& text, const TFmsMeasVal& signal, bool anyDecimals) override;
    TAString WriteText(const TFmsMeasVal& signal) const override;
    void Encode(const TFmsMeasVal& signal, TCanHigh& m) override;

    uint32_t Index = 0;
    std::vector<TAString> Texts;
};

class TMeasValString : public TMeasVal {
public:
    // text: the bytes as hexadecimal, two characters per byte, most significant digit
    // first ("56656869636C65" is Vehicle). State msValid.
    explicit TMeasValString(const TAString& text);

    bool IsEqual(const TMeasVal& other) const override;
    std::unique_ptr<TMeasVal> Clone() const override;
    // A text takes bytes of MinIntDigits..MaxIntDigits of its signal.
    TAString ContentRefusal(const TSignalContent& content, const TFmsMeasVal& signal) const override;
    void TakeContent(const TSignalContent& content) override;
    TSignalContent Content() const override;
    bool HasIndicatorCodes() const override { return false; }
    void ReadText(const TAString& text, const TFmsMeasVal& signal, bool anyDecimals) override;
    TAString WriteText(const TFmsMeasVal& signal) const override;
    void Encode(const TFmsMeasVal& signal, TCanHigh& m) override;

    TAString Text;
};

// The tell-tale table: Text holds one digit "0".."7" per tell-tale (character k-1 for
// tell-tale k), the 3-bit status with 7 = not available. Sent in blocks of 15
// tell-tales, one block per transmission: 0, 1, 2, 0, ...
class TMeasValTTS : public TMeasValString {
public:
    static constexpr int TellTales = 41;

    // 41 times "7", block 0, msValid.
    TMeasValTTS();

    // msNotSet and block 0.
    void Reset() override;
    std::unique_ptr<TMeasVal> Clone() const override;
    // Takes the states of the tell-tales, each 0..7; the block to send next stays.
    TAString ContentRefusal(const TSignalContent& content, const TFmsMeasVal& signal) const override;
    void TakeContent(const TSignalContent& content) override;
    TSignalContent Content() const override;
    TAString WriteText(const TFmsMeasVal& signal) const override;
    void Encode(const TFmsMeasVal& signal, TCanHigh& m) override;

    // The 8 bytes of block Block, then Block moves on to the next (0 after 2).
    // Byte 0 = 0x80 | Block with tell-tale 1 of the block in bits 4..6; bytes 1..7
    // hold two tell-tales each, low half first, with the spare bits 3 and 7 set.
    // A tell-tale past the text is 7. With every status 7, block 0 is F0 FF FF FF FF FF FF FF.
    // notAvailable: every tell-tale of the block 7 whatever the text says (a value without
    // content, or forced to not available, still sends its blocks with their block IDs).
    std::array<uint8_t, 8> NextBlock(bool notAvailable = false);

    uint16_t Block = 0;   // the block sent next, 0..2
};
