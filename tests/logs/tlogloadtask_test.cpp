#include "logs/tlogloadtask.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

// A reader that reports half of the file read and then waits until the load is
// cancelled or the test lets it finish.
struct TGate {
    std::atomic<bool> entered{false};
    std::atomic<bool> release{false};

    TLogLoadTask::TReader Reader()
    {
        return [this](const TAString& name, const TCanLogReader::TControl& control) {
            control.Progress(50, 100);
            entered = true;
            while (!release && !control.Cancel->load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (!release) throw TBaseError("", "Logfile Read Error", name + ": loading stopped before the end of the file");
            return TCanLogReader::Parse("000.0000 18FEF100F315000CFFFFFFFF\n", name);
        };
    }
    void WaitEntered() const
    {
        while (!entered) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
};

TEST(TLogLoadTask, CancelledLoadEndsWithoutLogOrError)
{
    TGate gate;
    TLogLoadTask task(gate.Reader());
    EXPECT_FALSE(task.Busy());
    task.Start("big.asc");
    gate.WaitEntered();
    EXPECT_TRUE(task.Busy());
    EXPECT_FALSE(task.Finished());
    EXPECT_DOUBLE_EQ(task.Progress(), 0.5);
    task.Cancel();
    const TLogLoadTask::TResult result = task.Take();
    EXPECT_TRUE(result.Cancelled);
    EXPECT_FALSE(result.Log);
    EXPECT_FALSE(result.Error);
    EXPECT_EQ(result.FileName, "big.asc");
    EXPECT_FALSE(task.Busy());
}

TEST(TLogLoadTask, FinishedLoadGivesTheLogOrTheReadersError)
{
    TGate gate;
    TLogLoadTask task(gate.Reader());
    task.Start("good.asc");
    gate.WaitEntered();
    gate.release = true;
    TLogLoadTask::TResult result = task.Take();
    ASSERT_TRUE(result.Log);
    EXPECT_EQ(result.Log->Count(), 1);
    EXPECT_FALSE(result.Error);
    EXPECT_FALSE(result.Cancelled);

    task.SetReader([](const TAString& name, const TCanLogReader::TControl&) -> TCanLog {
        throw TBaseError("", "Logfile Read Error", name + " line 3: why");
    });
    task.Start("bad.asc");
    result = task.Take();
    EXPECT_FALSE(result.Log);
    ASSERT_TRUE(result.Error);
    EXPECT_EQ(result.Error->Detail(), "bad.asc line 3: why");
    EXPECT_FALSE(result.Cancelled);
}

TEST(TLogLoadTask, NewLoadCancelsTheOneRunningAndDestructionWaitsForTheWorker)
{
    TGate gate;
    {
        TLogLoadTask task(gate.Reader());
        task.Start("first.asc");
        gate.WaitEntered();
        task.SetReader([](const TAString& name, const TCanLogReader::TControl&) {
            return TCanLogReader::Parse("", name);
        });
        task.Start("second.asc");   // returns only once the first load has ended
        const TLogLoadTask::TResult result = task.Take();
        EXPECT_EQ(result.FileName, "second.asc");
        EXPECT_TRUE(result.Log);

        gate.entered = false;
        task.SetReader(gate.Reader());
        task.Start("third.asc");
        gate.WaitEntered();
    }   // the destructor cancels the gated load and joins its thread
    EXPECT_FALSE(gate.release);
}

TEST(TLogLoadTask, ReadsTheFileWithTheProgramsReaderByDefault)
{
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("qv_loadtask_" + std::to_string(::getpid()) + ".log");
    std::ofstream(path) << "(1.0) can0 18FEF100#F315000CFFFFFFFF\n";
    TLogLoadTask task;
    task.Start(TAString(path.string()));
    const TLogLoadTask::TResult result = task.Take();
    std::filesystem::remove(path);
    ASSERT_TRUE(result.Log);
    EXPECT_EQ(result.Log->Kind, lkCandump);
    EXPECT_EQ(result.Log->Count(), 1);
    EXPECT_DOUBLE_EQ(task.Progress(), 1.0);
}

}  // namespace
