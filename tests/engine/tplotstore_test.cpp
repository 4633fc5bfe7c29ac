#include "engine/tplotstore.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

// Only plotted signals keep their values; units group them in the order first picked.
TEST(TPlotStore, KeepsThePlottedSignalsOnlyGroupedByUnitInTheOrderPicked)
{
    TPlotStore store(100);
    EXPECT_TRUE(store.Add(12, "Engine speed", "rpm"));
    EXPECT_TRUE(store.Add(3, "Wheel based speed", "km/h"));
    EXPECT_TRUE(store.Add(40, "Engine speed limit", "rpm"));
    EXPECT_FALSE(store.Add(3, "Wheel based speed", "km/h"));

    EXPECT_TRUE(store.Append(12, 0, 800));
    EXPECT_TRUE(store.Append(5, 0, 1));   // not plotted: ignored
    EXPECT_TRUE(store.Append(3, 20000, 50.5));
    EXPECT_TRUE(store.Append(40, 20000, 2500));
    EXPECT_FALSE(store.Append(12, -1, 900));   // earlier than its latest point

    EXPECT_EQ(store.Units(), (std::vector<TAString>{"rpm", "km/h"}));
    const auto rpm = store.SignalsOf("rpm");
    ASSERT_EQ(rpm.size(), 2u);
    EXPECT_EQ(rpm[0]->Index, 12);
    EXPECT_EQ(rpm[1]->Index, 40);
    EXPECT_EQ(store.Find(5), nullptr);
    EXPECT_EQ(store.Find(12)->Series.Size(), 1u);
    EXPECT_EQ(store.OutOfOrder(), 1u);
    EXPECT_EQ(store.EarliestTime(), 0);
    EXPECT_EQ(store.LatestTime(), 20000);

    // Removing one keeps the others reachable by their index.
    EXPECT_TRUE(store.Remove(12));
    EXPECT_FALSE(store.Remove(12));
    EXPECT_EQ(store.Find(40)->Series.Back().Value, 2500);
    EXPECT_EQ(store.Find(3)->Series.Back().Value, 50.5);
    EXPECT_TRUE(store.Append(40, 40000, 2600));
    EXPECT_EQ(store.Find(40)->Series.Size(), 2u);

    // A new run empties the series and keeps the signals.
    store.ClearSeries();
    EXPECT_EQ(store.Signals().size(), 2u);
    EXPECT_TRUE(store.Find(40)->Series.Empty());
    EXPECT_EQ(store.LatestTime(), 0);
}

// The CSV holds every point in [from, to] once, in time order, one column per signal.
TEST(TPlotStore, CsvHoldsEveryPointOfTheRangeOnceInTimeOrder)
{
    TPlotStore store(100);
    store.Add(1, "Engine speed", "rpm");
    store.Add(0, "Wheel based speed", "km/h");
    store.Add(7, "Door, front", "");   // a name with a comma, no unit
    // Engine speed every 20 ms, the wheel speed every 50 ms (not available at 50 ms),
    // the door state twice at 40 ms.
    store.Append(1, 0, 800);
    store.Append(1, 20000, 812.125);
    store.Append(1, 40000, 830);
    store.Append(1, 60000, 845.5);
    store.Append(0, 0, 0);
    store.Append(0, 50000, std::nan(""), 'n');
    store.Append(0, 100000, 1.25);
    store.Append(7, 40000, 0);
    store.Append(7, 40000, 1);

    const struct {
        int64_t From, To;
        const char* Csv;
    } cases[] = {
        {0, INT64_MAX,
         "time [s],Engine speed [rpm],Wheel based speed [km/h],\"Door, front\"\r\n"
         "0.000000,800,0,\r\n"
         "0.020000,812.125,,\r\n"
         "0.040000,830,,0\r\n"
         "0.040000,,,1\r\n"
         "0.050000,,n,\r\n"
         "0.060000,845.5,,\r\n"
         "0.100000,,1.25,\r\n"},
        {20000, 50000,
         "time [s],Engine speed [rpm],Wheel based speed [km/h],\"Door, front\"\r\n"
         "0.020000,812.125,,\r\n"
         "0.040000,830,,0\r\n"
         "0.040000,,,1\r\n"
         "0.050000,,n,\r\n"},
        {60001, 99999, "time [s],Engine speed [rpm],Wheel based speed [km/h],\"Door, front\"\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.From << ".." << c.To);
        EXPECT_EQ(store.Csv(c.From, c.To), c.Csv);
    }
}

// A value reads back from its CSV text as the same double, and long runs keep their µs.
TEST(TPlotStore, CsvValuesReadBackExactlyAndTimesKeepTheirMicroseconds)
{
    TPlotStore store(10);
    store.Add(0, "Fuel \"rate\"", "L/h");
    store.Append(0, 3599999999, 0.1 + 0.2);
    store.Append(0, 3600000001, 1e-7);
    const std::string csv = store.Csv(0, INT64_MAX);
    EXPECT_EQ(csv, "time [s],\"Fuel \"\"rate\"\" [L/h]\"\r\n"
                   "3599.999999,0.30000000000000004\r\n"
                   "3600.000001,1e-07\r\n");
}
