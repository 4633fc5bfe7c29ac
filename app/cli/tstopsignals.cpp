#include "app/cli/tstopsignals.h"

#include <cerrno>
#include <csignal>

namespace {

sigset_t StopSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&set, signal);
    return set;
}

// Only interrupts: the run loop reads the stop request itself.
extern "C" void OnWake(int) {}

}  // namespace

TStopSignals::TStopSignals() : owner_(pthread_self())
{
    struct sigaction wake {};
    wake.sa_handler = OnWake;
    sigemptyset(&wake.sa_mask);
    wake.sa_flags = 0;   // no SA_RESTART: a blocked write returns EINTR
    sigaction(WakeSignal, &wake, nullptr);

    const sigset_t set = StopSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // The waiting thread has every signal blocked, the wake signal too.
    sigset_t all;
    sigfillset(&all);
    sigset_t previous;
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    waiter_ = std::thread([this] { Wait(); });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

TStopSignals::~TStopSignals()
{
    ending_.store(true);
    pthread_kill(waiter_.native_handle(), SIGTERM);
    waiter_.join();
}

void TStopSignals::Wait()
{
    const sigset_t set = StopSet();
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) continue;
        if (ending_.load()) return;
        int none = 0;
        stop_.compare_exchange_strong(none, signal);
        pthread_kill(owner_, WakeSignal);
    }
}
