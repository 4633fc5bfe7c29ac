#include "engine/trunengine.h"

#include "logs/tcanlogreader.h"
#include "engine/terrorreporter.h"
#include "logs/tinternallog.h"
#include "engine/treceivedframesink.h"
#include "engine/truncockpit.h"
#include "engine/trunmonitor.h"
#include "engine/trunvalidity.h"
#include "engine/trunview.h"
#include "can/tcanchannel.h"
#include "engine/taddressclaimguard.h"

#include <algorithm>
#include <cmath>
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

// Marks the engine busy for the scope: a call that finds it busy returns at once.
class TBusy {
public:
    explicit TBusy(bool& flag) : flag_(flag) { flag_ = true; }
    ~TBusy() { flag_ = false; }
    TBusy(const TBusy&) = delete;
    TBusy& operator=(const TBusy&) = delete;

private:
    bool& flag_;
};

}  // namespace

TRunEngine::TRunEngine(const TTimeSource& clock, TCanTransmit& transmit)
    : InternalLines(TInternalLog::Log()), clock_(clock), transmit_(transmit), catalogue_("00.02")
{
    responder_.SetAddressClaim(&claim_);
}

TRunEngine::~TRunEngine()
{
    // The transmit side outlives the engine: it must not keep writing through a guard of ours.
    if (guard_) transmit_.SetChannel(nullptr);
}

void TRunEngine::Start()
{
    if (running_) return;
    // What the last run left in the transmit buffer has gone by now or goes later: it
    // belongs to that run's counts and log.
    CollectDepartures();
    TellLateness();
    running_ = true;
    simTime_ = 0;
    framesSent_ = 0;
    framesLogged_ = 0;
    receivedLogged_ = 0;
    replay_.Restart(ActiveLines(), Controls.FromFirstFrame || ActiveLines().PlaysFromFirstFrame());
    // What an earlier run left queued (a transfer cut by Stop, a replay's backlog)
    // belongs to that run: its frames would go out with stale times and data.
    sendQueue_.Clear();
    held_.clear();
    heldSince_ = 0;
    undelivered_ = 0;
    stalls_ = 0;
    stallShift_.store(0, std::memory_order_relaxed);
    transferWatch_.Clear();
    transfers_.Clear();
    responder_.Reset();
    ClaimAtStart();
    startTime_ = clock_.Seconds();
    startMicros_ = static_cast<int64_t>(startTime_ * 1000000.0L);
    recordOrigin_ = startMicros_ + TransmitLead;
    // After a lost claim what that run left in the transmit buffer is still withdrawn;
    // this run's frames (due from its first one on) pass.
    if (withdrawBefore_ != NoWithdrawal) WithdrawBefore(withdrawalTold_ ? NoWithdrawal : startMicros_ + TransmitLead);
    tickNow_ = 0;
    logOut_.StartRun();
    for (bool& shown : shown_) shown = false;
    maxLateness_ = 0;
    lateFrames_ = 0;
    latestDue_ = 0;

    signals_.Clear();
    signals_.SetNow(0);
    signals_.SetSentOutOfRange({});
    try {
        catalogue_.Reset();
    } catch (const TBaseError& e) {
        ShowOncePerRun(esSimulation, e);
    }
    // Reset left every value not set: whatever the model hands over next is new, and
    // the validity manipulation runs again.
    handedGeneration_ = 0;
    validityDue_ = true;
    // Until the first 20 ms step the catalogue holds no values; requests in between
    // would fail. Hand it the model's values as they stand.
    if (Controls.Simulation && cockpit_) {
        try {
            HandOver(cockpit_->Values());
        } catch (const TBaseError& e) {
            ShowOncePerRun(esSimulation, e);
        }
    }
    if (monitor_) {
        try {
            monitor_->ShowRequests(responder_.Counts());
            monitor_->ShowAddressClaim(claim_.StateText(simTime_));
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
    claim_.Stop();
    ShowClaim();
    if (!Controls.Simulation) EndTransfers();
    TellCutAnswers();
    latenessDue_ = true;
    TellLatenessOnceLeft();
    TellStalls();
    if (!held_.empty()) {
        // Released before the stop and never taken by the transmit buffer.
        undelivered_ += static_cast<int64_t>(held_.size());
        held_.clear();
        Show(TBaseError("TRunEngine::TimerSysTimer", "Frames not delivered",
                        TAString(std::to_string(undelivered_)) +
                            " frames of this run were released and not taken by the transmit buffer"));
    }
    if (logOut_.IsOpen() && !logOut_.Flush()) LogOutFailed();
    if (view_) view_->RunStateChanged(false);
}

void TRunEngine::TimerSysTimer()
{
    // A modal error box shown from inside a step runs the window's event loop, which
    // may call the tick again: that call must not run steps inside the unfinished one.
    if (inTick_) return;
    const TBusy busy(inTick_);
    // Frames written before a Stop still leave at their times.
    CollectDepartures();
    if (!running_) return;
    ++tickCounter_;
    // A flush from elsewhere (the window's Logfile box) may have failed since the last tick.
    if (logOut_.Failed()) LogOutFailed();
    bool monitorDue = tickCounter_ % RefreshTicks == 0;
    bool cockpitRefresh = monitorDue;

    auto elapsed = static_cast<int64_t>(std::llround((clock_.Seconds() - startTime_) * 1000000.0L));
    if (elapsed - simTime_ > StallLimit) {
        // The process was held up (a suspended machine, a box open, a debugger): the run
        // goes on from the present instead of sending every missed millisecond at once.
        // The simulation skips the missed periods; a replay's frames move by the stall.
        const int64_t shift = elapsed - simTime_ - StepMicros;
        startTime_ += static_cast<long double>(shift) / 1000000.0L;
        startMicros_ += shift;
        stallShift_.fetch_add(shift, std::memory_order_relaxed);
        ++stalls_;
        elapsed -= shift;
    }
    // The steps of this tick run at once: they are all handed over at this time.
    tickNow_ = elapsed;
    // Stop may also come from the user while an error box is open.
    while (running_ && simTime_ < elapsed) {
        if (!DoStep(monitorDue, cockpitRefresh)) break;
    }
    signals_.SetNow(simTime_);
}

bool TRunEngine::DoStep(bool& monitorDue, bool& cockpitRefresh)
{
    if (++stepCounter_ >= StepCycle) stepCounter_ = 0;
    // Before new frames are written: the departure ring never holds more than the
    // frames written since the last call and those the buffer held then.
    CollectDepartures();

    if (Controls.Simulation) {
        if (stepCounter_ % 5 == 0) SimulationStep(monitorDue, cockpitRefresh);
    } else {
        TLogReplay::TResult result = TLogReplay::rrGoOn;
        try {
            result = replay_.Step(ActiveLines(), Controls.Repeat, simTime_, held_);
        } catch (const TBaseError& e) {
            // With Repeat the same frame fails again in every pass: tell the user once.
            ShowOncePerRun(esReplay, e);
        }
        // The run ends once the last frame of the log has left, not when it was
        // released: frames the transmit buffer could not take yet leave in later steps.
        if (result == TLogReplay::rrAllQueued && held_.empty() && sendQueue_.Count() == 0) {
            ShowSignals();
            Stop();
            return false;
        }
        if (monitorDue) {
            monitorDue = false;
            ShowSignals();
        }
    }

    ReadReceived();

    if (Controls.Simulation) {
        ReleaseAnswers();
        ReleaseClaimHeld();
        const TCanFrame frame = sendQueue_.GetNextFrame(simTime_);
        if (!frame.IsNone()) {
            transfers_.Sent(frame, simTime_, sendQueue_);
            responder_.Sent(frame);
            held_.push_back(frame);
        }
    }
    ReleaseHeld();

    simTime_ += StepMicros;
    return true;
}

void TRunEngine::ShowSignals()
{
    // What left of a replayed log, decoded (the catalogue is not used by a replay).
    if (Controls.Display && monitor_) monitor_->ShowSignals(signals_);
}

void TRunEngine::ReleaseHeld()
{
    // The wait for the transmit buffer starts when a frame begins to wait.
    if (held_.empty()) {
        heldSince_ = simTime_;
        return;
    }
    const bool toAdapter = Controls.SendCan && canChannel_;
    int room = toAdapter ? transmit_.Room() : std::numeric_limits<int>::max();
    if (room > 0 || !toAdapter) heldSince_ = simTime_;
    while (!held_.empty() && room > 0 && running_) {
        const TCanFrame frame = held_.front();
        held_.pop_front();
        --room;
        Emit(frame);
        // A refused write switched the adapter off: the rest go to the other destinations.
        if (!(Controls.SendCan && canChannel_)) room = std::numeric_limits<int>::max();
    }
    // A transmit buffer that takes nothing for HoldLimit: the frames held cannot be
    // delivered. They are counted and told; the adapter stays on for what comes next.
    if (!held_.empty() && simTime_ - heldSince_ >= HoldLimit) {
        const auto lost = static_cast<int64_t>(held_.size());
        undelivered_ += lost;
        held_.clear();
        heldSince_ = simTime_;
        ShowOncePerRun(esUndelivered,
                       TBaseError("TRunEngine::TimerSysTimer", "Frames not delivered",
                                  TAString(std::to_string(lost)) + " frames waited " +
                                      TAString(static_cast<double>(HoldLimit) / 1e3, 0, 0) +
                                      " ms for the transmit buffer, which took none of them; they were not "
                                      "sent (the adapter stays on; the end of the run gives the total)"));
    }
}

int64_t TRunEngine::Departure(const TCanFrame& frame) const
{
    if (!(Controls.SendCan && canChannel_)) return std::max(frame.Time, simTime_);
    // The steps of a tick run at once when the tick comes: a frame the buffer could not
    // take earlier is handed over then, which may be later than its step. The tick's
    // time is read once for all its frames.
    return std::max(frame.Time, std::max(simTime_, tickNow_) - TransmitLead);
}

void TRunEngine::Emit(const TCanFrame& frame)
{
    TCanFrame left = frame;
    left.Time = Departure(frame);
    // A replay's transfers are watched as they are released, verbatim.
    if (!Controls.Simulation) transferWatch_.Frame(left);
    bool sent = false;
    if (Controls.SendCan && canChannel_) {
        sent = Transmit(frame);
        if (sent && transmit_.ReportsDepartures()) {
            // Counted, stamped, measured and logged when the medium takes it.
            WatchFrame(frame);
            return;
        }
        // A refused write switched the adapter off: for the other destinations the
        // frame leaves now.
        if (!sent) left.Time = Departure(frame);
    }
    NoteLateness(frame, left.Time);
    if (sent) Departed(frame, left.Time, false);
    left.Time += StallShift();
    LogSent(left);
    WatchFrame(frame);
}

void TRunEngine::EmitNow(const TCanFrame& frame)
{
    bool sent = false;
    if (Controls.SendCan && canChannel_) {
        sent = Transmit(frame, true);
        if (sent && transmit_.ReportsDepartures()) {
            WatchFrame(frame);
            return;
        }
    }
    TCanFrame left = frame;
    left.Time = std::max<int64_t>(0, WireTime());
    if (sent) Departed(frame, left.Time, true);
    left.Time += StallShift();
    LogSent(left);
    WatchFrame(frame);
}

void TRunEngine::Departed(const TCanFrame& frame, int64_t departure, bool answer)
{
    ++framesSent_;
    if (departed_) departed_(frame, departure, answer);
}

void TRunEngine::LogSent(const TCanFrame& left)
{
    // The frame has left: the trace and the monitor see it at its departure.
    trace_.Append(TTraceFrame::Tx, left.Time, left.Id, left.Extended, left.Dlc, left.Data);
    if (watchSignals_) signals_.Frame(left.Id, left.Extended, left.Dlc, left.Data, left.Time);
    if (!Controls.LogFile || !logOut_.IsOpen()) return;
    if (logOut_.Append(left)) {
        ++framesLogged_;
    } else {
        LogOutFailed();
    }
}

int64_t TRunEngine::WireTime() const
{
    return clock_.Micros() - startMicros_ - TransmitLead;
}

void TRunEngine::CollectDepartures()
{
    if (!transmit_.ReportsDepartures()) return;
    TCanTransmit::TDeparture d;
    bool logged = false;
    while (transmit_.TakeDeparture(d)) {
        logged = true;
        // Withdrawn after the address was lost: it never reached the medium.
        if ((retiredGuard_ && retiredGuard_->TakeWithdrawn(d.Frame, d.Due)) ||
            (guard_ && guard_->TakeWithdrawn(d.Frame, d.Due))) {
            ++withdrawnFrames_;
            continue;
        }
        // Its own time plus how late the medium took it (an answer: after the request).
        TCanFrame left = d.Frame;
        left.Time = d.Frame.Time + (d.Departure - d.Due);
        if (!d.Now) NoteLateness(d.Frame, left.Time);
        Departed(d.Frame, left.Time, d.Now);
        // The record stamps the wire: the time since the start, a stall's silence in it.
        left.Time = std::max<int64_t>(0, d.Departure - recordOrigin_);
        LogSent(left);
    }
    // After Stop the last lines reach the file once the last frame has left.
    if (logged && !running_ && logOut_.IsOpen() && transmit_.Pending() == 0 && !logOut_.Flush()) LogOutFailed();
    TellWithdrawn();
    TellLatenessOnceLeft();
}

void TRunEngine::TellWithdrawn()
{
    // Told once the transmit buffer holds none of them any more, with their number.
    if (withdrawalTold_ || withdrawBefore_ == NoWithdrawal || transmit_.Pending() > 0) return;
    withdrawalTold_ = true;
    if (withdrawnFrames_ == 0 || !errors_) return;
    errors_->ShowNotice(TBaseError("TRunEngine::AddressClaim", "frames withdrawn",
                                   TAString(std::to_string(withdrawnFrames_)) +
                                       " frames already in the transmit buffer were withdrawn when the address "
                                       "claim was lost; they did not reach the bus"));
}

void TRunEngine::PollReceived()
{
    if (!running_ || inTick_) return;
    const TBusy busy(inTick_);
    CollectDepartures();
    ReadReceived();
    if (Controls.Simulation) ReleaseAnswers();
}

void TRunEngine::ReleaseAnswers()
{
    const int64_t wire = WireTime();
    for (TCanFrame f = transfers_.NextAnswerFrame(wire); !f.IsNone(); f = transfers_.NextAnswerFrame(wire)) {
        responder_.Sent(f);
        EmitNow(f);
    }
}

void TRunEngine::SimulationStep(bool& monitorDue, bool& cockpitRefresh)
{
    // Each part reports its failure once per run and the next part still runs: a bad
    // snapshot must not stop the groups whose values are fine.
    if (stepCounter_ % 20 == 0 && cockpit_) {
        try {
            const TSignalSnapshot& values = cockpit_->Step(VehicleStep, cockpitRefresh);
            cockpitRefresh = false;
            HandOver(values);
        } catch (const TBaseError& e) {
            ShowOncePerRun(esSimulation, e);
        }
    }
    try {
        ApplyValidity();
    } catch (const TBaseError& e) {
        ShowOncePerRun(esSimulation, e);
    }
    // Once per refresh tick, at its first 5 ms step. (Clearing the request when a frame
    // left instead would starve the monitor whenever a frame leaves before that step,
    // which with a steady tick phase is every time.)
    if (Controls.Display && monitorDue && monitor_) {
        monitorDue = false;
        try {
            monitor_->ShowRequests(responder_.Counts());
            monitor_->ShowAddressClaim(claim_.StateText(simTime_));
            monitor_->ShowValues(&catalogue_);
        } catch (const TBaseError& e) {
            ShowOncePerRun(esSimulation, e);
        }
        monitor_->ShowSignals(signals_);
    }
    try {
        QueueDueGroups();
    } catch (const TBaseError& e) {
        ShowOncePerRun(esSimulation, e);
    }
}

void TRunEngine::HandOver(const TSignalSnapshot& values)
{
    if (values.Generation() == handedGeneration_) return;
    // A snapshot the catalogue refuses is told once and not tried again until the model
    // changes a value; the catalogue keeps the values it had.
    handedGeneration_ = values.Generation();
    catalogue_.Apply(values);
    validityDue_ = true;
}

void TRunEngine::ApplyValidity()
{
    const TRunValidity* by = Controls.ValidManip ? validity_ : nullptr;
    const uint64_t choices = by ? by->ChoicesVersion() : 0;
    if (!validityDue_ && by == validityBy_ && choices == validityChoices_) return;
    validityDue_ = false;
    validityBy_ = by;
    validityChoices_ = choices;
    if (validity_ && Controls.ValidManip)
        validity_->Execute(catalogue_);
    else
        catalogue_.RestoreOwnStates();
    // A value outside its range leaves as the nearest end of the range: the monitor, which
    // reads the bus, is told which ones so that they keep their "o".
    std::vector<bool> outOfRange(static_cast<std::size_t>(catalogue_.SignalCount()));
    for (int i = 0; i < catalogue_.SignalCount(); ++i)
        outOfRange[static_cast<std::size_t>(i)] = catalogue_.Signal(i).MeasVal->State == msOutOfRange;
    signals_.SetSentOutOfRange(std::move(outOfRange));
}

void TRunEngine::QueueDueGroups()
{
    // After a claim that has to wait, the schedule starts when the wait is over.
    const int64_t delay = claim_.ScheduleDelay();
    std::vector<TCanHigh> due = catalogue_.GetCanHighs(simTime_ + RequestLead - delay);
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
        m.Time += delay;
        QueueOwn(m);
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
        if (Controls.Simulation) {
            ClaimReceived(frame);
            AnswerRequest(frame);
        }
    }
}

TCanFrame TRunEngine::LogReceived(TCanFrame frame)
{
    // On the clock sent frames are stamped on; a frame that came in the TransmitLead
    // after Start, before any of ours could leave, is stamped 0.
    frame.Time = std::max<int64_t>(0, WireTime());
    // The record stamps the wire, a stall's silence in it (as for sent frames).
    TCanFrame arrived = frame;
    arrived.Time += StallShift();
    trace_.Append(TTraceFrame::Rx, arrived.Time, arrived.Id, arrived.Extended, arrived.Dlc, arrived.Data);
    if (Controls.LogFile && Controls.LogReceived && logOut_.IsOpen()) {
        if (logOut_.Append(arrived, TLogDirection::Received)) {
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
        ApplyValidity();
        std::optional<TCanHigh> answer = responder_.Answer(frame, catalogue_, Options, simTime_);
        if (!answer) return;
        if (!TAddressClaim::IsClaim(answer->Id)) {
            // Nothing of ours once the address is lost; held while the claim waits.
            if (claim_.Lost() || claim_.Hold(*answer, simTime_)) return;
        }
        if (answer->Length() > 8) {
            // A transfer starts on the wire's clock too, when it arrived or at the gate's
            // next opening: on the wire it must not overlap one of ours.
            transfers_.QueueAnswer(*answer, frame.Time);
            ReleaseAnswers();
            return;
        }
        TCanFrame out = answer->GetFrame(answer->Time);
        responder_.Sent(out);
        // Due when the request arrived: on the medium as soon as it takes it.
        out.Time = frame.Time;
        EmitNow(out);
    } catch (const TBaseError& e) {
        ShowOncePerRun(esSimulation, e);
    }
}

void TRunEngine::ClaimAtStart()
{
    // A replay sends the log's traffic with the log's addresses: no claim.
    if (!Controls.Simulation) {
        claim_.Reset();
        return;
    }
    const std::optional<TCanHigh> m = claim_.Start(Options.SourceAddress, simTime_);
    if (m) sendQueue_.AddCanHigh(*m);
    // The null or global address: sent as before, and the user hears why unclaimed.
    if (claim_.State() == TAddressClaim::TState::Unclaimable && errors_)
        errors_->ShowNotice(TBaseError("TRunEngine::AddressClaim", "Address not claimed", claim_.StateText(simTime_)));
}

void TRunEngine::ClaimReceived(const TCanFrame& frame)
{
    switch (claim_.Received(frame, simTime_)) {
    case TAddressClaim::TOutcome::None: return;
    case TAddressClaim::TOutcome::ClaimAgain: break;
    case TAddressClaim::TOutcome::Lost: ClaimLost(); break;
    }
    // Address Claimed again, or Cannot Claim.
    if (const std::optional<TCanHigh> m = claim_.Message(simTime_)) sendQueue_.AddCanHigh(*m);
    ShowClaim();
}

void TRunEngine::WithdrawBefore(int64_t due)
{
    withdrawBefore_ = due;
    if (guard_) guard_->WithdrawBefore(due);
}

void TRunEngine::ShowClaim()
{
    if (!monitor_) return;
    try {
        monitor_->ShowAddressClaim(claim_.StateText(simTime_));
    } catch (const TBaseError& e) {
        ShowOncePerRun(esSimulation, e);
    }
}

void TRunEngine::QueueOwn(const TCanHigh& m)
{
    if (TAddressClaim::IsClaim(m.Id)) {
        sendQueue_.AddCanHigh(m);
        return;
    }
    if (claim_.Lost() || claim_.Hold(m, simTime_)) return;
    transfers_.Queue(m, sendQueue_);
}

void TRunEngine::ReleaseClaimHeld()
{
    for (const TCanHigh& m : claim_.TakeHeld(simTime_)) transfers_.Queue(m, sendQueue_);
}

void TRunEngine::ClaimLost()
{
    // The address is another node's now: nothing of ours may follow the Cannot Claim.
    // What is still queued is withdrawn (counted, not reported as undelivered).
    const auto withdrawn = static_cast<int64_t>(held_.size()) + sendQueue_.Count() + transfers_.Waiting() +
                           transfers_.AnswersWaiting() + static_cast<int64_t>(claim_.DropHeld());
    sendQueue_.Clear();
    held_.clear();
    transfers_.Clear();
    // The frames already in the transmit buffer are withdrawn as they fall due; the
    // Cannot Claim that follows them still leaves.
    if (withdrawalTold_) {
        withdrawnFrames_ = 0;
        withdrawalTold_ = false;
    }
    WithdrawBefore(TAddressClaimGuard::NoLimit);
    Show(TBaseError("TRunEngine::AddressClaim", "Address claim lost",
                    claim_.StateText(simTime_) + "; " + TAString(std::to_string(withdrawn)) +
                        " messages still queued were withdrawn"));
}

int64_t TRunEngine::SkipIdleTime(int64_t limit)
{
    if (!running_ || Controls.Simulation) return simTime_;
    constexpr int64_t kMs = StepMicros;
    // Frames waiting for the transmit buffer leave in the next step.
    if (!held_.empty()) return simTime_;
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

void TRunEngine::EndTransfers()
{
    transferWatch_.End(simTime_, "the end of the run");
    if (transferWatch_.AllWell() || !errors_) return;
    // The log's own traffic, sent as it was: told, but nothing was lost.
    errors_->ShowNotice(TBaseError("TRunEngine::TimerSysTimer", "transfers incomplete", transferWatch_.Detail()));
}

void TRunEngine::TellCutAnswers()
{
    // A requesting device waits for these: it gets them incomplete or not at all.
    const int cut = transfers_.AnswersWaiting();
    transfers_.Clear();
    if (cut == 0 || !errors_) return;
    errors_->ShowNotice(TBaseError("TRunEngine::Stop", "answers cut short",
                                   TAString(std::to_string(cut)) +
                                       " answer transfers to requests had not been sent whole when the run stopped"));
}

void TRunEngine::NoteLateness(const TCanFrame& frame, int64_t departure)
{
    const int64_t late = departure - frame.Time;
    if (late > LateNotice) ++lateFrames_;
    if (late <= maxLateness_) return;
    maxLateness_ = late;
    latestDue_ = frame.Time;
}

void TRunEngine::TellStalls()
{
    if (stalls_ == 0 || !errors_) return;
    const char* how = Controls.Simulation ? "the simulation skipped the missed periods"
                                          : "the replay's later frames moved by the stall";
    errors_->ShowNotice(TBaseError("TRunEngine::TimerSysTimer", "run stalled",
                                   "the run fell more than " + TAString(static_cast<double>(StallLimit) / 1e3, 0, 0) +
                                       " ms behind " + TAString(std::to_string(stalls_)) + " times, " +
                                       TAString(static_cast<double>(StallShift()) / 1e6, 0, 3) +
                                       " s in all, and went on from the present each time: " + how));
}

void TRunEngine::TellLatenessOnceLeft()
{
    if (latenessDue_ && transmit_.Pending() == 0) TellLateness();
}

void TRunEngine::TellLateness()
{
    if (!latenessDue_) return;
    latenessDue_ = false;
    if (lateFrames_ == 0 || !errors_) return;
    const char* why = Controls.Simulation ? "at most one frame leaves per millisecond"
                                          : "the transmit buffer took the frames of the log more slowly than they came";
    errors_->ShowNotice(TBaseError("TRunEngine::TimerSysTimer", "frames late",
                                   TAString(std::to_string(lateFrames_)) + " frames left more than " +
                                       TAString(static_cast<double>(LateNotice) / 1e3, 0, 0) +
                                       " ms after their time; the latest left " +
                                       TAString(static_cast<double>(maxLateness_) / 1e3, 0, 3) + " ms late (a frame of " +
                                       TAString(static_cast<double>(latestDue_) / 1e6, 0, 4) + " s): " + why));
}

bool TRunEngine::Transmit(const TCanFrame& frame, bool now)
{
    try {
        if (now) {
            // Its time is on the wire's clock (a request's arrival): due already.
            transmit_.WriteNow(frame, startMicros_ + TransmitLead);
        } else {
            transmit_.Write(frame, startMicros_ + TransmitLead);
        }
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
    // The watched PGN is read from its text only when the text changes.
    if (Controls.FrameWatchPgn != watchText_) {
        watchText_ = Controls.FrameWatchPgn;
        watchPgn_.reset();
        try {
            watchPgn_ = Controls.FrameWatchPgn.AsWord(TAString::nmHex);
        } catch (...) {
            // Text that is no PGN only switches the watch off.
        }
    }
    if (!watchPgn_ || *watchPgn_ != static_cast<uint16_t>(frame.Id >> 8)) return;
    Controls.FrameWatchBits = BitText(frame);
    NotifyControls();
}

void TRunEngine::SetCanChannel(TCanChannel* channel)
{
    if (transmit_.ReportsDepartures()) {
        // The transmit buffer writes through a guard that can withdraw our frames still in
        // it once the address is lost. The guard retired last is unused since the switch
        // before, and its departures were collected then.
        std::unique_ptr<TAddressClaimGuard> next = channel ? std::make_unique<TAddressClaimGuard>(*channel) : nullptr;
        if (next && withdrawBefore_ != NoWithdrawal) next->WithdrawBefore(withdrawBefore_);
        retiredGuard_ = std::move(guard_);
        guard_ = std::move(next);
        transmit_.SetChannel(guard_.get());
        // Every departure through the retired guard is in now: matched while it is known.
        CollectDepartures();
    } else {
        transmit_.SetChannel(channel);
    }
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
    // "Written" counts the lines of the file open now, not of the ones before it.
    framesLogged_ = 0;
    receivedLogged_ = 0;
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
