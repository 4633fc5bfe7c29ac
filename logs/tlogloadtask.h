#pragma once
// Loads a user log on a thread of its own, so that the window stays responsive while a
// large file is read; the window looks at Progress and Finished from its timer and
// takes the result on its own thread (TRunEngine::SetUserLog).
//
// Threads: Start, Cancel, Take and the destructor run on the owner's thread; the
// worker only runs the reader. The worker writes the result before it sets finished_
// (release); the owner reads it after seeing finished_ (acquire) and after joining the
// worker, so no lock is needed. The destructor cancels a load still running and waits
// for it: the worker never outlives the task.

#include "logs/tcanlog.h"
#include "logs/tcanlogreader.h"
#include "support/tbaseerror.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <thread>

class TLogLoadTask {
public:
    // Reads the file; it must return soon after control.Cancel becomes true (by
    // throwing or returning) and may call control.Progress.
    using TReader = std::function<TCanLog(const TAString& fileName, const TCanLogReader::TControl& control)>;

    struct TResult {
        TAString FileName;
        std::optional<TCanLog> Log;       // the log, when it was read
        std::optional<TBaseError> Error;  // why not, unless the load was cancelled
        bool Cancelled = false;
    };

    // The reader: TCanLogReader::Load unless a test gives another.
    explicit TLogLoadTask(TReader reader = {});
    ~TLogLoadTask();
    TLogLoadTask(const TLogLoadTask&) = delete;
    TLogLoadTask& operator=(const TLogLoadTask&) = delete;

    void SetReader(TReader reader);

    // Starts loading fileName; a load still running is cancelled and its result dropped.
    void Start(const TAString& fileName);
    // Asks the load to stop; it ends soon and its result says Cancelled.
    void Cancel();
    // A load was started and its result is not taken yet.
    bool Busy() const { return worker_.joinable(); }
    // The load has ended: Take returns at once.
    bool Finished() const { return finished_.load(std::memory_order_acquire); }
    // The part of the file read so far, 0 to 1.
    double Progress() const;
    // The result of the load started last (waits for it to end); afterwards not Busy.
    TResult Take();

private:
    TReader reader_;
    std::thread worker_;
    std::atomic<int> cancel_{0};
    std::atomic<bool> finished_{false};
    std::atomic<uint64_t> done_{0};
    std::atomic<uint64_t> size_{0};
    TResult result_;
};
