#pragma once
// One classic CAN frame as the bus carries it (identifier and its kind, 0 to 8 data
// bytes) with its time, and the CAN log text layouts it is read from and written as
// (one frame per line).
//
// J1939 identifier (29 bits in a 32-bit word): bits 26..28 priority, bit 25 reserved,
// bit 24 data page, bits 16..23 PDU format, bits 8..15 PDU specific, bits 0..7 source
// address. 0x18FEF100 is priority 6, PGN 65265 (0xFEF1), source address 0.

#include "support/tastring.h"

#include <array>
#include <cstdint>

// Line layouts, numbered as log files and settings number them. 3 and 6 are only
// requests for DetectFormat; the constructor and ToString take 1, 2, 4 or 5.
enum TLogFormat : int {
    lfNone = 0,          // DetectFormat: the line does not match the request
    // "%8.4lf 1 %08Xx Rx D %02X %02X %02X %02X %02X %02X %02X %02X" (13 words):
    //     "  0.0100 1 18FEF100x Rx D F3 15 00 0C FF FF FF FF"
    lfAscD = 1,
    // As lfAscD with "d 8" in place of "D" (14 words):
    //     "  0.0100 1 18FEF100x Rx d 8 F3 15 00 0C FF FF FF FF"
    lfAscD8 = 2,
    lfFixed = 3,         // request only: lfFixedSaPgn or lfFixedId, told apart by length
    // "%08.4lf %06X%02X%02X%02X%02X%02X%02X%02X%02X": time, source address (2 digits),
    // PDU format and specific (4 digits), 8 data bytes. Priority and data page are not
    // stored; reading gives priority 6, data page 0. 31 characters below 1000 s:
    //     "000.0000 00FEF1F315000CFFFFFFFF"
    lfFixedSaPgn = 4,
    // "%08.4lf %08X%02X%02X%02X%02X%02X%02X%02X%02X": time, identifier, 8 data bytes.
    // 33 characters below 1000 s; the program's own output log:
    //     "000.0000 18FEF100F315000CFFFFFFFF"
    lfFixedId = 5,
    lfAny = 6,           // request only: any of 1, 2, 4, 5
};

// Plain value type, passed by value, 24 bytes: Id at offset 0, Data at 4, Dlc at 12,
// Extended at 13, 2 bytes of padding, Time at 16 (little-endian on our targets).
struct TCanFrame {
    // Id of a frame that is not there: every operation that returns a frame returns
    // one with this Id when it has none.
    static constexpr uint32_t NoId = 0xFFFFFFFFu;

    // A 29-bit identifier when Extended (every J1939 frame), else an 11-bit one.
    static constexpr uint32_t MaxExtendedId = 0x1FFFFFFFu;
    static constexpr uint32_t MaxStandardId = 0x7FFu;

    uint32_t Id = NoId;
    std::array<uint8_t, 8> Data{};
    // The number of data bytes the frame carries, 0 to 8: Data[Dlc..7] are not sent
    // (kept 0 in frames read from a log or received). 8 in frames cut from a
    // parameter group.
    uint8_t Dlc = 8;
    bool Extended = true;   // Id is 29 bits; false: an 11-bit (standard) identifier
    int64_t Time = 0;       // microseconds since the run started

    TCanFrame() = default;
    TCanFrame(uint32_t id, const std::array<uint8_t, 8>& data, uint8_t dlc = 8, int64_t time = 0,
              bool extended = true)
        : Id(id), Data(data), Dlc(dlc), Extended(extended), Time(time) {}

    // Parses one log line in the concrete layout (lfAscD, lfAscD8, lfFixedSaPgn or
    // lfFixedId): always an extended frame of 8 bytes (Dlc 8). Time is the first word
    // in seconds (a first word that is not a number gives 0) times 1000000, truncated.
    // Throws TBaseError("TCanFrame::TCanFrame", "String error") when DetectFormat(line,
    // layout) is not exactly layout (so lfFixed and lfAny always fail: detect first),
    // "unknown format" for a layout without a parser, and the number parser's errors
    // (operation "TAString::AsNum": "Hex-Error", "OutOfRange") for bad digits or a
    // time beyond what 64-bit microseconds hold.
    TCanFrame(const TAString& line, TLogFormat layout);

    bool IsNone() const { return Id == NoId; }
    // Length 0..8 and an identifier that fits its kind: a frame a bus can carry.
    bool IsValid() const { return Dlc <= 8 && Id <= (Extended ? MaxExtendedId : MaxStandardId); }
    // An extended frame of 8 bytes: what layouts 4 and 5 (and the J1939 groups) hold.
    bool IsJ1939Shape() const { return Extended && Dlc == 8; }

    // The layout the line is in, or lfNone when it does not match the request.
    // lfAscD / lfAscD8: 13 / 14 words, word 0 a decimal number, word 1 "1", word 2
    // hex digits followed by "x" or "X".
    // lfFixedSaPgn / lfFixedId: 31 / 33 characters (whatever they are), or, for times
    // of 1000 s and more, a decimal time field of more than 8 characters, one blank
    // and then 22 / 24 hex digits.
    // lfFixed: lfFixedSaPgn or lfFixedId. lfAny: lfAscD, lfAscD8, else as lfFixed.
    // Never throws; any bytes are a valid line to ask about.
    static TLogFormat DetectFormat(const TAString& line, TLogFormat requested);

    // The line in lfFixedSaPgn or lfFixedId; any other number gives the lfAscD line,
    // or the lfAscD8 line for lfAscD8. No line end is added. These layouts hold only
    // extended frames of 8 bytes: the caller refuses any other frame first.
    TAString ToString(TLogFormat layout) const;

    friend bool operator==(const TCanFrame&, const TCanFrame&) = default;
};

static_assert(sizeof(TCanFrame) == 24, "TCanFrame is the 24-byte record of the simulation channels");
