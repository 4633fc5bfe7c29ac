#include "app/trunengine.h"

#include "app/tcanlogreader.h"
#include "app/terrorreporter.h"
#include "app/tinternallog.h"
#include "app/treceivedframesink.h"
#include "app/truncockpit.h"
#include "app/trunmonitor.h"
#include "app/trunvalidity.h"
#include "app/trunview.h"
#include "can/tcanchannel.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace {

// The monitor and the cockpit display are refreshed every 200 ms: every 4th tick.
constexpr uint32_t RefreshTicks = 200 / TRunEngine::TickIntervalMs;

// "11110011 00010101 ... " : each data byte as 8 bits, most significant first, and a blank.
TAString BitText(const TCanFrame& frame)
{
    TAString text;
    for (uint8_t byte : frame.Data) {
        for (int bit = 7; bit >= 0; --bit) text += ((byte >> bit) & 1) ? '1' : '0';
        text += ' ';
    }
    return text;
}

}  // namespace

TRunEngine::TRunEngine(const TTimeSource& clock, TCanTransmit& transmit)
    : InternalLines(TInternalLog::Log()), clock_(clock), transmit_(transmit), catalogue_("00.02")
{
}

TRunEngine::~TRunEngine() = default;

void TRunEngine::Start()
{
    if (running_) return;
    running_ = true;
    simTime_ = 0;
    framesSent_ = 0;
    framesLogged_ = 0;
    receivedLogged_ = 0;
    replay_.Restart(ActiveLines(), Controls.FromFirstFrame || ActiveLines().PlaysFromFirstFrame());
    // What an earlier run left queued (a transfer cut by Stop, a replay's backlog)
    // belongs to that run: its frames would go out with stale times and data.
    sendQueue_.Clear();
    transfers_.Clear();
    responder_.Reset();
    startTime_ = clock_.Seconds();
    startMicros_ = static_cast<int64_t>(startTime_ * 1000000.0L);
    logOut_.StartRun();
    for (bool& shown : shown_) shown = false;
    maxLateness_ = 0;
    droppedTransfers_ = 0;

    try {
        catalogue_.Reset();
    } catch (const TBaseError& e) {
        ShowOncePerRun(esSimulation, e);
    }
    // Until the first 20 ms step the catalogue holds no values; requests in between
    // would fail. Hand it the model's values as they stand.
    if (Controls.Simulation && cockpit_) {
        try {
            catalogue_.ReadValues(cockpit_->ValueLine());
        } catch (const TBaseError& e) {
            ShowOncePerRun(esSimulation, e);
        }
    }
    if (monitor_) {
        try {
            monitor_->ShowRequests(responder_.Counts());
            monitor_->ShowValues(nullptr);
        } catch (const TBaseError& e) {
            ShowOncePerRun(esSimulation, e);
        }
    }
    if (view_) view_->RunStateChanged(true);
}

void TRunEngine::Stop()
{
    if (!running_) return;
    running_ = false;
    if (logOut_.IsOpen() && !logOut_.Flush()) LogOutFailed();
    if (view_) view_->RunStateChanged(false);
}

void TRunEngine::TimerSysTimer()
{
    // A modal error box shown from inside a step runs the window's event loop, which
    // may call the tick again: that call must not run steps inside the unfinished one.
    if (!running_ || inTick_) return;
    inTick_ = true;
    struct TLeave {
        bool& flag;
        ~TLeave() { flag = false; }
    } leave{inTick_};
    ++tickCounter_;
    // A flush from elsewhere (the window's Logfile box) may have failed since the last tick.
    if (logOut_.Failed()) LogOutFailed();
    bool monitorDue = tickCounter_ % RefreshTicks == 0;
    bool cockpitRefresh = monitorDue;

    const auto elapsed = static_cast<int64_t>((clock_.Seconds() - startTime_) * 1000000.0L);
    // Stop may also come from the user while an error box is open.
    while (running_ && simTime_ < elapsed) {
        if (!DoStep(monitorDue, cockpitRefresh)) return;
    }
}

bool TRunEngine::DoStep(bool& monitorDue, bool& cockpitRefresh)
{
    if (++stepCounter_ >= StepCycle) stepCounter_ = 0;

    if (Controls.Simulation) {
        if (stepCounter_ % 5 == 0) SimulationStep(monitorDue, cockpitRefresh);
    } else {
        TLogReplay::TResult result = TLogReplay::rrGoOn;
        try {
            result = replay_.Step(ActiveLines(), Controls.Repeat, simTime_, sendQueue_);
        } catch (const TBaseError& e) {
            // With Repeat the same frame fails again in every pass: tell the user once.
            ShowOncePerRun(esReplay, e);
        }
        ReportDrops();
        // The run ends once the last frame of the log has left the queue, not when it
        // was queued: frames that share a millisecond leave in the steps after it.
        if (result == TLogReplay::rrAllQueued && sendQueue_.Count() == 0) {
            Stop();
            return false;
        }
    }

    ReadReceived();

    const TCanFrame frame = sendQueue_.GetNextFrame(simTime_);
    if (!frame.IsNone()) {
        transfers_.Sent(frame, simTime_, sendQueue_);
        responder_.Sent(frame);
        NoteLateness(frame);
        if (Controls.SendCan && canChannel_ && Transmit(frame)) ++framesSent_;
        if (Controls.LogFile && logOut_.IsOpen()) {
            if (logOut_.Append(frame)) {
                ++framesLogged_;
            } else {
                LogOutFailed();
            }
        }
        WatchFrame(frame);
    }

    simTime_ += StepMicros;
    return true;
}

void TRunEngine::SimulationStep(bool& monitorDue, bool& cockpitRefresh)
{
    // Each part reports its failure once per run and the next part still runs: a bad
    // value line must not stop the groups whose values are fine.
    if (stepCounter_ % 20 == 0 && cockpit_) {
        try {
            const TAString line = cockpit_->Step(VehicleStep, cockpitRefresh);
            cockpitRefresh = false;
            catalogue_.ReadValues(line);
        } catch (const TBaseError& e) {
            ShowOncePerRun(esSimulation, e);
        }
    }
    if (Controls.ValidManip && validity_) {
        try {
            validity_->Execute(catalogue_);
        } catch (const TBaseError& e) {
            ShowOncePerRun(esSimulation, e);
        }
    }
    // Once per refresh tick, at its first 5 ms step. (Clearing the request when a frame
    // left instead would starve the monitor whenever a frame leaves before that step,
    // which with a steady tick phase is every time.)
    if (Controls.Display && monitorDue && monitor_) {
        monitorDue = false;
        try {
            monitor_->ShowRequests(responder_.Counts());
            monitor_->ShowValues(&catalogue_);
        } catch (const TBaseError& e) {
            ShowOncePerRun(esSimulation, e);
        }
    }
    try {
        QueueDueGroups();
    } catch (const TBaseError& e) {
        ShowOncePerRun(esSimulation, e);
    }
}

void TRunEngine::QueueDueGroups()
{
    std::vector<TCanHigh> due = catalogue_.GetCanHighs(simTime_ + RequestLead);
    const auto& ids = catalogue_.FrameIds();
    for (TCanHigh& m : due) {
        bool dropped = false;
        for (int k = 0; k < TFrameOptions::MaxFlags && ids[static_cast<size_t>(k)] != TBusFmsStandard::EndOfIds; ++k) {
            if (m.Id == ids[static_cast<size_t>(k)] && Options.FrameFlags[static_cast<size_t>(k)] == 0) {
                dropped = true;
                break;
            }
        }
        if (dropped) continue;
        m.SetSourceAddress(Options.SourceAddress);
        m.SetPriority(Options.Priority);
        transfers_.Queue(m, sendQueue_);
    }
}

void TRunEngine::ReadReceived()
{
    for (int n = 0; canChannel_ && n < MaxReadsPerStep; ++n) {
        TCanFrame frame;
        try {
            frame = canChannel_->Read();
        } catch (const TBaseError& e) {
            ShowOncePerRun(esChannelRead, e);
            return;
        } catch (...) {
            ShowOncePerRun(esChannelRead, TBaseError("Maintask", "CAN read error"));
            return;
        }
        if (frame.IsNone()) return;
        frame = LogReceived(frame);
        if (received_) received_->FrameReceived(frame);
        if (Controls.Simulation) AnswerRequest(frame);
    }
}

TCanFrame TRunEngine::LogReceived(TCanFrame frame)
{
    frame.Time = simTime_;
    if (Controls.LogFile && Controls.LogReceived && logOut_.IsOpen()) {
        if (logOut_.Append(frame, TLogDirection::Received)) {
            ++framesLogged_;
            ++receivedLogged_;
        } else {
            LogOutFailed();
        }
    }
    return frame;
}

void TRunEngine::AnswerRequest(const TCanFrame& frame)
{
    if (!TRequestResponder::AsRequest(frame)) return;
    try {
        // The answer carries what the schedule would send now: the forced states too,
        // even before this run's first manipulation step.
        if (Controls.ValidManip && validity_) validity_->Execute(catalogue_);
        std::optional<TCanHigh> answer = responder_.Answer(frame, catalogue_, Options, simTime_);
        if (answer) transfers_.Queue(*answer, sendQueue_);
    } catch (const TBaseError& e) {
        ShowOncePerRun(esSimulation, e);
    }
}

int64_t TRunEngine::SkipIdleTime(int64_t limit)
{
    if (!running_ || Controls.Simulation) return simTime_;
    constexpr int64_t kMs = StepMicros;
    int64_t target = std::numeric_limits<int64_t>::max();
    const int64_t queued = sendQueue_.NextDueTime();
    if (queued != std::numeric_limits<int64_t>::max()) {
        // A frame leaves in the first step whose time has reached its own.
        target = queued <= simTime_ ? simTime_ : (queued + kMs - 1) / kMs * kMs;
    }
    const int64_t next = replay_.NextFrameTime(ActiveLines(), Controls.Repeat);
    if (next != std::numeric_limits<int64_t>::max()) {
        // A frame is queued in the step whose millisecond holds its time.
        const int64_t step = next <= simTime_ ? simTime_ : next / kMs * kMs;
        target = std::min(target, step);
    }
    // Nothing queued and nothing more to come: the next step ends the run.
    if (target == std::numeric_limits<int64_t>::max()) return simTime_;
    target = std::min(target, limit / kMs * kMs);
    if (target <= simTime_) return simTime_;
    const int64_t skipped = (target - simTime_) / kMs;
    stepCounter_ = static_cast<int32_t>((stepCounter_ + skipped % StepCycle) % StepCycle);
    simTime_ = target;
    return simTime_;
}

void TRunEngine::ReportDrops()
{
    for (const TTransferDrop& drop : sendQueue_.TakeDrops()) {
        ++droppedTransfers_;
        // Refused packets keep the receiving side's own messages; every other drop is
        // a transfer that ended unfinished.
        if (drop.Reason == TTransferDrop::drPacketError || drop.Reason == TTransferDrop::drBadAnnouncement)
            ShowOncePerRun(esTransfer, TBaseError("TCanHigh::Add", drop.Error, drop.Describe()));
        else
            ShowOncePerRun(esTransfer, TBaseError("TCanHighDB::AddFrame", "multipacket transfer incomplete", drop.Describe()));
    }
}

void TRunEngine::NoteLateness(const TCanFrame& frame)
{
    const int64_t late = simTime_ - frame.Time;
    if (late <= maxLateness_) return;
    maxLateness_ = late;
    if (late > LateNotice && !shown_[esLate]) {
        shown_[esLate] = true;
        if (errors_) {
            errors_->ShowNotice(TBaseError("TRunEngine::TimerSysTimer", "frames late",
                                           "at most one frame leaves per millisecond; a frame of " +
                                               TAString(static_cast<double>(frame.Time) / 1e6, 0, 4) +
                                               " s left " + TAString(static_cast<double>(late) / 1e3, 0, 1) +
                                               " ms late"));
        }
    }
}

bool TRunEngine::Transmit(const TCanFrame& frame)
{
    try {
        transmit_.Write(frame, startMicros_ + TransmitLead);
        return true;
    } catch (const TBaseError& e) {
        Controls.SendCan = false;
        NotifyControls();
        Show(e);
    } catch (...) {
        Controls.SendCan = false;
        NotifyControls();
        Show(TBaseError("Maintask", "CAN write error"));
    }
    return false;
}

void TRunEngine::WatchFrame(const TCanFrame& frame)
{
    try {
        const uint16_t pgn = Controls.FrameWatchPgn.AsWord(TAString::nmHex);
        if (pgn != static_cast<uint16_t>(frame.Id >> 8)) return;
        Controls.FrameWatchBits = BitText(frame);
        NotifyControls();
    } catch (...) {
        // Text that is no PGN only switches the watch off.
    }
}

void TRunEngine::SetCanChannel(TCanChannel* channel)
{
    transmit_.SetChannel(channel);
    canChannel_ = channel;
    const TBaseError left = transmit_.TakeError();
    if (!left.Operation().IsEmpty()) Show(left);
}

const TCanLog& TRunEngine::ActiveLines() const
{
    return Controls.InternalLog ? InternalLines : userLines_;
}

bool TRunEngine::LoadUserLog(const TAString& fileName, const std::atomic<int>* cancel)
{
    Stop();
    userLines_ = TCanLog();
    try {
        TCanLogReader::TControl control;
        control.Cancel = cancel;
        userLines_ = TCanLogReader::Load(fileName, control);
        return true;
    } catch (const TBaseError& e) {
        Show(e);
        return false;
    }
}

void TRunEngine::SetUserLog(TCanLog log)
{
    if (!Controls.Simulation && !Controls.InternalLog) Stop();
    userLines_ = std::move(log);
}

bool TRunEngine::OpenLogOut(const TAString& fileName, TLogOut::TOpenMode mode)
{
    // The lines still buffered for the file open so far must reach it, or the user hears why.
    if (logOut_.IsOpen() && !logOut_.Close()) Show(logOut_.Error());
    logOutShown_ = false;
    if (!logOut_.Open(fileName, mode)) {
        if (Controls.LogFile) {
            Controls.LogFile = false;
            NotifyControls();
        }
        logOutShown_ = true;
        Show(logOut_.Error());
    }
    return logOut_.IsOpen();
}

void TRunEngine::LogOutFailed()
{
    // The log has closed itself; the run goes on to the other destinations.
    if (logOutShown_) return;
    logOutShown_ = true;
    Controls.LogFile = false;
    NotifyControls();
    Show(logOut_.Error());
}

void TRunEngine::Show(const TBaseError& error)
{
    if (errors_) errors_->ShowError(error);
}

void TRunEngine::ShowOncePerRun(TErrorSource source, const TBaseError& error)
{
    if (shown_[source]) return;
    shown_[source] = true;
    Show(error);
}

void TRunEngine::NotifyControls()
{
    if (view_) view_->ControlsChanged();
}
