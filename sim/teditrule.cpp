#include "sim/teditrule.h"

#include <cstdlib>

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
