// Reading and checking a user CAN log as the program does: the file into a StringList
// (CRs removed), then every line through TCanFrame::DetectFormat and the line parser.
// 1,000,000 lines in layout 5 ("000.0000 18FEF100F315000CFFFFFFFF", about 35 MB with
// CR LF) and the same frames in the ASC layout 2, both generated into a temporary
// folder. Peer: python-can's ASCReader over the same ASC file (python3-can).
//
// Usage: log_loading [--lines 1000000] [--python /usr/bin/python3]

#include "bench/benchutil.h"
#include "app/tcantransmit.h"
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

// Writes lines frames of the catalogue's identifiers with varying data, 0.9 ms apart
// (so the time field stays below 1000 s), in layout 5 and in layout 2.
void Generate(int lines, const std::string& fixedName, const std::string& ascName)
{
    const TBusFmsStandard catalogue("00.02");
    std::vector<uint32_t> ids;
    for (int i = 0; catalogue.FrameIds()[static_cast<size_t>(i)] != TBusFmsStandard::EndOfIds; ++i)
        ids.push_back(0x18000000u | catalogue.FrameIds()[static_cast<size_t>(i)]);
    std::FILE* fixed = std::fopen(fixedName.c_str(), "wb");
    std::FILE* asc = std::fopen(ascName.c_str(), "wb");
    if (!fixed || !asc) throw TBaseError("Generate", "cannot write the logs");
    uint64_t seed = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < lines; ++i) {
        TCanFrame frame;
        frame.Id = ids[static_cast<size_t>(i) % ids.size()];
        for (uint8_t& byte : frame.Data) {
            seed = seed * 6364136223846793005ull + 1442695040888963407ull;
            byte = static_cast<uint8_t>(seed >> 56);
        }
        frame.Time = static_cast<int64_t>(i) * 900;
        std::fprintf(fixed, "%s\r\n", frame.ToString(lfFixedId).c_str());
        std::fprintf(asc, "%s\r\n", frame.ToString(lfAscD8).c_str());
    }
    std::fclose(fixed);
    std::fclose(asc);
}

struct TLoad {
    int Lines = 0;
    double Seconds = 0;
    double LoadSeconds = 0;   // StringList::LoadFromFile alone
    uint32_t Check = 0;       // keeps the parse from being optimised away
};

// The file into a StringList, then every line detected as requested and parsed.
TLoad LoadAndParse(const std::string& name, TLogFormat requested)
{
    TLoad result;
    const int64_t t0 = NowNanos();
    StringList lines;
    lines.LoadFromFile(TAString(name), true);
    result.LoadSeconds = static_cast<double>(NowNanos() - t0) / 1e9;
    for (int i = 0; i < lines.Count(); ++i) {
        const TLogFormat format = TCanFrame::DetectFormat(lines[i], requested);
        if (format == lfNone) throw TBaseError("LoadAndParse", "not a log line: " + lines[i]);
        const TCanFrame frame(lines[i], format);
        result.Check += frame.Id ^ frame.Data[7];
    }
    result.Seconds = static_cast<double>(NowNanos() - t0) / 1e9;
    result.Lines = lines.Count();
    return result;
}

// python-can's ASCReader over the file: messages read and seconds, import excluded.
// Runs isolated (-I) so that no folder named "can" in the working directory shadows it.
bool PythonCan(const std::string& python, const std::string& asc, long& messages, double& seconds)
{
    const std::string command = python +
        " -I -c \"import sys, time\nimport can\nt = time.perf_counter()\nn = 0\n"
        "for m in can.ASCReader(sys.argv[1]):\n    n += 1\nprint(n, time.perf_counter() - t)\" '" + asc + "'";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    const int read = std::fscanf(pipe, "%ld %lf", &messages, &seconds);
    const int status = pclose(pipe);
    return read == 2 && status == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const TFlags flags(argc, argv);
    const int lines = static_cast<int>(flags.Number("--lines", 1000000));
    const std::string python = flags.Text("--python", "/usr/bin/python3");
    try {
        TTempDir dir;
        const std::string fixedName = dir.File("user.asc");
        const std::string ascName = dir.File("user_layout2.asc");
        std::printf("log_loading: generating %d lines in layout 5 and layout 2\n", lines);
        std::fflush(stdout);
        Generate(lines, fixedName, ascName);
        std::printf("  layout 5: %.1f MB, layout 2: %.1f MB\n", static_cast<double>(std::filesystem::file_size(fixedName)) / 1e6,
                    static_cast<double>(std::filesystem::file_size(ascName)) / 1e6);
        std::fflush(stdout);

        // What the program does when the user picks the file: load and check every line.
        TNoTransmit transmit;
        TRunEngine engine(TMonotonicTimeSource::Instance(), transmit);
        const int64_t u0 = NowNanos();
        const bool accepted = engine.LoadUserLog(TAString(fixedName));
        const double userLogSeconds = static_cast<double>(NowNanos() - u0) / 1e9;
        if (!accepted) throw TBaseError("log_loading", "the generated log was not accepted");

        const TLoad fixed = LoadAndParse(fixedName, lfFixed);
        const TLoad asc = LoadAndParse(ascName, lfAny);
        long pyMessages = 0;
        double pySeconds = 0;
        const bool py = PythonCan(python, ascName, pyMessages, pySeconds);

        const double fixedRate = fixed.Lines / fixed.Seconds;
        const double ascRate = asc.Lines / asc.Seconds;
        std::printf("results (check %08X)\n", fixed.Check + asc.Check);
        std::printf("  TRunEngine::LoadUserLog, layout 5 (load + check)   %10.0f lines/s  (%.2f s)\n",
                    engine.UserLines().Count() / userLogSeconds, userLogSeconds);
        std::printf("  layout 5: load + detect + parse                    %10.0f lines/s  (%.2f s, load %.2f s)\n", fixedRate,
                    fixed.Seconds, fixed.LoadSeconds);
        std::printf("  layout 2 (ASC): load + detect + parse              %10.0f lines/s  (%.2f s, load %.2f s)\n", ascRate,
                    asc.Seconds, asc.LoadSeconds);
        if (py) {
            const double pyRate = static_cast<double>(pyMessages) / pySeconds;
            std::printf("  peer: python-can ASCReader, layout 2               %10.0f lines/s  (%.2f s, %ld messages)\n", pyRate,
                        pySeconds, pyMessages);
            std::printf("  ratio to python-can: layout 5 %.1f, layout 2 %.1f\n", Ratio(fixedRate, pyRate), Ratio(ascRate, pyRate));
        } else {
            std::printf("  peer: python-can not available (%s -c 'import can' failed); install python3-can\n", python.c_str());
        }
        return 0;
    } catch (const TBaseError& e) {
        std::fprintf(stderr, "log_loading: %s: %s\n", e.Operation().c_str(), e.Message().c_str());
        return 1;
    }
}
