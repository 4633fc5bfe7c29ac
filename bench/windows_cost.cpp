// What the windows that watch a run cost beside it: the frame trace and a plot window
// with 10 signals open (offscreen) during a real-time run of the simulation source,
// against the same run with no window open. The runs alternate (closed, open, closed,
// open) so the machine's load falls on both alike. Each run is wired as the program
// wires it: the engine ticked every 50 ms on the window thread (sleeping to absolute
// deadlines, then handling the window events that came meanwhile: the plot's refresh,
// the trace's rows, the painting), the transmit buffer on its 2 ms timer thread sending
// to "Simulation RAM 1 2".
//
// Prints for each kind of run the process CPU per second of run, the windows' cost as
// the difference in % of one core (budget 2 %), and the run's timing: how late the ticks
// woke (median, 99th percentile, largest), the frames sent, the frames' largest lateness
// and the late ones (TRunEngine::MaxLateness, LateFrames). Exit status 1 when the
// windows cost more than the budget or the timing differs.
//
// Usage: windows_cost [--seconds 20] [--budget 2] [--open both|plot|trace]

#include "app/ui/tfplot.h"
#include "app/ui/tuserquery.h"
#include "bench/benchutil.h"
#include "bench/ramreader.h"
#include "can/tcanadapters.h"
#include "engine/tplotfeed.h"
#include "fms/ui/tfframetrace.h"

#include <QApplication>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

using namespace bench;

namespace {

class TNoQuery final : public TUserQuery {
public:
    void Message(QWidget*, const TAString&, const TAString&, TIcon) override {}
    std::optional<TAString> OpenFileName(QWidget*, const TFileRequest&) override { return std::nullopt; }
    std::optional<TAString> SaveFileName(QWidget*, const TFileRequest&) override { return std::nullopt; }
    int Exec(QDialog&) override { return 0; }
};

// The ten signals plotted: the ones that change during a drive, from the fastest groups on.
const char* const PlottedSignals[] = {"Engine speed",          "Wheel based speed",          "Accelerator pedal position",
                                      "Tachograph vehicle speed", "Fuel Rate",                  "Instantaneous Fuel Economy",
                                      "Fuel level",               "Engine coolant temperature", "Current Gear",
                                      "Total fuel used"};

struct TRunFigures {
    double CpuPerSecond = 0;
    TStats TickLatenessMs;
    uint64_t FramesSent = 0;
    int64_t MaxLatenessMicros = 0;
    int64_t LateFrames = 0;
    int Errors = 0;
    std::size_t PlottedPoints = 0;
    uint64_t TraceMissed = 0;
    uint64_t PlotMissed = 0;
};

// Which windows are open: "both", or only the "plot" or the "trace".
std::string g_open = "both";

TRunFigures Run(double seconds, bool windows, TCanChannel* channel)
{
    const TTimeSource& clock = TMonotonicTimeSource::Instance();
    TCanBuffer buffer(clock);
    TCanBufferTransmit transmit(buffer);
    TRunEngine engine(clock, transmit);
    TCountingErrors errors;
    TRecordingCockpit cockpit;
    TAllValid validity;
    engine.SetErrorReporter(&errors);
    engine.SetCockpit(&cockpit);
    engine.SetValidity(&validity);
    engine.Controls.Simulation = true;
    engine.Controls.ValidManip = true;
    engine.Controls.SendCan = true;

    TNoQuery query;
    TPlotFeed feed;
    uint64_t seen = 0;
    std::unique_ptr<TFPlot> plot;
    std::unique_ptr<TFFrameTrace> trace;
    if (windows && g_open != "plot") {
        trace = std::make_unique<TFFrameTrace>(engine.Trace());
        trace->resize(900, 600);
        trace->show();
    }
    if (windows && g_open != "trace") {
        plot = std::make_unique<TFPlot>(query);
        const TBusFmsStandard& catalogue = feed.Catalogue();
        int plotted = 0;
        for (const char* name : PlottedSignals)
            for (int i = 0; i < catalogue.SignalCount(); ++i)
                if (catalogue.Signal(i).Name == name && feed.Plottable(i)) {
                    plot->Plot(i, catalogue.Signal(i).Name, catalogue.Signal(i).Unit);
                    ++plotted;
                }
        if (plotted != 10) throw TBaseError("windows_cost", "not every signal of the plot is in the catalogue");
        plot->SetFeed([&](TPlotStore& store) { seen = feed.FromTrace(engine.Trace(), seen, store); },
                      [&] { seen = engine.Trace().Last(); });
        plot->resize(900, 700);
        plot->show();
    }

    std::mutex timerLock;
    TMultimediaTimer timer(&buffer, timerLock);
    uint32_t error = 0;
    if (!timer.Start(2, error, 1)) throw TBaseError("windows_cost", "the transmit timer does not start");
    engine.SetCanChannel(channel);

    std::vector<double> lateness;
    lateness.reserve(static_cast<std::size_t>(seconds * 20) + 16);
    const double cpu0 = CpuSeconds();
    const int64_t wall0 = NowMicros();
    engine.Start();
    if (plot) plot->RunStarted();
    cockpit.StartEngine();
    const int64_t duration = static_cast<int64_t>(seconds * 1e6);
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    while (engine.Running() && engine.SimTime() < duration) {
        next.tv_nsec += TRunEngine::TickIntervalMs * 1000000L;
        while (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            ++next.tv_sec;
        }
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) != 0) {
        }
        timespec woke{};
        clock_gettime(CLOCK_MONOTONIC, &woke);
        lateness.push_back(static_cast<double>((woke.tv_sec - next.tv_sec) * 1000000000L + (woke.tv_nsec - next.tv_nsec)) /
                           1e6);
        engine.TimerSysTimer();
        QApplication::processEvents();
    }
    engine.Stop();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (buffer.Pending() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    TRunFigures f;
    const double cpu = CpuSeconds() - cpu0;
    const double wall = static_cast<double>(NowMicros() - wall0) / 1e6;
    timer.Stop();
    engine.SetCanChannel(nullptr);
    f.CpuPerSecond = cpu / wall;
    f.TickLatenessMs = Summarise(lateness);
    f.FramesSent = engine.FramesSent();
    f.MaxLatenessMicros = engine.MaxLateness();
    f.LateFrames = engine.LateFrames();
    f.Errors = errors.count;
    if (trace) f.TraceMissed = trace->Missed();
    if (plot) {
        f.PlotMissed = plot->Store().Missed();
        plot->Refresh();
        for (const auto& s : plot->Store().Signals()) f.PlottedPoints += s->Series.Size();
    }
    return f;
}

void Print(const char* what, const TRunFigures& f)
{
    std::printf("  %-15s CPU %.4f s/s (%.2f %% of one core); ticks late median %.3f ms, p99 %.3f ms, max %.3f ms; "
                "frames sent %llu, largest lateness %.3f ms, late frames %lld, errors %d%s\n",
                what, f.CpuPerSecond, f.CpuPerSecond * 100, f.TickLatenessMs.Median, f.TickLatenessMs.P99,
                f.TickLatenessMs.Max, static_cast<unsigned long long>(f.FramesSent),
                static_cast<double>(f.MaxLatenessMicros) / 1000.0, static_cast<long long>(f.LateFrames), f.Errors,
                f.PlottedPoints ? QString(", %1 values plotted").arg(f.PlottedPoints).toLocal8Bit().constData() : "");
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const TFlags flags(argc, argv);
    const double seconds = flags.Number("--seconds", 20);
    const double budget = flags.Number("--budget", 2);
    for (int i = 1; i + 1 < argc; ++i)
        if (std::string(argv[i]) == "--open") g_open = argv[i + 1];
    try {
        std::printf("windows_cost: 2 x 2 real-time runs of %.0f s, simulation source, channel; %s open (offscreen) "
                    "or no window\n",
                    seconds / 2,
                    g_open == "both"   ? "frame trace and a plot of 10 signals"
                    : g_open == "plot" ? "a plot of 10 signals"
                                       : "frame trace");
        std::fflush(stdout);
        TCanAdapters adapters;
        TCanChannel* channel = adapters.OpenChannel("Simulation RAM 1 2");
        TRunFigures closed[2];
        TRunFigures open[2];
        {
            TRamReader reader("RAM 2 1");
            for (int i = 0; i < 2; ++i) {
                closed[i] = Run(seconds / 2, false, channel);
                open[i] = Run(seconds / 2, true, channel);
            }
        }
        adapters.CloseChannel(channel);

        std::printf("results\n");
        for (int i = 0; i < 2; ++i) {
            Print("no window", closed[i]);
            Print(g_open == "both" ? "trace + plots" : g_open == "plot" ? "plots" : "trace", open[i]);
        }
        const double closedCpu = (closed[0].CpuPerSecond + closed[1].CpuPerSecond) / 2;
        const double openCpu = (open[0].CpuPerSecond + open[1].CpuPerSecond) / 2;
        const double cost = (openCpu - closedCpu) * 100;
        std::printf("  the windows cost %.2f %% of one core beside the run (budget %.1f %%)\n", cost, budget);
        bool timingSame = true;
        for (int i = 0; i < 2; ++i)
            timingSame &= open[i].LateFrames == 0 && closed[i].LateFrames == 0 && open[i].Errors == 0 &&
                          open[i].TraceMissed == 0 && open[i].PlotMissed == 0 &&
                          open[i].FramesSent + 2 >= closed[i].FramesSent && closed[i].FramesSent + 2 >= open[i].FramesSent;
        std::printf("  the run's timing with the windows open: %s\n",
                    timingSame ? "unchanged (no frame late, as many frames sent)" : "CHANGED");
        return cost <= budget && timingSame ? 0 : 1;
    } catch (const TBaseError& e) {
        std::fprintf(stderr, "windows_cost: %s: %s\n", e.Operation().c_str(), e.Message().c_str());
        return 1;
    }
}
