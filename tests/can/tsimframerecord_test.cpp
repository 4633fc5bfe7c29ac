#include "can/sim/tsimframerecord.h"

#include <gtest/gtest.h>

TEST(TSimFrameRecord, LittleEndianImageWithPaddingIgnoredOnReading)
{
    const TCanFrame frame(0x18FEF100u, {1, 2, 3, 4, 5, 6, 7, 8}, 8, 0x0102);
    TSimFrameRecord::Bytes bytes{0x00, 0xF1, 0xFE, 0x18, 1, 2, 3, 4, 5, 6, 7, 8,
                                 8, 0, 0, 0, 0x02, 0x01, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(TSimFrameRecord::Encode(frame), bytes);
    bytes[13] = 0xAA;
    bytes[15] = 0x55;
    EXPECT_EQ(TSimFrameRecord::Decode(bytes), frame);

    const TCanFrame negative(0xFFFFFFFEu, {0xFF, 0, 0x80}, 0, -2);   // time FE FF .. FF
    EXPECT_EQ(TSimFrameRecord::Encode(negative)[16], 0xFE);
    EXPECT_EQ(TSimFrameRecord::Decode(TSimFrameRecord::Encode(negative)), negative);
}
