#pragma once
// One worker thread of a communication channel: it calls its step again and again.
//
// A step returns true when it wants to be called again at once, false when it has no
// work; then the thread sleeps until Wake() is called, a stop is requested, or the idle
// pause (if any) has passed. Wake() is never lost: a wake that arrives while the step
// runs makes the next idle wait return at once. Steps that wait or retry call Pause(),
// which returns early (false) when a stop has been requested.
//
// An exception escaping a step ends the thread: it is stored (Error()) and handed to the
// process's error reporter, if one is installed; the channel's other thread goes on.
// The reporter is called on the failing thread: a window hands the error over to its own
// thread; a reporter must not wait for a channel's thread.
//
// Role: 1 send, 0 receive, -1 stop requested, -3 finished.

#include "support/tbaseerror.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>

class TAThread {
public:
    enum TRole { Receive = 0, Send = 1, StopRequested = -1, Finished = -3 };
    using TStep = std::function<bool()>;
    // Runs a thread body and returns how to join it. The default starts a std::thread.
    using TJoin = std::function<void()>;
    using TLauncher = std::function<TJoin(std::function<void()> body)>;
    // Receives a message about an error of a channel: its caption ("Meldung des
    // Exception-Handlers"), its text ("TAThread::Execute->TCommHDD::Receive
    // unknown-Fatal-Error") and the error itself, with its detail.
    using TReporter = std::function<void(const TAString& caption, const TAString& text, const TBaseError& error)>;
    static constexpr const char* ReportCaption = "Meldung des Exception-Handlers";

    // idlePause: how long an idle step sleeps at most; none = until woken or stopped.
    TAThread(TRole role, TStep step, std::optional<std::chrono::milliseconds> idlePause);
    ~TAThread();   // requests a stop and joins
    TAThread(const TAThread&) = delete;
    TAThread& operator=(const TAThread&) = delete;

    // Starts the thread (once); launcher null = std::thread.
    void Start(const TLauncher& launcher = nullptr);
    void Wake();
    void RequestStop();
    // Waits for the thread to end; requests the stop first.
    void Join();

    int Role() const { return role_.load(); }
    bool IsStopRequested() const { return stop_.load(); }
    // Sleeps for the given time on this thread; false when a stop was requested.
    bool Pause(std::chrono::milliseconds time);
    // The error that ended the thread, if any.
    std::optional<TBaseError> Error() const;

    // Installs the process's reporter (the window shows the error, the runner prints it);
    // null removes it. Waits for a report under way to finish.
    static void SetReporter(TReporter reporter);
    // Hands a message to the reporter, if one is installed (also used by the channels for
    // losses they cannot avoid).
    static void Report(const TAString& text, const TBaseError& error);

private:
    void Run();
    void Fail(const TBaseError& error, const TAString& text);

    TStep step_;
    std::optional<std::chrono::milliseconds> idlePause_;
    std::atomic<int> role_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::condition_variable wakeUp_;
    bool woken_ = false;
    std::optional<TBaseError> error_;
    TJoin join_;
};
