// The IXXAT VCI 2 driver against the VCI 2 library double, loaded by full path, and the
// bit timing and time-stamp extension both IXXAT drivers share.

#include "can/vci/tcandrivervci.h"
#include "can/vci/tcanchannelvci.h"
#include "can/vci/tvcibittiming.h"
#include "can/vci/tvcitimestamp.h"

#include "can/tcanadapters.h"
#include "support/tbaseerror.h"
#include "tests/can/vendordouble.h"

#include "tests/errorof.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using Calls = std::vector<std::string>;

namespace {

const std::array<uint8_t, 8> kData{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};

class TCanDriverVCITest : public ::testing::Test {
protected:
    TVendorDouble lib{QV_VCI2_DOUBLE};
    std::unique_ptr<TCanDriverVCI> driver = std::make_unique<TCanDriverVCI>(lib.Path());
};

} // namespace

TEST(TVciBitTiming, RegistersFromTheTimingWords)
{
    struct Case {
        const char* text;
        uint8_t bt0;
        uint8_t bt1;
    };
    const Case cases[] = {
        {"USBtoCAN 1 1 250000 1 5 2 1 2", 0x41, 0x14},
        {"USBtoCAN 1 1 250000 1 5 2 3 2", 0x41, 0x94},
        {"USBtoCAN 1 1 500000 2 8 7 1 2", 0x81, 0x67},
        // sjw is not reduced by one: 4 * 64 leaves nothing in bits 6..7.
        {"USBtoCAN 1 1 125000 4 16 8 3 64", 0x3F, 0xFF},
        // Without timing words every value counts as 0.
        {"USBtoCAN 1 1", 0x3F, 0x7F},
    };
    for (const Case& c : cases) {
        const TVciBitTiming timing = TVciBitTiming::FromChannelText(c.text);
        EXPECT_EQ(timing.Bt0, c.bt0) << c.text;
        EXPECT_EQ(timing.Bt1, c.bt1) << c.text;
    }
}

TEST(TVciTimeStamp, FallingStampContinuesFromTheLastOne)
{
    TVciTimeStamp stamp;
    EXPECT_EQ(stamp.Extend(5000), 5000u);
    EXPECT_EQ(stamp.Extend(100), 5100u);
    EXPECT_EQ(stamp.Extend(100), 5100u);
    EXPECT_EQ(stamp.Extend(300), 5300u);
    EXPECT_EQ(stamp.Extend(0xFFFFFFFF), 5000u + 0xFFFFFFFFull);
    EXPECT_EQ(stamp.Extend(7), 5000u + 0xFFFFFFFFull + 7);
}

TEST(TCanDriverVCI, MissingOrIncompleteLibraryIsDllDefect)
{
    EXPECT_EQ(ErrorOf([] { TCanDriverVCI driver("/nonexistent/Vci11un6.dll"); }),
              "TCanDriverVCI::TCanDriverVCI|Dll defect or not found");
    EXPECT_EQ(ErrorOf([] { TCanDriverVCI driver(QV_VCI2_DOUBLE_INCOMPLETE); }),
              "TCanDriverVCI::TCanDriverVCI|Dll defect or not found");
}

TEST_F(TCanDriverVCITest, ChannelLifeCallsInOrder)
{
    TCanChannel* channel = driver->OpenChannel("USBtoCAN 1 2 250000 1 5 2 1 2");
    channel->Write(TCanFrame(0x18FEF100, kData, 8));
    EXPECT_TRUE(channel->Read().IsNone());
    driver->CloseChannel(channel);
    EXPECT_EQ(lib.Calls(),
              (Calls{"VCI2_PrepareBoard type=10 index=0",
                     "VCI_InitCan board=1 can=1 bt0=0x41 bt1=0x14 mode=1",
                     "VCI_SetAccMask board=1 can=1 code=0x0 mask=0x0",
                     "VCI_ConfigQueue board=1 can=1 type=0 size=100 limit=0 time=0 resolution=0",
                     "VCI_ConfigQueue board=1 can=1 type=1 size=50 limit=0 time=0 resolution=100",
                     "VCI_AssignRxQueObj board=1 queue=2 mode=1 id=0x0 mask=0x0",
                     "VCI_StartCan board=1 can=1",
                     "VCI_TransmitObj board=1 queue=1 id=0x18FEF100 length=8 data=01 23 45 67 89 AB CD EF",
                     "VCI_ReadQueObj board=1 queue=2 count=1",
                     "VCI_CancelBoard board=1"}));
    EXPECT_EQ(driver->BoardCount(), 0);
}

TEST_F(TCanDriverVCITest, ReadExtendsTheStampInHundredMicroseconds)
{
    TCanChannel* channel = driver->OpenChannel("USBtoCAN 1 1");
    lib.PushRx(5000, 0x18FEF100, kData);
    lib.PushRx(100, 0x0CF00400, kData);
    const TCanFrame first = channel->Read();
    EXPECT_EQ(first.Id, 0x18FEF100u);
    EXPECT_EQ(first.Data, kData);
    EXPECT_EQ(first.Dlc, 8);
    EXPECT_EQ(first.Time, 500000);
    const TCanFrame second = channel->Read();
    EXPECT_EQ(second.Id, 0x0CF00400u);
    EXPECT_EQ(second.Time, 510000);
}

TEST_F(TCanDriverVCITest, ReadAndWriteResults)
{
    TCanChannel* channel = driver->OpenChannel("USBtoCAN 1 1");
    const TCanFrame frame(0x18FEF100, kData, 8);
    lib.Fail("VCI_TransmitObj", 1, 1, 0);
    lib.Fail("VCI_TransmitObj", 2, 1, -6);
    lib.Fail("VCI_TransmitObj", 3, 1, 2);
    EXPECT_EQ(ErrorOf([&] { channel->Write(frame); }), "TCanChannelVCI::Write|Send queue full");
    EXPECT_EQ(ErrorOf([&] { channel->Write(frame); }), "TCanChannelVCI::Write|Tx Error");
    EXPECT_EQ(ErrorOf([&] { channel->Write(frame); }), "TCanChannelVCI::Write|Error:2");
    EXPECT_EQ(ErrorOf([&] { channel->Write(frame); }), "no error");
    lib.Fail("VCI_ReadQueObj", 1, 1, -3);
    EXPECT_EQ(ErrorOf([&] { channel->Read(); }), "TCanChannelVCI::Read|Error:-3");
}

TEST_F(TCanDriverVCITest, ChannelsShareTheirBoardUntilTheLastCloses)
{
    TCanChannel* first = driver->OpenChannel("USBtoCAN 1 1");
    TCanChannel* second = driver->OpenChannel("USBtoCAN 1 2");
    TCanChannel* other = driver->OpenChannel("USBtoCAN 2 1");
    EXPECT_EQ(driver->BoardCount(), 2);
    Calls prepares;
    for (const std::string& call : lib.Calls())
        if (call.rfind("VCI2_PrepareBoard", 0) == 0) prepares.push_back(call);
    EXPECT_EQ(prepares, (Calls{"VCI2_PrepareBoard type=10 index=0", "VCI2_PrepareBoard type=10 index=1"}));

    lib.ClearLog();
    driver->CloseChannel(first);
    EXPECT_EQ(lib.NewCalls(), Calls{});
    driver->CloseChannel(second);
    EXPECT_EQ(lib.NewCalls(), (Calls{"VCI_CancelBoard board=1"}));
    EXPECT_EQ(driver->BoardCount(), 1);
    // The board left behind moved down and is still found by its channel.
    lib.ClearLog();
    driver->CloseChannel(other);
    EXPECT_EQ(lib.NewCalls(), (Calls{"VCI_CancelBoard board=2"}));
}

TEST_F(TCanDriverVCITest, FifthBoardIsRefused)
{
    for (const char* text : {"USBtoCAN 1 1", "USBtoCAN 2 1", "CANdy 1 1", "NR_42 1 1"})
        driver->OpenChannel(text);
    lib.ClearLog();
    EXPECT_EQ(ErrorOf([&] { driver->OpenChannel("tinCAN 1 1"); }),
              "TCanDriverVCI::OpenChannel|more than 4 Boards open");
    EXPECT_EQ(lib.NewCalls(), Calls{});
    // A fifth channel on a board already open is fine.
    driver->OpenChannel("CANdy 1 2");
    EXPECT_EQ(driver->ChannelCount(), 5);
}

TEST_F(TCanDriverVCITest, BoardNamesAndNumbers)
{
    driver->OpenChannel("NR_42 1 1");
    driver->OpenChannel("PC-I03 3 1");
    EXPECT_EQ(lib.Calls()[0], "VCI2_PrepareBoard type=42 index=0");
    EXPECT_EQ(lib.Calls()[7], "VCI2_PrepareBoard type=50 index=2");
    EXPECT_EQ(TCanDriverVCI::BoardType("iPCI165ISA"), 0);
    EXPECT_EQ(TCanDriverVCI::BoardType("USBtoCAN_Compact"), 15);
    EXPECT_EQ(ErrorOf([&] { driver->OpenChannel("USB2CANCOMPACT 1 1"); }),
              "TCanDriverVCI::OpenChannel|Unknown card 'USB2CANCOMPACT'");
    EXPECT_EQ(ErrorOf([&] { driver->OpenChannel("usbtocan 1 1"); }),
              "TCanDriverVCI::OpenChannel|Unknown card 'usbtocan'");
}

TEST_F(TCanDriverVCITest, FailedPrepareIsCancelledAndReported)
{
    lib.Set("board", -3);
    EXPECT_EQ(ErrorOf([&] { driver->OpenChannel("USBtoCAN 1 1"); }),
              "TCanDriverVCI::OpenChannel|Board prepare error");
    EXPECT_EQ(lib.Calls(), (Calls{"VCI2_PrepareBoard type=10 index=0", "VCI_CancelBoard board=65533"}));
    EXPECT_EQ(driver->BoardCount(), 0);
}

TEST_F(TCanDriverVCITest, FailedChannelStepsKeepTheBoardForTheNextChannel)
{
    struct Case {
        const char* function;
        int call;
        const char* message;
    };
    const Case cases[] = {
        {"VCI_InitCan", 1, "Init can error"},
        {"VCI_SetAccMask", 1, "SetAccMask error"},
        {"VCI_ConfigQueue", 1, "ConfigTxQueue error"},
        {"VCI_ConfigQueue", 2, "ConfigRxQueue error"},
        {"VCI_AssignRxQueObj", 1, "Assign error"},
        {"VCI_StartCan", 1, "StartCan error"},
    };
    for (const Case& c : cases) {
        lib.Reset();
        auto fresh = std::make_unique<TCanDriverVCI>(lib.Path());
        lib.Fail(c.function, c.call, 1, 0);
        EXPECT_EQ(ErrorOf([&] { fresh->OpenChannel("USBtoCAN 1 1"); }),
                  std::string("TCanChannelVCI::TCanChannelVCI|") + c.message);
        EXPECT_EQ(fresh->ChannelCount(), 0);
        EXPECT_EQ(fresh->BoardCount(), 1);
        fresh->OpenChannel("USBtoCAN 1 2");
        EXPECT_EQ(lib.Calls()[0], "VCI2_PrepareBoard type=10 index=0");
        for (size_t i = 1; i < lib.Calls().size(); ++i)
            EXPECT_EQ(lib.Calls()[i].rfind("VCI2_PrepareBoard", 0), std::string::npos) << c.message;
        // The driver's end cancels the board once.
        lib.ClearLog();
        fresh.reset();
        EXPECT_EQ(lib.NewCalls(), (Calls{"VCI_CancelBoard board=1"}));
    }
}

TEST_F(TCanDriverVCITest, DriverEndCancelsEveryBoard)
{
    driver->OpenChannel("USBtoCAN 1 1");
    driver->OpenChannel("USBtoCAN 2 1");
    driver->OpenChannel("USBtoCAN 1 2");
    lib.ClearLog();
    driver.reset();
    EXPECT_EQ(lib.NewCalls(), (Calls{"VCI_CancelBoard board=2", "VCI_CancelBoard board=1"}));
}

TEST(TCanDriverVCIRegistry, RegistryReachesTheVci2Driver)
{
    // No VCI 2 library is installed under its own name here.
    TCanAdapters adapters;
    EXPECT_EQ(ErrorOf([&] { adapters.OpenChannel("Vci2.0 USBtoCAN 1 1"); }),
              "TCanDriverVCI::TCanDriverVCI|Dll defect or not found");
    EXPECT_EQ(adapters.Driver("Vci2.0"), nullptr);
}
