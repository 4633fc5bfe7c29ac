#include "engine/ttimingreport.h"

#include "fms/tbusfmsstandard.h"
#include "fms/tcanframe.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <map>

namespace {

constexpr uint32_t PfTransportCm = 0xEC;
constexpr uint32_t PfTransportDt = 0xEB;
constexpr uint8_t BamControl = 0x20;

uint32_t PduFormat(uint32_t id) { return (id >> 16) & 0xFFu; }
uint32_t PgnOf(uint32_t id) { return (id >> 8) & 0xFFFFu; }

double Ms(int64_t micros) { return static_cast<double>(micros) / 1000.0; }

// Values in µs counted in bins of 2^shift µs; at most HistogramBins occupied bins.
class THistogram {
public:
    void Add(int64_t value)
    {
        ++bins_[value >> shift_];
        ++count_;
        while (bins_.size() > TTimingReport::HistogramBins) Coarsen();
    }
    int64_t Count() const { return count_; }
    std::size_t Bins() const { return bins_.size(); }
    int64_t Width() const { return int64_t(1) << shift_; }

    // The middle value (the mean of the two middle ones for an even count), each taken
    // as its bin's midpoint: exact while the bins are 1 µs wide.
    double MedianMicros() const
    {
        if (count_ == 0) return 0;
        const int64_t lower = (count_ - 1) / 2;   // ranks from 0
        const int64_t upper = count_ / 2;
        double lowValue = 0;
        double highValue = 0;
        int64_t seen = 0;
        for (const auto& [bin, n] : bins_) {
            const double value = static_cast<double>(bin * Width()) + (shift_ > 0 ? Width() / 2.0 : 0.0);
            if (seen <= lower && lower < seen + n) lowValue = value;
            if (seen <= upper && upper < seen + n) {
                highValue = value;
                break;
            }
            seen += n;
        }
        return (lowValue + highValue) / 2;
    }

private:
    void Coarsen()
    {
        std::map<int64_t, int64_t> merged;
        for (const auto& [bin, n] : bins_) merged[bin >> 1] += n;   // floor: negative bins too
        bins_.swap(merged);
        ++shift_;
    }

    std::map<int64_t, int64_t> bins_;
    int shift_ = 0;
    int64_t count_ = 0;
};

// The extremes of a series of values in µs.
struct TRange {
    void Add(int64_t v)
    {
        if (count == 0 || v < min) min = v;
        if (count == 0 || v > max) max = v;
        ++count;
    }
    int64_t min = 0;
    int64_t max = 0;
    int64_t count = 0;
};

// What we learn of one group from its frames.
struct TSeen {
    int64_t messages = 0;
    int64_t frames = 0;
    int64_t firstMessage = 0;   // µs
    int64_t lastMessage = 0;
    THistogram periods;
    TRange periodRange;
    THistogram announceToData;
    TRange dataGaps;
    int64_t latenessMax = LLONG_MIN;
    int64_t lateFrames = 0;
};

// The transfer a source address announced last.
struct TOpen {
    uint32_t pgn;
    int64_t last;     // µs of its previous frame
    bool dataSeen;
};

TAString Number(double v, int decimals)
{
    return TAString(v, 0, decimals);
}

TAString Decimal(int64_t n)
{
    return TAString(std::to_string(n));
}

TAString JsonString(const TAString& s)
{
    TAString out("\"");
    for (char c : s.str()) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
            out += buf;
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

void Fill(TTimingGroup& g, const TSeen& s)
{
    g.Messages = s.messages;
    g.Frames = s.frames;
    g.Multipacket = s.announceToData.Count() > 0;
    if (s.messages > 0) g.FirstOffsetMs = Ms(s.firstMessage);
    if (s.periods.Count() > 0) {
        g.MedianMs = s.periods.MedianMicros() / 1000.0;
        g.MedianResolutionMs = Ms(s.periods.Width());
        g.MinMs = Ms(s.periodRange.min);
        g.MaxMs = Ms(s.periodRange.max);
    }
    g.AnnounceToDataMs = s.announceToData.MedianMicros() / 1000.0;
    if (s.dataGaps.count > 0) {
        g.DataGapMinMs = Ms(s.dataGaps.min);
        g.DataGapMaxMs = Ms(s.dataGaps.max);
    }
    if (s.frames > 0) g.LatenessMaxMs = Ms(s.latenessMax);
    g.LateFrames = s.lateFrames;
}

}  // namespace

struct TTimingReport::TState {
    std::map<uint32_t, TSeen> seen;   // by PGN
    std::map<uint32_t, TOpen> open;   // by source address
    int64_t count = 0;
    TTimingApart apart;

    TSeen& Message(uint32_t pgn, int64_t micros)
    {
        TSeen& s = seen[pgn];
        if (s.messages == 0) {
            s.firstMessage = micros;
        } else {
            s.periods.Add(micros - s.lastMessage);
            s.periodRange.Add(micros - s.lastMessage);
        }
        s.lastMessage = micros;
        ++s.messages;
        return s;
    }
};

TTimingReport::TTimingReport() : state_(std::make_unique<TState>()) {}

TTimingReport::~TTimingReport() = default;

void TTimingReport::Record(const TCanFrame& frame, int64_t micros)
{
    Record(frame.Id, frame.Data.data(), frame.Time, micros);
}

void TTimingReport::Record(uint32_t id, const uint8_t* data, int64_t dueMicros, int64_t micros)
{
    std::lock_guard<std::mutex> lock(lock_);
    TState& st = *state_;
    ++st.count;
    const uint32_t sa = id & 0xFFu;
    const uint32_t pf = PduFormat(id);
    TSeen* s = nullptr;
    if (pf == PfTransportCm && data[0] == BamControl) {
        const uint32_t pgn = (data[5] | (data[6] << 8) | (uint32_t(data[7]) << 16)) & 0xFFFFu;
        s = &st.Message(pgn, micros);
        st.open[sa] = {pgn, micros, false};
    } else if (pf == PfTransportDt) {
        auto it = st.open.find(sa);
        if (it == st.open.end()) return;
        s = &st.seen[it->second.pgn];
        const int64_t gap = micros - it->second.last;
        if (it->second.dataSeen) {
            s->dataGaps.Add(gap);
        } else {
            s->announceToData.Add(gap);
        }
        it->second.last = micros;
        it->second.dataSeen = true;
    } else {
        s = &st.Message(PgnOf(id), micros);
    }
    ++s->frames;
    const int64_t late = micros - dueMicros;
    s->latenessMax = std::max(s->latenessMax, late);
    if (Ms(late) > LatenessToleranceMs) ++s->lateFrames;
}

int64_t TTimingReport::Count() const
{
    std::lock_guard<std::mutex> lock(lock_);
    return state_->count + state_->apart.Frames;
}

void TTimingReport::RecordApart(const TCanFrame& frame, int64_t micros)
{
    std::lock_guard<std::mutex> lock(lock_);
    TTimingApart& apart = state_->apart;
    ++apart.Frames;
    apart.DelayMaxMs = std::max(apart.DelayMaxMs, static_cast<double>(micros - frame.Time) / 1000.0);
}

TTimingApart TTimingReport::Apart() const
{
    std::lock_guard<std::mutex> lock(lock_);
    return state_->apart;
}

TAString TTimingReport::ApartText(const TTimingApart& apart)
{
    if (apart.Frames == 0) return TAString();
    return "outside the schedule (answers, acknowledgements, claims; not judged): " +
           TAString(std::to_string(apart.Frames)) + " frames, at most " + Number(apart.DelayMaxMs, 3) +
           " ms after the request\n";
}

std::size_t TTimingReport::Bins() const
{
    std::lock_guard<std::mutex> lock(lock_);
    std::size_t bins = 0;
    for (const auto& [pgn, s] : state_->seen) bins += s.periods.Bins() + s.announceToData.Bins();
    return bins;
}

std::vector<TTimingGroup> TTimingReport::Groups(const TBusFmsStandard& catalogue, const std::vector<bool>& leftOut,
                                                int64_t runMs, TJudge judge) const
{
    // The schedule as a run starts it: every group's first due time.
    TBusFmsStandard schedule("00.02");
    std::lock_guard<std::mutex> lock(lock_);
    const std::map<uint32_t, TSeen>& seen = state_->seen;

    std::vector<TTimingGroup> groups;
    std::vector<uint32_t> listed;
    int index = 0;
    for (uint32_t id : catalogue.FrameIds()) {
        if (id == TBusFmsStandard::EndOfIds) break;
        TTimingGroup g;
        g.Pgn = PgnOf(id);
        listed.push_back(g.Pgn);
        g.Name = TBusFmsStandard::GetPgnName(id, 0);
        g.LeftOut = index < static_cast<int>(leftOut.size()) && leftOut[static_cast<size_t>(index)];
        for (int i = 0; i < catalogue.SignalCount(); ++i) {
            if (catalogue.Signal(i).CanId == id) {
                g.PeriodMs = catalogue.Signal(i).Period;
                break;
            }
        }
        for (int i = 0; i < schedule.SignalCount(); ++i) {
            if (schedule.Signal(i).CanId == id) {
                g.FirstDueMs = schedule.NextDue(i);
                break;
            }
        }
        const auto it = seen.find(g.Pgn);
        if (it != seen.end()) Fill(g, it->second);
        if (judge == jSchedule && !g.LeftOut) {
            if (g.Messages == 0 && g.FirstDueMs < runMs) {
                g.Flagged = true;
                g.Reason = "schedule missing";
            } else if (g.Messages > 1 && std::fabs(g.MedianMs - g.PeriodMs) > ToleranceMs) {
                g.Flagged = true;
                g.Reason = "period off by " + Number(g.MedianMs - g.PeriodMs, 3) + " ms";
            }
        }
        groups.push_back(g);
        ++index;
    }
    if (judge == jLogTime) {
        // A log may carry groups the catalogue does not know.
        for (const auto& [pgn, s] : seen) {
            if (std::find(listed.begin(), listed.end(), pgn) != listed.end()) continue;
            TTimingGroup g;
            g.Pgn = pgn;
            g.Name = "(not in the catalogue)";
            g.InCatalogue = false;
            Fill(g, s);
            groups.push_back(g);
        }
        for (TTimingGroup& g : groups) {
            if (g.LateFrames > 0) {
                g.Flagged = true;
                g.Reason = Decimal(g.LateFrames) + " frames more than " + Number(LatenessToleranceMs, 0) +
                           " ms after their log time";
            }
        }
    }
    return groups;
}

bool TTimingReport::AnyFlagged(const std::vector<TTimingGroup>& groups)
{
    return std::any_of(groups.begin(), groups.end(), [](const TTimingGroup& g) { return g.Flagged; });
}

double TTimingReport::LatenessMaxMs(const std::vector<TTimingGroup>& groups)
{
    double late = 0;
    bool any = false;
    for (const TTimingGroup& g : groups) {
        if (g.Frames == 0) continue;
        late = any ? std::max(late, g.LatenessMaxMs) : g.LatenessMaxMs;
        any = true;
    }
    return late;
}

TAString TTimingReport::Text(const std::vector<TTimingGroup>& groups, TJudge judge)
{
    TAString out("PGN   group                                        msgs   frames period  median     min     max  first"
                 "    late  BAM gaps\n");
    for (const TTimingGroup& g : groups) {
        char line[320];
        TAString bam;
        if (g.Multipacket)
            bam = Number(g.AnnounceToDataMs, 1) + "/" + Number(g.DataGapMinMs, 1) + ".." + Number(g.DataGapMaxMs, 1);
        std::snprintf(line, sizeof line, "%04X  %-42.42s %7lld %8lld %6d %7s %7s %7s %6s %7s  %s", g.Pgn,
                      g.Name.c_str(), static_cast<long long>(g.Messages), static_cast<long long>(g.Frames), g.PeriodMs,
                      Number(g.MedianMs, 3).c_str(), Number(g.MinMs, 3).c_str(), Number(g.MaxMs, 3).c_str(),
                      Number(g.FirstOffsetMs, 1).c_str(), Number(g.LatenessMaxMs, 3).c_str(), bam.c_str());
        out += line;
        if (g.MedianResolutionMs > 0.001) out += "  (median to " + Number(g.MedianResolutionMs / 2, 3) + " ms)";
        if (g.LeftOut) out += "  (left out)";
        if (judge == jSchedule && !g.LeftOut && g.Messages == 0 && !g.Flagged) out += "  (first due after the run)";
        if (judge == jLogTime && g.Frames == 0) out += "  (not in the log)";
        if (g.Flagged) out += "  FLAGGED: " + g.Reason;
        out += "\n";
    }
    out += "timing: the largest lateness was " + Number(LatenessMaxMs(groups), 3) + " ms\n";
    if (judge == jLogTime) {
        out += AnyFlagged(groups) ? "timing: some frames left more than 10 ms after their log time\n"
                                  : "timing: every frame within 10 ms of its log time\n";
    } else {
        out += AnyFlagged(groups) ? "timing: some groups are off their schedule\n"
                                  : "timing: every group within 1 ms of its period\n";
    }
    return out;
}

TAString TTimingReport::Json(const std::vector<TTimingGroup>& groups, const TAString& mode, double durationS,
                             TJudge judge, const TAString& timer)
{
    TAString out("{\n  \"mode\": " + JsonString(mode) + ",\n  \"judged_by\": " +
                 JsonString(judge == jLogTime ? "log time" : "schedule") + ",\n");
    if (!timer.IsEmpty()) out += "  \"transmit_timer\": " + JsonString(timer) + ",\n";
    out += TAString("  \"duration_s\": " +
                 Number(durationS, 3) + ",\n  \"lateness_max_ms\": " + Number(LatenessMaxMs(groups), 3) +
                 ",\n  \"flagged\": " + (AnyFlagged(groups) ? "true" : "false") + ",\n  \"groups\": [\n");
    for (size_t i = 0; i < groups.size(); ++i) {
        const TTimingGroup& g = groups[i];
        out += "    {\"pgn\": \"" + TAString::Hex16(static_cast<uint16_t>(g.Pgn)) + "\", \"name\": " + JsonString(g.Name) +
               ", \"period_ms\": " + TAString(g.PeriodMs) + ", \"messages\": " + Decimal(g.Messages) +
               ", \"frames\": " + Decimal(g.Frames) + ", \"median_ms\": " + Number(g.MedianMs, 3) +
               ", \"median_resolution_ms\": " + Number(g.MedianResolutionMs, 3) +
               ", \"min_ms\": " + Number(g.MinMs, 3) + ", \"max_ms\": " + Number(g.MaxMs, 3) +
               ", \"first_offset_ms\": " + Number(g.FirstOffsetMs, 3) +
               ", \"lateness_max_ms\": " + Number(g.LatenessMaxMs, 3) + ", \"late_frames\": " + Decimal(g.LateFrames) +
               ", \"multipacket\": " + (g.Multipacket ? "true" : "false");
        if (g.Multipacket)
            out += ", \"announce_to_data_ms\": " + Number(g.AnnounceToDataMs, 3) +
                   ", \"data_gap_min_ms\": " + Number(g.DataGapMinMs, 3) +
                   ", \"data_gap_max_ms\": " + Number(g.DataGapMaxMs, 3);
        out += TAString(", \"in_catalogue\": ") + (g.InCatalogue ? "true" : "false") +
               ", \"left_out\": " + (g.LeftOut ? "true" : "false") +
               ", \"flagged\": " + (g.Flagged ? "true" : "false") + ", \"reason\": " + JsonString(g.Reason) + "}";
        out += i + 1 < groups.size() ? ",\n" : "\n";
    }
    out += "  ]\n}\n";
    return out;
}
