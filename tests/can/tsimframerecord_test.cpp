#include "can/sim/tsimframerecord.h"

#include <gtest/gtest.h>

TEST(TSimFrameRecord, LaysTheFrameOutLittleEndianIn24Bytes)
{
    const TCanFrame frame(0x18FEF100u, {1, 2, 3, 4, 5, 6, 7, 8}, 8, 0x0102);
    const TSimFrameRecord::Bytes expected{0x00, 0xF1, 0xFE, 0x18, 1, 2, 3, 4, 5, 6, 7, 8,
                                          8, 0, 0, 0, 0x02, 0x01, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(TSimFrameRecord::Encode(frame), expected);
    EXPECT_EQ(TSimFrameRecord::Decode(expected), frame);
}

TEST(TSimFrameRecord, NegativeTimeAndFullIdentifierSurviveTheRoundTrip)
{
    const TCanFrame frame(0xFFFFFFFEu, {0xFF, 0, 0x80, 0x7F, 0, 0, 0, 0x01}, 0, -2);
    const TSimFrameRecord::Bytes bytes = TSimFrameRecord::Encode(frame);
    EXPECT_EQ(bytes[16], 0xFE);
    EXPECT_EQ(bytes[23], 0xFF);
    EXPECT_EQ(TSimFrameRecord::Decode(bytes), frame);
}

TEST(TSimFrameRecord, ReceiverIgnoresThePadding)
{
    TSimFrameRecord::Bytes bytes = TSimFrameRecord::Encode(TCanFrame(0x0CF00400u, {}, 8, 1000));
    bytes[13] = 0xAA;
    bytes[14] = 0x55;
    bytes[15] = 0xFF;
    EXPECT_EQ(TSimFrameRecord::Decode(bytes), TCanFrame(0x0CF00400u, {}, 8, 1000));
}
