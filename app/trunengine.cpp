#include "app/trunengine.h"

#include "app/terrorreporter.h"
#include "app/tinternallog.h"
#include "app/truncockpit.h"
#include "app/trunmonitor.h"
#include "app/trunvalidity.h"
#include "app/trunview.h"
#include "can/tcanchannel.h"

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
    : InternalLines(TInternalLog::Lines()), clock_(clock), transmit_(transmit), catalogue_("00.02")
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
    replay_.Restart();
    startTime_ = clock_.Seconds();
    startMicros_ = static_cast<int64_t>(startTime_ * 1000000.0L);
    for (bool& shown : shown_) shown = false;

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
    logOut_.Flush();
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
        try {
            if (replay_.Step(ActiveLines(), Controls.Repeat, simTime_, sendQueue_) == TLogReplay::rrEnd) {
                Stop();
                return false;
            }
        } catch (const TBaseError& e) {
            // With Repeat the same line fails again in every pass: tell the user once.
            ShowOncePerRun(esReplay, e);
        }
    }

    if (canChannel_) {
        try {
            canChannel_->Read();
        } catch (const TBaseError& e) {
            ShowOncePerRun(esChannelRead, e);
        } catch (...) {
            ShowOncePerRun(esChannelRead, TBaseError("Maintask", "CAN read error"));
        }
    }

    const TCanFrame frame = sendQueue_.GetNextFrame(simTime_);
    if (!frame.IsNone()) {
        if (Controls.SendCan && canChannel_ && Transmit(frame)) ++framesSent_;
        if (Controls.LogFile && logOut_.IsOpen()) {
            if (logOut_.Append(frame)) {
                ++framesLogged_;
            } else {
                Controls.LogFile = false;
                NotifyControls();
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
        sendQueue_.AddCanHigh(m);
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
}

const StringList& TRunEngine::ActiveLines() const
{
    return Controls.InternalLog ? InternalLines : userLines_;
}

bool TRunEngine::LoadUserLog(const TAString& fileName)
{
    Stop();
    try {
        userLines_.LoadFromFile(fileName, true);
        for (int i = 0; i < userLines_.Count(); ++i) {
            if (TCanFrame::DetectFormat(userLines_[i], lfFixed) == lfNone) {
                userLines_.Clear();
                Show(TBaseError("", "Logfile Read Error"));
                return false;
            }
        }
        return true;
    } catch (...) {
        userLines_.Clear();
        return false;
    }
}

bool TRunEngine::OpenLogOut(const TAString& fileName)
{
    if (!logOut_.Open(fileName) && Controls.LogFile) {
        Controls.LogFile = false;
        NotifyControls();
    }
    return logOut_.IsOpen();
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
