#include "fms/tcanhigh.h"

#include "support/tbaseerror.h"

#include "tests/errorof.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
using Frame8 = std::array<uint8_t, 8>;

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

void SetBytes(TCanHigh& m, const Bytes& v, uint16_t startByte = 0)
{
    m.SetMV(v, uint16_t(startByte * 8), uint16_t(v.size() * 8));
}

// The 24-byte vehicle identification, sent at 12 ms with priority 6 from address 0.
TCanHigh Vin()
{
    TCanHigh m(0x00FEEC00);
    SetBytes(m, BytesOf("VehicleIdentNo1234567890"));
    m.SetPriority(6);
    m.SetSourceAddress(0x00);
    m.Time = 12000;
    return m;
}

}  // namespace

TEST(TCanHigh, AddressAndPriorityGoIntoBothIdentifiers)
{
    TCanHigh m(0x00FEF100);
    EXPECT_EQ(m.Length(), 8);
    EXPECT_EQ(m.TxId, 0x00FEF100u);
    m.SetSourceAddress(0x27);
    m.SetPriority(6);
    EXPECT_EQ(m.Id, 0x18FEF127u);
    EXPECT_EQ(m.TxId, 0x18FEF127u);
    m.SetPriority(9);   // only the low three bits count
    EXPECT_EQ(m.Id, 0x04FEF127u);

    m.SetLength(24);
    EXPECT_EQ(m.Length(), 24);
    EXPECT_EQ(m.TxId, 0x04EBFF27u);
    EXPECT_EQ(m.Data()[23], 0xFF);
    m.SetLength(12);   // never shrinks
    EXPECT_EQ(m.Length(), 24);
    ExpectError([&] { m.SetLength(256); }, "TCanHigh::SetLength", "length>255 not supported");
}

TEST(TCanHigh, SetMVPlacesBitsInIntelOrder)
{
    TCanHigh m(0x00F00400);
    // 0.125 rpm per bit: 1500 rpm is raw 12000 (0x2EE0), bytes 3..4; the rest stays 0xFF.
    m.SetMV(Bytes{0xE0, 0x2E, 0, 0, 0, 0, 0, 0}, 24, 16);
    EXPECT_EQ(m.Received, 1);
    EXPECT_EQ(m.Data(), (Bytes{0xFF, 0xFF, 0xFF, 0xE0, 0x2E, 0xFF, 0xFF, 0xFF}));

    m.SetMV(Bytes{0x01}, 2, 2);   // 01 into bits 2..3 of byte 0
    EXPECT_EQ(m.Data()[0], 0xF7);
    m.SetMV(Bytes{0x02}, 6, 3);   // 010: bits 6..7 of byte 0 become 10, bit 0 of byte 1 becomes 0
    EXPECT_EQ(m.Data()[0], 0xB7);
    EXPECT_EQ(m.Data()[1], 0xFE);
    m.SetMV(Bytes{0x05}, 60, 4);  // high half of the last byte, nothing read past it
    EXPECT_EQ(m.Data()[7], 0x5F);
    EXPECT_EQ(m.Length(), 8);
    // Later signals of the same cycle do not refill the message.
    EXPECT_EQ(m.Data()[3], 0xE0);

    TCanHigh wide(0x00FEF100);
    wide.SetMV(Bytes{0xEF, 0xCD, 0xAB, 0x00}, 4, 24);   // the widest unaligned field
    EXPECT_EQ(wide.Data(), (Bytes{0xFF, 0xDE, 0xBC, 0xFA, 0xFF, 0xFF, 0xFF, 0xFF}));
    ExpectError([&] { wide.SetMV(Bytes{0, 0, 0, 0}, 4, 25); }, "TCanHigh::SetMV", "Bitlen>56 not supportet");
    ExpectError([&] { wide.SetMV(Bytes{0, 0, 0, 0}, 0, 25); }, "TCanHigh::SetMV", "Bitlen>56 not supportet");
    wide.SetMV(Bytes{1, 2, 3, 4}, 8, 32);   // byte-aligned fields may be wider
    EXPECT_EQ(wide.Data(), (Bytes{0xFF, 1, 2, 3, 4, 0xFF, 0xFF, 0xFF}));
    ExpectError([&] { wide.SetMV(Bytes{0}, 2040, 8); }, "TCanHigh::SetLength", "length>255 not supported");
}

TEST(TCanHigh, SetMVGrowsTheMessageAndMarksEveryPacketReady)
{
    TCanHigh m(0x00FEEC00);
    SetBytes(m, Bytes(17, 0x30));
    EXPECT_EQ(m.Length(), 17);
    EXPECT_EQ(m.Packets(), 3);
    EXPECT_EQ(m.Received, 4);
    EXPECT_EQ(m.TxId, 0x00EBFF00u);
    EXPECT_TRUE(m.IsComplete());

    // A message grown before its first signal is just as ready.
    TCanHigh pre(0x00FEEC00);
    pre.SetLength(24);
    SetBytes(pre, Bytes{0x41});
    EXPECT_EQ(pre.Received, 5);
    EXPECT_EQ(pre.Data()[1], 0xFF);
    int frames = 0;
    while (!pre.GetFrame(1000000).IsNone()) ++frames;
    EXPECT_EQ(frames, 5);
    EXPECT_TRUE(pre.IsSent());
}

TEST(TCanHigh, SingleFrameIsSentOnceAtItsTime)
{
    TCanHigh m(0x18FEF100);
    m.Time = 5000;
    EXPECT_TRUE(m.GetFrame(4999).IsNone());
    EXPECT_FALSE(m.IsSent());
    const TCanFrame f = m.GetFrame(5000);
    EXPECT_EQ(f, TCanFrame(0x18FEF100, Frame8{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 8, 5000));
    EXPECT_TRUE(m.IsSent());
    EXPECT_TRUE(m.GetFrame(6000).IsNone());

    TCanHigh unknown;
    EXPECT_FALSE(unknown.IsComplete());
    EXPECT_FALSE(unknown.IsSent());
}

TEST(TCanHigh, VinOf24BytesIsAnnouncedAndSentInFourPackets)
{
    TCanHigh m = Vin();
    EXPECT_EQ(m.Packets(), 4);
    EXPECT_TRUE(m.GetFrame(11999).IsNone());

    const TCanFrame cm = m.GetFrame(12000);
    EXPECT_EQ(cm, TCanFrame(0x18ECFF00, Frame8{0x20, 0x18, 0x00, 0x04, 0xFF, 0xEC, 0xFE, 0x00}, 8, 12000));
    EXPECT_EQ(cm.ToString(lfFixedId), "000.0120 18ECFF0020180004FFECFE00");
    EXPECT_TRUE(m.GetFrame(111999).IsNone());

    const Frame8 dt[4] = {
        {0x01, 'V', 'e', 'h', 'i', 'c', 'l', 'e'},
        {0x02, 'I', 'd', 'e', 'n', 't', 'N', 'o'},
        {0x03, '1', '2', '3', '4', '5', '6', '7'},
        {0x04, '8', '9', '0', 0xFF, 0xFF, 0xFF, 0xFF},
    };
    for (int k = 1; k <= 4; ++k) {
        const int64_t t = 12000 + k * 100000;
        EXPECT_FALSE(m.IsSent());
        EXPECT_EQ(m.GetFrame(t), TCanFrame(0x18EBFF00, dt[k - 1], 8, t)) << "packet " << k;
    }
    EXPECT_EQ(TCanFrame(0x18EBFF00, dt[0], 8, 112000).ToString(lfFixedId), "000.1120 18EBFF000156656869636C65");
    EXPECT_TRUE(m.IsSent());
    EXPECT_TRUE(m.GetFrame(10000000).IsNone());

    // A late caller gets the frames one per call, each with its own time.
    TCanHigh late = Vin();
    for (int k = 0; k <= 4; ++k) EXPECT_EQ(late.GetFrame(5000000).Time, 12000 + k * 100000);
}

TEST(TCanHigh, NineByteMessageNeedsTwoPackets)
{
    TCanHigh m(0x00FEE600);
    SetBytes(m, Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9});
    EXPECT_EQ(m.Packets(), 2);
    EXPECT_EQ(m.GetFrame(0), TCanFrame(0x00ECFF00, Frame8{0x20, 0x09, 0x00, 0x02, 0xFF, 0xE6, 0xFE, 0x00}, 8, 0));
    EXPECT_EQ(m.GetFrame(100000), TCanFrame(0x00EBFF00, Frame8{1, 1, 2, 3, 4, 5, 6, 7}, 8, 100000));
    EXPECT_EQ(m.GetFrame(200000), TCanFrame(0x00EBFF00, Frame8{2, 8, 9, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 8, 200000));
    EXPECT_TRUE(m.IsSent());
}

TEST(TCanHigh, AddRebuildsSingleFramesAndTransfers)
{
    TCanHigh single;
    const TCanFrame f(0x18FEF127, Frame8{0xF3, 0x15, 0, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF}, 0, 7000);
    EXPECT_TRUE(single.Add(f));
    EXPECT_EQ(single.Id, 0x18FEF127u);
    EXPECT_EQ(single.TxId, 0x18FEF127u);
    EXPECT_EQ(single.Time, 7000);
    EXPECT_EQ(single.Data(), Bytes(f.Data.begin(), f.Data.end()));
    EXPECT_TRUE(single.IsComplete());
    EXPECT_FALSE(single.Add(TCanFrame(0x18FEE927, {}, 0, 8000)));

    // An announcement with size 0x0109: only the low byte counts.
    TCanHigh bam;
    EXPECT_TRUE(bam.Add(TCanFrame(0x1CECFF27, Frame8{0x20, 0x09, 0x01, 0x02, 0xFF, 0xE6, 0xFE, 0x01}, 0, 1000)));
    EXPECT_EQ(bam.Id, 0x01FEE600u);
    EXPECT_EQ(bam.TxId, 0x1CEBFF27u);
    EXPECT_EQ(bam.Length(), 9);
    EXPECT_EQ(bam.Received, 1);
    EXPECT_EQ(bam.Time, 1000);
    EXPECT_FALSE(bam.Add(f));

    // Frames go out again as their packets arrive.
    EXPECT_EQ(bam.GetFrame(1000).Id, 0x1CECFF27u);
    EXPECT_TRUE(bam.GetFrame(500000).IsNone());
    EXPECT_TRUE(bam.Add(TCanFrame(0x1CEBFF27, Frame8{1, 1, 2, 3, 4, 5, 6, 7}, 0, 2000)));
    EXPECT_EQ(bam.GetFrame(500000), TCanFrame(0x1CEBFF27, Frame8{1, 1, 2, 3, 4, 5, 6, 7}, 8, 101000));
    EXPECT_FALSE(bam.IsComplete());
    EXPECT_TRUE(bam.Add(TCanFrame(0x1CEBFF27, Frame8{2, 8, 9, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0, 3000)));
    EXPECT_TRUE(bam.IsComplete());
    EXPECT_EQ(bam.Data(), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(TCanHigh, AddRefusesBrokenTransfers)
{
    const char* add = "TCanHigh::Add";
    const TCanFrame cm9(0x18ECFF00, Frame8{0x20, 0x09, 0x00, 0x02, 0xFF, 0xE6, 0xFE, 0x00}, 0, 0);
    auto dt = [](Frame8 d) { return TCanFrame(0x18EBFF00, d, 0, 0); };

    TCanHigh short8;
    ExpectError([&] { short8.Add(TCanFrame(0x18ECFF00, Frame8{0x20, 0x08, 0, 0x02, 0xFF, 0xE6, 0xFE, 0}, 0, 0)); },
                add, "multipacket length <=8");
    EXPECT_EQ(short8.Id, TCanFrame::NoId);
    EXPECT_EQ(short8.Length(), 8);

    TCanHigh m;
    m.Add(cm9);
    ExpectError([&] { m.Add(dt({2, 8, 9, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})); }, add, "multipacket index error");
    EXPECT_EQ(m.Received, 1);
    EXPECT_TRUE(m.Add(dt({1, 1, 2, 3, 4, 5, 6, 7})));
    ExpectError([&] { m.Add(dt({3, 0, 0, 0, 0, 0, 0, 0})); }, add, "multipacket index error");
    EXPECT_EQ(m.Received, 1);   // waits for packet 1 again
    EXPECT_TRUE(m.Add(dt({1, 1, 2, 3, 4, 5, 6, 7})));

    // The bytes within the length are taken before the padding is found wrong.
    ExpectError([&] { m.Add(dt({2, 8, 9, 0xFF, 0xFF, 0xFF, 0x00, 0xFF})); }, add,
                "last multipacket not filled with FF");
    EXPECT_EQ(m.Data()[8], 9);
    EXPECT_EQ(m.Received, 2);
    EXPECT_TRUE(m.Add(dt({2, 8, 9, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})));
    ExpectError([&] { m.Add(dt({3, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})); }, add,
                "multipacket index overflow");

    // A grown sending-side message (Received 0) does not take a packet 0.
    TCanHigh grown(0x00FEEC00);
    grown.SetLength(24);
    ExpectError([&] { grown.Add(TCanFrame(0x00EBFF00, Frame8{0, 1, 2, 3, 4, 5, 6, 7}, 0, 0)); }, add,
                "multipacket index error");
}
