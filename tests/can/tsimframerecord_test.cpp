#include "can/sim/tsimframerecord.h"

#include <gtest/gtest.h>

namespace {

using Bytes = TSimFrameRecord::Bytes;

struct TRecordCase {
    const char* What;
    TCanFrame Frame;
    Bytes Record;
};

}  // namespace

TEST(TSimFrameRecord, WritesLengthAndIdentifierKindAndReadsThemBack)
{
    const TRecordCase cases[] = {
        {"extended, 8 bytes",
         TCanFrame(0x18FEF100u, {1, 2, 3, 4, 5, 6, 7, 8}, 8, 0x0102),
         {0x00, 0xF1, 0xFE, 0x18, 1, 2, 3, 4, 5, 6, 7, 8, 8, 0x02, 0, 0, 0x02, 0x01, 0, 0, 0, 0, 0, 0}},
        {"a J1939 request, 3 bytes",
         TCanFrame(0x18EA00F9u, {0xE5, 0xFE, 0x00}, 3, 0),
         {0xF9, 0x00, 0xEA, 0x18, 0xE5, 0xFE, 0x00, 0, 0, 0, 0, 0, 3, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"11-bit, 3 bytes",
         TCanFrame(0x123u, {0xAA, 0xBB, 0xCC}, 3, 0, false),
         {0x23, 0x01, 0, 0, 0xAA, 0xBB, 0xCC, 0, 0, 0, 0, 0, 3, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"empty frame",
         TCanFrame(0x18FECA00u, {}, 0, 1),
         {0x00, 0xCA, 0xFE, 0x18, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x02, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}},
        {"negative time",
         TCanFrame(0x1FFFFFFEu, {0xFF, 0, 0x80, 0, 0, 0, 0, 0}, 8, -2),
         {0xFE, 0xFF, 0xFF, 0x1F, 0xFF, 0, 0x80, 0, 0, 0, 0, 0, 8, 0x02, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const TRecordCase& c : cases) {
        EXPECT_EQ(TSimFrameRecord::Encode(c.Frame), c.Record) << c.What;
        EXPECT_TRUE(TSimFrameRecord::Valid(c.Record)) << c.What;
        EXPECT_EQ(TSimFrameRecord::Decode(c.Record), c.Frame) << c.What;
    }
}

TEST(TSimFrameRecord, BytesPastTheLengthAreNotSentNorTaken)
{
    const TCanFrame frame(0x18EA00F9u, {0xE5, 0xFE, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 3, 0);
    const Bytes record = TSimFrameRecord::Encode(frame);
    for (size_t i = 7; i < 12; ++i) EXPECT_EQ(record[i], 0) << i;
    Bytes noisy = record;
    noisy[8] = 0x77;
    EXPECT_EQ(TSimFrameRecord::Decode(noisy).Data, (std::array<uint8_t, 8>{0xE5, 0xFE, 0x00}));
}

TEST(TSimFrameRecord, RecordsWithoutFlagsAreExtendedEightByteFramesWhateverTheirDlcByte)
{
    // A peer of the format before flags: padding 0, Dlc byte 0 or 8.
    for (uint8_t dlcByte : {uint8_t{0}, uint8_t{8}}) {
        Bytes old{0x00, 0xF1, 0xFE, 0x18, 1, 2, 3, 4, 5, 6, 7, 8, dlcByte, 0, 0, 0, 0x10, 0, 0, 0, 0, 0, 0, 0};
        EXPECT_TRUE(TSimFrameRecord::Valid(old));
        EXPECT_EQ(TSimFrameRecord::Decode(old), TCanFrame(0x18FEF100u, {1, 2, 3, 4, 5, 6, 7, 8}, 8, 16))
            << int(dlcByte);
    }
}

TEST(TSimFrameRecord, RecordsNoSenderWritesAreNotValid)
{
    const Bytes good = TSimFrameRecord::Encode(TCanFrame(0x18FEF100u, {1}, 8, 0));
    struct TBad {
        const char* What;
        size_t At;
        uint8_t Value;
    } const bad[] = {
        {"length 9", 12, 9},
        {"length 15", 12, 15},
        {"unknown flag 0x04", 13, 0x06},
        {"unknown flag 0x80", 13, 0x82},
        {"identifier above 29 bits", 3, 0x20},
    };
    for (const TBad& b : bad) {
        Bytes record = good;
        record[b.At] = b.Value;
        EXPECT_FALSE(TSimFrameRecord::Valid(record)) << b.What;
    }
    // An 11-bit frame whose identifier needs more than 11 bits.
    EXPECT_FALSE(TSimFrameRecord::Valid(TSimFrameRecord::Encode(TCanFrame(0x800u, {}, 0, 0, false))));
    // The record of "no frame" (identifier 0xFFFFFFFF) is not a frame either.
    EXPECT_FALSE(TSimFrameRecord::Valid(TSimFrameRecord::Encode(TCanFrame())));
    // The last two padding bytes carry no meaning.
    Bytes padded = good;
    padded[14] = 0xAA;
    padded[15] = 0x55;
    EXPECT_TRUE(TSimFrameRecord::Valid(padded));
}
