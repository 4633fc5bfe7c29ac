#pragma once
// What the bus says about every signal of the catalogue: for each one its name, group,
// PGN, SPN where it has one, unit, the text of its last value, its state (one-letter
// code and spelled out), the bytes of its field and the time of the frame that carried
// it. Filled from the frames that actually left, decoded with a catalogue of its own,
// so it shows the same for the vehicle simulation and for a replayed log: what a
// receiver on the bus would read. Transport transfers (the vehicle and driver
// identifications) are rebuilt from their frames first.
//
// Decoding a field of n bits at StartBit (bits counted from the least significant bit
// of byte 0, little-endian): a field of 8 bits or more whose top byte is FB..FF
// carries the indicator of that byte (FB parameter specific, FC reserved 1, FD
// reserved 2, FE error, FF not available); a narrower one is not available when all
// its bits are set and in error at the value below (2 bits: 11 and 10). Otherwise a
// number is raw * resolution + offset, out of range outside the signal's range
// (engine speed 0x2EE0 at bit 24 is 1500.000 rpm); an enumeration is its index, out of
// range without an entry. A text of 0xFF bytes only is not available; the driver
// identifications are the fields of their message up to and including each "*" end
// mark, a lone end mark is not available. The tell-tales are updated block by block.
//
// Threads: the run engine's thread calls Clear, Frame and SetNow; any thread may call
// Snapshot, Seq and Now. The rows are guarded by one mutex held only to copy them or
// to store one decoded group; decoding happens outside it.

#include "engine/ttransportassembler.h"
#include "fms/tsignalid.h"
#include "support/tastring.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class TBusFmsStandard;

struct TSignalRow {
    // Fixed by the catalogue.
    int Index = 0;            // catalogue order
    TAString Name;            // "Engine speed"
    TAString Group;           // "Electronic Engine Controller #1"
    uint32_t Pgn = 0;         // 61444
    int Spn = 0;              // 190; 0 where the signal has none (the tell-tale table)
    TAString Unit;            // "rpm"; empty for enumerations and texts

    // From the last frame that carried the signal.
    TAString Value;           // TFmsMeasVal::Write: "1500.000", "e"; empty before the first frame
    TAString StateCode;       // "" valid, "o", "n", "e", "R", "r", "p"; "" before the first frame
    TAString StateName;       // "valid", "out of range", ...; "no frame yet" before the first
    TAString Raw;             // the field's bytes in message order, "E0 2E"
    int64_t LastFrame = -1;   // µs since the run started; -1: none yet
    uint64_t Changed = 0;     // TSignalMonitor::Seq() when Value, state or Raw last changed
};

class TSignalMonitor {
public:
    struct TSnapshot {
        std::vector<TSignalRow> Rows;   // catalogue order
        uint64_t Seq = 0;               // the monitor's change counter at the copy
        int64_t Now = 0;                // µs, the run's time at the copy
    };

    TSignalMonitor();
    ~TSignalMonitor();
    TSignalMonitor(const TSignalMonitor&) = delete;
    TSignalMonitor& operator=(const TSignalMonitor&) = delete;

    // The fixed part of every row of a catalogue for FMS version "00.02", values empty.
    static std::vector<TSignalRow> CatalogueRows();
    // The spelled-out name of a state ("valid", "out of range", "not available",
    // "error", "reserved 1", "reserved 2", "parameter specific", "not set").
    static TAString StateName(uint16_t state);
    // Whether row matches filter: every blank-separated word of filter (case ignored)
    // occurs in the name, the group, the PGN in decimal or in hex ("FEF1"), or the SPN
    // in decimal. An empty filter matches every row. "engine speed" matches Engine
    // speed, "61444" and "f004" the signals of EEC1, "190" Engine speed by its SPN.
    static bool Matches(const TSignalRow& row, std::string_view filter);

    // A new run: every row back to "no frame yet", unfinished transfers forgotten.
    void Clear();
    // One frame that left at time (µs). Frames of no catalogue group change nothing.
    void Frame(uint32_t id, bool extended, uint8_t length, const std::array<uint8_t, 8>& data, int64_t time);
    // The run's time, for the rows' age.
    void SetNow(int64_t now) { now_.store(now, std::memory_order_relaxed); }
    // The sender's own marks (simulation): marks[i] when the sending catalogue holds
    // signal i outside its range. Such a value leaves as the nearest end of its range,
    // which reads as valid on the bus; its row says "o" (out of range) beside the value
    // that left. Taken for the frames decoded from now on; empty for a replay.
    void SetSentOutOfRange(std::vector<bool> marks);

    TSnapshot Snapshot() const;
    // Counts every change of a row's value, state or bytes, and every Clear.
    uint64_t Seq() const { return seq_.load(std::memory_order_acquire); }
    int64_t Now() const { return now_.load(std::memory_order_relaxed); }
    int RowCount() const { return static_cast<int>(rowCount_); }

private:
    // Per catalogue group (by PGN): its signals with their kinds, the last message
    // decoded for it and the rows that decoding stored.
    struct TGroupRows {
        uint32_t Pgn = 0;
        std::vector<std::pair<int, TSignalKind>> Signals;
        bool Decoded = false;
        std::vector<uint8_t> Last;
        std::vector<int> Rows;
    };

    void Decode(uint32_t pgn, const std::vector<uint8_t>& message, int64_t time);
    // When message repeats the last message of its group byte for byte, only the rows'
    // frame time moves: decoding it again would give the same rows. True when so.
    bool Repeated(const std::vector<uint8_t>& message, int64_t time, const TGroupRows& group);

    std::unique_ptr<TBusFmsStandard> decoder_;   // engine thread only
    TTransportAssembler transfers_;              // engine thread only
    std::size_t rowCount_ = 0;
    std::string tellTales_;                      // engine thread only: the digits seen so far
    std::vector<bool> sentOutOfRange_;           // engine thread only
    std::vector<TGroupRows> groups_;             // engine thread only

    mutable std::mutex mutex_;
    std::vector<TSignalRow> rows_;   // guarded by mutex_
    std::atomic<uint64_t> seq_{0};   // written under mutex_
    std::atomic<int64_t> now_{0};
};
