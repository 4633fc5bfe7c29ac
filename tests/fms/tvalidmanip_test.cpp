#include "fms/tvalidmanip.h"

#include "fms/tbusfmsstandard.h"
#include "support/tbaseerror.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Catalogue positions used below.
constexpr int ClutchSwitch = 2;
constexpr int EngineSpeed = 8;
constexpr int Vin = 10;
constexpr int Driver1WorkingState = 16;
constexpr int Driver1TimeRelState = 20;
constexpr int TellTales = 85;

// The bytes of the group with identifier template id among the groups due at nowMs.
Bytes GroupBytes(TBusFmsStandard& catalogue, uint32_t id, int64_t nowMs)
{
    for (const TCanHigh& m : catalogue.GetCanHighs(nowMs * 1000))
        if (m.Id == id)
            return m.Data();
    ADD_FAILURE() << "group " << std::hex << id << " not due";
    return {};
}

TEST(TValidManip, RowsFollowTheCatalogueWithChoicesByBitLength)
{
    const TValidManip v;
    ASSERT_EQ(v.RowCount(), 86);
    EXPECT_EQ(v.Row(0).Name, "Parking Brake Switch");
    EXPECT_EQ(v.Row(ClutchSwitch).Name, "Clutch switch");
    EXPECT_EQ(v.Row(TellTales).Name, "Tell Tale Status");

    EXPECT_EQ(v.Row(ClutchSwitch).Items, (std::vector<TAString>{"Valid Signal", "11 = not available", "10 = Error"}));
    EXPECT_EQ(v.Row(Driver1WorkingState).Items,
              (std::vector<TAString>{"Valid Signal", "111 = not available", "110 = Error"}));
    EXPECT_EQ(v.Row(Driver1TimeRelState).Items,
              (std::vector<TAString>{"Valid Signal", "1111 = not available ", "1110 = Error"}));
    const std::vector<TAString> wide = {"Valid Signal",    "FF = not available", "FE = Error",
                                        "FD = Reserved 2", "FC = Reserved 1",    "FB = Parameter specific"};
    EXPECT_EQ(v.Row(EngineSpeed).Items, wide);       // 16 bits
    EXPECT_EQ(v.Row(5).Items, wide);                 // accelerator pedal, 8 bits
    EXPECT_EQ(v.Row(6).Items, wide);                 // total fuel used, 32 bits
    EXPECT_EQ(v.Row(13).Items, wide);                // SW-version, a 32-bit string
    EXPECT_EQ(v.Row(Vin).Items, (std::vector<TAString>{"Valid Signal", "FF = not available"}));
    EXPECT_EQ(v.Row(TellTales).Items, (std::vector<TAString>{"Valid Signal", "FF = not available"}));

    for (int i = 0; i < v.RowCount(); ++i) {
        EXPECT_EQ(v.Row(i).Pending, 0);
        EXPECT_EQ(v.Row(i).Applied, 0);
    }
    EXPECT_FALSE(v.ApplyEnabled());
    EXPECT_FALSE(v.Autoapply());
}

TEST(TValidManip, ItemNumbersStandForStates)
{
    EXPECT_EQ(TValidManip::ChoiceState(0), msValid);
    EXPECT_EQ(TValidManip::ChoiceState(1), msNotAvailable);
    EXPECT_EQ(TValidManip::ChoiceState(2), msError);
    EXPECT_EQ(TValidManip::ChoiceState(3), msReserved2);
    EXPECT_EQ(TValidManip::ChoiceState(4), msReserved1);
    EXPECT_EQ(TValidManip::ChoiceState(5), msParamSpecific);
    EXPECT_EQ(TValidManip::ChoiceState(TValidManip::NoItem), msValid);
    EXPECT_EQ(TValidManip::ChoiceState(6), msValid);
}

TEST(TValidManip, AppliedErrorReachesTheBitsOfTheNextMessages)
{
    TBusFmsStandard catalogue("00.02");
    TValidManip v(catalogue);
    v.Change(ClutchSwitch, 2, "10 = Error");
    v.Change(EngineSpeed, 2, "FE = Error");
    v.Change(Vin, 1, "FF = not available");
    EXPECT_TRUE(v.ApplyEnabled());
    EXPECT_EQ(v.Row(ClutchSwitch).Applied, 0);   // not before Apply
    v.Apply();
    EXPECT_FALSE(v.ApplyEnabled());
    v.Execute(catalogue);

    // Every other value is forced valid with its content 0. CCVS byte 3: cruise control
    // 00 in bits 0-1, unused bits 2-3 stay 11, brake 00, clutch 10 in the top two bits.
    const Bytes ccvs = GroupBytes(catalogue, 0x00FEF100, 0);
    ASSERT_EQ(ccvs.size(), 8u);
    EXPECT_EQ(ccvs[3] >> 6, 0b10);
    EXPECT_EQ(ccvs[3], 0x8C);

    const Bytes eec1 = GroupBytes(catalogue, 0x00F00400, 8);
    ASSERT_EQ(eec1.size(), 8u);
    EXPECT_EQ(eec1[3], 0xFF);
    EXPECT_EQ(eec1[4], 0xFE);

    EXPECT_EQ(GroupBytes(catalogue, 0x00FEEC00, 12), Bytes(8, 0xFF));
}

TEST(TValidManip, ValidRowsOverwriteEveryState)
{
    TBusFmsStandard catalogue("00.02");   // after Reset every value is not set
    const TValidManip v(catalogue);
    v.Execute(catalogue);
    for (int i = 0; i < catalogue.SignalCount(); ++i)
        EXPECT_EQ(catalogue.Signal(i).MeasVal->State, msValid) << i;
}

TEST(TValidManip, AutoapplyAppliesEveryChangeAndLeavesApplyDisabled)
{
    TValidManip v;
    v.Change(EngineSpeed, 1, "FF = not available");
    EXPECT_TRUE(v.ApplyEnabled());
    v.SetAutoapply(true);   // ticking it applies the change pending so far
    EXPECT_EQ(v.Row(EngineSpeed).Applied, 1);
    EXPECT_FALSE(v.ApplyEnabled());

    v.Change(ClutchSwitch, 2, "10 = Error");
    EXPECT_EQ(v.Row(ClutchSwitch).Applied, 2);
    EXPECT_FALSE(v.ApplyEnabled());

    v.SetAutoapply(false);
    v.Change(ClutchSwitch, 1, "11 = not available");
    EXPECT_EQ(v.Row(ClutchSwitch).Applied, 2);
    EXPECT_TRUE(v.ApplyEnabled());
}

TEST(TValidManip, TypedTextIsMatchedExactlyOrActsAsValidSignal)
{
    TBusFmsStandard catalogue("00.02");
    TValidManip v(catalogue);
    v.Change(EngineSpeed, TValidManip::NoItem, "FE = Err");
    EXPECT_EQ(v.Row(EngineSpeed).Pending, TValidManip::NoItem);
    v.Change(Driver1TimeRelState, TValidManip::NoItem, "1111 = not available");   // blank missing
    EXPECT_EQ(v.Row(Driver1TimeRelState).Pending, TValidManip::NoItem);
    v.Change(ClutchSwitch, TValidManip::NoItem, "10 = Error");                     // typed in full
    EXPECT_EQ(v.Row(ClutchSwitch).Pending, 2);
    v.Apply();

    catalogue.Signal(EngineSpeed).MeasVal->State = msError;
    v.Execute(catalogue);
    EXPECT_EQ(catalogue.Signal(EngineSpeed).MeasVal->State, msValid);
    EXPECT_EQ(catalogue.Signal(Driver1TimeRelState).MeasVal->State, msValid);
    EXPECT_EQ(catalogue.Signal(ClutchSwitch).MeasVal->State, msError);
}

TEST(TValidManip, SelectionEqualToThePendingChoiceChangesNothing)
{
    TValidManip v;
    v.Change(EngineSpeed, 2, "FE = Error");
    v.Change(EngineSpeed, 2, "text that is no item");
    EXPECT_EQ(v.Row(EngineSpeed).Pending, 2);
}

TEST(TValidManip, CancelRestoresTheAppliedChoiceForGood)
{
    TBusFmsStandard catalogue("00.02");
    TValidManip v(catalogue);
    v.Change(EngineSpeed, 1, "FF = not available");
    v.Apply();
    v.Change(EngineSpeed, 2, "FE = Error");
    v.Change(ClutchSwitch, 2, "10 = Error");
    v.Cancel();
    EXPECT_EQ(v.Row(EngineSpeed).Pending, 1);
    EXPECT_EQ(v.Row(ClutchSwitch).Pending, 0);
    v.Apply();
    EXPECT_EQ(v.Row(EngineSpeed).Applied, 1);
    EXPECT_EQ(v.Row(ClutchSwitch).Applied, 0);
    v.Execute(catalogue);
    EXPECT_EQ(catalogue.Signal(EngineSpeed).MeasVal->State, msNotAvailable);
    EXPECT_EQ(catalogue.Signal(ClutchSwitch).MeasVal->State, msValid);
}

TEST(TValidManip, ChangeOfNoRowIsACastError)
{
    TValidManip v;
    for (int row : {-1, 86}) {
        try {
            v.Change(row, 1, "FF = not available");
            ADD_FAILURE() << row;
        } catch (const TBaseError& e) {
            EXPECT_EQ(e.Operation(), "TFValidFlagManip::OnRangeChange");
            EXPECT_EQ(e.Message(), "CastError");
        }
    }
    EXPECT_FALSE(v.ApplyEnabled());
}

TEST(TValidManip, ShorterCatalogueKeepsTheRowsBeyondItAlone)
{
    TBusFmsStandard shorter("00.01");   // 81 signals
    TValidManip v;                      // 86 rows
    v.Change(80, 2, "FE = Error");
    v.Apply();
    v.Execute(shorter);
    EXPECT_EQ(shorter.Signal(80).MeasVal->State, msError);
}

TEST(TValidManip, ChoicesAreFoundByTextCodeWordOrLetter)
{
    const TValidManip v;
    EXPECT_EQ(v.FindRow("Engine speed"), EngineSpeed);
    EXPECT_EQ(v.FindRow(" engine SPEED "), EngineSpeed);
    EXPECT_EQ(v.FindRow("Engine"), -1);

    EXPECT_EQ(v.FindChoice(EngineSpeed, "FE = Error"), 2);
    EXPECT_EQ(v.FindChoice(EngineSpeed, "error"), 2);
    EXPECT_EQ(v.FindChoice(EngineSpeed, "not available"), 1);
    EXPECT_EQ(v.FindChoice(EngineSpeed, "Reserved 2"), 3);
    EXPECT_EQ(v.FindChoice(EngineSpeed, "reserved 1"), 4);
    EXPECT_EQ(v.FindChoice(EngineSpeed, "parameter specific"), 5);
    EXPECT_EQ(v.FindChoice(EngineSpeed, "FB"), 5);
    EXPECT_EQ(v.FindChoice(EngineSpeed, "R"), 3);   // the letters keep their case
    EXPECT_EQ(v.FindChoice(EngineSpeed, "r"), 4);
    EXPECT_EQ(v.FindChoice(EngineSpeed, "p"), 5);
    EXPECT_EQ(v.FindChoice(EngineSpeed, "valid"), 0);
    EXPECT_EQ(v.FindChoice(EngineSpeed, "Valid Signal"), 0);
    EXPECT_EQ(v.FindChoice(EngineSpeed, "out of range"), TValidManip::NoItem);
    EXPECT_EQ(v.FindChoice(EngineSpeed, "o"), TValidManip::NoItem);
    EXPECT_EQ(v.FindChoice(EngineSpeed, ""), TValidManip::NoItem);

    EXPECT_EQ(v.FindChoice(ClutchSwitch, "10"), 2);
    EXPECT_EQ(v.FindChoice(ClutchSwitch, "e"), 2);
    EXPECT_EQ(v.FindChoice(ClutchSwitch, "n"), 1);
    EXPECT_EQ(v.FindChoice(ClutchSwitch, "Reserved 1"), TValidManip::NoItem);
    EXPECT_EQ(v.FindChoice(ClutchSwitch, "FE"), TValidManip::NoItem);
    EXPECT_EQ(v.FindChoice(Driver1TimeRelState, "1111 = not available"), 1);
    EXPECT_EQ(v.FindChoice(Vin, "error"), TValidManip::NoItem);
    EXPECT_EQ(v.FindChoice(Vin, "not available"), 1);
}

TEST(TValidManip, ForceAppliesAtOnceOrRefusesWhatItCannotFind)
{
    TBusFmsStandard catalogue("00.02");
    TValidManip v(catalogue);
    v.Force("Vehicle identification number", "not available");
    EXPECT_EQ(v.Row(Vin).Pending, 1);
    EXPECT_EQ(v.Row(Vin).Applied, 1);
    v.Execute(catalogue);
    EXPECT_EQ(catalogue.Signal(Vin).MeasVal->State, msNotAvailable);

    const auto message = [&](const char* name, const char* state) -> TAString {
        try {
            v.Force(name, state);
        } catch (const TBaseError& e) {
            EXPECT_EQ(e.Operation(), "TValidManip::Force");
            return e.Message();
        }
        return "no error";
    };
    EXPECT_EQ(message("Engine sped", "error"), "unknown signal");
    EXPECT_EQ(message("Clutch switch", "Reserved 2"), "unknown state");
    EXPECT_EQ(v.Row(ClutchSwitch).Applied, 0);
}

}  // namespace
