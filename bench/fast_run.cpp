// quorvella-cli on virtual time: the wall time, the CPU time and the peak resident memory
// of a --fast run of 600 s of simulation, as a separate process. Baseline: the same run
// of 10 s, so that what the start-up costs and memory that grows with the run show as
// the difference.
//
// Usage: fast_run --cli PATH [--seconds 600]

#include "bench/benchutil.h"

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>

#include <cstdio>
#include <string>

extern char** environ;

using namespace bench;

namespace {

struct TChildRun {
    double WallSeconds = 0;
    double CpuSeconds = 0;
    long PeakResidentKiB = 0;
    int Status = -1;
};

TChildRun RunCli(const std::string& cli, double seconds)
{
    const std::string duration = std::to_string(seconds);
    std::vector<std::string> args = {cli, "--fast", "--duration", duration};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    TChildRun run;
    pid_t pid = 0;
    const int64_t wall0 = NowMicros();
    const int spawned = posix_spawn(&pid, cli.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw TBaseError("fast_run", "cannot start quorvella-cli", cli);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) throw TBaseError("fast_run", "lost quorvella-cli");
    run.WallSeconds = static_cast<double>(NowMicros() - wall0) / 1e6;
    auto secs = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    run.CpuSeconds = secs(usage.ru_utime) + secs(usage.ru_stime);
    run.PeakResidentKiB = usage.ru_maxrss;
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace

int main(int argc, char** argv)
{
    const TFlags flags(argc, argv);
    const std::string cli = flags.Text("--cli", "app/cli/quorvella-cli");
    const double seconds = flags.Number("--seconds", 600);
    try {
        std::printf("fast_run: quorvella-cli --fast, %.0f s of simulation\n", seconds);
        std::fflush(stdout);
        // The better of three runs each: the machine is shared.
        TChildRun best;
        TChildRun shortBest;
        for (int i = 0; i < 3; ++i) {
            const TChildRun r = RunCli(cli, seconds);
            if (r.Status != 0) throw TBaseError("fast_run", "quorvella-cli failed", std::to_string(r.Status));
            if (i == 0 || r.WallSeconds < best.WallSeconds) best = r;
            const TChildRun s = RunCli(cli, 10);
            if (s.Status != 0) throw TBaseError("fast_run", "quorvella-cli failed", std::to_string(s.Status));
            if (i == 0 || s.WallSeconds < shortBest.WallSeconds) shortBest = s;
        }
        std::printf("results\n");
        std::printf("  %.0f s run: wall %.3f s (CPU %.3f s), peak resident %.1f MiB\n", seconds, best.WallSeconds,
                    best.CpuSeconds, static_cast<double>(best.PeakResidentKiB) / 1024.0);
        std::printf("  baseline 10 s run: wall %.3f s (CPU %.3f s), peak resident %.1f MiB\n", shortBest.WallSeconds,
                    shortBest.CpuSeconds, static_cast<double>(shortBest.PeakResidentKiB) / 1024.0);
        // The start-up (catalogue, internal log, settings) is in both; the rest is the run.
        std::printf("  CPU of the extra %.0f s of simulation: %.3f s (%.2f ms per simulated second)\n", seconds - 10,
                    best.CpuSeconds - shortBest.CpuSeconds,
                    (best.CpuSeconds - shortBest.CpuSeconds) * 1000.0 / (seconds - 10));
        std::printf("  resident growth over the extra %.0f s: %.1f MiB\n", seconds - 10,
                    static_cast<double>(best.PeakResidentKiB - shortBest.PeakResidentKiB) / 1024.0);
        return 0;
    } catch (const TBaseError& e) {
        std::fprintf(stderr, "fast_run: %s: %s %s\n", e.Operation().c_str(), e.Message().c_str(), e.Detail().c_str());
        return 1;
    }
}
