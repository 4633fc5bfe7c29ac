#include "sim/tmatrix.h"

#include "support/tbaseerror.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// The engine torque map: 8 engine-speed columns by 5 accelerator rows.
constexpr double Torque[5][8] = {
    {10, 0, -20, -30, -40, -50, -55, -60},
    {15, 20, 30, 28, 0, -15, -30, -50},
    {20, 40, 55, 60, 50, 35, 0, -20},
    {25, 50, 60, 70, 82, 80, 65, -8},
    {30, 50, 75, 90, 99, 90, 75, -8},
};
constexpr const char* TorqueText =
    "Nx 8 Ny 5 10   0 -20 -30 -40 -50 -55 -60 15  20  30  28   0 -15 -30 -50 20  40  55  60  50"
    "  35   0 -20 25  50  60  70  82  80  65  -8 30  50  75  90  99  90  75  -8";

}  // namespace

TEST(TMatrix, SizeBelowTwoIsRaisedAndStartsAtZero)
{
    TMatrix m(1, -5);
    EXPECT_EQ(m.Nx(), 2);
    EXPECT_EQ(m.Ny(), 2);
    std::vector<double> out(4, 7.0);
    EXPECT_EQ(m.CopyTo(out), 4);
    EXPECT_EQ(out, std::vector<double>(4, 0.0));
}

TEST(TMatrix, ResamplingHitsEverySourcePointExactly)
{
    TMatrix m(101, 101);
    ASSERT_FALSE(m.LoadFromText(TorqueText));
    for (int c = 0; c < 8; ++c) {
        for (int r = 0; r < 5; ++r) {
            EXPECT_DOUBLE_EQ(m.At(c * 100 / 7, r * 25), Torque[r][c]) << "c=" << c << " r=" << r;
        }
    }
}

TEST(TMatrix, ResamplingInterpolatesRowsAndColumnsLinearly)
{
    TMatrix m(101, 101);
    ASSERT_FALSE(m.LoadFromText(TorqueText));
    // Halfway between source columns 0 (10) and 1 (0) on column 14, row 0.
    EXPECT_DOUBLE_EQ(m.At(7, 0), 5.0);
    // Row 10 lies 0.4 of the way from accelerator row 0 (10) to row 1 (15).
    EXPECT_DOUBLE_EQ(m.At(0, 10), 12.0);
    // Last stretch, columns 85 (75) to 100 (-8) on row 100: column 90 is a third of it.
    EXPECT_NEAR(m.At(90, 100), 75.0 - 83.0 / 3.0, 1e-12);
    // Both directions: row 10 at column 7: columns 0 and 14 at row 10 are 12 and 8.
    EXPECT_NEAR(m.At(7, 10), 10.0, 1e-12);
}

TEST(TMatrix, StorageIsRowMajor)
{
    TMatrix m(3, 2);
    ASSERT_FALSE(m.LoadFromText("Nx 3 Ny 2 1 2 3 4 5 6"));
    std::vector<double> out(6);
    EXPECT_EQ(m.CopyTo(out), 6);
    EXPECT_EQ(out, (std::vector<double>{1, 2, 3, 4, 5, 6}));
    EXPECT_DOUBLE_EQ(m.At(2, 0), 3.0);
    EXPECT_DOUBLE_EQ(m.At(0, 1), 4.0);
}

TEST(TMatrix, MissingNumbersReadAsZero)
{
    TMatrix m(2, 2);
    ASSERT_FALSE(m.LoadFromText("Nx 2 Ny 2 1 2 3"));
    EXPECT_DOUBLE_EQ(m.At(0, 1), 3.0);
    EXPECT_DOUBLE_EQ(m.At(1, 1), 0.0);
}

TEST(TMatrix, MalformedTextFailsAndLeavesTheTable)
{
    for (const char* text : {"Nx 1 Ny 5 1 2 3 4 5", "Nx 8 Ny 1 1 2 3 4 5 6 7 8", "nx 2 Ny 2 1 2 3 4",
                             "Nx 2 NY 2 1 2 3 4", "", "Nx 2", "Nx x Ny 2 1 2 3 4"}) {
        TMatrix m(2, 2);
        ASSERT_FALSE(m.LoadFromText("Nx 2 Ny 2 1 2 3 4"));
        EXPECT_TRUE(m.LoadFromText(text)) << text;
        EXPECT_DOUBLE_EQ(m.At(1, 1), 4.0) << text;
    }
}

TEST(TMatrix, CopyToRefusesTooSmallDestination)
{
    TMatrix m(3, 3);
    std::vector<double> out(8);
    EXPECT_THROW(m.CopyTo(out), TBaseError);
}
