// Process CPU seconds per second of a real-time run of the simulation source with every
// destination on: the transmit buffer sending to "Simulation RAM 1 2" (read on
// "RAM 2 1"), the output log to a temporary file, and the data monitor's text built
// every 200 ms (the tick phase is chosen so that the engine does refresh it). Baseline: the same process with only the 50 ms tick and the bare 2 ms
// transmit timer running and no run in progress.
//
// Usage: cpu [--seconds 20]

#include "bench/benchutil.h"
#include "bench/ramreader.h"
#include "can/tcanadapters.h"

#include <cstdio>

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
        return 0;
    } catch (const TBaseError& e) {
        std::fprintf(stderr, "cpu: %s: %s\n", e.Operation().c_str(), e.Message().c_str());
        return 1;
    }
}
