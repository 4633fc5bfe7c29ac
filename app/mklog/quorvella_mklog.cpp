// Records the internal log (TLogRecorder) into data/internal.asc or the file given.
//
// Usage: quorvella-mklog [output file]

#include "engine/tlogrecorder.h"
#include "support/tbaseerror.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char* kUsage = "Usage: quorvella-mklog [OUTPUT]\n"
                               "Records the built-in 60 s log from the program's own output into OUTPUT\n"
                               "(default data/internal.asc), replacing it.\n";

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return EXIT_SUCCESS;
    }
    // An option it does not know is not a file name to write over.
    if (argc > 2 || (argc > 1 && argv[1][0] == '-')) {
        std::fprintf(stderr, "quorvella-mklog: unknown argument '%s'\n%s", argv[argc > 2 ? 2 : 1], kUsage);
        return 2;
    }
    const TAString fileName = argc > 1 ? argv[1] : "data/internal.asc";
    std::remove(fileName.c_str());
    try {
        const TAString error = TLogRecorder::Record(fileName);
        if (!error.IsEmpty()) {
            std::fprintf(stderr, "quorvella-mklog: %s\n", error.c_str());
            return EXIT_FAILURE;
        }
    } catch (const TBaseError& e) {
        std::fprintf(stderr, "quorvella-mklog: %s: %s\n", fileName.c_str(), e.DescribeText().c_str());
        return EXIT_FAILURE;
    }
    return EXIT_SUCCESS;
}
