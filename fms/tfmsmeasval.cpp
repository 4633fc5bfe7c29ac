#include "fms/tfmsmeasval.h"

#include "fms/tcanhigh.h"
#include "support/tbaseerror.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <span>
#include <string>
#include <vector>

namespace {

const char* const ReadOp = "TFmsMeasVal::Read";

bool IsHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// The leading decimal number of text, as the C library reads one, but independent of
// the process's locale (a windowing toolkit may set a decimal comma). No number: 0.
double LeadingNumber(const TAString& text)
{
    double v = 0.0;
    const char* first = text.c_str();
    const auto [ptr, ec] = std::from_chars(first, first + text.Length(), v, std::chars_format::fixed);
    (void)ptr;
    return ec == std::errc() ? v : 0.0;
}

constexpr char HexDigits[] = "0123456789ABCDEF";

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c - 'A' + 10;
}

void PutLittleEndian(std::array<uint8_t, 16>& buf, int64_t raw)
{
    auto u = static_cast<uint64_t>(raw);
    for (int i = 0; i < 8; ++i) {
        buf[static_cast<std::size_t>(i)] = static_cast<uint8_t>(u & 0xFF);
        u >>= 8;
    }
}

// Start of a string that follows the data already in the message: the end of the
// fields written before it. A 0xFF byte is no end mark: it may be part of a text, or
// stand for a field without content.
uint16_t StartAfterData(const TCanHigh& m)
{
    return static_cast<uint16_t>(8 * m.DataEnd());
}

}  // namespace

int64_t RoundHalfAway(double x)
{
    constexpr double limit = 9223372036854775807.0;   // 2^63
    if (std::isnan(x))
        return 0;
    if (x >= limit)
        return std::numeric_limits<int64_t>::max();
    if (x <= -limit)
        return std::numeric_limits<int64_t>::min();
    const double halfway = 0.5 - 1e-9 - std::fabs(x) * 1e-12;
    const double whole = std::trunc(x);
    const double rest = x - whole;   // exact
    if (rest >= halfway)
        return static_cast<int64_t>(whole) + 1;
    if (rest <= -halfway)
        return static_cast<int64_t>(whole) - 1;
    return static_cast<int64_t>(whole);
}

TFmsMeasVal::TFmsMeasVal(const TAString& name, uint32_t canId, int32_t groupIndex, int32_t period,
                         uint16_t startBit, uint16_t bitLength, double resolution, const TAString& unit,
                         double offset, std::unique_ptr<TMeasVal> value, uint16_t minIntDigits,
                         uint16_t maxIntDigits, uint16_t minDecimals, uint16_t maxDecimals, uint8_t codeFF,
                         uint8_t codeFE, uint8_t codeFD, uint8_t codeFC, uint8_t codeFB)
    : CanId(canId), GroupIndex(groupIndex), Period(period), Name(name), Resolution(resolution), Unit(unit),
      Offset(offset), StartBit(startBit), BitLength(bitLength), MeasVal(std::move(value)),
      MinIntDigits(minIntDigits), MaxIntDigits(maxIntDigits), MinDecimals(minDecimals),
      MaxDecimals(maxDecimals), CodeFB(codeFB), CodeFC(codeFC), CodeFD(codeFD), CodeFE(codeFE),
      CodeFF(codeFF)
{
    if (codeFF == 0 && codeFE == 0 && codeFD == 0 && codeFC == 0 && codeFB == 0) {
        if (bitLength < 8) {
            CodeFF = static_cast<uint8_t>((1u << bitLength) - 1);
            CodeFE = static_cast<uint8_t>(bitLength == 0 ? 0 : (1u << bitLength) - 2);
        } else if (bitLength <= 32) {
            CodeFF = 0xFF;
            CodeFE = 0xFE;
            CodeFD = 0xFD;
            CodeFC = 0xFC;
            CodeFB = 0xFB;
        }
    }
}

std::unique_ptr<TMeasVal> TFmsMeasVal::Read(const TAString& text, TDecimals limit) const
{
    std::unique_ptr<TMeasVal> v = MeasVal->Clone();
    v->SetOwnState(msValid);

    TMeasState coded = msValid;
    if (MeasStateFromText(text, coded)) {
        v->SetOwnState(coded);
        return v;
    }
    v->ReadText(text, *this, limit == TDecimals::Any);
    return v;
}

TAString TFmsMeasVal::Write() const
{
    if (MeasVal->State != msValid)
        return MeasStateText(MeasVal->State);
    return MeasVal->WriteText(*this);
}

void TFmsMeasVal::WriteToCan(TCanHigh& m)
{
    MeasVal->Encode(*this, m);
}

uint8_t TFmsMeasVal::Code(TMeasState state) const
{
    switch (state) {
    case msParamSpecific: return CodeFB;
    case msReserved1: return CodeFC;
    case msReserved2: return CodeFD;
    case msError: return CodeFE;
    case msNotAvailable: return CodeFF;
    default: return 0;
    }
}

// ---------------------------------------------------------------------------------------
// The kinds' own parts of reading, writing and encoding.

namespace {

// A number or an enumeration: the raw value of its content, or the code of its state
// in the field's top byte with every other bit 1.
void EncodeRawOrCode(const TFmsMeasVal& signal, TCanHigh& m, TMeasState state, int64_t raw)
{
    const uint16_t n = signal.BitLength;
    // Fields of numbers and enumerations are at most 32 bits wide.
    std::array<uint8_t, 16> buf;
    buf.fill(0xFF);
    if (state == msValid || state == msOutOfRange) {
        PutLittleEndian(buf, raw);
    } else {
        const uint8_t code = signal.Code(state);
        if (code == 0)
            throw TBaseError("TFmsMeasVal::WriteToCan", "Error flag not supported");
        buf[n == 0 ? 0 : static_cast<std::size_t>((n - 1) / 8)] = code;
    }
    m.SetMV(std::span<const uint8_t>(buf.data(), static_cast<std::size_t>(n / 8 + 8)), signal.StartBit, n);
}

}  // namespace

TAString TMeasVal::WriteText(const TFmsMeasVal&) const
{
    throw TBaseError("TFmsMeasVal::Write", "unknown type");
}

void TMeasValDouble::ReadText(const TAString& text, const TFmsMeasVal& signal, bool anyDecimals)
{
    const int len = text.Length();
    const int p = text.FindOrLength(".");
    if (p < signal.MinIntDigits)
        throw TBaseError(ReadOp, "too short");
    if (p > signal.MaxIntDigits)
        throw TBaseError(ReadOp, "too long");
    const int decimals = len - p - (p < len ? 1 : 0);
    if (decimals < signal.MinDecimals)
        throw TBaseError(ReadOp, "too short");
    if (decimals > signal.MaxDecimals && !anyDecimals)
        throw TBaseError(ReadOp, "too long");
    for (int i = 0; i < len; ++i) {
        const char c = text[i];
        if (c != '-' && c != '.' && (c < '0' || c > '9'))
            throw TBaseError(ReadOp, "has illegal character");
    }
    SetValue(LeadingNumber(text));
}

TAString TMeasValDouble::WriteText(const TFmsMeasVal& signal) const
{
    // Room for the 309 integer digits of the largest double, sign, point and decimals.
    std::vector<char> buf(320u + signal.MaxDecimals);
    const auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), Value, std::chars_format::fixed,
                                         static_cast<int>(signal.MaxDecimals));
    (void)ec;
    return TAString(std::string_view(buf.data(), static_cast<std::size_t>(end - buf.data())));
}

void TMeasValDouble::Encode(const TFmsMeasVal& signal, TCanHigh& m)
{
    EncodeRawOrCode(signal, m, State, RoundHalfAway((SentValue() - signal.Offset) / signal.Resolution));
}

TAString TMeasValDouble::ContentRefusal(const TSignalContent& content, const TFmsMeasVal&) const
{
    return std::holds_alternative<double>(content) ? TAString() : TAString("a number is expected");
}

void TMeasValDouble::TakeContent(const TSignalContent& content)
{
    if (const double* v = std::get_if<double>(&content))
        SetValue(*v);
}

void TMeasValEnum::ReadText(const TAString& text, const TFmsMeasVal&, bool)
{
    SetIndex(static_cast<uint32_t>(text.AsNum(255, 0)));
}

TAString TMeasValEnum::WriteText(const TFmsMeasVal&) const
{
    return TAString(std::to_string(Index));
}

void TMeasValEnum::Encode(const TFmsMeasVal& signal, TCanHigh& m)
{
    EncodeRawOrCode(signal, m, State, static_cast<int64_t>(SentIndex()));
}

TAString TMeasValEnum::ContentRefusal(const TSignalContent& content, const TFmsMeasVal&) const
{
    return std::holds_alternative<TEnumIndex>(content) ? TAString() : TAString("an enumeration index is expected");
}

void TMeasValEnum::TakeContent(const TSignalContent& content)
{
    if (const TEnumIndex* v = std::get_if<TEnumIndex>(&content))
        SetIndex(v->Index);
}

void TMeasValString::ReadText(const TAString& text, const TFmsMeasVal& signal, bool)
{
    if (text.Length() < 2 * signal.MinIntDigits)
        throw TBaseError(ReadOp, "too short");
    if (text.Length() > 2 * signal.MaxIntDigits)
        throw TBaseError(ReadOp, "too long");
    Text = text;
    SetOwnState(msValid);
}

TAString TMeasValString::WriteText(const TFmsMeasVal&) const
{
    TAString out;
    for (int i = 0; i + 1 < Text.Length(); i += 2) {
        const char hi = Text[i];
        const char lo = Text[i + 1];
        if (IsHexDigit(hi) && IsHexDigit(lo)) {
            const int b = HexValue(hi) * 16 + HexValue(lo);
            if (b >= 0x20 && b <= 0x7E) {
                out += static_cast<char>(b);
                continue;
            }
        }
        out += 'x';
        out += hi;
        out += lo;
    }
    return out;
}

void TMeasValString::Encode(const TFmsMeasVal& signal, TCanHigh& m)
{
    uint16_t s = signal.StartBit;
    uint16_t n = signal.BitLength;
    if (s == TFmsMeasVal::AfterData)
        s = StartAfterData(m);
    // Texts are at most 255 bytes, the longest message.
    std::array<uint8_t, 256 + 8> buf;
    buf.fill(0xFF);
    if (State == msValid || State == msOutOfRange) {
        const int bytes = std::min<int>(Text.Length() / 2, 256);
        for (int i = 0; i < bytes; ++i) {
            const char hi = Text[2 * i];
            const char lo = Text[2 * i + 1];
            if (IsHexDigit(hi) && IsHexDigit(lo))
                buf[static_cast<std::size_t>(i)] = static_cast<uint8_t>(HexValue(hi) * 16 + HexValue(lo));
            else
                buf[static_cast<std::size_t>(i)] = Text.SubString(2 * i, 2).AsByte(TAString::nmHex);   // throws
        }
        if (n == TFmsMeasVal::TextLength)
            n = static_cast<uint16_t>(4 * Text.Length());
    } else if (n == TFmsMeasVal::TextLength && signal.Delimited) {
        buf[0] = TFmsMeasVal::EndMark;
        n = 8;
    } else if (n == TFmsMeasVal::TextLength) {
        n = 64;
    }
    m.SetMV(std::span<const uint8_t>(buf.data(), std::min<std::size_t>(buf.size(), n / 8u + 8u)), s, n);
}

TAString TMeasValString::ContentRefusal(const TSignalContent& content, const TFmsMeasVal& signal) const
{
    const TSignalText* t = std::get_if<TSignalText>(&content);
    if (t == nullptr)
        return "a text is expected";
    const auto bytes = static_cast<int>(t->Bytes.size());
    if (bytes < signal.MinIntDigits)
        return TAString("the text has ") + TAString(std::to_string(bytes)) + " bytes, at least " +
               TAString(std::to_string(signal.MinIntDigits)) + " are needed";
    if (bytes > signal.MaxIntDigits)
        return TAString("the text has ") + TAString(std::to_string(bytes)) + " bytes, at most " +
               TAString(std::to_string(signal.MaxIntDigits)) + " fit";
    return {};
}

void TMeasValString::TakeContent(const TSignalContent& content)
{
    if (const TSignalText* t = std::get_if<TSignalText>(&content)) {
        // The model hands the same texts over at every step: compared where they lie.
        const std::string& held = Text.str();
        bool same = held.size() == 2 * t->Bytes.size();
        for (std::size_t k = 0; same && k < t->Bytes.size(); ++k) {
            const auto b = static_cast<uint8_t>(t->Bytes[k]);
            same = held[2 * k] == HexDigits[b >> 4] && held[2 * k + 1] == HexDigits[b & 0x0F];
        }
        if (!same) {
            std::string hex;
            hex.reserve(2 * t->Bytes.size());
            for (char c : t->Bytes) {
                const auto b = static_cast<uint8_t>(c);
                hex += HexDigits[b >> 4];
                hex += HexDigits[b & 0x0F];
            }
            Text = TAString(std::move(hex));
        }
        SetOwnState(msValid);
    }
}

TSignalContent TMeasValString::Content() const
{
    TSignalText t;
    for (int i = 0; i + 1 < Text.Length(); i += 2) {
        const char hi = Text[i];
        const char lo = Text[i + 1];
        t.Bytes += static_cast<char>(IsHexDigit(hi) && IsHexDigit(lo) ? HexValue(hi) * 16 + HexValue(lo) : 0xFF);
    }
    return t;
}

TAString TMeasValTTS::WriteText(const TFmsMeasVal&) const
{
    return Text;
}

void TMeasValTTS::Encode(const TFmsMeasVal& signal, TCanHigh& m)
{
    const auto block = NextBlock(State != msValid && State != msOutOfRange);
    std::array<uint8_t, 16> buf;
    buf.fill(0xFF);
    std::copy(block.begin(), block.end(), buf.begin());
    m.SetMV(buf, signal.StartBit == TFmsMeasVal::AfterData ? StartAfterData(m) : signal.StartBit, 64);
}

TAString TMeasValTTS::ContentRefusal(const TSignalContent& content, const TFmsMeasVal&) const
{
    const TTellTaleStates* t = std::get_if<TTellTaleStates>(&content);
    if (t == nullptr)
        return "tell-tale states are expected";
    for (std::size_t i = 0; i < t->States.size(); ++i)
        if (t->States[i] > 7)
            return TAString("tell-tale ") + TAString(std::to_string(i + 1)) + " has the status " +
                   TAString(std::to_string(t->States[i])) + ", the statuses are 0 to 7";
    return {};
}

void TMeasValTTS::TakeContent(const TSignalContent& content)
{
    if (const TTellTaleStates* t = std::get_if<TTellTaleStates>(&content)) {
        std::string digits(t->States.size(), '7');
        for (std::size_t i = 0; i < digits.size(); ++i)
            digits[i] = static_cast<char>('0' + t->States[i]);
        if (Text.str() != digits)
            Text = TAString(std::move(digits));
        SetOwnState(msValid);
    }
}

TSignalContent TMeasValTTS::Content() const
{
    TTellTaleStates t;
    for (std::size_t i = 0; i < t.States.size(); ++i) {
        const int k = static_cast<int>(i);
        t.States[i] = k < Text.Length() ? static_cast<uint8_t>((Text[k] - '0') & 0x07) : 7;
    }
    return t;
}
