#include "engine/tmultimediatimer.h"

#include "support/trealtimeguard.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <system_error>

#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The timer whose thread is the calling thread, if any: lets Stop tell a self-stop
// (which must not join) from a stop on the owner's thread.
thread_local const TMultimediaTimer* t_currentTimer = nullptr;

constexpr long kNanosPerSecond = 1000000000L;
// Longest wait for work the callback names (a Wake ends it earlier).
constexpr int64_t kMaxWorkWaitMicros = 1000000;

void AddNanos(timespec& t, long nanos)
{
    t.tv_nsec += nanos;
    while (t.tv_nsec >= kNanosPerSecond) {
        t.tv_nsec -= kNanosPerSecond;
        ++t.tv_sec;
    }
}

bool Before(const timespec& a, const timespec& b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

timespec Now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t;
}

}  // namespace

void TMultimediaTimerCallback::WakeTimer() const
{
    if (TMultimediaTimer* timer = timer_.load(std::memory_order_acquire)) timer->Wake();
}

TMultimediaTimer::TMultimediaTimer(TMultimediaTimerCallback* callback, std::mutex& timerLock)
    : callback_(callback), timerLock_(timerLock)
{
}

TMultimediaTimer::~TMultimediaTimer()
{
    Stop();
    magic_.store(0);
}

bool TMultimediaTimer::Start(uint32_t periodMs, uint32_t& error, uint32_t resolutionMs)
{
    error = 0;
    Stop();
    resolution_.store(std::clamp(resolutionMs, MinPeriod, MaxPeriod));
    period_.store(std::clamp(periodMs, MinPeriod, MaxPeriod));
    quit_.store(false);
    stopRequested_.store(false);
    scheduling_.store(scUnknown);
    callback_->timer_.store(this, std::memory_order_release);
    try {
        thread_ = std::thread(&TMultimediaTimer::ThreadLoop, this);
    } catch (const std::system_error&) {
        callback_->timer_.store(nullptr, std::memory_order_release);
        period_.store(0);
        resolution_.store(0);
        error = ErrorNoEvent;
        return false;
    }
    // The thread settles its scheduling before its first period: once Start returns,
    // Scheduling() tells what the run will get.
    scheduling_.wait(scUnknown);
    callback_->OnStart();
    if (++nextId_ == 0) nextId_ = 1;
    timerId_.store(nextId_);
    // The thread asked its callback before it counted as running: ask again.
    Wake();
    return true;
}

void TMultimediaTimer::Stop()
{
    const bool self = t_currentTimer == this;
    bool wasRunning = false;
    {
        std::lock_guard<std::mutex> lock(timerLock_);
        wasRunning = timerId_.exchange(0) != 0;
        quit_.store(true);
        period_.store(0);
        resolution_.store(0);
    }
    Wake();
    // The timer's own thread ends by itself after a self-stop; the owner joins it
    // here or at the next Start.
    if (!self && thread_.joinable()) thread_.join();
    if (!self) callback_->timer_.store(nullptr, std::memory_order_release);
    if (wasRunning) {
        try {
            callback_->OnStop();
        } catch (...) {
        }
        stopRequested_.store(false);
    }
}

void TMultimediaTimer::TimerStep(void* userData)
{
    auto* timer = static_cast<TMultimediaTimer*>(userData);
    if (timer == nullptr || timer->magic_.load() != Magic) return;
    if (timer->stopRequested_.load()) timer->Stop();
    if (timer->stopRequested_.load() || timer->timerId_.load() == 0) return;
    bool goOn = true;
    try {
        goOn = timer->callback_->OnLoop();
    } catch (...) {
        // Nothing may escape the timer's thread; the callback reports its own errors.
    }
    timer->stopRequested_.store(!goOn);
}

const char* TMultimediaTimer::SchedulingText(TScheduling scheduling)
{
    switch (scheduling) {
    case scNormal: return "normal (no permission for real-time scheduling)";
    case scRealTime: return "real-time (SCHED_FIFO 10), memory not locked";
    case scRealTimeLocked: return "real-time (SCHED_FIFO 10), memory locked";
    case scUnknown: break;
    }
    return "not started";
}

std::string TMultimediaTimer::SchedulingText() const
{
    const TScheduling scheduling = scheduling_.load();
    const int error = schedulingErrno_.load();
    // The static texts name the want of permission; any other refusal gives its reason.
    if (scheduling == scNormal && error != 0 && error != EPERM)
        return std::string("normal (real-time scheduling refused: ").append(std::strerror(error)).append(")");
    std::string text = SchedulingText(scheduling);
    if (scheduling == scRealTime && error != 0) text.append(": ").append(std::strerror(error));
    return text;
}

void TMultimediaTimer::Wake()
{
    wakeups_.fetch_add(1, std::memory_order_release);
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&wakeups_), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

void TMultimediaTimer::SleepUntil(uint32_t seen, const timespec* deadline)
{
    static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));
    // FUTEX_WAIT_BITSET takes an absolute CLOCK_MONOTONIC deadline; it returns at once
    // when a Wake came since seen was read, so no wake-up is lost.
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&wakeups_), FUTEX_WAIT_BITSET_PRIVATE, seen, deadline, nullptr,
            FUTEX_BITSET_MATCH_ANY);
}

long TMultimediaTimer::WorkNanos() const
{
    if (timerId_.load() == 0 || stopRequested_.load()) return -1;
    const int64_t micros = callback_->MicrosToNextWork();
    if (micros < 0) return -1;
    if (micros == TMultimediaTimerCallback::NoWork) return LONG_MAX;
    return static_cast<long>(std::min<int64_t>(micros, kMaxWorkWaitMicros) * 1000);
}

bool TMultimediaTimer::TakeRealTime()
{
    if (!realTime_) {
        schedulingErrno_.store(0);
        scheduling_.store(scNormal);
        return false;
    }
    // The guard first: a real-time thread never runs unguarded.
    if (const int refused = GuardRealTime(RealTimeCpuLimit); refused != 0) {
        schedulingErrno_.store(refused);
        scheduling_.store(scNormal);
        return false;
    }
    sched_param param{};
    param.sched_priority = RealTimePriority;
    if (const int refused = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param); refused != 0) {
        schedulingErrno_.store(refused);
        scheduling_.store(scNormal);
        return false;
    }
    // Pages touched from now on stay in memory: no page fault delays a frame.
    const bool locked = mlockall(MCL_CURRENT | MCL_FUTURE | MCL_ONFAULT) == 0;
    schedulingErrno_.store(locked ? 0 : errno);
    scheduling_.store(locked ? scRealTimeLocked : scRealTime);
    return locked;
}

void TMultimediaTimer::ThreadLoop()
{
    t_currentTimer = this;
    // Real-time scheduling when asked for and the system permits it; a refusal is no error.
    const bool locked = TakeRealTime();
    // The sleeps end at their deadlines. A futex wait, unlike nanosleep, adds the
    // thread's timer slack (50 us by default), for a real-time thread too on kernels
    // older than autumn 2024 (Debian 12's 6.1 among them). 1 ns is the least there is:
    // 0 restores the default.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    scheduling_.notify_all();

    const long periodNanos = static_cast<long>(period_.load()) * 1000000L;
    timespec grid = Now();
    AddNanos(grid, periodNanos);
    while (!quit_.load()) {
        timespec now = Now();
        // After a long stall (a suspended machine) start afresh instead of bursting.
        timespec late = grid;
        AddNanos(late, periodNanos);
        if (Before(late, now)) {
            grid = now;
            AddNanos(grid, periodNanos);
        }
        // Until the callback's next work when it names it (before or after the next
        // period, or none until a Wake), else until the next period. A Wake (new work)
        // asks the callback again.
        // The callback is asked once, and again after every Wake since: its answer is
        // relative to when it was asked.
        bool ask = true;
        uint32_t askedAt = 0;
        bool none = false;
        timespec target = grid;
        for (;;) {
            if (quit_.load()) break;
            const uint32_t seen = wakeups_.load(std::memory_order_acquire);
            if (seen != askedAt) ask = true;
            now = Now();
            if (ask) {
                ask = false;
                askedAt = seen;
                const long nanos = WorkNanos();
                none = nanos == LONG_MAX;
                target = grid;
                if (nanos >= 0 && !none) {
                    target = now;
                    AddNanos(target, nanos);
                }
            }
            if (!none && !Before(now, target)) break;
            SleepUntil(seen, none ? nullptr : &target);
        }
        if (quit_.load()) break;
        TimerStep(this);
        now = Now();
        while (!Before(now, grid)) AddNanos(grid, periodNanos);
    }
    if (locked) munlockall();
    t_currentTimer = nullptr;
}
