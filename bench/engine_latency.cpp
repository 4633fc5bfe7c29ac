// How late frames leave the transmit buffer in a real-time run of the simulation
// source into an in-memory simulation channel ("Simulation RAM 1 2", read on "RAM 2 1"),
// and the process CPU time per second of run. Baseline: how late the bare 2 ms timer
// thread wakes, and its CPU time.
//
// Usage: engine_latency [--seconds 20]

#include "bench/benchutil.h"
#include "bench/ramreader.h"
#include "can/tcanadapters.h"

#include <cstdio>

using namespace bench;

int main(int argc, char** argv)
{
    const TFlags flags(argc, argv);
    const double seconds = flags.Number("--seconds", 20);
    try {
        std::printf("engine_latency: %.0f s real-time run of the simulation source into \"Simulation RAM 1 2\"\n", seconds);
        std::fflush(stdout);
        TCanAdapters adapters;
        TCanChannel* channel = adapters.OpenChannel("Simulation RAM 1 2");
        TRealTimeResult run;
        long received = 0;
        std::vector<TDeparture> departures;
        {
            TRamReader reader("RAM 2 1");
            TDepartureChannel observed(channel);
            TRealTimeSetup setup;
            setup.Seconds = seconds;
            setup.Channel = &observed;
            run = RunRealTime(setup);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            received = reader.Records();
            departures = std::move(observed.departures);
        }
        adapters.CloseChannel(channel);

        std::vector<double> late;
        for (const TDeparture& d : departures) late.push_back(static_cast<double>(d.LeftMicros - d.DueMicros) / 1000.0);
        const TStats frame = Summarise(late);
        const double cpuPerS = run.CpuSeconds / run.WallSeconds;

        std::printf("baseline: bare 2 ms timer for %.0f s\n", seconds);
        std::fflush(stdout);
        const TTimerResult timer = RunBareTimer(seconds);
        const TStats wake = Summarise(timer.LatenessMs);
        const double timerCpuPerS = timer.CpuSeconds / timer.WallSeconds;

        std::printf("results\n");
        PrintStats("frame departure - due time", frame, "ms");
        PrintStats("baseline: timer wake - its 2 ms grid", wake, "ms");
        std::printf("  frames sent %zu, records received on RAM 2 1: %ld, errors %d\n", departures.size(), received, run.Errors);
        std::printf("  ratio frame/timer: median %.2f  p99 %.2f  max %.2f\n", Ratio(frame.Median, wake.Median),
                    Ratio(frame.P99, wake.P99), Ratio(frame.Max, wake.Max));
        std::printf("  CPU per second of run: engine %.4f s/s, bare timer %.4f s/s, ratio %.1f\n", cpuPerS, timerCpuPerS,
                    Ratio(cpuPerS, timerCpuPerS));
        return 0;
    } catch (const TBaseError& e) {
        std::fprintf(stderr, "engine_latency: %s: %s\n", e.Operation().c_str(), e.Message().c_str());
        return 1;
    }
}
