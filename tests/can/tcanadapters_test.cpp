#include "can/tcanadapters.h"

#include "fakecandriver.h"

#include <gtest/gtest.h>

namespace {

// The program's four slots with recording drivers; only the Vector slot stays loaded.
std::vector<TCanDriverEntry> FakeTable(FakeCanLog& log)
{
    auto make = [&log] { return std::make_unique<FakeCanDriver>(log); };
    return {
        {"Simulation", "Simulation", make, false, nullptr},
        {"Vector3.2", "Vector", make, true, nullptr},
        {"Vci2.0", "VCI 2", make, false, nullptr},
        {"Vci3.0", "VCI 3", make, false, nullptr},
    };
}

void ExpectNotSupported(TCanAdapters& adapters, const TAString& description)
{
    try {
        adapters.OpenChannel(description);
        ADD_FAILURE() << "no error for '" << description.str() << "'";
    } catch (const TBaseError& e) {
        EXPECT_EQ(e.Operation(), "TCanAdapters::OpenChannel") << description.str();
        EXPECT_EQ(e.Message(), "Driver not supported") << description.str();
    }
}

} // namespace

TEST(TCanAdapters, FirstWordsThatNameNoDriverAreNotSupported)
{
    FakeCanLog log;
    TCanAdapters adapters(FakeTable(log));
    ExpectNotSupported(adapters, "");
    ExpectNotSupported(adapters, "   ");
    ExpectNotSupported(adapters, "simulation RAM 1 1");
    ExpectNotSupported(adapters, "Vector CANcaseXL 1 1");
    ExpectNotSupported(adapters, "- ");   // the settings of a first start
    ExpectNotSupported(adapters, "Vci2.0x USBtoCAN 1 1");
    EXPECT_EQ(log.driversMade, 0);
}

TEST(TCanAdapters, DriverGetsTheTextBehindItsWordAndOneCharacter)
{
    FakeCanLog log;
    TCanAdapters adapters(FakeTable(log));
    EXPECT_EQ(TextOf(adapters.OpenChannel("Simulation RAM 1 2,RAM 2 1")), "RAM 1 2,RAM 2 1");
    EXPECT_EQ(TextOf(adapters.OpenChannel("Simulation")), "");
    EXPECT_EQ(TextOf(adapters.OpenChannel("Simulation ")), "");
    EXPECT_EQ(TextOf(adapters.OpenChannel("Simulation  two blanks")), " two blanks");
    EXPECT_EQ(TextOf(adapters.OpenChannel("Vci3.0\tUSBtoCAN 1 2")), "USBtoCAN 1 2");
}

TEST(TCanAdapters, SecondChannelOfOneDriverSharesIt)
{
    FakeCanLog log;
    TCanAdapters adapters(FakeTable(log));
    TCanChannel* first = adapters.OpenChannel("Simulation RAM 1 2");
    const TCanDriver* driver = adapters.Driver("Simulation");
    TCanChannel* second = adapters.OpenChannel("Simulation RAM 2 1");

    EXPECT_EQ(log.driversMade, 1);
    EXPECT_EQ(adapters.Driver("Simulation"), driver);
    ASSERT_NE(driver, nullptr);
    EXPECT_TRUE(driver->Owns(first));
    EXPECT_TRUE(driver->Owns(second));
    EXPECT_EQ(adapters.Driver("Vector3.2"), nullptr);
}

TEST(TCanAdapters, LastCloseDeletesTheDriverButTheVectorDriverStays)
{
    FakeCanLog log;
    TCanAdapters adapters(FakeTable(log));
    TCanChannel* sim1 = adapters.OpenChannel("Simulation a");
    TCanChannel* sim2 = adapters.OpenChannel("Simulation b");
    TCanChannel* vci = adapters.OpenChannel("Vci2.0 USBtoCAN 1 1");
    TCanChannel* vector = adapters.OpenChannel("Vector3.2 CANcaseXL 1 1");

    adapters.CloseChannel(sim1);
    EXPECT_NE(adapters.Driver("Simulation"), nullptr);   // sim2 is still open
    adapters.CloseChannel(sim2);
    EXPECT_EQ(adapters.Driver("Simulation"), nullptr);
    adapters.CloseChannel(vci);
    EXPECT_EQ(adapters.Driver("Vci2.0"), nullptr);
    adapters.CloseChannel(vector);
    ASSERT_NE(adapters.Driver("Vector3.2"), nullptr);
    EXPECT_EQ(adapters.Driver("Vector3.2")->ChannelCount(), 0);
    EXPECT_EQ(log.driversDeleted, 2);

    // The kept Vector driver serves the next channel; no second one is made.
    adapters.OpenChannel("Vector3.2 CANcaseXL 1 2");
    EXPECT_EQ(log.driversMade, 3);
}

TEST(TCanAdapters, ClosingTheMiddleOfThreeChannelsKeepsTheOthersInOrder)
{
    FakeCanLog log;
    TCanAdapters adapters(FakeTable(log));
    TCanChannel* a = adapters.OpenChannel("Vci3.0 a");
    TCanChannel* b = adapters.OpenChannel("Vci3.0 b");
    TCanChannel* c = adapters.OpenChannel("Vci3.0 c");

    adapters.CloseChannel(b);

    const TCanDriver* driver = adapters.Driver("Vci3.0");
    ASSERT_NE(driver, nullptr);
    ASSERT_EQ(driver->ChannelCount(), 2);
    EXPECT_EQ(driver->Channel(0), a);
    EXPECT_EQ(driver->Channel(1), c);
    EXPECT_EQ(log.deleted, std::vector<std::string>{"b"});
}

TEST(TCanAdapters, FailedOpenKeepsTheDriverUntilTheNextClose)
{
    FakeCanLog log;
    TCanAdapters adapters(FakeTable(log));
    TCanChannel* sim = adapters.OpenChannel("Simulation a");
    adapters.OpenChannel("Vector3.2 x");
    adapters.CloseChannel(adapters.Driver("Vector3.2")->Channel(0));
    try {
        adapters.OpenChannel("Vci2.0 fail");
        FAIL() << "no error";
    } catch (const TBaseError& e) {
        EXPECT_EQ(e.Operation(), "FakeCanChannel::FakeCanChannel");   // passed unchanged
        EXPECT_EQ(e.Message(), "refused");
    }
    EXPECT_NE(adapters.Driver("Vci2.0"), nullptr);

    // A channel no driver owns closes nothing; only the empty, unloadable driver goes.
    FakeCanLog otherLog;
    FakeCanChannel stranger("stranger", otherLog);
    adapters.CloseChannel(&stranger);
    EXPECT_EQ(adapters.Driver("Vci2.0"), nullptr);
    EXPECT_NE(adapters.Driver("Vector3.2"), nullptr);
    ASSERT_NE(adapters.Driver("Simulation"), nullptr);
    EXPECT_TRUE(adapters.Driver("Simulation")->Owns(sim));
    EXPECT_TRUE(otherLog.deleted.empty());
}

TEST(TCanAdapters, DriverThatFailsToLoadIsNotKeptAndIsTriedAgain)
{
    FakeCanLog log;
    int attempts = 0;
    std::vector<TCanDriverEntry> table{
        {"Vci3.0", "VCI 3",
         [&]() -> std::unique_ptr<TCanDriver> {
             if (++attempts == 1) throw TBaseError("TCanDriverVCI::TCanDriverVCI", "Dll defect or not found");
             return std::make_unique<FakeCanDriver>(log);
         },
         false, nullptr},
    };
    TCanAdapters adapters(std::move(table));
    try {
        adapters.OpenChannel("Vci3.0 USBtoCAN 1 1");
        FAIL() << "no error";
    } catch (const TBaseError& e) {
        EXPECT_EQ(e.Operation(), "TCanDriverVCI::TCanDriverVCI");
        EXPECT_EQ(e.Message(), "Dll defect or not found");
    }
    EXPECT_EQ(adapters.Driver("Vci3.0"), nullptr);
    EXPECT_EQ(TextOf(adapters.OpenChannel("Vci3.0 USBtoCAN 1 1")), "USBtoCAN 1 1");
    EXPECT_EQ(attempts, 2);
}

TEST(TCanAdapters, DestructionDeletesEveryDriverWithItsChannels)
{
    FakeCanLog log;
    {
        TCanAdapters adapters(FakeTable(log));
        adapters.OpenChannel("Simulation a");
        adapters.OpenChannel("Vector3.2 b");
        adapters.OpenChannel("Vci2.0 c");
    }
    EXPECT_EQ(log.driversDeleted, 3);
    EXPECT_EQ(log.deleted, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(TCanAdapters, CardDriversNotInThisBuildFailWithAClearError)
{
    TCanAdapters adapters;
    for (const char* description : {"Vector3.2 CANcaseXL 1 1", "Vci2.0 USBtoCAN 1 1", "Vci3.0 USBtoCAN 1 1"}) {
        try {
            adapters.OpenChannel(description);
            ADD_FAILURE() << "no error for " << description;
        } catch (const TBaseError& e) {
            EXPECT_EQ(e.Operation(), "TCanAdapters::OpenChannel");
            EXPECT_EQ(e.Message(), "Driver not available");
        }
        EXPECT_EQ(adapters.Driver(TAString(description).Word(0)), nullptr);
    }
}
