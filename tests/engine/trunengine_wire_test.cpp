// The run engine with the real transmit buffer on the manual clock: what counts as sent,
// when a frame left, and answers on the wire's clock. Each millisecond the buffer's
// timer step runs (OnLoop), then the engine polls the channel, or ticks every 50 ms.
#include "engine/tcanbuffer.h"
#include "engine/tcanbuffertransmit.h"
#include "engine/trecordingcockpit.h"
#include "engine/trunengine.h"
#include "engine/ttimesource.h"
#include "engine/ttimingreport.h"
#include "can/sim/tcanchannelsim.h"
#include "fms/ttransferwatch.h"
#include "runfakes.h"
#include "tests/engine/ascframelines.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using asctest::AscFrames;
using asctest::TAscLine;

TCanFrame Request(uint32_t id, uint32_t pgn)
{
    return TCanFrame(id, {uint8_t(pgn), uint8_t(pgn >> 8), uint8_t(pgn >> 16), 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
}

// A medium that takes frames only while accepting is set (a full queue refuses for the
// moment, it does not fail), noting the clock when it took each; Read gives what the
// test pushed.
class TMediumChannel final : public TCanChannel {
public:
    explicit TMediumChannel(const TTimeSource& clock) : clock_(clock) {}
    TCanFrame Read() override
    {
        if (waiting.empty()) return {};
        const TCanFrame f = waiting.front();
        waiting.pop_front();
        return f;
    }
    void Write(const TCanFrame& frame) override { TryWrite(frame); }
    bool TryWrite(const TCanFrame& frame) override
    {
        ++offers;
        if (!accepting) return false;
        taken.push_back(frame);
        takenAt.push_back(clock_.Micros());
        return true;
    }

    bool accepting = true;
    int64_t offers = 0;
    std::deque<TCanFrame> waiting;
    std::vector<TCanFrame> taken;
    std::vector<int64_t> takenAt;

private:
    const TTimeSource& clock_;
};

class TRunEngineWire : public ::testing::Test {
protected:
    static constexpr int64_t StartMicros = 1000500000;

    void SetUp() override
    {
        engine.SetCockpit(&cockpit);
        engine.SetErrorReporter(&errors);
        engine.SetDepartureObserver([this](const TCanFrame& frame, int64_t departure, bool answer) {
            if (answer) {
                timing.RecordApart(frame, departure);
                answers[frame.Id].push_back(departure);
            } else {
                timing.Record(frame, departure);
                lateness[frame.Id] = std::max(lateness[frame.Id], departure - frame.Time);
            }
        });
    }
    void TearDown() override
    {
        engine.SetCanChannel(nullptr);
        if (!logPath.empty()) std::remove(logPath.c_str());
    }
    void OpenAscLog()
    {
        logPath = (std::filesystem::temp_directory_path() /
                   ("trunengine_wire_" + std::to_string(::getpid()) + ".asc")).string();
        engine.LogOut().SetFormat(TLogOutFormat::Asc);
        ASSERT_TRUE(engine.OpenLogOut(logPath, TLogOut::omReplace));
        engine.Controls.LogFile = true;
        engine.Controls.LogReceived = true;
    }
    // One millisecond: the timer's step, then the engine's poll or tick.
    void Millisecond(bool engineRuns = true)
    {
        clock.AdvanceMicros(1000);
        buffer.OnLoop();
        if (afterTimerStep) afterTimerStep();
        if (!engineRuns) return;
        if (++elapsedMs % TRunEngine::TickIntervalMs == 0) {
            engine.TimerSysTimer();
        } else {
            engine.PollReceived();
        }
    }
    void RunFor(int64_t ms, bool engineRuns = true)
    {
        for (; ms > 0; --ms) Millisecond(engineRuns);
    }

    TManualTimeSource clock{StartMicros};
    TCanBuffer buffer{clock};
    TCanBufferTransmit transmit{buffer, true};
    TRecordingErrors errors;
    TRecordingCockpit cockpit;
    TRunEngine engine{clock, transmit};
    TTimingReport timing;
    std::map<uint32_t, std::vector<int64_t>> answers;   // departures of answers by identifier
    std::map<uint32_t, int64_t> lateness;                // the largest of each scheduled identifier
    int64_t elapsedMs = 0;
    std::string logPath;
    std::function<void()> afterTimerStep;
};

// Passes frames on to a simulation channel and counts what it took.
class TCountingChannel final : public TCanChannel {
public:
    explicit TCountingChannel(TCanChannel& inner) : inner_(inner) {}
    TCanFrame Read() override { return inner_.Read(); }
    void Write(const TCanFrame& frame) override { inner_.Write(frame); }
    bool TryWrite(const TCanFrame& frame) override
    {
        const bool took = inner_.TryWrite(frame);
        taken += took;
        return took;
    }
    uint64_t taken = 0;

private:
    TCanChannel& inner_;
};

// "Sent" counts what the medium took. A medium that takes nothing (nobody reads, a full
// queue) leaves it at 0 and logs no Tx line; frames it refuses for a while are offered
// again and leave late, none lost; the adapter stays on throughout.
TEST_F(TRunEngineWire, SentCountsOnlyWhatTheMediumTook)
{
    const struct TCase {
        const char* What;
        int64_t RefuseFromMs;   // the medium refuses in [from, to) ms after Start
        int64_t RefuseToMs;
        int64_t RunMs;
    } cases[] = {
        {"a medium that takes every frame", 0, 0, 1000},
        {"a medium full for 100 ms", 400, 500, 1000},
        {"a medium nobody reads", 0, 3000, 2000},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TMediumChannel channel(clock);
        engine.SetCanChannel(&channel);
        errors.shown.clear();
        lateness.clear();
        OpenAscLog();
        engine.Start();
        for (int64_t ms = 0; ms < c.RunMs; ++ms) {
            channel.accepting = !(ms >= c.RefuseFromMs && ms < c.RefuseToMs);
            Millisecond();
        }
        if (c.RefuseToMs < c.RunMs) channel.accepting = true;
        engine.Stop();
        // What was written before the stop still leaves within the lead.
        RunFor(300, false);
        engine.CollectDepartures();
        ASSERT_TRUE(engine.LogOut().Close());

        EXPECT_EQ(engine.FramesSent(), channel.taken.size());
        EXPECT_TRUE(engine.Controls.SendCan);
        int tx = 0;
        for (const TAscLine& l : AscFrames(logPath)) tx += l.Direction == "Tx";
        EXPECT_EQ(static_cast<uint64_t>(tx), channel.taken.size()) << "a Tx line for each frame the medium took";
        if (c.RefuseToMs >= c.RunMs) {
            EXPECT_EQ(engine.FramesSent(), 0u);
            EXPECT_GT(channel.offers, 0);
            EXPECT_GT(engine.Undelivered(), 0) << "told, not hidden";
            continue;
        }
        EXPECT_EQ(engine.Undelivered(), 0);
        EXPECT_EQ(buffer.Pending(), 0);
        // In the simulation's order, each frame once.
        std::map<uint32_t, int64_t> lastTime;
        for (const TCanFrame& f : channel.taken) {
            EXPECT_LT(lastTime.count(f.Id) ? lastTime[f.Id] : -1, f.Time) << std::hex << f.Id;
            lastTime[f.Id] = f.Time;
        }
        // On time, except for the frames the full medium held back: they left when it
        // took them again, and their lateness says so.
        // (The 10 ms group is due at least every 10 ms: one of them waited nearly all.)
        const int64_t held = (c.RefuseToMs - c.RefuseFromMs) * 1000;
        EXPECT_LE(engine.MaxLateness(), held);
        EXPECT_GE(engine.MaxLateness(), std::max<int64_t>(0, held - 10000));
        for (size_t i = 0; i < channel.taken.size(); ++i) {
            const int64_t due = channel.taken[i].Time;   // the buffer hands the due time on
            EXPECT_GE(channel.takenAt[i], due);
            EXPECT_LE(channel.takenAt[i] - due, held);
        }
    }
}

// An error box open for 10 s of simulated time (the engine runs no tick, the timer
// goes on), then closed: the run goes on from the present, the frames written before
// leave at their times, no burst follows, nothing is lost and the adapter stays on.
// Then a 1 s stall of the whole process with a full ring: nothing lost either.
TEST_F(TRunEngineWire, AStallNeitherBurstsNorLosesFrames)
{
    TMediumChannel channel(clock);
    engine.SetCanChannel(&channel);
    engine.Start();
    RunFor(1000);
    RunFor(10000, false);   // the box is open
    RunFor(1000);
    EXPECT_EQ(engine.Stalls(), 1);

    // The medium refuses until the transmit buffer is full, then the process stops for 1 s.
    channel.accepting = false;
    RunFor(1500);
    EXPECT_EQ(buffer.Pending(), TCanBuffer::Size - 1);
    EXPECT_GT(engine.ReplayBacklog(), 0u);
    clock.AdvanceMicros(1000000);
    channel.accepting = true;
    RunFor(1000);
    engine.Stop();
    RunFor(300, false);
    engine.CollectDepartures();

    EXPECT_EQ(engine.Stalls(), 2);
    EXPECT_EQ(engine.Undelivered(), 0);
    EXPECT_EQ(engine.ReplayBacklog(), 0u);
    EXPECT_EQ(buffer.Pending(), 0);
    EXPECT_TRUE(engine.Controls.SendCan);
    EXPECT_EQ(engine.FramesSent(), channel.taken.size());
    // No burst after the box: at most one frame per millisecond of the schedule, besides
    // the ring's own backlog the medium took when it came back.
    std::map<int64_t, int> perMs;
    for (size_t i = 0; i < channel.takenAt.size(); ++i)
        if (channel.takenAt[i] < StartMicros + 12000000) ++perMs[channel.takenAt[i] / 1000];
    for (const auto& [ms, n] : perMs) EXPECT_LE(n, 1) << "ms " << ms;
    bool notDelivered = false;
    for (const TBaseError& e : errors.shown) notDelivered |= e.Message() == "Frames not delivered";
    EXPECT_FALSE(notDelivered);
}

// A peer over a simulation channel asks every 100 ms. Each single-frame answer is on the
// medium within 10 ms of the request's arrival, the Rx and Tx lines of the output log
// are on one clock (an answer in its request's millisecond), and the timing self-check
// keeps the answers apart: no group is flagged.
TEST_F(TRunEngineWire, ARequestingPeerGetsEachAnswerWithinTenMilliseconds)
{
    TCanChannelSim sim("RAM 201 202", TCanChannelSim::DefaultFactory(), [this] { return clock.Micros(); });
    TCanChannelSim peer("RAM 202 201", TCanChannelSim::DefaultFactory(), [this] { return clock.Micros(); });
    TCountingChannel ours(sim);
    std::vector<TCanFrame> peerGot;
    auto readPeer = [&] {
        for (TCanFrame f = peer.Read(); !f.IsNone(); f = peer.Read()) peerGot.push_back(f);
    };
    // The channel's own threads carry the records in real time: each simulated
    // millisecond waits until the peer has what the medium took in it.
    afterTimerStep = [&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (readPeer(); peerGot.size() < ours.taken && std::chrono::steady_clock::now() < deadline; readPeer())
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    };
    engine.SetCanChannel(&ours);
    OpenAscLog();
    engine.Start();
    RunFor(500);
    constexpr int Requests = 20;
    int64_t asked = 0;
    for (int k = 0; k < Requests; ++k) {
        peer.Write(Request(0x18EA0021, 0xFEE5));   // engine hours, to us
        // The simulation channel hands the record over on its own threads: the clock
        // stands still until it has arrived (the engine has read it).
        const uint64_t before = engine.ReceivedLogged();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (engine.ReceivedLogged() == before && std::chrono::steady_clock::now() < deadline) {
            engine.PollReceived();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ASSERT_EQ(engine.ReceivedLogged(), before + 1) << "request " << k;
        ++asked;
        RunFor(100);
    }
    engine.Stop();
    RunFor(300, false);
    engine.CollectDepartures();
    ASSERT_TRUE(engine.LogOut().Close());

    // Every answer left; in the output log each request's Rx line is followed by a Tx
    // line of the answer stamped within 10 ms of it, on the same clock.
    ASSERT_EQ(answers[0x18FEE500].size(), static_cast<size_t>(Requests));
    const std::vector<TAscLine> lines = AscFrames(logPath);
    int rxLines = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].Direction != "Rx" || lines[i].Id != 0x18EA0021) continue;
        ++rxLines;
        bool answered = false;
        for (size_t j = i + 1; j < lines.size() && !answered; ++j)
            answered = lines[j].Direction == "Tx" && lines[j].Id == 0x18FEE500 && lines[j].Time >= lines[i].Time &&
                       lines[j].Time - lines[i].Time <= 10000;
        EXPECT_TRUE(answered) << "request at " << lines[i].Time;
    }
    EXPECT_EQ(rxLines, Requests);
    // The self-check judges the schedule only: the answers are apart, no group is off.
    const std::vector<TTimingGroup> groups =
        timing.Groups(engine.Catalogue(), {}, engine.SimTime() / 1000, TTimingReport::jSchedule);
    EXPECT_FALSE(TTimingReport::AnyFlagged(groups)) << TTimingReport::Text(groups).str();
    EXPECT_EQ(timing.Apart().Frames, Requests);
    EXPECT_GE(timing.Apart().DelayMaxMs, 0.0);
    EXPECT_LE(timing.Apart().DelayMaxMs, 10.0);
    // The peer got every frame the medium took, the answers among them.
    EXPECT_EQ(peerGot.size(), ours.taken);
    EXPECT_EQ(engine.FramesSent(), ours.taken);
    int hours = 0;
    for (const TCanFrame& f : peerGot) hours += f.Id == 0x18FEE500;
    EXPECT_GE(hours, Requests);
    afterTimerStep = nullptr;
    engine.SetCanChannel(nullptr);
}

// A peer over a simulation channel asks for the vehicle identification, which is
// answered as a broadcast transfer, at moments chosen against the driver
// identification, our own transfer on the wire at 5012..5012+n*100 ms of the wire's
// clock (the wire runs the 200 ms lead behind the run). Measured on the peer's side:
// the answer's announcement comes within 10 ms of the request, or, when a transfer of
// ours is under way (on the wire, or already handed on towards it), within 10 ms of that
// one's last packet; its packets keep J1939's 50..200 ms spacing; and every transfer the
// peer sees is complete (none cut by an overlapping one of ours).
TEST_F(TRunEngineWire, ATransferAnswerStartsOnTheWireWithinTenMilliseconds)
{
    const struct TCase {
        const char* What;
        int64_t AskAtMs;   // since Start
        bool AfterOurs;    // the answer waits for the driver identification
    } cases[] = {
        {"nothing of ours on the wire", 1000, false},
        {"before the driver identification is handed on: it moves behind the answer", 4990, false},
        {"the driver identification handed on, not yet on the wire", 5150, true},
        {"the driver identification on the wire", 5300, true},
    };
    TCanChannelSim sim("RAM 211 212", TCanChannelSim::DefaultFactory(), [this] { return clock.Micros(); });
    TCanChannelSim peer("RAM 212 211", TCanChannelSim::DefaultFactory(), [this] { return clock.Micros(); });
    TCountingChannel ours(sim);
    struct TArrived {
        int64_t At;   // µs on the clock when the peer had it
        TCanFrame Frame;
    };
    std::vector<TArrived> peerGot;
    auto readPeer = [&] {
        for (TCanFrame f = peer.Read(); !f.IsNone(); f = peer.Read()) peerGot.push_back({clock.Micros(), f});
    };
    afterTimerStep = [&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (readPeer(); peerGot.size() < ours.taken && std::chrono::steady_clock::now() < deadline; readPeer())
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    };
    engine.SetCanChannel(&ours);
    auto isAnnouncement = [](const TCanFrame& f, uint32_t pgn) {
        return (f.Id & 0x00FFFF00u) == 0x00ECFF00u && f.Data[0] == 0x20 &&
               (uint32_t(f.Data[5]) | uint32_t(f.Data[6]) << 8 | uint32_t(f.Data[7]) << 16) == pgn;
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        peerGot.clear();
        ours.taken = 0;
        answers.clear();
        engine.Start();
        const int64_t start = clock.Micros();
        RunFor(c.AskAtMs);
        peer.Write(Request(0x18EA0021, 0xFEEC));   // vehicle identification, to us
        const int64_t asked = clock.Micros();
        const uint64_t before = engine.Requests().Received;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (engine.Requests().Received == before && std::chrono::steady_clock::now() < deadline) {
            engine.PollReceived();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        ASSERT_EQ(engine.Requests().Received, before + 1);
        RunFor(6600 - c.AskAtMs);
        engine.Stop();
        RunFor(300, false);
        engine.CollectDepartures();
        ASSERT_EQ(peerGot.size(), ours.taken);

        // Our driver identification on the peer's side: announced at diStart, last packet at diEnd.
        int64_t diStart = -1;
        int64_t diEnd = -1;
        int diPackets = 0;
        int64_t answerAt = -1;
        std::vector<int64_t> answerPackets;
        int answerCount = 0;
        for (const TArrived& a : peerGot) {
            if (isAnnouncement(a.Frame, 0xFE6B)) {
                diStart = a.At;
                diPackets = a.Frame.Data[3];
            }
            if (diStart >= 0 && (a.Frame.Id & 0x00FFFF00u) == 0x00EBFF00u && a.Frame.Data[0] == diPackets &&
                diEnd < diStart)
                diEnd = a.At;
            if (a.At >= asked && isAnnouncement(a.Frame, 0xFEEC)) {
                ++answerCount;
                if (answerAt < 0) answerAt = a.At;
            }
        }
        ASSERT_GE(diStart, 0) << "the driver identification left";
        ASSERT_GT(diEnd, diStart);
        ASSERT_EQ(answerCount, 1) << "one answer, announced once";
        ASSERT_EQ(answers[0x18ECFF00].size(), 1u) << "the announcement counted apart, as an answer";
        if (c.AfterOurs) {
            EXPECT_LT(diStart, answerAt);
            EXPECT_GT(answerAt, diEnd);
            EXPECT_LE(answerAt - diEnd, 10000) << "at the gate's next opening";
        } else {
            EXPECT_GE(answerAt, asked);
            EXPECT_LE(answerAt - asked, 10000);
        }
        // The answer's packets, up to our next announcement: 50..200 ms apart, from the
        // announcement to the first packet too, in sequence.
        int64_t last = answerAt;
        int packets = 0;
        for (const TArrived& a : peerGot) {
            if (a.At <= answerAt) continue;
            if ((a.Frame.Id & 0x00FFFF00u) == 0x00ECFF00u) break;
            if ((a.Frame.Id & 0x00FFFF00u) != 0x00EBFF00u) continue;
            EXPECT_EQ(a.Frame.Data[0], packets + 1);
            EXPECT_GE(a.At - last, 50000) << "packet " << packets + 1;
            EXPECT_LE(a.At - last, 200000) << "packet " << packets + 1;
            last = a.At;
            ++packets;
        }
        EXPECT_GE(packets, 2);
        if (c.AfterOurs || c.AskAtMs < 4000) {
            EXPECT_GE(diStart - start, 5212000) << "a driver identification that need not move leaves on time";
            EXPECT_LE(diStart - start, 5214000);
        } else {
            EXPECT_GT(diStart, last) << "after the answer's last packet";
        }
        // Every transfer the peer saw was whole: none of ours cut another.
        TTransferWatch watch;
        for (const TArrived& a : peerGot) {
            TCanFrame f = a.Frame;
            f.Time = a.At - start;
            watch.Frame(f);
        }
        watch.End(peerGot.empty() ? 0 : peerGot.back().At - start + 1, "the end of the run");
        EXPECT_TRUE(watch.AllWell()) << watch.Detail().str();
        EXPECT_GE(watch.Complete(), 3) << "the vehicle identification, the driver identification and the answer";
    }
    afterTimerStep = nullptr;
    engine.SetCanChannel(nullptr);
}

// Another node takes our address (0) with a NAME of higher priority while the transmit
// buffer holds the next 200 ms of our frames: they are withdrawn there, none reaches
// the medium after the claim was read, Cannot Claim from 254 still leaves, the frames
// withdrawn are neither counted as sent nor logged, and their number is told once the
// buffer is empty. A run started again afterwards sends its own frames (from its claim
// on) while what the lost run left is still withdrawn.
TEST_F(TRunEngineWire, ALostClaimWithdrawsWhatTheTransmitBufferHolds)
{
    const struct TCase {
        const char* What;
        int64_t RefuseFromMs;   // the medium refuses in [from, 1000) ms
        bool StartAgain;        // Stop 90 ms after the loss and Start at once
    } cases[] = {
        {"a medium that takes every frame", 1000, false},
        {"a medium full for 100 ms before the claim comes", 900, false},
        {"a new run right after the loss", 1000, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TMediumChannel channel(clock);
        engine.SetCanChannel(&channel);
        errors.shown.clear();
        engine.Options.SourceAddress = 0x00;
        engine.AddressClaim().SetEnabled(true);
        OpenAscLog();
        elapsedMs = 0;   // ticks every 50 ms from Start: the claim is read between ticks
        engine.Start();
        for (int64_t ms = 0; ms < 1010; ++ms) {
            channel.accepting = ms < c.RefuseFromMs || ms >= 1000;
            if (ms == 1009) channel.waiting.push_back(TCanFrame(0x18EEFF00u, {0, 0, 0, 0, 0, 0, 0, 0}));
            Millisecond();
        }
        ASSERT_TRUE(engine.AddressClaim().Lost());
        const int64_t lostAt = clock.Micros();
        const int pending = buffer.Pending();   // ours, written before the loss
        EXPECT_GT(pending, 10);
        int64_t secondStart = -1;
        if (c.StartAgain) {
            RunFor(90);
            engine.Stop();
            engine.Start();
            secondStart = clock.Micros();
            RunFor(1000);
        } else {
            RunFor(500);
        }
        engine.Stop();
        RunFor(300, false);
        engine.CollectDepartures();
        ASSERT_TRUE(engine.LogOut().Close());

        EXPECT_EQ(engine.Withdrawn(), pending);
        EXPECT_EQ(buffer.Pending(), 0);
        uint64_t takenInRun = 0;
        for (size_t i = 0; i < channel.taken.size(); ++i) takenInRun += channel.takenAt[i] > secondStart;
        EXPECT_EQ(engine.FramesSent(), takenInRun) << "the frames withdrawn are not counted as sent";
        int cannotClaim = 0;
        int oursAfter = 0;
        for (size_t i = 0; i < channel.taken.size(); ++i) {
            if (channel.takenAt[i] <= lostAt) continue;
            const TCanFrame& f = channel.taken[i];
            if (f.Id == 0x18EEFFFEu) {
                ++cannotClaim;
                continue;
            }
            EXPECT_TRUE(c.StartAgain) << std::hex << f.Id << " left after the loss";
            // The new run's own frames only: due from its first one on.
            EXPECT_GE(f.Time, secondStart + TRunEngine::TransmitLead) << std::hex << f.Id;
            if (oursAfter++ == 0) {
                EXPECT_EQ(f.Id, 0x18EEFF00u) << "the new run claims first";
            }
        }
        EXPECT_EQ(cannotClaim, 1);
        EXPECT_EQ(oursAfter > 0, c.StartAgain);
        int told = 0;
        for (const TBaseError& e : errors.shown)
            if (e.Message() == "frames withdrawn") {
                ++told;
                const std::string detail = e.Detail().str();
                EXPECT_NE(detail.find(std::to_string(pending) + " frames"), std::string::npos) << detail;
            }
        EXPECT_EQ(told, 1);
        int tx = 0;
        for (const TAscLine& l : AscFrames(logPath)) tx += l.Direction == "Tx";
        EXPECT_EQ(static_cast<uint64_t>(tx), channel.taken.size()) << "a Tx line for each frame that left, no other";
        engine.SetCanChannel(nullptr);
    }
}

// The frames written before Stop still leave at their times, or later when the medium
// holds them back: the one "frames late" notice comes once they have left (or can no
// longer leave), with the largest lateness of all departures, the self-check's figure.
TEST_F(TRunEngineWire, LatenessIsToldOnceTheStoppedRunsFramesHaveLeft)
{
    enum TAfterStop { asTakes, asStartsAgain, asLosesItsChannel };
    const struct TCase {
        const char* What;
        int64_t RefuseFromMs;   // the medium refuses in [from, to) ms of the 1 s run
        int64_t RefuseToMs;
        bool RefusesAfterStop;   // for 50 ms; then as After says
        TAfterStop After;        // asTakes: the medium takes again; else never
        bool Late;               // a frame left more than LateNotice late
    } cases[] = {
        {"a medium that takes every frame", 1000, 1000, false, asTakes, false},
        {"a medium full from 100 ms before Stop, taking them after it", 900, 1000, true, asTakes, true},
        {"a new run before they left", 850, 950, true, asStartsAgain, true},
        {"the channel closed before they left", 850, 950, true, asLosesItsChannel, true},
    };
    const auto told = [this] {
        std::vector<std::string> details;
        for (const TBaseError& e : errors.shown)
            if (e.Message() == "frames late") details.push_back(e.Detail().str());
        return details;
    };
    const auto latest = [this] {
        int64_t most = 0;
        for (const auto& [id, late] : lateness) most = std::max(most, late);
        return most;
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        TMediumChannel channel(clock);
        engine.SetCanChannel(&channel);
        errors.shown.clear();
        lateness.clear();
        engine.Start();
        for (int64_t ms = 0; ms < 1000; ++ms) {
            channel.accepting = ms < c.RefuseFromMs || ms >= c.RefuseToMs;
            Millisecond();
        }
        channel.accepting = !c.RefusesAfterStop;
        engine.Stop();
        EXPECT_GT(buffer.Pending(), 0);
        EXPECT_TRUE(told().empty()) << "not while the stopped run's frames wait";
        RunFor(50, false);
        const int64_t latestAtStop = latest();
        switch (c.After) {
        case asTakes:
            channel.accepting = true;
            RunFor(300, false);
            engine.CollectDepartures();
            if (c.Late) {
                EXPECT_GT(latest(), latestAtStop) << "the last frames left the latest";
            }
            break;
        case asStartsAgain:
            engine.Start();
            break;
        case asLosesItsChannel:
            engine.CollectDepartures();
            ASSERT_TRUE(told().empty());
            engine.SetCanChannel(nullptr);   // the frames still waiting are discarded as they fall due
            RunFor(300, false);
            engine.CollectDepartures();
            break;
        }
        if (c.After != asStartsAgain) {
            EXPECT_EQ(buffer.Pending(), 0);
        }
        EXPECT_EQ(engine.MaxLateness(), c.After == asStartsAgain ? 0 : latest());
        const std::vector<std::string> details = told();
        if (!c.Late) {
            EXPECT_TRUE(details.empty());
        } else {
            ASSERT_EQ(details.size(), 1u);
            const std::string figure =
                "the latest left " + TAString(static_cast<double>(latest()) / 1e3, 0, 3).str() + " ms late";
            EXPECT_NE(details[0].find(figure), std::string::npos) << details[0] << "\n" << figure;
        }
        if (engine.Running()) engine.Stop();
        engine.SetCanChannel(nullptr);
        engine.CollectDepartures();
        engine.TellLateness();
        EXPECT_EQ(told().size(), details.size()) << "told once";
    }
}

}  // namespace
