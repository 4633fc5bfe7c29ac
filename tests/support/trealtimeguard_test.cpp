#include "support/trealtimeguard.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace {

// The guard from the limits a process starts with: set in a child, so that this process
// keeps its own (a lowered hard limit cannot be raised again without privilege).
TEST(TRealTimeGuard, LowersTheLimitToTheGuardAndNeverRaisesIt)
{
    constexpr rlim_t Inf = RLIM_INFINITY;
    struct TRow {
        const char* name;
        rlimit before;
        rlimit after;
    };
    const TRow rows[] = {
        {"unlimited", {Inf, Inf}, {200000, 400000}},
        {"a looser soft limit", {1000000, Inf}, {200000, 400000}},
        {"a stricter soft limit stays", {50000, Inf}, {50000, 400000}},
        {"a stricter hard limit stays", {150000, 300000}, {150000, 300000}},
        {"a hard limit between the two: the soft one comes down to the guard", {250000, 300000}, {200000, 300000}},
        {"both stricter stay", {20000, 30000}, {20000, 30000}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        int pipeEnds[2];
        ASSERT_EQ(pipe(pipeEnds), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(pipeEnds[0]);
            rlimit got{};
            int result = setrlimit(RLIMIT_RTTIME, &row.before) == 0 ? GuardRealTime(200000) : -1;
            getrlimit(RLIMIT_RTTIME, &got);
            const long values[3] = {result, static_cast<long>(got.rlim_cur), static_cast<long>(got.rlim_max)};
            const bool written = write(pipeEnds[1], values, sizeof values) == static_cast<ssize_t>(sizeof values);
            _exit(written ? 0 : 1);
        }
        close(pipeEnds[1]);
        long values[3] = {-2, 0, 0};
        const ssize_t got = read(pipeEnds[0], values, sizeof values);
        close(pipeEnds[0]);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_EQ(got, static_cast<ssize_t>(sizeof values));
        EXPECT_EQ(values[0], 0);
        EXPECT_EQ(values[1], static_cast<long>(row.after.rlim_cur));
        EXPECT_EQ(values[2], static_cast<long>(row.after.rlim_max));
    }
}

}  // namespace
