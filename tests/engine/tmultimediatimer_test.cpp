#include "engine/tmultimediatimer.h"

#include <gtest/gtest.h>

#include <sys/prctl.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

class CountingCallback : public TMultimediaTimerCallback {
public:
    bool OnLoop() override { return ++loops < stopAfter; }
    void OnStart() override { ++starts; }
    void OnStop() override { ++stops; }
    std::atomic<int> loops{0};
    std::atomic<int> starts{0};
    std::atomic<int> stops{0};
    int stopAfter = 1 << 30;
};

bool WaitFor(const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST(TMultimediaTimer, RunsPeriodicallyUntilStopped)
{
    CountingCallback cb;
    std::mutex lock;
    TMultimediaTimer timer(&cb, lock);
    uint32_t error = 123;
    ASSERT_TRUE(timer.Start(2, error, 1));
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(cb.starts.load(), 1);
    EXPECT_EQ(timer.Period(), 2u);
    EXPECT_EQ(timer.Resolution(), 1u);
    ASSERT_TRUE(WaitFor([&] { return cb.loops.load() >= 5; }));
    timer.Stop();
    EXPECT_EQ(cb.stops.load(), 1);
    EXPECT_FALSE(timer.Running());
    EXPECT_EQ(timer.Period(), 0u);
    const int after = cb.loops.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(cb.loops.load(), after);
    timer.Stop();   // a second stop does nothing
    EXPECT_EQ(cb.stops.load(), 1);
}

TEST(TMultimediaTimer, StopsItselfAtTheNextPeriodWhenOnLoopSaysSo)
{
    CountingCallback cb;
    cb.stopAfter = 3;
    std::mutex lock;
    TMultimediaTimer timer(&cb, lock);
    uint32_t error = 0;
    ASSERT_TRUE(timer.Start(1, error, 1));
    ASSERT_TRUE(WaitFor([&] { return cb.stops.load() == 1; }));
    EXPECT_EQ(cb.loops.load(), 3);
    EXPECT_FALSE(timer.Running());
    // It can be started again after a self-stop.
    cb.stopAfter = 1 << 30;
    ASSERT_TRUE(timer.Start(1, error, 1));
    ASSERT_TRUE(WaitFor([&] { return cb.loops.load() >= 6; }));
    timer.Stop();
    EXPECT_EQ(cb.stops.load(), 2);
}

TEST(TMultimediaTimer, ClampsPeriodAndResolutionToTheSystemRange)
{
    CountingCallback cb;
    std::mutex lock;
    TMultimediaTimer timer(&cb, lock);
    uint32_t error = 0;
    ASSERT_TRUE(timer.Start(0, error, 0));
    EXPECT_EQ(timer.Period(), TMultimediaTimer::MinPeriod);
    EXPECT_EQ(timer.Resolution(), TMultimediaTimer::MinPeriod);
}

TEST(TMultimediaTimer, StepIgnoresNullUserDataAndAStoppedTimer)
{
    TMultimediaTimer::TimerStep(nullptr);
    CountingCallback cb;
    std::mutex lock;
    TMultimediaTimer timer(&cb, lock);
    TMultimediaTimer::TimerStep(&timer);   // never started: no event id
    EXPECT_EQ(cb.loops.load(), 0);
}

TEST(TMultimediaTimer, DestructionStopsARunningTimer)
{
    CountingCallback cb;
    std::mutex lock;
    {
        TMultimediaTimer timer(&cb, lock);
        uint32_t error = 0;
        ASSERT_TRUE(timer.Start(1, error, 1));
        ASSERT_TRUE(WaitFor([&] { return cb.loops.load() >= 2; }));
    }
    EXPECT_EQ(cb.stops.load(), 1);
    const int after = cb.loops.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(cb.loops.load(), after);
}

}  // namespace

namespace {

// Work in 1 ms, five times over, then none.
class EarlyWorkCallback : public TMultimediaTimerCallback {
public:
    bool OnLoop() override
    {
        ++loops;
        return true;
    }
    void OnStart() override {}
    void OnStop() override {}
    int64_t MicrosToNextWork() const override { return loops.load() <= 5 ? 1000 : -1; }
    std::atomic<int> loops{0};
};

// With a 100 s period the thread runs the callback six times long before its first
// period ends: once for each time the callback said it had work in 1 ms.
TEST(TMultimediaTimer, WakesForWorkTheCallbackHasBeforeTheNextPeriod)
{
    EarlyWorkCallback cb;
    std::mutex lock;
    TMultimediaTimer timer(&cb, lock);
    uint32_t error = 0;
    ASSERT_TRUE(timer.Start(100000, error, 1));
    EXPECT_TRUE(WaitFor([&] { return cb.loops.load() >= 6; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    timer.Stop();
    EXPECT_EQ(cb.loops.load(), 6);
    EXPECT_NE(timer.Scheduling(), TMultimediaTimer::scUnknown);
}

// Whatever the system grants, Start returns with the scheduling settled and told in
// words that name it; the scheduling stays readable after Stop.
TEST(TMultimediaTimer, SchedulingIsKnownWhenStartReturns)
{
    EarlyWorkCallback cb;
    std::mutex lock;
    TMultimediaTimer timer(&cb, lock);
    EXPECT_EQ(timer.Scheduling(), TMultimediaTimer::scUnknown);
    EXPECT_EQ(timer.SchedulingText(), "not started");
    uint32_t error = 0;
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(timer.Start(100000, error, 1));
        const TMultimediaTimer::TScheduling got = timer.Scheduling();
        ASSERT_NE(got, TMultimediaTimer::scUnknown) << round;
        const std::string text = timer.SchedulingText();
        const std::string start = got == TMultimediaTimer::scNormal ? "normal (" : "real-time (SCHED_FIFO 10), memory ";
        EXPECT_EQ(text.substr(0, start.size()), start) << text;
        timer.Stop();
        EXPECT_EQ(timer.Scheduling(), got);
    }
    EXPECT_STREQ(TMultimediaTimer::SchedulingText(TMultimediaTimer::scRealTimeLocked),
                 "real-time (SCHED_FIFO 10), memory locked");
    EXPECT_STREQ(TMultimediaTimer::SchedulingText(TMultimediaTimer::scNormal),
                 "normal (no permission for real-time scheduling)");
}

// A callback with no work sleeps until it is woken: no period, no polling. Work that
// appears is run once the callback wakes the timer; Stop ends the sleep at once.
class IdleCallback : public TMultimediaTimerCallback {
public:
    bool OnLoop() override
    {
        ++loops;
        work.store(false);
        return true;
    }
    void OnStart() override {}
    void OnStop() override {}
    int64_t MicrosToNextWork() const override { return work.load() ? 0 : NoWork; }
    void Post()
    {
        work.store(true);
        WakeTimer();
    }
    std::atomic<int> loops{0};
    std::atomic<bool> work{false};
};

TEST(TMultimediaTimer, AnIdleCallbackRunsOnlyWhenWokenAndTestsRunWithNormalScheduling)
{
    IdleCallback cb;
    std::mutex lock;
    TMultimediaTimer timer(&cb, lock);
    uint32_t error = 0;
    ASSERT_TRUE(timer.Start(1, error, 1));
    // Without SetRealTime(true) the thread never asks for real-time scheduling.
    EXPECT_EQ(timer.Scheduling(), TMultimediaTimer::scNormal);
    for (int k = 1; k <= 3; ++k) {
        cb.Post();
        EXPECT_TRUE(WaitFor([&] { return cb.loops.load() >= k; })) << k;
    }
    // Idle: a 1 ms period would have run it many times over.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(cb.loops.load(), 3);
    timer.Stop();
    EXPECT_FALSE(timer.Running());
}

// The thread's sleeps end at their deadlines, not up to the default 50 us of timer slack
// later, with normal scheduling as in tests (and real-time on kernels that do not
// clear the slack of a real-time thread themselves).
TEST(TMultimediaTimer, SleepsWithoutTimerSlack)
{
    class SlackCallback : public TMultimediaTimerCallback {
    public:
        bool OnLoop() override
        {
            slack.store(prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL));
            return true;
        }
        void OnStart() override {}
        void OnStop() override {}
        std::atomic<long> slack{-1};
    } cb;
    std::mutex lock;
    TMultimediaTimer timer(&cb, lock);
    uint32_t error = 0;
    ASSERT_TRUE(timer.Start(1, error, 1));
    ASSERT_TRUE(WaitFor([&] { return cb.slack.load() >= 0; }));
    timer.Stop();
    EXPECT_LE(cb.slack.load(), 1);
}

}  // namespace
