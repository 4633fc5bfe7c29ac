#include "can/sim/tcanchannelsim.h"
#include "can/tcanadapters.h"

#include "support/tbaseerror.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Polls Read until a frame arrives or the limit passes.
TCanFrame ReadWithin(TCanChannel& channel, std::chrono::milliseconds limit = 3000ms)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        TCanFrame frame = channel.Read();
        if (!frame.IsNone() || std::chrono::steady_clock::now() > end) return frame;
        std::this_thread::sleep_for(5ms);
    }
}

} // namespace

TEST(TCanChannelSim, DescriptionsWithoutAUsableEntryAreConfigErrors)
{
    TCanAdapters adapters;
    // "RAM 40 40," ends in an empty entry.
    for (const char* description : {"Simulation", "Simulation ", "Simulation RAM 40 40,", "Simulation XYZ 1 2"}) {
        try {
            adapters.OpenChannel(description);
            ADD_FAILURE() << "no error for '" << description << "'";
        } catch (const TBaseError& e) {
            EXPECT_EQ(e.Operation(), "TACommunication::New") << description;
            EXPECT_EQ(e.Message(), "ConfigError") << description;
        }
    }
}

TEST(TCanChannelSim, TenEntriesOpenEightCommunicationChannels)
{
    // The last two would not open if they were tried.
    TCanChannelSim channel("RAM 50 50,RAM 51 51,RAM 52 52,RAM 53 53,RAM 54 54,"
                           "RAM 55 55,RAM 56 56,RAM 57 57,XYZ,XYZ");
    EXPECT_EQ(channel.EntryCount(), 8);
}

TEST(TCanChannelSim, LoopbackReturnsItsOwnFramesWithTheReadersTime)
{
    int64_t now = 5'000'000;
    TCanChannelSim channel("RAM 3 3", TCanChannelSim::DefaultFactory(), [&now] { return now += 1000; });
    EXPECT_TRUE(channel.Read().IsNone());
    channel.Write(TCanFrame(0x18FEF100u, {1, 2, 3, 4, 5, 6, 7, 8}, 8, 10));

    const TCanFrame frame = ReadWithin(channel);
    EXPECT_EQ(frame.Id, 0x18FEF100u);
    EXPECT_EQ(frame.Data, (std::array<uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8}));
    EXPECT_EQ(frame.Dlc, 8);
    EXPECT_GT(frame.Time, 5'000'000);   // not the written 10
}

TEST(TCanChannelSim, PairOfMemoryChannelsExchangeFramesInOrder)
{
    TCanAdapters adapters;
    TCanChannel* a = adapters.OpenChannel("Simulation RAM 1 2");
    TCanChannel* b = adapters.OpenChannel("Simulation RAM 2 1");
    for (uint8_t i = 0; i < 5; ++i) a->Write(TCanFrame(0x18FEF100u + i, {i}, 8, -1));
    b->Write(TCanFrame(0x18FEE900u, {0xEE}, 8, -1));

    int64_t previous = -1;
    for (uint8_t i = 0; i < 5; ++i) {
        const TCanFrame got = ReadWithin(*b);
        EXPECT_EQ(got.Id, 0x18FEF100u + i);
        EXPECT_EQ(got.Data[0], i);
        EXPECT_GE(got.Time, previous);   // stamped on arrival, not the written -1
        previous = got.Time;
    }
    EXPECT_GT(previous, 0);
    EXPECT_EQ(ReadWithin(*a).Id, 0x18FEE900u);
    EXPECT_TRUE(a->Read().IsNone());   // nothing of its own comes back
}

TEST(TCanChannelSim, WriteGoesToEveryEntryReadOnlyFromEntryZero)
{
    // Entry 0 sends to slot 60 (the peer's), entry 1 to slot 62 (the listener's).
    TCanChannelSim node("RAM 60 61,RAM 62 63");
    TCanChannelSim listener("RAM 64 62");
    TCanChannelSim peer("RAM 61 60");
    node.Write(TCanFrame(0x18FEF100u, {7}, 8, 0));
    EXPECT_EQ(ReadWithin(listener).Data[0], 7);
    EXPECT_EQ(ReadWithin(peer).Data[0], 7);
    peer.Write(TCanFrame(0x18FEF100u, {8}, 8, 0));
    EXPECT_EQ(ReadWithin(node).Data[0], 8);
}

TEST(TCanChannelSim, PartlyArrivedRecordWaitsUntilItIsComplete)
{
    TCanChannelSim receiver("RAM 70 71");
    std::unique_ptr<TACommunication> sender = TACommunication::New("RAM 71 72");
    const TSimFrameRecord::Bytes record = TSimFrameRecord::Encode(TCanFrame(0x18FEF100u, {1, 2}, 8, 0));

    sender->Write(record.data(), 10);
    EXPECT_TRUE(ReadWithin(receiver, 300ms).IsNone());

    sender->Write(record.data() + 10, 14);
    const TCanFrame frame = ReadWithin(receiver);
    EXPECT_EQ(frame.Id, 0x18FEF100u);
    EXPECT_EQ(frame.Data[1], 2);

    sender->Write(record.data(), 24);
    EXPECT_EQ(ReadWithin(receiver).Id, 0x18FEF100u);   // the next record starts clean
}
