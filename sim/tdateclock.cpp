#include "sim/tdateclock.h"

#include <cmath>

namespace {

constexpr int64_t MicrosPerMinute = 60'000'000;

// trunc(value) as an int; anything that is no finite number, or beyond an int, counts as 0.
int Whole(double value)
{
    if (!std::isfinite(value) || std::fabs(value) > 1e9) return 0;
    return static_cast<int>(std::trunc(value));
}

}  // namespace

TDateClock::TDateClock(const TValues& values)
{
    const double seconds = std::isfinite(values[0]) && values[0] > 0.0 ? std::fmin(values[0], 1e9) : 0.0;
    micros_ = std::llround(seconds * 1e6);
    minute_ = Whole(values[1]);
    hour_ = Whole(values[2]);
    day_ = Whole(values[3]);
    dayQuarters_ = std::isfinite(values[3]) ? values[3] - std::trunc(values[3]) : 0.0;
    month_ = Whole(values[4]);
    year_ = Whole(values[5]);
}

bool TDateClock::IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int TDateClock::DaysInMonth(int month, int year)
{
    switch (month) {
    case 2: return IsLeapYear(year) ? 29 : 28;
    case 4:
    case 6:
    case 9:
    case 11: return 30;
    default: return 31;
    }
}

void TDateClock::Advance(double seconds)
{
    if (!(seconds > 0.0)) return;
    micros_ += std::llround(std::fmin(seconds, 1e9) * 1e6);
    if (micros_ < MicrosPerMinute) return;
    minute_ += static_cast<int>(micros_ / MicrosPerMinute);
    micros_ %= MicrosPerMinute;
    if (minute_ < 60) return;
    hour_ += minute_ / 60;
    minute_ %= 60;
    while (hour_ >= 24) {
        hour_ -= 24;
        NextDay();
    }
}

void TDateClock::NextDay()
{
    dayQuarters_ = 0.0;
    if (++day_ <= DaysInMonth(month_, year_)) return;
    day_ = 1;
    if (++month_ <= 12) return;
    month_ = 1;
    ++year_;
}

TDateClock::TValues TDateClock::Values() const
{
    const double quarters = std::floor(static_cast<double>(micros_) / 250000.0);
    return {quarters * 0.25, double(minute_), double(hour_), day_ + dayQuarters_, double(month_), double(year_)};
}
