#pragma once
// The timing self-check of a run: per parameter group the frames sent, the expected
// period, the achieved period (median, min, max of the gaps between successive
// messages), the offset of the first message, the largest lateness (departure minus the
// frame's own due time) and, for broadcast transfers, the gaps from the announcement to
// the first data frame and between data frames.
//
// A multipacket group counts its announcements (TP.CM BAM, PGN 0xEC00) as its
// messages; its data frames (TP.DT, PGN 0xEB00) belong to the transfer last announced
// by the same source address.
//
// Two ways of judging a run:
//   jSchedule (the vehicle simulation): a group is flagged when its median period is
//     more than ToleranceMs off its period, or when it has no message although it was
//     not left out and its first message was due within the run.
//   jLogTime (a replayed log, internal or the user's): the log is its own schedule; a
//     group is flagged only when one of its frames left more than LatenessToleranceMs
//     after the time written in the log. The catalogue's periods and the groups the log
//     lacks are shown, never judged.
//
// Memory does not grow with the run: each group keeps counts, extremes and a histogram
// of its periods. The histogram is exact (1 µs bins) while a group's periods take at
// most HistogramBins distinct values; beyond that, neighbouring bins are merged (the
// width doubling each time), and the median is then the midpoint of its bin: within
// half a bin width of the exact median. MedianResolutionMs says the final width (0.001
// while exact). So a group holds at most two histograms of HistogramBins bins, however
// long the run.
//
// Frames sent outside the schedule (answers to requests, acknowledgements, address
// claims) are kept apart (RecordApart): they are counted and their delay after the
// request shown, never judged against a group's period.
//
// Record runs on the thread that sends (or the one that learns of each departure);
// everything else after the run. Record takes a lock, so both may overlap.

#include "support/tastring.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class TBusFmsStandard;
struct TCanFrame;

// The frames sent outside the schedule.
struct TTimingApart {
    int64_t Frames = 0;
    double DelayMaxMs = 0;   // the largest departure - the frame's own time (the request's)
};

struct TTimingGroup {
    uint32_t Pgn = 0;
    TAString Name;
    int PeriodMs = 0;               // the catalogue's period; 0 for a group it does not know
    int64_t FirstDueMs = 0;         // when the schedule sends its first message
    bool InCatalogue = true;
    bool Multipacket = false;
    bool LeftOut = false;           // the options do not send it
    int64_t Messages = 0;           // single frames, or announcements of a transfer
    int64_t Frames = 0;             // every frame, data frames included
    double FirstOffsetMs = 0;       // first message after the start of the run
    double MedianMs = 0;
    double MedianResolutionMs = 0;  // width of the median's histogram bin (see above)
    double MinMs = 0;
    double MaxMs = 0;
    double AnnounceToDataMs = 0;    // median gap announcement -> first data frame
    double DataGapMinMs = 0;        // gaps between the data frames of a transfer
    double DataGapMaxMs = 0;
    double LatenessMaxMs = 0;       // the largest departure - due time of its frames
    int64_t LateFrames = 0;         // frames more than LatenessToleranceMs late
    bool Flagged = false;
    TAString Reason;                // why it is flagged
};

class TTimingReport {
public:
    static constexpr double ToleranceMs = 1.0;
    static constexpr double LatenessToleranceMs = 10.0;
    static constexpr std::size_t HistogramBins = 1024;

    enum TJudge { jSchedule, jLogTime };

    TTimingReport();
    ~TTimingReport();
    TTimingReport(const TTimingReport&) = delete;
    TTimingReport& operator=(const TTimingReport&) = delete;

    // A frame left at micros; frame.Time is when it was due. Both in µs since the
    // start of the run.
    void Record(const TCanFrame& frame, int64_t micros);
    void Record(uint32_t id, const uint8_t* data, int64_t dueMicros, int64_t micros);
    // A frame sent outside the schedule left at micros; frame.Time is when it was made.
    void RecordApart(const TCanFrame& frame, int64_t micros);
    // Every frame recorded, those kept apart included.
    int64_t Count() const;
    TTimingApart Apart() const;
    // "outside the schedule (answers, acknowledgements, claims; not judged): 12 frames,
    // at most 1.250 ms after the request\n"; empty without such frames.
    static TAString ApartText(const TTimingApart& apart);
    // Histogram bins held over every group (bounded whatever the run's length).
    std::size_t Bins() const;

    // One row per group of the catalogue's list, in its order, then (jLogTime) one per
    // further group the run sent, by PGN; leftOut[i] marks the groups the options leave
    // out (may be shorter than the list); runMs is how long the run lasted in simulated
    // milliseconds.
    std::vector<TTimingGroup> Groups(const TBusFmsStandard& catalogue, const std::vector<bool>& leftOut,
                                     int64_t runMs, TJudge judge = jSchedule) const;

    static bool AnyFlagged(const std::vector<TTimingGroup>& groups);
    // The largest lateness over all groups, in ms (0 without frames).
    static double LatenessMaxMs(const std::vector<TTimingGroup>& groups);
    // A table for people; a JSON document for programs.
    static TAString Text(const std::vector<TTimingGroup>& groups, TJudge judge = jSchedule);
    // timer: the transmit timer's scheduling in words ("transmit_timer"); empty: no such key.
    static TAString Json(const std::vector<TTimingGroup>& groups, const TAString& mode, double durationS,
                         TJudge judge = jSchedule, const TAString& timer = TAString());

private:
    struct TState;
    mutable std::mutex lock_;
    std::unique_ptr<TState> state_;
};
