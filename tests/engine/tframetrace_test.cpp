// The frame trace: what the run engine appends (every frame that left, in the order and
// with the content the output log has, and every frame received), and the ring's
// sequence numbers, missed counts and wrap, also with a reader on another thread.

#include "engine/tframetrace.h"

#include "logs/tcanlogreader.h"
#include "engine/trunengine.h"
#include "engine/ttimesource.h"
#include "runfakes.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::array<uint8_t, 8> Bytes(uint64_t v)
{
    std::array<uint8_t, 8> b{};
    for (int k = 0; k < 8; ++k) b[static_cast<std::size_t>(k)] = static_cast<uint8_t>(v >> (8 * k));
    return b;
}

// Appends frames 1..n: frame k has identifier k and data k (little-endian), time 10 k.
void Fill(TFrameTrace& trace, uint64_t n)
{
    for (uint64_t k = trace.Last() + 1; k <= n; ++k)
        trace.Append(TTraceFrame::Tx, static_cast<int64_t>(10 * k), static_cast<uint32_t>(k), true, 8, Bytes(k));
}

std::vector<uint64_t> Seqs(const TFrameTrace::TBatch& b)
{
    std::vector<uint64_t> r;
    for (const TTraceFrame& f : b.Frames) r.push_back(f.Seq);
    return r;
}

}  // namespace

TEST(TFrameTrace, TheFramesThatLeftInTheOrderAndWithTheContentOfTheOutputLog)
{
    char name[] = "/tmp/qv_trace_XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);

    TManualTimeSource clock(1000000000);
    TRecordingTransmit transmit;
    TRunEngine engine(clock, transmit);
    transmit.engine = &engine;
    // A broadcast transfer and single frames, two of them in the same millisecond.
    engine.InternalLines = TCanLogReader::Parse("000.0010 0CF00400FFFFFFE02EFFFFFF\n"
                                                "000.0010 18FEF100F3003211FFFFFFFF\n"
                                                "000.0020 18ECFF00200B0002FFECFE00\n"
                                                "000.0120 18EBFF000157444231323334\n"
                                                "000.0220 18EBFF00023536372AFFFFFF\n"
                                                "000.2500 0CF00400FFFFFF002FFFFFFF\n");
    engine.Controls.Simulation = false;
    engine.Controls.InternalLog = true;
    engine.Controls.SendCan = false;
    ASSERT_TRUE(engine.OpenLogOut(name, TLogOut::omReplace));
    engine.Controls.LogFile = true;
    const uint64_t before = engine.Trace().Last();
    engine.Start();
    for (int tick = 0; tick < 40 && engine.Running(); ++tick) {
        clock.AdvanceMicros(TRunEngine::TickIntervalMs * 1000);
        engine.TimerSysTimer();
    }
    ASSERT_FALSE(engine.Running());
    engine.LogOut().Close();

    std::vector<TCanFrame> logged;
    std::ifstream in(name);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) logged.emplace_back(TAString(line), lfFixedId);
    }
    std::remove(name);

    const TFrameTrace::TBatch b = engine.Trace().Since(before);
    EXPECT_EQ(b.Missed, 0u);
    ASSERT_EQ(logged.size(), 6u);
    ASSERT_EQ(b.Frames.size(), logged.size());
    for (std::size_t k = 0; k < logged.size(); ++k) {
        SCOPED_TRACE(k);
        const TTraceFrame& f = b.Frames[k];
        EXPECT_EQ(f.Seq, before + k + 1);
        EXPECT_EQ(f.Direction, TTraceFrame::Tx);
        EXPECT_EQ(f.Id, logged[k].Id);
        EXPECT_EQ(f.Data, logged[k].Data);
        EXPECT_EQ(f.Length, 8);
        EXPECT_TRUE(f.Extended);
        // The log holds tenths of milliseconds.
        EXPECT_EQ(f.Time / 100, logged[k].Time / 100);
    }
    EXPECT_EQ(b.Frames[0].Pgn(), 61444u);
    EXPECT_EQ(b.Frames[0].SourceAddress(), 0);
    EXPECT_EQ(b.Frames[0].GroupName().str(), "Electronic Engine Controller #1");
    EXPECT_EQ(b.Frames[1].GroupName().str(), "Cruise Control/Vehicle Speed");
    EXPECT_EQ(b.Frames[2].Pgn(), 60416u);
    EXPECT_EQ(b.Frames[2].GroupName().str(), "TP.CM");
    EXPECT_EQ(b.Frames[3].GroupName().str(), "TP.DT");
    EXPECT_EQ(b.Frames[0].DataText().str(), "FF FF FF E0 2E FF FF FF");
}

TEST(TFrameTrace, ReceivedFramesAreTracedAsRx)
{
    TManualTimeSource clock(1000000000);
    TRecordingTransmit transmit;
    TScriptedChannel channel;
    TRunEngine engine(clock, transmit);
    transmit.engine = &engine;
    engine.SetCanChannel(&channel);
    engine.Controls.Simulation = false;
    engine.Controls.InternalLog = true;
    engine.InternalLines = TCanLogReader::Parse("000.1000 0CF00400FFFFFFE02EFFFFFF\n");
    engine.Start();
    // A request for the VIN from node 0x21, and a standard frame of 3 bytes.
    channel.Push(TCanFrame(0x18EA0021, {0xEC, 0xFE, 0x00}, 3));
    channel.Push(TCanFrame(0x123, {1, 2, 3}, 3, 0, false));
    clock.AdvanceMicros(50000);
    engine.TimerSysTimer();
    const TFrameTrace::TBatch b = engine.Trace().Since(0);
    ASSERT_EQ(b.Frames.size(), 2u);
    EXPECT_EQ(b.Frames[0].Direction, TTraceFrame::Rx);
    EXPECT_EQ(b.Frames[0].Id, 0x18EA0021u);
    EXPECT_EQ(b.Frames[0].Pgn(), 59904u);
    EXPECT_EQ(b.Frames[0].SourceAddress(), 0x21);
    EXPECT_EQ(b.Frames[0].GroupName().str(), "Request");
    EXPECT_EQ(b.Frames[0].Length, 3);
    EXPECT_EQ(b.Frames[0].DataText().str(), "EC FE 00");
    EXPECT_EQ(b.Frames[1].Direction, TTraceFrame::Rx);
    EXPECT_FALSE(b.Frames[1].Extended);
    EXPECT_EQ(b.Frames[1].Pgn(), 0u);
    EXPECT_EQ(b.Frames[1].GroupName().str(), "");
    engine.Stop();
}

struct TSinceCase {
    const char* What;
    std::size_t Capacity;
    uint64_t Appended;
    uint64_t After;
    std::size_t Max;
    std::vector<uint64_t> Seqs;
    uint64_t Missed;
};

TEST(TFrameTrace, SinceReturnsWhatCameAfterAndCountsWhatTheRingLost)
{
    const TSinceCase cases[] = {
        {"empty", 5, 0, 0, SIZE_MAX, {}, 0},
        {"all from the start", 5, 3, 0, SIZE_MAX, {1, 2, 3}, 0},
        {"after the second", 5, 3, 2, SIZE_MAX, {3}, 0},
        {"nothing new", 5, 3, 3, SIZE_MAX, {}, 0},
        {"full, not wrapped", 5, 5, 0, SIZE_MAX, {1, 2, 3, 4, 5}, 0},
        {"wrapped once: the first 7 of 12 are gone", 5, 12, 0, SIZE_MAX, {8, 9, 10, 11, 12}, 7},
        {"wrapped, reader 4 behind the oldest", 5, 12, 3, SIZE_MAX, {8, 9, 10, 11, 12}, 4},
        {"wrapped, reader within the ring", 5, 12, 9, SIZE_MAX, {10, 11, 12}, 0},
        {"at most two", 5, 12, 0, 2, {8, 9}, 7},
        {"a ring of one", 1, 4, 0, SIZE_MAX, {4}, 3},
    };
    for (const TSinceCase& c : cases) {
        SCOPED_TRACE(c.What);
        TFrameTrace trace(c.Capacity);
        Fill(trace, c.Appended);
        const TFrameTrace::TBatch b = trace.Since(c.After, c.Max);
        EXPECT_EQ(Seqs(b), c.Seqs);
        EXPECT_EQ(b.Missed, c.Missed);
        EXPECT_EQ(b.Last, c.Appended);
        EXPECT_EQ(b.Until, c.Seqs.empty() ? c.After : c.Seqs.back());
        for (const TTraceFrame& f : b.Frames) {
            EXPECT_EQ(f.Id, f.Seq);
            EXPECT_EQ(f.Data, Bytes(f.Seq));
            EXPECT_EQ(f.Time, static_cast<int64_t>(10 * f.Seq));
        }
    }
}

TEST(TFrameTrace, HoldsTheLastHundredThousand)
{
    TFrameTrace trace;
    EXPECT_EQ(trace.Capacity(), 100000u);
    Fill(trace, 100001);
    const TFrameTrace::TBatch b = trace.Since(0);
    ASSERT_EQ(b.Frames.size(), 100000u);
    EXPECT_EQ(b.Missed, 1u);
    EXPECT_EQ(b.Frames.front().Seq, 2u);
    EXPECT_EQ(b.Frames.back().Seq, 100001u);
}

TEST(TFrameTrace, LengthAndKindAreKept)
{
    TFrameTrace trace(4);
    trace.Append(TTraceFrame::Rx, 5, 0x7FF, false, 2, Bytes(0x0807060504030201));
    trace.Append(TTraceFrame::Tx, 6, 0x18FEF100, true, 0, Bytes(0xFF));
    const TFrameTrace::TBatch b = trace.Since(0);
    ASSERT_EQ(b.Frames.size(), 2u);
    EXPECT_EQ(b.Frames[0].Direction, TTraceFrame::Rx);
    EXPECT_FALSE(b.Frames[0].Extended);
    EXPECT_EQ(b.Frames[0].Length, 2);
    // Bytes past the length are not part of the frame.
    EXPECT_EQ(b.Frames[0].Data, (std::array<uint8_t, 8>{1, 2, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(b.Frames[0].DataText().str(), "01 02");
    EXPECT_EQ(b.Frames[1].Length, 0);
    EXPECT_EQ(b.Frames[1].DataText().str(), "");
    EXPECT_EQ(b.Frames[1].Pgn(), 65265u);
}

TEST(TFrameTrace, AReaderOnAnotherThreadGetsWholeFramesInOrderOrCountsThemMissed)
{
    // The producer runs far ahead of a small ring: the reader must never see a torn
    // frame (identifier, data and time of different frames), and what it got plus
    // what it missed is every frame.
    constexpr uint64_t Frames = 200000;
    TFrameTrace trace(64);
    std::atomic<bool> done{false};
    uint64_t got = 0;
    uint64_t missed = 0;
    bool torn = false;
    bool ordered = true;
    std::thread reader([&] {
        uint64_t last = 0;
        for (;;) {
            const bool finished = done.load(std::memory_order_acquire);
            const TFrameTrace::TBatch b = trace.Since(last);
            missed += b.Missed;
            uint64_t previous = last;
            for (const TTraceFrame& f : b.Frames) {
                if (f.Seq <= previous) ordered = false;
                previous = f.Seq;
                torn = torn || f.Id != static_cast<uint32_t>(f.Seq) || f.Data != Bytes(f.Seq) ||
                       f.Time != static_cast<int64_t>(10 * f.Seq);
                ++got;
            }
            last = b.Until;
            // Once the producer is done the ring holds the newest frames: the reader catches up.
            if (finished && last == Frames) break;
        }
    });
    Fill(trace, Frames);
    done.store(true, std::memory_order_release);
    reader.join();
    EXPECT_FALSE(torn);
    EXPECT_TRUE(ordered);
    EXPECT_EQ(got + missed, Frames);
    EXPECT_GT(got, 0u);
}
