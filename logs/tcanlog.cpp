#include "logs/tcanlog.h"

#include <algorithm>
#include <limits>

#include "support/tbaseerror.h"

#include <cstdio>
#include <string>

namespace {

// Singular and plural of each reason, in the order TLogSkip lists them.
constexpr const char* kSkipNames[skCount][2] = {
    {"header and comment line", "header and comment lines"},
    {"blank line", "blank lines"},
    {"remote frame", "remote frames"},
    {"error frame", "error frames"},
    {"CAN FD frame", "CAN FD frames"},
    {"transmit request (TxRq) line", "transmit request (TxRq) lines"},
    {"event line", "event lines"},
};

TAString Counted(uint64_t n, const char* one, const char* many)
{
    return TAString(std::to_string(n)) + " " + (n == 1 ? one : many);
}

// The channel list of a summary: " on channel 1", " from 4 channels merged into one
// replay: 1 (2 frames), ...", " from interface can1 of 2: can0 (2 frames, not replayed), ...".
TAString ChannelText(const TCanLog& log)
{
    const std::vector<TLogChannel>& channels = log.Channels;
    if (channels.empty()) return TAString();
    const bool asc = log.Kind == lkAsc;
    const char* one = asc ? "channel" : "interface";
    const char* many = asc ? "channels" : "interfaces";
    if (channels.size() == 1) return TAString(" on ") + one + " " + channels.front().Name;
    std::size_t replayed = 0;
    const TLogChannel* only = nullptr;
    for (const TLogChannel& c : channels)
        if (c.Replayed) {
            ++replayed;
            only = &c;
        }
    const TAString total(std::to_string(channels.size()));
    TAString text;
    if (replayed == channels.size())
        text = " from " + total + " " + many + " merged into one replay:";
    else if (replayed == 1)
        text = TAString(" from ") + one + " " + only->Name + " of " + total + ":";
    else
        text = " from " + TAString(std::to_string(replayed)) + " of " + total + " " + many + " merged into one replay:";
    bool first = true;
    for (const TLogChannel& c : channels) {
        text += (first ? " " : ", ") + c.Name + " (" + Counted(c.Frames, "frame", "frames") +
                (c.Replayed ? ")" : ", not replayed)");
        first = false;
    }
    return text;
}

}  // namespace

uint32_t TCanLog::SkippedLines() const
{
    uint32_t sum = 0;
    for (uint32_t n : Skipped) sum += n;
    return sum;
}

const char* TCanLog::KindName(TLogFileKind kind)
{
    switch (kind) {
    case lkAsc:
        return "ASC";
    case lkCandump:
        return "candump";
    default:
        return "layout 4/5";
    }
}

TCanLog TCanLog::SelectChannels(const std::vector<TAString>& names) const
{
    std::vector<bool> chosen(Channels.size(), false);
    for (const TAString& name : names) {
        std::size_t index = 0;
        while (index < Channels.size() && Channels[index].Name != name) ++index;
        if (index == Channels.size()) {
            const TAString file = FileName.IsEmpty() ? TAString("the log") : FileName;
            if (Channels.empty())
                throw TBaseError("TCanLog::SelectChannels", "Unknown channel",
                                 file + ": no channel '" + name + "' (a " + KindName(Kind) + " log has no channels)");
            TAString held;
            for (const TLogChannel& c : Channels) held += (held.IsEmpty() ? "" : ", ") + c.Name;
            throw TBaseError("TCanLog::SelectChannels", "Unknown channel",
                             file + ": no " + (Kind == lkAsc ? "channel" : "interface") + " '" + name +
                                 "' (the log holds " + held + ")");
        }
        chosen[index] = true;
    }
    TCanLog selected;
    selected.FileName = FileName;
    selected.Kind = Kind;
    selected.Skipped = Skipped;
    selected.Channels = Channels;
    selected.CutLine = CutLine;
    selected.CutText = CutText;
    for (std::size_t i = 0; i < Channels.size(); ++i) selected.Channels[i].Replayed = chosen[i];
    std::size_t count = 0;
    for (std::size_t i = 0; i < Channels.size(); ++i)
        if (chosen[i]) count += Channels[i].Frames;
    selected.Frames.reserve(count);
    for (const TLogFrame& f : Frames)
        if (f.Channel < chosen.size() && chosen[f.Channel]) selected.Frames.push_back(f);
    return selected;
}

std::optional<std::size_t> TCanLog::FirstFrameNotInLayout5() const
{
    for (std::size_t i = 0; i < Frames.size(); ++i)
        if (!Frames[i].Extended || Frames[i].Dlc != 8) return i;
    return std::nullopt;
}

TAString TCanLog::Describe(const TLogFrame& frame)
{
    char text[96];
    std::snprintf(text, sizeof text, frame.Extended ? "frame 0x%08X" : "frame 0x%03X", static_cast<unsigned>(frame.Id));
    TAString described(text);
    if (!frame.Extended) described += " (11-bit identifier)";
    if (frame.Dlc != 8) described += " with " + Counted(frame.Dlc, "data byte", "data bytes");
    if (frame.Line != 0) described += " at line " + TAString(std::to_string(frame.Line));
    return described;
}

TAString TCanLog::Summary() const
{
    TAString text = (FileName.IsEmpty() ? TAString("the log") : FileName) + ": " +
                    Counted(Frames.size(), "frame", "frames") + " (" + KindName(Kind) + ")" + ChannelText(*this);
    const uint32_t skipped = SkippedLines();
    if (skipped != 0) {
        text += "; " + Counted(skipped, "line skipped", "lines skipped") + ":";
        bool first = true;
        for (int reason = 0; reason < skCount; ++reason) {
            const uint32_t n = Skipped[static_cast<size_t>(reason)];
            if (n == 0) continue;
            text += (first ? " " : ", ") + Counted(n, kSkipNames[reason][0], kSkipNames[reason][1]);
            first = false;
        }
    }
    if (CutLine != 0)
        text += "; the last line (line " + TAString(std::to_string(CutLine)) + ") has no line end and was not read: '" +
                CutText + "'";
    // What the log's transport frames amount to, as a replay will send them: unchanged.
    const TTransferWatch transfers = WatchTransfers();
    if (transfers.Transfers() != 0 || transfers.StrayPackets() != 0) text += "; transport: " + transfers.Summary();
    return text;
}

TTransferWatch TCanLog::WatchTransfers() const
{
    TTransferWatch watch;
    int64_t last = std::numeric_limits<int64_t>::min();
    for (const TLogFrame& f : Frames) {
        TCanFrame frame = f.ToFrame();
        // Time never runs backwards for the watch (a merged log steps back a little).
        last = std::max(last, frame.Time);
        frame.Time = last;
        watch.Frame(frame);
    }
    watch.End(last, "the end of the log");
    return watch;
}
