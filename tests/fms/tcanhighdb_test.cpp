#include "fms/tcanhighdb.h"

#include "support/tbaseerror.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using Frame8 = std::array<uint8_t, 8>;

TCanHigh Single(uint32_t id, int64_t time, uint8_t b0 = 0)
{
    TCanHigh m(id);
    m.SetMV(std::vector<uint8_t>{b0}, 0, 8);
    m.Time = time;
    return m;
}

TCanHigh Multi(uint32_t id, int64_t time, const std::vector<uint8_t>& bytes)
{
    TCanHigh m(id);
    m.SetMV(bytes, 0, uint16_t(bytes.size() * 8));
    m.Time = time;
    return m;
}

std::vector<TCanFrame> AllFrames(TCanHigh m)
{
    std::vector<TCanFrame> frames;
    for (TCanFrame f = m.GetFrame(INT64_MAX); !f.IsNone(); f = m.GetFrame(INT64_MAX)) frames.push_back(f);
    return frames;
}

}  // namespace

TEST(TCanHighDB, DueMessagesLeaveOneFramePerCallInQueueOrder)
{
    TCanHighDB q;
    q.AddCanHigh(Single(0x18FEF100, 0, 1));
    q.AddCanHigh(Single(0x18F00300, 0, 2));
    EXPECT_EQ(q.GetNextFrame(0).Id, 0x18FEF100u);
    EXPECT_EQ(q.Count(), 1);
    EXPECT_EQ(q.GetNextFrame(0).Id, 0x18F00300u);
    EXPECT_TRUE(q.GetNextFrame(0).IsNone());
    EXPECT_EQ(q.Count(), 0);
}

TEST(TCanHighDB, LaterMessagesWaitWithoutBlockingOthers)
{
    TCanHighDB q;
    q.AddCanHigh(Single(0x18FEE900, 5000));
    q.AddCanHigh(Single(0x18FEFC00, 1000));
    EXPECT_TRUE(q.GetNextFrame(999).IsNone());
    EXPECT_EQ(q.GetNextFrame(1000).Id, 0x18FEFC00u);
    EXPECT_TRUE(q.GetNextFrame(4999).IsNone());
    EXPECT_EQ(q.GetNextFrame(5000).Id, 0x18FEE900u);
}

TEST(TCanHighDB, TransferStaysQueuedUntilItsLastPacket)
{
    TCanHighDB q;
    q.AddCanHigh(Multi(0x18FEEC00, 0, std::vector<uint8_t>(9, 0x41)));
    q.AddCanHigh(Single(0x18FEF100, 0));
    EXPECT_EQ(q.GetNextFrame(0).Id, 0x18ECFF00u);
    EXPECT_EQ(q.GetNextFrame(0).Id, 0x18FEF100u);
    EXPECT_TRUE(q.GetNextFrame(99999).IsNone());
    EXPECT_EQ(q.Count(), 1);
    EXPECT_EQ(q.GetNextFrame(100000).Data[0], 1);
    EXPECT_EQ(q.GetNextFrame(200000).Data[0], 2);
    EXPECT_EQ(q.Count(), 0);
}

TEST(TCanHighDB, AddFrameJoinsOpenTransfersAndQueuesTheRest)
{
    TCanHighDB q;
    const Frame8 cm{0x20, 0x09, 0x00, 0x02, 0xFF, 0xEC, 0xFE, 0x00};
    q.AddFrame(TCanFrame(0x18ECFF00, cm, 0, 0));
    q.AddFrame(TCanFrame(0x18FEF100, {}, 0, 10));
    q.AddFrame(TCanFrame(0x18EBFF00, Frame8{1, 1, 2, 3, 4, 5, 6, 7}, 0, 100));
    q.AddFrame(TCanFrame(0x18FEF100, {}, 0, 20));   // the first one is complete: a new message
    ASSERT_EQ(q.Count(), 3);
    EXPECT_EQ(q.Item(0).Received, 2);
    EXPECT_EQ(q.Item(2).Time, 20);

    const char* add = "TCanHigh::Add";
    try {
        q.AddFrame(TCanFrame(0x18EBFF00, Frame8{3, 0, 0, 0, 0, 0, 0, 0}, 0, 200));
        ADD_FAILURE();
    } catch (const TBaseError& e) {
        EXPECT_EQ(e.Operation(), add);
        EXPECT_EQ(e.Message(), "multipacket index error");
    }
    try {
        q.AddFrame(TCanFrame(0x18ECFF00, Frame8{0x20, 0x05, 0, 1, 0xFF, 0xEC, 0xFE, 0}, 0, 300));
        ADD_FAILURE();
    } catch (const TBaseError& e) {
        EXPECT_EQ(e.Message(), "multipacket length <=8");
    }
    EXPECT_EQ(q.Count(), 3);
    EXPECT_EQ(q.Item(0).Received, 1);   // the transfer waits for packet 1 again
}

TEST(TCanHighDB, RandomGroupsCutIntoFramesReassembleToTheSameBytes)
{
    std::mt19937 rng(65260);
    for (int n = 0; n < 300; ++n) {
        std::vector<TCanHigh> sent;
        TCanHighDB replay;
        for (int g = 0; g < 3; ++g) {
            uint32_t id;
            do id = rng() & 0x1FFFFFFFu;
            while (((id >> 16) & 0xFF) == 0xEC || ((id >> 16) & 0xFF) == 0xEB);
            std::vector<uint8_t> bytes(8 + rng() % 248);
            for (auto& b : bytes) b = uint8_t(rng());
            sent.push_back(Multi(id, int64_t(rng() % 100000000), bytes));
            for (const TCanFrame& f : AllFrames(sent.back())) replay.AddFrame(f);
        }
        ASSERT_EQ(replay.Count(), 3);
        for (int g = 0; g < 3; ++g) {
            const TCanHigh& in = sent[size_t(g)];
            const TCanHigh& out = replay.Item(g);
            EXPECT_TRUE(out.IsComplete());
            EXPECT_EQ(out.Data(), in.Data());
            EXPECT_EQ(out.Time, in.Time);
            EXPECT_EQ(out.Id, in.Length() == 8 ? in.Id : in.Id & TCanHigh::GroupMask);
            EXPECT_EQ(AllFrames(out), AllFrames(in)) << "sent again unchanged";
        }
    }
}
