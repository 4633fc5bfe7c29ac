#include "fms/tfmsmeasval.h"

#include "fms/tcanhigh.h"
#include "support/tbaseerror.h"

#include <charconv>
#include <cmath>
#include <limits>
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

void PutLittleEndian(std::vector<uint8_t>& buf, int64_t raw)
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

    if (auto* d = dynamic_cast<TMeasValDouble*>(v.get())) {
        const int len = text.Length();
        const int p = text.FindOrLength(".");
        if (p < MinIntDigits)
            throw TBaseError(ReadOp, "too short");
        if (p > MaxIntDigits)
            throw TBaseError(ReadOp, "too long");
        const int decimals = len - p - (p < len ? 1 : 0);
        if (decimals < MinDecimals)
            throw TBaseError(ReadOp, "too short");
        if (decimals > MaxDecimals && limit == TDecimals::Limited)
            throw TBaseError(ReadOp, "too long");
        for (int i = 0; i < len; ++i) {
            const char c = text[i];
            if (c != '-' && c != '.' && (c < '0' || c > '9'))
                throw TBaseError(ReadOp, "has illegal character");
        }
        d->SetValue(LeadingNumber(text));
    } else if (auto* s = dynamic_cast<TMeasValString*>(v.get())) {
        if (text.Length() < 2 * MinIntDigits)
            throw TBaseError(ReadOp, "too short");
        if (text.Length() > 2 * MaxIntDigits)
            throw TBaseError(ReadOp, "too long");
        s->Text = text;
        s->SetOwnState(msValid);
    } else if (auto* e = dynamic_cast<TMeasValEnum*>(v.get())) {
        e->SetIndex(static_cast<uint32_t>(text.AsNum(255, 0)));
    }
    return v;
}

TAString TFmsMeasVal::Write() const
{
    if (MeasVal->State != msValid)
        return MeasStateText(MeasVal->State);

    if (const auto* d = dynamic_cast<const TMeasValDouble*>(MeasVal.get())) {
        // Room for the 309 integer digits of the largest double, sign, point and decimals.
        std::vector<char> buf(320u + MaxDecimals);
        const auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), d->Value,
                                             std::chars_format::fixed, static_cast<int>(MaxDecimals));
        (void)ec;
        return TAString(std::string_view(buf.data(), static_cast<std::size_t>(end - buf.data())));
    }
    if (const auto* t = dynamic_cast<const TMeasValTTS*>(MeasVal.get()))
        return t->Text;
    if (const auto* s = dynamic_cast<const TMeasValString*>(MeasVal.get())) {
        TAString out;
        for (int i = 0; i + 1 < s->Text.Length(); i += 2) {
            const char hi = s->Text[i];
            const char lo = s->Text[i + 1];
            if (IsHexDigit(hi) && IsHexDigit(lo)) {
                const int b = std::stoi(std::string{hi, lo}, nullptr, 16);
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
    if (const auto* e = dynamic_cast<const TMeasValEnum*>(MeasVal.get()))
        return TAString(std::to_string(e->Index));
    throw TBaseError("TFmsMeasVal::Write", "unknown type");
}

void TFmsMeasVal::WriteToCan(TCanHigh& m)
{
    uint16_t s = StartBit;
    uint16_t n = BitLength;
    std::vector<uint8_t> buf(static_cast<std::size_t>(n / 8 + 8), 0xFF);

    auto* str = dynamic_cast<TMeasValString*>(MeasVal.get());
    auto* tts = dynamic_cast<TMeasValTTS*>(MeasVal.get());
    const TMeasState state = MeasVal->State;

    if (tts != nullptr) {
        const auto block = tts->NextBlock(state != msValid && state != msOutOfRange);
        std::copy(block.begin(), block.end(), buf.begin());
        n = 64;
    } else if (state == msValid || state == msOutOfRange) {
        if (str != nullptr) {
            if (s == AfterData)
                s = StartAfterData(m);
            const int bytes = str->Text.Length() / 2;
            if (buf.size() < static_cast<std::size_t>(bytes))
                buf.resize(static_cast<std::size_t>(bytes), 0xFF);
            for (int i = 0; i < bytes; ++i)
                buf[static_cast<std::size_t>(i)] = str->Text.SubString(2 * i, 2).AsByte(TAString::nmHex);
            if (n == TextLength)
                n = static_cast<uint16_t>(4 * str->Text.Length());
        } else if (const auto* d = dynamic_cast<const TMeasValDouble*>(MeasVal.get())) {
            PutLittleEndian(buf, RoundHalfAway((d->SentValue() - Offset) / Resolution));
        } else if (const auto* e = dynamic_cast<const TMeasValEnum*>(MeasVal.get())) {
            PutLittleEndian(buf, static_cast<int64_t>(e->SentIndex()));
        }
    } else if (str != nullptr) {
        if (s == AfterData)
            s = StartAfterData(m);
        if (n == TextLength && Delimited) {
            buf[0] = EndMark;
            n = 8;
        } else if (n == TextLength) {
            n = 64;
            buf.resize(8 + 8);
        }
        // Everything else in buf is already 0xFF.
    } else {
        uint8_t code = 0;
        switch (state) {
        case msParamSpecific: code = CodeFB; break;
        case msReserved1: code = CodeFC; break;
        case msReserved2: code = CodeFD; break;
        case msError: code = CodeFE; break;
        case msNotAvailable: code = CodeFF; break;
        default: break;
        }
        if (code == 0)
            throw TBaseError("TFmsMeasVal::WriteToCan", "Error flag not supported");
        buf[n == 0 ? 0 : static_cast<std::size_t>((n - 1) / 8)] = code;
    }
    m.SetMV(buf, s, n);
}
