#include "fms/tvalidmanip.h"

#include "fms/tbusfmsstandard.h"
#include "support/tbaseerror.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Catalogue positions used below.
constexpr int ClutchSwitch = 2;
constexpr int EngineSpeed = 8;
constexpr int Vin = 10;
constexpr int Driver1WorkingState = 16;
constexpr int Driver1TimeRelState = 20;
constexpr int TellTales = 85;

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
    // SW-version, a 32-bit string: a text has no error or reserved codes, every one of
    // them would go out as FFFFFFFF, so "not available" is all it offers.
    EXPECT_EQ(v.Row(13).Items, (std::vector<TAString>{"Valid Signal", "FF = not available"}));
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

TEST(TValidManip, ValidRowsGiveEveryValueItsOwnState)
{
    TBusFmsStandard catalogue("00.02");   // after Reset every value is not set
    const TValidManip v(catalogue);
    v.Execute(catalogue);
    // A value not yet set takes the state of its content: 0.0 is no month, day or year.
    constexpr int Month = 66, Day = 67, Year = 68;
    for (int i = 0; i < catalogue.SignalCount(); ++i) {
        const bool date = i == Month || i == Day || i == Year;
        EXPECT_EQ(catalogue.Signal(i).MeasVal->State, date ? msOutOfRange : msValid) << i;
    }
}

TEST(TValidManip, ValidSignalNeverHidesOutOfRange)
{
    TBusFmsStandard catalogue("00.02");
    TValidManip v(catalogue);
    TFmsMeasVal& speed = catalogue.Signal(EngineSpeed);
    const struct {
        const char* text;
        TMeasState own;
    } cases[] = {{"9000", msOutOfRange}, {"1500", msValid}, {"e", msError}, {"-1", msOutOfRange}};
    for (const auto& c : cases) {
        speed.MeasVal = speed.Read(c.text);
        v.Execute(catalogue);
        EXPECT_EQ(speed.MeasVal->State, c.own) << c.text;
        // Forced and given back: the value's own state returns, not "valid".
        v.Force("Engine speed", "error");
        v.Execute(catalogue);
        EXPECT_EQ(speed.MeasVal->State, msError) << c.text;
        v.Force("Engine speed", "valid");
        v.Execute(catalogue);
        EXPECT_EQ(speed.MeasVal->State, c.own) << c.text;
        if (c.own == msOutOfRange) {
            EXPECT_EQ(speed.Write(), "o") << c.text;
        }
    }
}

TEST(TValidManip, StoredChoiceAFieldCannotSendLoadsAsNotAvailableWithANotice)
{
    constexpr int SwVersion = 13;
    TBusFmsStandard catalogue("00.02");
    TValidManip v(catalogue);
    const struct {
        int row;
        const char* stored;
        int item;
        bool notice;
    } cases[] = {
        {SwVersion, "FE = Error", 1, true},
        {SwVersion, "FB = Parameter specific", 1, true},
        {SwVersion, "FF = not available", 1, false},
        {SwVersion, "Valid Signal", 0, false},
        {ClutchSwitch, "FC = Reserved 1", 1, true},   // 2 bits carry no reserved code
        {ClutchSwitch, "10 = Error", 2, false},
        {EngineSpeed, "FD = Reserved 2", 3, false},
        {TellTales, "FE = Error", 1, true},
    };
    for (const auto& c : cases) {
        const TAString notice = v.Load(c.row, c.stored);
        EXPECT_EQ(v.Row(c.row).Applied, c.item) << c.row << " " << c.stored;
        EXPECT_EQ(v.Row(c.row).Pending, c.item) << c.row << " " << c.stored;
        EXPECT_EQ(!notice.IsEmpty(), c.notice) << c.row << " " << c.stored;
        if (c.notice) {
            EXPECT_NE(notice.Find(v.Row(c.row).Name), -1) << notice.str();
            EXPECT_NE(notice.Find(c.stored), -1) << notice.str();
        }
        EXPECT_EQ(v.Load(c.row, v.Stored(c.row)), "");   // what is kept loads as it is
    }
    EXPECT_NE(v.Load(SwVersion, "FE = Error"), "");
    v.Execute(catalogue);
    EXPECT_EQ(catalogue.Signal(SwVersion).MeasVal->State, msNotAvailable);
    TCanHigh m(catalogue.Signal(SwVersion).CanId);
    catalogue.Signal(SwVersion).WriteToCan(m);
    EXPECT_EQ(m.Data(), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
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
