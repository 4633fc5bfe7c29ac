// Arbitrary text as a CAN log: first as one line (detection for every request, parsing
// in the layout found, writing the frame back in every layout), then as a whole file
// through the log reader (the kind found from the content, layouts 4 and 5, ASC and
// candump lines), every frame it takes written back in each output format.
#include "logs/tcanlogreader.h"
#include "logs/tloglinewriter.h"
#include "fms/tcanframe.h"
#include "support/tbaseerror.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const TAString line{std::string(text)};
    for (TLogFormat request : {lfAscD, lfAscD8, lfFixed, lfFixedSaPgn, lfFixedId, lfAny}) {
        const TLogFormat found = TCanFrame::DetectFormat(line, request);
        if (found == lfNone) continue;
        try {
            const TCanFrame frame(line, found);
            for (TLogFormat out : {lfAscD, lfAscD8, lfFixedSaPgn, lfFixedId}) (void)frame.ToString(out);
        } catch (const TBaseError&) {
        }
    }

    try {
        const TCanLog log = TCanLogReader::Parse(text, "fuzz");
        (void)log.Summary();
        std::string out;
        for (TLogOutFormat format : {TLogOutFormat::Layout5, TLogOutFormat::Asc, TLogOutFormat::Candump}) {
            const auto writer = TLogLineWriter::Create(format);
            for (const TLogFrame& frame : log.Frames) {
                if (!TLogLineWriter::Holds(format, frame.ToFrame())) continue;
                out.clear();
                writer->Append(frame.ToFrame(), TLogDirection::Sent, out);
                // What the program writes it reads back as the same frame: identifier and
                // its kind, length and data.
                const TCanLog back = TCanLogReader::Parse(out);
                if (back.Count() != 1 || back.Frames[0].Id != frame.Id || back.Frames[0].Data != frame.Data ||
                    back.Frames[0].Extended != frame.Extended || back.Frames[0].Dlc != frame.Dlc)
                    __builtin_trap();
            }
        }
    } catch (const TBaseError&) {
    }
    return 0;
}
