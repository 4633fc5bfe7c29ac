#include "app/cli/tclirunner.h"

#include "app/tcanbuffer.h"
#include "app/tcanbuffertransmit.h"
#include "app/terrorreporter.h"
#include "app/terrortable.h"
#include "app/tinternallog.h"
#include "app/tmultimediatimer.h"
#include "app/toptionseditor.h"
#include "app/trecordingcockpit.h"
#include "app/trunengine.h"
#include "app/trunvalidity.h"
#include "app/ttimesource.h"
#include "app/ttimingreport.h"
#include "can/qtcanbus/qtcanbusdriverentry.h"
#include "can/tcanadapters.h"
#include "can/tcanchannel.h"
#include "can/vector/tcandrivervector.h"
#include "fms/tbusfmsstandard.h"
#include "fms/tvalidmanip.h"
#include "fms/tvehicledatatext.h"
#include "support/tbaseerror.h"
#include "support/txmlelement.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <thread>

namespace {

// Prints what the error dialog would show.
class TPrintingReporter final : public TErrorReporter {
public:
    explicit TPrintingReporter(std::FILE* err) : err_(err) {}
    void ShowError(const TBaseError& error) override
    {
        ++count;
        TAString text = TErrorTable::Lookup(error).BoxText;
        while (text.Length() > 0 && text[text.Length() - 1] == '\n') text.Truncate(text.Length() - 1);
        text.Replace("\n", ": ", -1);
        std::fprintf(err_, "quorvella-cli: %s\n", text.c_str());
        std::fflush(err_);
    }
    // Told, but nothing was lost: not a failure of the run.
    void ShowNotice(const TBaseError& notice) override
    {
        const int before = count;
        ShowError(notice);
        count = before;
    }
    int count = 0;

private:
    std::FILE* err_;
};

// The frames go nowhere: stands in for a channel when none is given, so that the
// timing self-check still sees every frame leave.
class TNullChannel final : public TCanChannel {
public:
    TCanFrame Read() override { return TCanFrame(); }
    void Write(const TCanFrame&) override {}
};

// Passes frames on to the real channel and notes when each one left.
class TTimedChannel final : public TCanChannel {
public:
    using TStamp = std::function<int64_t(const TCanFrame&)>;
    TTimedChannel(TCanChannel& channel, TTimingReport& report, TStamp stamp)
        : channel_(channel), report_(report), stamp_(std::move(stamp))
    {
    }
    TCanFrame Read() override { return channel_.Read(); }
    void Write(const TCanFrame& frame) override
    {
        channel_.Write(frame);
        report_.Record(frame, stamp_(frame));
    }

private:
    TCanChannel& channel_;
    TTimingReport& report_;
    TStamp stamp_;
};

// On virtual time every released frame goes to the channel at once.
class TDirectTransmit final : public TCanTransmit {
public:
    void Write(const TCanFrame& frame, int64_t) override
    {
        if (channel_) channel_->Write(frame);
    }
    void SetChannel(TCanChannel* channel) override { channel_ = channel; }

private:
    TCanChannel* channel_ = nullptr;
};

// The engine's clock, held at the end of the run so that real time and virtual time
// release exactly the same frames.
class TCappedTimeSource final : public TTimeSource {
public:
    explicit TCappedTimeSource(const TTimeSource& base) : base_(base) {}
    void SetCap(long double seconds) { cap_ = seconds; capped_ = true; }
    long double Seconds() const override
    {
        const long double now = base_.Seconds();
        return capped_ && now > cap_ ? cap_ : now;
    }

private:
    const TTimeSource& base_;
    long double cap_ = 0;
    bool capped_ = false;
};

// The validity window without the window: the same choices, applied from the command line.
class TCliValidity final : public TRunValidity {
public:
    explicit TCliValidity(const TBusFmsStandard& catalogue) : manip(catalogue) {}
    void Execute(TBusFmsStandard& catalogue) override { manip.Execute(catalogue); }
    TValidManip manip;
};

void PrintMonitor(std::FILE* out, const TBusFmsStandard& catalogue, int64_t simMicros)
{
    std::fprintf(out, "--- data monitor at %.3f s\n%s", static_cast<double>(simMicros) / 1e6,
                 TVehicleDataText::Table(catalogue).c_str());
    std::fflush(out);
}

void SleepUntil(const timespec& deadline)
{
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) != 0) {
    }
}

}  // namespace

TCliRunner::TCliRunner(const TCliOptions& options, std::FILE* out, std::FILE* err)
    : options_(options), out_(out), err_(err)
{
}

TCliRunner::TExit TCliRunner::Run(const std::atomic<bool>& stop)
{
    const TCliOptions& o = options_;
    TPrintingReporter reporter(err_);
    auto usage = [&](const TAString& text) {
        std::fprintf(err_, "quorvella-cli: %s\n", text.c_str());
        return ExitUsage;
    };
    auto failed = [&](const TBaseError& e) {
        reporter.ShowError(e);
        return ExitFailed;
    };

    // The channel description: --channel, or the adapter of a settings file.
    std::optional<TAString> description = o.Channel;
    if (o.SettingsFile) {
        TXmlElement config;
        try {
            config.LoadFromFile(*o.SettingsFile);
        } catch (const TBaseError& e) {
            return failed(e);
        }
        // The Vector library's location, as the windowed program takes it at start-up.
        if (config.Contains("FileNameVectorDll") && config["FileNameVectorDll"].Contains("<TEXT>")) {
            const TAString& dll = config["FileNameVectorDll"]("<TEXT>");
            if (!dll.IsEmpty()) VectorDllPath() = dll;
        }
        if (!description && config.Contains("CanAdapter") && config["CanAdapter"].CountKeys() > 0)
            description = TCanAdapters::ChannelDescription(config["CanAdapter"].GetKey(0), QtCanBusDriverTable());
    }

    // Virtual time: a clock that only moves when the loop says so. Real time: the
    // monotonic clock, with the transmit buffer's timer thread sending at due times.
    TManualTimeSource virtualClock(0);
    const TTimeSource& realClock = TMonotonicTimeSource::Instance();
    TCappedTimeSource engineClock(o.Fast ? static_cast<const TTimeSource&>(virtualClock) : realClock);
    TCanBuffer buffer(realClock);
    TCanBufferTransmit bufferTransmit(buffer);
    TDirectTransmit directTransmit;
    TCanTransmit& transmit = o.Fast ? static_cast<TCanTransmit&>(directTransmit) : bufferTransmit;

    TRunEngine engine(engineClock, transmit);
    engine.SetErrorReporter(&reporter);
    TRecordingCockpit cockpit;
    TBusFmsStandard& catalogue = engine.Catalogue();
    TCliValidity validity(catalogue);

    const bool simulation = o.Source == TCliOptions::TSource::Sim;
    engine.Controls.Simulation = simulation;
    engine.Controls.InternalLog = o.Source == TCliOptions::TSource::Internal;
    engine.Controls.Repeat = o.Repeat;
    engine.Controls.FromFirstFrame = o.FromFirstFrame;
    engine.Controls.Display = false;
    engine.Controls.SendCan = true;
    engine.Controls.ValidManip = simulation;
    if (simulation) {
        engine.SetCockpit(&cockpit);
        engine.SetValidity(&validity);
    }

    // The vehicle and its signals.
    TLkw& lkw = cockpit.Lkw();
    for (const auto& [name, value] : o.Sets) {
        if (lkw.GetMV(name) == TLkw::NoValue) return usage("--set: the vehicle model has no value named '" + name + "'");
        if (name == "Gaspedal") {
            lkw.SetAccelerator(value);
        } else if (name == "Bremspedal") {
            lkw.SetBrake(value);
        } else if (name == "Gang") {
            lkw.SetGear(static_cast<int>(value));
        } else {
            lkw.SetMV(name, value);
        }
    }
    if (o.Vin) lkw.SetVehicleId(*o.Vin);
    if (o.Driver1) lkw.SetDriverId1(*o.Driver1);
    if (o.Driver2) lkw.SetDriverId2(*o.Driver2);
    if (!o.TellTales.empty()) {
        std::string tellTales = lkw.GetTellTales().str();
        tellTales.resize(41, '0');
        for (const auto& [n, state] : o.TellTales) tellTales[static_cast<size_t>(n - 1)] = char('0' + state);
        lkw.SetTellTales(TAString(tellTales));
    }
    for (const auto& [name, word] : o.Forces) {
        const int row = validity.manip.FindRow(name);
        if (row < 0) return usage("--force: no signal is named '" + name + "'");
        if (validity.manip.FindChoice(row, word) == TValidManip::NoItem) {
            TAString offered;
            for (const TAString& item : validity.manip.Row(row).Items) offered += (offered.IsEmpty() ? "" : ", ") + item;
            return usage("--force " + name + ": '" + word + "' is not a choice of this signal (" + offered + ")");
        }
        validity.manip.Force(name, word);
    }

    // Options: source address, priority and the groups left out.
    const std::vector<TAString> items = TOptionsEditor::FrameItems(catalogue);
    std::vector<bool> checked(items.size(), true);
    std::vector<bool> leftOut(items.size(), false);
    for (uint32_t pgn : o.Drops) {
        const int index = TOptionsEditor::FrameIndexOfPgn(catalogue, pgn);
        if (index < 0) return usage("--drop " + TAString::Hex16(static_cast<uint16_t>(pgn)) + ": not a group of the catalogue");
        checked[static_cast<size_t>(index)] = false;
        if (simulation) leftOut[static_cast<size_t>(index)] = true;
    }
    engine.Options = TOptionsEditor::Apply(o.SourceAddress.value_or("x00"), o.Priority.value_or("6"), checked).Options;

    // Sources.
    if (o.Source == TCliOptions::TSource::Internal) {
        engine.InternalLines = TInternalLog::Log();
    } else if (o.Source == TCliOptions::TSource::Log) {
        if (!engine.LoadUserLog(o.LogFile, &stop)) return ExitFailed;   // the engine said why
        std::fprintf(out_, "log: %s\n", engine.UserLines().Summary().c_str());
        std::fflush(out_);
    }

    // Destinations.
    if (o.LogOut) {
        std::remove(o.LogOut->c_str());
        engine.LogOut().SetFormat(o.LogFormat.value_or(TLogOutFormat::Layout5));
        if (!engine.OpenLogOut(*o.LogOut))
            return failed(TBaseError("quorvella-cli", "cannot write the output log '" + *o.LogOut + "'"));
        engine.Controls.LogFile = true;
    }
    TCanAdapters adapters(QtCanBusDriverTable());
    TCanChannel* opened = nullptr;
    if (description) {
        try {
            opened = adapters.OpenChannel(*description);
        } catch (const TBaseError& e) {
            return failed(e);
        }
    }
    TNullChannel nullChannel;
    TTimingReport timing;
    int64_t startMicros = 0;
    TTimedChannel timed(opened ? *opened : static_cast<TCanChannel&>(nullChannel), timing,
                        [&](const TCanFrame& frame) -> int64_t {
                            if (o.Fast) return frame.Time;
                            return realClock.Micros() - startMicros - TRunEngine::TransmitLead;
                        });

    std::mutex timerLock;
    TMultimediaTimer timer(&buffer, timerLock);
    if (!o.Fast) {
        uint32_t error = 0;
        if (!timer.Start(2, error, 1))
            return failed(TBaseError("TMultimediaTimer::Start", "timer error " + TAString(int32_t(error))));
    }
    engine.SetCanChannel(&timed);
    // The transmit side lets go of the channel before it is closed, whichever way Run ends.
    struct TLetGo {
        TRunEngine& engine;
        ~TLetGo() { engine.SetCanChannel(nullptr); }
    } letGo{engine};

    // The run.
    const int64_t tickMicros = TRunEngine::TickIntervalMs * 1000;
    const int64_t durationMicros = o.Duration ? static_cast<int64_t>(*o.Duration * 1e6 + 0.5) : INT64_MAX;
    engine.Start();
    startMicros = static_cast<int64_t>(engine.StartTime() * 1000000.0L);
    if (o.Duration) engineClock.SetCap(engine.StartTime() + static_cast<long double>(durationMicros) / 1e6L);
    if (o.Starter && simulation) cockpit.StartEngine();

    int64_t nextMonitor = 1000000;
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    while (engine.Running() && !stop.load() && engine.SimTime() < durationMicros) {
        if (o.Fast) {
            // A log with long silences (epoch times, a gap of days) jumps to its next frame.
            const int64_t before = engine.SimTime();
            virtualClock.AdvanceMicros(engine.SkipIdleTime(durationMicros) - before);
            virtualClock.AdvanceMicros(std::min(tickMicros, durationMicros - engine.SimTime()));
        } else {
            next.tv_nsec += tickMicros * 1000;
            while (next.tv_nsec >= 1000000000L) {
                next.tv_nsec -= 1000000000L;
                ++next.tv_sec;
            }
            SleepUntil(next);
        }
        engine.TimerSysTimer();
        if (o.Monitor && engine.SimTime() >= nextMonitor) {
            PrintMonitor(out_, catalogue, engine.SimTime());
            nextMonitor += 1000000;
        }
    }
    const double ranSeconds = static_cast<double>(engine.SimTime()) / 1e6;
    engine.Stop();

    if (!o.Fast) {
        // The frames released last are due up to 200 ms later.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
        while (buffer.Pending() > 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        timer.Stop();
        if (const int unsent = buffer.Pending(); unsent > 0) {
            reporter.ShowError(TBaseError("quorvella-cli", "frames not sent",
                                          TAString(int32_t(unsent)) + " frames were still in the transmit buffer "
                                                                      "1 s after the end of the run"));
        }
        // A failure the timer thread recorded after the last frame of the run.
        const TBaseError late = buffer.TakeError();
        if (!late.Operation().IsEmpty()) reporter.ShowError(late);
    }
    engine.SetCanChannel(nullptr);
    if (opened) adapters.CloseChannel(opened);
    engine.LogOut().Close();

    const std::vector<TTimingGroup> groups = timing.Groups(catalogue, leftOut, engine.SimTime() / 1000);
    std::fprintf(out_, "%s", TTimingReport::Text(groups).c_str());
    std::fflush(out_);
    if (o.ReportFile) {
        try {
            TTimingReport::Json(groups, o.Fast ? "virtual" : "real-time", ranSeconds).SaveToFile(*o.ReportFile, false);
        } catch (const TBaseError&) {
            reporter.ShowError(TBaseError("quorvella-cli", "cannot write the report '" + *o.ReportFile + "'"));
        }
    }
    if (reporter.count > 0) return ExitFailed;
    if (o.StrictTiming && TTimingReport::AnyFlagged(groups)) return ExitFailed;
    return ExitOk;
}
