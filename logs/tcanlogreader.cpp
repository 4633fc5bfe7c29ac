#include "logs/tcanlogreader.h"

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
constexpr uint32_t kMaxStandardId = 0x7FFu;
// Flags of an ASC CANFD line: a CAN FD frame (EDL), and a remote frame.
constexpr uint64_t kAscFdFlag = 0x1000u;
constexpr uint64_t kAscRemoteFlag = 0x10u;
constexpr std::size_t kMaxChannels = 256;      // TLogFrame::Channel is a byte
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

// 2n hex digits from p as n bytes (n <= 8).
inline bool HexBytes(const char* p, std::array<uint8_t, 8>& data, std::size_t n = 8)
{
    int bad = 0;
    for (std::size_t i = 0; i < n; ++i) {
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
    static constexpr int Max = 24;
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
    bool Hex(std::size_t n, uint64_t& value)
    {
        if (static_cast<std::size_t>(e_ - p_) < n || !HexValue(p_, n, value)) return false;
        p_ += n;
        return true;
    }
    // 1 to most hex digits, their count in n.
    bool HexRunCount(std::size_t most, uint64_t& value, std::size_t& n)
    {
        n = 0;
        while (p_ + n != e_ && HexDigit(p_[n]) >= 0) ++n;
        if (n == 0 || n > most) return false;
        HexValue(p_, n, value);
        p_ += n;
        return true;
    }
    // Hex digit pairs up to the next blank or the end: 0 to 8 bytes, their number in n.
    bool HexPairs(std::array<uint8_t, 8>& data, std::size_t& n)
    {
        std::size_t digits = 0;
        while (p_ + digits != e_ && !IsBlank(p_[digits])) ++digits;
        if (digits % 2 != 0 || digits > 16 || !HexBytes(p_, data, digits / 2)) return false;
        n = digits / 2;
        p_ += digits;
        return true;
    }
    const char* Position() const { return p_; }

private:
    const char* p_;
    const char* e_;
};

// One frame as a line gives it, before it joins the log.
struct TLineFrame {
    int64_t Time = 0;
    uint32_t Id = 0;
    uint8_t Dlc = 0;
    bool Extended = true;
    std::array<uint8_t, 8> Data{};
    std::string_view Channel;   // as written: "1", "can0"
};

// "(1700000000.123456) can0 18FEF100#F315000CFFFFFFFF" or "(1.5) can1 123#AABB",
// optionally " R" or " T" after: a data frame of 0 to 8 bytes with an 11-bit (3 digits)
// or 29-bit (8 digits) identifier.
bool FastCandumpFrame(std::string_view s, TLineFrame& f)
{
    TCursor c(s);
    uint64_t value = 0;
    if (!c.Char('(') || !c.Seconds(f.Time) || !c.Char(')') || !c.Blanks()) return false;
    const char* name = c.Position();
    if (!c.Word()) return false;
    f.Channel = std::string_view(name, static_cast<std::size_t>(c.Position() - name));
    if (!c.Blanks()) return false;
    std::size_t digits = 0;
    if (!c.HexRunCount(8, value, digits) || (digits != 3 && digits != 8) || !c.Char('#')) return false;
    std::size_t n = 0;
    if (!c.HexPairs(f.Data, n)) return false;
    if (!c.End() && !(c.Blanks() && (c.Char('R') || c.Char('T') || c.Char('r') || c.Char('t')) && c.End()))
        return false;
    f.Extended = digits == 8;
    if (value > (f.Extended ? kMaxId : kMaxStandardId)) return false;
    f.Id = static_cast<uint32_t>(value);
    f.Dlc = static_cast<uint8_t>(n);
    return true;
}

// "0.010000 1  18FEF100x  Rx  d 8 F3 15 00 0C FF FF FF FF" or "0.5 2 123 Tx d 2 AA BB",
// anything after the data: a data frame of 0 to 8 bytes, in base hex.
bool FastAscFrame(std::string_view s, TLineFrame& f)
{
    TCursor c(s);
    uint64_t value = 0;
    if (!c.Seconds(f.Time) || !c.Blanks()) return false;
    const char* channel = c.Position();
    if (!c.Digits()) return false;
    f.Channel = std::string_view(channel, static_cast<std::size_t>(c.Position() - channel));
    if (!c.Blanks()) return false;
    std::size_t digits = 0;
    if (!c.HexRunCount(8, value, digits)) return false;
    f.Extended = c.Char('x') || c.Char('X');
    if (!c.Blanks()) return false;
    if (!(c.Char('R') || c.Char('T')) || !c.Char('x') || !c.Blanks()) return false;
    if (!c.Char('d') || !c.Blanks()) return false;
    uint64_t dlc = 0;
    if (!c.Hex(1, dlc) || dlc > 8 || !(c.End() || c.Blanks())) return false;
    for (std::size_t i = 0; i < dlc; ++i) {
        uint64_t byte = 0;
        if (!c.Hex(2, byte)) return false;
        f.Data[i] = static_cast<uint8_t>(byte);
        if (!c.Blanks() && (i + 1 < dlc || !c.End())) return false;
    }
    if (value > (f.Extended ? kMaxId : kMaxStandardId)) return false;
    f.Id = static_cast<uint32_t>(value);
    f.Dlc = static_cast<uint8_t>(dlc);
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
        // With its line end: "0 1 0 Rx d 0", "(0.0) a 000#".
        const uint64_t shortest = log_.Kind == lkFixed ? 32 : 13;
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

    // The lines of text, each ended by LF. With last, the text after the last LF is the
    // file's last line: a whole line when whole (text held in memory), else a line cut
    // off (a file still being written or cut short), which is not read but noted.
    void Lines(std::string_view text, bool last, bool whole = true)
    {
        const char* p = text.data();
        const char* const end = p + text.size();
        while (p < end) {
            const auto* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            if (!lf) {
                if (!last) return;
                const std::string_view rest(p, static_cast<std::size_t>(end - p));
                if (whole) Line(rest);
                else Cut(rest);
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
    // (start is what there is of it): refused, unless it is a line the file's kind may
    // hold at any length (an ASC comment or note), which is passed over. Its rest up to
    // the line end is given to LongLineRest.
    void LongLine(std::string_view start)
    {
        ++number_;
        longAt_ = start.size();
        RefuseNul(number_, start);
        SkipLong(start);
    }
    // Text of the long line being passed over (no LF in it).
    void LongLineRest(std::string_view part)
    {
        if (const void* nul = std::memchr(part.data(), 0, part.size()))
            Refuse(number_, "", "holds a NUL byte at character " +
                                    Number(longAt_ + static_cast<uint64_t>(static_cast<const char*>(nul) - part.data()) + 1) +
                                    " (a text log has none)");
        longAt_ += part.size();
    }

    // After the last line: the channels in order of number (ASC) or name (candump).
    void Finish()
    {
        std::vector<TLogChannel>& channels = log_.Channels;
        if (channels.size() < 2) return;
        std::vector<std::size_t> order(channels.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        const bool asc = log_.Kind == lkAsc;
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            const std::string& x = channels[a].Name.str();
            const std::string& y = channels[b].Name.str();
            if (asc && x.size() != y.size()) return x.size() < y.size();   // decimal numbers without leading zeros
            return x < y;
        });
        std::array<uint8_t, kMaxChannels> newIndex{};
        std::vector<TLogChannel> sorted;
        sorted.reserve(channels.size());
        bool moved = false;
        for (std::size_t k = 0; k < order.size(); ++k) {
            newIndex[order[k]] = static_cast<uint8_t>(k);
            moved = moved || order[k] != k;
            sorted.push_back(channels[order[k]]);
        }
        channels = std::move(sorted);
        if (!moved) return;
        for (TLogFrame& f : log_.Frames) f.Channel = newIndex[f.Channel];
    }

private:
    void Line(std::string_view raw)
    {
        if (++number_ > kMaxLines) Refuse(number_, raw, "is past the most lines a log may have");
        RefuseNul(number_, raw);
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
        if (raw.size() > TCanLogReader::MaxLineLength) return SkipLong(raw);
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

    // A line longer than MaxLineLength: an ASC comment, or an ASC line with a time that
    // is no frame (a transport protocol note, statistics), is passed over; anything else
    // is refused.
    void SkipLong(std::string_view line)
    {
        const std::string_view head = Trim(line.substr(0, TCanLogReader::MaxLineLength));
        if (log_.Kind == lkAsc) {
            if (head.size() >= 2 && head[0] == '/' && head[1] == '/') return Skip(skHeader);
            const TWords w(head);
            if (IsNumberText(w[0]) && !IsAscFrame(w)) return Skip(skEvent);
        }
        RefuseLong(number_, line);
    }

    // The last line of a file, without a line end.
    void Cut(std::string_view rest)
    {
        std::string_view shown = rest;
        if (!shown.empty() && shown.back() == '\r') shown.remove_suffix(1);
        // Blanks after the last line end are no line.
        if (Trim(shown).empty()) return;
        log_.CutLine = number_ + 1;
        const TAString quoted = Quoted(shown);
        log_.CutText = quoted.SubString(1, quoted.Length() - 2);
    }

    // The index of a channel by its name in the file, added on its first frame.
    uint8_t Channel(std::string_view written)
    {
        if (!lastChannel_.empty() && written == lastChannel_) return lastIndex_;
        std::string name(written);
        if (log_.Kind == lkAsc) {
            // Channel numbers are decimal: "01" is channel 1.
            const std::size_t zeros = std::min(name.find_first_not_of('0'), name.size() - 1);
            name.erase(0, zeros);
        }
        std::size_t index = 0;
        std::vector<TLogChannel>& channels = log_.Channels;
        while (index < channels.size() && channels[index].Name.str() != name) ++index;
        if (index == channels.size()) {
            if (index == kMaxChannels)
                Refuse(number_, written, "is a channel past the " + Number(kMaxChannels) + " a log may have");
            channels.push_back(TLogChannel{TAString(name), 0, true});
        }
        lastChannel_.assign(written);
        lastIndex_ = static_cast<uint8_t>(index);
        return lastIndex_;
    }

    void Add(const TLineFrame& f, uint8_t channel)
    {
        TLogFrame frame{f.Time, f.Id, number_, f.Data, f.Dlc, f.Extended, channel};
        // Bytes past the length are 0 whatever the line held.
        for (std::size_t i = f.Dlc; i < 8; ++i) frame.Data[i] = 0;
        log_.Frames.push_back(frame);
        if (!log_.Channels.empty()) ++log_.Channels[channel].Frames;
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
        TLineFrame f;
        f.Dlc = 8;
        const std::string_view timeText = s.substr(0, base - 1);
        if (const TNumber n = Microseconds(timeText, f.Time); n != nuOk)
            Refuse(s, "time '" + Text(Trim(timeText)) +
                          (n == nuOutOfRange ? "' is out of range" : "' is not a decimal number of seconds"));
        const char* p = s.data() + base;
        uint64_t id = 0;
        if (tail == 24) {
            if (!HexValue(p, 8, id)) Refuse(s, "identifier '" + Text(s.substr(base, 8)) + "' is not hexadecimal");
            if (id > kMaxId) Refuse(s, "identifier '" + Text(s.substr(base, 8)) + "' is wider than 29 bits");
            if (!HexBytes(p + 8, f.Data)) Refuse(s, "data '" + Text(s.substr(base + 8)) + "' is not hexadecimal");
        } else {
            // Priority 6 and data page 0 are what the layout cannot store.
            uint64_t sa = 0;
            uint64_t group = 0;
            if (!HexValue(p, 2, sa) || !HexValue(p + 2, 4, group))
                Refuse(s, "source address and group '" + Text(s.substr(base, 6)) + "' are not hexadecimal");
            id = 0x18000000u | (group << 8) | sa;
            if (!HexBytes(p + 6, f.Data)) Refuse(s, "data '" + Text(s.substr(base + 6)) + "' is not hexadecimal");
        }
        f.Id = static_cast<uint32_t>(id);
        Add(f, 0);
    }

    // An ASC identifier word ("18FEF100x" 29 bits, "123" 11 bits) into f.
    void AscId(std::string_view s, std::string_view word, TLineFrame& f) const
    {
        std::string_view digits = word;
        f.Extended = digits.back() == 'x' || digits.back() == 'X';
        if (f.Extended) digits.remove_suffix(1);
        uint64_t value = 0;
        if (!Unsigned(digits, base_, value) || value > (f.Extended ? kMaxId : kMaxStandardId))
            Refuse(s, "identifier '" + Text(word) + (f.Extended ? "' is wider than 29 bits" : "' is wider than 11 bits"));
        f.Id = static_cast<uint32_t>(value);
    }

    // count data bytes from word first on into f.
    void AscData(std::string_view s, const TWords& w, int first, uint64_t count, TLineFrame& f) const
    {
        if (w.Count < first + static_cast<int>(count))
            Refuse(s, "expected " + Number(count) + " data bytes, found " + Number(static_cast<uint64_t>(std::max(0, w.Count - first))));
        for (int i = 0; i < static_cast<int>(count); ++i) {
            const std::string_view byte = w[first + i];
            uint64_t b = 0;
            if (byte.size() > (base_ == 16 ? 2u : 3u) || !Unsigned(byte, base_, b) || b > 255)
                Refuse(s, "data byte " + Number(static_cast<uint64_t>(i + 1)) + " '" + Text(byte) + "' is not a byte in " +
                              (base_ == 16 ? "hexadecimal" : "decimal"));
            f.Data[static_cast<std::size_t>(i)] = static_cast<uint8_t>(b);
        }
        f.Dlc = static_cast<uint8_t>(count);
    }

    void Asc(std::string_view line)
    {
        const std::string_view s = Trim(line);
        if (s.empty()) return Skip(skBlank);
        if (s.size() >= 2 && s[0] == '/' && s[1] == '/') return Skip(skHeader);
        TLineFrame f;
        if (base_ == 16 && FastAscFrame(s, f)) {
            f.Time = AscTime(s, f.Time);
            return Add(f, Channel(f.Channel));
        }
        const TWords w(s);
        switch (Microseconds(w[0], f.Time)) {
        case nuNotNumber:
            return AscHeader(s, w);
        case nuOutOfRange:
            Refuse(s, "time '" + Text(w[0]) + "' is out of range");
        case nuOk:
            break;
        }
        f.Time = AscTime(s, f.Time);
        if (w.Count == 1) return Skip(skEvent);
        if (Is(w[1], "canfd")) return AscFd(s, w, f);
        const bool channel = AllDigits(w[1]);
        if (channel && Is(w[2], "errorframe")) return Skip(skError);
        const bool id = LooksLikeId(w[2], base_);
        if (channel && id && Is(w[3], "txrq")) return Skip(skRequest);
        if (!id || !IsDirection(w[3])) {
            if (channel && id) Refuse(s, "expected Rx or Tx after the identifier '" + Text(w[2]) + "'");
            return Skip(skEvent);
        }
        if (!channel) Refuse(s, "channel '" + Text(w[1]) + "' is not a number");
        if (!w[4].empty() && (w[4][0] == 'r' || w[4][0] == 'R')) return Skip(skRemote);
        AscId(s, w[2], f);
        if (w[4] == "D" && w.Count == 13) {
            AscData(s, w, 5, 8, f);   // lfAscD: no data length
        } else if (Is(w[4], "d")) {
            uint64_t length = 0;
            if (!Unsigned(w[5], base_, length)) Refuse(s, "data length '" + Text(w[5]) + "' is not a number");
            if (length > 8) Refuse(s, "data length " + Number(length) + ": a classic CAN frame has 0 to 8 data bytes");
            AscData(s, w, 6, length, f);
        } else {
            Refuse(s, "expected 'd', the data length and the data bytes after the direction");
        }
        Add(f, Channel(w[1]));
    }

    // "<time> CANFD <channel> <Rx|Tx> <id> [<name>] <brs> <esi> <dlc> <length> <data...>
    //  <duration> <bits> <flags> <crc> ...": a classic frame when the flags' FD bit
    // (0x1000) is clear, as CAN FD loggers write every frame.
    void AscFd(std::string_view s, const TWords& w, TLineFrame& f)
    {
        if (Is(w[3], "errorframe") || Is(w[4], "errorframe")) return Skip(skError);
        if (!AllDigits(w[2])) Refuse(s, "channel '" + Text(w[2]) + "' is not a number");
        if (Is(w[3], "txrq")) return Skip(skRequest);
        if (!IsDirection(w[3])) Refuse(s, "expected Rx or Tx after the channel of a CANFD line");
        if (!LooksLikeId(w[4], base_)) Refuse(s, "identifier '" + Text(w[4]) + "' is not a number");
        // A symbolic name may stand between the identifier and the bit rate switch.
        const int brs = AllDigits(w[5]) ? 5 : 6;
        uint64_t flags[2] = {0, 0};   // bit rate switch, error state indicator
        uint64_t dlc = 0;
        uint64_t length = 0;
        if (!Unsigned(w[brs], 10, flags[0]) || !Unsigned(w[brs + 1], 10, flags[1]) || !Unsigned(w[brs + 2], 16, dlc) ||
            !Unsigned(w[brs + 3], 10, length))
            Refuse(s, "expected the bit rate switch, error state, DLC and data length after the identifier of a CANFD line");
        // The flags word follows the data, the message's duration and its bit count.
        const int flagsWord = brs + 4 + static_cast<int>(std::min<uint64_t>(length, 64)) + 2;
        uint64_t lineFlags = 0;
        const bool hasFlags = flagsWord < w.Count && flagsWord < TWords::Max && Unsigned(w[flagsWord], 16, lineFlags);
        if (!hasFlags || (lineFlags & kAscFdFlag) != 0 || flags[0] != 0 || flags[1] != 0 || length > 8) return Skip(skFd);
        if ((lineFlags & kAscRemoteFlag) != 0) return Skip(skRemote);
        AscId(s, w[4], f);
        AscData(s, w, brs + 4, length, f);
        Add(f, Channel(w[2]));
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
        TLineFrame f;
        if (FastCandumpFrame(s, f)) return Add(f, Channel(f.Channel));
        const TWords w(s);
        const std::string_view stamp = w[0];
        if (stamp.size() < 3 || stamp.front() != '(' || stamp.back() != ')') Refuse(s, kNotCandump);
        switch (Microseconds(stamp.substr(1, stamp.size() - 2), f.Time)) {
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
        std::string_view rest = frame.substr(hash + 1);
        uint64_t id = 0;
        if ((idText.size() != 3 && idText.size() != 8) || !HexValue(idText.data(), idText.size(), id))
            Refuse(s, "identifier '" + Text(idText) + "' is not 3 (11-bit) or 8 (29-bit) hexadecimal digits");
        if (idText.size() == 8 && (id & kErrorFlag) != 0) return Skip(skError);
        if (!rest.empty() && rest[0] == '#') return Skip(skFd);
        if (!rest.empty() && (rest[0] == 'R' || rest[0] == 'r')) return Skip(skRemote);
        f.Extended = idText.size() == 8;
        if (id > (f.Extended ? kMaxId : kMaxStandardId))
            Refuse(s, "identifier '" + Text(idText) + (f.Extended ? "' is wider than 29 bits" : "' is wider than 11 bits"));
        f.Id = static_cast<uint32_t>(id);
        // Eight bytes may be followed by the raw data length code 9 to F ("_9").
        if (rest.size() == 18 && rest[16] == '_' && HexDigit(rest[17]) > 8) rest.remove_suffix(2);
        std::size_t bytes = 0;
        TCursor c(rest);
        if (!c.HexPairs(f.Data, bytes) || !c.End())
            Refuse(s, "data '" + Text(rest) + "' is not 0 to 8 bytes in hexadecimal digits");
        f.Dlc = static_cast<uint8_t>(bytes);
        Add(f, Channel(w[1]));
    }

    const TAString& name_;
    const TCanLogReader::TControl& control_;
    TCanLog& log_;
    uint32_t number_ = 0;      // of the last line read
    int base_ = 16;            // ASC: "base hex" or "base dec"
    bool relative_ = false;    // ASC: "timestamps relative"
    int64_t ascTime_ = 0;      // ASC: the sum of the relative times so far
    uint64_t longAt_ = 0;      // characters of the long line passed over so far
    std::string lastChannel_;  // the channel of the last frame as written, and its index
    uint8_t lastIndex_ = 0;
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
    const struct timespec modified = st.st_mtim;

    TCanLog log;
    log.FileName = fileName;
    TParser parser(fileName, control, log);
    // A part of the file and what is left of the line it cuts.
    std::vector<char> buffer(kChunk + MaxLineLength + 2);
    std::size_t have = 0;
    uint64_t done = 0;
    bool first = true;
    bool end = false;
    bool longLine = false;   // passing over the rest of a line longer than the buffer holds
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
        if (longLine) {
            const void* lf = std::memchr(text.data(), '\n', text.size());
            const std::size_t part = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - text.data()) : text.size();
            parser.LongLineRest(text.substr(0, part));
            if (!lf) {
                if (control.Progress) control.Progress(done, size);
                if (end) break;
                have = 0;
                continue;
            }
            longLine = false;
            text.remove_prefix(part + 1);
        }
        std::size_t used = text.size();
        if (!end) {
            const void* lf = ::memrchr(text.data(), '\n', text.size());
            used = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - text.data()) + 1 : 0;
        }
        // The file's last line without a line end is cut, not read.
        parser.Lines(text.substr(0, used), end, false);
        if (control.Progress) control.Progress(done, size);
        if (end) break;
        std::size_t rest = text.size() - used;
        if (rest > MaxLineLength + 1) {
            parser.LongLine(text.substr(used));
            longLine = true;
            rest = 0;
        }
        std::memmove(buffer.data(), text.data() + used, rest);
        have = rest;
    }
    parser.Finish();
    // A log that changed while it was read may hold a part of what was written to it.
    if (::fstat(file.Fd(), &st) != 0) throw fail(TAString("cannot read the file: ") + std::strerror(errno));
    if (static_cast<uint64_t>(st.st_size) != size || done != size)
        throw fail("the file changed while it was loaded (" + Number(size) + " bytes at the start, " +
                   Number(static_cast<uint64_t>(st.st_size)) + " at the end, " + Number(done) +
                   " read): load it again once it is complete");
    if (st.st_mtim.tv_sec != modified.tv_sec || st.st_mtim.tv_nsec != modified.tv_nsec)
        throw fail("the file changed while it was loaded (it was written to): load it again once it is complete");
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
    parser.Finish();
    return log;
}
