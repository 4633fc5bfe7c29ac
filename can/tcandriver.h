#pragma once
// A CAN driver: makes and owns the channels opened through it.
//
// The base keeps the channel table (at most MaxChannels, in opening order) and does
// the open/close bookkeeping; a driver implements only how a channel is made
// (CreateChannel) and, where it holds shared resources such as boards, how one is
// released (DestroyChannel).

#include "can/tcanchannel.h"
#include "support/tastring.h"

#include <memory>
#include <vector>

class TCanDriver {
public:
    static constexpr int MaxChannels = 256;

    TCanDriver() = default;
    // Deletes every channel still open, in table order.
    virtual ~TCanDriver();
    TCanDriver(const TCanDriver&) = delete;
    TCanDriver& operator=(const TCanDriver&) = delete;

    // Opens a channel from text, the channel description without its driver word and
    // the character after it. With MaxChannels open throws TBaseError(
    // OperationClass() + "::OpenChannel", "Channels exeeded"); errors of the driver's
    // CreateChannel pass unchanged. The channel stays owned by this driver.
    TCanChannel* OpenChannel(const TAString& text);
    // Deletes the channel if this driver owns it; the later channels move down one
    // place, keeping their order. A channel of another driver (or null) is ignored.
    void CloseChannel(TCanChannel* channel);

    int ChannelCount() const { return static_cast<int>(channels_.size()); }
    // The i-th open channel in opening order (0-based); null out of range.
    TCanChannel* Channel(int index) const;
    bool Owns(const TCanChannel* channel) const;

protected:
    // The class name that the driver's errors carry ("TCanDriverSim").
    virtual TAString OperationClass() const = 0;
    // Makes a new channel from text; throws on failure.
    virtual std::unique_ptr<TCanChannel> CreateChannel(const TAString& text) = 0;
    // Called with a channel that has left the table; the default deletes it. A driver
    // that shares a board among channels releases its part here.
    virtual void DestroyChannel(std::unique_ptr<TCanChannel> channel);
    // Closes every open channel through CloseChannel (so through DestroyChannel) in
    // table order; for destructors of drivers that release shared resources per channel.
    void CloseAllChannels();

private:
    std::vector<std::unique_ptr<TCanChannel>> channels_;
};
