#include "app/cli/tclirunner.h"

#include "engine/tcanbuffer.h"
#include "engine/tcanbuffertransmit.h"
#include "logs/tdbcexport.h"
#include "engine/terrorreporter.h"
#include "engine/terrortable.h"
#include "logs/tinternallog.h"
#include "engine/tmodelvaluenames.h"
#include "engine/tmultimediatimer.h"
#include "engine/toptionseditor.h"
#include "engine/trecordingcockpit.h"
#include "engine/trunengine.h"
#include "engine/treceivedframesink.h"
#include "engine/tsignalmonitor.h"
#include "engine/trunvalidity.h"
#include "engine/ttimesource.h"
#include "app/control/tcontrolserver.h"
#include "engine/tcontrolapi.h"
#include "engine/tcontrolhub.h"
#include "engine/tscenario.h"
#include "engine/tscenariocockpit.h"
#include "engine/tscenarioplayer.h"
#include "engine/ttimingreport.h"
#include "engine/tvehiclechecks.h"
#include "engine/tvehiclecommands.h"
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
#include "engine/tsettingsfile.h"

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
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Prints what the error dialog would show.
class TPrintingReporter final : public TErrorReporter {
public:
    explicit TPrintingReporter(std::FILE* err) : err_(err) {}
    // Recognises an error that is what a stop signal did (a write it interrupted), tells
    // the user what the stop cost and returns true: the run's status stays the signal's.
    std::function<bool(const TBaseError&)> StopEffect;
    void ShowError(const TBaseError& error) override
    {
        if (StopEffect && StopEffect(error)) return;
        ++count;
        Print(error);
    }
    void Print(const TBaseError& error)
    {
        TAString text = TErrorTable::Lookup(error).BoxText;
        while (text.Length() > 0 && text[text.Length() - 1] == '\n') text.Truncate(text.Length() - 1);
        text.Replace("\n", ": ", -1);
        std::fprintf(err_, "quorvella-cli: %s\n", text.c_str());
        std::fflush(err_);
    }
    // Told, but nothing was lost: not a failure of the run.
    void ShowNotice(const TBaseError& notice) override { Print(notice); }
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
                           TErrorReporter& reporter, const std::function<void(const TCanFrame&)>& received,
                           const std::atomic<int>& stop)
{
    // The drain goes in short slices so that a stop signal cuts it short: a slice that
    // ends before its time means the channel has nothing more to send (or cannot).
    using std::chrono::milliseconds;
    using std::chrono::steady_clock;
    const milliseconds drain(static_cast<int64_t>(drainSeconds * 1000 + 0.5));
    const milliseconds slice(50);
    const auto deadline = steady_clock::now() + drain;
    while (stop.load() == 0) {
        const auto now = steady_clock::now();
        if (now >= deadline) break;
        const milliseconds limit = std::min(slice, std::chrono::duration_cast<milliseconds>(deadline - now));
        // (The channel may round its limit down to whole milliseconds.)
        if (channel->Drain(limit) == 0 || steady_clock::now() + milliseconds(2) < now + limit) break;
    }
    // Then the channel stops taking from its medium, hands over every frame it took and
    // closes, telling what it lost on either side.
    int told = 0;
    TCanAdapters::TClosing closing;
    closing.received = received;
    closing.error = [&](const TBaseError& e) {
        // The frames not delivered are told below, with the drain the user gave.
        if (e.Message() == "Frames not delivered") return;
        reporter.ShowError(e);
        ++told;
    };
    const uint64_t lost = adapters.CloseChannel(channel, milliseconds(0), closing);
    if (lost == 0) return told == 0;
    TBaseError error = TCanAdapters::NotDelivered(lost, drain);
    error.SetDetail(error.Detail() + " (" + TAString(std::to_string(written)) + " frames were written" +
                    (stop.load() != 0 ? "; the wait was cut short by a stop signal)" : ")"));
    // After a stop the user is told, and the status is the signal's.
    if (stop.load() != 0) {
        reporter.ShowNotice(error);
    } else {
        reporter.ShowError(error);
    }
    return false;
}

// The frames go nowhere: stands in for a channel when none is given, so that the
// timing self-check still sees every frame leave.
class TNullChannel final : public TCanChannel {
public:
    TCanFrame Read() override { return TCanFrame(); }
    void Write(const TCanFrame&) override {}
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

// Counts what the channel received, for the control API's status.
class TReceivedCount final : public TReceivedFrameSink {
public:
    void FrameReceived(const TCanFrame&) override { ++count; }
    uint64_t count = 0;
};

// The validity window without the window: the same choices, applied from the command line.
class TCliValidity final : public TRunValidity {
public:
    explicit TCliValidity(const TBusFmsStandard& catalogue) : manip(catalogue) {}
    void Execute(TBusFmsStandard& catalogue) override { manip.Execute(catalogue); }
    uint64_t ChoicesVersion() const override { return manip.Version(); }
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

// Sleeps until deadline or until handle (an eventfd) becomes readable; true when it did
// (and is reset), false at the deadline or when a signal came.
bool WaitArrival(int handle, const timespec& deadline)
{
    for (;;) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const int64_t left =
            (static_cast<int64_t>(deadline.tv_sec) - now.tv_sec) * 1000000000LL + deadline.tv_nsec - now.tv_nsec;
        if (left <= 0) return false;
        const timespec wait{static_cast<time_t>(left / 1000000000LL), static_cast<long>(left % 1000000000LL)};
        pollfd readable{handle, POLLIN, 0};
        const int got = ::ppoll(&readable, 1, &wait, nullptr);
        if (got > 0) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t taken = ::read(handle, &count, sizeof count);
            return true;
        }
        // The deadline, or a signal (the loop then looks at the stop request).
        return false;
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
          bufferTransmit_(buffer_, true),
          engine_(engineClock_, options.Fast ? static_cast<TCanTransmit&>(directTransmit_)
                                             : static_cast<TCanTransmit&>(bufferTransmit_)),
          catalogue_(engine_.Catalogue()),
          validity_(catalogue_),
          adapters_(QtCanBusDriverTable()),
          timer_(&buffer_, timerLock_)
    {
        engine_.SetErrorReporter(&reporter_);
        // A write to the output log blocked on a stalled FIFO reader that the stop signal
        // interrupted: the log holds whole lines and the run ends as the signal asks.
        reporter_.StopEffect = [this](const TBaseError& error) {
            if (stop_.load() == 0 || error.Operation() != "TLogOut::Write" || !engine_.LogOut().Interrupted())
                return false;
            const int64_t lines = engine_.LogOut().LinesWritten();
            const int64_t logged = static_cast<int64_t>(engine_.FramesLogged());
            TAString text = "the output log '" + engine_.LogOut().FileName() + "' ends with the " +
                            TAString(std::to_string(lines)) +
                            " whole lines written before its reader stopped reading and the stop signal ended the wait";
            if (logged > lines)
                text += "; " + TAString(std::to_string(logged - lines)) + " frames released before the stop are not in it";
            std::fprintf(err_, "quorvella-cli: %s\n", text.c_str());
            std::fflush(err_);
            logInterrupted_ = true;
            return true;
        };
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
    // Why output (given with option) may not be written: it is an input of the run.
    std::optional<TAString> SameAsInput(const TAString& output, const char* option) const;

    // Text for standard output. A failed write is reported once; a reader that went
    // away (EPIPE) ends the run as SIGPIPE would.
    void Print(const TAString& text);
    void PrintMonitor();
    TAString DecodedTable();

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
    bool logInterrupted_ = false;   // a stop signal ended a write the log's reader held up
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
    TSettingsFile::TClaimSettings claim_;   // the settings file's address claim entries

    TCanAdapters adapters_;
    TCanChannel* opened_ = nullptr;
    TNullChannel nullChannel_;
    TTimingReport timing_;
    int64_t startMicros_ = 0;

    std::mutex timerLock_;
    TMultimediaTimer timer_;
    double ranSeconds_ = 0;
    int64_t monitorAt_ = -1;   // when the monitor was printed last

    // The scenario and the control API act on the model before its steps.
    std::optional<int> LoadScenario();
    std::optional<int> StartControl();
    // µs at which the run ends: --duration, or a scenario's stop when that comes first.
    int64_t EndMicros() const;
    // After each tick: the status published to the control API, and whether it or the
    // scenario ended the run.
    bool DriveEnded();
    TVehicleChecks checks_{cockpit_.Lkw()};
    TVehicleCommands commands_{cockpit_.Lkw(), validity_.manip, engine_.Options, catalogue_};
    TScenarioPlayer player_{commands_};
    TScenarioCockpit driven_{cockpit_, player_, commands_, engine_};
    std::optional<TScenario> scenario_;
    TReceivedCount received_;
    TControlHub hub_{&engine_.Signals(), &engine_.Trace()};
    std::unique_ptr<TControlApi> controlApi_;
    std::unique_ptr<TControlServer> controlServer_;   // declared after what its thread reads: stopped first
};

// --export-dbc: the file is written and nothing runs. It goes through the safe writer:
// the old file stays whole when the new one cannot be written (a full disk, a size
// limit), and only a regular file, a new name or a FIFO that a program reads takes it.
std::optional<int> TCliRun::ExportDbc()
{
    if (!o_.ExportDbc) return std::nullopt;
    static const char* const op = "TCliRunner::ExportDbc";
    static const char* const message = "DBC not written";
    const TAString& file = *o_.ExportDbc;
    if (std::optional<TAString> same = SameAsInput(file, "--export-dbc"))
        return Failed(TBaseError(op, message, *same));
    const TBusFmsStandard catalogue("00.02");
    const std::vector<bool> all(TOptionsEditor::FrameItems(catalogue).size(), true);
    const TFrameOptions applied =
        TOptionsEditor::Apply(o_.SourceAddress.value_or("x00"), o_.Priority.value_or("6"), all).Options;
    try {
        TSafeFile::Write(file, TDbcExport::Text(catalogue, applied.SourceAddress, applied.Priority));
    } catch (const TBaseError& e) {
        return Failed(TBaseError(op, message, e.Detail().IsEmpty() ? FileReason(file, e.Message()) : e.Detail()));
    }
    return TCliRunner::ExitOk;
}

std::optional<TAString> TCliRun::SameAsInput(const TAString& output, const char* option) const
{
    const struct {
        const char* option;
        std::optional<TAString> file;
    } inputs[] = {
        {"--settings", o_.SettingsFile},
        {"--scenario", o_.Scenario},
        {"--control-token", o_.ControlToken},
        {"--source log", o_.Source == TCliOptions::TSource::Log ? std::optional<TAString>(o_.LogFile) : std::nullopt},
    };
    for (const auto& input : inputs) {
        if (input.file && TSafeFile::SameFile(output, *input.file))
            return FileReason(output, TAString("is the file given with ") + input.option + "; " + option +
                                          " would replace it");
    }
    return std::nullopt;
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
    if (auto exit = LoadScenario()) return exit;
    if (auto exit = LoadSource()) return exit;
    if (auto exit = CheckOutputs()) return exit;
    // A port in use or a token that cannot be read is found before any output changes.
    return StartControl();
}

std::optional<int> TCliRun::ReadSettings()
{
    if (!o_.SettingsFile) return std::nullopt;
    static const char* const op = "TCliRunner::ReadSettings";
    static const char* const message = "Settings file error";
    const TAString& file = *o_.SettingsFile;
    TXmlElement config;
    try {
        // Only a regular file of reasonable size: never a device, a FIFO or a folder.
        const TAString text = TSafeFile::ReadInput(file, TSafeFile::SettingsLimit);
        try {
            config = TXmlElement::ParseDocument(text);
        } catch (const TBaseError& e) {
            return Failed(TBaseError(op, message, SettingsReason(file, e)));
        }
    } catch (const TBaseError& e) {
        return Failed(TBaseError(op, message, e.Detail()));
    } catch (const std::bad_alloc&) {
        return Failed(TBaseError(op, message, FileReason(file, "not enough memory to load it")));
    }
    claim_ = TSettingsFile::AddressClaim(config);
    if (!claim_.Problem.IsEmpty()) return Failed(TBaseError(op, message, FileReason(file, claim_.Problem)));
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
    // The checks and the commands a scenario and the control API go through too.
    for (const auto& [name, value] : o_.Sets) {
        if (!checks_.HasValue(name))
            return Usage("--set: the vehicle model has no value named '" + name + "'; it has these:\n" +
                         TModelValueNames::Text(cockpit_.Lkw()));
        // What the cockpit cannot set never reaches the model: out of range, or an index
        // its signal has no entry for.
        if (const TAString refusal = checks_.Set(name, value); !refusal.IsEmpty())
            return Usage("--set " + name + ": " + refusal);
        commands_.Set(name, value);
    }
    // Identifications go on the bus as given or not at all: never cut, never with a byte
    // a receiver would read as the end of the field.
    const struct {
        const char* Option;
        const char* Field;
        const std::optional<TAString>& Text;
    } ids[] = {{"--vin", "E_FzgID", o_.Vin}, {"--driver1", "E_DID1", o_.Driver1}, {"--driver2", "E_DID2", o_.Driver2}};
    for (const auto& id : ids) {
        if (!id.Text) continue;
        const TAString refusal = TVehicleChecks::Identification(id.Field, *id.Text);
        if (!refusal.IsEmpty()) return Usage(TAString(id.Option) + ": " + refusal);
    }
    for (const auto& id : ids)
        if (id.Text) commands_.SetIdentification(id.Field, *id.Text);
    for (const auto& [n, state] : o_.TellTales) commands_.SetTellTale(n, state);
    for (const auto& [name, word] : o_.Forces) {
        const int row = validity_.manip.FindRow(name);
        if (row < 0) return Usage("--force: no signal is named '" + name + "'");
        if (validity_.manip.FindChoice(row, word) == TValidManip::NoItem) {
            TAString offered;
            for (const TAString& item : validity_.manip.Row(row).Items) offered += (offered.IsEmpty() ? "" : ", ") + item;
            return Usage("--force " + name + ": '" + word + "' is not a choice of this signal (" + offered + ")");
        }
        commands_.Force(name, word);
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
    // The vehicle as a J1939 node: the settings file's entries, then the command line.
    engine_.AddressClaim().SetEnabled(claim_.Enabled && !o_.NoAddressClaim);
    engine_.AddressClaim().SetName(o_.Name.value_or(claim_.Name));
    return std::nullopt;
}

std::optional<int> TCliRun::LoadSource()
{
    if (o_.Source == TCliOptions::TSource::Internal) {
        engine_.InternalLines = TInternalLog::Log();
    } else if (o_.Source == TCliOptions::TSource::Log) {
        // A stop signal ends a long load as it ends a run.
        bool loaded = false;
        try {
            loaded = engine_.LoadUserLog(o_.LogFile, &stop_);
        } catch (const std::bad_alloc&) {
            return Failed(TBaseError("TCliRunner::LoadSource", "Logfile Read Error",
                                     FileReason(o_.LogFile, "not enough memory to load the log")));
        }
        if (!loaded) {
            // The engine said why; a load ended by a stop signal is a run cut short.
            if (const int signal = stop_.load()) return TCliRunner::ExitSignalBase + signal;
            return TCliRunner::ExitFailed;
        }
        if (!o_.ReplayChannels.empty()) {
            try {
                engine_.SetUserLog(engine_.UserLines().SelectChannels(o_.ReplayChannels));
            } catch (const TBaseError& e) {
                return Usage("--replay-channels: " + e.Detail());
            }
        }
        const TCanLog& log = engine_.UserLines();
        Print("log: " + log.Summary() + "\n");
        if (log.CutLine != 0)
            reporter_.ShowNotice(TBaseError("", "Logfile Read Error",
                                            log.FileName + " line " + TAString(std::to_string(log.CutLine)) +
                                                ": the last line has no line end: it was cut off or is still being "
                                                "written, and is not replayed ('" + log.CutText + "')"));
        // Refused before anything is opened: the run would end at the first such frame.
        if (o_.LogOut && o_.LogFormat == TLogOutFormat::Layout5)
            if (const std::optional<std::size_t> i = log.FirstFrameNotInLayout5())
                return Failed(TBaseError("TLogOut::Open", "Output log not opened",
                                         FileReason(*o_.LogOut, "layout 5 cannot hold the log's " +
                                                                    TCanLog::Describe(log.Frames[*i]) +
                                                                    " (it holds only 29-bit frames of 8 bytes): use "
                                                                    "--log-format asc or candump, or a name ending in "
                                                                    ".asc or .log")));
    }
    return std::nullopt;
}

// The output names, before anything is opened: each must be a regular file or a FIFO,
// or a new name in a folder that can be written; no output may be an input of the run
// (the settings, the log being replayed) or the other output.
std::optional<int> TCliRun::CheckOutputs()
{
    if (o_.LogOut) {
        if (std::optional<TBaseError> refusal = TLogOut::Check(*o_.LogOut)) return Failed(*refusal);
        if (o_.Source == TCliOptions::TSource::Log && TSafeFile::SameFile(*o_.LogOut, o_.LogFile))
            return Failed(TBaseError("TLogOut::Open", "Output log not opened",
                                     FileReason(*o_.LogOut, "is the log being replayed")));
        if (std::optional<TAString> same = SameAsInput(*o_.LogOut, "--log-out"))
            return Failed(TBaseError("TLogOut::Open", "Output log not opened", *same));
    }
    if (o_.ReportFile) {
        static const char* const op = "TCliRunner::WriteReport";
        static const char* const message = "Report not written";
        if (std::optional<TAString> refusal = TSafeFile::Refusal(*o_.ReportFile))
            return Failed(TBaseError(op, message, *refusal));
        if (std::optional<TAString> same = SameAsInput(*o_.ReportFile, "--report"))
            return Failed(TBaseError(op, message, *same));
        if (o_.LogOut && TSafeFile::SameFile(*o_.ReportFile, *o_.LogOut))
            return Failed(TBaseError(op, message,
                                     FileReason(*o_.ReportFile, "is also the output log (--log-out); "
                                                                "--report would replace it")));
    }
    return std::nullopt;
}

std::optional<int> TCliRun::OpenChannel()
{
    if (description_) {
        try {
            opened_ = adapters_.OpenChannel(*description_);
        } catch (const TBaseError& e) {
            // Which description failed, when the error does not say more itself.
            if (!e.Detail().IsEmpty()) return Failed(e);
            TBaseError named = e;
            named.SetDetail("the channel description '" + *description_ + "'" +
                            (o_.Channel ? TAString(" (--channel)") : " (from the settings file '" + *o_.SettingsFile + "')") +
                            " lacks a word or names an unknown kind");
            return Failed(named);
        }
    }
    // The self-check measures what left: in real time the engine learns from the
    // transmit buffer when the medium took each frame; on virtual time a frame leaves
    // when the transmit buffer would have sent it (TRunEngine::Departure). Answers to
    // requests are kept apart from the schedule's groups.
    engine_.SetDepartureObserver([this](const TCanFrame& frame, int64_t departure, bool answer) {
        if (answer) {
            timing_.RecordApart(frame, departure);
        } else {
            timing_.Record(frame, departure);
        }
    });
    if (!o_.Fast) {
        uint32_t error = 0;
        timer_.SetRealTime(true);
        if (!timer_.Start(2, error, 1)) {
            if (error == TMultimediaTimer::ErrorNoEvent)
                return Failed(TBaseError("TCliRunner::Start", "Thread not started",
                                         "the transmit timer's thread could not be made (a limit on processes or "
                                         "threads, ulimit -u, may be reached)"));
            return Failed(TBaseError("TMultimediaTimer::Start", "timer error " + TAString(int32_t(error))));
        }
    }
    engine_.SetCanChannel(opened_ ? opened_ : static_cast<TCanChannel*>(&nullChannel_));
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
    // A log source's values are the frames that left, decoded; the catalogue holds only
    // what the simulation sends.
    TAString text = head + (Simulation() ? TVehicleDataText::Table(catalogue_) : DecodedTable()) + engine_.Requests().Text() + "\n";
    if (Simulation()) text += "Address claim: " + engine_.AddressClaim().StateText(engine_.SimTime()) + "\n";
    Print(text);
    monitorAt_ = engine_.SimTime();
}

TAString TCliRun::DecodedTable()
{
    // The layout of TVehicleDataText::Table, with the state spelled out after a value
    // that is not valid: "Seconds   o (out of range)".
    const TSignalMonitor::TSnapshot snapshot = engine_.Signals().Snapshot();
    std::size_t width = 0;
    for (const TSignalRow& r : snapshot.Rows) width = std::max(width, r.Name.str().size());
    std::string text;
    for (const TSignalRow& r : snapshot.Rows) {
        text += r.Name.str();
        text.append(width - r.Name.str().size() + 1, ' ');
        text += r.Value.str();
        if (!r.StateCode.IsEmpty()) text += " (" + r.StateName.str() + ")";
        text += '\n';
    }
    return text;
}

void TCliRun::RunLoop()
{
    const int64_t tickMicros = TRunEngine::TickIntervalMs * 1000;
    constexpr int64_t PollMicros = 1000;
    const int64_t durationMicros = EndMicros();
    const bool capped = durationMicros != INT64_MAX;
    // The decoded values are read by --monitor and the control API only.
    engine_.WatchSignals(o_.Monitor || o_.ControlPort.has_value());
    engine_.Start();
    startMicros_ = static_cast<int64_t>(engine_.StartTime() * 1000000.0L);
    if (capped) engineClock_.SetCap(engine_.StartTime() + static_cast<long double>(durationMicros) / 1e6L);
    if (o_.Starter && Simulation()) cockpit_.StartEngine();
    if (scenario_) player_.Play(*scenario_, engine_.SimTime());

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
            // With a channel that can bring requests, what it received is read as it
            // arrives (the channel wakes the wait), or else every millisecond between the
            // ticks, so answers leave within a few ms.
            const int arrival = Simulation() && opened_ ? opened_->ArrivalHandle() : -1;
            if (arrival >= 0) {
                next.tv_nsec += tickMicros * 1000;
                while (next.tv_nsec >= 1000000000L) {
                    next.tv_nsec -= 1000000000L;
                    ++next.tv_sec;
                }
                while (stop_.load() == 0 && WaitArrival(arrival, next)) engine_.PollReceived();
            }
            const int64_t poll = Simulation() && opened_ ? PollMicros : tickMicros;
            for (int64_t waited = poll; arrival < 0 && waited <= tickMicros && stop_.load() == 0; waited += poll) {
                next.tv_nsec += poll * 1000;
                while (next.tv_nsec >= 1000000000L) {
                    next.tv_nsec -= 1000000000L;
                    ++next.tv_sec;
                }
                SleepUntil(next);
                if (waited < tickMicros) engine_.PollReceived();
            }
        }
        const int64_t stalls = engine_.Stalls();
        engine_.TimerSysTimer();
        if (DriveEnded()) break;
        // A stall moved the run's start: its end moves with it.
        if (capped && engine_.Stalls() != stalls)
            engineClock_.SetCap(engine_.StartTime() + static_cast<long double>(durationMicros) / 1e6L);
        if (o_.Monitor && engine_.SimTime() >= nextMonitor) {
            PrintMonitor();
            nextMonitor += 1000000;
        }
    }
    // And what the monitor shows at the end, unless that was just printed.
    if (o_.Monitor && cutShort_ == 0 && monitorAt_ != engine_.SimTime()) PrintMonitor();
    ranSeconds_ = static_cast<double>(engine_.SimTime()) / 1e6;
    engine_.Stop();
    if (controlServer_) {
        hub_.Publish(driven_.Status(reporter_.count + channelReports_.Count(), received_.count));
        controlServer_->Stop();
    }
}

int TCliRun::Finish()
{
    if (!o_.Fast) {
        // The frames released last are due up to 200 ms later.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
        while (buffer_.Pending() > 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        timer_.Stop();
        // The last frames' departures: counted, logged and measured.
        engine_.CollectDepartures();
        if (const int unsent = buffer_.Pending(); unsent > 0) {
            reporter_.ShowError(TBaseError("quorvella-cli", "frames not sent",
                                           TAString(int32_t(unsent)) + " frames were still in the transmit buffer "
                                                                       "1 s after the end of the run"));
        }
        // A failure the timer thread recorded after the last frame of the run.
        const TBaseError late = buffer_.TakeError();
        if (!late.Operation().IsEmpty()) reporter_.ShowError(late);
    }
    // The late frames, the last ones among them, once they have left or been given up.
    engine_.TellLateness();
    engine_.SetCanChannel(nullptr);
    if (opened_)
        CloseChannelReporting(adapters_, opened_, o_.DrainSeconds, timing_.Count(), reporter_,
                              [this](const TCanFrame& frame) { engine_.LogReceived(frame); }, stop_);
    opened_ = nullptr;
    // Stop has written the last lines; closing can still report a delayed write error.
    if (engine_.LogOut().IsOpen() && !engine_.LogOut().Close()) reporter_.ShowError(engine_.LogOut().Error());

    // A stop signal during the drain cuts the run short too.
    if (cutShort_ == 0) cutShort_ = stop_.load();
    if (cutShort_ != 0) {
        std::fprintf(err_, "quorvella-cli: run cut short by %s after %.3f s; every frame released until then is in %s\n",
                     SignalName(cutShort_).c_str(), ranSeconds_,
                     logInterrupted_ ? "the report" : "the output log and the report");
        std::fflush(err_);
    }

    // A log is its own schedule: each frame is judged against its log time.
    const TTimingReport::TJudge judge = Simulation() ? TTimingReport::jSchedule : TTimingReport::jLogTime;
    const std::vector<TTimingGroup> groups = timing_.Groups(catalogue_, leftOut_, engine_.SimTime() / 1000, judge);
    // Which scheduling the transmit timer got: a real-time run's lateness depends on it.
    const TAString scheduling(o_.Fast ? std::string("none (virtual time)") : timer_.SchedulingText());
    Print(TTimingReport::Text(groups, judge));
    Print(TTimingReport::ApartText(timing_.Apart()));
    Print("transmit timer: " + scheduling + "\n");
    if (engine_.Stalls() > 0)
        Print("stalls: " + TAString(std::to_string(engine_.Stalls())) + ", " +
              TAString(static_cast<double>(engine_.StallShift()) / 1e6, 0, 3) + " s in all\n");
    if (Simulation()) Print("J1939 " + engine_.Requests().Text() + "\n");
    if (Simulation()) Print("address claim: " + engine_.AddressClaim().StateText(engine_.SimTime()) + "\n");
    // A replay sends transport frames as the log has them; this says what they amounted to.
    if (!Simulation()) Print("transport: " + engine_.Transfers().Summary() + "\n");
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
    // A stall broke the schedule however well the frames kept it afterwards.
    if (o_.StrictTiming && engine_.Stalls() > 0) return TCliRunner::ExitFailed;
    if (cutShort_ != 0) return TCliRunner::ExitSignalBase + cutShort_;
    return TCliRunner::ExitOk;
}

// --scenario: read, parsed and checked against the vehicle before anything runs.
std::optional<int> TCliRun::LoadScenario()
{
    if (!o_.Scenario) return std::nullopt;
    const TAString& file = *o_.Scenario;
    TAString text;
    try {
        // Only a regular file of reasonable size: never a device, a FIFO or a folder.
        text = TSafeFile::ReadInput(file, TSafeFile::SettingsLimit);
    } catch (const TBaseError& e) {
        return Failed(TBaseError("TCliRunner::LoadScenario", "Scenario not read", e.Detail()));
    } catch (const std::bad_alloc&) {
        return Failed(TBaseError("TCliRunner::LoadScenario", "Scenario not read",
                                 FileReason(file, "not enough memory to load it")));
    }
    TScenarioParse parse = ParseScenario(text);
    if (parse.Refusal) return Usage("--scenario " + file + ": " + parse.Refusal->Describe());
    if (const std::optional<TScenarioRefusal> refusal = TScenarioPlayer::Check(parse.Scenario, checks_))
        return Usage("--scenario " + file + ": " + refusal->Describe());
    if (o_.Fast && !o_.Duration && !parse.Scenario.StopTime())
        return Usage("--fast with a --scenario that never reaches a stop step needs --duration");
    scenario_ = std::move(parse.Scenario);
    engine_.SetCockpit(&driven_);
    return std::nullopt;
}

// --control: the token is read and the server bound once the inputs are checked, before
// the channel and the outputs are opened; a port in use or a token that cannot be read
// ends the run before anything changed. Until the run starts the API says it is not going.
std::optional<int> TCliRun::StartControl()
{
    if (!o_.ControlPort) return std::nullopt;
    static const char* const op = "TCliRunner::StartControl";
    static const char* const message = "Control API not started";
    const TAString address = o_.ControlAddress.value_or("127.0.0.1");
    std::string token;
    if (o_.ControlToken) {
        try {
            token = TSafeFile::ReadInput(*o_.ControlToken, 4096).str();
        } catch (const TBaseError& e) {
            return Failed(TBaseError(op, message, e.Detail()));
        }
        while (!token.empty() && (token.back() == '\n' || token.back() == '\r' || token.back() == ' ')) token.pop_back();
        if (token.empty() || token.find_first_of(" \t\r\n") != std::string::npos)
            return Failed(TBaseError(op, message, FileReason(*o_.ControlToken, "holds no token (one line without blanks)")));
    } else if (!TControlServer::IsLoopback(address)) {
        return Usage("--control " + address + ": an address other than the loopback address needs --control-token FILE");
    }
    if (Simulation()) engine_.SetCockpit(&driven_);
    engine_.SetReceivedFrameSink(&received_);
    driven_.SetControl(&hub_);
    controlApi_ = std::make_unique<TControlApi>(hub_, checks_, token);
    controlServer_ = std::make_unique<TControlServer>(*controlApi_);
    try {
        const uint16_t port = controlServer_->Start(address, *o_.ControlPort);
        Print("control API listening on " + (address.Find(":") >= 0 ? "[" + address + "]" : address) + ":" +
              TAString(static_cast<int32_t>(port)) + "\n");
    } catch (const TBaseError& e) {
        controlServer_.reset();
        return Failed(e);
    }
    return std::nullopt;
}

int64_t TCliRun::EndMicros() const
{
    int64_t end = o_.Duration ? static_cast<int64_t>(*o_.Duration * 1e6 + 0.5) : INT64_MAX;
    if (scenario_)
        if (const std::optional<int64_t> stop = scenario_->StopTime()) end = std::min(end, *stop);
    return end;
}

bool TCliRun::DriveEnded()
{
    if (controlServer_) {
        hub_.Publish(driven_.Status(reporter_.count + channelReports_.Count(), received_.count));
        if (hub_.TakeRunRequest() == TControlHub::TRunRequest::Stop) return true;
    }
    // A scenario posted to the control API may stop the run as well.
    return player_.StopReached();
}

}  // namespace

TCliRunner::TCliRunner(const TCliOptions& options, std::FILE* out, std::FILE* err)
    : options_(options), out_(out), err_(err)
{
}

int TCliRunner::Run(const std::atomic<int>& stop)
{
    try {
        auto run = std::make_unique<TCliRun>(options_, stop, out_, err_);
        if (auto exit = run->ExportDbc()) return *exit;
        if (auto exit = run->CheckInputs()) return *exit;
        if (auto exit = run->OpenChannel()) return *exit;
        if (auto exit = run->OpenOutputs()) return *exit;
        run->RunLoop();
        return run->Finish();
    } catch (const std::system_error& e) {
        // A thread the run needs (the transmit timer, a channel's) could not be made: a
        // process limit (ulimit -u) or no memory. Whatever had been opened is closed.
        TPrintingReporter(err_).ShowError(ThreadError(e));
        return ExitFailed;
    }
}

TBaseError TCliRunner::ThreadError(const std::system_error& e)
{
    return TBaseError("TCliRunner::Start", "Thread not started",
                      TAString(e.code().message()) + " (a limit on processes or threads, ulimit -u, may be reached)");
}
