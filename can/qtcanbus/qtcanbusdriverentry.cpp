#include "can/qtcanbus/qtcanbusdriverentry.h"

#include "can/qtcanbus/tcandriverqtcanbus.h"
#include "support/ttreeerror.h"
#include "support/ttreekey.h"
#include "support/ttreevalue.h"

namespace {

// The settings dialog stores every setting as a child key with a text node.
const char* const TextName = "<TEXT>";

const TTree* FindChild(const TTreeKey& key, const TAString& name)
{
    for (int i = 0; i < key.Count(); ++i)
        if (key.GetEntry(i).Name() == name) return &key.GetEntry(i);
    return nullptr;
}

// A value's own text, or a key's text node (empty when it has none).
TAString TextOf(const TTree& child)
{
    if (const auto* value = dynamic_cast<const TTreeValue*>(&child)) return value->Value();
    const auto& key = dynamic_cast<const TTreeKey&>(child);
    return key.Contains(TextName) ? key(TextName) : TAString();
}

// A setting that is one word; empty or several words would shift the description's words.
TAString OneWord(const TAString& name, const TAString& text)
{
    if (text.WordCount() == 1) return text.Word(0);
    throw TTreeError("TCanAdapters::ChannelDescription", "Key[" + name + "] not one word",
                     text.WordCount() == 0 ? "the adapter setting " + name + " is empty"
                                           : "the adapter setting " + name + " '" + text + "' is more than one word");
}

TAString RequiredText(const TTreeKey& key, const TAString& name)
{
    const TTree* child = FindChild(key, name);
    if (!child) throw TTreeError("TCanAdapters::ChannelDescription", "Key[" + name + "] not found");
    return OneWord(name, TextOf(*child));
}

} // namespace

TAString QtCanBusDescription(const TTreeKey& key)
{
    TAString result = RequiredText(key, "Plugin") + " " + RequiredText(key, "Interface");
    if (const TTree* rate = FindChild(key, "Baudrate")) {
        const TAString text = TextOf(*rate);
        if (text.WordCount() > 0) result += " " + OneWord("Baudrate", text);
    }
    return result;
}

TCanDriverEntry QtCanBusDriverEntry()
{
    // The caption settings files hold as DriverName since the dialog first offered the driver.
    return {"QtCanBus", "Qt CAN bus (SocketCAN, PEAK, virtual CAN)",
            [] { return std::make_unique<TCanDriverQtCanBus>(); }, false, QtCanBusDescription};
}

const std::vector<TCanDriverEntry>& QtCanBusDriverTable()
{
    static const std::vector<TCanDriverEntry> table = [] {
        std::vector<TCanDriverEntry> rows = CanDriverTable();
        rows.push_back(QtCanBusDriverEntry());
        return rows;
    }();
    return table;
}
