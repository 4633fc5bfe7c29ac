#pragma once
// What the vehicle model hands the catalogue: one entry per signal of the catalogue,
// addressed by its TSignalId, each a typed content with its state. The catalogue
// installs a snapshot all at once or not at all (TBusFmsStandard::Apply).
//
// State of an entry: msValid when it carries a content (the catalogue then decides
// from the signal's range whether it is valid or out of range, "o"); otherwise the
// indicator state the value is sent with ("n", "e", ...) or msNotSet ("*", only texts
// can be sent so), and the content does not count.
//
// Generation() changes whenever a setter changes an entry, so that whoever installs
// the snapshot knows without comparing whether there is anything new. Generations are
// unique in the process: two snapshots never share one.

#include "fms/tmeasval.h"
#include "fms/tsignalcontent.h"
#include "fms/tsignalid.h"

#include <array>
#include <cstdint>
#include <string_view>

struct TSignalEntry {
    TSignalContent Content;
    TMeasState State = msNotSet;
};

class TSignalSnapshot {
public:
    static constexpr int Size = fmstable::CatalogueSize;

    // Every entry holds the kind of its signal (0, index 0, no bytes, every tell-tale
    // not available), not set.
    TSignalSnapshot();

    // Content with state msValid. Each changes Generation() only when the entry changes.
    void SetNumber(TSignalId id, double value);
    void SetIndex(TSignalId id, uint32_t index);
    void SetText(TSignalId id, std::string_view bytes);
    void SetTellTales(TSignalId id, const TTellTaleStates& states);
    // Any content, as it comes (a replay, a test): the state is msValid.
    void SetContent(TSignalId id, const TSignalContent& content);
    // A state without content (msNotSet or an indicator state); the content is kept.
    void SetState(TSignalId id, TMeasState state);

    const TSignalEntry& Entry(TSignalId id) const { return entries_[static_cast<std::size_t>(SignalIndex(id))]; }
    const TSignalEntry& Entry(int index) const { return entries_.at(static_cast<std::size_t>(index)); }
    uint64_t Generation() const { return generation_; }

private:
    TSignalEntry& At(TSignalId id) { return entries_[static_cast<std::size_t>(SignalIndex(id))]; }
    void Valid(TSignalEntry& e);

    std::array<TSignalEntry, Size> entries_;
    uint64_t generation_;
};
