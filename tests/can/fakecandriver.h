#pragma once
// A driver whose channels record their opening and deletion, for the bookkeeping tests.
// The channel text "fail" makes the driver refuse the channel.

#include "can/tcandriver.h"
#include "support/tbaseerror.h"

#include <string>
#include <vector>

struct FakeCanLog {
    std::vector<std::string> deleted;   // channel texts in deletion order
    int driversMade = 0;
    int driversDeleted = 0;
};

class FakeCanChannel : public TCanChannel {
public:
    FakeCanChannel(std::string text, FakeCanLog& log) : Text(std::move(text)), log_(log) {}
    ~FakeCanChannel() override { log_.deleted.push_back(Text); }
    TCanFrame Read() override { return TCanFrame(); }
    void Write(const TCanFrame&) override {}
    const std::string Text;

private:
    FakeCanLog& log_;
};

class FakeCanDriver : public TCanDriver {
public:
    explicit FakeCanDriver(FakeCanLog& log) : log_(log) { ++log_.driversMade; }
    ~FakeCanDriver() override { ++log_.driversDeleted; }

protected:
    TAString OperationClass() const override { return "FakeCanDriver"; }
    std::unique_ptr<TCanChannel> CreateChannel(const TAString& text) override
    {
        if (text == "fail") throw TBaseError("FakeCanChannel::FakeCanChannel", "refused");
        return std::make_unique<FakeCanChannel>(text.str(), log_);
    }

private:
    FakeCanLog& log_;
};

inline std::string TextOf(const TCanChannel* channel)
{
    return static_cast<const FakeCanChannel*>(channel)->Text;
}
