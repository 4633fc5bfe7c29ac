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

uint64_t TCanAdapters::CloseChannel(TCanChannel* channel, std::chrono::milliseconds drain, const TClosing& closing)
{
    bool owned = false;
    for (const auto& slot : slots_)
        if (slot.driver && slot.driver->Owns(channel)) owned = true;
    if (!owned) return CloseChannel(channel, drain);
    const uint64_t undelivered = channel->Drain(drain);
    channel->StopReceiving();
    // Nothing more comes in: reading ends when the channel holds no further frame (or, for
    // a driver that cannot stop its hardware receiving, after a bound). A frame with an
    // error (a cut record) is told and reading goes on.
    for (int frames = 0; frames < MaxFramesAtClose; ++frames) {
        try {
            const TCanFrame frame = channel->Read();
            if (frame.IsNone()) break;
            if (closing.received) closing.received(frame);
        } catch (const TBaseError& e) {
            if (closing.error) closing.error(e);
        }
    }
    if (const std::optional<TBaseError> losses = channel->ReceiveLosses(); losses && closing.error)
        closing.error(*losses);
    // Drained already: the close itself waits no more.
    CloseChannel(channel, std::chrono::milliseconds(0));
    if (undelivered > 0 && closing.error) closing.error(NotDelivered(undelivered, drain));
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
