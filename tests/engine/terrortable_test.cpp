#include "engine/terrortable.h"

#include <gtest/gtest.h>

namespace {

TEST(TErrorTable, KnownErrorsGetTheirCategoryAndText)
{
    TErrorReport r = TErrorTable::Lookup(TBaseError("TCanBuffer::Write", "write error"));
    EXPECT_FALSE(r.Fatal);
    EXPECT_EQ(r.Category, "CAN error");
    EXPECT_EQ(r.Text, "Sending message failed");
    EXPECT_EQ(r.BoxText, "CAN error\nSending message failed\n");
}

TEST(TErrorTable, EmptyRowOperationMatchesAnyOperation)
{
    for (const char* op : {"", "TFQuorvella::LoadLog"}) {
        TErrorReport r = TErrorTable::Lookup(TBaseError(op, "Logfile Read Error"));
        EXPECT_EQ(r.Category, "Log file error") << op;
        EXPECT_EQ(r.Text, "Reading CAN log entry failed") << op;
    }
}

TEST(TErrorTable, OperationAndMessageNeedOnlyBeginWithTheRow)
{
    TErrorReport r = TErrorTable::Lookup(TBaseError("TCanHigh::AddFrame", "multipacket index error 3"));
    EXPECT_EQ(r.Category, "CAN packet error");
    EXPECT_EQ(r.Text, "Index of CAN multi packet is wrong");
}

TEST(TErrorTable, HashAppendsTheRestOfTheMessage)
{
    TErrorReport r = TErrorTable::Lookup(TBaseError("TCanDrvVector::TCanDrvVector", "ncdOpenDriver201"));
    EXPECT_EQ(r.Category, "VECTOR initialisation error");
    EXPECT_EQ(r.Text, "Opening driver failed. Errorcode=201");
    r = TErrorTable::Lookup(TBaseError("TCanDriverVCI::OpenChannel", "Unknown card 'PCI05'"));
    EXPECT_EQ(r.Text, "Card not supported. Name='PCI05'");
    r = TErrorTable::Lookup(TBaseError("TCanChannelVector::Read", "ncdReceive1:"));
    EXPECT_EQ(r.Text, "Receiving message failed. Errorcode=");
}

TEST(TErrorTable, QtCanBusErrorsTellWhatToDo)
{
    TErrorReport r = TErrorTable::Lookup(
        TBaseError("TCanChannelQtCanBus::TCanChannelQtCanBus", "Plugin unknown: 'foo'; available plugins: socketcan, virtualcan"));
    EXPECT_EQ(r.Category, "CAN configuration error");
    EXPECT_EQ(r.Text, "Qt CAN bus plugin not found: 'foo'; available plugins: socketcan, virtualcan");
}

TEST(TErrorTable, UnknownErrorsAreFatalWithTheirRawTexts)
{
    TErrorReport r = TErrorTable::Lookup(TBaseError("TFQuorvella::InitCan", "CAN: unknown error"));
    EXPECT_TRUE(r.Fatal);
    EXPECT_EQ(r.BoxText, "Fatal error occured\nModul: TFQuorvella::InitCan\nMessage: CAN: unknown error");
    // A matching message under another operation is no match.
    EXPECT_TRUE(TErrorTable::Lookup(TBaseError("TCanBuffer::Read", "write error")).Fatal);
}

TEST(TErrorTable, DetailFollowsTheTextWithoutTakingPartInTheLookup)
{
    TErrorReport r = TErrorTable::Lookup(TBaseError("", "Logfile Read Error", "drive.asc line 12: '000.00x0' is no time"));
    EXPECT_EQ(r.Category, "Log file error");
    EXPECT_EQ(r.BoxText, "Log file error\nReading CAN log entry failed\ndrive.asc line 12: '000.00x0' is no time\n");
    r = TErrorTable::Lookup(TBaseError("TFQuorvella::InitCan", "CAN: unknown error", "port 70000"));
    EXPECT_EQ(r.BoxText, "Fatal error occured\nModul: TFQuorvella::InitCan\nMessage: CAN: unknown error\nport 70000");
}

TEST(TErrorTable, HoldsEveryRowWithACategory)
{
    // 41 of the program, 3 of frames the channels could not carry, the 14 of the Qt CAN bus
    // driver, the 7 of the program's own files and the 1 of a thread it could not make,
    // the notices of a run (transfers, stalls), the frames the transmit buffer never took
    // and the address claim lost to another node or not made, and the 5 of the window's
    // scenario, its recording and its control API.
    EXPECT_EQ(TErrorTable::Rows().size(), 41u + 3u + 14u + 7u + 1u + 2u + 1u + 2u + 5u);
    for (const TErrorRow& row : TErrorTable::Rows()) {
        EXPECT_STRNE(row.Category, "");
        EXPECT_STRNE(row.Pattern, "");
    }
}

}  // namespace
