#include "app/cli/tclirunner.h"

#include "app/tcanbuffer.h"
#include "app/tcanbuffertransmit.h"
#include "app/tdbcexport.h"
#include "app/terrorreporter.h"
#include "app/terrortable.h"
#include "app/tinternallog.h"
#include "app/tmodelvaluenames.h"
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
#include "support/Communication/tathread.h"
#include "support/tbaseerror.h"
#include "support/tsafefile.h"
#include "support/txmlelement.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

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

// Errors that end a channel's thread, and losses a channel reports, printed as they come
// (on the channel's thread) and counted; for the run only.
class TChannelReports final {
public:
    explicit TChannelReports(std::FILE* err) : err_(err)
    {
        TAThread::SetReporter([this](const TAString&, const TAString&, const TBaseError& error) {
            TPrintingReporter(err_).ShowError(error);
            ++count_;
        });
    }
    ~TChannelReports() { TAThread::SetReporter(nullptr); }
    TChannelReports(const TChannelReports&) = delete;
    TChannelReports& operator=(const TChannelReports&) = delete;
    int Count() const { return count_.load(); }

private:
    std::FILE* err_;
    std::atomic<int> count_{0};
};

// Lets the channel send what it still holds, stops its receiving, hands every frame it took
// to received (into the output log when it takes received frames, else discarded), closes
// it and reports what it lost on either side; false when it lost anything.
bool CloseChannelReporting(TCanAdapters& adapters, TCanChannel* channel, double drainSeconds, int written,
                           TErrorReporter& reporter, const std::function<void(const TCanFrame&)>& received)
{
    const std::chrono::milliseconds drain(static_cast<int64_t>(drainSeconds * 1000 + 0.5));
    int told = 0;
    TCanAdapters::TClosing closing;
    closing.received = received;
    closing.error = [&](const TBaseError& e) {
        TBaseError error = e;
        if (e.Message() == "Frames not delivered")
            error.SetDetail(e.Detail() + " (" + TAString(std::to_string(written)) + " frames were written)");
        reporter.ShowError(error);
        ++told;
    };
    adapters.CloseChannel(channel, drain, closing);
    return told == 0;
}

// The frames go nowhere: stands in for a channel when none is given, so that the
// timing self-check still sees every frame leave.
class TNullChannel final : public TCanChannel {
public:
    TCanFrame Read() override { return TCanFrame(); }
    void Write(const TCanFrame&) override {}
};

// Passes frames on to the real channel and notes when each one was due and when it left
// (µs since the start of the run).
class TTimedChannel final : public TCanChannel {
public:
    struct TTimes {
        int64_t Due;
        int64_t Departure;
    };
    using TStamp = std::function<TTimes(const TCanFrame&)>;
    TTimedChannel(TCanChannel& channel, TTimingReport& report, TStamp stamp)
        : channel_(channel), report_(report), stamp_(std::move(stamp))
    {
    }
    TCanFrame Read() override { return channel_.Read(); }
    void Write(const TCanFrame& frame) override
    {
        channel_.Write(frame);
        const TTimes times = stamp_(frame);
        report_.Record(frame.Id, frame.Data.data(), times.Due, times.Departure);
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

TAString SignalName(int signal)
{
    switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    case SIGHUP: return "SIGHUP";
    case SIGPIPE: return "SIGPIPE";
    default: return "signal " + TAString(static_cast<int32_t>(signal));
    }
}

// "'file': reason" for a file name given on the command line.
TAString FileReason(const TAString& file, const TAString& reason)
{
    return "'" + file + "': " + reason;
}

// Where and why a settings file failed to load, in words for the user.
TAString SettingsReason(const TAString& file, const TBaseError& e)
{
    if (::access(file.c_str(), R_OK) != 0) return FileReason(file, TAString(std::strerror(errno)));
    TAString reason = FileReason(file, "not a well-formed settings file (" + e.Message());
    if (!e.Detail().IsEmpty()) reason += ": " + e.Detail();
    return reason + ")";
}

void SleepUntil(const timespec& deadline)
{
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) != 0) {
    }
}

// One run, in the order the runner goes through it: the inputs are checked (settings,
// model names, options, the source, and that the output names can take output), the
// channel is opened, then the outputs (nothing at an output's path changes before
// this), the run itself, and its end (the transmit buffer drained, the channel
// closed, the log finished, the timing self-check printed and written). Each phase
// returns an exit status when the run cannot go on.
class TCliRun {
public:
    TCliRun(const TCliOptions& options, const std::atomic<int>& stop, std::FILE* out, std::FILE* err)
        : o_(options),
          stop_(stop),
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
    // Whichever phase ended the run, the timer thread and the engine let go of the channel
    // before it is closed.
    ~TCliRun()
    {
        timer_.Stop();
        engine_.SetCanChannel(nullptr);
        if (opened_) adapters_.CloseChannel(opened_);
    }
    TCliRun(const TCliRun&) = delete;
    TCliRun& operator=(const TCliRun&) = delete;

    std::optional<int> ExportDbc();

    std::optional<int> CheckInputs();
    std::optional<int> OpenChannel();
    std::optional<int> OpenOutputs();
    void RunLoop();
    int Finish();

private:
    std::optional<int> ReadSettings();
    std::optional<int> SetUpVehicle();
    std::optional<int> SetUpOptions();
    std::optional<int> LoadSource();
    std::optional<int> CheckOutputs();

    // Text for standard output. A failed write is reported once; a reader that went
    // away (EPIPE) ends the run as SIGPIPE would.
    void Print(const TAString& text);
    void PrintMonitor();

    int Usage(const TAString& text)
    {
        std::fprintf(err_, "quorvella-cli: %s\n", text.c_str());
        return TCliRunner::ExitUsage;
    }
    int Failed(const TBaseError& e)
    {
        reporter_.ShowError(e);
        return TCliRunner::ExitFailed;
    }
    bool Simulation() const { return o_.Source == TCliOptions::TSource::Sim; }

    const TCliOptions& o_;
    const std::atomic<int>& stop_;   // a stop signal's number, 0 until one came
    std::FILE* out_;
    std::FILE* err_;
    TPrintingReporter reporter_;
    TChannelReports channelReports_{err_};
    bool outFailed_ = false;
    int cutShort_ = 0;   // the signal that ended the run early, 0 when it ran its course

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
    int64_t monitorAt_ = -1;   // when the monitor was printed last
};

// --export-dbc: the file is written and nothing runs.
std::optional<int> TCliRun::ExportDbc()
{
    if (!o_.ExportDbc) return std::nullopt;
    const TBusFmsStandard catalogue("00.02");
    const std::vector<bool> all(TOptionsEditor::FrameItems(catalogue).size(), true);
    const TFrameOptions applied =
        TOptionsEditor::Apply(o_.SourceAddress.value_or("x00"), o_.Priority.value_or("6"), all).Options;
    try {
        TDbcExport::Text(catalogue, applied.SourceAddress, applied.Priority).SaveToFile(*o_.ExportDbc, false);
    } catch (const TBaseError&) {
        return Failed(TBaseError("quorvella-cli", "cannot write the DBC file '" + *o_.ExportDbc + "'"));
    }
    return TCliRunner::ExitOk;
}

std::optional<int> TCliRun::CheckInputs()
{
    description_ = o_.Channel;
    if (auto exit = ReadSettings()) return exit;

    engine_.Controls.Simulation = Simulation();
    engine_.Controls.InternalLog = o_.Source == TCliOptions::TSource::Internal;
    engine_.Controls.Repeat = o_.Repeat;
    engine_.Controls.FromFirstFrame = o_.FromFirstFrame;
    engine_.Controls.Display = false;
    engine_.Controls.SendCan = true;
    engine_.Controls.ValidManip = Simulation();
    if (Simulation()) {
        engine_.SetCockpit(&cockpit_);
        engine_.SetValidity(&validity_);
    }
    if (auto exit = SetUpVehicle()) return exit;
    if (auto exit = SetUpOptions()) return exit;
    if (auto exit = LoadSource()) return exit;
    return CheckOutputs();
}

std::optional<int> TCliRun::ReadSettings()
{
    if (!o_.SettingsFile) return std::nullopt;
    static const char* const op = "TCliRunner::ReadSettings";
    static const char* const message = "Settings file error";
    const TAString& file = *o_.SettingsFile;
    TXmlElement config;
    try {
        config.LoadFromFile(file);
    } catch (const TBaseError& e) {
        return Failed(TBaseError(op, message, SettingsReason(file, e)));
    }
    // The Vector library's location, as the windowed program takes it at start-up.
    if (config.Contains("FileNameVectorDll") && config["FileNameVectorDll"].Contains("<TEXT>")) {
        const TAString& dll = config["FileNameVectorDll"]("<TEXT>");
        if (!dll.IsEmpty()) VectorDllPath() = dll;
    }
    if (!description_ && config.Contains("CanAdapter") && config["CanAdapter"].CountKeys() > 0) {
        const TTreeKey& adapter = config["CanAdapter"].GetKey(0);
        try {
            description_ = TCanAdapters::ChannelDescription(adapter, QtCanBusDriverTable());
        } catch (const TBaseError& e) {
            // An adapter entry without the children its driver reads (<Vector3.2/>).
            return Failed(TBaseError(op, message,
                                     FileReason(file, "the adapter entry <" + adapter.Name() + "> is incomplete (" +
                                                          e.Message() + ")")));
        }
    }
    return std::nullopt;
}

// The vehicle and its signals.
std::optional<int> TCliRun::SetUpVehicle()
{
    TLkw& lkw = cockpit_.Lkw();
    for (const auto& [name, value] : o_.Sets) {
        if (lkw.GetMV(name) == TLkw::NoValue)
            return Usage("--set: the vehicle model has no value named '" + name + "'; it has these:\n" +
                         TModelValueNames::Text(lkw));
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
std::optional<int> TCliRun::SetUpOptions()
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

std::optional<int> TCliRun::LoadSource()
{
    if (o_.Source == TCliOptions::TSource::Internal) {
        engine_.InternalLines = TInternalLog::Log();
    } else if (o_.Source == TCliOptions::TSource::Log) {
        // A stop signal ends a long load as it ends a run.
        if (!engine_.LoadUserLog(o_.LogFile, &stop_)) {
            // The engine said why; a load ended by a stop signal is a run cut short.
            if (const int signal = stop_.load()) return TCliRunner::ExitSignalBase + signal;
            return TCliRunner::ExitFailed;
        }
        Print("log: " + engine_.UserLines().Summary() + "\n");
    }
    return std::nullopt;
}

// The output names, before anything is opened: each must be a regular file or a FIFO,
// or a new name in a folder that can be written; the output log must not be the log
// being replayed.
std::optional<int> TCliRun::CheckOutputs()
{
    if (o_.LogOut) {
        if (std::optional<TBaseError> refusal = TLogOut::Check(*o_.LogOut)) return Failed(*refusal);
        struct stat in {}, out {};
        if (o_.Source == TCliOptions::TSource::Log && ::stat(o_.LogFile.c_str(), &in) == 0 &&
            ::stat(o_.LogOut->c_str(), &out) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino)
            return Failed(TBaseError("TLogOut::Open", "Output log not opened",
                                     FileReason(*o_.LogOut, "is the log being replayed")));
    }
    if (o_.ReportFile) {
        if (std::optional<TAString> refusal = TSafeFile::Refusal(*o_.ReportFile))
            return Failed(TBaseError("TCliRunner::WriteReport", "Report not written", *refusal));
    }
    return std::nullopt;
}

std::optional<int> TCliRun::OpenChannel()
{
    if (description_) {
        try {
            opened_ = adapters_.OpenChannel(*description_);
        } catch (const TBaseError& e) {
            return Failed(e);
        }
    }
    // Real time: the buffer holds each frame until its due time on the monotonic clock,
    // startMicros_ + TransmitLead + its time in the run. Virtual time: a frame goes out
    // when released; it is counted as leaving when the transmit buffer would have sent
    // it: at its time, or TransmitLead after its release when that is later.
    timed_ = std::make_unique<TTimedChannel>(
        opened_ ? *opened_ : static_cast<TCanChannel&>(nullChannel_), timing_,
        [this](const TCanFrame& frame) -> TTimedChannel::TTimes {
            if (o_.Fast) return {frame.Time, std::max(frame.Time, engine_.SimTime() - TRunEngine::TransmitLead)};
            const int64_t base = startMicros_ + TRunEngine::TransmitLead;
            return {frame.Time - base, realClock_.Micros() - base};
        });
    if (!o_.Fast) {
        uint32_t error = 0;
        if (!timer_.Start(2, error, 1))
            return Failed(TBaseError("TMultimediaTimer::Start", "timer error " + TAString(int32_t(error))));
    }
    engine_.SetCanChannel(timed_.get());
    return std::nullopt;
}

// The outputs, once every input and the channel are known to be good: the output log
// is emptied only now.
std::optional<int> TCliRun::OpenOutputs()
{
    if (o_.LogOut) {
        engine_.LogOut().SetFormat(o_.LogFormat.value_or(TLogOutFormat::Layout5));
        if (!engine_.OpenLogOut(*o_.LogOut, TLogOut::omReplace)) return TCliRunner::ExitFailed;
        engine_.Controls.LogFile = true;
        engine_.Controls.LogReceived = o_.LogRx;
    }
    return std::nullopt;
}

void TCliRun::Print(const TAString& text)
{
    if (outFailed_) return;
    errno = 0;
    const auto size = static_cast<size_t>(text.Length());
    if (std::fwrite(text.c_str(), 1, size, out_) == size && std::fflush(out_) == 0) return;
    const int error = errno != 0 ? errno : EIO;
    outFailed_ = true;
    // A write blocked on a stalled reader, interrupted by a stop signal: the run ends,
    // and nothing more is printed where nobody reads.
    if (error == EINTR) return;
    if (error == EPIPE) {
        // The reader has gone (quorvella-cli ... | head): the run stops as for SIGPIPE.
        if (cutShort_ == 0) cutShort_ = SIGPIPE;
        return;
    }
    reporter_.ShowError(TBaseError("TCliRunner::Print", "Output error", "standard output: " + TAString(std::strerror(error))));
}

void TCliRun::PrintMonitor()
{
    char head[64];
    std::snprintf(head, sizeof head, "--- data monitor at %.3f s\n", static_cast<double>(engine_.SimTime()) / 1e6);
    Print(head + TVehicleDataText::Table(catalogue_) + engine_.Requests().Text() + "\n");
    monitorAt_ = engine_.SimTime();
}

void TCliRun::RunLoop()
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
    while (engine_.Running() && engine_.SimTime() < durationMicros) {
        if (const int signal = stop_.load()) cutShort_ = signal;
        if (cutShort_ != 0) break;
        if (o_.Fast) {
            // A log with long silences (epoch times, a gap of days) jumps to its next frame.
            const int64_t before = engine_.SimTime();
            virtualClock_.AdvanceMicros(engine_.SkipIdleTime(durationMicros) - before);
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
            PrintMonitor();
            nextMonitor += 1000000;
        }
    }
    // And what the monitor shows at the end, unless that was just printed.
    if (o_.Monitor && cutShort_ == 0 && monitorAt_ != engine_.SimTime()) PrintMonitor();
    ranSeconds_ = static_cast<double>(engine_.SimTime()) / 1e6;
    engine_.Stop();
}

int TCliRun::Finish()
{
    if (!o_.Fast) {
        // The frames released last are due up to 200 ms later.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
        while (buffer_.Pending() > 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        timer_.Stop();
        if (const int unsent = buffer_.Pending(); unsent > 0) {
            reporter_.ShowError(TBaseError("quorvella-cli", "frames not sent",
                                           TAString(int32_t(unsent)) + " frames were still in the transmit buffer "
                                                                       "1 s after the end of the run"));
        }
        // A failure the timer thread recorded after the last frame of the run.
        const TBaseError late = buffer_.TakeError();
        if (!late.Operation().IsEmpty()) reporter_.ShowError(late);
    }
    engine_.SetCanChannel(nullptr);
    if (opened_)
        CloseChannelReporting(adapters_, opened_, o_.DrainSeconds, timing_.Count(), reporter_,
                              [this](const TCanFrame& frame) { engine_.LogReceived(frame); });
    opened_ = nullptr;
    // Stop has written the last lines; closing can still report a delayed write error.
    if (engine_.LogOut().IsOpen() && !engine_.LogOut().Close()) reporter_.ShowError(engine_.LogOut().Error());

    if (cutShort_ != 0) {
        std::fprintf(err_, "quorvella-cli: run cut short by %s after %.3f s; every frame released until then is in the output log and the report\n",
                     SignalName(cutShort_).c_str(), ranSeconds_);
        std::fflush(err_);
    }

    // A log is its own schedule: each frame is judged against its log time.
    const TTimingReport::TJudge judge = Simulation() ? TTimingReport::jSchedule : TTimingReport::jLogTime;
    const std::vector<TTimingGroup> groups = timing_.Groups(catalogue_, leftOut_, engine_.SimTime() / 1000, judge);
    // Which scheduling the transmit timer got: a real-time run's lateness depends on it.
    const TAString scheduling(o_.Fast ? std::string("none (virtual time)") : timer_.SchedulingText());
    Print(TTimingReport::Text(groups, judge));
    Print("transmit timer: " + scheduling + "\n");
    if (Simulation()) Print("J1939 " + engine_.Requests().Text() + "\n");
    if (o_.LogRx)
        Print("output log: " + TAString(std::to_string(engine_.FramesLogged())) + " frames written, " +
              TAString(std::to_string(engine_.ReceivedLogged())) + " of them received\n");
    if (o_.ReportFile) {
        try {
            TSafeFile::Write(*o_.ReportFile, TTimingReport::Json(groups, o_.Fast ? "virtual" : "real-time", ranSeconds_,
                                                                 judge, scheduling));
        } catch (const TBaseError& e) {
            reporter_.ShowError(TBaseError("TCliRunner::WriteReport", "Report not written", e.Detail()));
        }
    }
    if (reporter_.count > 0 || channelReports_.Count() > 0) return TCliRunner::ExitFailed;
    if (o_.StrictTiming && TTimingReport::AnyFlagged(groups)) return TCliRunner::ExitFailed;
    if (cutShort_ != 0) return TCliRunner::ExitSignalBase + cutShort_;
    return TCliRunner::ExitOk;
}

}  // namespace

TCliRunner::TCliRunner(const TCliOptions& options, std::FILE* out, std::FILE* err)
    : options_(options), out_(out), err_(err)
{
}

int TCliRunner::Run(const std::atomic<int>& stop)
{
    auto run = std::make_unique<TCliRun>(options_, stop, out_, err_);
    if (auto exit = run->ExportDbc()) return *exit;
    if (auto exit = run->CheckInputs()) return *exit;
    if (auto exit = run->OpenChannel()) return *exit;
    if (auto exit = run->OpenOutputs()) return *exit;
    run->RunLoop();
    return run->Finish();
}
