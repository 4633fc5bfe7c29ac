#pragma once
// One run of quorvella-cli: sets up the engine, the source and the destinations from
// the parsed command line, runs on real or virtual time, and prints the timing
// self-check. Errors are printed with the error dialog's category and text.

#include "app/cli/tclioptions.h"

#include <atomic>
#include <cstdio>

class TCliRunner {
public:
    enum TExit { ExitOk = 0, ExitFailed = 1, ExitUsage = 2 };

    // out receives the monitor and the timing report, err the errors.
    TCliRunner(const TCliOptions& options, std::FILE* out, std::FILE* err);

    // Runs to the end of the duration, of the log, or until stop becomes true.
    TExit Run(const std::atomic<bool>& stop);

private:
    const TCliOptions& options_;
    std::FILE* out_;
    std::FILE* err_;
};
