#include "support/tastring.h"

#include "support/tbaseerror.h"

#include <charconv>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>

namespace {

bool IsWordSeparator(char c)
{
    return c == '\0' || c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Hex digits to an unsigned 32-bit value; more than 32 bits saturate at 0xFFFFFFFF.
// The value of any number of hex digits; beyond 64 bits it goes on in double, so a
// number wider than the caller's range is out of range instead of clipped to it.
double ParseHex(const std::string& digits)
{
    uint64_t value = 0;
    std::size_t i = 0;
    for (; i < digits.size() && value <= (UINT64_MAX >> 4); ++i) {
        const char c = digits[i];
        value = value * 16 + ((c <= '9') ? uint64_t(c - '0') : uint64_t((c | 0x20) - 'a' + 10));
    }
    double wide = static_cast<double>(value);
    for (; i < digits.size(); ++i) wide *= 16;
    return wide;
}

// Truncates toward zero; a caller's default outside the type's range is clamped
// rather than converted with undefined behaviour.
template <class Int>
Int ToInteger(double value)
{
    constexpr double lo = static_cast<double>(std::numeric_limits<Int>::min());
    constexpr double hi = static_cast<double>(std::numeric_limits<Int>::max());
    if (!(value >= lo)) return std::numeric_limits<Int>::min();
    if (value >= hi) return std::numeric_limits<Int>::max();
    return static_cast<Int>(value);
}

// Upper-case hex, zero-filled to the given number of digits.
TAString HexDigits(uint32_t value, int digits)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", digits, static_cast<unsigned>(value));
    return TAString(buf);
}

}  // namespace

TAString::TAString(int32_t value)
{
    s_ = std::to_string(value);
}

TAString::TAString(double value, int width, int precision)
{
    // to_chars, unlike printf, ignores the process locale (a desktop with a decimal
    // comma must not change log lines or settings).
    char buf[400];
    if (precision < 0) precision = 6;
    if (precision > 60) precision = 60;
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, precision);
    std::string digits = ec == std::errc() ? std::string(buf, end) : std::string();
    if (width > 0 && digits.size() < static_cast<size_t>(width))
        digits.insert(0, static_cast<size_t>(width) - digits.size(), ' ');
    s_ = std::move(digits);
}

char TAString::operator[](int pos) const
{
    if (pos < 0 || pos >= Length()) return '\0';
    return s_[static_cast<size_t>(pos)];
}

int TAString::ClampEnd(int to) const
{
    return (to < 0 || to > Length()) ? Length() : to;
}

int TAString::Find(const TAString& pattern, int from, int end) const
{
    end = ClampEnd(end);
    if (from < 0) from = 0;
    if (from > end) return -1;
    std::string_view hay(s_.data() + from, static_cast<size_t>(end - from));
    size_t at = hay.find(pattern.s_);
    return at == std::string_view::npos ? -1 : from + static_cast<int>(at);
}

int TAString::FindOrLength(const TAString& pattern, int from, int end) const
{
    int at = Find(pattern, from, end);
    return at < 0 ? Length() : at;
}

TAString TAString::SubString(int pos, int count) const
{
    if (pos < 0) pos = 0;
    if (pos >= Length() || count == 0) return TAString();
    size_t n = count < 0 ? std::string::npos : static_cast<size_t>(count);
    return TAString(s_.substr(static_cast<size_t>(pos), n));
}

int TAString::Truncate(int pos)
{
    if (pos < 0) pos = 0;
    if (pos >= Length()) return 0;
    int removed = Length() - pos;
    s_.resize(static_cast<size_t>(pos));
    return removed;
}

int TAString::Remove(const TAString& pattern, int n)
{
    return Replace(pattern, TAString(), n);
}

int TAString::Replace(const TAString& pattern, const TAString& with, int n)
{
    if (pattern.IsEmpty()) return 0;
    int done = 0;
    size_t at = 0;
    while (n < 0 || done < n) {
        at = s_.find(pattern.s_, at);
        if (at == std::string::npos) break;
        s_.replace(at, pattern.s_.size(), with.s_);
        at += with.s_.size();
        ++done;
    }
    return done;
}

void TAString::Insert(int pos, const TAString& text)
{
    if (pos < 0) pos = 0;
    if (pos > Length()) pos = Length();
    s_.insert(static_cast<size_t>(pos), text.s_);
}

int TAString::WordCount() const
{
    int count = 0;
    bool inWord = false;
    for (char c : s_) {
        bool sep = IsWordSeparator(c);
        if (!sep && !inWord) ++count;
        inWord = !sep;
    }
    return count;
}

TAString TAString::Word(int index) const
{
    int count = -1;
    size_t i = 0;
    const size_t n = s_.size();
    while (i < n) {
        while (i < n && IsWordSeparator(s_[i])) ++i;
        if (i >= n) break;
        size_t start = i;
        while (i < n && !IsWordSeparator(s_[i])) ++i;
        if (++count == index) return TAString(s_.substr(start, i - start));
    }
    return TAString();
}

int TAString::WildCompare(const TAString& pattern) const
{
    size_t i = 0;
    for (size_t p = 0;; ++p, ++i) {
        unsigned char pc = p < pattern.s_.size() ? static_cast<unsigned char>(pattern.s_[p]) : 0;
        unsigned char tc = i < s_.size() ? static_cast<unsigned char>(s_[i]) : 0;
        if (pc == '*') return 0;
        if (pc == '?' && tc != 0) continue;
        if (pc != tc) return int(tc) - int(pc);
        if (pc == 0) return 0;
    }
}

TAString& TAString::LfToCrLf()
{
    std::string out;
    out.reserve(s_.size() + s_.size() / 16);
    for (size_t i = 0; i < s_.size(); ++i) {
        if (s_[i] == '\n' && (i == 0 || s_[i - 1] != '\r')) out += '\r';
        out += s_[i];
    }
    s_ = std::move(out);
    return *this;
}

TAString& TAString::RemoveCr()
{
    std::erase(s_, '\r');
    return *this;
}

TAString TAString::Indexed(const TAString& base, int32_t index)
{
    return base + "[" + TAString(index) + "]";
}

TAString TAString::Hex32(uint32_t value) { return HexDigits(value, 8); }
TAString TAString::Hex16(uint16_t value) { return HexDigits(value, 4); }
TAString TAString::Hex8(uint8_t value) { return HexDigits(value, 2); }

void TAString::LoadFromFile(const TAString& fileName, bool stripCr)
{
    s_.clear();
    std::ifstream in(fileName.s_, std::ios::binary);
    if (!in) throw TBaseError("TAString::LoadFromFile", "FileNotFound");
    char chunk[32768];
    while (in) {
        in.read(chunk, sizeof chunk);
        std::streamsize got = in.gcount();
        if (got <= 0) break;
        // A zero byte ends the text of its chunk.
        std::string_view part(chunk, static_cast<size_t>(got));
        s_.append(part.substr(0, part.find('\0')));
    }
    if (stripCr) RemoveCr();
}

void TAString::SaveToFile(const TAString& fileName, bool addCr) const
{
    std::ofstream out(fileName.s_, std::ios::binary | std::ios::trunc);
    if (!out) throw TBaseError("TAString::SaveToFile", "PathNotFound");
    if (addCr) {
        TAString copy(*this);
        copy.LfToCrLf();
        out << copy.s_;
    } else {
        out << s_;
    }
    out.flush();
    if (!out) throw TBaseError("TAString::SaveToFile", "PathNotFound");
}

bool TAString::IsHex(int from, int to) const
{
    to = ClampEnd(to);
    for (int i = from < 0 ? 0 : from; i < to; ++i)
        if (!IsHexDigit(s_[static_cast<size_t>(i)])) return false;
    return true;
}

bool TAString::IsNumber(int from, int to) const
{
    to = ClampEnd(to);
    int i = from < 0 ? 0 : from;
    while (i < to && (s_[size_t(i)] == ' ' || s_[size_t(i)] == '\t')) ++i;
    if (i < to && (s_[size_t(i)] == '+' || s_[size_t(i)] == '-')) ++i;
    bool digit = false;
    bool dot = false;
    for (; i < to; ++i) {
        char c = s_[size_t(i)];
        if (c >= '0' && c <= '9') {
            digit = true;
        } else if (c == '.' && !dot) {
            dot = true;
        } else {
            return false;
        }
    }
    return digit;
}

double TAString::AsNum(double max, double min, int mode, double def) const
{
    static const char* const op = "TAString::AsNum";
    const bool hasDefault = def != NoDefault;
    const bool leadingX = !s_.empty() && s_[0] == 'x';

    if (leadingX && mode == nmDec) throw TBaseError(op, "Dez-Error(x)");

    if (leadingX || mode == nmHex) {
        int from = leadingX ? 1 : 0;
        // An empty digit run holds no number: treated like any other malformed hex text.
        if (from >= Length() || !IsHex(from)) {
            if (hasDefault) return def;
            throw TBaseError(op, "Hex-Error");
        }
        double value = ParseHex(s_.substr(static_cast<size_t>(from)));
        if (value < min || value > max) throw TBaseError(op, "OutOfRange");
        return value;
    }

    if (!IsNumber()) {
        if (hasDefault) return def;
        throw TBaseError(op, "Hex-Error");
    }
    double value = std::strtod(s_.c_str(), nullptr);
    if (!(value >= min) || value > max) throw TBaseError(op, "OutOfRange");
    return value;
}

uint8_t TAString::AsByte(int mode, double def) const
{
    return ToInteger<uint8_t>(AsNum(255, 0, mode, def));
}

uint16_t TAString::AsWord(int mode, double def) const
{
    return ToInteger<uint16_t>(AsNum(65535, 0, mode, def));
}

uint32_t TAString::AsUInt32(int mode, double def) const
{
    return ToInteger<uint32_t>(AsNum(4294967295.0, 0, mode, def));
}

int32_t TAString::AsInt32(int mode, double def) const
{
    return ToInteger<int32_t>(AsNum(2147483647.0, -2147483648.0, mode, def));
}
