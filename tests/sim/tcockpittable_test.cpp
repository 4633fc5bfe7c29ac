#include "sim/tcockpittable.h"

#include "sim/tlkw.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(TCockpitTable, ComboTextGivesItsFirstWordAsBinary)
{
    EXPECT_EQ(TCockpitTable::ComboValue("0110 = 16 h reached"), 6.0);
    EXPECT_EQ(TCockpitTable::ComboValue(""), 0.0);
    EXPECT_EQ(TCockpitTable::ComboValue("000 = Rest"), 0.0);
    EXPECT_EQ(TCockpitTable::ComboValue("011 = Drive"), 3.0);
    EXPECT_EQ(TCockpitTable::ComboValue("0010 = all doors closed"), 2.0);
    // Any character other than "1" counts as 0; leading blanks do not make a word.
    EXPECT_EQ(TCockpitTable::ComboValue("  1x1 = odd"), 5.0);
    EXPECT_EQ(TCockpitTable::ComboValue("= 1"), 0.0);
}

TEST(TCockpitTable, ComboItemsAndTheItemForAValue)
{
    const auto& times = TCockpitTable::ComboItems(TComboList::TimeStates);
    ASSERT_EQ(times.size(), 7u);
    EXPECT_EQ(times[1], "0001 = 15 min bef. 4.5 h");
    EXPECT_EQ(times[6], "0110 = 16 h reached");
    EXPECT_EQ(TCockpitTable::ComboItems(TComboList::WorkingState).back(), "011 = Drive");
    EXPECT_EQ(TCockpitTable::ComboItems(TComboList::DoorPosition).front(), "0000 = at least 1 door is open");
    EXPECT_TRUE(TCockpitTable::ComboItems(TComboList::None).empty());

    EXPECT_EQ(TCockpitTable::ComboIndex(TComboList::TimeStates, 6.7), 6);   // trunc
    EXPECT_EQ(TCockpitTable::ComboIndex(TComboList::TimeStates, 7.0), -1);
    EXPECT_EQ(TCockpitTable::ComboIndex(TComboList::DoorPosition, 2.0), 2);
}

TEST(TCockpitTable, TagsAreUniqueAndTheDoorGridFollowsTheSpnPattern)
{
    std::set<int> tags;
    int untagged = 0;
    for (const TCockpitControl& c : TCockpitTable::Controls()) {
        if (c.Tag == 0) {
            ++untagged;
            continue;
        }
        EXPECT_TRUE(tags.insert(c.Tag).second) << c.Tag;
    }
    EXPECT_EQ(untagged, 6);   // the time and date fields
    // 11 cockpit fields, 12 tachograph, 2 drivers, 1 ambient, 6 time, 6 pressures,
    // 2 door control 1, 31 door control 2, 4 alternators, 3 FMS interface.
    EXPECT_EQ(TCockpitTable::Controls().size(), 78u);

    ASSERT_NE(TCockpitTable::FindTag(3412), nullptr);
    EXPECT_EQ(TCockpitTable::FindTag(3412)->Name, "C_DCL1");
    EXPECT_EQ(TCockpitTable::FindTag(3416)->Name, "C_DCO2");
    EXPECT_EQ(TCockpitTable::FindTag(3416)->ValueName, "DoorOpen2");
    EXPECT_EQ(TCockpitTable::FindTag(3441)->Name, "C_DCE10");
    EXPECT_EQ(TCockpitTable::FindTag(3441)->ValueName, "DoorEnable10");
    EXPECT_EQ(TCockpitTable::FindTag(1613)->Name, "CO_D2Status");
    EXPECT_EQ(TCockpitTable::FindTag(3356)->ValueName, "AltStat4");
    EXPECT_EQ(TCockpitTable::FindTag(0), nullptr);
    EXPECT_EQ(TCockpitTable::FindTag(-1), nullptr);
    EXPECT_EQ(TCockpitTable::FindTag(85), nullptr);
}

TEST(TCockpitTable, AllControlsInAscendingSpnOrderWithTheTimeFieldsAtTheirSpns)
{
    const auto& order = TCockpitTable::InTagOrder();
    ASSERT_EQ(order.size(), TCockpitTable::Controls().size());
    EXPECT_EQ(order.front()->Name, "C_Park");   // 70
    for (size_t i = 1; i < order.size(); ++i) EXPECT_LT(order[i - 1]->Spn, order[i]->Spn);
    // 917 "Tot vehicle dist", then seconds (959) to year (964), then 1087.
    size_t km = 0;
    while (order[km]->Name != "EDKmStand") ++km;
    EXPECT_EQ(order[km + 1]->Name, "E_Sec");
    EXPECT_EQ(order[km + 6]->Name, "E_Year");
    EXPECT_EQ(order[km + 7]->Name, "E_SBraC1");
}

TEST(TCockpitTable, EveryValueNameExistsInTheModelWithTheExtraValues)
{
    TLkw lkw;
    for (const TAString& name : TCockpitTable::ExtraValueNames()) lkw.AddMV(name, 0.0);
    EXPECT_EQ(TCockpitTable::ExtraValueNames().size(), 66u);
    EXPECT_EQ(lkw.Count(), 89);
    for (const TCockpitControl& c : TCockpitTable::Controls()) {
        if (c.Kind == TCockpitKind::Text) continue;
        EXPECT_NE(lkw.GetMV(c.ValueName), TLkw::NoValue) << c.Name.str();
    }
    for (const TCockpitDisplayField& f : TCockpitTable::DisplayFields())
        EXPECT_NE(lkw.GetMV(f.ValueName), TLkw::NoValue) << f.Name.str();
}

TEST(TCockpitTable, WriteBackFormatsWithWidthAndDecimals)
{
    auto text = [](const char* name, double v) {
        return TCockpitTable::WriteBackText(*TCockpitTable::FindName(name), v);
    };
    EXPECT_EQ(text("E_FmsVersion", 0.02), " 0.02");
    EXPECT_EQ(text("E_Sec", 0.0), "0.00");
    EXPECT_EQ(text("E_Day", 9.0), "9.00");
    EXPECT_EQ(text("E_Year", 2009.0), "2009");
    EXPECT_EQ(text("E_WTemp", 15.0), "15");
    EXPECT_EQ(text("E_WPHR", 400.0), "400.0");
    EXPECT_EQ(TCockpitTable::FindName("ETacho")->Width, -1);   // not written back
}

}  // namespace
