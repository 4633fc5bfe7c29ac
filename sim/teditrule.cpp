#include "sim/teditrule.h"

#include <cstdio>
#include <cstdlib>
#include <string>

bool TNumberRule::IsValid(const TAString& text) const
{
    if (!text.IsNumber()) return false;
    const double value = ValueOf(text);
    return min_ <= value && value <= max_;
}

double TNumberRule::ValueOf(const TAString& text)
{
    return std::strtod(text.c_str(), nullptr);
}

TAString TIdTextRule::Refusal(const TAString& text, int minLength, int maxLength)
{
    for (int i = 0; i < text.Length(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '*') return "contains '*', which ends the field on the bus";
        if (c < 0x20 || c > 0x7E) {
            char byte[8];
            std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned>(c));
            return "contains a character that is not printable ASCII (byte " + TAString(byte) + " at position " +
                   TAString(std::to_string(i + 1)) + ")";
        }
    }
    if (text.Length() > maxLength)
        return "is " + TAString(std::to_string(text.Length())) + " characters long; the field takes at most " +
               TAString(std::to_string(maxLength));
    if (text.Length() < minLength)
        return "is " + TAString(std::to_string(text.Length())) + " characters long; the field needs at least " +
               TAString(std::to_string(minLength));
    return {};
}
