#include "can/vci/tcandrivervci3.h"

#include "can/vci/tcanchannelvci3.h"
#include "support/tbaseerror.h"

#include <algorithm>

namespace {

constexpr const char* kDriverOperation = "TCanDriverVCI::TCanDriverVCI";
constexpr const char* kOpenOperation = "TCanDriverVCI::OpenChannel";

using Guid = TVci3Library::Guid;

struct TDeviceClass {
    const char* Name;
    Guid Class;
};

// The vendor's published device class identifiers.
constexpr TDeviceClass kDeviceClasses[] = {
    {"PCI04PCI", Guid::FromText("E7752D2E-28A3-4318-AF0C-02C756FBC25A")},
    {"PCI04104", Guid::FromText("0D2F015D-984E-4E95-86A0-C9AF51132FA6")},
    {"CANDYLITE", Guid::FromText("A323BB9E-A31B-4FD0-B603-29CCD57801A7")},
    {"IPCI320PCI", Guid::FromText("78B139E9-503A-47A8-B671-B2FC29444717")},
    {"IPCI320104", Guid::FromText("9BDA0CEA-B706-44EF-A453-8208667EB436")},
    {"IPCI165ISA", Guid::FromText("9D9AFCE2-C3FA-42B1-8325-E8760816F16C")},
    {"IPCI165PCI", Guid::FromText("1E28CE42-10AB-41A8-BF00-4DA611AB05FF")},
    {"IPCIXC16PCI", Guid::FromText("789CE2B8-814B-48A9-816A-C2E7C1E7D731")},
    {"TINCANV4", Guid::FromText("5A56027D-3D41-4A82-9821-F4E46FA26F0B")},
    {"TINCAN161", Guid::FromText("23E89775-1F7A-4CCE-90B9-E7182952DB35")},
    {"CANBLUE", Guid::FromText("021AAC76-B2FA-4909-BEB1-67D6C2283359")},
    {"USB2CANCOMPACT", Guid::FromText("853857B3-0B08-454C-93FB-2D166B72A5AA")},
    {"USB2CANII", Guid::FromText("13942C1E-CD73-4B7A-978B-8C2CD0B48394")},
    {"CANATNET2", Guid::FromText("97C04C74-FA6D-439D-9E32-359486385607")},
    {"EPLIB2XXPCI", Guid::FromText("D3DBCF02-C257-4E54-A8F4-AA26C9990568")},
    {"IPCIXC16PCIE", Guid::FromText("A196624D-DCC4-41B1-819B-16FFA1125589")},
    {"PLIB320PCI", Guid::FromText("32E9654E-9B34-4EA0-940B-1C52B1D38249")},
    {"FLEXRAYPCIE", Guid::FromText("61385611-CAE1-4AE9-8901-A0ED2096D4A4")},
    {"USBTOCANV2", Guid::FromText("2219F6A0-732A-4750-B66F-0AE731FB40E1")},
};

} // namespace

TCanDriverVCI3::TCanDriverVCI3()
    : TCanDriverVCI3(LibraryFile)
{
}

TCanDriverVCI3::TCanDriverVCI3(const TAString& libraryFile)
{
    TVci3Library::TLoad load = TVci3Library::TLoad::NotFound;
    library_ = TVci3Library::Load(libraryFile, load);
    if (load == TVci3Library::TLoad::NotFound) throw TBaseError(kDriverOperation, "Dll defect or not found");
    if (load == TVci3Library::TLoad::FunctionMissing) throw TBaseError(kDriverOperation, "Dll function not found");
    if (library_->Initialize() != TVci3Library::Ok) throw TBaseError(kDriverOperation, "Initialisation failed");
}

TCanDriverVCI3::~TCanDriverVCI3()
{
    CloseAllChannels();
    for (int i = 0; i < deviceCount_; ++i) library_->DeviceClose(devices_[static_cast<size_t>(i)].Handle);
}

TVci3Library::Guid TCanDriverVCI3::DeviceClass(const TAString& name)
{
    for (const TDeviceClass& device : kDeviceClasses)
        if (name == device.Name) return device.Class;
    throw TBaseError(kOpenOperation, "Unknown card '" + name + "'");
}

std::unique_ptr<TCanChannel> TCanDriverVCI3::CreateChannel(const TAString& text)
{
    const Guid deviceClass = DeviceClass(text.Word(0));
    const auto instance = static_cast<uint16_t>(text.Word(1).AsWord() - 1);

    const auto end = devices_.begin() + deviceCount_;
    auto device = std::find_if(devices_.begin(), end, [&](const TDevice& d) {
        return d.Class == deviceClass && d.Instance == instance;
    });
    if (device == end) {
        if (deviceCount_ >= MaxDevices) throw TBaseError(kOpenOperation, "more than 4 Boards open");
        TVci3Library::DeviceId id = ~TVci3Library::DeviceId{0};
        TVci3Library::Handle handle = 0;
        if (library_->FindDeviceByClass(deviceClass, instance, &id) != TVci3Library::Ok ||
            library_->DeviceOpen(id, &handle) != TVci3Library::Ok)
            throw TBaseError(kOpenOperation, "Board prepare error");
        *device = TDevice{handle, deviceClass, instance, 0};
        ++deviceCount_;
    }
    auto channel = std::make_unique<TCanChannelVCI3>(*library_, device->Handle, text);
    ++device->Channels;
    return channel;
}

void TCanDriverVCI3::DestroyChannel(std::unique_ptr<TCanChannel> channel)
{
    const TVci3Library::Handle handle = static_cast<const TCanChannelVCI3&>(*channel).DeviceHandle();
    channel.reset();
    const auto end = devices_.begin() + deviceCount_;
    auto device = std::find_if(devices_.begin(), end, [&](const TDevice& d) { return d.Handle == handle; });
    if (device != end && --device->Channels == 0) {
        library_->DeviceClose(device->Handle);
        std::move(device + 1, end, device);
        --deviceCount_;
        devices_[deviceCount_] = TDevice{};
    }
}
