#include "logs/tlogloadtask.h"

#include <algorithm>

TLogLoadTask::TLogLoadTask(TReader reader)
{
    SetReader(std::move(reader));
}

TLogLoadTask::~TLogLoadTask()
{
    Cancel();
    if (worker_.joinable()) worker_.join();
}

void TLogLoadTask::SetReader(TReader reader)
{
    if (reader)
        reader_ = std::move(reader);
    else
        reader_ = [](const TAString& name, const TCanLogReader::TControl& control) {
            return TCanLogReader::Load(name, control);
        };
}

void TLogLoadTask::Start(const TAString& fileName)
{
    if (worker_.joinable()) {
        Cancel();
        (void)Take();
    }
    cancel_.store(0);
    finished_.store(false);
    done_.store(0);
    size_.store(0);
    result_ = TResult();
    result_.FileName = fileName;
    worker_ = std::thread([this, fileName, reader = reader_] {
        TCanLogReader::TControl control;
        control.Cancel = &cancel_;
        control.Progress = [this](uint64_t done, uint64_t size) {
            size_.store(size, std::memory_order_relaxed);
            done_.store(done, std::memory_order_relaxed);
        };
        try {
            result_.Log = reader(fileName, control);
        } catch (const TBaseError& e) {
            result_.Error = e;
        } catch (const std::exception& e) {
            result_.Error = TBaseError("", "Logfile Read Error", fileName + ": " + e.what());
        }
        finished_.store(true, std::memory_order_release);
    });
}

void TLogLoadTask::Cancel()
{
    cancel_.store(1);
}

double TLogLoadTask::Progress() const
{
    const uint64_t size = size_.load(std::memory_order_relaxed);
    const uint64_t done = done_.load(std::memory_order_relaxed);
    if (size == 0) return Finished() ? 1.0 : 0.0;
    return std::min(1.0, static_cast<double>(done) / static_cast<double>(size));
}

TLogLoadTask::TResult TLogLoadTask::Take()
{
    if (worker_.joinable()) worker_.join();
    TResult result = std::move(result_);
    result_ = TResult();
    // A load asked to stop has no result, whatever the reader did meanwhile.
    if (cancel_.load()) {
        result.Cancelled = true;
        result.Log.reset();
        result.Error.reset();
    }
    return result;
}
