#include "can/tcanadapters.h"

#include "can/tcandriver.h"
#include "support/tbaseerror.h"
#include "support/ttreekey.h"

#include <utility>

namespace {

bool IsWordSeparator(char c)
{
    return c == '\0' || c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Position just behind the first word of text (0 when there is none).
int FirstWordEnd(const TAString& text)
{
    int pos = 0;
    while (pos < text.Length() && IsWordSeparator(text[pos])) ++pos;
    while (pos < text.Length() && !IsWordSeparator(text[pos])) ++pos;
    return pos;
}

} // namespace

TCanAdapters::TCanAdapters() : TCanAdapters(CanDriverTable()) {}

TCanAdapters::TCanAdapters(std::vector<TCanDriverEntry> table)
{
    slots_.reserve(table.size());
    for (auto& entry : table) slots_.push_back(Slot{std::move(entry), nullptr});
}

TCanAdapters::~TCanAdapters()
{
    for (auto& slot : slots_) slot.driver.reset();
}

TCanChannel* TCanAdapters::OpenChannel(const TAString& description)
{
    const TAString identifier = description.Word(0);
    for (auto& slot : slots_) {
        if (identifier.IsEmpty() || slot.entry.Identifier != identifier) continue;
        if (!slot.driver) {
            if (slot.entry.Create) slot.driver = slot.entry.Create();
            if (!slot.driver) throw TBaseError("TCanAdapters::OpenChannel", "Driver not available");
        }
        // The driver word and the one character after it are cut off; nothing is left
        // when the description ends with the word.
        return slot.driver->OpenChannel(description.SubString(FirstWordEnd(description) + 1));
    }
    throw TBaseError("TCanAdapters::OpenChannel", "Driver not supported");
}

void TCanAdapters::CloseChannel(TCanChannel* channel)
{
    for (auto& slot : slots_) {
        if (!slot.driver) continue;
        slot.driver->CloseChannel(channel);
        if (slot.driver->ChannelCount() == 0 && !slot.entry.StaysLoaded) slot.driver.reset();
    }
}

const TCanDriver* TCanAdapters::Driver(const TAString& identifier) const
{
    for (const auto& slot : slots_)
        if (slot.entry.Identifier == identifier) return slot.driver.get();
    return nullptr;
}

TAString TCanAdapters::ChannelDescription(const TTreeKey& key,
                                          const std::vector<TCanDriverEntry>& table)
{
    TAString description = key.Name() + " ";
    for (const auto& entry : table) {
        if (entry.Identifier != key.Name()) continue;
        if (entry.Describe) description += entry.Describe(key);
        break;
    }
    return description;
}
