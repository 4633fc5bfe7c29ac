#include "can/tcandriver.h"

#include "support/tbaseerror.h"

#include <algorithm>
#include <utility>

TCanDriver::~TCanDriver()
{
    // Table order, whatever order the vector would choose on its own.
    for (auto& channel : channels_) channel.reset();
}

TCanChannel* TCanDriver::OpenChannel(const TAString& text)
{
    if (ChannelCount() >= MaxChannels)
        throw TBaseError(OperationClass() + "::OpenChannel", "Channels exeeded");
    std::unique_ptr<TCanChannel> channel = CreateChannel(text);
    TCanChannel* result = channel.get();
    channels_.push_back(std::move(channel));
    return result;
}

void TCanDriver::CloseChannel(TCanChannel* channel)
{
    if (!channel) return;
    auto it = std::find_if(channels_.begin(), channels_.end(),
                           [channel](const auto& own) { return own.get() == channel; });
    if (it == channels_.end()) return;
    std::unique_ptr<TCanChannel> closing = std::move(*it);
    channels_.erase(it);
    DestroyChannel(std::move(closing));
}

TCanChannel* TCanDriver::Channel(int index) const
{
    if (index < 0 || index >= ChannelCount()) return nullptr;
    return channels_[static_cast<size_t>(index)].get();
}

bool TCanDriver::Owns(const TCanChannel* channel) const
{
    return channel && std::any_of(channels_.begin(), channels_.end(),
                                  [channel](const auto& own) { return own.get() == channel; });
}

void TCanDriver::DestroyChannel(std::unique_ptr<TCanChannel> channel)
{
    channel.reset();
}

void TCanDriver::CloseAllChannels()
{
    while (!channels_.empty()) CloseChannel(channels_.front().get());
}
