#pragma once
// What an edit field accepts, and the colour its text shows while the user types:
// red while the text is not acceptable, green while it is acceptable and differs
// from the committed text, black otherwise.

#include "support/tastring.h"

#include <cstdint>

enum class TEditColour { Black, Green, Red };

inline TEditColour EditColour(bool valid, const TAString& text, const TAString& committed)
{
    if (!valid) return TEditColour::Red;
    return text == committed ? TEditColour::Black : TEditColour::Green;
}

class TEditRule {
public:
    virtual ~TEditRule() = default;
    virtual bool IsValid(const TAString& text) const = 0;
};

// Text whose length lies in [minLength, maxLength]; a maximum of -1 means no limit.
class TLengthRule final : public TEditRule {
public:
    TLengthRule(int16_t minLength, int16_t maxLength) : min_(minLength), max_(maxLength) {}
    bool IsValid(const TAString& text) const override
    {
        return min_ <= text.Length() && (max_ < 0 || text.Length() <= max_);
    }

private:
    int16_t min_;
    int16_t max_;
};

// An identification text as it goes on the bus: printable ASCII (0x20 to 0x7E) but "*",
// which ends each identification field, with minLength to maxLength characters. Longer
// text is refused, never cut.
class TIdTextRule final : public TEditRule {
public:
    TIdTextRule(int minLength, int maxLength) : min_(minLength), max_(maxLength) {}
    bool IsValid(const TAString& text) const override { return Refusal(text, min_, max_).IsEmpty(); }
    // Why text cannot be sent, for the user ("contains '*', which ends the field on the
    // bus"); empty when it can.
    static TAString Refusal(const TAString& text, int minLength, int maxLength);

private:
    int min_;
    int max_;
};

// A plain decimal number (see TAString::IsNumber) in [min, max], bounds included.
class TNumberRule final : public TEditRule {
public:
    TNumberRule(double min, double max) : min_(min), max_(max) {}
    bool IsValid(const TAString& text) const override;
    // The decimal value of a text that IsValid accepted.
    static double ValueOf(const TAString& text);

private:
    double min_;
    double max_;
};
