#include "can/tcandriver.h"

#include "fakecandriver.h"

#include <gtest/gtest.h>

namespace {

// Releases a shared resource per channel, as drivers with boards do, and closes its
// channels itself before the base deletes anything.
class ReleasingDriver : public FakeCanDriver {
public:
    ReleasingDriver(FakeCanLog& log, std::vector<std::string>& released)
        : FakeCanDriver(log), released_(released) {}
    ~ReleasingDriver() override { CloseAllChannels(); }

protected:
    void DestroyChannel(std::unique_ptr<TCanChannel> channel) override
    {
        released_.push_back(TextOf(channel.get()));
        TCanDriver::DestroyChannel(std::move(channel));
    }

private:
    std::vector<std::string>& released_;
};

} // namespace

TEST(TCanDriver, The257thChannelIsRefusedWithTheDriversOperation)
{
    FakeCanLog log;
    FakeCanDriver driver(log);
    for (int i = 0; i < 256; ++i) driver.OpenChannel("c" + std::to_string(i));
    try {
        driver.OpenChannel("one more");
        FAIL() << "no error";
    } catch (const TBaseError& e) {
        EXPECT_EQ(e.Operation(), "FakeCanDriver::OpenChannel");
        EXPECT_EQ(e.Message(), "Channels exeeded");
    }
    EXPECT_EQ(driver.ChannelCount(), 256);
    EXPECT_EQ(log.opened.size(), 256u);   // the refused channel was never made

    driver.CloseChannel(driver.Channel(0));
    EXPECT_NO_THROW(driver.OpenChannel("after a close"));
    EXPECT_EQ(TextOf(driver.Channel(255)), "after a close");
}

TEST(TCanDriver, ClosingTheMiddleOfThreeKeepsTheOthersInOrder)
{
    FakeCanLog log;
    FakeCanDriver driver(log);
    TCanChannel* a = driver.OpenChannel("a");
    TCanChannel* b = driver.OpenChannel("b");
    TCanChannel* c = driver.OpenChannel("c");

    driver.CloseChannel(b);

    EXPECT_EQ(log.deleted, std::vector<std::string>{"b"});
    ASSERT_EQ(driver.ChannelCount(), 2);
    EXPECT_EQ(driver.Channel(0), a);
    EXPECT_EQ(driver.Channel(1), c);
    EXPECT_FALSE(driver.Owns(b));
}

TEST(TCanDriver, ForeignAndNullChannelsAreIgnored)
{
    FakeCanLog log;
    FakeCanDriver driver(log);
    FakeCanDriver other(log);
    driver.OpenChannel("mine");
    TCanChannel* foreign = other.OpenChannel("theirs");

    driver.CloseChannel(foreign);
    driver.CloseChannel(nullptr);

    EXPECT_TRUE(log.deleted.empty());
    EXPECT_EQ(driver.ChannelCount(), 1);
    EXPECT_TRUE(other.Owns(foreign));
}

TEST(TCanDriver, FailedOpenPassesTheErrorAndLeavesTheTable)
{
    FakeCanLog log;
    FakeCanDriver driver(log);
    driver.OpenChannel("a");
    try {
        driver.OpenChannel("fail");
        FAIL() << "no error";
    } catch (const TBaseError& e) {
        EXPECT_EQ(e.Operation(), "FakeCanChannel::FakeCanChannel");
        EXPECT_EQ(e.Message(), "refused");
    }
    EXPECT_EQ(driver.ChannelCount(), 1);
}

TEST(TCanDriver, DestructionDeletesOpenChannelsInTableOrder)
{
    FakeCanLog log;
    {
        FakeCanDriver driver(log);
        driver.OpenChannel("a");
        TCanChannel* b = driver.OpenChannel("b");
        driver.OpenChannel("c");
        driver.OpenChannel("d");
        driver.CloseChannel(b);
    }
    EXPECT_EQ(log.deleted, (std::vector<std::string>{"b", "a", "c", "d"}));
}

TEST(TCanDriver, DriverReleasesEachChannelThroughItsHookOnCloseAndDestruction)
{
    FakeCanLog log;
    std::vector<std::string> released;
    {
        ReleasingDriver driver(log, released);
        driver.OpenChannel("a");
        TCanChannel* b = driver.OpenChannel("b");
        driver.OpenChannel("c");
        driver.CloseChannel(b);
        EXPECT_EQ(released, std::vector<std::string>{"b"});
    }
    EXPECT_EQ(released, (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_EQ(log.deleted, (std::vector<std::string>{"b", "a", "c"}));
}
