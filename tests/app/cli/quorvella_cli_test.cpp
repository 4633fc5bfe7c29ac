// The built quorvella-cli in a child process: every stop signal ends the run with a
// finished log, a written report and a status that says the run was cut short.
#include "clirunfixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;

class TQuorvellaCli : public clitest::TCliRunFixture {
protected:
    // Starts quorvella-cli with args; stdout to stdoutFd (a file in the folder when -1),
    // stderr to the file "stderr".
    pid_t Start(const std::vector<std::string>& args, int stdoutFd = -1)
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (stdoutFd >= 0) {
            posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
        } else {
            posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, Path("stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, Path("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char*> argv;
        std::string program = QV_CLI_PATH;
        argv.push_back(program.data());
        std::vector<std::string> copies = args;
        for (std::string& a : copies) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(error, 0);
        return pid;
    }
    // The exit status; -1 for a child killed by a signal, -2 for one that did not end
    // within a minute (then killed: a hang only SIGKILL ends).
    static int Wait(pid_t pid)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                return -2;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // Waits (bounded) until the file holds at least bytes.
    static bool WaitForBytes(const std::string& path, uintmax_t bytes)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        std::error_code ec;
        while (std::chrono::steady_clock::now() < deadline) {
            if (fs::file_size(path, ec) >= bytes && !ec) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
};

TEST_F(TQuorvellaCli, StopSignalsFinishTheLogWriteTheReportAndSayTheRunWasCutShort)
{
    struct TCase {
        int signal;
        const char* name;
        int status;
    };
    const TCase cases[] = {{SIGINT, "SIGINT", 130}, {SIGTERM, "SIGTERM", 143}, {SIGHUP, "SIGHUP", 129}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string log = Path(std::string(c.name) + ".l5");
        const std::string report = Path(std::string(c.name) + ".json");
        const pid_t child = Start({"--duration", "60", "--starter", "--log-out", log, "--report", report});
        // The first chunk of the log has been written: the run is under way.
        ASSERT_TRUE(WaitForBytes(log, 1));
        ::kill(child, c.signal);
        EXPECT_EQ(Wait(child), c.status);

        const std::string err = Read(Path("stderr"));
        EXPECT_NE(err.find(std::string("quorvella-cli: run cut short by ") + c.name + " after "), std::string::npos) << err;
        const int lines = UserLogLines(log);
        EXPECT_GT(lines, 100);
        EXPECT_EQ(fs::file_size(log), uintmax_t(lines) * 35);
        const std::string json = Read(report);
        EXPECT_NE(json.find("\"mode\": \"real-time\""), std::string::npos) << json;
        EXPECT_EQ(json.substr(json.size() - 4), "]\n}\n");
        EXPECT_NE(Read(Path("stdout")).find("PGN"), std::string::npos);
    }
}

// quorvella-cli --monitor ... | head: the reader leaves, the next print raises SIGPIPE.
TEST_F(TQuorvellaCli, ClosedStandardOutputEndsTheRunAsSigpipeWithTheLogWhole)
{
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);   // the child holds the write end only
    const std::string log = Path("piped.l5");
    const pid_t child = Start({"--duration", "60", "--starter", "--monitor", "--log-out", log}, ends[1]);
    ::close(ends[1]);
    ::close(ends[0]);
    EXPECT_EQ(Wait(child), 141);
    const std::string err = Read(Path("stderr"));
    EXPECT_NE(err.find("quorvella-cli: run cut short by SIGPIPE after 1."), std::string::npos) << err;
    const int lines = UserLogLines(log);
    EXPECT_GT(lines, 100);
    EXPECT_EQ(fs::file_size(log), uintmax_t(lines) * 35);
}

// A reader of the log FIFO that goes away costs the log, never the process.
TEST_F(TQuorvellaCli, LogFifoWhoseReaderLeavesIsAReportedFailure)
{
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0644), 0);
    const int reader = ::open(Path("fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    const pid_t child = Start({"--duration", "3", "--starter", "--log-out", Path("fifo")});
    // Some lines arrive, then the reader goes.
    char chunk[4096];
    ssize_t got = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (got <= 0 && std::chrono::steady_clock::now() < deadline) {
        got = ::read(reader, chunk, sizeof chunk);
        if (got <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_GT(got, 0);
    EXPECT_EQ(got % 35, 0);   // whole lines
    ::close(reader);
    EXPECT_EQ(Wait(child), 1);
    const std::string err = Read(Path("stderr"));
    EXPECT_NE(err.find("Log file error: Writing the output log failed: '" + Path("fifo") + "': Broken pipe"),
              std::string::npos)
        << err;
    EXPECT_EQ(err.find("cut short"), std::string::npos) << err;
}

// A reader that stops reading (a paused pager): the run is blocked writing standard
// output, and a stop signal still ends it with the log whole.
TEST_F(TQuorvellaCli, StopSignalEndsARunBlockedOnAStalledReader)
{
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    const std::string log = Path("stalled.l5");
    const pid_t child = Start({"--fast", "--duration", "100000", "--starter", "--monitor", "--log-out", log}, ends[1]);
    ::close(ends[1]);
    // Wait until the pipe is nearly full and stays so: the child is blocked in its write.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int queued = 0;
    int steady = 0;
    while (std::chrono::steady_clock::now() < deadline && steady < 10) {
        int now = 0;
        ::ioctl(ends[0], FIONREAD, &now);
        steady = now == queued && now > 32768 ? steady + 1 : 0;
        queued = now;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(steady, 10) << queued << " bytes queued";
    ::kill(child, SIGTERM);
    EXPECT_EQ(Wait(child), 143);
    ::close(ends[0]);
    const std::string err = Read(Path("stderr"));
    EXPECT_NE(err.find("quorvella-cli: run cut short by SIGTERM"), std::string::npos) << err;
    const int lines = UserLogLines(log);
    EXPECT_GT(lines, 100);
    EXPECT_EQ(fs::file_size(log), uintmax_t(lines) * 35);
}

}  // namespace
