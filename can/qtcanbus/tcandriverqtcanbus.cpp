#include "can/qtcanbus/tcandriverqtcanbus.h"

#include <utility>

TCanDriverQtCanBus::TCanDriverQtCanBus() : TCanDriverQtCanBus(TCanChannelQtCanBus::DefaultClock()) {}

TCanDriverQtCanBus::TCanDriverQtCanBus(TCanChannelQtCanBus::Clock clock) : clock_(std::move(clock)) {}

std::unique_ptr<TCanChannel> TCanDriverQtCanBus::CreateChannel(const TAString& text)
{
    return std::make_unique<TCanChannelQtCanBus>(text, clock_);
}
