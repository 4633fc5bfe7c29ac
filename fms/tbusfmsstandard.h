#pragma once
// The catalogue of the Bus-FMS parameter groups and of every signal in them, with the
// send schedule. 22 groups and 86 signals for FMS version "00.02"; the signal order is
// the field order of the value line that ReadValues takes and the row order of the
// windows that list signals.
//
// Schedule: the run repeats a 10 s cycle of 1 ms slots. Reset gives every group a
// start offset (0, 2, 4, ... ms in catalogue order; 5012 ms for the driver
// identification) such that no two groups share a millisecond of the cycle; from then
// on a group is due every Period ms.

#include "fms/tcanhigh.h"
#include "fms/tfmsmeasval.h"
#include "fms/tsignalsnapshot.h"
#include "support/tastring.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class TBusFmsStandard {
public:
    static constexpr int MaxSignals = 140;
    static constexpr uint32_t EndOfIds = 0xFFFFFFFFu;   // ends FrameIds
    static constexpr int CycleMs = 10000;

    // The full catalogue for version "00.02"; for any other version text the
    // driver identification, fuel economy and tell-tale groups are left out
    // (81 signals, 19 groups). Ends with Reset.
    explicit TBusFmsStandard(const TAString& fmsVersion);

    TBusFmsStandard(const TBusFmsStandard&) = delete;
    TBusFmsStandard& operator=(const TBusFmsStandard&) = delete;

    // Appends a signal; its CanId joins FrameIds when new.
    // Throws TBaseError("TBusFmsStandard::Add", "Fatal: Array erweitern !!!") past 140 signals.
    void Add(std::unique_ptr<TFmsMeasVal> signal);

    // Every value to msNotSet (tell-tales back to block 0) and every group its start
    // offset, the first free one from 0 ms up in steps of 2 ms (from 5000 ms for the
    // driver identification) whose slots over the 10 s cycle are all free.
    // Throws TBaseError("Reset", "Frames full") when a group finds no offset; a period
    // that does not divide 10000 ms never fits.
    void Reset();

    // The groups due at now (µs), each a fresh message filled with the current values
    // of all its signals and stamped with its due time (µs); source address and
    // priority 0. Order: catalogue order. A group that has fallen behind comes once per
    // call, at its own due time, until it has caught up.
    // Throws TBaseError("TBusFmsStandard::GetCanHighs", "FATAL") when as many groups
    // are due as there are signals; WriteToCan's and SetMV's errors pass through.
    // Signals handled before an error have already moved on to their next due time.
    std::vector<TCanHigh> GetCanHighs(int64_t now);

    // Installs every value of snapshot at once (entry i for signal i), or none: every
    // entry is checked against its signal first. A content must be of its signal's kind
    // (a text within the signal's length, tell-tale statuses 0..7); a number beyond its
    // range is taken and becomes "o". A state without content must be one the field can
    // send ("not set" only for texts). Values taken anew keep no state the validity
    // manipulation forced; run it again afterwards.
    // Throws TBaseError("TBusFmsStandard::Apply", "value refused", "<signal>: <why>;
    // no value was changed") for the first entry that cannot be taken.
    void Apply(const TSignalSnapshot& snapshot);
    // Every value back to its own state: what its content or the snapshot gave, no
    // state forced by the validity manipulation.
    void RestoreOwnStates();
    // Why entry cannot be signal i's value; empty when it can.
    TAString Refusal(int i, const TSignalEntry& entry) const;

    // Text edge for tests and tools, not used by a run:
    // sets every signal's value from one text: field i (up to the next ":", a missing
    // field empty) through Signals[i].Read, numbers with any number of decimals (the
    // vehicle model writes them exactly). All or nothing: a bad field throws and every
    // signal keeps the value it had.
    void ReadValues(const TAString& text);

    // Names by PGN, (identifier >> 8) & 0xFFFF: kind 0 the group's name ("Cruise
    // Control/Vehicle Speed"), 1 its short name, 2 its four-character acronym ("LFE "),
    // 11 the key name of group number identifier (0..21). "Not Fms" otherwise.
    static TAString GetPgnName(uint32_t identifier, int kind);
    // Name of tell-tale index + 1 (index 0..40); empty outside.
    static TAString GetTellTaleName(int index);

    int SignalCount() const { return static_cast<int>(signals_.size()); }
    int FrameCount() const { return frameCount_; }
    // The distinct CanIds in order of first appearance, then EndOfIds.
    const std::array<uint32_t, MaxSignals + 1>& FrameIds() const { return frameIds_; }
    TFmsMeasVal& Signal(int i) { return *signals_.at(static_cast<std::size_t>(i)); }
    const TFmsMeasVal& Signal(int i) const { return *signals_.at(static_cast<std::size_t>(i)); }
    // When signal i is next due, ms since the run started.
    int64_t NextDue(int i) const { return nextDue_.at(static_cast<std::size_t>(i)); }

private:
    std::array<uint32_t, MaxSignals + 1> frameIds_{};
    int frameCount_ = 0;
    std::vector<std::unique_ptr<TFmsMeasVal>> signals_;
    std::vector<int64_t> nextDue_;
};
