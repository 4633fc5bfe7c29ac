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
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

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

// One run, in the order the runner goes through it: the inputs (settings, model
// names, options, the source), the destinations (output log, channel), the run itself,
// and its end (the transmit buffer drained, the channel closed, the log closed, the
// timing self-check printed and written). Each phase returns an exit status when the
// run cannot go on.
class TCliRun {
public:
    TCliRun(const TCliOptions& options, std::FILE* out, std::FILE* err)
        : o_(options),
          out_(out),
          err_(err),
          reporter_(err),
          engineClock_(options.Fast ? static_cast<const TTimeSource&>(virtualClock_) : realClock_),
          buffer_(realClock_),
          bufferTransmit_(buffer_),
          engine_(engineClock_, options.Fast ? static_cast<TCanTransmit&>(directTransmit_)
                                             : static_cast<TCanTransmit&>(bufferTransmit_)),
          catalogue_(engine_.Catalogue()),
          validity_(catalogue_),
          adapters_(QtCanBusDriverTable()),
          timer_(&buffer_, timerLock_)
    {
        engine_.SetErrorReporter(&reporter_);
    }

    std::optional<TCliRunner::TExit> CheckInputs();
    std::optional<TCliRunner::TExit> OpenDestinations();
    void RunLoop(const std::atomic<bool>& stop);
    TCliRunner::TExit Finish();

private:
    std::optional<TCliRunner::TExit> ReadSettings();
    std::optional<TCliRunner::TExit> SetUpVehicle();
    std::optional<TCliRunner::TExit> SetUpOptions();
    std::optional<TCliRunner::TExit> LoadSource();

    TCliRunner::TExit Usage(const TAString& text)
    {
        std::fprintf(err_, "quorvella-cli: %s\n", text.c_str());
        return TCliRunner::ExitUsage;
    }
    TCliRunner::TExit Failed(const TBaseError& e)
    {
        reporter_.ShowError(e);
        return TCliRunner::ExitFailed;
    }
    bool Simulation() const { return o_.Source == TCliOptions::TSource::Sim; }

    const TCliOptions& o_;
    std::FILE* out_;
    std::FILE* err_;
    TPrintingReporter reporter_;

    // The channel description: --channel, or the adapter of a settings file.
    std::optional<TAString> description_;

    // Virtual time: a clock that only moves when the loop says so. Real time: the
    // monotonic clock, with the transmit buffer's timer thread sending at due times.
    TManualTimeSource virtualClock_{0};
    const TTimeSource& realClock_ = TMonotonicTimeSource::Instance();
    TCappedTimeSource engineClock_;
    TCanBuffer buffer_;
    TCanBufferTransmit bufferTransmit_;
    TDirectTransmit directTransmit_;

    TRunEngine engine_;
    TRecordingCockpit cockpit_;
    TBusFmsStandard& catalogue_;
    TCliValidity validity_;
    std::vector<bool> leftOut_;

    TCanAdapters adapters_;
    TCanChannel* opened_ = nullptr;
    TNullChannel nullChannel_;
    TTimingReport timing_;
    int64_t startMicros_ = 0;
    std::unique_ptr<TTimedChannel> timed_;

    std::mutex timerLock_;
    TMultimediaTimer timer_;
    double ranSeconds_ = 0;
};

std::optional<TCliRunner::TExit> TCliRun::CheckInputs()
{
    description_ = o_.Channel;
    if (auto exit = ReadSettings()) return exit;

    engine_.Controls.Simulation = Simulation();
    engine_.Controls.InternalLog = o_.Source == TCliOptions::TSource::Internal;
    engine_.Controls.Repeat = o_.Repeat;
    engine_.Controls.Display = false;
    engine_.Controls.SendCan = true;
    engine_.Controls.ValidManip = Simulation();
    if (Simulation()) {
        engine_.SetCockpit(&cockpit_);
        engine_.SetValidity(&validity_);
    }
    if (auto exit = SetUpVehicle()) return exit;
    if (auto exit = SetUpOptions()) return exit;
    return LoadSource();
}

std::optional<TCliRunner::TExit> TCliRun::ReadSettings()
{
    if (!o_.SettingsFile) return std::nullopt;
    TXmlElement config;
    try {
        config.LoadFromFile(*o_.SettingsFile);
    } catch (const TBaseError& e) {
        return Failed(e);
    }
    // The Vector library's location, as the windowed program takes it at start-up.
    if (config.Contains("FileNameVectorDll") && config["FileNameVectorDll"].Contains("<TEXT>")) {
        const TAString& dll = config["FileNameVectorDll"]("<TEXT>");
        if (!dll.IsEmpty()) VectorDllPath() = dll;
    }
    if (!description_ && config.Contains("CanAdapter") && config["CanAdapter"].CountKeys() > 0)
        description_ = TCanAdapters::ChannelDescription(config["CanAdapter"].GetKey(0), QtCanBusDriverTable());
    return std::nullopt;
}

// The vehicle and its signals.
std::optional<TCliRunner::TExit> TCliRun::SetUpVehicle()
{
    TLkw& lkw = cockpit_.Lkw();
    for (const auto& [name, value] : o_.Sets) {
        if (lkw.GetMV(name) == TLkw::NoValue) return Usage("--set: the vehicle model has no value named '" + name + "'");
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
    if (o_.Vin) lkw.SetVehicleId(*o_.Vin);
    if (o_.Driver1) lkw.SetDriverId1(*o_.Driver1);
    if (o_.Driver2) lkw.SetDriverId2(*o_.Driver2);
    if (!o_.TellTales.empty()) {
        std::string tellTales = lkw.GetTellTales().str();
        tellTales.resize(41, '0');
        for (const auto& [n, state] : o_.TellTales) tellTales[static_cast<size_t>(n - 1)] = char('0' + state);
        lkw.SetTellTales(TAString(tellTales));
    }
    for (const auto& [name, word] : o_.Forces) {
        const int row = validity_.manip.FindRow(name);
        if (row < 0) return Usage("--force: no signal is named '" + name + "'");
        if (validity_.manip.FindChoice(row, word) == TValidManip::NoItem) {
            TAString offered;
            for (const TAString& item : validity_.manip.Row(row).Items) offered += (offered.IsEmpty() ? "" : ", ") + item;
            return Usage("--force " + name + ": '" + word + "' is not a choice of this signal (" + offered + ")");
        }
        validity_.manip.Force(name, word);
    }
    return std::nullopt;
}

// Options: source address, priority and the groups left out.
std::optional<TCliRunner::TExit> TCliRun::SetUpOptions()
{
    const std::vector<TAString> items = TOptionsEditor::FrameItems(catalogue_);
    std::vector<bool> checked(items.size(), true);
    leftOut_.assign(items.size(), false);
    for (uint32_t pgn : o_.Drops) {
        const int index = TOptionsEditor::FrameIndexOfPgn(catalogue_, pgn);
        if (index < 0) return Usage("--drop " + TAString::Hex16(static_cast<uint16_t>(pgn)) + ": not a group of the catalogue");
        checked[static_cast<size_t>(index)] = false;
        if (Simulation()) leftOut_[static_cast<size_t>(index)] = true;
    }
    engine_.Options = TOptionsEditor::Apply(o_.SourceAddress.value_or("x00"), o_.Priority.value_or("6"), checked).Options;
    return std::nullopt;
}

std::optional<TCliRunner::TExit> TCliRun::LoadSource()
{
    if (o_.Source == TCliOptions::TSource::Internal) {
        engine_.InternalLines = TInternalLog::Lines();
    } else if (o_.Source == TCliOptions::TSource::Log) {
        if (!engine_.LoadUserLog(o_.LogFile))
            return Failed(TBaseError("quorvella-cli", "cannot load the log file '" + o_.LogFile + "'"));
    }
    return std::nullopt;
}

std::optional<TCliRunner::TExit> TCliRun::OpenDestinations()
{
    if (o_.LogOut) {
        std::remove(o_.LogOut->c_str());
        if (!engine_.OpenLogOut(*o_.LogOut))
            return Failed(TBaseError("quorvella-cli", "cannot write the output log '" + *o_.LogOut + "'"));
        engine_.Controls.LogFile = true;
    }
    if (description_) {
        try {
            opened_ = adapters_.OpenChannel(*description_);
        } catch (const TBaseError& e) {
            return Failed(e);
        }
    }
    timed_ = std::make_unique<TTimedChannel>(opened_ ? *opened_ : static_cast<TCanChannel&>(nullChannel_), timing_,
                                             [this](const TCanFrame& frame) -> int64_t {
                                                 if (o_.Fast) return frame.Time;
                                                 return realClock_.Micros() - startMicros_ - TRunEngine::TransmitLead;
                                             });
    if (!o_.Fast) {
        uint32_t error = 0;
        if (!timer_.Start(2, error, 1))
            return Failed(TBaseError("TMultimediaTimer::Start", "timer error " + TAString(int32_t(error))));
    }
    engine_.SetCanChannel(timed_.get());
    return std::nullopt;
}

void TCliRun::RunLoop(const std::atomic<bool>& stop)
{
    const int64_t tickMicros = TRunEngine::TickIntervalMs * 1000;
    const int64_t durationMicros = o_.Duration ? static_cast<int64_t>(*o_.Duration * 1e6 + 0.5) : INT64_MAX;
    engine_.Start();
    startMicros_ = static_cast<int64_t>(engine_.StartTime() * 1000000.0L);
    if (o_.Duration) engineClock_.SetCap(engine_.StartTime() + static_cast<long double>(durationMicros) / 1e6L);
    if (o_.Starter && Simulation()) cockpit_.StartEngine();

    int64_t nextMonitor = 1000000;
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    while (engine_.Running() && !stop.load() && engine_.SimTime() < durationMicros) {
        if (o_.Fast) {
            virtualClock_.AdvanceMicros(std::min(tickMicros, durationMicros - engine_.SimTime()));
        } else {
            next.tv_nsec += tickMicros * 1000;
            while (next.tv_nsec >= 1000000000L) {
                next.tv_nsec -= 1000000000L;
                ++next.tv_sec;
            }
            SleepUntil(next);
        }
        engine_.TimerSysTimer();
        if (o_.Monitor && engine_.SimTime() >= nextMonitor) {
            PrintMonitor(out_, catalogue_, engine_.SimTime());
            nextMonitor += 1000000;
        }
    }
    ranSeconds_ = static_cast<double>(engine_.SimTime()) / 1e6;
    engine_.Stop();
}

TCliRunner::TExit TCliRun::Finish()
{
    if (!o_.Fast) {
        // The frames released last are due up to 200 ms later.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
        while (buffer_.Pending() > 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        timer_.Stop();
        // A failure the timer thread recorded after the last frame of the run.
        const TBaseError late = buffer_.TakeError();
        if (!late.Operation().IsEmpty()) reporter_.ShowError(late);
    }
    engine_.SetCanChannel(nullptr);
    if (opened_) adapters_.CloseChannel(opened_);
    opened_ = nullptr;
    engine_.LogOut().Close();

    const std::vector<TTimingGroup> groups = timing_.Groups(catalogue_, leftOut_, engine_.SimTime() / 1000);
    std::fprintf(out_, "%s", TTimingReport::Text(groups).c_str());
    std::fflush(out_);
    if (o_.ReportFile) {
        try {
            TTimingReport::Json(groups, o_.Fast ? "virtual" : "real-time", ranSeconds_).SaveToFile(*o_.ReportFile, false);
        } catch (const TBaseError&) {
            reporter_.ShowError(TBaseError("quorvella-cli", "cannot write the report '" + *o_.ReportFile + "'"));
        }
    }
    if (reporter_.count > 0) return TCliRunner::ExitFailed;
    if (o_.StrictTiming && TTimingReport::AnyFlagged(groups)) return TCliRunner::ExitFailed;
    return TCliRunner::ExitOk;
}

}  // namespace

TCliRunner::TCliRunner(const TCliOptions& options, std::FILE* out, std::FILE* err)
    : options_(options), out_(out), err_(err)
{
}

TCliRunner::TExit TCliRunner::Run(const std::atomic<bool>& stop)
{
    auto run = std::make_unique<TCliRun>(options_, out_, err_);
    if (auto exit = run->CheckInputs()) return *exit;
    if (auto exit = run->OpenDestinations()) return *exit;
    run->RunLoop(stop);
    return run->Finish();
}
