// Loading a user CAN log as the program does (TCanLogReader::Load: read in parts,
// lines split in place, hex through a table, frames kept compact) in the three kinds
// of file it reads, side by side with python-can reading the same frames, and the
// resident memory a loaded 2,000,000-line log takes.
//
// 1,000,000 frames of the catalogue's identifiers with varying data, 0.9 ms apart, are
// written in layout 5 ("000.0000 18FEF100F315000CFFFFFFFF", about 35 MB with CR LF), as
// an ASC file and as a candump log (by the program's own output log writers), into a
// temporary folder. Peers: python-can's ASCReader over the ASC file and its
// CanutilsLogReader over the candump log (python3-can), import excluded. Baseline: the
// way user logs were loaded before (the file into a StringList, every line through
// TCanFrame::DetectFormat and the line parser).
//
// Usage: log_loading [--lines 1000000] [--memory-lines 2000000] [--runs 3] [--python /usr/bin/python3]
//        log_loading --resident FILE   (internal: prints resident bytes before and after loading FILE)

#include "bench/benchutil.h"
#include "logs/tcanlogreader.h"
#include "engine/tcantransmit.h"
#include "logs/tloglinewriter.h"
#include "fms/tcanframe.h"
#include "support/stringlist.h"

#include <cstdio>

using namespace bench;

namespace {

class TNoTransmit final : public TCanTransmit {
public:
    void Write(const TCanFrame&, int64_t) override {}
    void SetChannel(TCanChannel*) override {}
};

// Writes lines frames in format through the output log's line writer.
void Generate(int lines, const std::string& name, TLogOutFormat format)
{
    const TBusFmsStandard catalogue("00.02");
    std::vector<uint32_t> ids;
    for (int i = 0; catalogue.FrameIds()[static_cast<size_t>(i)] != TBusFmsStandard::EndOfIds; ++i)
        ids.push_back(0x18000000u | catalogue.FrameIds()[static_cast<size_t>(i)]);
    std::FILE* file = std::fopen(name.c_str(), "wb");
    if (!file) throw TBaseError("Generate", "cannot write " + TAString(name));
    const auto writer = TLogLineWriter::Create(format);
    std::tm now{};
    std::string text = writer->Begin(true, now, 0);
    uint64_t seed = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < lines; ++i) {
        TCanFrame frame;
        frame.Id = ids[static_cast<size_t>(i) % ids.size()];
        for (uint8_t& byte : frame.Data) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            byte = static_cast<uint8_t>(seed >> 56);
        }
        frame.Time = static_cast<int64_t>(i) * 900;
        writer->Append(frame, TLogDirection::Sent, text);
        if (text.size() > (1u << 20)) {
            std::fwrite(text.data(), 1, text.size(), file);
            text.clear();
        }
    }
    text += writer->End();
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

struct TLoad {
    int Frames = 0;
    double Seconds = 0;   // the best of the runs
    uint32_t Check = 0;   // keeps the work from being optimised away
};

TLoad Load(const std::string& name, int runs)
{
    TLoad best;
    for (int r = 0; r < runs; ++r) {
        const int64_t t0 = NowNanos();
        const TCanLog log = TCanLogReader::Load(TAString(name));
        const double seconds = static_cast<double>(NowNanos() - t0) / 1e9;
        if (r == 0 || seconds < best.Seconds) best.Seconds = seconds;
        best.Frames = log.Count();
        best.Check = log.Frames.back().Id ^ log.Frames.back().Data[7];
    }
    return best;
}

// The way user logs were loaded before: a StringList, then every line detected and parsed.
TLoad LoadLineByLine(const std::string& name)
{
    TLoad result;
    const int64_t t0 = NowNanos();
    StringList lines;
    lines.LoadFromFile(TAString(name), true);
    for (int i = 0; i < lines.Count(); ++i) {
        const TLogFormat format = TCanFrame::DetectFormat(lines[i], lfFixed);
        if (format == lfNone) throw TBaseError("LoadLineByLine", "not a log line: " + lines[i]);
        const TCanFrame frame(lines[i], format);
        result.Check += frame.Id ^ frame.Data[7];
    }
    result.Seconds = static_cast<double>(NowNanos() - t0) / 1e9;
    result.Frames = lines.Count();
    return result;
}

// python-can's reader over the file: messages read and seconds, import excluded.
// Runs isolated (-I) from / so that no folder named "can" shadows the package.
bool PythonCan(const std::string& python, const char* reader, const std::string& file, long& messages, double& seconds)
{
    const std::string command = "cd / && " + python +
        " -I -c \"import sys, time\nimport can\nt = time.perf_counter()\nn = 0\n"
        "for m in can." + reader + "(sys.argv[1]):\n    n += 1\nprint(n, time.perf_counter() - t)\" '" + file + "'";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    const int read = std::fscanf(pipe, "%ld %lf", &messages, &seconds);
    const int status = pclose(pipe);
    return read == 2 && status == 0;
}

// The child: resident bytes before and after the log is loaded (and kept).
int Resident(const char* file)
{
    const long before = ResidentBytes();
    const TCanLog log = TCanLogReader::Load(file);
    const long after = ResidentBytes();
    std::printf("%ld %ld %d\n", before, after, log.Count());
    return 0;
}

double Mb(double bytes)
{
    return bytes / 1e6;
}

}  // namespace

int main(int argc, char** argv)
{
    const TFlags flags(argc, argv);
    try {
        if (flags.Has("--resident")) return Resident(flags.Text("--resident", "").c_str());
        const int lines = static_cast<int>(flags.Number("--lines", 1000000));
        const int memoryLines = static_cast<int>(flags.Number("--memory-lines", 2000000));
        const int runs = static_cast<int>(flags.Number("--runs", 3));
        const std::string python = flags.Text("--python", "/usr/bin/python3");

        TTempDir dir;
        const std::string fixedName = dir.File("user.asc");
        const std::string ascName = dir.File("user_vector.asc");
        const std::string dumpName = dir.File("user.log");
        std::printf("log_loading: %d frames in layout 5, ASC and candump\n", lines);
        std::fflush(stdout);
        Generate(lines, fixedName, TLogOutFormat::Layout5);
        Generate(lines, ascName, TLogOutFormat::Asc);
        Generate(lines, dumpName, TLogOutFormat::Candump);
        std::printf("  files: layout 5 %.1f MB, ASC %.1f MB, candump %.1f MB\n", Mb(double(std::filesystem::file_size(fixedName))),
                    Mb(double(std::filesystem::file_size(ascName))), Mb(double(std::filesystem::file_size(dumpName))));
        std::fflush(stdout);

        // What the program does when the user picks the file.
        TNoTransmit transmit;
        TRunEngine engine(TMonotonicTimeSource::Instance(), transmit);
        const int64_t u0 = NowNanos();
        if (!engine.LoadUserLog(TAString(fixedName))) throw TBaseError("log_loading", "the generated log was not accepted");
        const double userLogSeconds = static_cast<double>(NowNanos() - u0) / 1e9;

        const TLoad fixed = Load(fixedName, runs);
        const TLoad asc = Load(ascName, runs);
        const TLoad dump = Load(dumpName, runs);
        const TLoad before = LoadLineByLine(fixedName);
        for (const TLoad* l : {&fixed, &asc, &dump})
            if (l->Frames != lines) throw TBaseError("log_loading", "a generated log lost frames");
        long pyAscMessages = 0, pyDumpMessages = 0;
        double pyAscSeconds = 0, pyDumpSeconds = 0;
        const bool pyAsc = PythonCan(python, "ASCReader", ascName, pyAscMessages, pyAscSeconds);
        const bool pyDump = PythonCan(python, "CanutilsLogReader", dumpName, pyDumpMessages, pyDumpSeconds);

        auto rate = [](const TLoad& l) { return l.Frames / l.Seconds; };
        std::printf("results (check %08X, best of %d)\n", fixed.Check ^ asc.Check ^ dump.Check ^ before.Check, runs);
        std::printf("  TRunEngine::LoadUserLog, layout 5                  %10.0f lines/s  (%.3f s)\n",
                    engine.UserLines().Count() / userLogSeconds, userLogSeconds);
        std::printf("  TCanLogReader::Load, layout 5                      %10.0f lines/s  (%.3f s)\n", rate(fixed), fixed.Seconds);
        std::printf("  TCanLogReader::Load, ASC                           %10.0f lines/s  (%.3f s)\n", rate(asc), asc.Seconds);
        std::printf("  TCanLogReader::Load, candump                       %10.0f lines/s  (%.3f s)\n", rate(dump), dump.Seconds);
        std::printf("  baseline: StringList + TCanFrame per line, layout 5 %9.0f lines/s  (%.3f s)\n", rate(before),
                    before.Seconds);
        if (pyAsc) {
            const double pyRate = static_cast<double>(pyAscMessages) / pyAscSeconds;
            std::printf("  peer: python-can ASCReader, ASC                    %10.0f lines/s  (%.2f s, %ld messages)\n", pyRate,
                        pyAscSeconds, pyAscMessages);
            std::printf("  ratio to python-can ASCReader: layout 5 %.1f (goal >= 30), ASC %.1f (goal >= 20)\n",
                        Ratio(rate(fixed), pyRate), Ratio(rate(asc), pyRate));
        }
        if (pyDump) {
            const double pyRate = static_cast<double>(pyDumpMessages) / pyDumpSeconds;
            std::printf("  peer: python-can CanutilsLogReader, candump        %10.0f lines/s  (%.2f s, %ld messages)\n", pyRate,
                        pyDumpSeconds, pyDumpMessages);
            std::printf("  ratio to python-can CanutilsLogReader: candump %.1f\n", Ratio(rate(dump), pyRate));
        }
        if (!pyAsc || !pyDump)
            std::printf("  peer: python-can not available (%s -c 'import can' failed); install python3-can\n", python.c_str());
        std::fflush(stdout);

        // Resident memory of a loaded log, measured in a fresh process of this program.
        const std::string bigName = dir.File("big.asc");
        Generate(memoryLines, bigName, TLogOutFormat::Layout5);
        const double fileBytes = double(std::filesystem::file_size(bigName));
        std::FILE* child = popen(("/proc/" + std::to_string(getpid()) + "/exe --resident '" + bigName + "'").c_str(), "r");
        long rssBefore = 0, rssAfter = 0;
        int frames = 0;
        const bool measured = child && std::fscanf(child, "%ld %ld %d", &rssBefore, &rssAfter, &frames) == 3;
        if (child) pclose(child);
        if (measured && frames == memoryLines) {
            std::printf("  resident memory, %d-line layout 5 log of %.1f MB: %.1f MB for the log (%.2f x the file; "
                        "goal <= 1.2), %.1f MB the whole process (%.2f x)\n",
                        memoryLines, Mb(fileBytes), Mb(double(rssAfter - rssBefore)), double(rssAfter - rssBefore) / fileBytes,
                        Mb(double(rssAfter)), double(rssAfter) / fileBytes);
        } else {
            std::printf("  resident memory: not measured\n");
        }
        return 0;
    } catch (const TBaseError& e) {
        std::fprintf(stderr, "log_loading: %s: %s %s\n", e.Operation().c_str(), e.Message().c_str(), e.Detail().c_str());
        return 1;
    }
}
