#pragma once
// One run of quorvella-cli: sets up the engine, the source and the destinations from
// the parsed command line, runs on real or virtual time, and prints the timing
// self-check. Errors are printed with the error dialog's category and text.

#include "app/cli/tclioptions.h"

#include "support/tbaseerror.h"

#include <atomic>
#include <cstdio>
#include <system_error>

class TCliRunner {
public:
    // Exit statuses. A run cut short by signal N (SIGINT, SIGTERM, SIGHUP, SIGPIPE) ends
    // with ExitSignalBase + N (130, 143, 129, 141) unless an error was reported, which
    // is ExitFailed.
    enum TExit { ExitOk = 0, ExitFailed = 1, ExitUsage = 2, ExitSignalBase = 128 };

    // out receives the monitor and the timing report, err the errors.
    TCliRunner(const TCliOptions& options, std::FILE* out, std::FILE* err);

    // Checks every input and output name and opens the channel before any output is
    // opened or changed; then runs to the end of the duration, of the log, or until
    // stop holds a signal number. Whichever ends it, the output log is finished (whole
    // lines), the channel closed and the report written. Returns the exit status.
    // A thread that could not be made (std::system_error) is reported as an error
    // (exit status 1), never an abort.
    int Run(const std::atomic<int>& stop);

    // What the user is told when a thread could not be made.
    static TBaseError ThreadError(const std::system_error& e);

private:
    const TCliOptions& options_;
    std::FILE* out_;
    std::FILE* err_;
};
