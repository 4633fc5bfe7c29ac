#pragma once
// The Qt CAN bus driver: channels on the devices of Qt's CAN bus plugins
// (TCanChannelQtCanBus). Driver identifier "QtCanBus"; the registry row that reaches
// it is QtCanBusDriverEntry().

#include "can/tcandriver.h"
#include "can/qtcanbus/tcanchannelqtcanbus.h"

#include <string>
#include <vector>

class TCanDriverQtCanBus : public TCanDriver {
public:
    TCanDriverQtCanBus();
    // Channels stamping received frames with this clock (tests).
    explicit TCanDriverQtCanBus(TCanChannelQtCanBus::Clock clock);
    ~TCanDriverQtCanBus() override = default;

    // What the plugins offer, for a dialog that lets the user choose; both ask Qt on the
    // Qt CAN bus thread and return an empty list when it does not answer within a second.
    // The plugins' names, sorted ("passthrucan", "peakcan", "socketcan", ...).
    static std::vector<std::string> Plugins();
    // The interfaces that plugin reports ("can0", "can1" for "virtualcan"); none for an
    // unknown plugin or one that cannot tell.
    static std::vector<std::string> Interfaces(const std::string& plugin);

protected:
    TAString OperationClass() const override { return "TCanDriverQtCanBus"; }
    std::unique_ptr<TCanChannel> CreateChannel(const TAString& text) override;

private:
    TCanChannelQtCanBus::Clock clock_;
};
