#pragma once
// The choices of the validity manipulation: for every signal of the catalogue whether
// it is sent normally or with one of the J1939 indicator values, without any window.
//
// Each row (one per signal, in catalogue order) has a list of items, the states its
// field can send; item 0 is always "Valid Signal". Numbers and enumerations by their
// BitLength:
//     2 bits       "11 = not available", "10 = Error"
//     3 bits       "111 = not available", "110 = Error"
//     4 bits       "1111 = not available " (trailing blank), "1110 = Error"
//     8, 16, 32    "FF = not available", "FE = Error", "FD = Reserved 2",
//                  "FC = Reserved 1", "FB = Parameter specific"
//     other        "FF = not available"
// Texts and tell-tales, whatever their length, only "FF = not available": they have no
// other code (a 32-bit text in "error" would go out as FFFFFFFF all the same).
// Item 1..5 stand for msNotAvailable, msError, msReserved2, msReserved1,
// msParamSpecific; item 0 and NoItem (a typed text that matches no item) for "Valid
// Signal": the value keeps its own state, so an out-of-range value stays "o".
//
// A row has a pending choice (what the window shows) and an applied choice (what
// Execute uses); both start at 0. Apply copies pending to applied, Cancel the reverse.

#include "fms/tmeasval.h"
#include "support/tastring.h"

#include <cstdint>
#include <vector>

class TBusFmsStandard;
class TFmsMeasVal;

class TValidManip {
public:
    static constexpr int NoItem = -1;   // the typed text matches no item

    struct TRow {
        TAString Name;
        uint16_t BitLength = 0;
        std::vector<TAString> Items;
        int Pending = 0;
        int Applied = 0;
    };

    // Rows from a temporary catalogue of FMS version "00.02" (86 rows).
    TValidManip();
    // Rows from the names and bit lengths of catalogue's signals.
    explicit TValidManip(const TBusFmsStandard& catalogue);

    // The items offered for a number or enumeration of bitLength bits, item 0 first.
    static std::vector<TAString> Choices(uint16_t bitLength);
    // The items offered for signal: by its bit length, only "not available" for a text
    // or the tell-tales.
    static std::vector<TAString> Choices(const TFmsMeasVal& signal);
    // The state an item stands for: 0 msValid, 1 msNotAvailable, 2 msError,
    // 3 msReserved2, 4 msReserved1, 5 msParamSpecific, anything else msValid.
    static TMeasState ChoiceState(int item);

    int RowCount() const { return static_cast<int>(rows_.size()); }
    // Throws TBaseError("TValidManip::Row", "index out of range").
    const TRow& Row(int row) const;

    // The combo box of row now selects item selected (NoItem when none) and shows text.
    // When selected differs from the pending choice, the pending choice becomes the
    // first item whose text equals text exactly, or NoItem. Apply is enabled, and with
    // Autoapply applied at once.
    // Throws TBaseError("TFValidFlagManip::OnRangeChange", "CastError") when row is no
    // row: the change came from something that is no row's combo box.
    void Change(int row, int selected, const TAString& text);

    // Every pending choice becomes applied; Apply is disabled.
    void Apply();
    // Every pending choice back to its applied choice (the window then shows those).
    void Cancel();
    bool ApplyEnabled() const { return applyEnabled_; }

    // Ticking Autoapply applies at once.
    void SetAutoapply(bool on);
    bool Autoapply() const { return autoapply_; }

    // Sets the state of every signal's current value to the state of its applied
    // choice. A row at "Valid Signal" gives the value back its own state (valid, or "o"
    // when it lies outside its range); a value not yet set takes the state of its content.
    // Signals beyond the rows and rows beyond the signals are left alone.
    void Execute(TBusFmsStandard& catalogue) const;

    // Changes whenever the applied choices may have changed (Apply, Force, Load), so that
    // Execute need only run again then or when the values changed.
    uint64_t Version() const { return version_; }

    // The row of the signal called name: exact first, else ignoring case and the
    // blanks around it. -1 when none.
    int FindRow(const TAString& name) const;
    // The item of row that text names, or NoItem. Accepted, in this order: an item's
    // exact text; an item's text ignoring case and outer blanks ("10 = error"); the
    // word after "=" ("not available", "Error", "Reserved 2", "Parameter specific"),
    // the code before it ("10", "FE"), "valid" or "Valid Signal" for item 0, or the
    // state's letter ("n", "e", "R", "r", "p"; case matters there). Only items the row
    // offers are found: "Reserved 1" on a 2-bit signal is NoItem.
    int FindChoice(int row, const TAString& text) const;

    // Chooses and applies at once, for a run without windows ("Engine speed", "error").
    // Throws TBaseError("TValidManip::Force", "unknown signal" | "unknown state").
    void Force(const TAString& name, const TAString& choice);

    // The applied choice of row as a text to keep ("FE = Error").
    TAString Stored(int row) const;
    // Takes a kept choice back (pending and applied) as FindChoice reads it. A choice the
    // row does not offer, because its field cannot send that state, loads as "not
    // available": the returned notice names the signal and the choice. Empty when the
    // choice loaded as it was. Throws TBaseError("TValidManip::Row", "index out of range").
    TAString Load(int row, const TAString& stored);

private:
    void Build(const TBusFmsStandard& catalogue);
    TRow& At(int row);

    std::vector<TRow> rows_;
    bool applyEnabled_ = false;
    bool autoapply_ = false;
    uint64_t version_ = 0;
};
