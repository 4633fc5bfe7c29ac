// Loading and saving a settings document with many elements, as the program reads
// Quorvella.xml: the file into a TXmlElement, then DocumentText for the save. A
// generated document holds --elements child elements (1,000,000 by default) below the
// root, each with a text. Loading must be linear: the figure per element stays the same
// for 100,000 and 1,000,000 elements. Peer: Python's xml.etree.ElementTree.parse on the
// same file.
//
// Usage: xml_loading [--elements 1000000] [--python /usr/bin/python3]

#include "bench/benchutil.h"
#include "support/txmlelement.h"

#include <cstdio>

using namespace bench;

namespace {

void Generate(int elements, const std::string& name)
{
    std::FILE* f = std::fopen(name.c_str(), "wb");
    if (!f) throw TBaseError("Generate", "cannot write the document");
    std::fputs("<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n<!-- generated -->\n<Quorvella>", f);
    for (int i = 0; i < elements; ++i) std::fprintf(f, "\n <Key%d>%d</Key%d>", i % 100, i, i % 100);
    std::fputs("\n</Quorvella>", f);
    std::fclose(f);
}

struct TRound {
    double LoadSeconds = 0;
    double SaveSeconds = 0;
    int Children = 0;
};

TRound LoadAndSave(const std::string& name)
{
    TRound r;
    TXmlElement root;
    const int64_t t0 = NowNanos();
    root.LoadFromFile(TAString(name));
    r.LoadSeconds = static_cast<double>(NowNanos() - t0) / 1e9;
    r.Children = root.Count();
    const int64_t t1 = NowNanos();
    const TAString text = root.DocumentText();
    r.SaveSeconds = static_cast<double>(NowNanos() - t1) / 1e9;
    if (text.Length() == 0) throw TBaseError("LoadAndSave", "nothing written");
    return r;
}

bool PythonParse(const std::string& python, const std::string& file, double& seconds)
{
    const std::string command = python +
        " -I -c \"import sys, time\nimport xml.etree.ElementTree as ET\nt = time.perf_counter()\n"
        "ET.parse(sys.argv[1])\nprint(time.perf_counter() - t)\" '" + file + "'";
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    const int read = std::fscanf(pipe, "%lf", &seconds);
    return pclose(pipe) == 0 && read == 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const TFlags flags(argc, argv);
    const int elements = static_cast<int>(flags.Number("--elements", 1000000));
    const std::string python = flags.Text("--python", "/usr/bin/python3");
    try {
        TTempDir dir;
        const std::string small = dir.File("small.xml");
        const std::string large = dir.File("large.xml");
        Generate(elements / 10, small);
        Generate(elements, large);
        const TRound a = LoadAndSave(small);
        const TRound b = LoadAndSave(large);
        std::printf("xml_loading: %d and %d child elements\n", a.Children, b.Children);
        std::printf("  load  %8.3f s  %8.3f s   per element %.0f ns and %.0f ns\n", a.LoadSeconds, b.LoadSeconds,
                    a.LoadSeconds / a.Children * 1e9, b.LoadSeconds / b.Children * 1e9);
        std::printf("  save  %8.3f s  %8.3f s\n", a.SaveSeconds, b.SaveSeconds);
        std::printf("  resident after the large document: %.1f MB\n", static_cast<double>(ResidentBytes()) / 1e6);
        double pySeconds = 0;
        if (PythonParse(python, large, pySeconds)) {
            std::printf("  peer: Python ElementTree.parse, large   %8.3f s  (ratio %.1f)\n", pySeconds,
                        Ratio(b.LoadSeconds, pySeconds));
        } else {
            std::printf("  peer: %s with xml.etree not available\n", python.c_str());
        }
        return 0;
    } catch (const TBaseError& e) {
        std::fprintf(stderr, "xml_loading: %s: %s\n", e.Operation().c_str(), e.Message().c_str());
        return 1;
    }
}
