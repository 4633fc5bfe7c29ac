// Process CPU seconds per second of a real-time run of the simulation source with every
// destination on: the transmit buffer sending to "Simulation RAM 1 2" (read on
// "RAM 2 1"), the output log to a temporary file, and the data monitor's text built
// every 200 ms (the tick phase is chosen so that the engine does refresh it). Baseline:
// the same process with only the 50 ms tick and the bare 2 ms transmit timer running and
// no run in progress.
//
// With --cli PATH (tools/bench.sh gives it) the real runner is measured as well: quorvella-cli
// in a real-time run into "Simulation SOC 127.0.0.1 ..." read by a peer thread here, with
// the output log (--log-out) and the monitor (--monitor, printed to /dev/null); its CPU and
// context switches (its threads' wake-ups, nearly) come from wait4, for the whole process
// (start-up, the drain at the end and exit included), and from its threads' scheduler
// statistics for the run itself (from 2 s after the start to the run's end). Its
// baselines: the runner idling, the same run with every parameter group left out
// (--drop), so the runner ticks and polls with nothing to send; and the floor of any
// sender on this machine, a bare sender: one thread at the timer's priority that sleeps
// until each departure time of the runner's output log and writes that frame's 24-byte
// record into the same kind of peer, with nothing else to do. The three are measured in
// rounds (3 by default), one after the other, and judged by their medians.
//
// Usage: cpu [--seconds 20] [--cli PATH] [--rounds 3]

#include "bench/benchutil.h"
#include "bench/machine.h"
#include "bench/ramreader.h"
#include "can/tcanadapters.h"
#include "support/trealtimeguard.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <regex>
#include <set>
#include <sstream>

extern char** environ;

using namespace bench;

namespace {

// The idle program: its 50 ms window timer fires with nothing to do, the transmit
// timer runs on its own thread.
double IdleCpuPerSecond(double seconds)
{
    TWakeRecorder idle;
    idle.wakes.reserve(static_cast<size_t>(seconds * 600) + 1024);
    std::mutex timerLock;
    TMultimediaTimer timer(&idle, timerLock);
    timer.SetRealTime(true);
    uint32_t error = 0;
    if (!timer.Start(2, error, 1)) throw TBaseError("IdleCpuPerSecond", "the timer does not start");
    const double cpu0 = CpuSeconds();
    const int64_t wall0 = NowMicros();
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    const int ticks = static_cast<int>(seconds * 1000 / TRunEngine::TickIntervalMs);
    for (int i = 0; i < ticks; ++i) {
        next.tv_nsec += TRunEngine::TickIntervalMs * 1000000L;
        while (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            ++next.tv_sec;
        }
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) != 0) {
        }
    }
    const double cpu = CpuSeconds() - cpu0;
    const double wall = static_cast<double>(NowMicros() - wall0) / 1e6;
    timer.Stop();
    return cpu / wall;
}

struct TRunnerCost {
    double CpuPerSecond = 0;      // s of CPU per s of wall time
    double SwitchesPerSecond = 0; // voluntary + involuntary context switches per s
    double RunCpuPerSecond = 0;   // the same from 2 s after the start to the run's end
    long Records = 0;             // records the peer received
    int Status = 0;
};

// CPU seconds of every thread of process pid so far (their scheduler statistics); -1
// when the process is gone.
double ThreadsCpuSeconds(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = ::opendir(tasks.c_str());
    if (dir == nullptr) return -1;
    double seconds = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        std::ifstream stat(tasks + "/" + entry->d_name + "/schedstat");
        long long nanos = 0;
        if (stat >> nanos) seconds += static_cast<double>(nanos) / 1e9;
    }
    ::closedir(dir);
    return seconds;
}

// A peer that accepts one connection on listener and counts the 24-byte records it reads;
// gives up after waitMs without a connection.
std::thread CountingPeer(int listener, int waitMs, std::atomic<long>& records)
{
    return std::thread([listener, waitMs, &records] {
        pollfd wait{listener, POLLIN, 0};
        if (::poll(&wait, 1, waitMs) != 1) return;
        const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        char buf[65536];
        long bytes = 0;
        for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;) bytes += n;
        records = bytes / 24;
        ::close(fd);
    });
}

// quorvella-cli for seconds with args added, into a socket peer read here.
TRunnerCost RunRunner(const std::string& cli, double seconds, std::vector<std::string> extra, const std::string& out)
{
    TRunnerCost cost;
    const uint16_t ours = FreeLoopbackPort();
    uint16_t theirs = FreeLoopbackPort();
    while (theirs == ours) theirs = FreeLoopbackPort();
    const int listener = LoopbackListener(ours);
    if (listener < 0) throw TBaseError("RunRunner", "the peer's port cannot be bound");
    std::atomic<long> records{0};
    std::thread peer = CountingPeer(listener, static_cast<int>(seconds * 1000) + 10000, records);
    std::vector<std::string> args = {"--duration", std::to_string(static_cast<int>(seconds)), "--starter", "--channel",
                                     "Simulation SOC 127.0.0.1 " + std::to_string(ours) + " " + std::to_string(theirs) + " 1"};
    args.insert(args.end(), extra.begin(), extra.end());
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    std::string program = cli;
    argv.push_back(program.data());
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int64_t wall0 = NowMicros();
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (pid < 0) throw TBaseError("RunRunner", "quorvella-cli does not start");
    // The run's own CPU: its threads from 2 s after the start (start-up long over) to
    // the end of the run (it starts some 0.1 s after the spawn).
    std::this_thread::sleep_until(std::chrono::steady_clock::now() + std::chrono::seconds(2));
    const double cpuAt2 = ThreadsCpuSeconds(pid);
    const int64_t at2 = NowMicros();
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int64_t>(seconds * 1e6) - (at2 - wall0)));
    const double cpuAtEnd = ThreadsCpuSeconds(pid);
    const int64_t atEnd = NowMicros();
    if (cpuAt2 >= 0 && cpuAtEnd >= cpuAt2)
        cost.RunCpuPerSecond = (cpuAtEnd - cpuAt2) / (static_cast<double>(atEnd - at2) / 1e6);
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const double wall = static_cast<double>(NowMicros() - wall0) / 1e6;
    peer.join();
    ::close(listener);
    const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
                       + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    cost.CpuPerSecond = cpu / wall;
    cost.SwitchesPerSecond = static_cast<double>(usage.ru_nvcsw + usage.ru_nivcsw) / wall;
    cost.Records = records.load();
    cost.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    return cost;
}

// The frames of an ASC output log that left ("Tx"), as time (µs) and 24-byte record.
std::vector<std::pair<int64_t, std::array<char, 24>>> Departures(const std::string& ascFile)
{
    std::vector<std::pair<int64_t, std::array<char, 24>>> frames;
    std::ifstream in(ascFile);
    for (std::string line; std::getline(in, line);) {
        double time = 0;
        unsigned id = 0;
        if (line.find(" Tx ") == std::string::npos || std::sscanf(line.c_str(), "%lf 1 %x", &time, &id) != 2) continue;
        std::array<char, 24> record{};
        std::memcpy(record.data(), &id, sizeof id);
        frames.emplace_back(static_cast<int64_t>(time * 1e6 + 0.5), record);
    }
    return frames;
}

// CPU per second of a bare sender: one thread at the transmit timer's real-time priority
// (when permitted) that sleeps until each departure and writes its record into a socket
// a peer here reads.
double BareSenderCpuPerSecond(const std::vector<std::pair<int64_t, std::array<char, 24>>>& frames, long& delivered)
{
    const uint16_t port = FreeLoopbackPort();
    const int listener = LoopbackListener(port);
    if (listener < 0) throw TBaseError("BareSender", "the peer's port cannot be bound");
    std::atomic<long> records{0};
    std::thread peer = CountingPeer(listener, 10000, records);
    double cpuPerSecond = 0;
    std::thread sender([&] {
        sched_param param{};
        param.sched_priority = TMultimediaTimer::RealTimePriority;
        if (GuardRealTime(TMultimediaTimer::RealTimeCpuLimit) == 0)
            pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in at = Loopback(port);
        const int yes = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) {
            ::close(fd);
            return;
        }
        timespec start{};
        clock_gettime(CLOCK_MONOTONIC, &start);
        timespec cpu0{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu0);
        for (const auto& [time, record] : frames) {
            const int64_t ns = static_cast<int64_t>(start.tv_nsec) + time * 1000;
            const timespec due{start.tv_sec + static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) != 0) {
            }
            ::send(fd, record.data(), record.size(), MSG_NOSIGNAL);
        }
        timespec cpu1{}, end{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu1);
        clock_gettime(CLOCK_MONOTONIC, &end);
        const auto seconds = [](const timespec& a, const timespec& b) {
            return static_cast<double>(b.tv_sec - a.tv_sec) + static_cast<double>(b.tv_nsec - a.tv_nsec) / 1e9;
        };
        cpuPerSecond = seconds(cpu0, cpu1) / seconds(start, end);
        ::close(fd);
    });
    sender.join();
    peer.join();
    ::close(listener);
    delivered = records.load();
    return cpuPerSecond;
}

// The middle of values (the lower middle of an even count).
double Median(std::vector<double> values)
{
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[(values.size() - 1) / 2];
}

// The runner's CPU with channel, output log and monitor, beside the runner idling and the
// bare sender: runs rounds of the three, one after the other, so that each is measured
// as often as the others and in the same minutes as them; the figures are each round's
// and their medians.
void MeasureRunner(const std::string& cli, double seconds, int rounds, TTempDir& dir)
{
    std::printf("runner: quorvella-cli, %.0f s real-time runs into a simulation socket read by a peer here,"
                " %d rounds of: the run, the runner idling, the bare sender\n",
                seconds, rounds);
    std::fflush(stdout);
    std::vector<double> run, whole, idle, bare;
    std::vector<std::string> drops;
    bool allOk = true;
    for (int round = 1; round <= rounds; ++round) {
        const std::string report = dir.File("report" + std::to_string(round) + ".json");
        const std::string log = dir.File("runner" + std::to_string(round) + ".asc");
        const std::string loadBefore = LoadAverage();
        const TRunnerCost full = RunRunner(cli, seconds, {"--log-out", log, "--monitor", "--report", report}, "/dev/null");
        if (drops.empty()) {
            // Every group the run sent, left out for the idle runs.
            std::ifstream in(report);
            std::stringstream text;
            text << in.rdbuf();
            const std::string json = text.str();
            std::set<std::string> pgns;
            const std::regex row(R"re("pgn": "([0-9A-F]{4})")re");
            for (auto it = std::sregex_iterator(json.begin(), json.end(), row); it != std::sregex_iterator(); ++it)
                pgns.insert((*it)[1]);
            for (const std::string& pgn : pgns) {
                drops.push_back("--drop");
                drops.push_back(pgn);
            }
        }
        const TRunnerCost quiet = RunRunner(cli, seconds, drops, "/dev/null");
        const auto frames = Departures(log);
        long bareRecords = 0;
        const double floor = BareSenderCpuPerSecond(frames, bareRecords);
        const std::string loadAfter = LoadAverage();
        std::printf("  round %d (load %s, after %s):\n", round, loadBefore.c_str(), loadAfter.c_str());
        std::printf("    with channel + output log + monitor: %.2f %% of one core in the run, %.2f %% for the whole"
                    " process with start-up and exit; %.0f context switches/s, %ld records sent, exit %d\n",
                    full.RunCpuPerSecond * 100, full.CpuPerSecond * 100, full.SwitchesPerSecond, full.Records,
                    full.Status);
        std::printf("    the runner idling (%zu groups dropped): %.2f %% in the run, %.2f %% whole; %.0f context"
                    " switches/s\n",
                    drops.size() / 2, quiet.RunCpuPerSecond * 100, quiet.CpuPerSecond * 100, quiet.SwitchesPerSecond);
        std::printf("    floor, a bare sender of the same %zu frames at the same times into the same kind of peer:"
                    " %.2f %%, %ld records\n",
                    frames.size(), floor * 100, bareRecords);
        std::fflush(stdout);
        allOk = allOk && full.Status == 0 && full.Records == static_cast<long>(frames.size());
        run.push_back(full.RunCpuPerSecond);
        whole.push_back(full.CpuPerSecond);
        idle.push_back(quiet.RunCpuPerSecond);
        bare.push_back(floor);
    }
    const double runMedian = Median(run), wholeMedian = Median(whole), bareMedian = Median(bare);
    std::printf("  medians of %d rounds: the run %.4f s/s (%.2f %% of one core), the whole process %.2f %%; the runner"
                " idling %.2f %%; the bare sender %.2f %%\n",
                rounds, runMedian, runMedian * 100, wholeMedian * 100, Median(idle) * 100, bareMedian * 100);
    std::printf("  the runner's run above the bare sender: %+.2f %% of one core (medians)\n",
                (runMedian - bareMedian) * 100);
    if (!allOk) {
        std::printf("  goal <= 1.00 %% of one core: not judged, a run did not exit 0 or its peer did not get every"
                    " frame of its output log\n");
        return;
    }
    std::printf("  goal <= 1.00 %% of one core (medians): in the run %s, whole process %s\n",
                runMedian <= 0.01 ? "met" : "NOT met", wholeMedian <= 0.01 ? "met" : "NOT met");
}

}  // namespace

int main(int argc, char** argv)
{
    const TFlags flags(argc, argv);
    const double seconds = flags.Number("--seconds", 20);
    try {
        TTempDir dir;
        std::printf("cpu: %.0f s real-time run, simulation source, channel + output log + monitor\n", seconds);
        std::fflush(stdout);
        TCanAdapters adapters;
        TCanChannel* channel = adapters.OpenChannel("Simulation RAM 1 2");
        TRealTimeResult run;
        long received = 0;
        {
            TRamReader reader("RAM 2 1");
            TRealTimeSetup setup;
            setup.Seconds = seconds;
            setup.Channel = channel;
            setup.LogOut = dir.File("out.asc");
            setup.Monitor = true;
            // A tick that ends 4 ms after a multiple of 5 ms makes the next tick's first
            // step a 5 ms step, where the monitor is refreshed before any frame of that
            // tick leaves. In phase with the steps (quorvella-cli's tick) a frame
            // released in the first steps of every tick clears the refresh request, and
            // the monitor is never refreshed.
            setup.TickPhaseMs = 4.5;
            run = RunRealTime(setup);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            received = reader.Records();
        }
        adapters.CloseChannel(channel);
        const auto logBytes = std::filesystem::file_size(dir.File("out.asc"));
        const double perSecond = run.CpuSeconds / run.WallSeconds;

        std::printf("baseline: idle tick and transmit timer for %.0f s\n", seconds / 2);
        std::fflush(stdout);
        const double idle = IdleCpuPerSecond(seconds / 2);

        std::printf("results\n");
        std::printf("  frames received on RAM 2 1 %ld, output log %ld lines, monitor refreshes %d, errors %d\n", received,
                    static_cast<long>(logBytes / 35), run.MonitorRefreshes, run.Errors);
        std::printf("  CPU per second of run: %.4f s/s (%.2f %% of one core)\n", perSecond, perSecond * 100);
        std::printf("  baseline idle tick + timer: %.4f s/s\n", idle);
        std::printf("  ratio %.1f\n", Ratio(perSecond, idle));
        const std::string cli = flags.Text("--cli", "");
        if (!cli.empty()) MeasureRunner(cli, seconds, std::max(1, static_cast<int>(flags.Number("--rounds", 3))), dir);
        return 0;
    } catch (const TBaseError& e) {
        std::fprintf(stderr, "cpu: %s: %s\n", e.Operation().c_str(), e.Message().c_str());
        return 1;
    }
}
