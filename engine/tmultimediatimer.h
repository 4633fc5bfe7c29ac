#pragma once
// A periodic timer that calls its callback on a dedicated thread. The thread sleeps
// to absolute CLOCK_MONOTONIC deadlines (next += period), so periods do not drift.
// When the callback names the time of its next work (a frame due in 0.7 ms, or nothing
// until it is woken), the thread sleeps until then instead of until its next period:
// work waits for the wake-up latency only, not for the period's grid, and an idle
// callback costs no wake-ups. The sleep is a futex wait on an absolute CLOCK_MONOTONIC
// deadline: Wake (new work) and Stop end it at once, so no thread polls.
//
// With SetRealTime(true) before Start, the thread asks for real-time scheduling
// (SCHED_FIFO at RealTimePriority) and locks the process's memory when the system
// permits it (root, CAP_SYS_NICE or an RLIMIT_RTPRIO allowance); otherwise, and by
// default (tests), it runs with normal scheduling. A real-time thread is guarded by
// RLIMIT_RTTIME: a loop that never sleeps is ended by the system after RealTimeCpuLimit
// of CPU without a pause instead of starving the machine. Scheduling() tells which it
// got, SchedulingText() says it in words with the system's reason for a refusal.
//
// Threads: Start, Stop and destruction on the owner's thread; OnLoop, and OnStop of
// a self-stop, on the timer's thread. Stop serialises with a self-stop through the
// TimerLock mutex given at construction.

#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

class TMultimediaTimer;

class TMultimediaTimerCallback {
public:
    virtual ~TMultimediaTimerCallback() = default;
    // Once per period; false asks the timer to stop itself at its next period.
    virtual bool OnLoop() = 0;
    virtual void OnStart() = 0;
    virtual void OnStop() = 0;
    // On the timer's thread, after OnLoop: in how many µs the callback next has work
    // (the timer calls OnLoop then, whether that is before or after its next period);
    // negative: not known, the timer keeps its period; NoWork: nothing until the
    // callback wakes the timer (WakeTimer).
    virtual int64_t MicrosToNextWork() const { return -1; }
    static constexpr int64_t NoWork = INT64_MAX;

protected:
    // From any thread: work has appeared that MicrosToNextWork did not name; the timer
    // thread wakes and asks again. Nothing while no timer runs the callback.
    void WakeTimer() const;

private:
    friend class TMultimediaTimer;
    std::atomic<TMultimediaTimer*> timer_{nullptr};
};

class TMultimediaTimer {
public:
    static constexpr uint32_t Magic = 0xF5F5F5F5u;
    // Error code of Start when the timer thread cannot be created.
    static constexpr uint32_t ErrorNoEvent = 97;
    // The range the system timer offers, in ms.
    static constexpr uint32_t MinPeriod = 1;
    static constexpr uint32_t MaxPeriod = 1000000;
    // SCHED_FIFO priority asked for: above ordinary threads, below the kernel's own.
    static constexpr int RealTimePriority = 10;
    // RLIMIT_RTTIME set for a real-time timer (µs of CPU without blocking): the soft
    // limit sends SIGXCPU, the hard one (twice as much) ends the process.
    static constexpr long RealTimeCpuLimit = 200000;

    enum TScheduling {
        scUnknown,          // the thread has not started yet
        scNormal,           // no permission for real-time scheduling
        scRealTime,         // SCHED_FIFO, memory not locked
        scRealTimeLocked,   // SCHED_FIFO and the process's memory locked
    };

    TMultimediaTimer(TMultimediaTimerCallback* callback, std::mutex& timerLock);
    ~TMultimediaTimer();
    TMultimediaTimer(const TMultimediaTimer&) = delete;
    TMultimediaTimer& operator=(const TMultimediaTimer&) = delete;

    // Stops a running timer first; period and resolution are clamped to
    // [MinPeriod, MaxPeriod]. On success Scheduling() is known, OnStart has been
    // called and the result is true; otherwise
    // returns false with the reason in error (0 on success).
    bool Start(uint32_t periodMs, uint32_t& error, uint32_t resolutionMs);
    // Whether the next Start asks for real-time scheduling (default false: tests and
    // tools run with normal scheduling unless they ask).
    void SetRealTime(bool realTime) { realTime_ = realTime; }
    // From any thread: ends the timer thread's sleep so it asks its callback again.
    void Wake();
    // Stops the thread (joined, unless called from the timer's own thread), calls
    // OnStop if the timer was running. Never throws.
    void Stop();

    bool Running() const { return timerId_.load() != 0; }
    uint32_t Period() const { return period_.load(); }
    uint32_t Resolution() const { return resolution_.load(); }
    TScheduling Scheduling() const { return scheduling_.load(); }
    // "real-time (SCHED_FIFO 10), memory locked", "normal (no permission for real-time)"
    static const char* SchedulingText(TScheduling scheduling);
    // The same for this timer, with the system's reason when real-time scheduling or
    // the memory lock was refused other than for want of permission:
    // "real-time (SCHED_FIFO 10), memory not locked: Cannot allocate memory".
    std::string SchedulingText() const;

    // One timer period for the object behind userData: nothing when it is null or
    // its magic is wrong; a pending self-stop is carried out; otherwise OnLoop runs.
    static void TimerStep(void* userData);

private:
    void ThreadLoop();
    // The callback's next work in ns from now, -1 (keep the period) or LONG_MAX (none).
    long WorkNanos() const;
    // Sleeps until deadline (CLOCK_MONOTONIC) or a Wake after wakeups_ read seen,
    // whichever comes first; deadline null: until a Wake.
    void SleepUntil(uint32_t seen, const timespec* deadline);
    bool TakeRealTime();

    TMultimediaTimerCallback* callback_;
    std::mutex& timerLock_;
    std::atomic<uint32_t> period_{0};
    std::atomic<uint32_t> resolution_{0};
    std::atomic<uint32_t> timerId_{0};
    std::atomic<bool> stopRequested_{false};   // OnLoop returned false
    std::atomic<bool> quit_{false};            // the thread must end
    std::atomic<uint32_t> magic_{Magic};
    std::atomic<TScheduling> scheduling_{scUnknown};
    std::atomic<int> schedulingErrno_{0};   // why the last refusal (0: none)
    // Futex word: Wake and Stop bump it; the thread sleeps while it is unchanged.
    std::atomic<uint32_t> wakeups_{0};
    bool realTime_ = false;
    uint32_t nextId_ = 0;
    std::thread thread_;
};
