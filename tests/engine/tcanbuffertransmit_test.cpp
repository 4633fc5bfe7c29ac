#include "engine/tcanbuffertransmit.h"

#include "engine/tcanbuffer.h"
#include "logs/tcanlogreader.h"
#include "engine/tmultimediatimer.h"
#include "engine/trunengine.h"
#include "engine/ttimesource.h"
#include "can/tcanchannel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

class TListChannel final : public TCanChannel {
public:
    TCanFrame Read() override { return {}; }
    void Write(const TCanFrame& frame) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        written.push_back(frame);
    }
    std::vector<TCanFrame> Written()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return written;
    }

private:
    std::mutex mutex;
    std::vector<TCanFrame> written;
};

// A frame the tick releases at simulated time t is sent when the clock reaches
// Start + t + 200 ms, not a microsecond earlier.
TEST(TCanBufferTransmit, TickFramesLeaveTheBufferAtStartPlusTimePlus200Ms)
{
    constexpr int64_t start = 500000000;   // 500 s
    TManualTimeSource clock(start);
    TCanBuffer buffer(clock);
    TCanBufferTransmit transmit(buffer);
    TListChannel channel;
    TRunEngine engine(clock, transmit);
    engine.SetCanChannel(&channel);
    engine.Controls.Simulation = false;
    engine.Controls.InternalLog = true;
    engine.InternalLines = TCanLogReader::Parse("000.0030 18FEF100F315000CFFFFFFFF\n000.4000 18F00300FFFAFFFFFFFFFFFF");

    engine.Start();
    clock.AdvanceMicros(50000);
    engine.TimerSysTimer();
    EXPECT_EQ(buffer.Pending(), 1);

    clock.SetMicros(start + 3000 + 200000 - 1);
    buffer.OnLoop();
    EXPECT_TRUE(channel.Written().empty());
    clock.SetMicros(start + 3000 + 200000);
    buffer.OnLoop();
    ASSERT_EQ(channel.Written().size(), 1u);
    EXPECT_EQ(channel.Written()[0].Id, 0x18FEF100u);
    EXPECT_EQ(channel.Written()[0].Time, start + 3000 + 200000);
}

// Closing the channel right after the engine let go of it is safe while the transmit
// timer's thread keeps sending (run under ThreadSanitizer and AddressSanitizer). On a
// loaded machine the timer thread may not run for several rounds, so the ring fills up
// and Write refuses frames: the channel must still be let go of before it is closed,
// whichever way the round ends.
TEST(TCanBufferTransmit, ChannelCanBeClosedOnceTheEngineLetsGoOfIt)
{
    const TTimeSource& clock = TMonotonicTimeSource::Instance();
    TCanBuffer buffer(clock);
    std::mutex timerLock;
    TMultimediaTimer timer(&buffer, timerLock);
    uint32_t error = 0;
    ASSERT_TRUE(timer.Start(1, error, 1));
    TCanBufferTransmit transmit(buffer);
    TRunEngine engine(clock, transmit);

    for (int round = 0; round < 20; ++round) {
        auto channel = std::make_unique<TListChannel>();
        engine.SetCanChannel(channel.get());
        struct TLetGo {
            TRunEngine& engine;
            ~TLetGo() { engine.SetCanChannel(nullptr); }
        } letGo{engine};
        // Frames already due: the timer thread sends them at once, when it gets to run.
        for (int i = 0; i < 20; ++i) {
            try {
                transmit.Write(TCanFrame(0x18FEF100, {}, 8, 0), clock.Micros());
            } catch (const TBaseError& e) {
                EXPECT_EQ(e.Message(), "write error");
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }   // letGo, then the channel is closed, while the timer keeps running
    timer.Stop();
}

}  // namespace
