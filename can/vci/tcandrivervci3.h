#pragma once
// The IXXAT VCI 3 driver (identifier "Vci3.0"): CAN channels on IXXAT devices through
// the VCI 3 library ("vcinpl.dll"), loaded when the driver is made and unloaded when it
// goes away.
//
// Devices are found by their class identifier (from the card name) and instance; up to
// four are open at a time, each opened by the first channel that names it and closed
// when its last channel closes. Channel text as for the VCI 2 driver, for example
// "USB2CANCOMPACT 1 1 250000 2 8 7 1 2". Its errors carry the VCI 2 driver's operation
// names ("TCanDriverVCI::TCanDriverVCI", "TCanDriverVCI::OpenChannel"), so that both
// drivers' errors read the same to the user.

#include "can/tcandriver.h"
#include "can/vci/tvci3library.h"
#include "support/tastring.h"

#include <array>
#include <cstdint>
#include <memory>

class TCanDriverVCI3 : public TCanDriver {
public:
    static constexpr const char* LibraryFile = "vcinpl.dll";
    static constexpr int MaxDevices = 4;

    TCanDriverVCI3();
    // Loads libraryFile and initialises it. Throws TBaseError("TCanDriverVCI::
    // TCanDriverVCI", "Dll defect or not found", "Dll function not found" or
    // "Initialisation failed").
    explicit TCanDriverVCI3(const TAString& libraryFile);
    // Closes every channel, then the devices still open, then unloads the library.
    ~TCanDriverVCI3() override;

    // The device class of a card name. Throws TBaseError("TCanDriverVCI::OpenChannel",
    // "Unknown card '<name>'") for a name that is not in the table.
    static TVci3Library::Guid DeviceClass(const TAString& name);

    int DeviceCount() const { return deviceCount_; }

protected:
    TAString OperationClass() const override { return "TCanDriverVCI"; }
    // Errors: "Unknown card '<name>'", "more than 4 Boards open", "Board prepare error";
    // and those of TCanChannelVCI3. A device opened for a channel that then fails stays
    // open (without channels) for the next channel on it.
    std::unique_ptr<TCanChannel> CreateChannel(const TAString& text) override;
    // Closes the channel's device when it was the device's last channel.
    void DestroyChannel(std::unique_ptr<TCanChannel> channel) override;

private:
    struct TDevice {
        TVci3Library::Handle Handle = 0;
        TVci3Library::Guid Class;
        uint16_t Instance = 0;
        uint16_t Channels = 0;
    };

    std::unique_ptr<TVci3Library> library_;
    std::array<TDevice, MaxDevices> devices_{};
    uint16_t deviceCount_ = 0;
};
