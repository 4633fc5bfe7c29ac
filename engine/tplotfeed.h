#pragma once
// What a plot shows: the values of the plotted signals read out of the frames that
// left, as a receiver on the bus reads them, at the full rate they were sent (every
// frame of a signal's group gives a point, stamped with the frame's departure). It
// works for the vehicle simulation and a replayed log alike.
//
// Only numbers of single-frame groups are plotted (Plottable): enumerations, texts and
// the tell-tales have no axis, and the groups sent by transport carry texts only.
// Decoding a field of n bits at StartBit (from the least significant bit of byte 0,
// little-endian): a field of 8 bits or more whose top byte is FB..FF carries the state
// of that byte ('p' FB, 'r' FC, 'R' FD, 'e' FE, 'n' FF) and no value; a narrower field
// is not available ('n') with every bit set and in error ('e') at the value below.
// Otherwise the value is raw * Resolution + Offset ('o' when outside the signal's
// range): engine speed raw 0x2EE0 at bit 24 of EEC1 is 1500 rpm.
//
// Not thread-safe: the thread that owns the store calls it.

#include "engine/tplotstore.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class TBusFmsStandard;
class TFrameTrace;
class TFmsMeasVal;

class TPlotFeed {
public:
    TPlotFeed();
    ~TPlotFeed();
    TPlotFeed(const TPlotFeed&) = delete;
    TPlotFeed& operator=(const TPlotFeed&) = delete;

    // The catalogue of FMS version "00.02" whose signal indices the store uses.
    const TBusFmsStandard& Catalogue() const { return *catalogue_; }
    bool Plottable(int index) const;

    // Appends to store a point for every plotted signal the frame carries.
    void Frame(uint32_t id, bool extended, uint8_t length, const std::array<uint8_t, 8>& data, int64_t time,
               TPlotStore& store) const;

    // Reads the frames the trace holds after sequence number after: every frame that
    // left (Tx) goes through Frame; frames the ring no longer held are counted in the
    // store (NoteMissed). Returns the sequence number to pass next time.
    uint64_t FromTrace(const TFrameTrace& trace, uint64_t after, TPlotStore& store) const;

    // The value of signal in the first length bytes of data; false when its field does
    // not lie within them. state is 0 for a valid value.
    static bool Decode(const TFmsMeasVal& signal, const std::array<uint8_t, 8>& data, uint8_t length, double& value,
                       char& state);

private:
    struct TGroup {
        uint32_t Pgn;
        std::vector<int> Signals;
    };
    std::unique_ptr<TBusFmsStandard> catalogue_;
    std::vector<TGroup> groups_;   // sorted by Pgn
};
