// The Vector driver against the Vector library double, loaded by full path.

#include "can/vector/tcandrivervector.h"
#include "can/vector/tcanchannelvector.h"

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

// Runs f and returns the error it throws as "operation|message".
class TCanDriverVectorTest : public ::testing::Test {
protected:
    TVendorDouble lib{QV_VECTOR_DOUBLE};

    std::unique_ptr<TCanDriverVector> OpenDriver()
    {
        auto driver = std::make_unique<TCanDriverVector>(lib.Path());
        lib.ClearLog();
        return driver;
    }
};

const std::array<uint8_t, 8> kData{0xF3, 0x15, 0x00, 0x0C, 0xFF, 0xFF, 0xFF, 0xFE};

} // namespace

TEST_F(TCanDriverVectorTest, MissingLibraryOrFunctionIsOpenDriverStatus201)
{
    EXPECT_EQ(ErrorOf([] { TCanDriverVector("/nonexistent/vcand32.dll"); }),
              "TCanDrvVector::TCanDrvVector|ncdOpenDriver201");
    EXPECT_EQ(ErrorOf([] { TCanDriverVector(QV_VECTOR_DOUBLE_INCOMPLETE); }),
              "TCanDrvVector::TCanDrvVector|ncdOpenDriver201");
}

TEST_F(TCanDriverVectorTest, DriverOpensAndAsksTheConfigurationTwice)
{
    lib.Set("channelCount", 4);
    {
        TCanDriverVector driver(lib.Path());
        EXPECT_EQ(driver.LibraryChannelCount(), 4);
        EXPECT_EQ(lib.Calls(), (Calls{"ncdOpenDriver", "ncdGetDriverConfig count=0 buffer=none",
                                      "ncdGetDriverConfig count=4 buffer=given"}));
    }
    EXPECT_EQ(lib.Calls().back(), "ncdCloseDriver");
}

TEST_F(TCanDriverVectorTest, DriverOpenFailuresCarryTheStatus)
{
    lib.Fail("ncdOpenDriver", 1, 1, 3);
    EXPECT_EQ(ErrorOf([&] { TCanDriverVector driver(lib.Path()); }),
              "TCanDrvVector::TCanDrvVector|ncdOpenDriver3");
    lib.Fail("ncdGetDriverConfig", 2, 1, 12);
    EXPECT_EQ(ErrorOf([&] { TCanDriverVector driver(lib.Path()); }),
              "TCanDrvVector::TCanDrvVector|ncdGetDriverConfig12");
    // The opened library driver is closed again.
    EXPECT_EQ(lib.Calls().back(), "ncdCloseDriver");
    lib.Fail("ncdGetDriverConfig", 3, 1, 5);
    EXPECT_EQ(ErrorOf([&] { TCanDriverVector driver(lib.Path()); }),
              "TCanDrvVector::TCanDrvVector|ncdGetDriverConfig5");
}

TEST(TCanDriverVector, DecodeChannelIdReadsCardTableAndNumbers)
{
    using Id = TCanDriverVector::TChannelId;
    EXPECT_EQ(TCanDriverVector::DecodeChannelID("CANcaseXL 1 2"), (Id{21, 0, 1}));
    EXPECT_EQ(TCanDriverVector::DecodeChannelID("Virtual 2 3"), (Id{1, 1, 2}));
    EXPECT_EQ(TCanDriverVector::DecodeChannelID("CANboardXL_C 4 1"), (Id{27, 3, 0}));
    EXPECT_EQ(TCanDriverVector::DecodeChannelID("First 1 1"), (Id{-1, 0, 0}));
    EXPECT_EQ(TCanDriverVector::DecodeChannelID("NR_7 1 1"), (Id{7, 0, 0}));
    EXPECT_EQ(TCanDriverVector::DecodeChannelID("NR_-3 1 1"), (Id{-3, 0, 0}));
    for (const char* text : {"Unknown 1 1", "cancasexl 1 2", "NR_0 1 1", ""})
        EXPECT_EQ(ErrorOf([&] { TCanDriverVector::DecodeChannelID(text); }),
                  "TCanDriverVector::DecodeChannelID|Card not supported")
            << text;
}

TEST_F(TCanDriverVectorTest, ChannelLifeWithoutBitRateCallsInOrder)
{
    auto driver = OpenDriver();
    TCanChannel* channel = driver->OpenChannel("CANcaseXL 1 2");
    EXPECT_EQ(lib.NewCalls(),
              (Calls{"ncdGetChannelMask type=21 index=0 channel=1",
                     "ncdOpenPort name=Tessmar access=0x2 init=0x0 rxQueue=1024",
                     "ncdSetChannelAcceptance port=1 mask=0x2 code=0x80000000 accmask=0x80000000",
                     "ncdSetNotification port=1 event=valid level=1",
                     "ncdActivateChannel port=1 mask=0x2"}));
    auto* vector = static_cast<TCanChannelVector*>(channel);
    EXPECT_TRUE(vector->IsActive());
    EXPECT_EQ(vector->InitMask(), 0u);
    EXPECT_EQ(vector->BitRate(), 0u);

    lib.ClearLog();
    channel->Write(TCanFrame(0x18FEF100, kData, 8));
    EXPECT_TRUE(channel->Read().IsNone());
    driver->CloseChannel(channel);
    EXPECT_EQ(lib.NewCalls(),
              (Calls{"ncdTransmit port=1 mask=0x2 tag=10 id=0x98FEF100 flags=0 dlc=8 "
                     "data=F3 15 00 0C FF FF FF FE",
                     "ncdReceive1 port=1", "ncdDeactivateChannel port=1 mask=0x2",
                     "ncdClosePort port=1"}));
    EXPECT_EQ(driver->ChannelCount(), 0);
    lib.ClearLog();
    driver.reset();
    EXPECT_EQ(lib.NewCalls(), (Calls{"ncdCloseDriver"}));
}

TEST_F(TCanDriverVectorTest, BitRateAsksInitAccessAndSetsTimingWhenGranted)
{
    auto driver = OpenDriver();
    driver->OpenChannel("CANcaseXL 1 2 500000 1 5 2 1 2");
    const Calls calls = lib.NewCalls();
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[1], "ncdOpenPort name=Tessmar access=0x2 init=0x2 rxQueue=1024");
    EXPECT_EQ(calls[2],
              "ncdSetChannelParams port=1 mask=0x2 bitrate=500000 sjw=1 tseg1=5 tseg2=2 sam=0");
    EXPECT_EQ(calls[3],
              "ncdSetChannelAcceptance port=1 mask=0x2 code=0x80000000 accmask=0x80000000");

    lib.ClearLog();
    driver->OpenChannel("CANcaseXL 1 1 250000 2 8 7 3");
    EXPECT_EQ(lib.NewCalls()[2],
              "ncdSetChannelParams port=2 mask=0x1 bitrate=250000 sjw=2 tseg1=8 tseg2=7 sam=1");
}

TEST_F(TCanDriverVectorTest, TimingIsLeftAloneWithoutPermission)
{
    auto driver = OpenDriver();
    lib.Set("permission", 0);
    driver->OpenChannel("CANcaseXL 1 2 500000 1 5 2 1");
    for (const std::string& call : lib.Calls())
        EXPECT_EQ(call.find("ncdSetChannelParams"), std::string::npos);
    EXPECT_EQ(lib.Calls().back(), "ncdActivateChannel port=1 mask=0x2");
}

TEST_F(TCanDriverVectorTest, ReadGivesIdWithoutExtendedBitAndMicroseconds)
{
    auto driver = OpenDriver();
    TCanChannel* channel = driver->OpenChannel("CANcaseXL 1 2");
    lib.PushRx(12345, 0x98FEF100, kData);
    const TCanFrame frame = channel->Read();
    EXPECT_EQ(frame.Id, 0x18FEF100u);
    EXPECT_EQ(frame.Data, kData);
    EXPECT_EQ(frame.Dlc, 8);
    EXPECT_EQ(frame.Time, 123450);
    EXPECT_EQ(channel->Read().Id, 0xFFFFFFFFu);
    // The stamp is unsigned 32-bit: the largest one does not turn negative.
    lib.PushRx(0xFFFFFFFF, 0x80000001, kData);
    EXPECT_EQ(channel->Read().Time, 42949672950);
}

TEST_F(TCanDriverVectorTest, ReadAndWriteFailuresCarryTheStatus)
{
    auto driver = OpenDriver();
    TCanChannel* channel = driver->OpenChannel("CANcaseXL 1 2");
    lib.Fail("ncdReceive1", 1, 1, 3);
    EXPECT_EQ(ErrorOf([&] { channel->Read(); }), "TCanChannelVector::Read|ncdReceive1:3");
    lib.Fail("ncdTransmit", 1, 1, 11);
    EXPECT_EQ(ErrorOf([&] { channel->Write(TCanFrame(0x18FEF100, kData, 8)); }),
              "TCanChannelVector::Write|ncdTransmit:11");
}

TEST_F(TCanDriverVectorTest, EmptyChannelMaskIsChannelNotFoundBeforeAnyPort)
{
    auto driver = OpenDriver();
    lib.Set("channelMask", 0);
    EXPECT_EQ(ErrorOf([&] { driver->OpenChannel("CANcaseXL 3 2"); }),
              "TCanChannelVector::TCanChannelVector|Channel not found");
    EXPECT_EQ(lib.NewCalls(), (Calls{"ncdGetChannelMask type=21 index=2 channel=1"}));
    EXPECT_EQ(driver->ChannelCount(), 0);
}

TEST_F(TCanDriverVectorTest, FailedChannelOpenReportsTheStepAndGivesThePortBack)
{
    struct Case {
        const char* function;
        const char* message;
    };
    const Case cases[] = {
        {"ncdSetChannelParams", "ncdSetChannelParams failed"},
        {"ncdSetChannelAcceptance", "ncdSetChannelAcceptance failed"},
        {"ncdSetNotification", "ncdSetNotification failed"},
        {"ncdActivateChannel", "ncdActivateChannel failed"},
    };
    auto driver = OpenDriver();
    for (const Case& c : cases) {
        lib.Reset();
        lib.Set("port", 7);
        lib.Fail(c.function, 1, 1, 1);
        EXPECT_EQ(ErrorOf([&] { driver->OpenChannel("CANcaseXL 1 2 500000 1 5 2 1"); }),
                  std::string("TCanChannelVector::TCanChannelVector|") + c.message);
        EXPECT_EQ(lib.Calls().back(), "ncdClosePort port=7") << c.function;
        EXPECT_EQ(driver->ChannelCount(), 0);
    }
}

TEST_F(TCanDriverVectorTest, PortThatDidNotOpenIsNotClosed)
{
    auto driver = OpenDriver();
    lib.Fail("ncdOpenPort", 1, 1, 2);
    EXPECT_EQ(ErrorOf([&] { driver->OpenChannel("CANcaseXL 1 2"); }),
              "TCanChannelVector::TCanChannelVector|OpenPort failed");
    EXPECT_EQ(lib.Calls().back(), "ncdOpenPort name=Tessmar access=0x2 init=0x0 rxQueue=1024");

    lib.Reset();
    lib.Set("port", -1);
    EXPECT_EQ(ErrorOf([&] { driver->OpenChannel("CANcaseXL 1 2"); }),
              "TCanChannelVector::TCanChannelVector|INVALID_PORTHANDLE");
    EXPECT_EQ(lib.Calls().size(), 2u);
}

TEST_F(TCanDriverVectorTest, CloseFailuresAreReportedAndThePortIsClosedAnyway)
{
    auto driver = OpenDriver();
    TCanChannel* channel = driver->OpenChannel("CANcaseXL 1 2");
    lib.Fail("ncdDeactivateChannel", 1, 1, 1);
    lib.ClearLog();
    EXPECT_EQ(ErrorOf([&] { driver->CloseChannel(channel); }),
              "TCanChannelVector::~TCanChannelVector|ncdDeactivateChannel failed");
    EXPECT_EQ(lib.NewCalls(), (Calls{"ncdDeactivateChannel port=1 mask=0x2", "ncdClosePort port=1"}));
    EXPECT_EQ(driver->ChannelCount(), 0);

    channel = driver->OpenChannel("CANcaseXL 1 2");
    lib.Fail("ncdClosePort", 2, 1, 1);   // the second close since the reset
    EXPECT_EQ(ErrorOf([&] { driver->CloseChannel(channel); }),
              "TCanChannelVector::~TCanChannelVector|ncdClosePort failed");
    EXPECT_EQ(driver->ChannelCount(), 0);
}

TEST_F(TCanDriverVectorTest, DriverEndClosesEveryChannelThenTheDriverSilently)
{
    auto driver = OpenDriver();
    driver->OpenChannel("CANcaseXL 1 1");
    driver->OpenChannel("CANcaseXL 1 2");
    lib.FailAlways("ncdDeactivateChannel", 1);
    lib.ClearLog();
    driver.reset();
    EXPECT_EQ(lib.NewCalls(),
              (Calls{"ncdDeactivateChannel port=1 mask=0x1", "ncdClosePort port=1",
                     "ncdDeactivateChannel port=2 mask=0x2", "ncdClosePort port=2",
                     "ncdCloseDriver"}));
}

TEST_F(TCanDriverVectorTest, RegistryOpensVectorChannelsFromVectorDllPathAndKeepsTheDriver)
{
    struct TPathRestore {
        TAString saved = VectorDllPath();
        ~TPathRestore() { VectorDllPath() = saved; }
    } restore;
    VectorDllPath() = lib.Path();
    {
        TCanAdapters adapters;
        TCanChannel* channel = adapters.OpenChannel("Vector3.2 CANcaseXL 1 2 500000 1 5 2 3 2");
        ASSERT_NE(channel, nullptr);
        EXPECT_EQ(static_cast<TCanChannelVector*>(channel)->BitRate(), 500000u);
        adapters.CloseChannel(channel);
        EXPECT_NE(adapters.Driver("Vector3.2"), nullptr);
        EXPECT_EQ(lib.Calls().back(), "ncdClosePort port=1");
    }
    EXPECT_EQ(lib.Calls().back(), "ncdCloseDriver");
}
