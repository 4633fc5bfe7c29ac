#include "fms/tcanframe.h"

#include "support/tbaseerror.h"

#include <cstdio>

namespace {

constexpr const char* kCtor = "TCanFrame::TCanFrame";

// Characters after the time field and its blank in the fixed layouts.
constexpr int kSaPgnTail = 22;   // 6 digits source address and PGN, 16 digits data
constexpr int kIdTail = 24;      // 8 digits identifier, 16 digits data

// The largest time, in seconds, whose microseconds still fit a signed 64-bit number.
constexpr double kMaxSeconds = 9223372036854.0;

// Word 0 of an ASC line: a decimal number, "1", then hex digits ending in "x" or "X".
bool AscWordsLookRight(const TAString& line)
{
    const TAString time = line.Word(0);
    const TAString id = line.Word(2);
    const int n = id.Length();
    if (!time.IsNumber() || line.Word(1) != "1" || n == 0) return false;
    const char last = id[n - 1];
    return (last == 'x' || last == 'X') && id.IsHex(0, n - 1);
}

// A decimal time field wider than 8 characters (1000 s and more), one blank and
// exactly the fixed-width hex remainder of lfFixedSaPgn or lfFixedId; else lfNone.
TLogFormat WideFixedLayout(const TAString& line)
{
    const int blank = line.Find(" ");
    if (blank <= 8) return lfNone;
    if (line[0] == '\t' || !line.IsNumber(0, blank)) return lfNone;
    const int tail = line.Length() - blank - 1;
    if ((tail != kSaPgnTail && tail != kIdTail) || !line.IsHex(blank + 1)) return lfNone;
    return tail == kSaPgnTail ? lfFixedSaPgn : lfFixedId;
}

// lfFixedSaPgn or lfFixedId by the line's shape, else lfNone. Lines of 31 and 33
// characters are told apart by length alone, except that an lfFixedSaPgn line from
// 10000 s on is also 33 characters long: it is recognised by its wide time field.
TLogFormat FixedLayout(const TAString& line)
{
    const TLogFormat wide = WideFixedLayout(line);
    if (wide != lfNone) return wide;
    const int len = line.Length();
    if (len == 9 + kSaPgnTail) return lfFixedSaPgn;
    if (len == 9 + kIdTail) return lfFixedId;
    return lfNone;
}

// The time word in whole microseconds, truncated toward zero. The digits are taken
// exactly from the text, so "0.0012" is 1200 µs and not 1199 through binary rounding;
// the number parser has already checked form and range.
int64_t MicrosecondsOf(const TAString& word)
{
    if (word.AsNum(kMaxSeconds, -kMaxSeconds, TAString::nmDec, 0.0) == 0.0) return 0;
    const std::string& s = word.str();
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    int64_t whole = 0;
    for (; i < s.size() && s[i] != '.'; ++i) whole = whole * 10 + (s[i] - '0');
    int64_t micro = 0;
    int digits = 0;
    if (i < s.size()) ++i;   // the decimal point
    for (; i < s.size() && digits < 6; ++i, ++digits) micro = micro * 10 + (s[i] - '0');
    for (; digits < 6; ++digits) micro *= 10;
    const int64_t us = whole * 1000000 + micro;
    return negative ? -us : us;
}

uint8_t HexByteAt(const TAString& line, int pos)
{
    return line.SubString(pos, 2).AsByte(TAString::nmHex);
}

}  // namespace

TLogFormat TCanFrame::DetectFormat(const TAString& line, TLogFormat requested)
{
    switch (requested) {
    case lfAscD:
        return line.WordCount() == 13 && AscWordsLookRight(line) ? lfAscD : lfNone;
    case lfAscD8:
        return line.WordCount() == 14 && AscWordsLookRight(line) ? lfAscD8 : lfNone;
    case lfFixed:
        return FixedLayout(line);
    case lfFixedSaPgn:
    case lfFixedId:
        return FixedLayout(line) == requested ? requested : lfNone;
    case lfAny: {
        const int words = line.WordCount();
        if (words == 13) return AscWordsLookRight(line) ? lfAscD : lfNone;
        if (words == 14) return AscWordsLookRight(line) ? lfAscD8 : lfNone;
        return FixedLayout(line);
    }
    default:
        return lfNone;
    }
}

TCanFrame::TCanFrame(const TAString& line, TLogFormat layout)
{
    if (DetectFormat(line, layout) != layout) throw TBaseError(kCtor, "String error");

    Dlc = 8;
    Extended = true;
    Time = MicrosecondsOf(line.Word(0));

    switch (layout) {
    case lfAscD:
    case lfAscD8: {
        const TAString id = line.Word(2);
        Id = id.SubString(0, id.Length() - 1).AsUInt32(TAString::nmHex);
        const int first = layout == lfAscD ? 5 : 6;
        for (int i = 0; i < 8; ++i) Data[size_t(i)] = line.Word(first + i).AsByte(TAString::nmHex);
        break;
    }
    case lfFixedSaPgn: {
        // Priority 6 and data page 0 are what the layout cannot store.
        const int base = line.Length() - kSaPgnTail;
        const TAString id = TAString("18") + line.SubString(base + 2, 4) + line.SubString(base, 2);
        Id = id.AsUInt32(TAString::nmHex);
        for (int i = 0; i < 8; ++i) Data[size_t(i)] = HexByteAt(line, base + 6 + 2 * i);
        break;
    }
    case lfFixedId: {
        const int base = line.Length() - kIdTail;
        Id = line.SubString(base, 8).AsUInt32(TAString::nmHex);
        for (int i = 0; i < 8; ++i) Data[size_t(i)] = HexByteAt(line, base + 8 + 2 * i);
        break;
    }
    default:
        throw TBaseError(kCtor, "unknown format");
    }
}

TAString TCanFrame::ToString(TLogFormat layout) const
{
    // Wide enough for any 64-bit time in seconds with four decimals.
    char buf[128];
    const double seconds = static_cast<double>(Time) / 1000000.0;
    const auto& d = Data;
    switch (layout) {
    case lfFixedSaPgn: {
        const uint32_t saPgn = ((Id & 0xFFu) << 16) + ((Id >> 8) & 0xFFFFu);
        std::snprintf(buf, sizeof buf, "%08.4lf %06X%02X%02X%02X%02X%02X%02X%02X%02X", seconds, saPgn,
                      d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
        break;
    }
    case lfFixedId:
        std::snprintf(buf, sizeof buf, "%08.4lf %08X%02X%02X%02X%02X%02X%02X%02X%02X", seconds, Id,
                      d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
        break;
    default:
        std::snprintf(buf, sizeof buf, "%8.4lf 1 %08Xx Rx %s %02X %02X %02X %02X %02X %02X %02X %02X",
                      seconds, Id, layout == lfAscD8 ? "d 8" : "D",
                      d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
        break;
    }
    return TAString(buf);
}
