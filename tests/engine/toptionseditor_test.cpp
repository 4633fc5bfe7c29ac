#include "engine/toptionseditor.h"

#include "fms/tbusfmsstandard.h"

#include <gtest/gtest.h>

namespace {

const std::vector<bool> kAll(22, true);

TEST(TOptionsEditor, SourceAddressIsAHexByte)
{
    EXPECT_EQ(TOptionsEditor::Apply("xFE", "6", kAll).Options.SourceAddress, 254);
    EXPECT_EQ(TOptionsEditor::Apply("1f", "6", kAll).Options.SourceAddress, 0x1F);
    const TOptionsApplied outOfRange = TOptionsEditor::Apply("x100", "6", kAll);
    EXPECT_EQ(outOfRange.Options.SourceAddress, 0);
    EXPECT_EQ(outOfRange.SourceAddressText, TAString("x00"));
    EXPECT_EQ(TOptionsEditor::Apply("", "6", kAll).SourceAddressText, TAString("x00"));
    EXPECT_FALSE(TOptionsEditor::Apply("x01", "6", kAll).SourceAddressText.has_value());

    EXPECT_TRUE(TOptionsEditor::SourceAddressTextOk("x1F"));
    EXPECT_TRUE(TOptionsEditor::SourceAddressTextOk("1f"));
    EXPECT_FALSE(TOptionsEditor::SourceAddressTextOk("x100"));
    EXPECT_FALSE(TOptionsEditor::SourceAddressTextOk("g"));
    EXPECT_EQ(TOptionsEditor::SourceAddressText(0xA), "x0A");
}

TEST(TOptionsEditor, PriorityTakesTheLowByteOfTheLeadingInteger)
{
    EXPECT_EQ(TOptionsEditor::Apply("x00", "3", kAll).Options.Priority, 3);
    EXPECT_EQ(TOptionsEditor::Apply("x00", "256", kAll).Options.Priority, 0);
    EXPECT_FALSE(TOptionsEditor::Apply("x00", "256", kAll).PriorityText.has_value());
    const TOptionsApplied minusOne = TOptionsEditor::Apply("x00", "-1", kAll);
    EXPECT_EQ(minusOne.Options.Priority, 6);
    EXPECT_EQ(minusOne.PriorityText, TAString("6"));
    EXPECT_EQ(TOptionsEditor::Apply("x00", "8", kAll).Options.Priority, 6);
    EXPECT_EQ(TOptionsEditor::Apply("x00", "5abc", kAll).Options.Priority, 5);
    EXPECT_EQ(TOptionsEditor::Apply("x00", "abc", kAll).Options.Priority, 0);   // no digits: 0
    EXPECT_EQ(TOptionsEditor::Apply("x00", "99999999999999999999", kAll).Options.Priority, 6);

    EXPECT_TRUE(TOptionsEditor::PriorityTextOk("7"));
    EXPECT_FALSE(TOptionsEditor::PriorityTextOk("8"));
    EXPECT_FALSE(TOptionsEditor::PriorityTextOk("-1"));
    EXPECT_TRUE(TOptionsEditor::PriorityTextOk(""));   // no digits reads as 0
}

TEST(TOptionsEditor, LeavingAGroupOutIsNotConform)
{
    std::vector<bool> flags = kAll;
    EXPECT_FALSE(TOptionsEditor::Apply("x00", "6", flags).NotConform);
    flags[3] = false;
    const TOptionsApplied applied = TOptionsEditor::Apply("x00", "6", flags);
    EXPECT_TRUE(applied.NotConform);
    EXPECT_EQ(applied.Options.FrameFlags[3], 0);
    EXPECT_EQ(applied.Options.FrameFlags[2], 1);
}

TEST(TOptionsEditor, FrameItemsListTheCatalogueGroups)
{
    TBusFmsStandard catalogue("00.02");
    const std::vector<TAString> items = TOptionsEditor::FrameItems(catalogue);
    ASSERT_EQ(items.size(), 22u);
    int ccvs = TOptionsEditor::FrameIndexOfPgn(catalogue, 0xFEF1);
    ASSERT_GE(ccvs, 0);
    EXPECT_EQ(items[size_t(ccvs)], "xxFEF1  Cruise Control/Vehicle Speed");
    EXPECT_EQ(TOptionsEditor::FrameIndexOfPgn(catalogue, 0x1234), -1);
}

}  // namespace
