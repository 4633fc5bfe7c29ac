// A long run on virtual time (quorvella-cli's --fast): the simulation source with every
// destination on, through the real transmit buffer. The clock moves 2 ms at a time,
// the buffer's OnLoop runs at every step as its timer would, and the 50 ms tick runs
// every 25 steps. Every simulated second the validity manipulation moves each signal
// one place on in the rotation valid -> error -> not available.
//
// Checks that every frame the tick released reached the channel and the output log,
// byte for byte (the channel's frames, formatted as log lines, hash to the file's
// contents), and prints the resident size at start, after the first simulated minute
// and at the end.
//
// Usage: soak [--hours 24]   (e.g. --hours 0.1 for a short run)

#include "bench/benchutil.h"
#include "tests/engine/soakparts.h"
#include "logs/tlogout.h"

#include <cstdio>

using namespace bench;

namespace {

// Frames the tick released, passed on to the transmit buffer.
class TCountingTransmit final : public TCanTransmit {
public:
    explicit TCountingTransmit(TCanBuffer& buffer) : buffer_(buffer) {}
    void Write(const TCanFrame& frame, int64_t delay) override
    {
        buffer_.Write(frame, delay);
        ++released;
    }
    void SetChannel(TCanChannel* channel) override { buffer_.SetChannel(channel); }
    long released = 0;

private:
    TCanBuffer& buffer_;
};

// The channel: counts the frames and hashes them as the output log writes them. The
// buffer hands over the due time, which is the frame's time plus lead.
class THashingChannel final : public TCanChannel {
public:
    explicit THashingChannel(int64_t lead) : lead_(lead) {}
    TCanFrame Read() override { return TCanFrame(); }
    void Write(const TCanFrame& frame) override
    {
        TCanFrame logged = frame;
        logged.Time -= lead_;
        TAString line = TLogOut::Line(logged);
        line += "\r\n";
        hash.Add(line.c_str(), static_cast<size_t>(line.Length()));
        ++frames;
    }
    long frames = 0;
    THash hash;

private:
    int64_t lead_;
};

// Lines (LF) and hash of the file's bytes.
long HashFile(const std::string& name, THash& hash)
{
    std::FILE* file = std::fopen(name.c_str(), "rb");
    if (!file) return -1;
    long lines = 0;
    std::vector<char> block(1 << 20);
    size_t got = 0;
    while ((got = std::fread(block.data(), 1, block.size(), file)) > 0) {
        hash.Add(block.data(), got);
        lines += std::count(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(got), '\n');
    }
    std::fclose(file);
    return lines;
}

}  // namespace

int main(int argc, char** argv)
{
    const TFlags flags(argc, argv);
    const double hours = flags.Number("--hours", 24);
    try {
        TTempDir dir;
        const std::string logName = dir.File("soak.asc");
        const long rssStart = ResidentBytes();
        std::printf("soak: %.2f h of virtual time, simulation source, channel + output log + monitor\n", hours);
        std::fflush(stdout);

        TManualTimeSource clock(0);
        TCanBuffer buffer(clock);
        TCountingTransmit transmit(buffer);
        TRunEngine engine(clock, transmit);
        TCountingErrors errors;
        TRecordingCockpit cockpit;
        TRotatingValidity validity(engine);
        TTextMonitor monitor;
        engine.SetErrorReporter(&errors);
        engine.SetCockpit(&cockpit);
        engine.SetValidity(&validity);
        engine.SetMonitor(&monitor);
        engine.Controls.Simulation = true;
        engine.Controls.ValidManip = true;
        engine.Controls.Display = true;
        engine.Controls.SendCan = true;
        if (!engine.OpenLogOut(TAString(logName))) throw TBaseError("soak", "cannot open the output log");
        engine.Controls.LogFile = true;
        THashingChannel channel(TRunEngine::TransmitLead);
        engine.SetCanChannel(&channel);

        const int64_t duration = static_cast<int64_t>(hours * 3600e6);
        const int64_t timerStep = 2000;
        const int stepsPerTick = TRunEngine::TickIntervalMs * 1000 / timerStep;
        const int64_t wall0 = NowMicros();
        const double cpu0 = CpuSeconds();
        long rssMinute = 0;
        int64_t nextReport = 3600000000LL;
        engine.Start();
        cockpit.StartEngine();
        while (engine.Running() && engine.SimTime() < duration) {
            for (int i = 0; i < stepsPerTick; ++i) {
                clock.AdvanceMicros(timerStep);
                buffer.OnLoop();
            }
            engine.TimerSysTimer();
            if (rssMinute == 0 && engine.SimTime() >= 60000000) rssMinute = ResidentBytes();
            if (engine.SimTime() >= nextReport) {
                std::printf("  %5.1f h: %ld frames, resident %.1f MiB, %.0f s wall\n", engine.SimTime() / 3600e6,
                            channel.frames, ResidentBytes() / 1048576.0, (NowMicros() - wall0) / 1e6);
                std::fflush(stdout);
                nextReport += 3600000000LL;
            }
        }
        engine.Stop();
        // The last frames are due up to the transmit lead later.
        for (int64_t t = 0; t <= TRunEngine::TransmitLead + 10 * timerStep; t += timerStep) {
            clock.AdvanceMicros(timerStep);
            buffer.OnLoop();
        }
        const double wall = (NowMicros() - wall0) / 1e6;
        const double cpu = CpuSeconds() - cpu0;
        const long rssEnd = ResidentBytes();
        engine.SetCanChannel(nullptr);
        engine.LogOut().Close();
        const TBaseError late = buffer.TakeError();

        THash fileHash;
        const long lines = HashFile(logName, fileHash);
        const bool equal = transmit.released == channel.frames && channel.frames == lines &&
                           fileHash.Value() == channel.hash.Value() && late.Operation().IsEmpty();

        std::printf("results\n");
        std::printf("  simulated %.2f h in %.1f s wall (%.0fx real time), CPU %.1f s\n", engine.SimTime() / 3600e6, wall,
                    engine.SimTime() / 1e6 / wall, cpu);
        std::printf("  frames released %ld, written to the channel %ld, lines in the output log %ld, contents %s\n",
                    transmit.released, channel.frames, lines, fileHash.Value() == channel.hash.Value() ? "equal" : "DIFFER");
        std::printf("  validity changes %ld, monitor refreshes %ld, errors %d%s\n", validity.changes, monitor.refreshes,
                    errors.count, late.Operation().IsEmpty() ? "" : " (and one left in the transmit buffer)");
        std::printf("  resident: start %.1f MiB, after 1 min %.1f MiB, end %.1f MiB (growth since minute 1: %.2f MiB)\n",
                    rssStart / 1048576.0, rssMinute / 1048576.0, rssEnd / 1048576.0, (rssEnd - rssMinute) / 1048576.0);
        std::printf("  %s\n", equal && errors.count == 0 ? "PASS: no frame lost" : "FAIL");
        return equal && errors.count == 0 ? 0 : 1;
    } catch (const TBaseError& e) {
        std::fprintf(stderr, "soak: %s: %s\n", e.Operation().c_str(), e.Message().c_str());
        return 1;
    }
}
