// quorvella-cli: the simulation without windows, for automation and test rigs.
#include "app/cli/tclioptions.h"
#include "app/cli/tclirunner.h"
#include "app/cli/tstopsignals.h"

#include <clocale>
#include <csignal>
#include <cstdio>
#include <exception>
#include <vector>

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "C");
    std::vector<TAString> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
    const TCliParse parsed = ParseCommandLine(args);
    if (!parsed.Error.IsEmpty()) {
        std::fprintf(stderr, "quorvella-cli: %s\n", parsed.Error.c_str());
        return TCliRunner::ExitUsage;
    }
    if (parsed.Options.Help) {
        std::fputs(CliUsage().c_str(), stdout);
        return std::fflush(stdout) == 0 ? TCliRunner::ExitOk : TCliRunner::ExitFailed;
    }
    // A file size limit is a write error to report, not the end of the process.
    std::signal(SIGXFSZ, SIG_IGN);
    TStopSignals signals;
    try {
        TCliRunner runner(parsed.Options, stdout, stderr);
        return runner.Run(signals.Stop());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quorvella-cli: internal error: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "quorvella-cli: internal error\n");
    }
    return TCliRunner::ExitFailed;
}
