#pragma once
// The date and time the Time/Date group sends, running with the run: set from the
// cockpit's seconds, minutes, hours, day, month and year, then advanced by the run's
// time with every carry (59.75 s + 0.25 s is the next minute; 23:59:59.75 on 31 December
// 2009 + 0.25 s is 00:00:00 on 1 January 2010; February has 29 days in leap years of the
// Gregorian calendar).

#include <array>
#include <cstdint>

class TDateClock {
public:
    // Seconds, minutes, hours, day, month, year, the order of Values().
    using TValues = std::array<double, 6>;

    // A clock that starts at values. Fractions of minutes, hours, months and years are
    // dropped; the day keeps its quarter days (the signal's 0.25-day steps) until it turns.
    explicit TDateClock(const TValues& values);

    // Moves on by seconds (not negative), in whole microseconds.
    void Advance(double seconds);

    // The clock as the signals carry it: seconds down to the quarter second below, the
    // others whole (the day with its quarters until it first turns).
    TValues Values() const;

    static bool IsLeapYear(int year);
    static int DaysInMonth(int month, int year);

private:
    void NextDay();

    int64_t micros_ = 0;   // within the minute
    int minute_ = 0;
    int hour_ = 0;
    int day_ = 1;
    double dayQuarters_ = 0.0;
    int month_ = 1;
    int year_ = 1985;
};
