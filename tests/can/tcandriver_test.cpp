#include "can/tcandriver.h"

#include "fakecandriver.h"

#include <gtest/gtest.h>

TEST(TCanDriver, The257thChannelIsRefusedWithTheDriversOperation)
{
    FakeCanLog log;
    FakeCanDriver driver(log);
    for (int i = 0; i < 256; ++i) driver.OpenChannel(std::string("c").append(std::to_string(i)));
    try {
        driver.OpenChannel("one more");
        FAIL() << "no error";
    } catch (const TBaseError& e) {
        EXPECT_EQ(e.Operation(), "FakeCanDriver::OpenChannel");
        EXPECT_EQ(e.Message(), "Channels exeeded");
    }
    EXPECT_EQ(driver.ChannelCount(), 256);
    driver.CloseChannel(driver.Channel(0));
    EXPECT_EQ(TextOf(driver.OpenChannel("after a close")), "after a close");
}

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

TEST(TCanDriver, ClosedAndRemainingChannelsAreDeletedInTableOrderThroughTheHook)
{
    FakeCanLog log;
    std::vector<std::string> released;
    {
        ReleasingDriver driver(log, released);
        driver.OpenChannel("a");
        TCanChannel* b = driver.OpenChannel("b");
        driver.OpenChannel("c");
        driver.CloseChannel(b);
        driver.CloseChannel(nullptr);
        EXPECT_EQ(released, std::vector<std::string>{"b"});
    }
    EXPECT_EQ(released, (std::vector<std::string>{"b", "a", "c"}));
    EXPECT_EQ(log.deleted, (std::vector<std::string>{"b", "a", "c"}));
}
