#include "support/Communication/tathread.h"

#include <exception>
#include <thread>

namespace {

std::mutex reporterMutex;
TAThread::TReporter& Reporter()
{
    static TAThread::TReporter reporter;
    return reporter;
}

} // namespace

TAThread::TAThread(TRole role, TStep step, std::optional<std::chrono::milliseconds> idlePause)
    : step_(std::move(step)), idlePause_(idlePause), role_(role)
{
}

TAThread::~TAThread()
{
    Join();
}

void TAThread::SetReporter(TReporter reporter)
{
    std::lock_guard guard(reporterMutex);
    Reporter() = std::move(reporter);
}

void TAThread::Start(const TLauncher& launcher)
{
    if (join_)
        return;
    if (launcher) {
        join_ = launcher([this] { Run(); });
        return;
    }
    auto thread = std::make_shared<std::thread>([this] { Run(); });
    join_ = [thread] { thread->join(); };
}

void TAThread::Wake()
{
    {
        std::lock_guard guard(mutex_);
        // A wake still pending has been notified already: the thread looks at woken_
        // before it sleeps, so a burst of writes costs one notification.
        if (woken_)
            return;
        woken_ = true;
    }
    wakeUp_.notify_all();
}

void TAThread::RequestStop()
{
    {
        std::lock_guard guard(mutex_);
        stop_ = true;
        int running = role_.load();
        if (running >= 0)
            role_.compare_exchange_strong(running, StopRequested);
    }
    wakeUp_.notify_all();
}

void TAThread::Join()
{
    RequestStop();
    if (join_) {
        join_();
        join_ = nullptr;
    }
}

bool TAThread::Pause(std::chrono::milliseconds time)
{
    std::unique_lock lock(mutex_);
    return !wakeUp_.wait_for(lock, time, [this] { return stop_.load(); });
}

std::optional<TBaseError> TAThread::Error() const
{
    std::lock_guard guard(mutex_);
    return error_;
}

void TAThread::Report(const TAString& text, const TBaseError& error)
{
    std::lock_guard guard(reporterMutex);
    if (Reporter())
        Reporter()(ReportCaption, text, error);
}

void TAThread::Fail(const TBaseError& error, const TAString& text)
{
    {
        std::lock_guard guard(mutex_);
        error_ = error;
    }
    Report(text, error);
}

void TAThread::Run()
{
    try {
        while (!stop_) {
            if (step_())
                continue;
            std::unique_lock lock(mutex_);
            const auto ready = [this] { return woken_ || stop_.load(); };
            if (idlePause_)
                wakeUp_.wait_for(lock, *idlePause_, ready);
            else
                wakeUp_.wait(lock, ready);
            woken_ = false;
        }
    } catch (const TBaseError& error) {
        Fail(error, TAString("TAThread::Execute->") + error.Operation() + " " + error.Message());
    } catch (const std::exception& error) {
        Fail(TBaseError("TAThread::Execute", "unknown Error", error.what()), "TAThread::Execute unknown error");
    } catch (...) {
        Fail(TBaseError("TAThread::Execute", "unknown Error"), "TAThread::Execute unknown error");
    }
    role_ = Finished;
}
