// TRunStatus: the main window's status line.
#include "engine/trunstatus.h"

#include <gtest/gtest.h>

namespace {

TEST(TRunStatus, ElapsedIsHoursMinutesAndWholeSeconds)
{
    const struct {
        int64_t micros;
        const char* text;
    } cases[] = {
        {0, "0:00:00"},          {999999, "0:00:00"},       {83900000, "0:01:23"},
        {3599999999, "0:59:59"}, {3723000000, "1:02:03"},   {90061000000, "25:01:01"},
        {-5, "0:00:00"},
    };
    for (const auto& c : cases) EXPECT_EQ(TRunStatus::Elapsed(c.micros), c.text) << c.micros;
}

TEST(TRunStatus, RunAndSentSayStateTimeAndFrames)
{
    TRunStatusFacts f;
    EXPECT_EQ(TRunStatus::Text(f).Run, "Ready");
    EXPECT_EQ(TRunStatus::Text(f).Sent, "0 frames (CAN-Adapter off)");
    f.Running = true;
    f.Started = true;
    f.SendCan = true;
    f.SimTimeMicros = 83900000;
    f.FramesSent = 4151;
    EXPECT_EQ(TRunStatus::Text(f).Run, "Running 0:01:23");
    EXPECT_EQ(TRunStatus::Text(f).Sent, "4151 frames");
    f.FramesSent = 1;
    EXPECT_EQ(TRunStatus::Text(f).Sent, "1 frame");
    f.Running = false;
    f.SendCan = false;
    EXPECT_EQ(TRunStatus::Text(f).Run, "Stopped 0:01:23");
    EXPECT_EQ(TRunStatus::Text(f).Sent, "1 frame (CAN-Adapter off)");
}

TEST(TRunStatus, OutputLogIsNamedWithItsFramesOrWhyThereAreNone)
{
    TRunStatusFacts f;
    EXPECT_EQ(TRunStatus::Text(f).Log, "none chosen");
    EXPECT_EQ(TRunStatus::Text(f).Written, "");
    f.LogFileName = "/home/tester/logs/drive.asc";
    f.LogOpen = true;
    f.LogFile = true;
    f.FramesLogged = 4151;
    EXPECT_EQ(TRunStatus::Text(f).Log, "drive.asc");
    EXPECT_EQ(TRunStatus::Text(f).Written, "4151 frames");
    EXPECT_EQ(TRunStatus::Text(f).Problem, "");
    // Three requests of a device logged besides the frames sent.
    f.FramesLogged = 4154;
    f.ReceivedLogged = 3;
    EXPECT_EQ(TRunStatus::Text(f).Written, "4154 frames, 3 received");
    f.FramesLogged = 4151;
    f.ReceivedLogged = 0;
    f.LogFile = false;
    EXPECT_EQ(TRunStatus::Text(f).Written, "4151 frames (Logfile off)");
    f.LogError = "No space left on device";
    EXPECT_EQ(TRunStatus::Text(f).Written, "4151 frames (write failed)");
    EXPECT_EQ(TRunStatus::Text(f).Problem, "No space left on device");
    f.LogOpen = false;
    f.LogFileName = "no/such/dir/out.asc";
    f.LogError = "No such file or directory";
    EXPECT_EQ(TRunStatus::Text(f).Log, "out.asc");
    EXPECT_EQ(TRunStatus::Text(f).Written, "none (cannot open)");
    EXPECT_EQ(TRunStatus::Text(f).Problem, "No such file or directory");
}

TEST(TRunStatus, TimerSaysItsSchedulingOnceStarted)
{
    TRunStatusFacts f;
    EXPECT_EQ(TRunStatus::Text(f).Timer, "not started");
    f.TimerScheduling = "normal (no permission for real-time scheduling)";
    EXPECT_EQ(TRunStatus::Text(f).Timer, "normal (no permission for real-time scheduling)");
}

TEST(TRunStatus, BaseNameDropsTheFolders)
{
    EXPECT_EQ(TRunStatus::BaseName("/home/a/drive.asc"), "drive.asc");
    EXPECT_EQ(TRunStatus::BaseName("drive.asc"), "drive.asc");
    EXPECT_EQ(TRunStatus::BaseName("logs/"), "logs/");
}

}  // namespace

namespace {

// The errors of a run are counted on the problem line, unless the output log's own
// failure stands there.
TEST(TRunStatus, ProblemLineCountsTheRunsErrorsBelowTheOutputLogsFailure)
{
    const struct {
        int errors;
        const char* logError;
        const char* problem;
    } cases[] = {
        {0, "", ""},
        {1, "", "1 error in this run: see the error window"},
        {3, "", "3 errors in this run: see the error window"},
        {3, "No space left on device", "No space left on device"},
    };
    for (const auto& c : cases) {
        TRunStatusFacts f;
        f.Started = true;
        f.LogFileName = "/tmp/a.asc";
        f.LogOpen = true;
        f.LogFile = true;
        f.RunErrors = c.errors;
        f.LogError = c.logError;
        EXPECT_EQ(TRunStatus::Text(f).Problem, c.problem) << c.errors << " " << c.logError;
        f.LogFileName = "";
        if (c.logError[0] == 0) {
            EXPECT_EQ(TRunStatus::Text(f).Problem, c.problem) << "no output log";
        }
    }
}

}  // namespace
