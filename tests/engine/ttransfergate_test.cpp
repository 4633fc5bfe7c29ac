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

// Answers on the wire's clock beside the scheduled transfers of the send queue (here
// both clocks are one: a frame's Time is when it is due on the wire). Each millisecond
// the queue gives its frame, then the answers theirs. Expected: the milliseconds of the
// announcements (scheduled "S", answers "A") and of the last packets.
TEST_F(TTransferGateTest, AnswersStartAtOnceOrAtTheNextOpening)
{
    struct TItem {
        bool Answer;
        uint32_t Pgn;
        int Length;
        int64_t Ms;   // due (scheduled) or arrived (answer)
    };
    const struct TCase {
        const char* What;
        std::vector<TItem> Items;
        std::vector<std::pair<char, int64_t>> Announced;
    } cases[] = {
        {"an answer with nothing under way starts when it arrives", {{true, 0xFEEC, 24, 30}}, {{'A', 30}}},
        {"an answer waits for the scheduled transfer in the queue, then starts 1 ms after its last packet",
         {{false, 0xFE6B, 9, 0}, {true, 0xFEEC, 24, 50}},
         {{'S', 0}, {'A', 201}}},
        {"a scheduled transfer released while an answer is planned starts 10 ms after the answer's last packet",
         {{true, 0xFEEC, 24, 0}, {false, 0xFE6B, 9, 100}},
         {{'A', 0}, {'S', 410}}},
        {"a scheduled transfer that starts after the answer anyway keeps its time",
         {{true, 0xFEEC, 9, 0}, {false, 0xFE6B, 9, 500}},
         {{'A', 0}, {'S', 500}}},
        {"answers one after the other", {{true, 0xFEEC, 9, 0}, {true, 0xFE6B, 16, 50}}, {{'A', 0}, {'A', 201}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.What);
        gate.Clear();
        TCanHighDB q;
        std::vector<std::pair<char, int64_t>> announced;
        std::vector<TCanFrame> onWire;
        size_t next = 0;
        for (int64_t ms = 0; ms <= 1500; ++ms) {
            // Items are handed over in the millisecond they name (a scheduled one earlier
            // than its time would be, by the lead, on the real wire; here at its time).
            for (; next < c.Items.size() && c.Items[next].Ms <= ms; ++next) {
                const TItem& it = c.Items[next];
                if (it.Answer)
                    gate.QueueAnswer(Message(it.Pgn, it.Length, it.Ms), it.Ms * 1000);
                else
                    gate.Queue(Message(it.Pgn, it.Length, it.Ms), q);
            }
            const TCanFrame s = q.GetNextFrame(ms * 1000);
            if (!s.IsNone()) {
                gate.Sent(s, ms * 1000, q);
                if (s.Id == 0x18ECFF00) announced.push_back({'S', s.Time / 1000});
                onWire.push_back(s);
            }
            for (TCanFrame a = gate.NextAnswerFrame(ms * 1000); !a.IsNone(); a = gate.NextAnswerFrame(ms * 1000)) {
                EXPECT_EQ(a.Time, ms * 1000) << "handed out in its millisecond";
                if (a.Id == 0x18ECFF00) announced.push_back({'A', a.Time / 1000});
                onWire.push_back(a);
            }
        }
        EXPECT_EQ(announced, c.Announced);
        EXPECT_EQ(gate.AnswersWaiting(), 0);
        EXPECT_FALSE(gate.Busy());
        // On the wire no announcement comes before the last packet of the transfer before it.
        int expected = 0;
        for (const TCanFrame& f : onWire) {
            if (f.Id == 0x18ECFF00) {
                EXPECT_EQ(expected, 0) << "announced at " << f.Time << " with packets still to come";
                expected = f.Data[3];
            } else if (f.Id == 0x18EBFF00 && f.Data[0] == expected) {
                expected = 0;
            }
        }
    }
}

}  // namespace
