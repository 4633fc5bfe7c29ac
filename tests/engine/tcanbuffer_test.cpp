#include "engine/tcanbuffer.h"

#include "tests/errorof.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

TCanFrame FrameNo(uint32_t n, int64_t time = 0)
{
    return TCanFrame(0x18FEF100u, {uint8_t(n), uint8_t(n >> 8), 0, 0, 0, 0, 0, 0}, 8, time);
}

// Records what it is sent; can be told to fail, and checks that no Write is ever in
// progress while the test closes it.
class RecordingChannel : public TCanChannel {
public:
    TCanFrame Read() override { return TCanFrame(); }
    void Write(const TCanFrame& frame) override
    {
        if (closed.load()) wroteWhileClosed = true;
        inWrite.store(true);
        if (failWithBaseError) throw TBaseError("TCanChannelSim::Write", "send failed");
        if (failWithOther) throw std::runtime_error("other");
        {
            std::lock_guard<std::mutex> lock(mutex);
            sent.push_back(frame);
        }
        inWrite.store(false);
    }
    std::vector<TCanFrame> Sent()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return sent;
    }
    bool failWithBaseError = false;
    bool failWithOther = false;
    std::atomic<bool> inWrite{false};
    std::atomic<bool> closed{false};
    std::atomic<bool> wroteWhileClosed{false};
    std::mutex mutex;
    std::vector<TCanFrame> sent;
};

class TCanBufferTest : public ::testing::Test {
protected:
    TManualTimeSource clock{1000000};
    TCanBuffer buffer{clock};
    RecordingChannel channel;
};

TEST_F(TCanBufferTest, FrameLeavesAtItsDueTimeNotBefore)
{
    buffer.SetChannel(&channel);
    buffer.Write(FrameNo(1, 5000), 1000000 + 200000);   // due at 1.205 s
    clock.SetMicros(1204999);
    buffer.OnLoop();
    EXPECT_TRUE(channel.Sent().empty());
    clock.SetMicros(1205000);
    buffer.OnLoop();
    ASSERT_EQ(channel.Sent().size(), 1u);
    EXPECT_EQ(channel.Sent()[0].Data[0], 1);
    EXPECT_EQ(buffer.Pending(), 0);
}

TEST_F(TCanBufferTest, AnEntryNotYetDueHoldsBackLaterEntriesThenAllLeaveTogether)
{
    buffer.SetChannel(&channel);
    buffer.Write(FrameNo(1, 3000), 0);
    buffer.Write(FrameNo(2, 1000), 0);
    clock.SetMicros(2000);
    buffer.OnLoop();
    EXPECT_TRUE(channel.Sent().empty());
    clock.SetMicros(3000);
    buffer.OnLoop();
    ASSERT_EQ(channel.Sent().size(), 2u);
    EXPECT_EQ(channel.Sent()[0].Data[0], 1);
    EXPECT_EQ(channel.Sent()[1].Data[0], 2);
}

// What the medium took, in the order it took it, each with the clock when TryWrite
// returned: an answer ahead of scheduled frames already due, a frame the medium refused
// for the moment offered again (not lost, not an error), and the timer's next work named.
TEST_F(TCanBufferTest, DeparturesTellWhatTheMediumTookAndWhen)
{
    class TRefusing final : public TCanChannel {
    public:
        TCanFrame Read() override { return TCanFrame(); }
        void Write(const TCanFrame&) override {}
        bool TryWrite(const TCanFrame& frame) override
        {
            if (refuse > 0) {
                --refuse;
                return false;
            }
            taken.push_back(frame.Data[0]);
            return true;
        }
        int refuse = 0;
        std::vector<int> taken;
    } medium;
    buffer.SetChannel(&medium);
    EXPECT_EQ(buffer.MicrosToNextWork(), TMultimediaTimerCallback::NoWork);
    buffer.Write(FrameNo(1, 1001000), 0);
    buffer.Write(FrameNo(2, 1002000), 0);
    EXPECT_EQ(buffer.MicrosToNextWork(), 1000);   // the clock stands at 1.000 s
    clock.SetMicros(1002000);
    buffer.WriteNow(FrameNo(9, 0), 0);   // an answer: due long ago, goes first
    EXPECT_EQ(buffer.MicrosToNextWork(), 0);
    medium.refuse = 1;
    buffer.OnLoop();
    EXPECT_TRUE(medium.taken.empty());
    EXPECT_EQ(buffer.Pending(), 3);
    EXPECT_EQ(buffer.MicrosToNextWork(), TCanBuffer::RetryMicros);
    EXPECT_TRUE(buffer.TakeError().Operation().IsEmpty()) << "back-pressure is no error";
    clock.AdvanceMicros(TCanBuffer::RetryMicros);
    buffer.OnLoop();
    EXPECT_EQ(medium.taken, (std::vector<int>{9, 1, 2}));

    const struct {
        int data;
        int64_t due;
        bool now;
    } expected[] = {{9, 0, true}, {1, 1001000, false}, {2, 1002000, false}};
    for (const auto& e : expected) {
        TCanBuffer::TDeparture d;
        ASSERT_TRUE(buffer.TakeDeparture(d));
        EXPECT_EQ(d.Frame.Data[0], e.data);
        EXPECT_EQ(d.Due, e.due);
        EXPECT_EQ(d.Departure, 1002000 + TCanBuffer::RetryMicros);
        EXPECT_EQ(d.Now, e.now);
    }
    TCanBuffer::TDeparture none;
    EXPECT_FALSE(buffer.TakeDeparture(none));
    EXPECT_EQ(buffer.MicrosToNextWork(), TMultimediaTimerCallback::NoWork);
}

TEST_F(TCanBufferTest, FullRingRefusesTheNewFrameAndKeepsTheStoredOnes)
{
    buffer.SetChannel(&channel);
    for (uint32_t i = 0; i < 255; ++i) buffer.Write(FrameNo(i, 0), 0);
    EXPECT_EQ(buffer.Pending(), 255);
    EXPECT_EQ(ErrorOf([&] { buffer.Write(FrameNo(255, 0), 0); }), "TCanBuffer::Write|write error");
    EXPECT_EQ(buffer.Pending(), 255);
    clock.SetMicros(2000000);
    buffer.OnLoop();
    auto sent = channel.Sent();
    ASSERT_EQ(sent.size(), 255u);
    for (uint32_t i = 0; i < 255; ++i) EXPECT_EQ(sent[i].Data[0], uint8_t(i));
    buffer.Write(FrameNo(7, 0), 0);   // room again
    EXPECT_EQ(buffer.Pending(), 1);
}

TEST_F(TCanBufferTest, ChannelErrorIsThrownByTheNextWriteOnlyAndTheRingIsEmptied)
{
    buffer.SetChannel(&channel);
    buffer.Write(FrameNo(1, 0), 0);
    buffer.Write(FrameNo(2, 0), 0);
    channel.failWithBaseError = true;
    clock.SetMicros(10);
    buffer.OnLoop();
    EXPECT_EQ(buffer.Pending(), 0);
    EXPECT_EQ(ErrorOf([&] { buffer.Write(FrameNo(3, 0), 0); }), "TCanChannelSim::Write|send failed");
    EXPECT_EQ(buffer.Pending(), 0);   // the throwing Write stored nothing
    channel.failWithBaseError = false;
    EXPECT_EQ(ErrorOf([&] { buffer.Write(FrameNo(4, 0), 0); }), "no error");
    buffer.OnLoop();
    ASSERT_EQ(channel.Sent().size(), 1u);
    EXPECT_EQ(channel.Sent()[0].Data[0], 4);
}

TEST_F(TCanBufferTest, OtherFailureKeepsTheEntryForRetryAndReportsUnknownError)
{
    buffer.SetChannel(&channel);
    buffer.Write(FrameNo(1, 0), 0);
    channel.failWithOther = true;
    buffer.OnLoop();
    EXPECT_EQ(buffer.Pending(), 1);
    channel.failWithOther = false;
    // Offered again after a pause, not in a loop that holds the thread.
    buffer.OnLoop();
    EXPECT_EQ(channel.Sent().size(), 0u);
    clock.AdvanceMicros(TCanBuffer::RetryMicros);
    buffer.OnLoop();
    ASSERT_EQ(channel.Sent().size(), 1u);
    EXPECT_EQ(ErrorOf([&] { buffer.Write(FrameNo(2, 0), 0); }), "TCanBuffer::OnLoop|unknown error");
}

TEST_F(TCanBufferTest, WithoutChannelEntriesAreDiscardedOnceTheFirstIsDue)
{
    buffer.Write(FrameNo(1, 5000), 0);
    buffer.Write(FrameNo(2, 0), 0);
    clock.SetMicros(4999);
    buffer.OnLoop();
    EXPECT_EQ(buffer.Pending(), 2);
    clock.SetMicros(5000);
    buffer.OnLoop();
    EXPECT_EQ(buffer.Pending(), 0);
    buffer.SetChannel(&channel);
    buffer.OnLoop();
    EXPECT_TRUE(channel.Sent().empty());
}

// The timer thread sends while the window thread writes and finally takes the
// channel away: every frame arrives once and in order, and no Write runs on a
// channel after SetChannel(nullptr) returned.
TEST(TCanBufferThreads, TimerThreadSendsWhileWindowThreadWrites)
{
    const TTimeSource& clock = TMonotonicTimeSource::Instance();
    TCanBuffer buffer(clock);
    RecordingChannel channel;
    std::mutex timerLock;
    TMultimediaTimer timer(&buffer, timerLock);
    buffer.SetChannel(&channel);
    uint32_t error = 0;
    ASSERT_TRUE(timer.Start(1, error, 1));

    constexpr uint32_t kFrames = 3000;
    uint32_t written = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (written < kFrames && std::chrono::steady_clock::now() < deadline) {
        try {
            buffer.Write(FrameNo(written, clock.Micros()), 0);
            ++written;
        } catch (const TBaseError& e) {
            ASSERT_EQ(e.Message(), "write error");
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
    ASSERT_EQ(written, kFrames);
    while (buffer.Pending() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    buffer.SetChannel(nullptr);
    channel.closed.store(true);
    EXPECT_FALSE(channel.inWrite.load());
    buffer.Write(FrameNo(kFrames, clock.Micros()), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    timer.Stop();

    EXPECT_FALSE(channel.wroteWhileClosed.load());
    auto sent = channel.Sent();
    ASSERT_EQ(sent.size(), kFrames);
    for (uint32_t i = 0; i < kFrames; ++i) {
        ASSERT_EQ(sent[i].Data[0] | (sent[i].Data[1] << 8), int(i & 0xFFFF)) << "frame " << i;
    }
}

}  // namespace
