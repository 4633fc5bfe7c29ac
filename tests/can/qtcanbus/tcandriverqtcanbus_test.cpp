// The Qt CAN bus driver behind the registry: its row, its channel bookkeeping and the
// description from its settings key.

#include "can/qtcanbus/qtcanbusdriverentry.h"
#include "can/qtcanbus/tcandriverqtcanbus.h"
#include "can/tcanadapters.h"

#include "support/tbaseerror.h"
#include "support/ttreeerror.h"
#include "support/txmlelement.h"
#include "tests/can/qtcanbus/virtualbus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono;

TAString BusDescription()
{
    return TAString("QtCanBus ") + virtualbus::Description(virtualbus::TestPort()).c_str();
}

// A settings key as the channel dialog writes it: every setting a child element with text.
TXmlElement AdapterKey(const std::vector<std::pair<const char*, const char*>>& children)
{
    TXmlElement key("QtCanBus");
    for (const auto& [address, text] : children) key[address]("<TEXT>") = text;
    return key;
}

// Lets a close on the bus settle: the server forgets a client only when it has left.
bool Arrives(TCanChannel& from, TCanChannel& to)
{
    const auto deadline = steady_clock::now() + seconds(5);
    while (steady_clock::now() < deadline) {
        from.Write(TCanFrame(0x18FEF100u, {1, 2, 3, 4, 5, 6, 7, 8}, 8));
        std::this_thread::sleep_for(milliseconds(20));
        if (!to.Read().IsNone()) return true;
    }
    return false;
}

} // namespace

TEST(TCanDriverQtCanBus, RegistryMakesTheDriverOnFirstUseAndDeletesItWithItsLastChannel)
{
    TCanAdapters registry(QtCanBusDriverTable());
    ASSERT_EQ(QtCanBusDriverTable().size(), CanDriverTable().size() + 1);
    EXPECT_EQ(QtCanBusDriverTable().back().Identifier, "QtCanBus");
    EXPECT_EQ(registry.Driver("QtCanBus"), nullptr);

    TCanChannel* first = registry.OpenChannel(BusDescription());
    TCanChannel* second = registry.OpenChannel(BusDescription());
    const TCanDriver* driver = registry.Driver("QtCanBus");
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->ChannelCount(), 2);
    EXPECT_TRUE(Arrives(*first, *second));

    registry.CloseChannel(first);
    EXPECT_EQ(registry.Driver("QtCanBus"), driver);
    EXPECT_EQ(driver->ChannelCount(), 1);
    registry.CloseChannel(second);
    EXPECT_EQ(registry.Driver("QtCanBus"), nullptr);

    // A failed open keeps the newly made driver in its slot.
    EXPECT_THROW(registry.OpenChannel("QtCanBus nosuchplugin can0"), TBaseError);
    ASSERT_NE(registry.Driver("QtCanBus"), nullptr);
    EXPECT_EQ(registry.Driver("QtCanBus")->ChannelCount(), 0);
    // The identifier is compared exactly.
    try {
        registry.OpenChannel("qtcanbus virtualcan can0");
        ADD_FAILURE() << "lower-case identifier opened";
    } catch (const TBaseError& e) {
        EXPECT_EQ(e.Message(), "Driver not supported");
    }
}

TEST(TCanDriverQtCanBus, TwoHundredFiftySeventhChannelExceedsTheTable)
{
    TCanDriverQtCanBus driver;
    const TAString text = virtualbus::Description(virtualbus::TestPort()).c_str();
    for (int i = 0; i < TCanDriver::MaxChannels; ++i) ASSERT_NE(driver.OpenChannel(text), nullptr) << i;
    try {
        driver.OpenChannel(text);
        ADD_FAILURE() << "257th channel opened";
    } catch (const TBaseError& e) {
        EXPECT_EQ(e.Operation(), "TCanDriverQtCanBus::OpenChannel");
        EXPECT_EQ(e.Message(), "Channels exeeded");
    }
    EXPECT_EQ(driver.ChannelCount(), TCanDriver::MaxChannels);

    // The first and the last channel still share the bus.
    EXPECT_TRUE(Arrives(*driver.Channel(0), *driver.Channel(TCanDriver::MaxChannels - 1)));
}

TEST(TCanDriverQtCanBus, DescriptionFromSettingsHasPluginInterfaceAndBaudrateWhenSet)
{
    const auto table = QtCanBusDriverTable();
    EXPECT_EQ(TCanAdapters::ChannelDescription(
                  AdapterKey({{"Plugin", "socketcan"}, {"Interface", "can0"}, {"Baudrate", "250000"}}), table),
              "QtCanBus socketcan can0 250000");
    EXPECT_EQ(TCanAdapters::ChannelDescription(AdapterKey({{"Interface", "can0"}, {"Plugin", "virtualcan"}}), table),
              "QtCanBus virtualcan can0");
    // An empty Baudrate is "not set": no trailing blank that would end in a bit rate error.
    EXPECT_EQ(TCanAdapters::ChannelDescription(
                  AdapterKey({{"Plugin", "peakcan"}, {"Interface", "usb0"}, {"Baudrate", ""}}), table),
              "QtCanBus peakcan usb0");
    try {
        TCanAdapters::ChannelDescription(AdapterKey({{"Plugin", "socketcan"}}), table);
        ADD_FAILURE() << "description without an interface";
    } catch (const TTreeError& e) {
        EXPECT_EQ(e.Operation(), "TCanAdapters::ChannelDescription");
        EXPECT_EQ(e.Message(), "Key[Interface] not found");
    }
    // An empty or a two-word setting would shift the words: refused, naming the setting.
    const struct {
        std::vector<std::pair<const char*, const char*>> children;
        const char* message;
        const char* detail;
    } refused[] = {
        {{{"Plugin", "socketcan"}, {"Interface", ""}}, "Key[Interface] not one word",
         "the adapter setting Interface is empty"},
        {{{"Plugin", "socket can"}, {"Interface", "can0"}}, "Key[Plugin] not one word",
         "the adapter setting Plugin 'socket can' is more than one word"},
        {{{"Plugin", "peakcan"}, {"Interface", "usb0"}, {"Baudrate", "250 000"}}, "Key[Baudrate] not one word",
         "the adapter setting Baudrate '250 000' is more than one word"},
    };
    for (const auto& r : refused) {
        try {
            TCanAdapters::ChannelDescription(AdapterKey(r.children), table);
            ADD_FAILURE() << r.message;
        } catch (const TTreeError& e) {
            EXPECT_EQ(e.Message(), r.message);
            EXPECT_EQ(e.Detail(), r.detail);
        }
    }
}

TEST(TCanDriverQtCanBus, OffersThePluginsAndTheVirtualBusInterfaces)
{
    const std::vector<std::string> plugins = TCanDriverQtCanBus::Plugins();
    EXPECT_TRUE(std::is_sorted(plugins.begin(), plugins.end()));
    EXPECT_NE(std::find(plugins.begin(), plugins.end(), "virtualcan"), plugins.end());
    EXPECT_NE(std::find(plugins.begin(), plugins.end(), "socketcan"), plugins.end());
    EXPECT_EQ(TCanDriverQtCanBus::Interfaces("virtualcan"), (std::vector<std::string>{"can0", "can1"}));
    EXPECT_TRUE(TCanDriverQtCanBus::Interfaces("nosuchplugin").empty());
}
