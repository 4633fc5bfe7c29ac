#include "can/tbittiming.h"

#include "support/tbaseerror.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace BitTiming {
namespace {

struct StandardRate {
    int rate;
    TBitTiming timing;
};

constexpr StandardRate kStandard[] = {
    {10000, {16, 8, 4, 3}},  {20000, {16, 8, 4, 3}},  {50000, {11, 8, 4, 3}}, {100000, {11, 8, 4, 3}},
    {125000, {8, 7, 2, 1}},  {250000, {8, 7, 2, 1}},  {500000, {8, 7, 1, 1}}, {1000000, {4, 3, 1, 1}},
};

bool IsWhole(double v) { return std::floor(v) == v; }

}  // namespace

std::optional<TBitTiming> Propose(int rate)
{
    if (rate == 0) return std::nullopt;
    for (const StandardRate& s : kStandard)
        if (s.rate == rate) return s.timing;

    TBitTiming t;
    for (int n = 3; n <= 25; ++n) {
        const double p = ClockHz / (2.0 * rate * n);
        if (!IsWhole(p) || p < 1 || p > 64) continue;
        t.Tseg1 = static_cast<int>(0.65 * n);
        t.Tseg2 = n - t.Tseg1 - 1;
        t.Sjw = std::clamp(n * 10 / 51, 1, 4);
        if (n >= 16) break;
    }
    t.Sam = rate < 100000 ? 3 : 1;
    return t;
}

double Presc(int rate, int tseg1, int tseg2)
{
    const double divisor = static_cast<double>(rate) * 2.0 * (tseg1 + tseg2 + 1);
    return divisor == 0 ? 0.0 : ClockHz / divisor;
}

TAString PrescText(double presc)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%g", presc);
    return TAString(buf);
}

bool Tseg1Ok(int v) { return 1 <= v && v <= 16; }
bool Tseg2Ok(int v) { return 1 <= v && v <= 8; }
bool SjwOk(int v) { return 1 <= v && v <= 4; }
bool SamOk(int v) { return v == 1 || v == 3; }
bool PrescOk(double presc) { return 1 <= presc && presc <= 64 && IsWhole(presc); }

int FieldInt(const TAString& text)
{
    try {
        return static_cast<int>(text.AsNum(2147483647.0, -2147483648.0, TAString::nmDec, 0));
    } catch (const TBaseError&) {
        return 0;   // "x..." or a number beyond 32 bits
    }
}

std::optional<TAString> CheckNumbersOnOk(const TAString& rateText, const TAString& sjwText, const TAString& tseg1Text,
                                         const TAString& tseg2Text, const TAString& samText)
{
    const std::pair<const char*, const TAString*> fields[] = {
        {"Baudrate", &rateText}, {"sjw", &sjwText}, {"tseg1", &tseg1Text}, {"tseg2", &tseg2Text}, {"sam", &samText}};
    for (const auto& [name, text] : fields) {
        const std::string& s = text->str();
        if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos)
            return TAString(name) + " is not a number";
    }
    return std::nullopt;
}

std::optional<TAString> CheckOnOk(const TAString& rateText, const TAString& tseg1Text, const TAString& tseg2Text,
                                  const TAString& prescText)
{
    const int tseg1 = FieldInt(tseg1Text);
    if (!Tseg1Ok(tseg1)) return TAString("tseg1 is not between 1 and 16");
    const int tseg2 = FieldInt(tseg2Text);
    if (!Tseg2Ok(tseg2)) return TAString("tseg2 is not between 1 and 8");
    const double presc = std::trunc(std::strtod(prescText.c_str(), nullptr));
    const double rate = std::strtod(rateText.c_str(), nullptr);
    const double divisor = presc * 2.0 * (tseg1 + tseg2 + 1);
    // A presc of 0 gives no bit rate at all, which is never consistent.
    if (divisor == 0 || std::fabs(ClockHz / divisor - rate) >= 1)
        return TAString("Chip param not consistent with baudrate");
    return std::nullopt;
}

}  // namespace BitTiming
