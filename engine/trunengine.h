#pragma once
// The run engine: run state, Start and Stop, and the main tick.
//
// While running, the window's 50 ms timer calls TimerSysTimer. Each call advances the
// simulated clock SimTime in 1 ms steps until it has caught up with the time source.
// In each step the vehicle simulation (every 5 ms) fills the time-ordered send queue,
// from which at most one due frame leaves; a log replay instead releases every frame
// of the log due in that millisecond, verbatim and in file order, as far as the
// transmit buffer takes them (the rest wait, in order, and leave late). A frame goes to
// the destinations: the transmit buffer (due 200 ms after its scheduled time, so the
// burst of a tick is spread out again), the output log (stamped with the time it
// leaves) and the frame watch. Before that, each
// step reads what the open channel has received: every frame goes to the output log
// when Controls.LogReceived asks for it (stamped on the wire's clock), to the
// received-frame sink, and in simulation mode the answers to J1939 requests go out at
// once, bypassing the lead (a transfer packet by packet, on the wire's clock).
//
// Holds the process-wide objects of a run: the catalogue, the send queue, the open
// channel pointer, the log lines and the output log. The windows are reached through
// small interfaces (all optional); the main window's controls are plain state in
// Controls, the applied options in Options.
//
// Threads: everything here runs on the window thread. The transmit side
// (TCanTransmit) hands frames and the channel to the transmit timer's thread.

#include "logs/tcanlog.h"
#include "engine/tcantransmit.h"
#include "engine/tframeoptions.h"
#include "logs/tlogout.h"
#include "engine/tlogreplay.h"
#include "engine/trequestresponder.h"
#include "engine/truncontrols.h"
#include "engine/ttransfergate.h"
#include "engine/ttimesource.h"
#include "engine/tframetrace.h"
#include "engine/tsignalmonitor.h"
#include "fms/tbusfmsstandard.h"
#include "fms/tcanhighdb.h"
#include "fms/ttransferwatch.h"
#include "support/tbaseerror.h"
#include "engine/taddressclaim.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <optional>

class TAddressClaimGuard;
class TCanChannel;
class TErrorReporter;
class TReceivedFrameSink;
class TRunCockpit;
class TRunMonitor;
class TRunValidity;
class TRunView;

class TRunEngine {
public:
    static constexpr int TickIntervalMs = 50;          // TimerSys
    static constexpr int64_t StepMicros = 1000;        // one step of SimTime
    static constexpr int64_t RequestLead = 5000;       // groups are asked for 5 ms ahead
    static constexpr int64_t TransmitLead = 200000;    // µs between a frame's time and its due time
    static constexpr double VehicleStep = 0.02;        // s, every 20 steps
    static constexpr int32_t StepCycle = 10000;        // StepCounter runs 0..9999
    // StepCounter before the program's first step: that step wraps to 0, so the first
    // run of the program starts with a vehicle step and a catalogue request in its
    // very first millisecond (the recorded internal log starts that way).
    static constexpr int32_t FirstStepCounter = StepCycle - 1;
    // Frames read from the open channel in one step at most. Far above what a CAN bus
    // carries in a millisecond, so what a tick's first steps leave is read by the next
    // ones and nothing piles up in the channel.
    static constexpr int MaxReadsPerStep = 64;

    // The catalogue is built for FMS version "00.02"; InternalLines hold the built-in
    // log (TInternalLog).
    TRunEngine(const TTimeSource& clock, TCanTransmit& transmit);
    ~TRunEngine();
    TRunEngine(const TRunEngine&) = delete;
    TRunEngine& operator=(const TRunEngine&) = delete;

    // The windows the tick calls; not owned, nullptr = none.
    void SetCockpit(TRunCockpit* cockpit) { cockpit_ = cockpit; }
    void SetValidity(TRunValidity* validity) { validity_ = validity; }
    void SetMonitor(TRunMonitor* monitor) { monitor_ = monitor; }
    void SetView(TRunView* view) { view_ = view; }
    void SetErrorReporter(TErrorReporter* reporter) { errors_ = reporter; }
    // Receives every frame read from the open channel; not owned, nullptr = none.
    void SetReceivedFrameSink(TReceivedFrameSink* sink) { received_ = sink; }

    TRunControls Controls;
    TFrameOptions Options;

    // Start (no effect while running): SimTime and the replay back to 0 (the log's first
    // frame due at once with Controls.FromFirstFrame or for a candump log), StartTime from
    // the time source, the send queue emptied (with every unfinished transfer of an
    // earlier run), the catalogue's schedule reset and, in simulation mode, given the
    // vehicle model's current values (TLkw::Snapshot), the data monitor emptied.
    void Start();
    // Stop (no effect while stopped): the output log is flushed; a log that cannot be
    // written is reported as in the tick. Frames already in the transmit buffer still
    // leave at their times.
    void Stop();
    bool Running() const { return running_; }

    // The main tick; does nothing while stopped or when called again from inside a
    // tick (an error box's event loop).
    // A log source ends the run once every frame of the log has been queued (no
    // repeat) and the last one has left the send queue.
    void TimerSysTimer();

    // On virtual time: while a log source has nothing due, jumps SimTime ahead to the
    // millisecond of its next frame, but not past limit (µs). Returns the new SimTime.
    // The caller then moves its clock on by as much. Does nothing in simulation mode.
    int64_t SkipIdleTime(int64_t limit);

    // When a frame leaves (µs since Start): its own time, or later when it was released
    // late. With the adapter on, the transmit buffer sends it TransmitLead after its
    // time, so a release up to that much late still leaves on time; without it the step
    // that released it is when it left. The output log is stamped with it and the
    // lateness measured by it, as the runner's timing self-check measures the
    // channel's departures.
    int64_t Departure(const TCanFrame& frame) const;
    // The largest lateness (departure minus the frame's time) of this run, µs, and the
    // frames more than LateNotice late. Late frames are told in one notice with the
    // largest lateness (nothing was lost), the figure the runner's timing self-check
    // gives for the same run: once the frames written before Stop have left (they still
    // leave at their times, and may be the latest).
    int64_t MaxLateness() const { return maxLateness_; }
    int64_t LateFrames() const { return lateFrames_; }
    static constexpr int64_t LateNotice = 10000;
    // Gives that notice now if the stopped run has not given it yet: for a caller that
    // stops waiting for the last frames (the runner at its end) or is about to close.
    void TellLateness();
    // The transport transfers a log source sent in this run, watched as they left (never
    // rebuilt or dropped); the ones still open end with the run. Incomplete or
    // malformed ones are told in a notice when the run stops.
    const TTransferWatch& Transfers() const { return transferWatch_; }
    // Frames released and waiting for the transmit buffer to take them. While it takes
    // none for HoldLimit, the frames held are not delivered: counted and told once per
    // run; the adapter stays on.
    std::size_t ReplayBacklog() const { return held_.size(); }
    static constexpr int64_t HoldLimit = 1000000;   // µs
    int64_t Undelivered() const { return undelivered_; }
    // A tick that finds the run more than StallLimit behind (the process was held up)
    // moves the run's start by the time missed, less one step: the run goes on from
    // the present. Stalls() counts them; StallShift() is the time moved in all, µs
    // (read from any thread: the runner's timing stamps on the transmit thread); the
    // run's stop tells them in a notice. The record (output log, trace, monitor) stamps
    // the wire, not the schedule: there a stall is the silence it was.
    static constexpr int64_t StallLimit = 200000;   // µs
    int64_t Stalls() const { return stalls_; }
    int64_t StallShift() const { return stallShift_.load(std::memory_order_relaxed); }

    // Makes channel (nullptr: none) the open channel. Returns only when the transmit
    // thread no longer uses the previous one, so the caller may then close it:
    // SetCanChannel(nullptr) before closing, SetCanChannel(new) after opening.
    // An error the previous channel left behind is shown now, as that channel's, so
    // that it is neither lost nor blamed on the new one.
    void SetCanChannel(TCanChannel* channel);
    TCanChannel* CanChannel() const { return canChannel_; }

    // The built-in log (TInternalLog) and the user's.
    TCanLog InternalLines;
    const TCanLog& UserLines() const { return userLines_; }
    // InternalLines or UserLines, as Controls.InternalLog says.
    const TCanLog& ActiveLines() const;

    // Loads a user log: stops a run and reads the file (TCanLogReader). True when it is
    // a log; an empty file is. A file that cannot be read or has a line that is not a
    // log line shows TBaseError("", "Logfile Read Error", where and why), and so does
    // a load stopped by cancel becoming true. UserLines are empty after a failure;
    // UserLines().Summary() tells what a load took and passed over.
    bool LoadUserLog(const TAString& fileName, const std::atomic<int>* cancel = nullptr);
    // A user log read elsewhere (in the background); stops a run that replays the user log.
    void SetUserLog(TCanLog log);

    // The output log. OpenLogOut closes the file open before; when no file is open
    // afterwards Controls.LogFile is cleared and the reason is shown (TLogOut::Error).
    // Returns whether a file is open. When a line cannot be written during the run, the
    // log closes itself (ending with its last whole line), Controls.LogFile is cleared
    // and the error is shown once (also for a failed flush from elsewhere, at the next
    // tick).
    bool OpenLogOut(const TAString& fileName, TLogOut::TOpenMode mode = TLogOut::omAppend);
    TLogOut& LogOut() { return logOut_; }

    // What left on the bus, decoded signal by signal (TSignalMonitor), and the frames
    // themselves as they left and arrived (TFrameTrace), for the monitor and trace
    // windows, the runner and any thread that reads them. Every frame that leaves
    // (stamped with its departure) and every frame read from the channel (stamped as
    // LogReceived stamps it) goes to the trace; the frames that leave also to the
    // monitor, which Start empties. The trace's sequence numbers go on across runs.
    TSignalMonitor& Signals() { return signals_; }
    // Whether the frames that leave are decoded into Signals() (default on). Decoding
    // costs more than the rest of a frame's way together, so a run whose monitor nobody
    // reads (the runner without --monitor or --control) switches it off before Start.
    void WatchSignals(bool on) { watchSignals_ = on; }
    const TFrameTrace& Trace() const { return trace_; }

    TBusFmsStandard& Catalogue() { return catalogue_; }
    TCanHighDB& SendQueue() { return sendQueue_; }
    const TLogReplay& Replay() const { return replay_; }
    // The requests of this run (simulation mode; TRequestResponder).
    const TRequestCounts& Requests() const { return responder_.Counts(); }
    // The simulated vehicle as a J1939 node (simulation mode): switched on and given its
    // NAME before Start, it claims Options.SourceAddress at Start, holds its traffic for
    // the wait of addresses 128..247, answers requests for Address Claimed, and when
    // another node takes the address it sends Cannot Claim, withdraws what of its own is
    // still queued, sends nothing more in the run and shows "Address claim lost".
    // Claims are sent as they are due and never wait.
    TAddressClaim& AddressClaim() { return claim_; }
    const TAddressClaim& AddressClaim() const { return claim_; }

    // Counts of the current run, from its Start: frames the CAN adapter's medium took
    // (with a transmit side that reports departures; else frames handed to it), frames
    // written to the output log (sent and received), and the received frames among
    // them. The output log's counts start again with each file OpenLogOut opens.
    uint64_t FramesSent() const { return framesSent_; }
    // Frames of ours that were already in the transmit buffer when the address claim was
    // last lost and were withdrawn there (they never reached the medium; not counted as
    // sent), a run started meanwhile included. Told in one notice once the buffer is
    // empty. Needs a transmit side that reports departures; with one that does not, a
    // frame is gone once written.
    int64_t Withdrawn() const { return withdrawnFrames_; }
    // Frames handed to the transmit side that have not left it yet (0 for one that does
    // not report departures). After Stop the caller goes on collecting departures until
    // this is 0: the counts and the log then hold what the medium took.
    int TransmitPending() const { return transmit_.ReportsDepartures() ? transmit_.Pending() : 0; }
    uint64_t FramesLogged() const { return framesLogged_; }
    uint64_t ReceivedLogged() const { return receivedLogged_; }

    // A frame read from the channel: its Time becomes WireTime() (the clock sent frames
    // are stamped on; at least 0), and with Controls.LogFile and Controls.LogReceived it
    // is written to the output log as a received frame (a failed write is handled as for
    // a sent frame). The steps call it for what they read; the runner for what it reads
    // after the last step, before it closes the channel. Returns the frame as stamped.
    TCanFrame LogReceived(TCanFrame frame);

    // The run's time of the wire now, µs: the time source since Start less the
    // TransmitLead, the scale on which a frame sent on time carries its own time.
    int64_t WireTime() const;

    // With a transmit side that reports departures (TCanTransmit::ReportsDepartures):
    // takes every frame the medium accepted since the last call, counts it as sent,
    // stamps its output log line with the time it was accepted, measures its lateness
    // against its due time, and tells the departure observer. After Stop the output log
    // is flushed again once the last frame has left. The steps call it; the
    // tick also while stopped (frames still leave after Stop); the runner once the
    // transmit buffer is empty at the end.
    void CollectDepartures();
    // Every frame that left for the adapter, with when it left (µs, WireTime scale) and
    // whether it is an answer (to a request) sent outside the schedule: the timing
    // self-check judges the others only. Runs on the engine's thread.
    using TDepartureObserver = std::function<void(const TCanFrame& frame, int64_t departure, bool answer)>;
    void SetDepartureObserver(TDepartureObserver observer) { departed_ = std::move(observer); }

    // Between ticks: reads what the channel has received and answers requests at once
    // (answers bypass the TransmitLead), and hands out the packets of answer transfers
    // as they fall due. A caller that calls it every millisecond gets answers onto the
    // medium within a few ms of the request, a transfer's announcement too when none of
    // ours is under way (else 1 ms after that one's last packet).
    void PollReceived();

    int64_t SimTime() const { return simTime_; }
    long double StartTime() const { return startTime_; }
    uint32_t TickCounter() const { return tickCounter_; }
    int32_t StepCounter() const { return stepCounter_; }

private:
    enum TErrorSource { esSimulation, esReplay, esChannelRead, esUndelivered, esCount };

    // One 1 ms step; false when the run ended inside it (end of the log).
    bool DoStep(bool& monitorDue, bool& cockpitRefresh);
    void SimulationStep(bool& monitorDue, bool& cockpitRefresh);
    // The model's values to the catalogue, all or nothing (TBusFmsStandard::Apply), when
    // the catalogue has not taken that snapshot yet. Passes on Apply's error.
    void HandOver(const TSignalSnapshot& values);
    // Runs the validity manipulation when the values, its choices or its being switched
    // on changed since it last ran; switched off, the values get their own states back.
    void ApplyValidity();
    void QueueDueGroups();
    // Reads what the open channel has received, up to MaxReadsPerStep frames: each goes
    // to the received-frame sink and, in simulation mode, to the request responder.
    void ReadReceived();
    void AnswerRequest(const TCanFrame& frame);
    // A single-frame answer, its Time the request's arrival (WireTime scale): out at
    // once, ahead of the scheduled frames.
    void EmitNow(const TCanFrame& frame);
    // The answer transfers' packets due on the wire now, out at once (EmitNow).
    void ReleaseAnswers();
    // The frame left for the adapter at departure (µs, WireTime scale).
    void Departed(const TCanFrame& frame, int64_t departure, bool answer);
    // The address claim's part of the run (TAddressClaim).
    void ClaimAtStart();
    void ClaimReceived(const TCanFrame& frame);
    // A message of ours for the send queue: claims at once; nothing once the address is
    // lost; held during the claim's wait; else as usual.
    void QueueOwn(const TCanHigh& m);
    void ReleaseClaimHeld();
    void ClaimLost();
    void TellWithdrawn();
    void WithdrawBefore(int64_t due);
    // The claim's state to the data monitor.
    void ShowClaim();
    // The replay's due frames, as far as the transmit buffer takes them.
    void ReleaseHeld();
    // One frame leaving for the destinations.
    void Emit(const TCanFrame& frame);
    // False when the transmit buffer refused the frame (the destination is then off).
    // now: WriteNow, the frame goes out at once.
    bool Transmit(const TCanFrame& frame, bool now = false);
    void LogSent(const TCanFrame& left);
    void EndTransfers();
    void NoteLateness(const TCanFrame& frame, int64_t departure);
    // TellLateness once the transmit buffer holds none of the stopped run's frames.
    void TellLatenessOnceLeft();
    // Tells the answer transfers a Stop cut short (a notice) and forgets them.
    void TellCutAnswers();
    void TellStalls();
    void WatchFrame(const TCanFrame& frame);
    // The data monitor's refresh from the signal monitor (log sources).
    void ShowSignals();
    void Show(const TBaseError& error);
    void ShowOncePerRun(TErrorSource source, const TBaseError& error);
    void NotifyControls();
    void LogOutFailed();

    const TTimeSource& clock_;
    TCanTransmit& transmit_;
    TRunCockpit* cockpit_ = nullptr;
    TRunValidity* validity_ = nullptr;
    TRunMonitor* monitor_ = nullptr;
    TRunView* view_ = nullptr;
    TErrorReporter* errors_ = nullptr;
    TReceivedFrameSink* received_ = nullptr;
    TDepartureObserver departed_;

    TBusFmsStandard catalogue_;
    TSignalMonitor signals_;
    bool watchSignals_ = true;
    TFrameTrace trace_;
    TCanHighDB sendQueue_;
    TCanChannel* canChannel_ = nullptr;
    TCanLog userLines_;
    TLogOut logOut_;
    TLogReplay replay_;
    std::deque<TCanFrame> held_;   // released, not yet taken by the transmit buffer
    int64_t heldSince_ = 0;        // µs, when the buffer last took a frame or could have
    int64_t undelivered_ = 0;
    int64_t stalls_ = 0;
    std::atomic<int64_t> stallShift_{0};
    TTransferWatch transferWatch_;
    TRequestResponder responder_;
    TTransferGate transfers_;
    TAddressClaim claim_;
    // What the transmit buffer writes to (a transmit side that reports departures): the
    // open channel behind a guard that withdraws our frames after a lost claim; the one
    // before, until its departures are matched.
    std::unique_ptr<TAddressClaimGuard> guard_;
    std::unique_ptr<TAddressClaimGuard> retiredGuard_;
    // Our frames due before this (µs, the time source's scale) are withdrawn (after a
    // lost claim); NoWithdrawal: none.
    static constexpr int64_t NoWithdrawal = std::numeric_limits<int64_t>::min();
    int64_t withdrawBefore_ = NoWithdrawal;
    int64_t withdrawnFrames_ = 0;
    bool withdrawalTold_ = false;

    bool running_ = false;
    bool inTick_ = false;
    uint32_t tickCounter_ = 0;
    int32_t stepCounter_ = FirstStepCounter;
    int64_t simTime_ = 0;
    uint64_t framesSent_ = 0;
    uint64_t framesLogged_ = 0;
    uint64_t receivedLogged_ = 0;
    long double startTime_ = 0.0L;
    int64_t startMicros_ = 0;
    int64_t recordOrigin_ = 0;   // µs, the unshifted start plus the lead: the record's zero
    bool shown_[esCount] = {};
    int64_t maxLateness_ = 0;
    int64_t lateFrames_ = 0;
    int64_t latestDue_ = 0;   // µs, time of the frame that left latest
    bool latenessDue_ = false;   // stopped, the late frames not told yet
    bool logOutShown_ = false;   // the output log's failure has been shown
    int64_t tickNow_ = 0;                    // µs since the start, read by this tick
    TAString watchText_;                     // the frame watch's text last read
    std::optional<uint16_t> watchPgn_;       // and the PGN it gave (none: not a PGN)
    uint64_t handedGeneration_ = 0;          // the snapshot the catalogue took last
    bool validityDue_ = true;                // values changed since the manipulation ran
    const TRunValidity* validityBy_ = nullptr;   // who ran it last (nullptr: switched off)
    uint64_t validityChoices_ = 0;           // its choices then
};
