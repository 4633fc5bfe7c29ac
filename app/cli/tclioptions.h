#pragma once
// The command line of quorvella-cli, parsed into plain values. Parse checks the form of
// every argument (numbers, ranges, NAME=VALUE pairs); names that only the run can check
// (a model value, a signal, a group) are checked when the run is set up.

#include "logs/tloglinewriter.h"
#include "support/tastring.h"

#include <optional>
#include <utility>
#include <vector>

struct TCliOptions {
    enum class TSource { Sim, Internal, Log };

    TSource Source = TSource::Sim;
    TAString LogFile;                 // --source log FILE
    bool Repeat = false;
    bool FromFirstFrame = false;      // --from-first-frame
    std::vector<TAString> ReplayChannels;   // --replay-channels 1,3 or can0: empty for all

    std::optional<TAString> Channel;  // --channel "DESCRIPTION"
    double DrainSeconds = 2.0;        // --drain: how long the channel may take to send what it holds
    std::optional<TAString> LogOut;   // --log-out FILE
    // --log-format l5|asc|candump; with --log-out but without it, the one --log-out's
    // extension asks for (".asc" ASC, ".log" candump, anything else layout 5).
    std::optional<TLogOutFormat> LogFormat;
    bool LogRx = false;               // --log-rx: received frames in the output log too
    bool Monitor = false;

    std::vector<std::pair<TAString, double>> Sets;   // --set NAME=VALUE
    bool Starter = false;
    std::optional<TAString> Vin;
    std::optional<TAString> Driver1;
    std::optional<TAString> Driver2;
    std::vector<std::pair<int, int>> TellTales;      // --telltale N=STATE: 1..41, 0..7
    std::vector<std::pair<TAString, TAString>> Forces;   // --force "SIGNAL NAME=STATE"

    std::optional<TAString> SourceAddress;   // --sa xFE (text as the options window takes it)
    std::optional<TAString> Priority;        // --prio 3
    std::vector<uint32_t> Drops;             // --drop FEF1: parameter group numbers
    std::optional<uint64_t> Name;            // --name HEX: the vehicle's J1939 NAME
    bool NoAddressClaim = false;             // --no-address-claim

    std::optional<double> Duration;          // seconds; none: until the log ends or a signal
    bool Fast = false;
    std::optional<TAString> SettingsFile;
    std::optional<TAString> ReportFile;
    bool StrictTiming = false;
    std::optional<TAString> ExportDbc;       // --export-dbc FILE: write the DBC, no run

    std::optional<TAString> Scenario;        // --scenario FILE: a drive of timed steps
    // --control [ADDRESS:]PORT: the control API (the loopback address unless one is given).
    std::optional<TAString> ControlAddress;
    std::optional<uint16_t> ControlPort;
    std::optional<TAString> ControlToken;    // --control-token FILE
    bool Help = false;
};

struct TCliParse {
    TCliOptions Options;
    TAString Error;   // empty when the command line is good
};

TCliParse ParseCommandLine(const std::vector<TAString>& args);

// The text of --help.
TAString CliUsage();
