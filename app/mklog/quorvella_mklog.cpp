// Records the internal log (TLogRecorder) into data/internal.asc or the file given.
//
// Usage: quorvella-mklog [output file]

#include "app/tlogrecorder.h"
#include "support/tbaseerror.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
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
