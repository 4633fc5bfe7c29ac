// quorvella-cli: the simulation without windows, for automation and test rigs.
#include "app/cli/tclioptions.h"
#include "app/cli/tclirunner.h"

#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <vector>

namespace {

std::atomic<bool> g_stop{false};

extern "C" void OnSignal(int)
{
    g_stop.store(true);
}

}  // namespace

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
        return TCliRunner::ExitOk;
    }
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
    TCliRunner runner(parsed.Options, stdout, stderr);
    return runner.Run(g_stop);
}
