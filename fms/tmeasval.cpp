#include "fms/tmeasval.h"

#include <algorithm>
#include <cmath>
#include <typeinfo>

namespace {

struct TStateLetter {
    TMeasState State;
    const char* Letter;
};

constexpr TStateLetter StateLetters[] = {
    {msNotSet, "*"},        {msOutOfRange, "o"}, {msNotAvailable, "n"}, {msParamSpecific, "p"},
    {msReserved1, "r"},     {msReserved2, "R"},  {msError, "e"},
};

}  // namespace

TAString MeasStateText(TMeasState state)
{
    for (const auto& s : StateLetters) {
        if (s.State == state)
            return s.Letter;
    }
    return {};
}

bool MeasStateFromText(const TAString& text, TMeasState& state)
{
    for (const auto& s : StateLetters) {
        if (text == s.Letter) {
            state = s.State;
            return true;
        }
    }
    return false;
}

bool TMeasVal::SameClassAndState(const TMeasVal& other) const
{
    return typeid(*this) == typeid(other) && State == other.State;
}

// ---------------------------------------------------------------------------------------

TMeasValDouble::TMeasValDouble(double initial, double min, double max, double tolerance, double spare,
                               double invalidLow, double invalidHigh)
    : Min(min), Max(max), InvalidLow(invalidLow), InvalidHigh(invalidHigh), Tolerance(tolerance), Spare(spare)
{
    SetValue(initial);
}

void TMeasValDouble::SetValue(double v)
{
    Value = v;
    SetOwnState(ContentState());
}

TMeasState TMeasValDouble::ContentState() const
{
    if (std::isnan(Value))
        return msError;
    if (Value < Min || Value > Max)
        return msOutOfRange;
    if (InvalidLow <= Value && Value <= InvalidHigh)
        return msOutOfRange;
    return msValid;
}

double TMeasValDouble::SentValue() const
{
    if (Value < Min)
        return Min;
    if (Value > Max)
        return Max;
    return Value;
}

bool TMeasValDouble::IsEqual(const TMeasVal& other) const
{
    if (!SameClassAndState(other))
        return false;
    if (State != msValid)
        return true;
    const double v = static_cast<const TMeasValDouble&>(other).Value;
    return v >= Value - Tolerance && v <= Value + Tolerance;
}

std::unique_ptr<TMeasVal> TMeasValDouble::Clone() const
{
    return std::make_unique<TMeasValDouble>(*this);
}

// ---------------------------------------------------------------------------------------

TMeasValEnum::TMeasValEnum(uint32_t initial, const TAString& texts)
{
    // Entries as lines of the text with every "," a line break: a trailing separator
    // adds no empty entry, an empty text has none.
    const std::string& s = texts.str();
    std::size_t from = 0;
    while (from < s.size()) {
        std::size_t to = s.find_first_of(",\n", from);
        if (to == std::string::npos)
            to = s.size();
        Texts.emplace_back(s.substr(from, to - from));
        from = to + 1;
    }
    SetIndex(initial);
}

void TMeasValEnum::SetIndex(uint32_t i)
{
    Index = i;
    SetOwnState(ContentState());
}

TMeasState TMeasValEnum::ContentState() const
{
    return (Index < Texts.size() && !Texts[Index].IsEmpty()) ? msValid : msOutOfRange;
}

uint32_t TMeasValEnum::SentIndex() const
{
    const auto has = [this](std::size_t i) { return i < Texts.size() && !Texts[i].IsEmpty(); };
    if (has(Index))
        return Index;
    // The nearest entry below, else the nearest above; an enumeration without entries
    // sends 0.
    for (std::size_t i = std::min<std::size_t>(Index, Texts.size()); i-- > 0;)
        if (has(i))
            return static_cast<uint32_t>(i);
    for (std::size_t i = Index; i < Texts.size(); ++i)
        if (has(i))
            return static_cast<uint32_t>(i);
    return 0;
}

bool TMeasValEnum::IsEqual(const TMeasVal& other) const
{
    if (!SameClassAndState(other))
        return false;
    return State != msValid || static_cast<const TMeasValEnum&>(other).Index == Index;
}

std::unique_ptr<TMeasVal> TMeasValEnum::Clone() const
{
    return std::make_unique<TMeasValEnum>(*this);
}

// ---------------------------------------------------------------------------------------

TMeasValString::TMeasValString(const TAString& text) : Text(text)
{
    SetOwnState(msValid);
}

bool TMeasValString::IsEqual(const TMeasVal& other) const
{
    if (!SameClassAndState(other))
        return false;
    return State != msValid || static_cast<const TMeasValString&>(other).Text == Text;
}

std::unique_ptr<TMeasVal> TMeasValString::Clone() const
{
    return std::make_unique<TMeasValString>(*this);
}

// ---------------------------------------------------------------------------------------

TMeasValTTS::TMeasValTTS() : TMeasValString(TAString(std::string(TellTales, '7'))) {}

void TMeasValTTS::Reset()
{
    TMeasValString::Reset();
    Block = 0;
}

std::unique_ptr<TMeasVal> TMeasValTTS::Clone() const
{
    return std::make_unique<TMeasValTTS>(*this);
}

std::array<uint8_t, 8> TMeasValTTS::NextBlock(bool notAvailable)
{
    std::array<uint8_t, 8> b{};
    b[0] = static_cast<uint8_t>(0x80 | (Block & 0x0F));
    for (int i = 1; i < 8; ++i)
        b[i] = 0x88;
    for (int i = 1; i <= 15; ++i) {
        const int k = Block * 15 + i - 1;
        // The status stays within its 3 bits so that a stray character cannot spill
        // into the spare bit or the neighbouring tell-tale.
        const int status = !notAvailable && k < Text.Length() ? ((Text[k] - '0') & 0x07) : 7;
        if (i % 2 != 0)
            b[i / 2] = static_cast<uint8_t>(b[i / 2] | (status << 4));
        else
            b[i / 2] = static_cast<uint8_t>(b[i / 2] | status);
    }
    Block = Block >= 2 ? 0 : static_cast<uint16_t>(Block + 1);
    return b;
}
