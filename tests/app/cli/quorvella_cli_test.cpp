// The built quorvella-cli in a child process: every stop signal ends the run with a
// finished log, a written report and a status that says the run was cut short.
#include "clirunfixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
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
    static int Wait(pid_t pid) { return clitest::WaitForChild(pid, std::chrono::seconds(60)); }
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

// A process held up (SIGSTOP, as a suspended machine or a debugger would) goes on from
// the present: no burst of the missed time, the stall told, strict timing failed.
TEST_F(TQuorvellaCli, StalledRunGoesOnFromThePresentAndFailsStrictTiming)
{
    const std::string log = Path("stall.l5");
    // Long enough that a test process slowed by a busy machine still stops the run
    // inside it, not after its end.
    const pid_t child = Start({"--duration", "8", "--starter", "--strict-timing", "--log-out", log});
    ASSERT_TRUE(WaitForBytes(log, 35 * 50));
    ::kill(child, SIGSTOP);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    ::kill(child, SIGCONT);
    EXPECT_EQ(Wait(child), 1);
    const std::string out = Read(Path("stdout"));
    EXPECT_NE(out.find("\nstalls: "), std::string::npos) << out;
    const std::string err = Read(Path("stderr"));
    EXPECT_NE(err.find("Timing notice: The run was held up and went on from the present"), std::string::npos) << err;
    // Eight seconds of the schedule (about 191 frames a second). The log stamps the
    // wire: the stall is a silence of about its length, and what fell due in it did not
    // leave at once afterwards. (A tick a busy machine delays by a few milliseconds
    // rightly sends the frames due meanwhile together; a burst of the missed 700 ms
    // would put over a hundred frames in one stamp.)
    const std::string text = Read(log);
    std::map<std::string, int> perStamp;
    double lastStamp = 0, longestSilence = 0;
    size_t lines = 0;
    for (size_t at = 0; at < text.size(); at = text.find('\n', at) + 1, ++lines) {
        const std::string stamp = text.substr(at, 8);
        ++perStamp[stamp];
        const double seconds = std::stod(stamp);
        longestSilence = std::max(longestSilence, seconds - lastStamp);
        lastStamp = seconds;
    }
    int crowded = 0;
    for (const auto& [stamp, count] : perStamp) crowded = std::max(crowded, count);
    EXPECT_LE(crowded, 10);
    EXPECT_GE(longestSilence, 0.6);
    EXPECT_GT(lines, 1400u);
    EXPECT_LT(lines, 1700u);
}

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

// A channel whose peer never takes what it is sent (a drop file that is never taken):
// the drain would wait for its whole limit, an hour here. A stop signal cuts it short;
// the frames not delivered are told, the log is whole and the status is the signal's.
TEST_F(TQuorvellaCli, StopSignalCutsTheDrainShort)
{
    Write(Path("out"), "the peer never takes this drop");
    const std::string log = Path("drain.l5");
    const pid_t child = Start({"--fast", "--duration", "1", "--starter", "--drain", "3600", "--channel",
                               "Simulation HDD " + Path("out") + " " + Path("in"), "--log-out", log});
    // The run of one virtual second is over when its log stops growing: the drain waits.
    ASSERT_TRUE(WaitForBytes(log, 35));
    std::error_code ec;
    uintmax_t size = 0;
    for (int steady = 0; steady < 25;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const uintmax_t now = fs::file_size(log, ec);
        steady = now == size ? steady + 1 : 0;
        size = now;
    }
    ::kill(child, SIGINT);
    EXPECT_EQ(Wait(child), 130);
    const std::string err = Read(Path("stderr"));
    EXPECT_NE(err.find("CAN error: Frames could not be delivered"), std::string::npos) << err;
    EXPECT_NE(err.find("the wait was cut short by a stop signal"), std::string::npos) << err;
    EXPECT_NE(err.find("quorvella-cli: run cut short by SIGINT"), std::string::npos) << err;
    const int lines = UserLogLines(log);
    EXPECT_GT(lines, 100);
    EXPECT_EQ(fs::file_size(log), uintmax_t(lines) * 35);
    EXPECT_EQ(Read(Path("out")), "the peer never takes this drop");
}

// The output log is a FIFO whose reader stopped reading: the run is blocked writing it.
// A stop signal ends the run with the signal's status, not as a write error, and the
// reader finds whole lines only.
TEST_F(TQuorvellaCli, StopSignalEndsAWriteBlockedOnAStalledLogFifo)
{
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0644), 0);
    const int reader = ::open(Path("fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    const pid_t child = Start({"--fast", "--duration", "100000", "--starter", "--log-out", Path("fifo")});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int queued = 0;
    int steady = 0;
    while (std::chrono::steady_clock::now() < deadline && steady < 10) {
        int now = 0;
        ::ioctl(reader, FIONREAD, &now);
        steady = now == queued && now > 32768 ? steady + 1 : 0;
        queued = now;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_EQ(steady, 10) << queued << " bytes queued";
    ::kill(child, SIGTERM);
    std::string text;
    char chunk[65536];
    int status = -3;
    // The pipe is read to its end while the child finishes.
    for (;;) {
        const ssize_t got = ::read(reader, chunk, sizeof chunk);
        if (got > 0) {
            text.append(chunk, static_cast<size_t>(got));
            continue;
        }
        if (got == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    status = Wait(child);
    ::close(reader);
    EXPECT_EQ(status, 143);
    const std::string err = Read(Path("stderr"));
    EXPECT_NE(err.find("quorvella-cli: run cut short by SIGTERM"), std::string::npos) << err;
    EXPECT_EQ(err.find("Interrupted system call"), std::string::npos) << err;
    EXPECT_EQ(err.find("Log file error"), std::string::npos) << err;
    EXPECT_GT(text.size(), 32768u);
    EXPECT_EQ(text.size() % 35, 0u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    // What the reader got is what the runner says the log holds; the frames it could not
    // write are counted, never passed over.
    if (err.find("ends with the ") != std::string::npos) {
        EXPECT_NE(err.find("the output log '" + Path("fifo") + "' ends with the " + std::to_string(text.size() / 35) +
                           " whole lines written before its reader stopped reading"),
                  std::string::npos)
            << err;
        EXPECT_NE(err.find("frames released before the stop are not in it"), std::string::npos) << err;
        EXPECT_NE(err.find("every frame released until then is in the report"), std::string::npos) << err;
    }
}

// Two runs on one output log: the second is refused while the first writes it, and the
// first one's log is complete.
TEST_F(TQuorvellaCli, SecondConcurrentRunOnTheSameLogIsRefused)
{
    const std::string log = Path("one.l5");
    const pid_t child = Start({"--duration", "60", "--starter", "--log-out", log});
    ASSERT_TRUE(WaitForBytes(log, 1));
    const clitest::TCliOutcome second = clitest::RunCommandLine({"--fast", "--duration", "5", "--log-out", log});
    EXPECT_EQ(second.Status, 1);
    EXPECT_NE(second.Err.find("'" + log + "' is being written by another run"), std::string::npos) << second.Err;
    ::kill(child, SIGTERM);
    EXPECT_EQ(Wait(child), 143);
    const int lines = UserLogLines(log);
    EXPECT_GT(lines, 100);
    EXPECT_EQ(fs::file_size(log), uintmax_t(lines) * 35);
}

// No thread can be made (ulimit -u reached): the run is an error with the reason and
// status 1, never an abort. The child gets a limit on its threads (and, when the test
// runs as root, whom the limit does not bind, the identity of an unprivileged user who
// runs nothing else): 1 stops the first thread (the one that takes the stop signals),
// 2 the transmit timer's of a real-time run.
// ThreadSanitizer runs a thread of its own in every process it watches.
#if defined(__SANITIZE_THREAD__)
constexpr rlim_t SanitizerThreads = 1;
#else
constexpr rlim_t SanitizerThreads = 0;
#endif
// LeakSanitizer needs a thread of its own to look for leaks at exit: without one it
// ends the process itself, so the child runs without the leak check.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool SanitizerLeakCheck = true;
#else
constexpr bool SanitizerLeakCheck = false;
#endif

TEST_F(TQuorvellaCli, ThreadThatCannotBeMadeIsAnErrorNotAnAbort)
{
    const bool root = ::geteuid() == 0;
    if (!root) std::cout << "[ NOTE ] not root: the limits count every process of this user\n";
    const struct {
        rlim_t threads;
        std::vector<std::string> args;
        std::string message;
    } cases[] = {{1, {"--fast", "--duration", "1"}, "Resource temporarily unavailable"},
                 {2 + SanitizerThreads, {"--duration", "1"}, "the transmit timer's thread could not be made"}};
    for (const auto& c : cases) {
        if (!root && c.threads > 1) continue;
        SCOPED_TRACE(c.threads);
        const std::string errPath = Path("stderr");
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        ASSERT_GE(err, 0);
        std::vector<std::string> words = {QV_CLI_PATH};
        words.insert(words.end(), c.args.begin(), c.args.end());
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        std::vector<std::string> variables;
        for (char** v = environ; *v; ++v)
            if (!SanitizerLeakCheck || std::string(*v).rfind("ASAN_OPTIONS=", 0) != 0) variables.emplace_back(*v);
        if (SanitizerLeakCheck) variables.emplace_back("ASAN_OPTIONS=detect_leaks=0");
        std::vector<char*> envp;
        for (std::string& v : variables) envp.push_back(v.data());
        envp.push_back(nullptr);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Only async-signal-safe calls until exec.
            ::dup2(err, STDERR_FILENO);
            const int out = ::open("/dev/null", O_WRONLY);
            ::dup2(out, STDOUT_FILENO);
            if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(97);
            const rlimit limit{c.threads, c.threads};
            if (::setrlimit(RLIMIT_NPROC, &limit) != 0) ::_exit(98);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(99);
        }
        ::close(err);
        const int status = Wait(child);
        ASSERT_NE(status, 97) << "cannot become an unprivileged user";
        ASSERT_NE(status, 98) << "cannot set the limit";
        EXPECT_EQ(status, 1);
        const std::string text = Read(errPath);
        EXPECT_NE(text.find("quorvella-cli: Resource error: A thread could not be started: " + c.message),
                  std::string::npos)
            << text;
    }
}

}  // namespace
