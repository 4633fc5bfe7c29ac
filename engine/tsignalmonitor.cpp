#include "engine/tsignalmonitor.h"

#include "fms/tbusfmsstandard.h"
#include "fms/tfmsmeasval.h"
#include "fms/tmeasval.h"
#include "support/tbaseerror.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <string>

namespace {

constexpr uint32_t FirstPdu2 = 0xF000;

// SPNs in catalogue order (0: none). The doors of Door Control 2 follow one another:
// door k's lock, open and enable status are 3412 + 3(k-1), +1, +2.
constexpr int Spns[86] = {
    70,   84,   598,  597,  595,  91,   250,  96,   190,  247,  237,  2805, 2804, 2806, 917,  1611, 1612,
    1613, 1614, 1615, 1617, 1616, 1618, 1619, 1620, 1621, 1622, 1624, 110,  171,  3411, 1820, 1821,
    3412, 3413, 3414, 3415, 3416, 3417, 3418, 3419, 3420, 3421, 3422, 3423, 3424, 3425, 3426, 3427,
    3428, 3429, 3430, 3431, 3432, 3433, 3434, 3435, 3436, 3437, 3438, 3439, 3440, 3441, 959,  960,
    961,  963,  962,  964,  1087, 1088, 3353, 3354, 3355, 3356, 524,  523,  1725, 1726, 1727, 1728,
    1625, 1626, 183,  184,  0,
};

uint32_t PgnOf(const TFmsMeasVal& s)
{
    return (s.CanId >> 8) & 0x3FFFF;
}

std::string Lower(std::string_view s)
{
    std::string r(s);
    for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

// Bytes from..to of m as two hex digits each, separated by separator when it is not 0.
TAString Hex(const std::vector<uint8_t>& m, std::size_t from, std::size_t to, char separator)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    to = std::min(to, m.size());
    if (from < to) text.reserve((to - from) * 3);
    for (std::size_t k = from; k < to; ++k) {
        if (separator != 0 && k != from) text += separator;
        text += digits[m[k] >> 4];
        text += digits[m[k] & 0x0F];
    }
    return text;
}

TAString HexBytes(const std::vector<uint8_t>& m, std::size_t from, std::size_t to)
{
    return Hex(m, from, to, ' ');
}

TAString HexText(const std::vector<uint8_t>& m, std::size_t from, std::size_t to)
{
    return Hex(m, from, to, 0);
}

uint64_t Bits(const std::vector<uint8_t>& m, int start, int count)
{
    uint64_t raw = 0;
    for (int b = 0; b < count && b < 64; ++b) {
        const auto byte = static_cast<std::size_t>((start + b) / 8);
        if (byte < m.size() && ((m[byte] >> ((start + b) % 8)) & 1)) raw |= uint64_t{1} << b;
    }
    return raw;
}

// The indicator a number or enumeration field carries, or msValid when it carries content.
TMeasState Indicator(const TFmsMeasVal& s, uint64_t raw)
{
    const int n = s.BitLength;
    if (n >= 8) {
        const auto top = static_cast<uint8_t>((raw >> (n - 8)) & 0xFF);
        if (top >= 0xFB) return static_cast<TMeasState>(0x4200 | top);
        return msValid;
    }
    if (n > 0 && raw == s.CodeFF) return msNotAvailable;
    if (n > 1 && raw == s.CodeFE) return msError;
    return msValid;
}

struct TDecoded {
    TAString Value;
    uint16_t State = msValid;
    TAString Raw;
};

}  // namespace

TSignalMonitor::TSignalMonitor() : decoder_(std::make_unique<TBusFmsStandard>("00.02"))
{
    rows_ = CatalogueRows();
    rowCount_ = rows_.size();
    tellTales_.assign(TMeasValTTS::TellTales, '7');
    for (int i = 0; i < decoder_->SignalCount(); ++i) {
        const TFmsMeasVal& s = decoder_->Signal(i);
        auto group = std::find_if(groups_.begin(), groups_.end(), [&](const TGroupRows& g) { return g.Pgn == PgnOf(s); });
        if (group == groups_.end()) group = groups_.insert(groups_.end(), TGroupRows{PgnOf(s), {}, false, {}, {}});
        group->Signals.emplace_back(i, SignalKindAt(i));
    }
}

TSignalMonitor::~TSignalMonitor() = default;

std::vector<TSignalRow> TSignalMonitor::CatalogueRows()
{
    const TBusFmsStandard catalogue("00.02");
    std::vector<TSignalRow> rows(static_cast<std::size_t>(catalogue.SignalCount()));
    for (int i = 0; i < catalogue.SignalCount(); ++i) {
        const TFmsMeasVal& s = catalogue.Signal(i);
        TSignalRow& r = rows[static_cast<std::size_t>(i)];
        r.Index = i;
        r.Name = s.Name;
        r.Group = TBusFmsStandard::GetPgnName(s.CanId, 0);
        r.Pgn = PgnOf(s);
        r.Spn = i < static_cast<int>(std::size(Spns)) ? Spns[i] : 0;
        r.Unit = s.Unit;
        r.StateName = "no frame yet";
    }
    return rows;
}

TAString TSignalMonitor::StateName(uint16_t state)
{
    switch (state) {
    case msValid: return "valid";
    case msNotSet: return "not set";
    case msOutOfRange: return "out of range";
    case msParamSpecific: return "parameter specific";
    case msReserved1: return "reserved 1";
    case msReserved2: return "reserved 2";
    case msError: return "error";
    case msNotAvailable: return "not available";
    default: return "unknown";
    }
}

bool TSignalMonitor::Matches(const TSignalRow& row, std::string_view filter)
{
    char pgnHex[16];
    std::snprintf(pgnHex, sizeof pgnHex, "%04x", static_cast<unsigned>(row.Pgn));
    const std::string fields[] = {Lower(row.Name.str()), Lower(row.Group.str()), std::to_string(row.Pgn), pgnHex,
                                  row.Spn > 0 ? std::to_string(row.Spn) : std::string()};
    std::size_t at = 0;
    while (at < filter.size()) {
        const std::size_t start = filter.find_first_not_of(" \t", at);
        if (start == std::string_view::npos) break;
        const std::size_t end = std::min(filter.find_first_of(" \t", start), filter.size());
        const std::string word = Lower(filter.substr(start, end - start));
        at = end;
        bool found = false;
        for (const std::string& f : fields) found = found || f.find(word) != std::string::npos;
        if (!found) return false;
    }
    return true;
}

void TSignalMonitor::SetSentOutOfRange(std::vector<bool> marks)
{
    if (marks == sentOutOfRange_) return;
    sentOutOfRange_ = std::move(marks);
    for (TGroupRows& g : groups_) g.Decoded = false;
}

void TSignalMonitor::Clear()
{
    transfers_.Clear();
    tellTales_.assign(TMeasValTTS::TellTales, '7');
    for (TGroupRows& g : groups_) g.Decoded = false;
    std::lock_guard lock(mutex_);
    const uint64_t seq = seq_.load(std::memory_order_relaxed) + 1;
    for (TSignalRow& r : rows_) {
        r.Value = TAString();
        r.StateCode = TAString();
        r.StateName = "no frame yet";
        r.Raw = TAString();
        r.LastFrame = -1;
        r.Changed = seq;
    }
    seq_.store(seq, std::memory_order_release);
}

void TSignalMonitor::Frame(uint32_t id, bool extended, uint8_t length, const std::array<uint8_t, 8>& data,
                           int64_t time)
{
    if (!extended) return;
    if (auto message = transfers_.Frame(id, extended, length, data)) {
        Decode(message->Pgn, message->Data, time);
        return;
    }
    const uint32_t pf = (id >> 16) & 0xFF;
    if (pf < 240) return;
    const std::vector<uint8_t> message(data.begin(), data.begin() + std::min<uint8_t>(length, 8));
    Decode((id >> 8) & 0x3FFFF, message, time);
}

bool TSignalMonitor::Repeated(const std::vector<uint8_t>& m, int64_t time, const TGroupRows& group)
{
    if (!group.Decoded || group.Last != m) return false;
    std::lock_guard lock(mutex_);
    for (int i : group.Rows) rows_[static_cast<std::size_t>(i)].LastFrame = time;
    return true;
}

void TSignalMonitor::Decode(uint32_t pgn, const std::vector<uint8_t>& m, int64_t time)
{
    if (pgn < FirstPdu2 || m.empty()) return;
    const auto group = std::find_if(groups_.begin(), groups_.end(), [&](const TGroupRows& g) { return g.Pgn == pgn; });
    if (group == groups_.end() || Repeated(m, time, *group)) return;
    std::vector<std::pair<int, TDecoded>> decoded;
    int field = 0;   // the end-marked texts of the message seen so far
    for (const auto& [i, kind] : group->Signals) {
        TFmsMeasVal& s = decoder_->Signal(i);
        TDecoded d;
        TMeasVal& v = *s.MeasVal;
        const int first = s.StartBit == TFmsMeasVal::AfterData ? 0 : s.StartBit / 8;
        if (kind == TSignalKind::TellTales) {
            auto& tts = static_cast<TMeasValTTS&>(v);
            const int block = m[0] & 0x0F;
            if (block > 2) continue;
            for (int k = 1; k <= 15; ++k) {
                const int index = block * 15 + k - 1;
                const auto byte = static_cast<std::size_t>(k / 2);
                if (index >= TMeasValTTS::TellTales || byte >= m.size()) break;
                const int status = (k % 2 != 0 ? m[byte] >> 4 : m[byte]) & 0x07;
                tellTales_[static_cast<std::size_t>(index)] = static_cast<char>('0' + status);
            }
            tts.Text = tellTales_;
            tts.SetOwnState(msValid);
            d.Raw = HexBytes(m, 0, m.size());
        } else if (kind == TSignalKind::Text) {
            auto& str = static_cast<TMeasValString&>(v);
            std::size_t from = static_cast<std::size_t>(first);
            std::size_t to = m.size();
            if (s.Delimited) {
                // Field number `field` of the message, with its end mark.
                from = 0;
                for (int f = 0; f < field && from < m.size(); ++f) {
                    const auto mark = std::find(m.begin() + static_cast<std::ptrdiff_t>(from), m.end(), TFmsMeasVal::EndMark);
                    from = mark == m.end() ? m.size() : static_cast<std::size_t>(mark - m.begin()) + 1;
                }
                const auto mark = std::find(m.begin() + static_cast<std::ptrdiff_t>(from), m.end(), TFmsMeasVal::EndMark);
                to = mark == m.end() ? m.size() : static_cast<std::size_t>(mark - m.begin()) + 1;
                ++field;
            } else if (s.BitLength != TFmsMeasVal::TextLength) {
                to = std::min(m.size(), from + s.BitLength / 8);
            }
            // The fill after the text is not part of it.
            std::size_t end = to;
            while (end > from && m[end - 1] == 0xFF) --end;
            d.Raw = HexBytes(m, from, to);
            const bool lone = s.Delimited && end == from + 1 && m[from] == TFmsMeasVal::EndMark;
            if (end == from || lone) {
                str.SetOwnState(msNotAvailable);
            } else {
                str.Text = HexText(m, from, end);
                str.SetOwnState(msValid);
            }
        } else {
            const int n = s.BitLength;
            const uint64_t raw = Bits(m, s.StartBit, n);
            d.Raw = HexBytes(m, static_cast<std::size_t>(first), static_cast<std::size_t>((s.StartBit + n + 7) / 8));
            const TMeasState indicator = Indicator(s, raw);
            if (indicator != msValid) {
                v.SetOwnState(indicator);
            } else if (kind == TSignalKind::Number) {
                static_cast<TMeasValDouble&>(v).SetValue(static_cast<double>(raw) * s.Resolution + s.Offset);
            } else {
                static_cast<TMeasValEnum&>(v).SetIndex(static_cast<uint32_t>(raw));
            }
        }
        d.State = v.State;
        if (d.State == msValid && static_cast<std::size_t>(i) < sentOutOfRange_.size() &&
            sentOutOfRange_[static_cast<std::size_t>(i)])
            d.State = msOutOfRange;
        try {
            d.Value = s.Write();
        } catch (const TBaseError&) {
            d.Value = "?";
        }
        decoded.emplace_back(i, std::move(d));
    }
    group->Decoded = true;
    group->Last = m;
    group->Rows.clear();
    for (const auto& entry : decoded) group->Rows.push_back(entry.first);
    if (decoded.empty()) return;

    std::lock_guard lock(mutex_);
    const uint64_t seq = seq_.load(std::memory_order_relaxed) + 1;
    bool changed = false;
    for (auto& [i, d] : decoded) {
        TSignalRow& r = rows_[static_cast<std::size_t>(i)];
        r.LastFrame = time;
        const TAString code = MeasStateText(static_cast<TMeasState>(d.State));
        if (r.Value == d.Value && r.Raw == d.Raw && r.StateCode == code && r.StateName != TAString("no frame yet"))
            continue;
        r.Value = std::move(d.Value);
        r.Raw = std::move(d.Raw);
        r.StateCode = code;
        r.StateName = StateName(d.State);
        r.Changed = seq;
        changed = true;
    }
    if (changed) seq_.store(seq, std::memory_order_release);
}

TSignalMonitor::TSnapshot TSignalMonitor::Snapshot() const
{
    TSnapshot s;
    s.Now = now_.load(std::memory_order_relaxed);
    std::lock_guard lock(mutex_);
    s.Rows = rows_;
    s.Seq = seq_.load(std::memory_order_relaxed);
    return s;
}
