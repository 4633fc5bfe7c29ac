#include "fms/tvalidmanip.h"

#include "fms/tbusfmsstandard.h"
#include "support/tbaseerror.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace {

constexpr const char* ValidSignal = "Valid Signal";

std::string Trimmed(const std::string& s)
{
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    const auto last = s.find_last_not_of(' ');
    return s.substr(first, last - first + 1);
}

std::string Folded(const std::string& s)
{
    std::string r = Trimmed(s);
    std::transform(r.begin(), r.end(), r.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return r;
}

// "FE = Error" gives the code "fe" and the word "error", folded.
void SplitItem(const TAString& item, std::string& code, std::string& word)
{
    const std::string& s = item.str();
    const auto eq = s.find('=');
    if (eq == std::string::npos) {
        code.clear();
        word = Folded(s);
        return;
    }
    code = Folded(s.substr(0, eq));
    word = Folded(s.substr(eq + 1));
}

}  // namespace

TValidManip::TValidManip()
{
    const TBusFmsStandard catalogue("00.02");
    Build(catalogue);
}

TValidManip::TValidManip(const TBusFmsStandard& catalogue)
{
    Build(catalogue);
}

void TValidManip::Build(const TBusFmsStandard& catalogue)
{
    rows_.clear();
    rows_.reserve(static_cast<std::size_t>(catalogue.SignalCount()));
    for (int i = 0; i < catalogue.SignalCount(); ++i) {
        const TFmsMeasVal& s = catalogue.Signal(i);
        TRow row;
        row.Name = s.Name;
        row.BitLength = s.BitLength;
        row.Items = Choices(s);
        rows_.push_back(std::move(row));
    }
}

std::vector<TAString> TValidManip::Choices(uint16_t bitLength)
{
    switch (bitLength) {
    case 2:
        return {ValidSignal, "11 = not available", "10 = Error"};
    case 3:
        return {ValidSignal, "111 = not available", "110 = Error"};
    case 4:
        return {ValidSignal, "1111 = not available ", "1110 = Error"};
    case 8:
    case 16:
    case 32:
        return {ValidSignal, "FF = not available", "FE = Error", "FD = Reserved 2", "FC = Reserved 1",
                "FB = Parameter specific"};
    default:
        return {ValidSignal, "FF = not available"};
    }
}

std::vector<TAString> TValidManip::Choices(const TFmsMeasVal& signal)
{
    if (!signal.MeasVal->HasIndicatorCodes())
        return {ValidSignal, "FF = not available"};
    return Choices(signal.BitLength);
}

TMeasState TValidManip::ChoiceState(int item)
{
    switch (item) {
    case 1:
        return msNotAvailable;
    case 2:
        return msError;
    case 3:
        return msReserved2;
    case 4:
        return msReserved1;
    case 5:
        return msParamSpecific;
    default:
        return msValid;
    }
}

const TValidManip::TRow& TValidManip::Row(int row) const
{
    if (row < 0 || row >= RowCount())
        throw TBaseError("TValidManip::Row", "index out of range");
    return rows_[static_cast<std::size_t>(row)];
}

TValidManip::TRow& TValidManip::At(int row)
{
    return rows_[static_cast<std::size_t>(row)];
}

void TValidManip::Change(int row, int selected, const TAString& text)
{
    if (row < 0 || row >= RowCount())
        throw TBaseError("TFValidFlagManip::OnRangeChange", "CastError");
    TRow& r = At(row);
    if (selected != r.Pending) {
        const auto it = std::find(r.Items.begin(), r.Items.end(), text);
        r.Pending = it == r.Items.end() ? NoItem : static_cast<int>(it - r.Items.begin());
    }
    applyEnabled_ = true;
    if (autoapply_)
        Apply();
}

void TValidManip::Apply()
{
    for (TRow& r : rows_)
        r.Applied = r.Pending;
    applyEnabled_ = false;
    ++version_;
}

void TValidManip::Cancel()
{
    for (TRow& r : rows_)
        r.Pending = r.Applied;
}

void TValidManip::SetAutoapply(bool on)
{
    autoapply_ = on;
    if (on)
        Apply();
}

void TValidManip::Execute(TBusFmsStandard& catalogue) const
{
    const int n = std::min(catalogue.SignalCount(), RowCount());
    for (int i = 0; i < n; ++i) {
        TFmsMeasVal& s = catalogue.Signal(i);
        if (!s.MeasVal)
            continue;
        TMeasVal& v = *s.MeasVal;
        const TRow& row = rows_[static_cast<std::size_t>(i)];
        const bool forced = row.Applied > 0 && row.Applied < static_cast<int>(row.Items.size());
        if (forced)
            v.State = ChoiceState(row.Applied);
        else
            v.State = v.OwnState == msNotSet ? v.ContentState() : v.OwnState;
    }
}

int TValidManip::FindRow(const TAString& name) const
{
    for (int i = 0; i < RowCount(); ++i)
        if (rows_[static_cast<std::size_t>(i)].Name == name)
            return i;
    const std::string wanted = Folded(name.str());
    for (int i = 0; i < RowCount(); ++i)
        if (Folded(rows_[static_cast<std::size_t>(i)].Name.str()) == wanted)
            return i;
    return -1;
}

int TValidManip::FindChoice(int row, const TAString& text) const
{
    const std::vector<TAString>& items = Row(row).Items;
    const int n = static_cast<int>(items.size());
    for (int i = 0; i < n; ++i)
        if (items[static_cast<std::size_t>(i)] == text)
            return i;

    const std::string wanted = Folded(text.str());
    if (wanted.empty())
        return NoItem;
    if (wanted == "valid" || wanted == Folded(ValidSignal))
        return 0;
    for (int i = 0; i < n; ++i) {
        const TAString& item = items[static_cast<std::size_t>(i)];
        std::string code;
        std::string word;
        SplitItem(item, code, word);
        if (Folded(item.str()) == wanted || word == wanted || (!code.empty() && code == wanted))
            return i;
    }
    TMeasState state = msValid;
    if (MeasStateFromText(TAString(Trimmed(text.str())), state))
        for (int i = 1; i < n; ++i)
            if (ChoiceState(i) == state)
                return i;
    return NoItem;
}

void TValidManip::Force(const TAString& name, const TAString& choice)
{
    const int row = FindRow(name);
    if (row < 0)
        throw TBaseError("TValidManip::Force", "unknown signal");
    const int item = FindChoice(row, choice);
    if (item == NoItem)
        throw TBaseError("TValidManip::Force", "unknown state");
    TRow& r = At(row);
    r.Pending = item;
    r.Applied = item;
    ++version_;
}

TAString TValidManip::Stored(int row) const
{
    const TRow& r = Row(row);
    if (r.Applied < 0 || r.Applied >= static_cast<int>(r.Items.size()))
        return ValidSignal;
    return r.Items[static_cast<std::size_t>(r.Applied)];
}

TAString TValidManip::Load(int row, const TAString& stored)
{
    (void)Row(row);
    TRow& r = At(row);
    int item = FindChoice(row, stored);
    TAString notice;
    if (item == NoItem) {
        item = 1;   // every row offers "not available" as item 1
        notice = r.Name + ": the choice '" + stored + "' cannot be sent by this signal; it is now '" +
                 r.Items[1] + "'";
    }
    r.Pending = item;
    r.Applied = item;
    ++version_;
    return notice;
}
