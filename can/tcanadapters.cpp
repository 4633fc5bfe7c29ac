#include "can/tcanadapters.h"

#include "can/tcanchannel.h"
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

uint64_t TCanAdapters::CloseChannel(TCanChannel* channel, std::chrono::milliseconds drain)
{
    uint64_t undelivered = 0;
    for (const auto& slot : slots_)
        if (slot.driver && slot.driver->Owns(channel)) undelivered = channel->Drain(drain);
    for (auto& slot : slots_) {
        if (!slot.driver) continue;
        slot.driver->CloseChannel(channel);
        if (slot.driver->ChannelCount() == 0 && !slot.entry.StaysLoaded) slot.driver.reset();
    }
    return undelivered;
}

TBaseError TCanAdapters::NotDelivered(uint64_t frames, std::chrono::milliseconds drain)
{
    const double seconds = static_cast<double>(drain.count()) / 1000.0;
    return TBaseError("TCanAdapters::CloseChannel", "Frames not delivered",
                      TAString(std::to_string(frames)) + (frames == 1 ? " frame" : " frames")
                          + " written to the CAN channel could not be delivered: refused by a full send buffer,"
                            " or still waiting when the channel closed after " + TAString(seconds, 0, 1) + " s");
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
