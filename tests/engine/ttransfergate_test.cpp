#include "engine/ttransfergate.h"

#include "fms/tcanhighdb.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A message of length bytes for PGN pgn from source address 0, priority 6, due at ms.
TCanHigh Message(uint32_t pgn, int length, int64_t ms)
{
    TCanHigh m(pgn << 8);
    std::vector<uint8_t> bytes(static_cast<size_t>(length), 0x41);
    m.SetMV(bytes, 0, static_cast<uint16_t>(8 * length));
    m.SetSourceAddress(0x00);
    m.SetPriority(6);
    m.Time = ms * 1000;
    return m;
}

struct TLeft {
    int64_t Ms;
    TCanFrame Frame;
};

class TTransferGateTest : public ::testing::Test {
protected:
    // Steps the queue one millisecond at a time as the tick does, up to ms.
    void RunTo(int64_t ms)
    {
        for (; now <= ms; ++now) {
            const TCanFrame f = queue.GetNextFrame(now * 1000);
            if (f.IsNone()) continue;
            gate.Sent(f, now * 1000, queue);
            left.push_back({now, f});
        }
    }
    // The milliseconds at which frames of identifier id left.
    std::vector<int64_t> At(uint32_t id) const
    {
        std::vector<int64_t> ms;
        for (const TLeft& l : left)
            if (l.Frame.Id == id) ms.push_back(l.Ms);
        return ms;
    }

    TCanHighDB queue;
    TTransferGate gate;
    std::vector<TLeft> left;
    int64_t now = 0;
};

TEST_F(TTransferGateTest, ASecondTransferStartsAfterTheLastPacketOfTheFirst)
{
    // 24 bytes: announcement at 0, packets at 100..400 ms. 9 bytes due at 50 ms: it
    // waits for the first one's packet 4, then starts the next millisecond.
    gate.Queue(Message(0xFEEC, 24, 0), queue);
    gate.Queue(Message(0xFE6B, 9, 50), queue);
    EXPECT_EQ(gate.Waiting(), 1);
    RunTo(1000);

    std::vector<int64_t> announcements;
    for (const TLeft& l : left)
        if (l.Frame.Id == 0x18ECFF00) announcements.push_back(l.Ms);
    EXPECT_EQ(announcements, (std::vector<int64_t>{0, 401}));
    EXPECT_EQ(At(0x18EBFF00), (std::vector<int64_t>{100, 200, 300, 400, 501, 601}));
    EXPECT_EQ(left[5].Frame.Data[5], 0x6B) << "the second announcement is the one that waited";
    EXPECT_EQ(left[5].Frame.Time, 401000) << "its time moved, so it does not count as late";
    EXPECT_FALSE(gate.Busy());
    EXPECT_EQ(queue.Count(), 0);
}

TEST_F(TTransferGateTest, WaitingTransfersKeepTheirOrderAndLateOnesTheirTime)
{
    gate.Queue(Message(0xFEEC, 9, 0), queue);     // packets at 100, 200
    gate.Queue(Message(0xFE6B, 9, 10), queue);    // waits: 201, 301, 401
    gate.Queue(Message(0xFEEC, 9, 900), queue);   // waits, but is not due before 900
    EXPECT_EQ(gate.Waiting(), 2);
    RunTo(2000);
    std::vector<int64_t> announcements;
    for (const TLeft& l : left)
        if (l.Frame.Id == 0x18ECFF00) announcements.push_back(l.Ms);
    EXPECT_EQ(announcements, (std::vector<int64_t>{0, 201, 900}));
}

}  // namespace
