#include "app/cli/tclioptions.h"

#include "engine/tscenario.h"

#include "engine/tmodelvaluenames.h"
#include "engine/trecordingcockpit.h"
#include "engine/taddressclaim.h"
#include "support/tbaseerror.h"

#include <cmath>
#include <functional>
#include <map>

namespace {

bool SplitPair(const TAString& text, TAString& name, TAString& value)
{
    const int eq = text.Find("=");
    if (eq <= 0) return false;
    name = text.SubString(0, eq);
    value = text.SubString(eq + 1);
    return true;
}

std::optional<double> Decimal(const TAString& text, double min, double max)
{
    try {
        return text.AsNum(max, min, TAString::nmDec);
    } catch (const TBaseError&) {
        return std::nullopt;
    }
}

// The names --set takes, each with its meaning, unit and range.
TAString ModelValuesHelp()
{
    TRecordingCockpit cockpit;
    return "\nValues of the vehicle model for --set NAME=VALUE (meaning, unit [range]):\n" +
           TModelValueNames::Text(cockpit.Lkw());
}

// --scenario, --control and --control-token: none when option is none of them, else the
// error (empty when the value is good). i moves past a value taken from the next argument.
std::optional<TAString> ParseDriveOption(const TAString& option, const std::vector<TAString>& args, size_t& i,
                                         bool hasInline, const TAString& inlineValue, TCliOptions& o)
{
    if (option != "--scenario" && option != "--control" && option != "--control-token") return std::nullopt;
    TAString v;
    if (hasInline) {
        v = inlineValue;
    } else if (i + 1 < args.size()) {
        v = args[++i];
    } else {
        return option + " needs a value" +
               (option == "--control" ? ": a port, or ADDRESS:PORT" : option == "--scenario" ? ": a scenario file" : ": a file holding the token");
    }
    if (option == "--scenario") {
        if (v.IsEmpty()) return TAString("--scenario needs a value: a scenario file");
        o.Scenario = v;
    } else if (option == "--control-token") {
        if (v.IsEmpty()) return TAString("--control-token needs a value: a file holding the token");
        o.ControlToken = v;
    } else {
        // "8080", "0.0.0.0:8080", "[::1]:8080", "::1:8080" (the last colon ends the address).
        const std::string text = v.str();
        const std::size_t colon = text.rfind(':');
        std::string address = colon == std::string::npos ? "127.0.0.1" : text.substr(0, colon);
        const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
        if (address.size() >= 2 && address.front() == '[' && address.back() == ']') address = address.substr(1, address.size() - 2);
        const std::optional<double> number = Decimal(TAString(port), 0, 65535);
        if (address.empty() || !number || std::floor(*number) != *number)
            return "--control " + v + ": a port 0 to 65535, or ADDRESS:PORT such as 127.0.0.1:8080";
        o.ControlAddress = TAString(address);
        o.ControlPort = static_cast<uint16_t>(*number);
    }
    return TAString();
}

// What the scenario and control options need of the others; empty when they fit.
TAString CheckDriveOptions(const TCliOptions& o)
{
    if (o.Scenario && o.Source != TCliOptions::TSource::Sim) return "--scenario goes with --source sim";
    if (o.ControlPort && o.Fast)
        return "--control goes with real time, not --fast: on virtual time there is no present for a request to act in";
    if (o.ControlToken && !o.ControlPort) return "--control-token goes with --control";
    return {};
}

}  // namespace

TCliParse ParseCommandLine(const std::vector<TAString>& args)
{
    TCliParse result;
    TCliOptions& o = result.Options;
    size_t i = 0;
    TAString option;
    TAString inlineValue;
    bool hasInline = false;

    auto fail = [&](const TAString& message) {
        result.Error = message;
        return result;
    };
    // The value of the current option: "--opt=value" or the next argument.
    auto value = [&](TAString& out) -> bool {
        if (hasInline) {
            out = inlineValue;
            return true;
        }
        if (i + 1 >= args.size()) return false;
        out = args[++i];
        return true;
    };

    for (; i < args.size(); ++i) {
        const TAString& arg = args[i];
        const int eq = arg.Find("=");
        hasInline = arg.SubString(0, 2) == "--" && eq > 2;
        option = hasInline ? arg.SubString(0, eq) : arg;
        inlineValue = hasInline ? arg.SubString(eq + 1) : TAString();
        TAString v;
        const TAString missing = option + " needs a value";

        if (option == "--help" || option == "-h") {
            o.Help = true;
        } else if (option == "--source") {
            if (!value(v)) return fail(missing + " (sim, internal or log FILE)");
            if (v == "sim") {
                o.Source = TCliOptions::TSource::Sim;
            } else if (v == "internal") {
                o.Source = TCliOptions::TSource::Internal;
            } else if (v == "log") {
                o.Source = TCliOptions::TSource::Log;
                if (i + 1 >= args.size()) return fail("--source log needs a file name");
                o.LogFile = args[++i];
            } else {
                return fail("--source: unknown source '" + v + "' (sim, internal or log FILE)");
            }
        } else if (option == "--repeat") {
            o.Repeat = true;
        } else if (option == "--from-first-frame") {
            o.FromFirstFrame = true;
        } else if (option == "--replay-channels") {
            if (!value(v) || v.IsEmpty()) return fail(missing + ": channel numbers (ASC) or interfaces (candump), e.g. 1,3 or can0");
            o.ReplayChannels.clear();
            std::string list = v.str();
            std::size_t start = 0;
            while (true) {
                const std::size_t comma = list.find(',', start);
                const std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
                if (name.empty()) return fail("--replay-channels " + v + ": an empty name in the list");
                o.ReplayChannels.emplace_back(name);
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
        } else if (option == "--channel") {
            if (!value(v) || v.WordCount() == 0) return fail(missing + ": a channel description such as \"Simulation RAM 1 1\"");
            o.Channel = v;
        } else if (option == "--drain") {
            if (!value(v)) return fail(missing + ": seconds");
            const std::optional<double> d = Decimal(v, 0, 3600);
            if (!d) return fail("--drain " + v + ": seconds from 0 to 3600");
            o.DrainSeconds = *d;
        } else if (option == "--log-out") {
            if (!value(v) || v.IsEmpty()) return fail(missing + ": a file name");
            o.LogOut = v;
        } else if (option == "--log-format") {
            if (!value(v)) return fail(missing + ": l5, asc or candump");
            o.LogFormat = TLogLineWriter::FromName(v.str());
            if (!o.LogFormat) return fail("--log-format: unknown format '" + v + "' (l5, asc or candump)");
        } else if (option == "--log-rx") {
            o.LogRx = true;
        } else if (option == "--monitor") {
            o.Monitor = true;
        } else if (option == "--set") {
            TAString name, text;
            if (!value(v) || !SplitPair(v, name, text)) return fail("--set needs NAME=VALUE, for example Gaspedal=40");
            const std::optional<double> number = Decimal(text, -1e15, 1e15);
            if (!number) return fail("--set " + name + ": '" + text + "' is not a decimal number");
            o.Sets.emplace_back(name, *number);
        } else if (option == "--starter") {
            o.Starter = true;
        } else if (option == "--vin" || option == "--driver1" || option == "--driver2") {
            if (!value(v)) return fail(missing);
            (option == "--vin" ? o.Vin : option == "--driver1" ? o.Driver1 : o.Driver2) = v;
        } else if (option == "--telltale") {
            TAString n, state;
            if (!value(v) || !SplitPair(v, n, state)) return fail("--telltale needs N=STATE, for example 7=1");
            const std::optional<double> number = Decimal(n, 1, 41);
            const std::optional<double> st = Decimal(state, 0, 7);
            if (!number || std::floor(*number) != *number)
                return fail("--telltale " + v + ": the tell-tale number must be 1 to 41");
            if (!st || std::floor(*st) != *st) return fail("--telltale " + v + ": the state must be 0 to 7");
            o.TellTales.emplace_back(static_cast<int>(*number), static_cast<int>(*st));
        } else if (option == "--force") {
            TAString name, state;
            if (!value(v) || !SplitPair(v, name, state) || state.IsEmpty())
                return fail("--force needs \"SIGNAL NAME=STATE\", for example \"Engine speed=error\"");
            o.Forces.emplace_back(name, state);
        } else if (option == "--sa") {
            if (!value(v)) return fail(missing + ": a hexadecimal byte such as xFE");
            try {
                (void)v.AsByte(TAString::nmHex);
            } catch (const TBaseError&) {
                return fail("--sa " + v + ": the source address must be a hexadecimal byte x00 to xFF");
            }
            o.SourceAddress = v;
        } else if (option == "--prio") {
            if (!value(v)) return fail(missing + ": 0 to 7");
            const std::optional<double> p = Decimal(v, 0, 7);
            if (!p || std::floor(*p) != *p) return fail("--prio " + v + ": the priority must be 0 to 7");
            o.Priority = v;
        } else if (option == "--drop") {
            if (!value(v)) return fail(missing + ": a parameter group number such as FEF1");
            try {
                o.Drops.push_back(v.AsWord(TAString::nmHex));
            } catch (const TBaseError&) {
                return fail("--drop " + v + ": a parameter group number is four hexadecimal digits such as FEF1");
            }
        } else if (option == "--name") {
            if (!value(v)) return fail(missing + ": the J1939 NAME, 1 to 16 hexadecimal digits");
            o.Name = TAddressClaim::ParseName(v);
            if (!o.Name) return fail("--name " + v + ": the J1939 NAME is 1 to 16 hexadecimal digits, e.g. 1000000000000001");
        } else if (option == "--no-address-claim") {
            o.NoAddressClaim = true;
        } else if (option == "--duration") {
            if (!value(v)) return fail(missing + ": seconds");
            const std::optional<double> d = Decimal(v, 0.001, 1e9);
            if (!d) return fail("--duration " + v + ": seconds as a positive decimal number");
            o.Duration = d;
        } else if (option == "--fast") {
            o.Fast = true;
        } else if (option == "--settings") {
            if (!value(v) || v.IsEmpty()) return fail(missing + ": a settings file");
            o.SettingsFile = v;
        } else if (option == "--report") {
            if (!value(v) || v.IsEmpty()) return fail(missing + ": a file name for the JSON report");
            o.ReportFile = v;
        } else if (option == "--strict-timing") {
            o.StrictTiming = true;
        } else if (option == "--export-dbc") {
            if (!value(v) || v.IsEmpty()) return fail(missing + ": a file name for the DBC");
            o.ExportDbc = v;
        } else if (const std::optional<TAString> error = ParseDriveOption(option, args, i, hasInline, inlineValue, o)) {
            if (!error->IsEmpty()) return fail(*error);
        } else {
            return fail("unknown argument '" + arg + "' (see --help)");
        }
        if (hasInline && (option == "--help" || option == "--repeat" || option == "--from-first-frame" ||
                          option == "--log-rx" || option == "--monitor" || option == "--starter" ||
                          option == "--fast" || option == "--strict-timing" || option == "--no-address-claim"))
            return fail(option + " takes no value");
    }
    if (o.Repeat && o.Source == TCliOptions::TSource::Sim) return fail("--repeat goes with --source internal or --source log FILE");
    if (o.FromFirstFrame && o.Source == TCliOptions::TSource::Sim)
        return fail("--from-first-frame goes with --source internal or --source log FILE");
    if (o.Name && o.Source != TCliOptions::TSource::Sim)
        return fail("--name goes with --source sim: a replay sends the log's traffic as it is, without a claim");
    if (o.LogFormat && !o.LogOut) return fail("--log-format goes with --log-out FILE");
    if (!o.ReplayChannels.empty() && o.Source != TCliOptions::TSource::Log)
        return fail("--replay-channels goes with --source log FILE");
    if (o.LogOut && !o.LogFormat) o.LogFormat = TLogLineWriter::FormatOfFileName(o.LogOut->str());
    if (o.LogRx && !o.LogOut) return fail("--log-rx goes with --log-out FILE");
    if (o.LogRx && o.LogFormat.value_or(TLogOutFormat::Layout5) == TLogOutFormat::Layout5)
        return fail("--log-rx needs --log-format asc or candump (or a --log-out name ending in .asc or .log): layout 5 "
                    "has no direction to tell received frames from sent ones");
    if (const TAString error = CheckDriveOptions(o); !error.IsEmpty()) return fail(error);
    // A scenario's stop can end the run; whether it does is known once the file is read.
    if (o.Fast && !o.Duration && o.Source == TCliOptions::TSource::Sim && !o.Scenario)
        return fail("--fast with --source sim needs --duration");
    if (o.Fast && o.Repeat && !o.Duration) return fail("--fast with --repeat needs --duration");
    return result;
}

TAString CliUsage()
{
    return TAString(R"(Usage: quorvella-cli [options]

Runs the Bus-FMS CAN simulation without windows: the same engine, catalogue, vehicle
model, validity manipulation, options, replay, output log and CAN adapters as the
windowed program.

Source (one of):
  --source sim                 the vehicle simulation with the cockpit's initial settings (default)
  --source internal            the built-in 60 s recording
  --source log FILE            a CAN log file: lines of layout 4 or 5, an ASC file or a candump log,
                               told apart by their content; prints what it took and what it skipped,
                               the channels (ASC) or interfaces (candump) it found, and whether its
                               last line was cut (a line without a line end is not read)
  --replay-channels LIST       replay only these channels of the log: ASC channel numbers or candump
                               interface names, comma-separated, e.g. 1,3 or can1 (default: all,
                               merged into one replay); a name the log does not hold is refused
  --repeat                     replay the log again and again (internal or log)
  --from-first-frame           the log's first frame leaves at once, the others as far after it as
                               the log says (candump logs always play so)

Destinations:
  --channel "DESCRIPTION"      a CAN channel, as the adapter settings describe it, e.g.
                               "Simulation RAM 1 1", "Simulation SOC 127.0.0.1 5000 5001 1",
                               "QtCanBus socketcan can0", "QtCanBus virtualcan can0"
  --drain SECONDS              at the end, wait at most this long (default 2) for frames the
                               channel has not delivered yet; frames it could not deliver are
                               counted, reported and make the exit status 1. Delivered means:
                               RAM the peer's channel took the mailbox block; HDD the drop file
                               carries its final name; SOC the peer's TCP acknowledged the bytes
                               (they reached its machine; whether its program read them cannot
                               be known); COM the serial device took the bytes; QtCanBus, Vector,
                               Vci the driver took the frame.
                               Then the channel stops receiving, every frame it had taken is read
                               (and logged with --log-rx), and frames lost on receiving (cut,
                               invalid, dropped by a full queue) are reported with their totals
                               and make the exit status 1
  --log-out FILE               the output log, one frame per line: a regular file (emptied only once
                               every input and the channel have been checked) or a FIFO that a
                               program reads; a folder or a device is refused, nothing is removed
  --log-format l5|asc|candump  the output log's format: layout 5, ASC or a candump log; without it
                               the --log-out name tells: .asc ASC, .log candump, anything else
                               layout 5. Layout 5 holds only 29-bit frames of 8 bytes: a log with
                               11-bit or shorter frames needs asc or candump. candump times are
                               seconds since the epoch (the wall clock at the start plus the run
                               time), sent frames marked T and received ones R
  --log-rx                     also log every frame the channel receives (a device's requests and
                               anything else), with the run time it was read at: "Rx" lines in
                               ASC, "R" lines in a candump log (sent frames: "Tx", "T"); needs
                               the asc or candump format (layout 5 has no direction)
  --monitor                    print every signal's value once per second and at the end

Vehicle and signals (simulation source):
  --set NAME=VALUE             set a value of the vehicle model, e.g. --set Gaspedal=40 --set Gang=6;
                               a NAME the model does not have lists every name with its meaning
                               and unit; a VALUE outside the range the cockpit gives the name
                               (listed at the end) is refused
  --starter                    press the starter at the beginning (the engine turns over)
  --vin TEXT                   vehicle identification, 1 to 100 characters
  --driver1 TEXT, --driver2 TEXT
                               driver identifications, up to 19 characters each; identifications
                               are printable ASCII without "*" (which ends them on the bus)
  --telltale N=STATE           tell-tale N (1..41) in state 0..7, e.g. --telltale 7=1
  --force "SIGNAL NAME=STATE"  force a signal's validity: "not available", "error", "valid",
                               or the text of a validity choice, e.g. --force "Engine speed=error"
  --sa xHH                     source address of every message (hexadecimal), e.g. --sa xFE
  --prio N                     priority 0..7 of every message
  --drop PGN                   leave a parameter group out, e.g. --drop FEF1 (repeatable)
  --name HEX                   the vehicle's J1939 NAME, 1 to 16 hexadecimal digits (default
                               1000000000000001, or "J1939Name" of --settings): at the start it
                               claims its source address with it (Address Claimed, PGN EE00,
                               priority 6, to all; addresses 128 to 247 then send nothing else
                               for 250 ms) and answers requests for Address Claimed. When
                               another node claims the address with a NAME of higher priority
                               (a lower number), it sends Cannot Claim from address 254, sends
                               nothing more and the exit status is 1; against a lower priority
                               it claims again. The state is printed at the end
  --no-address-claim           no address claim (also "AddressClaim" 0 in --settings)

Time:
  --duration SECONDS           run length; without it a log runs to its end, the simulation until
                               interrupted (Ctrl-C)
  --fast                       virtual time, as fast as possible, with the same output as in real
                               time; frames go to the channel as soon as they are released

Other:
  --settings FILE              take the CAN adapter and the Vector library path from a settings file
                               (Quorvella.xml) instead of --channel
  --report FILE                write the timing self-check as JSON
  --strict-timing              exit with status 1 when the timing self-check flags a group
  --export-dbc FILE            write a DBC file of every parameter group and signal, with the
                               source address and priority of --sa and --prio, and run nothing

Driving a run (simulation source):
  --scenario FILE              play a drive: one timed step a line, "TIME ACTION"; TIME is seconds
                               from the start (12.5) or +SECONDS after the line before; "#" starts a
                               comment; steps of the same time keep file order; a step acts at the
                               model's first 20 ms step at or after its time. A bad line refuses the
                               file, with its number, before anything runs. With --fast, a scenario
                               that reaches "stop" needs no --duration. The actions:
)" + ScenarioActionsHelp() + R"(  --control [ADDRESS:]PORT     serve the control API (JSON over HTTP, see the README) on ADDRESS
                               (default the loopback address 127.0.0.1) during a real-time run;
                               port 0 lets the system choose (the address is printed)
  --control-token FILE         the bearer token clients must send (Authorization: Bearer TOKEN);
                               needed when ADDRESS is not a loopback address
  --help                       this text

At the end of a run the timing self-check is printed: per parameter group the frames sent,
the period expected and achieved (median, min, max), the first-frame offset, the largest
lateness (departure minus the frame's due time) and the gaps of broadcast transfers. The
simulation is judged against the Bus-FMS schedule: a group more than 1 ms off its period,
or missing, is flagged. A log (internal or --source log) is its own schedule: a group is
flagged only when a frame left more than 10 ms after its log time. With the simulation,
J1939 requests (PGN 59904) read from the channel are answered, and the number received,
answered and refused (negative acknowledgement) is printed.

SIGINT (Ctrl-C), SIGTERM, SIGHUP and SIGPIPE (a closed standard output) stop the run early:
the output log is finished with the frames released until then, the timing self-check is
printed and the report written.

Exit status:
  0    the run went to its end and nothing was lost or refused
  1    the run failed: an error was reported (for example frames the channel could not
       deliver, frames lost on receiving, or a channel whose medium failed; also when a
       signal stopped it afterwards),
       or --strict-timing found a group off its schedule
  2    a usage error
  128+N  the run was cut short by signal N and nothing else failed: 129 SIGHUP,
       130 SIGINT, 141 SIGPIPE, 143 SIGTERM

Examples:
  quorvella-cli --fast --duration 60 --source sim --starter --log-out fms.asc
  quorvella-cli --duration 10 --channel "Simulation RAM 1 1" --report timing.json
  quorvella-cli --source log drive.asc --repeat --channel "QtCanBus socketcan can0"
  quorvella-cli --fast --duration 5 --force "Engine speed=error" --drop FEF1 --sa xFE --prio 3 --log-out x.l5
  quorvella-cli --fast --source log candump-2024.log --replay-channels can1 --log-out replay.asc
  quorvella-cli --duration 60 --channel "QtCanBus socketcan can0" --log-out bus.log --log-rx
)") + ModelValuesHelp();
}
