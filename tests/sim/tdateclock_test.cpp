// The date and time of the Time/Date group as it runs with the run.

#include "sim/tdateclock.h"

#include "sim/tlkw.h"

#include <gtest/gtest.h>


namespace {

using TValues = TDateClock::TValues;   // seconds, minutes, hours, day, month, year

TEST(TDateClock, CarriesThroughMinutesHoursDaysMonthsAndYears)
{
    const struct {
        const char* what;
        TValues from;
        double seconds;
        TValues to;
    } cases[] = {
        {"a quarter second", {0, 20, 12, 9, 11, 2009}, 0.25, {0.25, 20, 12, 9, 11, 2009}},
        {"below a quarter", {0, 20, 12, 9, 11, 2009}, 0.24, {0, 20, 12, 9, 11, 2009}},
        {"135 s", {0, 20, 12, 9, 11, 2009}, 135, {15, 22, 12, 9, 11, 2009}},
        {"to the minute", {59.75, 59, 10, 9, 11, 2009}, 0.25, {0, 0, 11, 9, 11, 2009}},
        {"midnight", {59.75, 59, 23, 9, 11, 2009}, 0.25, {0, 0, 0, 10, 11, 2009}},
        {"end of a 30-day month", {59, 59, 23, 30, 11, 2009}, 1, {0, 0, 0, 1, 12, 2009}},
        {"end of a 31-day month", {59, 59, 23, 31, 1, 2009}, 1, {0, 0, 0, 1, 2, 2009}},
        {"28 February", {59, 59, 23, 28, 2, 2009}, 1, {0, 0, 0, 1, 3, 2009}},
        {"28 February, leap year", {59, 59, 23, 28, 2, 2008}, 1, {0, 0, 0, 29, 2, 2008}},
        {"29 February", {59, 59, 23, 29, 2, 2008}, 1, {0, 0, 0, 1, 3, 2008}},
        {"28 February 2100, no leap year", {59, 59, 23, 28, 2, 2100}, 1, {0, 0, 0, 1, 3, 2100}},
        {"28 February 2000, leap year", {59, 59, 23, 28, 2, 2000}, 1, {0, 0, 0, 29, 2, 2000}},
        {"new year", {59.75, 59, 23, 31, 12, 2009}, 0.25, {0, 0, 0, 1, 1, 2010}},
        {"two days", {30, 0, 6, 31, 12, 2009}, 2 * 86400, {30, 0, 6, 2, 1, 2010}},
        {"a day's quarters go with the day", {0, 0, 23, 9.75, 11, 2009}, 3600, {0, 0, 0, 10, 11, 2009}},
        {"and stay until it turns", {0, 0, 22, 9.75, 11, 2009}, 3600, {0, 0, 23, 9.75, 11, 2009}},
    };
    for (const auto& c : cases) {
        TDateClock clock(c.from);
        clock.Advance(c.seconds);
        EXPECT_EQ(clock.Values(), c.to) << c.what;
    }
}

TEST(TDateClock, SmallStepsAddUpWithoutDrift)
{
    // A day in the engine's 20 ms steps is exactly a day.
    TDateClock clock({0, 0, 0, 31, 12, 2009});
    for (int step = 0; step < 86400 * 50; ++step) clock.Advance(0.02);
    EXPECT_EQ(clock.Values(), (TValues{0, 0, 0, 1, 1, 2010}));
}

// The model with the cockpit's date and time values.
void WithClock(TLkw& lkw, const TValues& start)
{
    const char* names[] = {"Sec", "Min", "Hours", "Day", "Month", "Year"};
    for (int i = 0; i < 6; ++i) lkw.AddMV(names[i], start[static_cast<size_t>(i)]);
}

TValues Read(const TLkw& lkw)
{
    return {lkw.GetMV("Sec"), lkw.GetMV("Min"), lkw.GetMV("Hours"),
            lkw.GetMV("Day"), lkw.GetMV("Month"), lkw.GetMV("Year")};
}

TEST(TLkw, DateAndTimeRunWithTheModelAndStartAnewWhenSet)
{
    TLkw lkw;
    WithClock(lkw, {59, 59, 23, 31, 12, 2009});
    for (int i = 0; i < 50; ++i) lkw.Step(0.02);   // one second
    EXPECT_EQ(Read(lkw), (TValues{0, 0, 0, 1, 1, 2010}));

    // A value set between steps (a cockpit field, --set) is the new starting point; the
    // others run on from where they are.
    lkw.SetMV("Month", 2);
    lkw.SetMV("Day", 28);
    lkw.SetMV("Hours", 23);
    lkw.SetMV("Min", 59);
    lkw.SetMV("Sec", 59.5);
    for (int i = 0; i < 25; ++i) lkw.Step(0.02);
    EXPECT_EQ(Read(lkw), (TValues{0, 0, 0, 1, 3, 2010}));
}

}  // namespace
