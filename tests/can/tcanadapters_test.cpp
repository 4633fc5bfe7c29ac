#include "can/tcanadapters.h"

#include "fakecandriver.h"

#include <gtest/gtest.h>

namespace {

// The program's four slots with recording drivers; only the Vector slot stays loaded.
std::vector<TCanDriverEntry> FakeTable(FakeCanLog& log)
{
    auto make = [&log] { return std::make_unique<FakeCanDriver>(log); };
    return {{"Simulation", "", make, false, nullptr}, {"Vector3.2", "", make, true, nullptr},
            {"Vci2.0", "", make, false, nullptr}, {"Vci3.0", "", make, false, nullptr}};
}

void ExpectError(TCanAdapters& adapters, const TAString& description, const char* operation,
                 const char* message)
{
    try {
        adapters.OpenChannel(description);
        ADD_FAILURE() << "no error for '" << description.str() << "'";
    } catch (const TBaseError& e) {
        EXPECT_EQ(e.Operation(), operation) << description.str();
        EXPECT_EQ(e.Message(), message) << description.str();
    }
}

} // namespace

TEST(TCanAdapters, FirstWordsThatNameNoDriverAreNotSupported)
{
    FakeCanLog log;
    TCanAdapters adapters(FakeTable(log));
    for (const char* description : {"", "   ", "simulation RAM 1 1", "Vector CANcaseXL 1 1", "- "})
        ExpectError(adapters, description, "TCanAdapters::OpenChannel", "Driver not supported");
    EXPECT_EQ(log.driversMade, 0);
}

TEST(TCanAdapters, DriverGetsTheTextBehindItsWordAndOneCharacter)
{
    FakeCanLog log;
    TCanAdapters adapters(FakeTable(log));
    EXPECT_EQ(TextOf(adapters.OpenChannel("Simulation RAM 1 2,RAM 2 1")), "RAM 1 2,RAM 2 1");
    EXPECT_EQ(TextOf(adapters.OpenChannel("Simulation")), "");
    EXPECT_EQ(TextOf(adapters.OpenChannel("Simulation  two blanks")), " two blanks");
    EXPECT_EQ(TextOf(adapters.OpenChannel("Vci3.0\tUSBtoCAN 1 2")), "USBtoCAN 1 2");
}

TEST(TCanAdapters, ChannelsShareTheirDriverWhichGoesWithTheLastUnlessItIsVector)
{
    FakeCanLog log;
    TCanAdapters adapters(FakeTable(log));
    TCanChannel* sim1 = adapters.OpenChannel("Simulation a");
    TCanChannel* sim2 = adapters.OpenChannel("Simulation b");
    TCanChannel* vci = adapters.OpenChannel("Vci2.0 USBtoCAN 1 1");
    TCanChannel* vector = adapters.OpenChannel("Vector3.2 CANcaseXL 1 1");
    EXPECT_EQ(log.driversMade, 3);
    EXPECT_TRUE(adapters.Driver("Simulation")->Owns(sim2));

    adapters.CloseChannel(sim1);
    EXPECT_NE(adapters.Driver("Simulation"), nullptr);
    adapters.CloseChannel(sim2);
    adapters.CloseChannel(vci);
    adapters.CloseChannel(vector);
    EXPECT_EQ(adapters.Driver("Simulation"), nullptr);
    EXPECT_EQ(adapters.Driver("Vci2.0"), nullptr);
    ASSERT_NE(adapters.Driver("Vector3.2"), nullptr);
    EXPECT_EQ(log.driversDeleted, 2);

    adapters.OpenChannel("Vector3.2 CANcaseXL 1 2");   // served by the kept driver
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

TEST(TCanAdapters, FailedOpenKeepsTheDriverUntilAnyCloseDeletesIt)
{
    FakeCanLog log;
    TCanAdapters adapters(FakeTable(log));
    TCanChannel* sim = adapters.OpenChannel("Simulation a");
    ExpectError(adapters, "Vci2.0 fail", "FakeCanChannel::FakeCanChannel", "refused");
    EXPECT_NE(adapters.Driver("Vci2.0"), nullptr);

    FakeCanLog otherLog;
    FakeCanChannel stranger("stranger", otherLog);
    adapters.CloseChannel(&stranger);   // nobody's channel: only the empty driver goes
    EXPECT_EQ(adapters.Driver("Vci2.0"), nullptr);
    ASSERT_NE(adapters.Driver("Simulation"), nullptr);
    EXPECT_TRUE(adapters.Driver("Simulation")->Owns(sim));
    EXPECT_TRUE(otherLog.deleted.empty());
}

TEST(TCanAdapters, DriverThatFailsToLoadIsNotKeptAndIsTriedAgain)
{
    FakeCanLog log;
    int attempts = 0;
    TCanAdapters adapters({{"Vci3.0", "", [&]() -> std::unique_ptr<TCanDriver> {
                                if (++attempts == 1) throw TBaseError("TCanDriverVCI::TCanDriverVCI", "Dll defect or not found");
                                return std::make_unique<FakeCanDriver>(log);
                            }, false, nullptr}});
    ExpectError(adapters, "Vci3.0 x", "TCanDriverVCI::TCanDriverVCI", "Dll defect or not found");
    EXPECT_EQ(adapters.Driver("Vci3.0"), nullptr);
    EXPECT_EQ(TextOf(adapters.OpenChannel("Vci3.0 x")), "x");
}

TEST(TCanAdapters, CardDriversWithoutTheirLibraryFailWithTheDriversError)
{
    // None of the vendors' libraries is installed under its own name here.
    TCanAdapters adapters;
    const std::pair<const char*, const char*> cases[] = {
        {"Vector3.2 CANcaseXL 1 1", "TCanDrvVector::TCanDrvVector"},
        {"Vci2.0 USBtoCAN 1 1", "TCanDriverVCI::TCanDriverVCI"},
        {"Vci3.0 USB2CANCOMPACT 1 1", "TCanDriverVCI::TCanDriverVCI"},
    };
    for (const auto& [description, operation] : cases) {
        try {
            adapters.OpenChannel(description);
            ADD_FAILURE() << "no error for " << description;
        } catch (const TBaseError& e) {
            EXPECT_EQ(e.Operation(), operation);
        }
        EXPECT_EQ(adapters.Driver(TAString(description).Word(0)), nullptr);
    }
}
