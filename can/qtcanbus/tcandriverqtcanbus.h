#pragma once
// The Qt CAN bus driver: channels on the devices of Qt's CAN bus plugins
// (TCanChannelQtCanBus). Driver identifier "QtCanBus"; the registry row that reaches
// it is QtCanBusDriverEntry().

#include "can/tcandriver.h"
#include "can/qtcanbus/tcanchannelqtcanbus.h"

class TCanDriverQtCanBus : public TCanDriver {
public:
    TCanDriverQtCanBus();
    // Channels stamping received frames with this clock (tests).
    explicit TCanDriverQtCanBus(TCanChannelQtCanBus::Clock clock);
    ~TCanDriverQtCanBus() override = default;

protected:
    TAString OperationClass() const override { return "TCanDriverQtCanBus"; }
    std::unique_ptr<TCanChannel> CreateChannel(const TAString& text) override;

private:
    TCanChannelQtCanBus::Clock clock_;
};
