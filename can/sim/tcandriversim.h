#pragma once
// The simulation driver: CAN channels without hardware, carried over communication
// channels (TCanChannelSim). Driver identifier "Simulation".

#include "can/tcandriver.h"
#include "can/sim/tcanchannelsim.h"

class TCanDriverSim : public TCanDriver {
public:
    TCanDriverSim();
    // Channels made with this factory and clock (tests).
    TCanDriverSim(TCanChannelSim::CommFactory factory, TCanChannelSim::Clock clock);
    ~TCanDriverSim() override = default;

protected:
    TAString OperationClass() const override { return "TCanDriverSim"; }
    std::unique_ptr<TCanChannel> CreateChannel(const TAString& text) override;

private:
    TCanChannelSim::CommFactory factory_;
    TCanChannelSim::Clock clock_;
};
