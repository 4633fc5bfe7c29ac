#include "can/tcandriverentry.h"

#include "support/ttreeerror.h"
#include "support/ttreekey.h"
#include "support/ttreevalue.h"

namespace {

// The settings dialog stores every setting as a child key with a text node.
const char* const TextName = "<TEXT>";

// The text a child holds: a value's own text, a key's text node (empty when it has none).
TAString TextOf(const TTree& child)
{
    if (const auto* value = dynamic_cast<const TTreeValue*>(&child)) return value->Value();
    const auto& key = dynamic_cast<const TTreeKey&>(child);
    return key.Contains(TextName) ? key(TextName) : TAString();
}

// The text of the first child named name. A missing one is refused rather than read as
// empty: it would shift the later words of the description onto the wrong meanings.
TAString ChildText(const TTreeKey& key, const TAString& name)
{
    for (int i = 0; i < key.Count(); ++i)
        if (key.GetEntry(i).Name() == name) return TextOf(key.GetEntry(i));
    throw TTreeError("TCanAdapters::ChannelDescription", "Key[" + name + "] not found");
}

// The one word of the child named name: an empty text or one of several words would
// shift the later words of the description onto the wrong meanings, so both are refused.
TAString ChildWord(const TTreeKey& key, const TAString& name)
{
    const TAString text = ChildText(key, name);
    if (text.WordCount() == 1) return text.Word(0);
    throw TTreeError("TCanAdapters::ChannelDescription", "Key[" + name + "] not one word",
                     text.WordCount() == 0 ? "the adapter setting " + name + " is empty"
                                           : "the adapter setting " + name + " '" + text + "' is more than one word");
}

} // namespace

TAString CommListDescription(const TTreeKey& key)
{
    // The dialog stores Comm[i] only for its non-empty fields, so indices may have gaps
    // (empty placeholders); an empty entry would make the channel fail to open.
    TAString result;
    bool first = true;
    for (int i = 0; i < key.Count(); ++i) {
        const TTree& child = key.GetEntry(i);
        if (child.Name() != "Comm") continue;
        const TAString text = TextOf(child);
        if (text.WordCount() == 0) continue;
        if (!first) result += ",";
        result += text;
        first = false;
    }
    return result;
}

TAString CardDescription(const TTreeKey& key)
{
    TAString result = ChildWord(key, "CardType") + " " + ChildWord(key, "CardIndex") + " "
                      + ChildWord(key, "Channel");
    if (key.Contains("Baudrate")) {
        for (const char* name : {"Baudrate", "sjw", "tseg1", "tseg2", "sam", "presc"})
            result += " " + ChildWord(key, name);
    }
    return result;
}
