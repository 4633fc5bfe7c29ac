#include "app/ttimingreport.h"

#include "fms/tbusfmsstandard.h"
#include "fms/tcanframe.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace {

constexpr uint32_t PfTransportCm = 0xEC;
constexpr uint32_t PfTransportDt = 0xEB;
constexpr uint8_t BamControl = 0x20;

uint32_t PduFormat(uint32_t id) { return (id >> 16) & 0xFFu; }
uint32_t PgnOf(uint32_t id) { return (id >> 8) & 0xFFFFu; }

double Median(std::vector<double> v)
{
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// What we learn of one group from the frames.
struct TSeen {
    std::vector<int64_t> messages;        // µs of each single frame or announcement
    std::vector<double> announceToData;   // ms
    std::vector<double> dataGaps;         // ms
    int frames = 0;
};

TAString Number(double v, int decimals)
{
    return TAString(v, 0, decimals);
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

}  // namespace

void TTimingReport::Record(uint32_t id, const uint8_t* data, int64_t micros)
{
    TEvent e{id, {}, micros};
    std::copy(data, data + 8, e.Data);
    std::lock_guard<std::mutex> lock(lock_);
    events_.push_back(e);
}

void TTimingReport::Record(const TCanFrame& frame, int64_t micros)
{
    Record(frame.Id, frame.Data.data(), micros);
}

int TTimingReport::Count() const
{
    std::lock_guard<std::mutex> lock(lock_);
    return static_cast<int>(events_.size());
}

std::vector<TTimingGroup> TTimingReport::Groups(const TBusFmsStandard& catalogue,
                                                const std::vector<bool>& leftOut, int64_t runMs) const
{
    // The schedule as a run starts it: every group's first due time.
    TBusFmsStandard schedule("00.02");
    std::map<uint32_t, TSeen> seen;
    {
        std::lock_guard<std::mutex> lock(lock_);
        // The transfer each source address announced last: PGN and time of the previous frame.
        struct TOpen {
            uint32_t pgn;
            int64_t last;
            bool dataSeen;
        };
        std::map<uint32_t, TOpen> open;
        for (const TEvent& e : events_) {
            const uint32_t sa = e.Id & 0xFFu;
            const uint32_t pf = PduFormat(e.Id);
            if (pf == PfTransportCm && e.Data[0] == BamControl) {
                const uint32_t pgn = (e.Data[5] | (e.Data[6] << 8) | (uint32_t(e.Data[7]) << 16)) & 0xFFFFu;
                TSeen& s = seen[pgn];
                s.messages.push_back(e.Micros);
                ++s.frames;
                open[sa] = {pgn, e.Micros, false};
            } else if (pf == PfTransportDt) {
                auto it = open.find(sa);
                if (it == open.end()) continue;
                TSeen& s = seen[it->second.pgn];
                const double gap = (e.Micros - it->second.last) / 1000.0;
                (it->second.dataSeen ? s.dataGaps : s.announceToData).push_back(gap);
                it->second.last = e.Micros;
                it->second.dataSeen = true;
                ++s.frames;
            } else {
                TSeen& s = seen[PgnOf(e.Id)];
                s.messages.push_back(e.Micros);
                ++s.frames;
            }
        }
    }

    std::vector<TTimingGroup> groups;
    int index = 0;
    for (uint32_t id : catalogue.FrameIds()) {
        if (id == TBusFmsStandard::EndOfIds) break;
        TTimingGroup g;
        g.Pgn = PgnOf(id);
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
        if (it != seen.end()) {
            const TSeen& s = it->second;
            g.Messages = static_cast<int>(s.messages.size());
            g.Frames = s.frames;
            g.Multipacket = !s.announceToData.empty();
            if (!s.messages.empty()) g.FirstOffsetMs = s.messages.front() / 1000.0;
            std::vector<double> periods;
            for (size_t k = 1; k < s.messages.size(); ++k)
                periods.push_back((s.messages[k] - s.messages[k - 1]) / 1000.0);
            if (!periods.empty()) {
                g.MedianMs = Median(periods);
                g.MinMs = *std::min_element(periods.begin(), periods.end());
                g.MaxMs = *std::max_element(periods.begin(), periods.end());
            }
            g.AnnounceToDataMs = Median(s.announceToData);
            if (!s.dataGaps.empty()) {
                g.DataGapMinMs = *std::min_element(s.dataGaps.begin(), s.dataGaps.end());
                g.DataGapMaxMs = *std::max_element(s.dataGaps.begin(), s.dataGaps.end());
            }
        }
        if (!g.LeftOut) {
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
    return groups;
}

bool TTimingReport::AnyFlagged(const std::vector<TTimingGroup>& groups)
{
    return std::any_of(groups.begin(), groups.end(), [](const TTimingGroup& g) { return g.Flagged; });
}

TAString TTimingReport::Text(const std::vector<TTimingGroup>& groups)
{
    TAString out("PGN   group                                      msgs frames period  median     min     max  first  BAM gaps\n");
    for (const TTimingGroup& g : groups) {
        char line[256];
        TAString bam;
        if (g.Multipacket)
            bam = Number(g.AnnounceToDataMs, 1) + "/" + Number(g.DataGapMinMs, 1) + ".." + Number(g.DataGapMaxMs, 1);
        std::snprintf(line, sizeof line, "%04X  %-42.42s %5d %6d %6d %7s %7s %7s %6s  %s", g.Pgn, g.Name.c_str(),
                      g.Messages, g.Frames, g.PeriodMs, Number(g.MedianMs, 3).c_str(), Number(g.MinMs, 3).c_str(),
                      Number(g.MaxMs, 3).c_str(), Number(g.FirstOffsetMs, 1).c_str(), bam.c_str());
        out += line;
        if (g.LeftOut) out += "  (left out)";
        if (!g.LeftOut && g.Messages == 0 && !g.Flagged) out += "  (first due after the run)";
        if (g.Flagged) out += "  FLAGGED: " + g.Reason;
        out += "\n";
    }
    out += AnyFlagged(groups) ? "timing: some groups are off their schedule\n"
                              : "timing: every group within 1 ms of its period\n";
    return out;
}

TAString TTimingReport::Json(const std::vector<TTimingGroup>& groups, const TAString& mode, double durationS)
{
    TAString out("{\n  \"mode\": " + JsonString(mode) + ",\n  \"duration_s\": " + Number(durationS, 3) +
                 ",\n  \"flagged\": " + (AnyFlagged(groups) ? "true" : "false") + ",\n  \"groups\": [\n");
    for (size_t i = 0; i < groups.size(); ++i) {
        const TTimingGroup& g = groups[i];
        out += "    {\"pgn\": \"" + TAString::Hex16(static_cast<uint16_t>(g.Pgn)) + "\", \"name\": " + JsonString(g.Name) +
               ", \"period_ms\": " + TAString(g.PeriodMs) + ", \"messages\": " + TAString(g.Messages) +
               ", \"frames\": " + TAString(g.Frames) + ", \"median_ms\": " + Number(g.MedianMs, 3) +
               ", \"min_ms\": " + Number(g.MinMs, 3) + ", \"max_ms\": " + Number(g.MaxMs, 3) +
               ", \"first_offset_ms\": " + Number(g.FirstOffsetMs, 3) +
               ", \"multipacket\": " + (g.Multipacket ? "true" : "false");
        if (g.Multipacket)
            out += ", \"announce_to_data_ms\": " + Number(g.AnnounceToDataMs, 3) +
                   ", \"data_gap_min_ms\": " + Number(g.DataGapMinMs, 3) +
                   ", \"data_gap_max_ms\": " + Number(g.DataGapMaxMs, 3);
        out += TAString(", \"left_out\": ") + (g.LeftOut ? "true" : "false") +
               ", \"flagged\": " + (g.Flagged ? "true" : "false") + ", \"reason\": " + JsonString(g.Reason) + "}";
        out += i + 1 < groups.size() ? ",\n" : "\n";
    }
    out += "  ]\n}\n";
    return out;
}
