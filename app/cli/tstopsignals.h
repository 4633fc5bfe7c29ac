#pragma once
// The signals that stop a run of quorvella-cli: SIGINT, SIGTERM, SIGHUP and SIGPIPE.
//
// They are blocked in every thread and taken by one thread of their own with sigwait,
// which stores the first one's number in Stop() for the run loop to see. No other
// thread is ever interrupted by them. Only the thread that made this object (the run
// loop's) is woken by a wake signal (SIGUSR2, handled without SA_RESTART), so a write
// it is blocked in (a standard output or a FIFO whose reader stalls) returns EINTR and
// the run can end.
//
// A SIGPIPE raised by a write of this process stays pending on the writing thread: the
// write returns EPIPE, which the writer reports. A SIGPIPE sent by another process
// stops the run like the others.

#include <atomic>
#include <csignal>
#include <thread>

#include <pthread.h>

class TStopSignals {
public:
    static constexpr int WakeSignal = SIGUSR2;

    // Call before any other thread exists: threads made later inherit the blocked set.
    TStopSignals();
    // Stops and joins the waiting thread; the signals stay blocked.
    ~TStopSignals();
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

    // 0 while no stop signal came, else the first one's number.
    const std::atomic<int>& Stop() const { return stop_; }

private:
    void Wait();

    std::atomic<int> stop_{0};
    std::atomic<bool> ending_{false};
    pthread_t owner_;
    std::thread waiter_;
};
