// The send-time deviation of the 22-group schedule in a real-time run of the
// simulation source into an in-memory channel, against python-can's periodic sending
// (send_periodic on a "virtual" bus) of the same 22 periods from the catalogue.
//
// Deviation of a message: its send time minus its ideal time. Ideal: the first send of
// the same message plus k periods (for both, so the start-up of either side does not
// count); python-can sleeps a period less the time of the send, without an absolute
// deadline, so its sends drift from that grid. Also the gap to the previous send of
// the same message minus the period, which drift does not affect. For the engine also against its absolute due time (Start + scheduled time +
// 200 ms). A broadcast transfer counts its announcements; its data frames are left out.
//
// Usage: periodic_timing [--seconds 15] [--full (60 s)] [--python /usr/bin/python3]

#include "bench/benchutil.h"

#include <cmath>
#include <cstdio>
#include <map>

using namespace bench;

namespace {

struct TSend {
    uint32_t Key;     // PGN of the message
    double Seconds;   // send time
};

// |send - (first send + k period)| in ms over every message of every key.
std::vector<double> AnchoredDeviation(const std::vector<TSend>& sends, const std::map<uint32_t, int>& periodMs)
{
    std::map<uint32_t, std::pair<double, int>> seen;   // key -> first send, count
    std::vector<double> deviation;
    for (const TSend& s : sends) {
        const auto period = periodMs.find(s.Key);
        if (period == periodMs.end()) continue;
        auto [it, fresh] = seen.try_emplace(s.Key, s.Seconds, 0);
        if (!fresh) {
            const int k = ++it->second.second;
            const double ideal = it->second.first + k * period->second / 1000.0;
            deviation.push_back(std::fabs(s.Seconds - ideal) * 1000.0);
        }
    }
    return deviation;
}

// |(send - previous send of the same key) - period| in ms.
std::vector<double> IntervalDeviation(const std::vector<TSend>& sends, const std::map<uint32_t, int>& periodMs)
{
    std::map<uint32_t, double> last;
    std::vector<double> deviation;
    for (const TSend& s : sends) {
        const auto period = periodMs.find(s.Key);
        if (period == periodMs.end()) continue;
        auto [it, fresh] = last.try_emplace(s.Key, s.Seconds);
        if (!fresh) {
            deviation.push_back(std::fabs((s.Seconds - it->second) * 1000.0 - period->second));
            it->second = s.Seconds;
        }
    }
    return deviation;
}

uint32_t PgnOf(uint32_t id) { return (id >> 8) & 0xFFFF; }

bool PythonPeriodic(const std::string& python, const std::map<uint32_t, int>& periodMs, double seconds,
                    std::vector<TSend>& sends)
{
    std::string pairs;
    for (const auto& [pgn, period] : periodMs) {
        pairs += ' ';
        pairs += std::to_string(pgn);
        pairs += ':';
        pairs += std::to_string(period);
    }
    const std::string script =
        "import sys, time\n"
        "import can\n"
        "duration = float(sys.argv[1])\n"
        "tx = can.Bus(interface='virtual', channel='qvbench')\n"
        "rx = can.Bus(interface='virtual', channel='qvbench')\n"
        "tasks = []\n"
        "for pair in sys.argv[2:]:\n"
        "    pgn, period = (int(x) for x in pair.split(':'))\n"
        "    msg = can.Message(arbitration_id=0x18000000 | (pgn << 8), is_extended_id=True, data=[0] * 8)\n"
        "    tasks.append(tx.send_periodic(msg, period / 1000.0))\n"
        "end = time.time() + duration\n"
        "out = []\n"
        "while time.time() < end:\n"
        "    m = rx.recv(0.1)\n"
        "    if m is not None:\n"
        "        out.append('%d %.6f' % ((m.arbitration_id >> 8) & 0xFFFF, m.timestamp))\n"
        "for t in tasks:\n"
        "    t.stop()\n"
        "tx.shutdown()\n"
        "rx.shutdown()\n"
        "print('\\n'.join(out))\n";
    std::string command = python;
    command += " -I -c \"";
    command += script;
    command += "\" ";
    command += std::to_string(seconds);
    command += pairs;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    unsigned key = 0;
    double t = 0;
    while (std::fscanf(pipe, "%u %lf", &key, &t) == 2) sends.push_back({key, t});
    return pclose(pipe) == 0 && !sends.empty();
}

}  // namespace

int main(int argc, char** argv)
{
    const TFlags flags(argc, argv);
    const double seconds = flags.Has("--full") ? 60 : flags.Number("--seconds", 15);
    const std::string python = flags.Text("--python", "/usr/bin/python3");
    try {
        std::map<uint32_t, int> periodMs;
        {
            const TBusFmsStandard catalogue("00.02");
            for (int i = 0; i < catalogue.SignalCount(); ++i)
                periodMs.emplace(PgnOf(catalogue.Signal(i).CanId), catalogue.Signal(i).Period);
        }
        std::printf("periodic_timing: %zu groups, %.0f s real time each side\n", periodMs.size(), seconds);
        std::fflush(stdout);

        TDepartureChannel recorder(nullptr);
        TRealTimeSetup setup;
        setup.Seconds = seconds;
        setup.Channel = &recorder;
        const TRealTimeResult run = RunRealTime(setup);
        std::vector<TSend> ours;
        std::vector<double> againstDue;
        for (const TDeparture& d : recorder.departures) {
            uint32_t key = PgnOf(d.Id);
            if (key == 0xEB00 || (key & 0xFF00) == 0xEB00) continue;   // data frames of a transfer
            if ((key & 0xFF00) == 0xEC00) key = d.Data[5] | (d.Data[6] << 8) | (static_cast<uint32_t>(d.Data[7]) << 16);
            ours.push_back({key, static_cast<double>(d.LeftMicros) / 1e6});
            againstDue.push_back(static_cast<double>(d.LeftMicros - d.DueMicros) / 1000.0);
        }
        const TStats oursDue = Summarise(againstDue);
        const TStats oursAnchored = Summarise(AnchoredDeviation(ours, periodMs));
        const TStats oursInterval = Summarise(IntervalDeviation(ours, periodMs));

        std::printf("peer: python-can send_periodic on a virtual bus\n");
        std::fflush(stdout);
        std::vector<TSend> theirs;
        const bool py = PythonPeriodic(python, periodMs, seconds, theirs);
        const TStats pyAnchored = Summarise(AnchoredDeviation(theirs, periodMs));
        const TStats pyInterval = Summarise(IntervalDeviation(theirs, periodMs));

        std::printf("results\n");
        std::printf("  engine: %zu messages (%zu frames), errors %d\n", ours.size(), recorder.departures.size(), run.Errors);
        PrintStats("engine: send - due time", oursDue, "ms");
        PrintStats("engine: |send - (first + k period)|", oursAnchored, "ms");
        PrintStats("engine: |gap to previous - period|", oursInterval, "ms");
        if (py) {
            PrintStats("python-can: |send - (first + k period)|", pyAnchored, "ms");
            PrintStats("python-can: |gap to previous - period|", pyInterval, "ms");
            std::printf("  ratio engine/python-can: median %.3g  p99 %.3g  max %.3g\n", Ratio(oursAnchored.Median, pyAnchored.Median),
                        Ratio(oursAnchored.P99, pyAnchored.P99), Ratio(oursAnchored.Max, pyAnchored.Max));
            std::printf("  ratio of gap deviation engine/python-can: median %.3g  p99 %.3g  max %.3g\n",
                        Ratio(oursInterval.Median, pyInterval.Median), Ratio(oursInterval.P99, pyInterval.P99),
                        Ratio(oursInterval.Max, pyInterval.Max));
        } else {
            std::printf("  peer: python-can not available (%s -c 'import can' failed); install python3-can\n", python.c_str());
        }
        return 0;
    } catch (const TBaseError& e) {
        std::fprintf(stderr, "periodic_timing: %s: %s\n", e.Operation().c_str(), e.Message().c_str());
        return 1;
    }
}
