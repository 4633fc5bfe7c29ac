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

TEST(TCanHighDB, AddFrameJoinsTheOpenTransferOfItsOwnSourceAndQueuesTheRest)
{
    TCanHighDB q;
    const Frame8 cm{0x20, 0x09, 0x00, 0x02, 0xFF, 0xEC, 0xFE, 0x00};
    q.AddFrame(TCanFrame(0x18ECFF00, cm, 0, 0));
    q.AddFrame(TCanFrame(0x18ECFF21, cm, 0, 5));
    q.AddFrame(TCanFrame(0x18FEF100, {}, 0, 10));
    q.AddFrame(TCanFrame(0x18EBFF21, Frame8{1, 1, 2, 3, 4, 5, 6, 7}, 0, 100));
    q.AddFrame(TCanFrame(0x18EBFF00, Frame8{1, 9, 9, 9, 9, 9, 9, 9}, 0, 101));
    q.AddFrame(TCanFrame(0x18FEF100, {}, 0, 20));   // the first one is complete: a new message
    // A packet of a source with no open transfer is a frame of its own.
    q.AddFrame(TCanFrame(0x18EBFF33, Frame8{1, 0, 0, 0, 0, 0, 0, 0}, 0, 30));
    ASSERT_EQ(q.Count(), 5);
    EXPECT_EQ(q.Item(0).Received, 2);
    EXPECT_EQ(q.Item(0).Data()[0], 9);
    EXPECT_EQ(q.Item(1).Received, 2);
    EXPECT_EQ(q.Item(1).Data()[0], 1);
    EXPECT_EQ(q.Item(3).Time, 20);
    EXPECT_EQ(q.Item(4).Id, 0x18EBFF33u);
    EXPECT_TRUE(q.TakeDrops().empty());
}

TEST(TCanHighDB, TransfersThatCannotFinishLeaveTheQueueAndAreNoted)
{
    const Frame8 cm4{0x20, 0x18, 0x00, 0x04, 0xFF, 0xEC, 0xFE, 0x00};
    const Frame8 dt1{1, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47};
    struct Case {
        const char* name;
        std::vector<TCanFrame> after;   // frames after the announcement and packet 1
        int64_t expireAt;               // ExpireTransfers / EndOfPass time, 0: none
        TTransferDrop::TReason reason;
        int packetsIn;
        const char* error;
    };
    const Case cases[] = {
        {"new announcement", {TCanFrame(0x18ECFF00, cm4, 0, 200000)}, 0, TTransferDrop::drNewAnnouncement, 1, ""},
        {"wrong sequence", {TCanFrame(0x18EBFF00, Frame8{3}, 0, 200000)}, 0, TTransferDrop::drPacketError, 1,
         "multipacket index error"},
        {"past the end", {TCanFrame(0x18EBFF00, Frame8{2}, 0, 200000), TCanFrame(0x18EBFF00, Frame8{3}, 0, 300000),
                          TCanFrame(0x18EBFF00, Frame8{4, 0, 0, 0, 1, 0, 0, 0}, 0, 400000)},
         0, TTransferDrop::drPacketError, 3, "last multipacket not filled with FF"},
        {"timeout", {}, 100000 + 750001, TTransferDrop::drTimeout, 1, ""},
        {"end of pass", {}, -1, TTransferDrop::drEndOfPass, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TCanHighDB q;
        q.AddFrame(TCanFrame(0x18ECFF00, cm4, 0, 0));
        q.AddFrame(TCanFrame(0x18EBFF00, dt1, 0, 100000));
        for (const TCanFrame& f : c.after) q.AddFrame(f);
        q.ExpireTransfers(100000 + 750000);   // the timeout is not reached yet
        if (c.expireAt > 0) q.ExpireTransfers(c.expireAt);
        if (c.expireAt < 0) q.EndOfPass(500000);
        const std::vector<TTransferDrop> drops = q.TakeDrops();
        ASSERT_EQ(drops.size(), 1u);
        EXPECT_EQ(drops[0].Reason, c.reason);
        EXPECT_EQ(drops[0].SourceAddress, 0);
        EXPECT_EQ(drops[0].Pgn, 0xFEECu);
        EXPECT_EQ(drops[0].Packets, 4);
        EXPECT_EQ(drops[0].PacketsIn, c.packetsIn);
        EXPECT_EQ(drops[0].Error, c.error);
        EXPECT_TRUE(q.TakeDrops().empty());
        // Nothing of the dropped transfer is left to send; a new announcement in the
        // "new announcement" case is a transfer of its own.
        EXPECT_EQ(q.Count(), c.reason == TTransferDrop::drNewAnnouncement ? 1 : 0);
    }
}

TEST(TCanHighDB, RefusedAnnouncementIsNotedAndQueuesNothing)
{
    TCanHighDB q;
    q.AddFrame(TCanFrame(0x18ECFF05, Frame8{0x20, 0x05, 0, 1, 0xFF, 0xEC, 0xFE, 0}, 0, 300));
    EXPECT_EQ(q.Count(), 0);
    const std::vector<TTransferDrop> drops = q.TakeDrops();
    ASSERT_EQ(drops.size(), 1u);
    EXPECT_EQ(drops[0].Reason, TTransferDrop::drBadAnnouncement);
    EXPECT_EQ(drops[0].Error, "multipacket length <=8");
    EXPECT_EQ(drops[0].Describe(), "source address 05, announcement at 0.0003 s refused: multipacket length <=8");
    EXPECT_THROW(q.AddFrame(TCanFrame(0x20000000, {}, 0, 0)), TBaseError);
}

TEST(TCanHighDB, NextDueTimeAndClear)
{
    TCanHighDB q;
    EXPECT_EQ(q.NextDueTime(), INT64_MAX);
    q.AddCanHigh(Single(0x18FEE900, 5000));
    q.AddCanHigh(Single(0x18FEFC00, 1000));
    EXPECT_EQ(q.NextDueTime(), 1000);
    EXPECT_EQ(q.GetNextFrame(1000).Id, 0x18FEFC00u);
    EXPECT_EQ(q.NextDueTime(), 5000);
    q.AddCanHigh(Single(0x18FEF100, 0));
    EXPECT_TRUE(q.GetNextFrame(0).Id == 0x18FEF100u);
    // A replayed transfer waiting for its next packet has nothing due.
    q.Clear();
    q.AddFrame(TCanFrame(0x18ECFF00, Frame8{0x20, 0x09, 0x00, 0x02, 0xFF, 0xEC, 0xFE, 0x00}, 0, 0));
    EXPECT_EQ(q.GetNextFrame(0).Id, 0x18ECFF00u);
    EXPECT_EQ(q.NextDueTime(), INT64_MAX);
    q.Clear();
    EXPECT_EQ(q.Count(), 0);
    EXPECT_TRUE(q.GetNextFrame(INT64_MAX).IsNone());
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
