// How late frames leave the transmit buffer in a real-time run of the simulation
// source into an in-memory simulation channel ("Simulation RAM 1 2", read on "RAM 2 1"),
// and the process CPU time per second of run; once on the machine as it is and once
// with two busy processes (one endless loop per core) started by this benchmark.
// Baseline, in the same conditions: how late the bare transmit timer wakes for a
// deadline on a 2 ms grid, measured the same way as a frame (wake - deadline).
//
// Usage: engine_latency [--seconds 20] [--busy 2]

#include "bench/benchutil.h"
#include "bench/ramreader.h"
#include "can/tcanadapters.h"

#include <cstdio>
#include <memory>

using namespace bench;

namespace {

struct TRound {
    TStats Frame;
    TStats Wake;
    size_t Sent = 0;
    long Received = 0;
    int Errors = 0;
    double CpuPerS = 0;
    std::string Scheduling;
    std::string Load;
};

std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

TRound Measure(double seconds, int busy)
{
    TRound round;
    std::unique_ptr<TBusyProcesses> load;
    if (busy > 0) load = std::make_unique<TBusyProcesses>(busy);
    TCanAdapters adapters;
    TCanChannel* channel = adapters.OpenChannel("Simulation RAM 1 2");
    TRealTimeResult run;
    std::vector<TDeparture> departures;
    {
        TRamReader reader("RAM 2 1");
        TDepartureChannel observed(channel);
        TRealTimeSetup setup;
        setup.Seconds = seconds;
        setup.Channel = &observed;
        run = RunRealTime(setup);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        round.Received = reader.Records();
        departures = std::move(observed.departures);
    }
    adapters.CloseChannel(channel);
    std::vector<double> late;
    for (const TDeparture& d : departures) late.push_back(static_cast<double>(d.LeftMicros - d.DueMicros) / 1000.0);
    round.Frame = Summarise(late);
    round.Sent = departures.size();
    round.Errors = run.Errors;
    round.CpuPerS = run.CpuSeconds / run.WallSeconds;
    round.Scheduling = run.Scheduling;
    const TDeadlineResult timer = RunDeadlineTimer(seconds);
    round.Wake = Summarise(timer.LatenessMs);
    round.Load = LoadAverage();
    return round;
}

void Print(const char* title, const TRound& r)
{
    std::printf("%s (load %s; transmit timer %s)\n", title, r.Load.c_str(), r.Scheduling.c_str());
    PrintStats("frame departure - due time", r.Frame, "ms");
    PrintStats("baseline: bare timer wake - its deadline", r.Wake, "ms");
    std::printf("  frames sent %zu, records received on RAM 2 1: %ld, errors %d\n", r.Sent, r.Received, r.Errors);
    std::printf("  ratio frame/timer: median %.2f  p99 %.2f  max %.2f\n", Ratio(r.Frame.Median, r.Wake.Median),
                Ratio(r.Frame.P99, r.Wake.P99), Ratio(r.Frame.Max, r.Wake.Max));
    std::printf("  CPU per second of run: %.4f s/s\n", r.CpuPerS);
}

}  // namespace

int main(int argc, char** argv)
{
    const TFlags flags(argc, argv);
    const double seconds = flags.Number("--seconds", 20);
    const int busy = static_cast<int>(flags.Number("--busy", 2));
    try {
        std::printf("engine_latency: %.0f s real-time run of the simulation source into \"Simulation RAM 1 2\", "
                    "then the bare timer for %.0f s; quiet, then with %d busy processes\n",
                    seconds, seconds, busy);
        std::fflush(stdout);
        const TRound quiet = Measure(seconds, 0);
        const TRound loaded = Measure(seconds, busy);
        std::printf("results\n");
        Print("as the machine is", quiet);
        char title[64];
        std::snprintf(title, sizeof title, "with %d busy processes", busy);
        Print(title, loaded);
        return 0;
    } catch (const TBaseError& e) {
        std::fprintf(stderr, "engine_latency: %s: %s\n", e.Operation().c_str(), e.Message().c_str());
        return 1;
    }
}
