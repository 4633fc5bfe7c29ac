#pragma once
// The rules of the options window, without the window: which texts are valid for the
// source address and the priority, what Apply makes of any text, and the list of
// parameter groups that can be left out. The applied record is what the run engine
// reads (TFrameOptions).
//
//   source address: a byte in hexadecimal, "xFE", "FE" or "fe"; anything else is
//                   replaced by 0 and the text "x00" on Apply;
//   priority:       the text's leading decimal integer, low 8 bits; above 7 (or no
//                   number at all in range of 64 bits) is replaced by 6 and the text "6".
//                   "256" applies 0, "-1" applies 6.

#include "engine/tframeoptions.h"
#include "support/tastring.h"

#include <optional>
#include <vector>

class TBusFmsStandard;

struct TOptionsApplied {
    TFrameOptions Options;
    // Replacement texts for the edits when their text was refused.
    std::optional<TAString> SourceAddressText;
    std::optional<TAString> PriorityText;
    // At least one group was left out: "Output is not conform to FMS-Standard".
    bool NotConform = false;
};

class TOptionsEditor {
public:
    static constexpr const char* NotConformText = "Output is not conform to FMS-Standard";
    static constexpr const char* NotConformCaption = "Warning";

    // Text colour rules of the edits while typing: true = black, false = red.
    static bool SourceAddressTextOk(const TAString& text);
    static bool PriorityTextOk(const TAString& text);

    // "x" + two upper-case hex digits, and the decimal priority, as Cancel shows them.
    static TAString SourceAddressText(uint8_t sourceAddress);
    static TAString PriorityText(uint8_t priority);

    // One item per identifier of the catalogue's list: "xx" + PGN as four hex digits,
    // two blanks, the group's name ("xxFEF1  Cruise Control/Vehicle Speed").
    static std::vector<TAString> FrameItems(const TBusFmsStandard& catalogue);

    // The edited record from the edits' texts and the items' check marks.
    static TOptionsApplied Apply(const TAString& sourceAddressText, const TAString& priorityText,
                                 const std::vector<bool>& frameChecked);

    // The flag index of a parameter group number (bits 8..23 of an identifier) in the
    // catalogue's list, or -1.
    static int FrameIndexOfPgn(const TBusFmsStandard& catalogue, uint32_t pgn);

private:
    // Leading decimal integer with optional blanks and sign; no digits gives 0;
    // nothing when it does not fit 64 bits.
    static std::optional<int64_t> LeadingInteger(const TAString& text);
};
