#include "app/tcanlogreader.h"

#include "support/tbaseerror.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

constexpr uint32_t kMaxId = 0x1FFFFFFFu;
constexpr std::size_t kShownChars = 60;   // of a refused line

TBaseError Refused(const TAString& name, uint32_t line, const TAString& why)
{
    TAString where = name.IsEmpty() ? TAString("line ") : name + " line ";
    return TBaseError("", "Logfile Read Error", where + TAString(int32_t(line)) + ": " + why);
}

TAString Quoted(std::string_view line)
{
    if (line.size() > kShownChars) return "'" + TAString(std::string(line.substr(0, kShownChars))) + "...'";
    return "'" + TAString(std::string(line)) + "'";
}

}  // namespace

TCanLog TCanLogReader::Load(const TAString& fileName)
{
    std::ifstream in(fileName.str(), std::ios::binary);
    if (!in) throw TBaseError("", "Logfile Read Error", fileName + ": " + TAString(std::strerror(errno)));
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) throw TBaseError("", "Logfile Read Error", fileName + ": the file could not be read to its end");
    TCanLog log = Parse(text, fileName);
    log.FileName = fileName;
    return log;
}

TCanLog TCanLogReader::Parse(std::string_view text, const TAString& name)
{
    TCanLog log;
    uint32_t number = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view raw = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);

        const TAString line{std::string(raw)};
        const TLogFormat layout = TCanFrame::DetectFormat(line, lfFixed);
        if (layout == lfNone)
            throw Refused(name, number, Quoted(raw) + " is not a log line (expected e.g. "
                                        "'000.0000 18FEF100F315000CFFFFFFFF' or '000.0000 00FEF1F315000CFFFFFFFF')");
        TCanFrame frame;
        try {
            frame = TCanFrame(line, layout);
        } catch (const TBaseError& e) {
            throw Refused(name, number, Quoted(raw) + ": " + e.Message() + " (time, identifier and data must be "
                                        "decimal seconds and hexadecimal digits)");
        }
        if (frame.Id > kMaxId)
            throw Refused(name, number, "identifier '" + TAString::Hex32(frame.Id) + "' is wider than 29 bits");
        log.Frames.push_back(TLogFrame{frame.Time, frame.Id, number, frame.Data});
    }
    return log;
}
