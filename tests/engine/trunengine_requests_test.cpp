// The run engine and the bus talking back: received frames, J1939 requests and their
// answers, on the manual clock.
#include "engine/trunengine.h"

#include "logs/tcanlogreader.h"
#include "engine/trecordingcockpit.h"
#include "engine/trunmonitor.h"
#include "engine/ttimesource.h"
#include "runfakes.h"
#include "tests/engine/ascframelines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

using TBytes = std::array<uint8_t, 8>;

TCanFrame Request(uint32_t id, uint32_t pgn)
{
    return TCanFrame(id, {uint8_t(pgn), uint8_t(pgn >> 8), uint8_t(pgn >> 16), 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
}

using asctest::AscFrames;
using asctest::TAscLine;

class TCountingMonitor final : public TRunMonitor {
public:
    void ShowValues(const TBusFmsStandard*) override {}
    void ShowRequests(const TRequestCounts& counts) override { shown.push_back(counts); }
    std::vector<TRequestCounts> shown;
};

class TRunEngineRequests : public ::testing::Test {
protected:
    static constexpr int64_t StartMicros = 1000500000;

    void SetUp() override
    {
        transmit.engine = &engine;
        engine.SetCockpit(&cockpit);
        engine.SetErrorReporter(&errors);
        engine.SetCanChannel(&channel);
        engine.SetReceivedFrameSink(&sink);
        engine.SetMonitor(&monitor);
    }
    // Ticks every 50 ms; with poll, the channel is also read in every millisecond in
    // between (PollReceived), as the runner does.
    void RunFor(int64_t ms)
    {
        if (!poll) {
            for (; ms > 0; ms -= TRunEngine::TickIntervalMs) {
                clock.AdvanceMicros(std::min<int64_t>(ms, TRunEngine::TickIntervalMs) * 1000);
                engine.TimerSysTimer();
            }
            return;
        }
        for (; ms > 0; --ms) {
            clock.AdvanceMicros(1000);
            if (++elapsedMs % TRunEngine::TickIntervalMs == 0) {
                engine.TimerSysTimer();
            } else {
                engine.PollReceived();
            }
        }
    }
    // The frames of identifier id that left in [fromMs, toMs].
    std::vector<TSentFrame> Sent(uint32_t id, int64_t fromMs, int64_t toMs) const
    {
        std::vector<TSentFrame> out;
        for (const TSentFrame& s : transmit.sent)
            if (s.Frame.Id == id && s.SimTime >= fromMs * 1000 && s.SimTime <= toMs * 1000) out.push_back(s);
        return out;
    }
    // A scheduled frame (a transfer's answer too) takes the next free millisecond: at its
    // time or a few steps later, due TransmitLead after it. A single-frame answer goes out
    // at once, outside the steps, due at its request's arrival.
    void ExpectOneFramePerMillisecondAtOrAfterItsTime() const
    {
        std::set<int64_t> steps;
        for (const TSentFrame& s : transmit.sent) {
            if (s.Now) {
                // Its time is the request's arrival on the wire's clock: due already.
                EXPECT_LE(s.Frame.Time + s.Delay, clock.Micros());
                EXPECT_EQ(s.Delay, StartMicros + TRunEngine::TransmitLead);
                continue;
            }
            EXPECT_LE(s.Frame.Time, s.SimTime) << std::hex << s.Frame.Id;
            EXPECT_LT(s.SimTime - s.Frame.Time, 10000) << std::hex << s.Frame.Id;
            EXPECT_TRUE(steps.insert(s.SimTime).second) << "two frames in the step at " << s.SimTime;
            EXPECT_EQ(s.Delay, StartMicros + TRunEngine::TransmitLead);
        }
    }

    bool poll = false;
    int64_t elapsedMs = 0;

    TManualTimeSource clock{StartMicros};
    TRecordingTransmit transmit;
    TScriptedChannel channel;
    TRecordingSink sink;
    TCountingMonitor monitor;
    TRecordingErrors errors;
    TRecordingCockpit cockpit;
    TRunEngine engine{clock, transmit};
};

// A device (source address 0x21) asks for the vehicle identification (to all), for the
// engine hours (to us, 0x00) and for a group we do not send (to us).
TEST_F(TRunEngineRequests, PeerRequestsAreAnsweredWithinTenMilliseconds)
{
    poll = true;
    engine.Start();
    RunFor(1500);
    channel.Push(Request(0x18EAFF21, 0xFEEC));
    channel.Push(Request(0x18EA0021, 0xFEE5));
    channel.Push(Request(0x18EA0021, 0xFECA));
    RunFor(1000);

    // Read 1 ms later (1501 ms after Start), stamped on the wire's clock: the frames sent
    // on time then were those of 1301 ms (each is due 200 ms after its own time).
    ASSERT_EQ(sink.frames.size(), 3u);
    for (const TCanFrame& f : sink.frames) EXPECT_EQ(f.Time, 1301000);
    EXPECT_EQ(sink.frames[2].Id, 0x18EA0021u);

    // The announcement of a 24-byte, 4-packet transfer of PGN FEEC, written at once as
    // the single-frame answers are: due when the request was read (1501 ms after Start,
    // 1301 ms on the wire's clock). Its packets follow 100 ms apart, each written at once
    // when its time on the wire's clock has come: "Vehicle_ID_0001_abcdefg*".
    const auto announcement = Sent(0x18ECFF00, 1500, 1510);
    ASSERT_EQ(announcement.size(), 1u);
    EXPECT_EQ(announcement[0].Frame.Data, (TBytes{0x20, 24, 0x00, 4, 0xFF, 0xEC, 0xFE, 0x00}));
    EXPECT_TRUE(announcement[0].Now);
    EXPECT_EQ(announcement[0].Frame.Time, 1301000);
    EXPECT_EQ(announcement[0].Frame.Time + announcement[0].Delay, StartMicros + 1501000);
    const auto packets = Sent(0x18EBFF00, 1501, 2500);
    ASSERT_EQ(packets.size(), 4u);
    for (size_t k = 0; k < packets.size(); ++k) {
        EXPECT_TRUE(packets[k].Now) << k;
        EXPECT_EQ(packets[k].Frame.Time, 1301000 + int64_t(k + 1) * 100000) << k;
        EXPECT_EQ(packets[k].Frame.Data[0], k + 1);
    }
    EXPECT_EQ(packets[0].Frame.Data, (TBytes{1, 'V', 'e', 'h', 'i', 'c', 'l', 'e'}));
    EXPECT_EQ(packets[3].Frame.Data, (TBytes{4, 'f', 'g', '*', 0xFF, 0xFF, 0xFF, 0xFF}));

    // One HOURS frame besides the schedule's (every second at 10 ms), written at once:
    // due when the request was read, 1501 ms after Start.
    const auto hours = Sent(0x18FEE500, 1500, 1510);
    ASSERT_EQ(hours.size(), 1u);
    EXPECT_TRUE(hours[0].Now);
    EXPECT_EQ(hours[0].Frame.Time + hours[0].Delay, StartMicros + 1501000);
    EXPECT_EQ(Sent(0x18FEE500, 1011, 2009).size(), 1u);

    // The refusal names the device and the PGN; it goes out at once too.
    const auto nack = Sent(0x18E8FF00, 1500, 1510);
    ASSERT_EQ(nack.size(), 1u);
    EXPECT_TRUE(nack[0].Now);
    EXPECT_EQ(nack[0].Frame.Data, (TBytes{0x01, 0xFF, 0xFF, 0xFF, 0x21, 0xCA, 0xFE, 0x00}));
    EXPECT_EQ(Sent(0x18E8FF00, 0, 2500).size(), 1u);

    EXPECT_EQ(engine.Requests(), (TRequestCounts{3, 2, 1}));
    ASSERT_FALSE(monitor.shown.empty());
    EXPECT_EQ(monitor.shown.front(), TRequestCounts()) << "the start of the run";
    EXPECT_EQ(monitor.shown.back(), (TRequestCounts{3, 2, 1}));
    ExpectOneFramePerMillisecondAtOrAfterItsTime();
    EXPECT_TRUE(errors.shown.empty());
}

// "Log received frames" with an ASC output log: the three requests are "Rx" lines
// stamped on the clock of the sent frames, before the answers they got (the single
// frames in the same millisecond, the transfer's announcement with the schedule's
// lead), and are counted with the frames logged.
TEST_F(TRunEngineRequests, ReceivedRequestsAreRxLinesOfTheOutputLogBeforeTheirAnswers)
{
    poll = true;
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("trunengine_rx_" + std::to_string(::getpid()) + ".asc")).string();
    engine.LogOut().SetFormat(TLogOutFormat::Asc);
    ASSERT_TRUE(engine.OpenLogOut(path, TLogOut::omReplace));
    engine.Controls.LogFile = true;
    engine.Controls.LogReceived = true;
    engine.Start();
    RunFor(1500);
    channel.Push(Request(0x18EAFF21, 0xFEEC));
    channel.Push(Request(0x18EA0021, 0xFEE5));
    channel.Push(Request(0x18EA0021, 0xFECA));
    RunFor(1000);
    engine.Stop();
    ASSERT_TRUE(engine.LogOut().Close());
    EXPECT_TRUE(errors.shown.empty());
    EXPECT_EQ(engine.ReceivedLogged(), 3u);
    EXPECT_EQ(engine.FramesLogged(), transmit.sent.size() + 3);

    const std::vector<TAscLine> lines = AscFrames(path);
    std::remove(path.c_str());
    ASSERT_EQ(lines.size(), transmit.sent.size() + 3);
    std::vector<size_t> rx;
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].Direction == "Rx") rx.push_back(i);
    ASSERT_EQ(rx.size(), 3u);
    const uint32_t asked[] = {0x18EAFF21, 0x18EA0021, 0x18EA0021};
    const TBytes pgns[] = {{0xEC, 0xFE, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                           {0xE5, 0xFE, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                           {0xCA, 0xFE, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
    for (size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(lines[rx[k]].Time, 1301000);
        EXPECT_EQ(lines[rx[k]].Id, asked[k]);
        EXPECT_EQ(lines[rx[k]].Data, pgns[k]);
    }
    // The answers, as "Tx" lines each after its request, all stamped in the request's
    // millisecond: the announcement of the transfer, one HOURS frame and one refusal.
    const struct {
        uint32_t id;
        uint8_t byte5;   // the announced PGN's low byte, or 0 for any
        int64_t from;    // µs on the wire clock
        int64_t to;
        size_t request;
    } answers[] = {{0x18ECFF00, 0xEC, 1301000, 1301000, 0}, {0x18FEE500, 0, 1301000, 1301000, 1},
                   {0x18E8FF00, 0, 1301000, 1301000, 2}};
    for (const auto& a : answers) {
        int found = 0;
        for (size_t i = rx[a.request] + 1; i < lines.size(); ++i) {
            const TAscLine& l = lines[i];
            if (l.Id != a.id || (a.byte5 && l.Data[5] != a.byte5) || l.Time < 1301000 || l.Time > 1510000) continue;
            EXPECT_EQ(l.Direction, "Tx");
            EXPECT_GE(l.Time, a.from);
            EXPECT_LE(l.Time, a.to);
            ++found;
        }
        EXPECT_EQ(found, 1) << std::hex << a.id;
    }
}

// An output log in layout 5 cannot hold received frames: asked to, the engine ends it as
// it ends a log whose write failed, says why once, and the run goes on.
TEST_F(TRunEngineRequests, ReceivedFramesForALayout5LogEndItAsAFailedWrite)
{
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("trunengine_rx_" + std::to_string(::getpid()) + ".l5")).string();
    ASSERT_TRUE(engine.OpenLogOut(path, TLogOut::omReplace));
    engine.Controls.LogFile = true;
    engine.Controls.LogReceived = true;
    engine.Start();
    RunFor(100);
    const uint64_t before = engine.FramesLogged();
    channel.Push(Request(0x18EA0021, 0xFEE5));
    RunFor(100);

    ASSERT_EQ(errors.shown.size(), 1u);
    EXPECT_EQ(errors.shown[0].Message(), "Output log write error");
    EXPECT_NE(errors.shown[0].Detail().Find("layout 5 has no direction"), -1) << errors.shown[0].Detail().str();
    EXPECT_FALSE(engine.Controls.LogFile);
    EXPECT_EQ(engine.ReceivedLogged(), 0u);
    EXPECT_EQ(engine.FramesLogged(), before);
    // The sent frames written before it are in the file whole; the run still sends.
    EXPECT_EQ(std::filesystem::file_size(path), before * 35u);
    EXPECT_GT(transmit.sent.size(), before);
    EXPECT_EQ(engine.Requests(), (TRequestCounts{1, 1, 0}));
    std::remove(path.c_str());
}

// Hundreds of frames waiting at once: every one is read within a few steps, none is
// lost, and the request among them is still answered within 10 ms.
TEST_F(TRunEngineRequests, EveryReceivedFrameIsReadAndHandedOn)
{
    poll = true;
    engine.Start();
    RunFor(1500);
    for (int i = 0; i < 300; ++i)
        channel.Push(TCanFrame(0x18FEF121, {uint8_t(i), uint8_t(i >> 8), 0, 0, 0, 0, 0, 0}));
    channel.Push(Request(0x18EA0021, 0xFEE5));
    RunFor(50);

    ASSERT_EQ(sink.frames.size(), 301u);
    for (int i = 0; i < 300; ++i) {
        EXPECT_EQ(sink.frames[size_t(i)].Data[0] | sink.frames[size_t(i)].Data[1] << 8, i);
    }
    // 64 a read: the request, frame 301, is read in the fifth millisecond (1505 ms after
    // Start, 1305 ms on the wire's clock) and answered at once.
    EXPECT_EQ(sink.frames.back().Time, 1305000);
    const auto hours = Sent(0x18FEE500, 1500, 1514);
    ASSERT_EQ(hours.size(), 1u);
    EXPECT_TRUE(hours[0].Now);
    EXPECT_EQ(engine.Requests(), (TRequestCounts{1, 1, 0}));
}

// J1939 allows one broadcast transfer per source at a time: the schedule's vehicle
// identification at 12 ms moves behind the answer's transfer, to 10 ms after its last
// packet.
TEST_F(TRunEngineRequests, TheSchedulesTransferWaitsForTheAnswersTransfer)
{
    channel.Push(Request(0x18EAFF21, 0xFEEC));
    engine.Start();
    RunFor(1000);

    // Read in the first step, stamped 0 on the wire's clock (which reaches 0 200 ms after
    // Start): the answer is written at once when its time there has come, announcement at
    // 0, packets at 100..400 ms. The schedule's transfer, queued at 7 ms, would overlap
    // it: its time moves to 410 ms, its packets 510..810 ms, and it is written as
    // scheduled frames are, in the steps.
    std::vector<TSentFrame> announcements = Sent(0x18ECFF00, 0, 1000);
    ASSERT_EQ(announcements.size(), 2u);
    EXPECT_TRUE(announcements[0].Now);
    EXPECT_EQ(announcements[0].Frame.Time, 0);
    EXPECT_EQ(announcements[0].Frame.Time + announcements[0].Delay, StartMicros + TRunEngine::TransmitLead);
    EXPECT_FALSE(announcements[1].Now);
    EXPECT_EQ(announcements[1].Frame.Time, 410000);
    std::vector<int64_t> answerPackets, schedulePackets;
    for (const TSentFrame& p : Sent(0x18EBFF00, 0, 1000))
        (p.Now ? answerPackets : schedulePackets).push_back(p.Frame.Time);
    EXPECT_EQ(answerPackets, (std::vector<int64_t>{100000, 200000, 300000, 400000}));
    EXPECT_EQ(schedulePackets, (std::vector<int64_t>{510000, 610000, 710000, 810000}));
    ExpectOneFramePerMillisecondAtOrAfterItsTime();
    EXPECT_TRUE(errors.shown.empty()) << "a transfer that waited is not late";
}

// A Stop while an answer transfer is still going out: the device that asked gets it cut
// short, and the user is told how many; a finished answer tells nothing.
TEST_F(TRunEngineRequests, AStopThatCutsAnAnswerTransferSaysSo)
{
    const struct {
        const char* name;
        int64_t stopAfterMs;   // after the request was read
        int cut;               // answer transfers the notice counts; 0: no notice
        size_t packets;        // of the answer's 4 that left
    } cases[] = {
        {"stopped between the second and third packet", 250, 1, 2},
        {"stopped after the last packet", 600, 0, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        transmit.sent.clear();
        errors.shown.clear();
        poll = true;
        engine.Start();
        RunFor(1000);
        channel.Push(Request(0x18EA0021, 0xFEEC));
        RunFor(c.stopAfterMs);
        engine.Stop();
        RunFor(1000);   // nothing of the answer leaves after the stop

        size_t packets = 0;
        for (const TSentFrame& s : transmit.sent) packets += s.Now && s.Frame.Id == 0x18EBFF00 ? 1 : 0;
        EXPECT_EQ(packets, c.packets);
        std::vector<std::string> notices;
        for (const TBaseError& e : errors.shown)
            if (e.Message() == TAString("answers cut short")) notices.push_back(e.Detail().str());
        if (c.cut == 0) {
            EXPECT_TRUE(notices.empty());
        } else {
            ASSERT_EQ(notices.size(), 1u);
            EXPECT_EQ(notices[0].substr(0, 2), std::to_string(c.cut) + " ");
        }
    }
}

TEST_F(TRunEngineRequests, LogSourcesHandOnWhatTheyReceiveButAnswerNothing)
{
    engine.Controls.Simulation = false;
    engine.Controls.InternalLog = true;
    engine.InternalLines = TCanLogReader::Parse("000.0400 18FEF100F315000CFFFFFFFF");
    channel.Push(Request(0x18EA0021, 0xFEE5));
    channel.Push(Request(0x18EA0021, 0xFECA));
    engine.Start();
    RunFor(50);
    EXPECT_EQ(sink.frames.size(), 2u);
    EXPECT_EQ(engine.Requests(), TRequestCounts());
    ASSERT_EQ(transmit.sent.size(), 1u);
    EXPECT_EQ(transmit.sent[0].Frame.Id, 0x18FEF100u);
}

TEST_F(TRunEngineRequests, ANewRunCountsAfresh)
{
    engine.Start();
    channel.Push(Request(0x18EA0021, 0xFECA));
    RunFor(50);
    EXPECT_EQ(engine.Requests(), (TRequestCounts{1, 0, 1}));
    engine.Stop();
    engine.Start();
    EXPECT_EQ(engine.Requests(), TRequestCounts());
    EXPECT_EQ(monitor.shown.back(), TRequestCounts());
}

}  // namespace
