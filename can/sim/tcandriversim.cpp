#include "can/sim/tcandriversim.h"

#include <utility>

TCanDriverSim::TCanDriverSim()
    : TCanDriverSim(TCanChannelSim::DefaultFactory(), TCanChannelSim::DefaultClock())
{
}

TCanDriverSim::TCanDriverSim(TCanChannelSim::CommFactory factory, TCanChannelSim::Clock clock)
    : factory_(std::move(factory)), clock_(std::move(clock))
{
}

std::unique_ptr<TCanChannel> TCanDriverSim::CreateChannel(const TAString& text)
{
    return std::make_unique<TCanChannelSim>(text, factory_, clock_);
}
