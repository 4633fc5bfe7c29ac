// The channel description that TCanAdapters assembles from an adapter's settings key.

#include "can/tcanadapters.h"

#include "support/tbaseerror.h"
#include "support/txmlelement.h"

#include <gtest/gtest.h>

namespace {

// A settings key as the channel dialog writes it: every setting a child element with text.
TXmlElement AdapterKey(const TAString& identifier,
                       const std::vector<std::pair<const char*, const char*>>& children)
{
    TXmlElement key(identifier);
    for (const auto& [address, text] : children) key[address]("<TEXT>") = text;
    return key;
}

TAString DescriptionAfterSaving(const TXmlElement& key)
{
    TXmlElement root("Quorvella");
    root["CanAdapter"].AddKey(key);
    return TCanAdapters::ChannelDescription(TXmlElement(root.DocumentText())["CanAdapter"].GetKey(0));
}

} // namespace

TEST(TCanAdaptersDescription, SimulationJoinsTheStoredNonEmptyCommEntriesInIndexOrder)
{
    // Fields 0, 3 and 5 filled: Comm[1], Comm[2] and Comm[4] exist only as empty
    // placeholders or blanks.
    const TXmlElement key = AdapterKey("Simulation", {{"DriverName", "Simulation"},
                                                      {"Comm[0]", "RAM 1 2"},
                                                      {"Comm[3]", "HDD a.txt b.txt"},
                                                      {"Comm[4]", "   "},
                                                      {"Comm[5]", "RAM 2 9"}});
    EXPECT_EQ(TCanAdapters::ChannelDescription(key), "Simulation RAM 1 2,HDD a.txt b.txt,RAM 2 9");
    EXPECT_EQ(DescriptionAfterSaving(key), "Simulation RAM 1 2,HDD a.txt b.txt,RAM 2 9");
    EXPECT_EQ(TCanAdapters::ChannelDescription(AdapterKey("Simulation", {{"DriverName", "Simulation"}})),
              "Simulation ");
}

TEST(TCanAdaptersDescription, CardDriversAppendBitTimingOnlyWithABaudrate)
{
    std::vector<std::pair<const char*, const char*>> card{
        {"DriverName", "Vector Informatik GmbH (VCANL 3.2)"},
        {"CardType", "CANcaseXL"}, {"CardIndex", "1"}, {"Channel", "2"}};
    EXPECT_EQ(TCanAdapters::ChannelDescription(AdapterKey("Vector3.2", card)), "Vector3.2 CANcaseXL 1 2");

    // Stored in another order than the description's.
    card.insert(card.end(), {{"presc", "2"}, {"sjw", "2"}, {"tseg1", "8"}, {"tseg2", "7"},
                             {"sam", "1"}, {"Baudrate", "250000"}});
    EXPECT_EQ(DescriptionAfterSaving(AdapterKey("Vector3.2", card)), "Vector3.2 CANcaseXL 1 2 250000 2 8 7 1 2");
}

TEST(TCanAdaptersDescription, MissingCardSettingIsRefusedInsteadOfShiftingTheWords)
{
    try {
        TCanAdapters::ChannelDescription(AdapterKey("Vci3.0", {{"CardType", "USBtoCAN"}, {"Channel", "1"}}));
        FAIL() << "no error";
    } catch (const TBaseError& e) {
        EXPECT_EQ(e.Operation(), "TCanAdapters::ChannelDescription");
        EXPECT_EQ(e.Message(), "Key[CardIndex] not found");
    }
}

TEST(TCanAdaptersDescription, EmptyOrSeveralWordSettingIsRefusedInsteadOfJoined)
{
    // The card with sjw cleared would read "Vci2.0 USBtoCAN 1 1 250000  8 7 1 2": tseg1 8
    // taken for sjw, and so on.
    const std::vector<std::pair<const char*, const char*>> card{
        {"DriverName", "IXXAT GmbH (VCI 2.x)"}, {"CardType", "USBtoCAN"}, {"CardIndex", "1"}, {"Channel", "1"},
        {"Baudrate", "250000"}, {"sjw", "2"}, {"tseg1", "8"}, {"tseg2", "7"}, {"sam", "1"}, {"presc", "2"}};
    const struct {
        const char* name;
        const char* text;
        const char* detail;
    } cases[] = {
        {"sjw", "", "the adapter setting sjw is empty"},
        {"sjw", "  ", "the adapter setting sjw is empty"},
        {"CardType", "USB to CAN", "the adapter setting CardType 'USB to CAN' is more than one word"},
        {"presc", "2 2", "the adapter setting presc '2 2' is more than one word"},
    };
    for (const auto& c : cases) {
        auto changed = card;
        for (auto& [name, text] : changed)
            if (std::string(name) == c.name) text = c.text;
        try {
            const TAString description = TCanAdapters::ChannelDescription(AdapterKey("Vci2.0", changed));
            ADD_FAILURE() << "accepted: " << description.str();
        } catch (const TBaseError& e) {
            EXPECT_EQ(e.Operation(), "TCanAdapters::ChannelDescription");
            EXPECT_EQ(e.Message(), TAString("Key[") + c.name + "] not one word");
            EXPECT_EQ(e.Detail(), c.detail);
        }
    }
    // Blanks around a word are no second word.
    auto padded = card;
    padded[5].second = " 2 ";
    EXPECT_EQ(TCanAdapters::ChannelDescription(AdapterKey("Vci2.0", padded)), "Vci2.0 USBtoCAN 1 1 250000 2 8 7 1 2");
}

TEST(TCanAdaptersDescription, KeysOfNoDriverGiveTheirNameAndABlank)
{
    // The first start's key "-", and the key the dialog stores with no driver selected;
    // both descriptions are refused by OpenChannel ("Driver not supported").
    EXPECT_EQ(TCanAdapters::ChannelDescription(TXmlElement("-")), "- ");
    EXPECT_EQ(TCanAdapters::ChannelDescription(AdapterKey("", {{"DriverName", "Simulation"}})), " ");
}
