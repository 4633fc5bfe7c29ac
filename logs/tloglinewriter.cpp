#include "logs/tloglinewriter.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>

namespace {

// Seconds and microseconds of a time in µs, for "%lld.%06lld" (a negative time keeps
// its sign on the seconds).
struct TSplitTime {
    long long Seconds;
    long long Micros;
    bool Negative;
};

TSplitTime Split(int64_t us)
{
    const bool negative = us < 0;
    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(us) : static_cast<uint64_t>(us);
    return TSplitTime{static_cast<long long>(magnitude / 1000000), static_cast<long long>(magnitude % 1000000), negative};
}

// Lines are made by hand rather than by snprintf: a run writes one for every frame, and
// the format string's parsing cost more than the rest of the line's way to the file.
constexpr char HexDigits[] = "0123456789ABCDEF";

// value in decimal, with leading zeros to at least width digits.
void AppendDecimal(std::string& out, unsigned long long value, int width = 1)
{
    char digits[24];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (; n < width; ++n) digits[n] = '0';
    while (n > 0) out += digits[--n];
}

// value in upper-case hex, with leading zeros to at least width digits.
void AppendHex(std::string& out, uint32_t value, int width = 1)
{
    char digits[8];
    int n = 0;
    do {
        digits[n++] = HexDigits[value & 0x0F];
        value >>= 4;
    } while (value != 0);
    for (; n < width; ++n) digits[n] = '0';
    while (n > 0) out += digits[--n];
}

void AppendByte(std::string& out, uint8_t byte)
{
    out += HexDigits[byte >> 4];
    out += HexDigits[byte & 0x0F];
}

// "-1.000250": the sign, the seconds with at least secondsWidth digits, six of µs.
void AppendTime(std::string& out, const TSplitTime& t, int secondsWidth)
{
    if (t.Negative) out += '-';
    AppendDecimal(out, static_cast<unsigned long long>(t.Seconds), secondsWidth);
    out += '.';
    AppendDecimal(out, static_cast<unsigned long long>(t.Micros), 6);
}

class TLayout5Writer final : public TLogLineWriter {
public:
    std::string Begin(bool, const std::tm&, int) const override { return {}; }
    std::string End() const override { return {}; }
    void Append(const TCanFrame& frame, TLogDirection, std::string& out) const override
    {
        out += frame.ToString(lfFixedId).str();
        out += "\r\n";
    }
};

class TAscWriter final : public TLogLineWriter {
public:
    std::string Begin(bool emptyFile, const std::tm& now, int millis) const override
    {
        std::string text;
        const std::string date = Date(now, millis);
        if (emptyFile) {
            text += "date " + date + "\r\n";
            text += "base hex  timestamps absolute\r\n";
            text += "no internal events logged\r\n";
        }
        text += "Begin Triggerblock " + date + "\r\n";
        return text;
    }
    std::string End() const override { return "End TriggerBlock\r\n"; }
    void Append(const TCanFrame& frame, TLogDirection direction, std::string& out) const override
    {
        // "%11s 1  %-15s %s   d %u" and " %02X" for each byte.
        const std::size_t start = out.size();
        AppendTime(out, Split(frame.Time), 1);
        if (const std::size_t width = out.size() - start; width < 11) out.insert(start, 11 - width, ' ');
        out += " 1  ";
        const std::size_t id = out.size();
        AppendHex(out, frame.Id);
        if (frame.Extended) out += 'x';
        if (const std::size_t width = out.size() - id; width < 15) out.append(15 - width, ' ');
        out += direction == TLogDirection::Received ? " Rx   d " : " Tx   d ";
        const unsigned dlc = std::min<unsigned>(frame.Dlc, 8);
        AppendDecimal(out, dlc);
        for (unsigned i = 0; i < dlc; ++i) {
            out += ' ';
            AppendByte(out, frame.Data[i]);
        }
        out += "\r\n";
    }

private:
    // "Mon Jan 06 02:03:04.005 PM 2025", in English whatever the locale.
    static std::string Date(const std::tm& t, int millis)
    {
        static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
        static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        const int hour12 = t.tm_hour % 12 == 0 ? 12 : t.tm_hour % 12;
        char text[64];
        std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d.%03d %s %d", days[(t.tm_wday % 7 + 7) % 7],
                      months[(t.tm_mon % 12 + 12) % 12], t.tm_mday, hour12, t.tm_min, t.tm_sec, millis,
                      t.tm_hour < 12 ? "AM" : "PM", t.tm_year + 1900);
        return text;
    }
};

class TCandumpWriter final : public TLogLineWriter {
public:
    std::string Begin(bool, const std::tm&, int) const override { return {}; }
    std::string End() const override { return {}; }
    bool EpochTimes() const override { return true; }
    void Append(const TCanFrame& frame, TLogDirection direction, std::string& out) const override
    {
        // "(%010lld.%06lld) %s %08X#" (%03X# for 11 bits) and "%02X" for each byte.
        out += '(';
        AppendTime(out, Split(frame.Time), 10);
        out += ") ";
        out += CandumpInterface;
        out += ' ';
        AppendHex(out, frame.Id, frame.Extended ? 8 : 3);
        out += '#';
        const unsigned dlc = std::min<unsigned>(frame.Dlc, 8);
        for (unsigned i = 0; i < dlc; ++i) AppendByte(out, frame.Data[i]);
        out += direction == TLogDirection::Received ? " R\n" : " T\n";
    }
};

}  // namespace

std::unique_ptr<TLogLineWriter> TLogLineWriter::Create(TLogOutFormat format)
{
    switch (format) {
    case TLogOutFormat::Asc:
        return std::make_unique<TAscWriter>();
    case TLogOutFormat::Candump:
        return std::make_unique<TCandumpWriter>();
    default:
        return std::make_unique<TLayout5Writer>();
    }
}

const char* TLogLineWriter::Name(TLogOutFormat format)
{
    switch (format) {
    case TLogOutFormat::Asc:
        return "asc";
    case TLogOutFormat::Candump:
        return "candump";
    default:
        return "l5";
    }
}

std::optional<TLogOutFormat> TLogLineWriter::FromName(std::string_view name)
{
    for (TLogOutFormat f : {TLogOutFormat::Layout5, TLogOutFormat::Asc, TLogOutFormat::Candump})
        if (name == Name(f)) return f;
    return std::nullopt;
}

const char* TLogLineWriter::Extension(TLogOutFormat format)
{
    return format == TLogOutFormat::Candump ? "log" : "asc";
}

TLogOutFormat TLogLineWriter::FormatOfFileName(std::string_view fileName)
{
    const std::size_t slash = fileName.find_last_of('/');
    const std::string_view base = slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
    const std::size_t dot = base.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) return TLogOutFormat::Layout5;
    std::string extension(base.substr(dot + 1));
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == "asc") return TLogOutFormat::Asc;
    if (extension == "log") return TLogOutFormat::Candump;
    return TLogOutFormat::Layout5;
}

bool TLogLineWriter::Holds(TLogOutFormat format, const TCanFrame& frame)
{
    return format != TLogOutFormat::Layout5 || frame.IsJ1939Shape();
}
