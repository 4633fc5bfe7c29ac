// Ten minutes of virtual time with the vehicle simulation and every destination on:
// frames straight to a channel (as quorvella-cli sends them on virtual time), the output
// log to a file, the data monitor's text of every signal at each refresh, and the
// validity manipulation rotating every signal through valid, error and not available
// once per simulated second.

#include "engine/tcantransmit.h"
#include "logs/tlogout.h"
#include "engine/trecordingcockpit.h"
#include "engine/trunengine.h"
#include "engine/trunmonitor.h"
#include "engine/trunvalidity.h"
#include "engine/ttimesource.h"
#include "runfakes.h"
#include "tests/engine/soakparts.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <string>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// From the sanitizers' allocator interface (GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#define QV_SOAK_SANITIZED 1
#endif

namespace {

// On virtual time every released frame goes to the channel at once.
class TDirectTransmit final : public TCanTransmit {
public:
    void Write(const TCanFrame& frame, int64_t) override
    {
        ++released;
        if (channel_) channel_->Write(frame);
    }
    void SetChannel(TCanChannel* channel) override { channel_ = channel; }
    long released = 0;

private:
    TCanChannel* channel_ = nullptr;
};

// Counts frames per PGN and hashes each one as the output log writes it; keeps no
// frames, so it does not grow.
class TCountingChannel final : public TCanChannel {
public:
    TCanFrame Read() override { return TCanFrame(); }
    void Write(const TCanFrame& frame) override
    {
        ++frames;
        ++perPgn[(frame.Id >> 8) & 0xFFFF];
        TAString line = TLogOut::Line(frame);
        line += "\r\n";
        hash.Add(line.c_str(), static_cast<size_t>(line.Length()));
    }
    long frames = 0;
    std::array<long, 0x10000> perPgn{};
    THash hash;
};

// Live heap bytes under a sanitizer (whose quarantine holds freed memory resident),
// else the resident size from /proc/self/statm.
long MemoryBytes()
{
#ifdef QV_SOAK_SANITIZED
    return static_cast<long>(__sanitizer_get_current_allocated_bytes());
#else
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
#endif
}

long LinesOf(const std::string& name, THash& hash)
{
    std::ifstream file(name, std::ios::binary);
    long lines = 0;
    char block[65536];
    while (file.read(block, sizeof block) || file.gcount() > 0) {
        const auto got = static_cast<size_t>(file.gcount());
        hash.Add(block, got);
        for (size_t i = 0; i < got; ++i) lines += block[i] == '\n';
    }
    return lines;
}

TEST(TRunEngineSoak, TenMinutesWithEveryDestinationLoseNoFrameAndDoNotGrow)
{
    const std::string logName = ::testing::TempDir() + "qv_soak_" + std::to_string(getpid()) + ".asc";
    std::remove(logName.c_str());

    TManualTimeSource clock(0);
    TDirectTransmit transmit;
    TRunEngine engine(clock, transmit);
    TRecordingCockpit cockpit;
    TRotatingValidity validity(engine);
    TTextMonitor monitor;
    TRecordingErrors errors;
    engine.SetCockpit(&cockpit);
    engine.SetValidity(&validity);
    engine.SetMonitor(&monitor);
    engine.SetErrorReporter(&errors);
    engine.Controls.Simulation = true;
    engine.Controls.ValidManip = true;
    engine.Controls.Display = true;
    engine.Controls.SendCan = true;
    ASSERT_TRUE(engine.OpenLogOut(TAString(logName)));
    engine.Controls.LogFile = true;
    TCountingChannel channel;
    engine.SetCanChannel(&channel);

    const int64_t minute = 60000000;
    long memoryAtMinute1 = 0;
    engine.Start();
    cockpit.StartEngine();
    while (engine.Running() && engine.SimTime() < 10 * minute) {
        clock.AdvanceMicros(TRunEngine::TickIntervalMs * 1000);
        engine.TimerSysTimer();
        if (memoryAtMinute1 == 0 && engine.SimTime() >= minute) memoryAtMinute1 = MemoryBytes();
    }
    const long memoryAtMinute10 = MemoryBytes();
    engine.Stop();
    engine.SetCanChannel(nullptr);
    engine.LogOut().Close();

    EXPECT_TRUE(errors.shown.empty()) << errors.shown.front().Operation().c_str() << ": "
                                      << errors.shown.front().Message().c_str();
    EXPECT_EQ(engine.SimTime(), 10 * minute);
    EXPECT_EQ(validity.changes, 600);
    EXPECT_EQ(monitor.refreshes, 3000);   // every 200 ms

    // Every group's messages at its period over 600 s, whatever state its signals are in.
    EXPECT_EQ(channel.perPgn[0xF004], 30000);   // 20 ms
    EXPECT_EQ(channel.perPgn[0xFE6C], 30000);   // 20 ms
    EXPECT_EQ(channel.perPgn[0xF003], 12000);   // 50 ms
    EXPECT_EQ(channel.perPgn[0xFEF1], 6000);    // 100 ms
    EXPECT_EQ(channel.perPgn[0xFEE9], 600);     // 1 s
    EXPECT_EQ(channel.perPgn[0xFDD1], 60);      // 10 s
    // Vehicle and driver identification, every 10 s each: a broadcast announcement
    // while the text is longer than 8 bytes, a single frame while it is forced to a
    // state that sends fewer bytes.
    EXPECT_EQ(channel.perPgn[0xECFF] + channel.perPgn[0xFEEC] + channel.perPgn[0xFE6B], 120);

    // Nothing lost between the send queue and the channel, and the output log holds
    // exactly the frames released, in order.
    EXPECT_EQ(channel.frames, transmit.released);
    THash fileHash;
    EXPECT_EQ(LinesOf(logName, fileHash), transmit.released);
    EXPECT_EQ(fileHash.Value(), channel.hash.Value());

    EXPECT_LT(memoryAtMinute10 - memoryAtMinute1, 4L << 20)
        << "from " << memoryAtMinute1 << " to " << memoryAtMinute10 << " bytes";
    std::remove(logName.c_str());
}

}  // namespace
