#pragma once
// Helpers the benchmarks share: statistics, process CPU time and resident size, flags,
// a temporary folder, and a real-time run of the engine wired as quorvella-cli wires
// it (the engine on the monotonic clock, the transmit buffer on its 2 ms timer thread,
// the simulation source with every signal valid).
//
// Every benchmark prints its figures and a baseline measured in the same process run,
// so a figure can be read against what the machine gives at that moment.

#include "bench/loopback.h"
#include "engine/tcanbuffer.h"
#include "engine/tcanbuffertransmit.h"
#include "engine/terrorreporter.h"
#include "engine/tmultimediatimer.h"
#include "engine/trecordingcockpit.h"
#include "engine/trunengine.h"
#include "engine/trunmonitor.h"
#include "tests/engine/soakparts.h"
#include "engine/trunvalidity.h"
#include "engine/ttimesource.h"
#include "can/tcanchannel.h"
#include "fms/tbusfmsstandard.h"
#include "support/tbaseerror.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace bench {

struct TStats {
    double Median = 0;
    double P99 = 0;
    double Max = 0;
    double Min = 0;
    size_t Count = 0;
};

// Nearest-rank percentiles of values (any order).
inline TStats Summarise(std::vector<double> values)
{
    TStats s;
    s.Count = values.size();
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    auto rank = [&](double p) {
        size_t k = static_cast<size_t>(p * static_cast<double>(values.size()) + 0.999999);
        k = std::clamp<size_t>(k, 1, values.size());
        return values[k - 1];
    };
    s.Median = rank(0.5);
    s.P99 = rank(0.99);
    s.Max = values.back();
    s.Min = values.front();
    return s;
}

inline int64_t NowMicros()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

inline int64_t NowNanos()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// User plus system CPU time of the whole process (every thread), seconds.
inline double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Resident size from /proc/self/statm, bytes.
inline long ResidentBytes()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

inline double Ratio(double figure, double baseline)
{
    return baseline > 0 ? figure / baseline : 0.0;
}

// --name value and --name; anything else is ignored.
class TFlags {
public:
    TFlags(int argc, char** argv) : args_(argv + 1, argv + argc) {}
    bool Has(const std::string& name) const { return std::find(args_.begin(), args_.end(), name) != args_.end(); }
    double Number(const std::string& name, double fallback) const
    {
        for (size_t i = 0; i + 1 < args_.size(); ++i)
            if (args_[i] == name) return std::atof(args_[i + 1].c_str());
        return fallback;
    }
    std::string Text(const std::string& name, const std::string& fallback) const
    {
        for (size_t i = 0; i + 1 < args_.size(); ++i)
            if (args_[i] == name) return args_[i + 1];
        return fallback;
    }

private:
    std::vector<std::string> args_;
};

// A folder under TMPDIR (or /tmp), removed with its contents on destruction.
class TTempDir {
public:
    TTempDir()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/qvbench.XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) == nullptr) throw TBaseError("TTempDir", "cannot make a temporary folder");
        path_ = name.data();
    }
    ~TTempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Every signal valid, as the validity window leaves them when nothing is forced.
class TAllValid final : public TRunValidity {
public:
    void Execute(TBusFmsStandard& catalogue) override
    {
        for (int i = 0; i < catalogue.SignalCount(); ++i) catalogue.Signal(i).MeasVal->State = msValid;
    }
    uint64_t ChoicesVersion() const override { return 0; }   // the same for the whole run
};

class TCountingErrors final : public TErrorReporter {
public:
    void ShowError(const TBaseError& error) override
    {
        if (count++ == 0) std::fprintf(stderr, "error: %s: %s\n", error.Operation().c_str(), error.Message().c_str());
    }
    int count = 0;
};

// One frame as it left the transmit buffer.
struct TDeparture {
    uint32_t Id;
    std::array<uint8_t, 8> Data;
    int64_t DueMicros;      // on the monotonic scale
    int64_t LeftMicros;     // when the channel's Write was called
};

// Notes every departure, then passes the frame on (or drops it when there is no
// channel behind). Write runs on the timer thread; read the departures only after the
// timer has stopped (its thread is joined).
class TDepartureChannel final : public TCanChannel {
public:
    explicit TDepartureChannel(TCanChannel* next) : next_(next) { departures.reserve(1 << 17); }
    TCanFrame Read() override { return next_ ? next_->Read() : TCanFrame(); }
    void Write(const TCanFrame& frame) override
    {
        const int64_t now = NowMicros();
        if (departures.size() < departures.capacity()) departures.push_back({frame.Id, frame.Data, frame.Time, now});
        if (next_) next_->Write(frame);
    }
    std::vector<TDeparture> departures;

private:
    TCanChannel* next_;
};

struct TRealTimeResult {
    double WallSeconds = 0;
    double CpuSeconds = 0;
    int64_t StartMicros = 0;   // the run's Start on the monotonic scale
    int Errors = 0;
    int MonitorRefreshes = 0;
    std::string Scheduling;    // what the transmit timer got
};

struct TRealTimeSetup {
    double Seconds = 20;
    TCanChannel* Channel = nullptr;   // the open channel (wrap it to observe departures)
    std::string LogOut;               // output log file, empty: none
    bool Monitor = false;             // the data monitor on
    // Where the 50 ms ticks fall after Start, ms. At 0 (as quorvella-cli ticks) each
    // tick's first step is 1 ms after a multiple of 5 ms.
    double TickPhaseMs = 0;
};

// A real-time run of the simulation source, as quorvella-cli runs one: a 50 ms tick
// sleeping to absolute deadlines, the transmit buffer's 2 ms timer sending to the
// channel. CPU time counts from Start to the end of the last send.
inline TRealTimeResult RunRealTime(const TRealTimeSetup& setup)
{
    const TTimeSource& clock = TMonotonicTimeSource::Instance();
    TCanBuffer buffer(clock);
    TCanBufferTransmit transmit(buffer);
    TRunEngine engine(clock, transmit);
    TCountingErrors errors;
    TRecordingCockpit cockpit;
    TAllValid validity;
    TTextMonitor monitor;
    engine.SetErrorReporter(&errors);
    engine.SetCockpit(&cockpit);
    engine.SetValidity(&validity);
    engine.SetMonitor(&monitor);
    engine.Controls.Simulation = true;
    engine.Controls.ValidManip = true;
    engine.Controls.Display = setup.Monitor;
    engine.Controls.SendCan = setup.Channel != nullptr;
    if (!setup.LogOut.empty()) {
        if (!engine.OpenLogOut(setup.LogOut)) throw TBaseError("RunRealTime", "cannot open the output log");
        engine.Controls.LogFile = true;
    }

    std::mutex timerLock;
    TMultimediaTimer timer(&buffer, timerLock);
    timer.SetRealTime(true);
    uint32_t error = 0;
    if (!timer.Start(2, error, 1)) throw TBaseError("RunRealTime", "the transmit timer does not start");
    engine.SetCanChannel(setup.Channel);

    TRealTimeResult result;
    result.Scheduling = timer.SchedulingText();
    const double cpu0 = CpuSeconds();
    const int64_t wall0 = NowMicros();
    engine.Start();
    cockpit.StartEngine();
    result.StartMicros = static_cast<int64_t>(engine.StartTime() * 1000000.0L);
    const int64_t duration = static_cast<int64_t>(setup.Seconds * 1e6);
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    next.tv_nsec += static_cast<long>(setup.TickPhaseMs * 1e6);
    while (engine.Running() && engine.SimTime() < duration) {
        next.tv_nsec += TRunEngine::TickIntervalMs * 1000000L;
        while (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            ++next.tv_sec;
        }
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) != 0) {
        }
        engine.TimerSysTimer();
    }
    engine.Stop();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (buffer.Pending() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    result.CpuSeconds = CpuSeconds() - cpu0;
    result.WallSeconds = static_cast<double>(NowMicros() - wall0) / 1e6;
    timer.Stop();
    engine.SetCanChannel(nullptr);
    engine.LogOut().Close();
    result.Errors = errors.count;
    result.MonitorRefreshes = monitor.refreshes;
    return result;
}

// The bare transmit timer: how late its thread wakes against its 2 ms grid, and the
// CPU it costs.
struct TTimerResult {
    std::vector<double> LatenessMs;
    double WallSeconds = 0;
    double CpuSeconds = 0;
};

class TWakeRecorder final : public TMultimediaTimerCallback {
public:
    bool OnLoop() override
    {
        if (wakes.size() < wakes.capacity()) wakes.push_back(NowNanos());
        return true;
    }
    void OnStart() override {}
    void OnStop() override {}
    std::vector<int64_t> wakes;
};

inline TTimerResult RunBareTimer(double seconds)
{
    TWakeRecorder recorder;
    recorder.wakes.reserve(static_cast<size_t>(seconds * 600) + 1024);
    std::mutex timerLock;
    TMultimediaTimer timer(&recorder, timerLock);
    timer.SetRealTime(true);
    TTimerResult result;
    const double cpu0 = CpuSeconds();
    const int64_t wall0 = NowMicros();
    uint32_t error = 0;
    if (!timer.Start(2, error, 1)) throw TBaseError("RunBareTimer", "the timer does not start");
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int64_t>(seconds * 1e6)));
    timer.Stop();
    result.CpuSeconds = CpuSeconds() - cpu0;
    result.WallSeconds = static_cast<double>(NowMicros() - wall0) / 1e6;
    // Each wake is due one period after the previous deadline; after a wake more than a
    // period late the timer starts its grid afresh from that moment, and so does this
    // reckoning (the callback returns at once, so the previous wake stands for "now").
    // Where the grid started is not known: the earliest wake is taken as on time, so
    // the figures are lateness beyond the machine's least wake-up delay.
    const int64_t period = 2000000;
    std::vector<int64_t> late;
    int64_t due = recorder.wakes.empty() ? 0 : recorder.wakes[0];
    for (size_t k = 1; k < recorder.wakes.size(); ++k) {
        due += period;
        if (due + period < recorder.wakes[k - 1]) due = recorder.wakes[k - 1];
        late.push_back(recorder.wakes[k] - due);
    }
    const int64_t least = late.empty() ? 0 : *std::min_element(late.begin(), late.end());
    for (int64_t l : late) result.LatenessMs.push_back(static_cast<double>(l - least) / 1e6);
    return result;
}

// The transmit timer as frames use it: its callback names the next point of a 2 ms
// grid as its next work, and each wake is measured against that point, so the
// figures are comparable with frame departure - due time (both include the whole
// wake-up delay).
class TDeadlineRecorder final : public TMultimediaTimerCallback {
public:
    bool OnLoop() override
    {
        const int64_t now = NowNanos();
        if (next_ == 0) {
            next_ = now + kPeriod;
            return true;
        }
        if (now < next_) return true;
        if (lateness.size() < lateness.capacity()) lateness.push_back(static_cast<double>(now - next_) / 1e6);
        while (next_ <= now) next_ += kPeriod;
        return true;
    }
    void OnStart() override {}
    void OnStop() override {}
    int64_t MicrosToNextWork() const override
    {
        if (next_ == 0) return 0;
        const int64_t left = next_ - NowNanos();
        return left > 0 ? (left + 999) / 1000 : -1;
    }
    std::vector<double> lateness;   // ms

private:
    static constexpr int64_t kPeriod = 2000000;
    int64_t next_ = 0;   // the timer's thread only
};

struct TDeadlineResult {
    std::vector<double> LatenessMs;
    std::string Scheduling;
};

inline TDeadlineResult RunDeadlineTimer(double seconds)
{
    TDeadlineRecorder recorder;
    recorder.lateness.reserve(static_cast<size_t>(seconds * 600) + 1024);
    std::mutex timerLock;
    TMultimediaTimer timer(&recorder, timerLock);
    timer.SetRealTime(true);
    uint32_t error = 0;
    if (!timer.Start(2, error, 1)) throw TBaseError("RunDeadlineTimer", "the timer does not start");
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int64_t>(seconds * 1e6)));
    timer.Stop();
    return {std::move(recorder.lateness), timer.SchedulingText()};
}

// Processes that keep a core busy (an endless loop each) from construction until
// destruction, to measure under load.
class TBusyProcesses {
public:
    explicit TBusyProcesses(int count)
    {
        for (int i = 0; i < count; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                volatile unsigned long spin = 0;
                for (;;) spin = spin + 1;
            }
            if (pid > 0) pids_.push_back(pid);
        }
    }
    ~TBusyProcesses()
    {
        for (pid_t pid : pids_) kill(pid, SIGKILL);
        for (pid_t pid : pids_) waitpid(pid, nullptr, 0);
    }
    TBusyProcesses(const TBusyProcesses&) = delete;
    TBusyProcesses& operator=(const TBusyProcesses&) = delete;
    size_t Count() const { return pids_.size(); }

private:
    std::vector<pid_t> pids_;
};

inline void PrintStats(const char* what, const TStats& s, const char* unit)
{
    std::printf("  %-44s median %8.3f  p99 %8.3f  max %8.3f %s  (n=%zu)\n", what, s.Median, s.P99, s.Max, unit, s.Count);
}

}  // namespace bench
