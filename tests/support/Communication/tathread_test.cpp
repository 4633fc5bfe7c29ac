#include "support/Communication/tathread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

namespace {

template <typename Condition>
bool Within(std::chrono::milliseconds limit, Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class ReporterGuard {
public:
    ~ReporterGuard() { TAThread::SetReporter(nullptr); }
};

TEST(TAThread, IdleStepSleepsUntilWokenNotForItsPause)
{
    std::atomic<int> steps{0};
    TAThread thread(TAThread::Send, [&] { ++steps; return false; }, std::nullopt);
    thread.Start();
    ASSERT_TRUE(Within(1s, [&] { return steps >= 1; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(steps, 1) << "an idle thread without pause must not poll";
    thread.Wake();
    EXPECT_TRUE(Within(1s, [&] { return steps >= 2; }));
    EXPECT_EQ(thread.Role(), TAThread::Send);
}

TEST(TAThread, StopEndsALongPauseAtOnce)
{
    std::atomic<bool> paused{false};
    std::atomic<bool> pauseResult{true};
    TAThread* self = nullptr;
    TAThread thread(TAThread::Send, [&] {
        paused = true;
        pauseResult = self->Pause(60s);
        return false;
    }, std::nullopt);
    self = &thread;
    thread.Start();
    ASSERT_TRUE(Within(1s, [&] { return paused.load(); }));
    const auto started = std::chrono::steady_clock::now();
    thread.Join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    EXPECT_FALSE(pauseResult);
    EXPECT_EQ(thread.Role(), TAThread::Finished);
}

TEST(TAThread, ErrorFromAStepEndsTheThreadAndIsReported)
{
    ReporterGuard guard;
    TAString caption, text;
    TBaseError reportedError;
    std::atomic<bool> reported{false};
    TAThread::SetReporter([&](const TAString& c, const TAString& t, const TBaseError& e) {
        caption = c;
        text = t;
        reportedError = e;
        reported = true;
    });
    std::atomic<int> steps{0};
    TAThread thread(TAThread::Receive, [&]() -> bool {
        ++steps;
        throw TBaseError("TCommRam::Receive", "Fatal-Error", "slot 7");
    }, 1ms);
    thread.Start();
    ASSERT_TRUE(Within(2s, [&] { return thread.Role() == TAThread::Finished; }));
    ASSERT_TRUE(reported);
    EXPECT_EQ(caption, "Meldung des Exception-Handlers");
    EXPECT_EQ(text, "TAThread::Execute->TCommRam::Receive Fatal-Error");
    EXPECT_EQ(reportedError.Detail(), "slot 7");
    ASSERT_TRUE(thread.Error().has_value());
    EXPECT_EQ(thread.Error()->Operation(), "TCommRam::Receive");
    EXPECT_EQ(steps, 1);
}

TEST(TAThread, ForeignExceptionBecomesUnknownError)
{
    ReporterGuard guard;
    TAString text;
    TAString detail;
    TAThread::SetReporter([&](const TAString&, const TAString& t, const TBaseError& e) {
        text = t;
        detail = e.Detail();
    });
    TAThread thread(TAThread::Send, []() -> bool { throw std::runtime_error("x"); }, std::nullopt);
    thread.Start();
    ASSERT_TRUE(Within(2s, [&] { return thread.Role() == TAThread::Finished; }));
    EXPECT_EQ(text, "TAThread::Execute unknown error");
    ASSERT_TRUE(thread.Error().has_value());
    EXPECT_EQ(thread.Error()->Operation(), "TAThread::Execute");
    EXPECT_EQ(thread.Error()->Message(), "unknown Error");
    EXPECT_EQ(detail, "x");   // what the foreign exception said
}

} // namespace
