// quorvella-cli: the simulation without windows, for automation and test rigs.
#include "app/cli/tclioptions.h"
#include "app/cli/tclirunner.h"
#include "app/cli/tstopsignals.h"
#include "engine/terrortable.h"

#include <clocale>
#include <csignal>
#include <cstdio>
#include <exception>
#include <new>
#include <system_error>
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
    try {
        TStopSignals signals;
        TCliRunner runner(parsed.Options, stdout, stderr);
        return runner.Run(signals.Stop());
    } catch (const std::system_error& e) {
        // The signal thread could not be made (ulimit -u): an error, never an abort.
        const TBaseError error = TCliRunner::ThreadError(e);
        const TErrorReport report = TErrorTable::Lookup(error);
        std::fprintf(stderr, "quorvella-cli: %s: %s: %s\n", report.Category.c_str(), report.Text.c_str(),
                     report.Detail.c_str());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "quorvella-cli: out of memory\n");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quorvella-cli: internal error: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "quorvella-cli: internal error\n");
    }
    return TCliRunner::ExitFailed;
}
