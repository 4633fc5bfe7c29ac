#include "app/tcanlogreader.h"

#include "support/tbaseerror.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kMaxId = 0x1FFFFFFFu;
// candump writes an error frame's identifier with this flag (and the error class) set.
constexpr uint32_t kErrorFlag = 0x20000000u;
constexpr std::size_t kShownChars = 60;        // of a refused line
constexpr std::size_t kChunk = std::size_t{1} << 20;
constexpr int kDetectLines = 1000;             // non-blank lines looked at to tell the kind
constexpr uint32_t kMaxLines = INT32_MAX;      // TCanLog::Count is an int
// The largest whole seconds whose microseconds, with any fraction, still fit 64 bits.
constexpr int64_t kMaxWholeSeconds = 9223372036853;
constexpr uint32_t kCancelEvery = 16384;       // lines between two looks at the cancel flag

constexpr const char* kNotFixed =
    "is not a log line (expected e.g. '000.0000 18FEF100F315000CFFFFFFFF' or '000.0000 00FEF1F315000CFFFFFFFF', "
    "an ASC file or a candump log)";
constexpr const char* kNotAsc =
    "is not a line of an ASC file (expected a frame such as '0.010000 1  18FEF100x  Rx  d 8 F3 15 00 0C FF FF FF FF', "
    "an event after its time, or a header line such as 'base hex  timestamps absolute')";
constexpr const char* kNotCandump =
    "is not a line of a candump log (expected e.g. '(1700000000.123456) can0 18FEF100#F315000CFFFFFFFF')";
constexpr const char* kNoFd = "a CAN FD frame cannot be replayed (only classic frames with 8 data bytes)";

constexpr std::array<int8_t, 256> MakeHexTable()
{
    std::array<int8_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        int8_t v = -1;
        if (c >= '0' && c <= '9') v = static_cast<int8_t>(c - '0');
        if (c >= 'A' && c <= 'F') v = static_cast<int8_t>(c - 'A' + 10);
        if (c >= 'a' && c <= 'f') v = static_cast<int8_t>(c - 'a' + 10);
        table[static_cast<std::size_t>(c)] = v;
    }
    return table;
}
constexpr std::array<int8_t, 256> kHex = MakeHexTable();

inline int HexDigit(char c)
{
    return kHex[static_cast<uint8_t>(c)];
}

inline bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

inline bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && (IsBlank(s.back()) || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// Case-insensitive comparison with a lower-case word.
bool Is(std::string_view word, std::string_view lower)
{
    if (word.size() != lower.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        const char c = word[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c) != lower[i]) return false;
    }
    return true;
}

bool AllDigits(std::string_view s)
{
    return !s.empty() && std::all_of(s.begin(), s.end(), IsDigit);
}

bool AllHex(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return HexDigit(c) >= 0; });
}

// n hex digits from p (n <= 16); false when one is not a hex digit.
inline bool HexValue(const char* p, std::size_t n, uint64_t& value)
{
    uint64_t v = 0;
    int bad = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const int d = HexDigit(p[i]);
        bad |= d;
        v = (v << 4) | static_cast<uint64_t>(d & 15);
    }
    value = v;
    return bad >= 0;
}

// 16 hex digits from p as 8 bytes.
inline bool HexBytes(const char* p, std::array<uint8_t, 8>& data)
{
    int bad = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        const int hi = HexDigit(p[2 * i]);
        const int lo = HexDigit(p[2 * i + 1]);
        bad |= hi | lo;
        data[i] = static_cast<uint8_t>(((hi & 15) << 4) | (lo & 15));
    }
    return bad >= 0;
}

enum TNumber { nuOk, nuNotNumber, nuOutOfRange };

// Seconds as the number parser takes a decimal time ("[blanks][sign]digits[.digits]",
// also "5." and ".5") to whole microseconds, exactly from the digits and truncated after
// the sixth decimal: "0.0012" is 1200 µs, not 1199 through binary rounding.
TNumber Microseconds(std::string_view s, int64_t& us)
{
    std::size_t i = 0;
    while (i < s.size() && IsBlank(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    bool digits = false;
    bool tooLarge = false;
    int64_t whole = 0;
    for (; i < s.size() && IsDigit(s[i]); ++i) {
        digits = true;
        if (whole > kMaxWholeSeconds) tooLarge = true;
        else whole = whole * 10 + (s[i] - '0');
    }
    int64_t micro = 0;
    int decimals = 0;
    if (i < s.size() && s[i] == '.') {
        for (++i; i < s.size() && IsDigit(s[i]); ++i) {
            digits = true;
            if (decimals < 6) {
                micro = micro * 10 + (s[i] - '0');
                ++decimals;
            }
        }
    }
    if (i != s.size() || !digits) return nuNotNumber;
    if (tooLarge || whole > kMaxWholeSeconds) return nuOutOfRange;
    for (; decimals < 6; ++decimals) micro *= 10;
    us = whole * 1000000 + micro;
    if (negative) us = -us;
    return nuOk;
}

// An unsigned number in base 16 or 10 (up to 16 digits); false when it is not one.
bool Unsigned(std::string_view s, int base, uint64_t& value)
{
    if (s.empty() || s.size() > 16) return false;
    if (base == 16) return HexValue(s.data(), s.size(), value);
    if (!AllDigits(s)) return false;
    value = 0;
    for (char c : s) value = value * 10 + static_cast<uint64_t>(c - '0');
    return true;
}

// The blank- or tab-separated words of a line; the first Max are kept, all are counted.
struct TWords {
    static constexpr int Max = 16;
    std::array<std::string_view, Max> Word;
    int Count = 0;

    explicit TWords(std::string_view s)
    {
        std::size_t i = 0;
        while (i < s.size()) {
            while (i < s.size() && IsBlank(s[i])) ++i;
            if (i >= s.size()) break;
            const std::size_t start = i;
            while (i < s.size() && !IsBlank(s[i])) ++i;
            if (Count < Max) Word[static_cast<std::size_t>(Count)] = s.substr(start, i - start);
            ++Count;
        }
    }
    std::string_view operator[](int i) const
    {
        return i < Count && i < Max ? Word[static_cast<std::size_t>(i)] : std::string_view();
    }
};

// An ASC identifier: digits of the base, optionally followed by "x" or "X".
bool LooksLikeId(std::string_view w, int base)
{
    if (!w.empty() && (w.back() == 'x' || w.back() == 'X')) w.remove_suffix(1);
    return !w.empty() && (base == 16 ? AllHex(w) : AllDigits(w));
}

bool IsDirection(std::string_view w)
{
    return Is(w, "rx") || Is(w, "tx");
}

bool IsNumberText(std::string_view s)
{
    int64_t ignored = 0;
    return Microseconds(s, ignored) != nuNotNumber;
}

// The hex tail of an lfFixedSaPgn (22) or lfFixedId (24) line, 0 when the line has the
// shape of neither. A time of 1000 s or more widens the time field: such a line is
// known by the blank after it and an all-hex rest of either width; otherwise the
// line's length (31 or 33) tells.
std::size_t FixedTail(std::string_view s)
{
    const std::size_t blank = s.find(' ');
    if (blank != std::string_view::npos && blank > 8 && s[0] != '\t' && IsNumberText(s.substr(0, blank))) {
        const std::size_t tail = s.size() - blank - 1;
        if ((tail == 22 || tail == 24) && AllHex(s.substr(blank + 1))) return tail;
    }
    if (s.size() == 31) return 22;
    if (s.size() == 33) return 24;
    return 0;
}

bool IsAscHeader(std::string_view line, const TWords& w)
{
    if (line.size() >= 2 && line[0] == '/' && line[1] == '/') return true;
    if (Is(w[0], "date") || Is(w[0], "base")) return true;
    if (Is(w[0], "internal") || (Is(w[0], "no") && Is(w[1], "internal"))) return true;
    return (Is(w[0], "begin") || Is(w[0], "end")) && Is(w[1], "triggerblock");
}

// A line only an ASC file holds: time, channel and an identifier with its direction or
// an error frame; or a CAN FD line.
bool IsAscFrame(const TWords& w)
{
    if (!IsNumberText(w[0])) return false;
    if (Is(w[1], "canfd")) return true;
    return AllDigits(w[1]) && (Is(w[2], "errorframe") || (LooksLikeId(w[2], 16) && IsDirection(w[3])));
}

// Reads the common shapes of a frame line in one pass. Any step that does not find
// what it expects fails, and the line is left to the general parser, which reads
// every shape and says what is wrong with a line it cannot read.
class TCursor {
public:
    explicit TCursor(std::string_view s) : p_(s.data()), e_(s.data() + s.size()) {}

    bool End() const { return p_ == e_; }
    bool Char(char c)
    {
        if (p_ == e_ || *p_ != c) return false;
        ++p_;
        return true;
    }
    bool Blanks()
    {
        const char* start = p_;
        while (p_ != e_ && IsBlank(*p_)) ++p_;
        return p_ != start;
    }
    // At least one character up to the next blank.
    bool Word()
    {
        const char* start = p_;
        while (p_ != e_ && !IsBlank(*p_)) ++p_;
        return p_ != start;
    }
    bool Digits()
    {
        const char* start = p_;
        while (p_ != e_ && IsDigit(*p_)) ++p_;
        return p_ != start;
    }
    // "digits.digits" as Microseconds reads it; at most 13 whole digits.
    bool Seconds(int64_t& us)
    {
        int64_t whole = 0;
        int digits = 0;
        // Digits beyond the fourteenth only make the field too long: they are not added up.
        for (; p_ != e_ && IsDigit(*p_); ++p_, ++digits)
            if (digits <= 13) whole = whole * 10 + (*p_ - '0');
        if (digits == 0 || digits > 13 || whole > kMaxWholeSeconds || !Char('.')) return false;
        int64_t micro = 0;
        int decimals = 0;
        for (; p_ != e_ && IsDigit(*p_); ++p_)
            if (decimals < 6) {
                micro = micro * 10 + (*p_ - '0');
                ++decimals;
            }
        for (; decimals < 6; ++decimals) micro *= 10;
        us = whole * 1000000 + micro;
        return true;
    }
    // 1 to most hex digits, followed by something else.
    bool HexRun(std::size_t most, uint64_t& value)
    {
        std::size_t n = 0;
        while (p_ + n != e_ && HexDigit(p_[n]) >= 0) ++n;
        if (n == 0 || n > most) return false;
        HexValue(p_, n, value);
        p_ += n;
        return true;
    }
    bool Hex(std::size_t n, uint64_t& value)
    {
        if (static_cast<std::size_t>(e_ - p_) < n || !HexValue(p_, n, value)) return false;
        p_ += n;
        return true;
    }
    bool Bytes(std::array<uint8_t, 8>& data)
    {
        if (e_ - p_ < 16 || !HexBytes(p_, data)) return false;
        p_ += 16;
        return true;
    }

private:
    const char* p_;
    const char* e_;
};

// "(1700000000.123456) can0 18FEF100#F315000CFFFFFFFF", optionally " R" or " T" after:
// an extended data frame of 8 bytes with a 29-bit identifier.
bool FastCandumpFrame(std::string_view s, int64_t& time, uint32_t& id, std::array<uint8_t, 8>& data)
{
    TCursor c(s);
    uint64_t value = 0;
    if (!c.Char('(') || !c.Seconds(time) || !c.Char(')') || !c.Blanks() || !c.Word() || !c.Blanks()) return false;
    if (!c.Hex(8, value) || !c.Char('#') || !c.Bytes(data)) return false;
    if (!c.End() && !(c.Blanks() && (c.Char('R') || c.Char('T') || c.Char('r') || c.Char('t')) && c.End()))
        return false;
    if (value > kMaxId) return false;
    id = static_cast<uint32_t>(value);
    return true;
}

// "0.010000 1  18FEF100x  Rx  d 8 F3 15 00 0C FF FF FF FF", anything after the data:
// an extended data frame of 8 bytes with a 29-bit identifier, in base hex.
bool FastAscFrame(std::string_view s, int64_t& time, uint32_t& id, std::array<uint8_t, 8>& data)
{
    TCursor c(s);
    uint64_t value = 0;
    if (!c.Seconds(time) || !c.Blanks() || !c.Digits() || !c.Blanks()) return false;
    if (!c.HexRun(8, value) || !(c.Char('x') || c.Char('X')) || !c.Blanks()) return false;
    if (!(c.Char('R') || c.Char('T')) || !c.Char('x') || !c.Blanks()) return false;
    if (!c.Char('d') || !c.Blanks() || !c.Char('8') || !c.Blanks()) return false;
    for (std::size_t i = 0; i < 8; ++i) {
        uint64_t byte = 0;
        if (!c.Hex(2, byte)) return false;
        data[i] = static_cast<uint8_t>(byte);
        if (!c.Blanks() && (i < 7 || !c.End())) return false;
    }
    if (value > kMaxId) return false;
    id = static_cast<uint32_t>(value);
    return true;
}

TLogFileKind DetectKind(std::string_view text)
{
    int looked = 0;
    std::size_t pos = 0;
    while (pos < text.size() && looked < kDetectLines) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::string_view trimmed = Trim(line);
        if (trimmed.empty()) continue;
        ++looked;
        if (trimmed[0] == '(') return lkCandump;
        const TWords w(trimmed);
        if (IsAscHeader(trimmed, w)) return lkAsc;
        if (FixedTail(line) != 0) return lkFixed;
        if (IsAscFrame(w)) return lkAsc;
    }
    return lkFixed;
}

TAString Text(std::string_view s)
{
    return TAString(std::string(s));
}

// A line as the user sees it in a message: control characters as '?', cut after
// kShownChars characters.
TAString Quoted(std::string_view line)
{
    std::string shown(line.substr(0, std::min(line.size(), kShownChars)));
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    if (line.size() > kShownChars) shown += "...";
    return "'" + TAString(shown) + "'";
}

TAString Number(uint64_t n)
{
    return TAString(std::to_string(n));
}

// Parses the lines of one log, in order, into log.
class TParser {
public:
    TParser(const TAString& name, const TCanLogReader::TControl& control, TCanLog& log)
        : name_(name), control_(control), log_(log)
    {
    }

    void Detect(std::string_view text) { log_.Kind = DetectKind(text); }

    // Room for as many frames as text of the given size can hold, so that the frames
    // are never copied while they grow (the part of the room not used is never touched,
    // so it takes no memory). The room of a large log is asked for in huge pages where
    // the system offers them: touching it page by page costs more than parsing.
    void Reserve(uint64_t bytes)
    {
        const uint64_t shortest = log_.Kind == lkFixed ? 32 : 26;   // with its line end
        const uint64_t most = bytes / shortest + 1;
        log_.Frames.reserve(static_cast<std::size_t>(std::min<uint64_t>(most, uint64_t{1} << 23)));
        const std::size_t room = log_.Frames.capacity() * sizeof(TLogFrame);
        constexpr std::size_t kHuge = std::size_t{2} << 20;
        if (room < 2 * kHuge) return;
        const auto begin = reinterpret_cast<uintptr_t>(log_.Frames.data());
        const uintptr_t first = (begin + kHuge - 1) & ~(kHuge - 1);
        const uintptr_t last = (begin + room) & ~(kHuge - 1);
        if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }

    // The lines of text, each ended by LF; with last, the text after the last LF is a
    // line too.
    void Lines(std::string_view text, bool last)
    {
        const char* p = text.data();
        const char* const end = p + text.size();
        while (p < end) {
            const auto* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            if (!lf) {
                if (last) Line(std::string_view(p, static_cast<std::size_t>(end - p)));
                return;
            }
            Line(std::string_view(p, static_cast<std::size_t>(lf - p)));
            p = lf + 1;
            if (number_ % kCancelEvery == 0) CheckCancel();
        }
    }

    void CheckCancel() const
    {
        if (control_.Cancel && control_.Cancel->load(std::memory_order_relaxed))
            throw TBaseError("", "Logfile Read Error",
                             (name_.IsEmpty() ? TAString("the log") : name_) + ": loading stopped before the end of the file");
    }

    // The line after the last one read has no end within MaxLineLength characters
    // (start is what there is of it).
    [[noreturn]] void RefuseLongLine(std::string_view start) const { RefuseLong(number_ + 1, start); }

private:
    void Line(std::string_view raw)
    {
        if (++number_ > kMaxLines) Refuse(number_, raw, "is past the most lines a log may have");
        RefuseNul(number_, raw);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        if (raw.size() > TCanLogReader::MaxLineLength) RefuseLong(number_, raw);
        switch (log_.Kind) {
        case lkAsc:
            Asc(raw);
            break;
        case lkCandump:
            Candump(raw);
            break;
        default:
            Fixed(raw);
            break;
        }
    }

    void Add(int64_t time, uint32_t id, const std::array<uint8_t, 8>& data)
    {
        log_.Frames.push_back(TLogFrame{time, id, number_, data});
    }

    void Skip(TLogSkip reason) { ++log_.Skipped[reason]; }

    // "<file> line <n>: '<line>' <why>" when why starts with "is", else "...: <why>".
    [[noreturn]] void Refuse(uint32_t number, std::string_view line, const TAString& why) const
    {
        const TAString where = name_.IsEmpty() ? TAString("line ") : name_ + " line ";
        const bool predicate = why.SubString(0, 3) == "is " || why.SubString(0, 6) == "holds ";
        throw TBaseError("", "Logfile Read Error",
                         where + Number(number) + ": " + Quoted(line) + (predicate ? " " : ": ") + why);
    }
    [[noreturn]] void Refuse(std::string_view line, const TAString& why) const { Refuse(number_, line, why); }

    // A line too long, or a NUL byte in it (a file of zero bytes has no line end).
    [[noreturn]] void RefuseLong(uint32_t number, std::string_view line) const
    {
        RefuseNul(number, line);
        Refuse(number, line, "is longer than " + Number(TCanLogReader::MaxLineLength) + " characters");
    }
    void RefuseNul(uint32_t number, std::string_view line) const
    {
        if (const void* nul = std::memchr(line.data(), 0, line.size()))
            Refuse(number, line, "holds a NUL byte at character " +
                                     Number(static_cast<uint64_t>(static_cast<const char*>(nul) - line.data()) + 1) +
                                     " (a text log has none)");
    }

    void Fixed(std::string_view s)
    {
        const std::size_t tail = FixedTail(s);
        if (tail == 0) Refuse(s, kNotFixed);
        const std::size_t base = s.size() - tail;
        if (!IsBlank(s[base - 1])) Refuse(s, kNotFixed);
        int64_t time = 0;
        const std::string_view timeText = s.substr(0, base - 1);
        if (const TNumber n = Microseconds(timeText, time); n != nuOk)
            Refuse(s, "time '" + Text(Trim(timeText)) +
                          (n == nuOutOfRange ? "' is out of range" : "' is not a decimal number of seconds"));
        const char* p = s.data() + base;
        uint64_t id = 0;
        std::array<uint8_t, 8> data{};
        if (tail == 24) {
            if (!HexValue(p, 8, id)) Refuse(s, "identifier '" + Text(s.substr(base, 8)) + "' is not hexadecimal");
            if (id > kMaxId) Refuse(s, "identifier '" + Text(s.substr(base, 8)) + "' is wider than 29 bits");
            if (!HexBytes(p + 8, data)) Refuse(s, "data '" + Text(s.substr(base + 8)) + "' is not hexadecimal");
        } else {
            // Priority 6 and data page 0 are what the layout cannot store.
            uint64_t sa = 0;
            uint64_t group = 0;
            if (!HexValue(p, 2, sa) || !HexValue(p + 2, 4, group))
                Refuse(s, "source address and group '" + Text(s.substr(base, 6)) + "' are not hexadecimal");
            id = 0x18000000u | (group << 8) | sa;
            if (!HexBytes(p + 6, data)) Refuse(s, "data '" + Text(s.substr(base + 6)) + "' is not hexadecimal");
        }
        Add(time, static_cast<uint32_t>(id), data);
    }

    void Asc(std::string_view line)
    {
        const std::string_view s = Trim(line);
        if (s.empty()) return Skip(skBlank);
        if (s.size() >= 2 && s[0] == '/' && s[1] == '/') return Skip(skHeader);
        int64_t time = 0;
        if (base_ == 16) {
            uint32_t id = 0;
            std::array<uint8_t, 8> data{};
            if (FastAscFrame(s, time, id, data)) return Add(AscTime(s, time), id, data);
        }
        const TWords w(s);
        switch (Microseconds(w[0], time)) {
        case nuNotNumber:
            return AscHeader(s, w);
        case nuOutOfRange:
            Refuse(s, "time '" + Text(w[0]) + "' is out of range");
        case nuOk:
            break;
        }
        time = AscTime(s, time);
        if (w.Count == 1) return Skip(skEvent);
        const bool channel = AllDigits(w[1]);
        if (channel && Is(w[2], "errorframe")) return Skip(skError);
        if (Is(w[1], "canfd")) {
            if (Is(w[4], "errorframe")) return Skip(skError);
            Refuse(s, kNoFd);
        }
        const bool id = LooksLikeId(w[2], base_);
        if (!id || !IsDirection(w[3])) {
            if (channel && id) Refuse(s, "expected Rx or Tx after the identifier '" + Text(w[2]) + "'");
            return Skip(skEvent);
        }
        if (!channel) Refuse(s, "channel '" + Text(w[1]) + "' is not a number");
        if (!w[4].empty() && (w[4][0] == 'r' || w[4][0] == 'R')) return Skip(skRemote);
        std::string_view idText = w[2];
        if (idText.back() != 'x' && idText.back() != 'X') return Skip(skStandard);
        idText.remove_suffix(1);
        uint64_t value = 0;
        if (!Unsigned(idText, base_, value) || value > kMaxId)
            Refuse(s, "identifier '" + Text(w[2]) + "' is wider than 29 bits");

        int first = 0;   // the word of the first data byte
        if (w[4] == "D" && w.Count == 13) {
            first = 5;   // lfAscD: no data length
        } else if (Is(w[4], "d")) {
            uint64_t length = 0;
            if (!Unsigned(w[5], base_, length)) Refuse(s, "data length '" + Text(w[5]) + "' is not a number");
            if (length != 8)
                Refuse(s, "data length " + Number(length) + ": only frames with 8 data bytes can be replayed");
            first = 6;
        } else {
            Refuse(s, "expected 'd 8' and the data bytes after the direction");
        }
        if (w.Count < first + 8) Refuse(s, "expected 8 data bytes, found " + Number(static_cast<uint64_t>(w.Count - first)));
        std::array<uint8_t, 8> data{};
        for (int i = 0; i < 8; ++i) {
            const std::string_view byte = w[first + i];
            uint64_t b = 0;
            if (byte.size() > (base_ == 16 ? 2u : 3u) || !Unsigned(byte, base_, b) || b > 255)
                Refuse(s, "data byte " + Number(static_cast<uint64_t>(i + 1)) + " '" + Text(byte) + "' is not a byte in " +
                              (base_ == 16 ? "hexadecimal" : "decimal"));
            data[static_cast<std::size_t>(i)] = static_cast<uint8_t>(b);
        }
        Add(time, static_cast<uint32_t>(value), data);
    }

    // The time of an ASC line: as written, or with "timestamps relative" added to the
    // times of the lines before.
    int64_t AscTime(std::string_view s, int64_t time)
    {
        if (!relative_) return time;
        if (__builtin_add_overflow(ascTime_, time, &ascTime_)) Refuse(s, "the sum of the relative times is out of range");
        return ascTime_;
    }

    // A line of an ASC file that does not start with a time.
    void AscHeader(std::string_view s, const TWords& w)
    {
        if (Is(w[0], "date")) return Skip(skHeader);
        if (Is(w[0], "base")) {
            const bool hex = Is(w[1], "hex");
            if (!hex && !Is(w[1], "dec")) Refuse(s, "expected 'base hex' or 'base dec'");
            if (w.Count != 2 && !(w.Count == 4 && Is(w[2], "timestamps") && (Is(w[3], "absolute") || Is(w[3], "relative"))))
                Refuse(s, "expected 'timestamps absolute' or 'timestamps relative' after the base");
            base_ = hex ? 16 : 10;
            relative_ = w.Count == 4 && Is(w[3], "relative");
            return Skip(skHeader);
        }
        const int no = Is(w[0], "no") ? 1 : 0;
        if (w.Count == 3 + no && Is(w[no], "internal") && Is(w[no + 1], "events") && Is(w[no + 2], "logged"))
            return Skip(skHeader);
        if ((Is(w[0], "begin") || Is(w[0], "end")) && Is(w[1], "triggerblock")) return Skip(skHeader);
        Refuse(s, kNotAsc);
    }

    void Candump(std::string_view line)
    {
        const std::string_view s = Trim(line);
        if (s.empty()) return Skip(skBlank);
        {
            int64_t time = 0;
            uint32_t id = 0;
            std::array<uint8_t, 8> data{};
            if (FastCandumpFrame(s, time, id, data)) return Add(time, id, data);
        }
        const TWords w(s);
        const std::string_view stamp = w[0];
        if (stamp.size() < 3 || stamp.front() != '(' || stamp.back() != ')') Refuse(s, kNotCandump);
        int64_t time = 0;
        switch (Microseconds(stamp.substr(1, stamp.size() - 2), time)) {
        case nuNotNumber:
            Refuse(s, "time '" + Text(stamp) + "' is not a decimal number of seconds");
        case nuOutOfRange:
            Refuse(s, "time '" + Text(stamp) + "' is out of range");
        case nuOk:
            break;
        }
        const bool direction = w.Count == 4 && w[3].size() == 1 && std::strchr("RrTt", w[3][0]) != nullptr;
        if (w.Count != 3 && !direction) Refuse(s, kNotCandump);
        const std::string_view frame = w[2];
        const std::size_t hash = frame.find('#');
        if (hash == std::string_view::npos) Refuse(s, kNotCandump);
        const std::string_view idText = frame.substr(0, hash);
        const std::string_view rest = frame.substr(hash + 1);
        if (!rest.empty() && rest[0] == '#') Refuse(s, kNoFd);
        uint64_t id = 0;
        if ((idText.size() != 3 && idText.size() != 8) || !HexValue(idText.data(), idText.size(), id))
            Refuse(s, "identifier '" + Text(idText) + "' is not 3 (standard) or 8 (extended) hexadecimal digits");
        if (idText.size() == 8 && (id & kErrorFlag) != 0) return Skip(skError);
        if (!rest.empty() && (rest[0] == 'R' || rest[0] == 'r')) return Skip(skRemote);
        if (idText.size() == 3) return Skip(skStandard);
        if (id > kMaxId) Refuse(s, "identifier '" + Text(idText) + "' is wider than 29 bits");
        std::array<uint8_t, 8> data{};
        if (rest.size() != 16 || !HexBytes(rest.data(), data)) {
            if (rest.size() % 2 == 0 && rest.size() < 16 && AllHex(rest))
                Refuse(s, Number(rest.size() / 2) + " data bytes: only frames with 8 data bytes can be replayed");
            Refuse(s, "data '" + Text(rest) + "' is not 8 bytes in hexadecimal digits");
        }
        Add(time, static_cast<uint32_t>(id), data);
    }

    const TAString& name_;
    const TCanLogReader::TControl& control_;
    TCanLog& log_;
    uint32_t number_ = 0;      // of the last line read
    int base_ = 16;            // ASC: "base hex" or "base dec"
    bool relative_ = false;    // ASC: "timestamps relative"
    int64_t ascTime_ = 0;      // ASC: the sum of the relative times so far
};

// A file descriptor closed when it goes out of scope.
class TFile {
public:
    explicit TFile(int fd) : fd_(fd) {}
    ~TFile()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    TFile(const TFile&) = delete;
    TFile& operator=(const TFile&) = delete;
    int Fd() const { return fd_; }

private:
    int fd_;
};

const char* NotRegular(mode_t mode)
{
    if (S_ISDIR(mode)) return "is a directory, not a log file";
    if (S_ISFIFO(mode)) return "is a FIFO (named pipe), not a log file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a log file";
    if (S_ISSOCK(mode)) return "is a socket, not a log file";
    return "is not a regular file";
}

constexpr char kBom[] = "\xEF\xBB\xBF";

std::string_view WithoutBom(std::string_view text)
{
    if (text.substr(0, 3) == std::string_view(kBom, 3)) text.remove_prefix(3);
    return text;
}

}  // namespace

TCanLog TCanLogReader::Load(const TAString& fileName, const TControl& control)
{
    auto fail = [&](const TAString& why) { return TBaseError("", "Logfile Read Error", fileName + ": " + why); };
    // Looked at before it is opened: opening a FIFO for reading waits for a writer.
    struct stat st {};
    if (::stat(fileName.c_str(), &st) != 0) throw fail(TAString("cannot open the file: ") + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) throw fail(NotRegular(st.st_mode));
    const TFile file(::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.Fd() < 0) throw fail(TAString("cannot open the file: ") + std::strerror(errno));
    // Again on what was opened: the name may have been replaced in between.
    if (::fstat(file.Fd(), &st) != 0) throw fail(TAString("cannot read the file: ") + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) throw fail(NotRegular(st.st_mode));
    const uint64_t size = static_cast<uint64_t>(st.st_size);

    TCanLog log;
    log.FileName = fileName;
    TParser parser(fileName, control, log);
    // A part of the file and what is left of the line it cuts.
    std::vector<char> buffer(kChunk + MaxLineLength + 2);
    std::size_t have = 0;
    uint64_t done = 0;
    bool first = true;
    bool end = false;
    while (true) {
        while (have < buffer.size() && !end) {
            const ssize_t n = ::read(file.Fd(), buffer.data() + have, buffer.size() - have);
            if (n < 0) {
                if (errno == EINTR) {
                    parser.CheckCancel();
                    continue;
                }
                throw fail("reading failed after " + Number(done) + " bytes: " + std::strerror(errno));
            }
            if (n == 0) end = true;
            have += static_cast<std::size_t>(n);
            done += static_cast<uint64_t>(n);
        }
        parser.CheckCancel();
        std::string_view text(buffer.data(), have);
        if (first) {
            text = WithoutBom(text);
            parser.Detect(text);
            parser.Reserve(size);
            first = false;
        }
        std::size_t used = text.size();
        if (!end) {
            const void* lf = ::memrchr(text.data(), '\n', text.size());
            used = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - text.data()) + 1 : 0;
        }
        parser.Lines(text.substr(0, used), end);
        if (control.Progress) control.Progress(done, size);
        if (end) break;
        const std::size_t rest = text.size() - used;
        if (rest > MaxLineLength + 1) parser.RefuseLongLine(text.substr(used));
        std::memmove(buffer.data(), text.data() + used, rest);
        have = rest;
    }
    return log;
}

TCanLog TCanLogReader::Parse(std::string_view text, const TAString& name, const TControl& control)
{
    TCanLog log;
    log.FileName = name;
    TParser parser(name, control, log);
    text = WithoutBom(text);
    parser.Detect(text);
    parser.Reserve(text.size());
    parser.Lines(text, true);
    return log;
}
