#include "engine/toptionseditor.h"

#include "fms/tbusfmsstandard.h"
#include "support/tbaseerror.h"

#include <cstdio>
#include <limits>

std::optional<int64_t> TOptionsEditor::LeadingInteger(const TAString& text)
{
    const std::string& s = text.str();
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    int64_t value = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        const int digit = s[i] - '0';
        if (value > (std::numeric_limits<int64_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

bool TOptionsEditor::SourceAddressTextOk(const TAString& text)
{
    try {
        (void)text.AsByte(TAString::nmHex);
        return true;
    } catch (const TBaseError&) {
        return false;
    }
}

bool TOptionsEditor::PriorityTextOk(const TAString& text)
{
    const std::optional<int64_t> value = LeadingInteger(text);
    return value && *value >= 0 && *value <= 7;
}

TAString TOptionsEditor::SourceAddressText(uint8_t sourceAddress)
{
    return "x" + TAString::Hex8(sourceAddress);
}

TAString TOptionsEditor::PriorityText(uint8_t priority)
{
    return TAString(static_cast<int32_t>(priority));
}

std::vector<TAString> TOptionsEditor::FrameItems(const TBusFmsStandard& catalogue)
{
    std::vector<TAString> items;
    for (uint32_t id : catalogue.FrameIds()) {
        if (id == TBusFmsStandard::EndOfIds) break;
        items.push_back("xx" + TAString::Hex16(static_cast<uint16_t>(id >> 8)) + "  " +
                        TBusFmsStandard::GetPgnName(id, 0));
    }
    return items;
}

int TOptionsEditor::FrameIndexOfPgn(const TBusFmsStandard& catalogue, uint32_t pgn)
{
    int index = 0;
    for (uint32_t id : catalogue.FrameIds()) {
        if (id == TBusFmsStandard::EndOfIds) break;
        if (((id >> 8) & 0xFFFFu) == (pgn & 0xFFFFu)) return index;
        ++index;
    }
    return -1;
}

TOptionsApplied TOptionsEditor::Apply(const TAString& sourceAddressText, const TAString& priorityText,
                                      const std::vector<bool>& frameChecked)
{
    TOptionsApplied result;
    try {
        result.Options.SourceAddress = sourceAddressText.AsByte(TAString::nmHex);
    } catch (const TBaseError&) {
        result.Options.SourceAddress = 0;
        result.SourceAddressText = TAString("x00");
    }

    const std::optional<int64_t> priority = LeadingInteger(priorityText);
    const uint8_t low = priority ? static_cast<uint8_t>(static_cast<uint64_t>(*priority) & 0xFFu) : 0xFF;
    if (low > 7) {
        result.Options.Priority = 6;
        result.PriorityText = TAString("6");
    } else {
        result.Options.Priority = low;
    }

    for (size_t i = 0; i < frameChecked.size() && i < result.Options.FrameFlags.size(); ++i) {
        result.Options.FrameFlags[i] = frameChecked[i] ? 1 : 0;
        if (!frameChecked[i]) result.NotConform = true;
    }
    return result;
}
