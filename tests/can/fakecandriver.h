#pragma once
// A driver and channel that only record what happens to them, for the registry and
// driver bookkeeping tests.

#include "can/tcandriver.h"
#include "support/tbaseerror.h"

#include <memory>
#include <string>
#include <vector>

// What the fakes did, shared with the test.
struct FakeCanLog {
    std::vector<std::string> opened;   // channel texts in opening order
    std::vector<std::string> deleted;  // channel texts in deletion order
    int driversMade = 0;
    int driversDeleted = 0;
};

class FakeCanChannel : public TCanChannel {
public:
    FakeCanChannel(std::string text, FakeCanLog& log) : text_(std::move(text)), log_(log)
    {
        log_.opened.push_back(text_);
    }
    ~FakeCanChannel() override { log_.deleted.push_back(text_); }
    TCanFrame Read() override { return TCanFrame(); }
    void Write(const TCanFrame&) override {}
    const std::string& Text() const { return text_; }

private:
    std::string text_;
    FakeCanLog& log_;
};

// A channel text "fail" makes CreateChannel throw.
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
    return static_cast<const FakeCanChannel*>(channel)->Text();
}
