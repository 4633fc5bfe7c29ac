#include "can/sim/tcanchannelsim.h"
#include "can/tcanadapters.h"

#include "support/tbaseerror.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <unistd.h>
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

TEST(TCanChannelSim, RecordCutByItsBlockIsReportedOnceAndTheNextStartsClean)
{
    TCanChannelSim receiver("RAM 70 71");
    // A sender of plain bytes puts 10 bytes of a record as one block.
    std::unique_ptr<TACommunication> sender = TACommunication::New("RAM 71 72");
    const TSimFrameRecord::Bytes record = TSimFrameRecord::Encode(TCanFrame(0x18FEF100u, {1, 2}, 8, 0));
    sender->Write(record.data(), 10);
    ASSERT_EQ(sender->Drain(3000ms), 0U);   // the receiver's thread has taken the block

    // It tells of the cut record once it has looked into the block.
    bool reported = false;
    for (const auto deadline = std::chrono::steady_clock::now() + 3s; !reported && std::chrono::steady_clock::now() < deadline;) {
        try {
            EXPECT_TRUE(receiver.Read().IsNone());
            std::this_thread::sleep_for(1ms);
        } catch (const TBaseError& e) {
            reported = true;
            EXPECT_EQ(e.Operation(), "TCanChannelSim::Read");
            EXPECT_EQ(e.Message(), "FrameError");
            EXPECT_EQ(e.Detail(), "RAM 70 71: RAM block in slot 71 ended 10 bytes into a 24-byte record; "
                                  "those bytes were dropped");
        }
    }
    EXPECT_TRUE(reported) << "the cut record was not reported";
    EXPECT_TRUE(receiver.Read().IsNone());   // the 10 bytes are gone, reported once

    sender->Write(record.data(), 24);
    const TCanFrame frame = ReadWithin(receiver);
    EXPECT_EQ(frame.Id, 0x18FEF100u);
    EXPECT_EQ(frame.Data[1], 2);
}

TEST(TCanChannelSim, DrainCountsEveryFrameNotDeliveredPerEntry)
{
    // Entry 0 sends to a port nobody listens on; entry 1 to slot 80, which nobody empties.
    // Six frames fit everywhere: 6 + 6 are not delivered.
    const std::string soc = "SOC 127.0.0.1 1 " + std::to_string(41000 + ::getpid() % 20000) + " 1";
    TCanChannelSim channel((soc + ",RAM 80 81").c_str());
    for (uint8_t i = 0; i < 6; ++i) channel.Write(TCanFrame(0x18FEF100u, {i}, 8, 0));
    EXPECT_EQ(channel.Drain(100ms), 12U);

    // A send buffer holds 1 MiB: 43690 records of 24 bytes (1048560 bytes); the record
    // after those is refused. 50000 frames to a port nobody listens on: none delivered.
    TCanChannelSim lonely(soc.c_str());
    for (int i = 0; i < 50000; ++i) lonely.Write(TCanFrame(0x18FEF100u, {1}, 8, 0));
    EXPECT_EQ(lonely.Drain(0ms), 50000U);
}

TEST(TCanChannelSim, PairOverMemoryDeliversAllWithinTheDrain)
{
    TCanAdapters adapters;
    TCanChannel* a = adapters.OpenChannel("Simulation RAM 90 91");
    TCanChannel* b = adapters.OpenChannel("Simulation RAM 91 90");
    for (uint8_t i = 0; i < 100; ++i) a->Write(TCanFrame(0x18FEF100u, {i}, 8, 0));
    // b takes what arrives, so a's frames all leave.
    EXPECT_EQ(adapters.CloseChannel(a, 3000ms), 0U);
    for (uint8_t i = 0; i < 100; ++i) EXPECT_EQ(ReadWithin(*b).Data[0], i);
    EXPECT_EQ(adapters.CloseChannel(b, 0ms), 0U);
}

TEST(TCanAdapters, NotDeliveredSaysHowManyFramesAndHowLongItWaited)
{
    const TBaseError e = TCanAdapters::NotDelivered(55, std::chrono::milliseconds(2000));
    EXPECT_EQ(e.Operation(), "TCanAdapters::CloseChannel");
    EXPECT_EQ(e.Message(), "Frames not delivered");
    EXPECT_EQ(e.Detail(), "55 frames written to the CAN channel could not be delivered: refused by a full send "
                          "buffer, or still waiting when the channel closed after 2.0 s");
    EXPECT_EQ(TCanAdapters::NotDelivered(1, std::chrono::milliseconds(500)).Detail().SubString(0, 8), "1 frame ");
}
