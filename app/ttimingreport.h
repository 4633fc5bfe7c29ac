#pragma once
// The timing self-check of a run: every frame that left, with its departure time, and
// per parameter group of the catalogue the frames sent, the expected period, the
// achieved period (median, min, max of the gaps between successive messages), the
// offset of the first message and, for broadcast transfers, the gaps from the
// announcement to the first data frame and between data frames.
//
// A multipacket group counts its announcements (TP.CM BAM, PGN 0xEC00) as its
// messages; its data frames (TP.DT, PGN 0xEB00) belong to the transfer last announced
// by the same source address. A group is flagged when its median period is more than
// 1 ms off its period, or when it has no message although it was not left out and its
// first message was due within the run.
//
// Record runs on the thread that sends (the transmit timer's); everything else after
// the run. Record takes a lock, so both may overlap.

#include "support/tastring.h"

#include <cstdint>
#include <mutex>
#include <vector>

class TBusFmsStandard;
struct TCanFrame;

struct TTimingGroup {
    uint32_t Pgn = 0;
    TAString Name;
    int PeriodMs = 0;
    int64_t FirstDueMs = 0;         // when the schedule sends its first message
    bool Multipacket = false;
    bool LeftOut = false;           // the options do not send it
    int Messages = 0;               // single frames, or announcements of a transfer
    int Frames = 0;                 // every frame, data frames included
    double FirstOffsetMs = 0;       // first message after the start of the run
    double MedianMs = 0;
    double MinMs = 0;
    double MaxMs = 0;
    double AnnounceToDataMs = 0;    // median gap announcement -> first data frame
    double DataGapMinMs = 0;        // gaps between the data frames of a transfer
    double DataGapMaxMs = 0;
    bool Flagged = false;
    TAString Reason;                // why it is flagged
};

class TTimingReport {
public:
    static constexpr double ToleranceMs = 1.0;

    // A frame left at micros (µs since the start of the run).
    void Record(uint32_t id, const uint8_t* data, int64_t micros);
    void Record(const TCanFrame& frame, int64_t micros);
    int Count() const;

    // One row per group of the catalogue's list, in its order; leftOut[i] marks the
    // groups the options leave out (may be shorter than the list); runMs is how long
    // the run lasted in simulated milliseconds.
    std::vector<TTimingGroup> Groups(const TBusFmsStandard& catalogue, const std::vector<bool>& leftOut,
                                     int64_t runMs) const;

    static bool AnyFlagged(const std::vector<TTimingGroup>& groups);
    // A table for people; a JSON document for programs.
    static TAString Text(const std::vector<TTimingGroup>& groups);
    static TAString Json(const std::vector<TTimingGroup>& groups, const TAString& mode, double durationS);

private:
    struct TEvent {
        uint32_t Id;
        uint8_t Data[8];
        int64_t Micros;
    };
    mutable std::mutex lock_;
    std::vector<TEvent> events_;
};
