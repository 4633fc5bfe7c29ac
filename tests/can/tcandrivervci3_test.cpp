// The IXXAT VCI 3 driver against the VCI 3 library double, loaded by full path.

#include "can/vci/tcandrivervci3.h"
#include "can/vci/tcanchannelvci3.h"

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

class TCanDriverVCI3Test : public ::testing::Test {
protected:
    TVendorDouble lib{QV_VCI3_DOUBLE};
    std::unique_ptr<TCanDriverVCI3> driver = OpenDriver();

    std::unique_ptr<TCanDriverVCI3> OpenDriver()
    {
        auto made = std::make_unique<TCanDriverVCI3>(lib.Path());
        lib.ClearLog();
        return made;
    }
    int CallsOf(const char* function) const
    {
        int count = 0;
        for (const std::string& call : lib.Calls()) count += call.rfind(function, 0) == 0;
        return count;
    }
};

} // namespace

TEST(TCanDriverVCI3, LoadFailuresAreTold)
{
    EXPECT_EQ(ErrorOf([] { TCanDriverVCI3 driver("/nonexistent/vcinpl.dll"); }),
              "TCanDriverVCI::TCanDriverVCI|Dll defect or not found");
    EXPECT_EQ(ErrorOf([] { TCanDriverVCI3 driver(QV_VCI3_DOUBLE_INCOMPLETE); }),
              "TCanDriverVCI::TCanDriverVCI|Dll function not found");
    TVendorDouble lib(QV_VCI3_DOUBLE);
    lib.Fail("vciInitialize", 1, 1, 1);
    EXPECT_EQ(ErrorOf([&] { TCanDriverVCI3 driver(lib.Path()); }),
              "TCanDriverVCI::TCanDriverVCI|Initialisation failed");
}

TEST_F(TCanDriverVCI3Test, ChannelLifeCallsInOrder)
{
    TCanChannel* channel = driver->OpenChannel("USB2CANCOMPACT 1 2 250000 1 5 2 3 2");
    channel->Write(TCanFrame(0x18FEF100, kData, 8));
    EXPECT_TRUE(channel->Read().IsNone());
    driver->CloseChannel(channel);
    EXPECT_EQ(lib.NewCalls(),
              (Calls{"vciFindDeviceByClass class=853857B3-0B08-454C-93FB-2D166B72A5AA instance=0 "
                     "preset=0xFFFFFFFFFFFFFFFF",
                     "vciDeviceOpen id=0x1000",
                     "canControlOpen device=101 can=1",
                     "canControlReset control=201",
                     "canControlInitialize control=201 mode=2 bt0=0x41 bt1=0x94",
                     "canControlGetCaps control=201",
                     "canChannelOpen device=101 can=1 exclusive=1",
                     "canChannelInitialize channel=301 rx=64/32 tx=64/32",
                     "canChannelActivate channel=301 activate=1",
                     "canControlStart control=201 start=1",
                     "canChannelSendMessage channel=301 timeout=0 time=0 id=0x18FEF100 info=0x00880000 "
                     "data=01 23 45 67 89 AB CD EF",
                     "canChannelPeekMessage channel=301",
                     "canChannelActivate channel=301 activate=0",
                     "canChannelClose channel=301",
                     "canControlStart control=201 start=0",
                     "canControlReset control=201",
                     "canControlClose control=201",
                     "vciDeviceClose device=101"}));
    EXPECT_EQ(driver->DeviceCount(), 0);
}

TEST_F(TCanDriverVCI3Test, CardNamesGiveTheirDeviceClasses)
{
    driver->OpenChannel("PCI04PCI 1 1");
    driver->OpenChannel("USBTOCANV2 2 1");
    driver->OpenChannel("IPCI165ISA 1 1");
    Calls finds;
    for (const std::string& call : lib.Calls())
        if (call.rfind("vciFindDeviceByClass", 0) == 0) finds.push_back(call);
    EXPECT_EQ(finds,
              (Calls{"vciFindDeviceByClass class=E7752D2E-28A3-4318-AF0C-02C756FBC25A instance=0 "
                     "preset=0xFFFFFFFFFFFFFFFF",
                     "vciFindDeviceByClass class=2219F6A0-732A-4750-B66F-0AE731FB40E1 instance=1 "
                     "preset=0xFFFFFFFFFFFFFFFF",
                     "vciFindDeviceByClass class=9D9AFCE2-C3FA-42B1-8325-E8760816F16C instance=0 "
                     "preset=0xFFFFFFFFFFFFFFFF"}));
    EXPECT_EQ(ErrorOf([&] { driver->OpenChannel("USBtoCAN 1 1"); }),
              "TCanDriverVCI::OpenChannel|Unknown card 'USBtoCAN'");
    EXPECT_EQ(ErrorOf([&] { driver->OpenChannel("NR_42 1 1"); }),
              "TCanDriverVCI::OpenChannel|Unknown card 'NR_42'");
}

TEST_F(TCanDriverVCI3Test, ChannelsShareTheirDeviceUntilTheLastCloses)
{
    TCanChannel* first = driver->OpenChannel("USBTOCANV2 1 1");
    TCanChannel* second = driver->OpenChannel("USBTOCANV2 1 2");
    TCanChannel* other = driver->OpenChannel("USBTOCANV2 2 1");
    EXPECT_EQ(CallsOf("vciDeviceOpen"), 2);
    EXPECT_EQ(driver->DeviceCount(), 2);
    lib.ClearLog();
    driver->CloseChannel(first);
    EXPECT_EQ(lib.NewCalls().back(), "canControlClose control=201");
    driver->CloseChannel(second);
    EXPECT_EQ(lib.NewCalls().back(), "vciDeviceClose device=101");
    EXPECT_EQ(driver->DeviceCount(), 1);
    driver->CloseChannel(other);
    EXPECT_EQ(lib.NewCalls().back(), "vciDeviceClose device=102");
}

TEST_F(TCanDriverVCI3Test, FifthDeviceIsRefused)
{
    for (const char* text : {"USBTOCANV2 1 1", "USBTOCANV2 2 1", "CANBLUE 1 1", "TINCANV4 1 1"})
        driver->OpenChannel(text);
    lib.ClearLog();
    EXPECT_EQ(ErrorOf([&] { driver->OpenChannel("USBTOCANV2 3 1"); }),
              "TCanDriverVCI::OpenChannel|more than 4 Boards open");
    EXPECT_EQ(lib.NewCalls(), Calls{});
}

TEST_F(TCanDriverVCI3Test, DeviceThatCannotBeFoundOrOpenedIsPrepareError)
{
    lib.Fail("vciFindDeviceByClass", 1, 1, 1);
    EXPECT_EQ(ErrorOf([&] { driver->OpenChannel("CANBLUE 1 1"); }),
              "TCanDriverVCI::OpenChannel|Board prepare error");
    EXPECT_EQ(CallsOf("vciDeviceOpen"), 0);
    lib.Fail("vciDeviceOpen", 1, 1, 1);
    EXPECT_EQ(ErrorOf([&] { driver->OpenChannel("CANBLUE 1 1"); }),
              "TCanDriverVCI::OpenChannel|Board prepare error");
    EXPECT_EQ(driver->DeviceCount(), 0);
}

TEST_F(TCanDriverVCI3Test, FailedChannelStepsCloseWhatWasOpenedAndKeepTheDevice)
{
    struct Case {
        const char* function;
        const char* message;
        Calls undo;
    };
    const Calls control{"canControlStart control=201 start=0", "canControlReset control=201",
                        "canControlClose control=201"};
    const Calls both{"canChannelActivate channel=301 activate=0", "canChannelClose channel=301",
                     "canControlStart control=201 start=0", "canControlReset control=201",
                     "canControlClose control=201"};
    const Case cases[] = {
        {"canControlOpen", "Open ctrl error", {}},
        {"canControlReset", "Reset ctrl error", control},
        {"canControlInitialize", "Can ctl init error", control},
        {"canChannelOpen", "Can chn open error", control},
        {"canChannelInitialize", "Can chn init error", both},
        {"canChannelActivate", "Can chn act error", both},
        {"canControlStart", "Can ctl start error", both},
    };
    for (const Case& c : cases) {
        lib.Reset();
        auto fresh = OpenDriver();
        lib.Fail(c.function, 1, 1, 5);
        EXPECT_EQ(ErrorOf([&] { fresh->OpenChannel("CANBLUE 1 1"); }),
                  std::string("TCanChannelVCI3::TCanChannelVCI3|") + c.message);
        const Calls calls = lib.NewCalls();
        const Calls tail(calls.end() - static_cast<long>(c.undo.size()), calls.end());
        EXPECT_EQ(tail, c.undo) << c.function;
        EXPECT_EQ(fresh->DeviceCount(), 1);
        fresh->OpenChannel("CANBLUE 1 2");
        EXPECT_EQ(CallsOf("vciDeviceOpen"), 1) << c.function;
    }
}

TEST_F(TCanDriverVCI3Test, ReadExtendsTheStampInTicksOfTheControllerClock)
{
    lib.Set("clock", 1000000);
    lib.Set("divisor", 10);
    TCanChannel* channel = driver->OpenChannel("CANBLUE 1 1");
    EXPECT_DOUBLE_EQ(static_cast<TCanChannelVCI3*>(channel)->TickLength(), 10.0);
    lib.PushRx(5000, 0x18FEF100, kData);
    lib.PushRx(100, 0x0CF00400, kData);
    const TCanFrame first = channel->Read();
    EXPECT_EQ(first.Id, 0x18FEF100u);
    EXPECT_EQ(first.Data, kData);
    EXPECT_EQ(first.Dlc, 8);
    EXPECT_EQ(first.Time, 50000);
    EXPECT_EQ(channel->Read().Time, 51000);
}

TEST_F(TCanDriverVCI3Test, TicksOfAFractionOfAMicrosecondAreTruncated)
{
    lib.Set("clock", 3000000);
    lib.Set("divisor", 1);
    TCanChannel* channel = driver->OpenChannel("CANBLUE 1 1");
    lib.PushRx(1000, 1, kData);
    lib.PushRx(1001, 1, kData);
    EXPECT_EQ(channel->Read().Time, 333);
    EXPECT_EQ(channel->Read().Time, 333);
}

TEST_F(TCanDriverVCI3Test, UnknownClockTakesStampsAsMicroseconds)
{
    lib.Set("clock", 0);
    auto* channel = static_cast<TCanChannelVCI3*>(driver->OpenChannel("CANBLUE 1 1"));
    EXPECT_DOUBLE_EQ(channel->TickLength(), 1.0);

    TVendorDouble noCaps(QV_VCI3_DOUBLE_NO_CAPS);
    TCanDriverVCI3 other(noCaps.Path());
    auto* plain = static_cast<TCanChannelVCI3*>(other.OpenChannel("CANBLUE 1 1"));
    EXPECT_DOUBLE_EQ(plain->TickLength(), 1.0);
    noCaps.PushRx(4321, 1, kData);
    EXPECT_EQ(plain->Read().Time, 4321);
}

TEST_F(TCanDriverVCI3Test, EmptyIsTheLowWordEighteen)
{
    TCanChannel* channel = driver->OpenChannel("CANBLUE 1 1");
    lib.Set("empty", 0x00120012);
    EXPECT_TRUE(channel->Read().IsNone());
    lib.Fail("canChannelPeekMessage", 2, 1, static_cast<int32_t>(0x80000013));
    EXPECT_EQ(ErrorOf([&] { channel->Read(); }), "TCanChannelVCI::Read|Error:-2147483629");
}

TEST_F(TCanDriverVCI3Test, WriteTriesTenTimesBeforeTxError)
{
    TCanChannel* channel = driver->OpenChannel("CANBLUE 1 1");
    const TCanFrame frame(0x18FEF100, kData, 8);
    lib.Fail("canChannelSendMessage", 1, 9, 1);
    EXPECT_EQ(ErrorOf([&] { channel->Write(frame); }), "no error");
    EXPECT_EQ(CallsOf("canChannelSendMessage"), 10);

    lib.Reset();
    lib.FailAlways("canChannelSendMessage", 1);
    EXPECT_EQ(ErrorOf([&] { channel->Write(frame); }), "TCanChannelVCI::Write|Tx Error");
    EXPECT_EQ(CallsOf("canChannelSendMessage"), 10);
}

TEST_F(TCanDriverVCI3Test, DriverEndClosesChannelsThenDevices)
{
    driver->OpenChannel("CANBLUE 1 1");
    lib.Fail("canControlOpen", 2, 1, 1);
    EXPECT_NE(ErrorOf([&] { driver->OpenChannel("TINCANV4 1 1"); }), "no error");
    lib.ClearLog();
    driver.reset();
    EXPECT_EQ(lib.NewCalls(),
              (Calls{"canChannelActivate channel=301 activate=0", "canChannelClose channel=301",
                     "canControlStart control=201 start=0", "canControlReset control=201",
                     "canControlClose control=201", "vciDeviceClose device=101",
                     "vciDeviceClose device=102"}));
}

TEST(TCanDriverVCI3Registry, RegistryReachesTheVci3Driver)
{
    TCanAdapters adapters;
    EXPECT_EQ(ErrorOf([&] { adapters.OpenChannel("Vci3.0 USBTOCANV2 1 1"); }),
              "TCanDriverVCI::TCanDriverVCI|Dll defect or not found");
}
