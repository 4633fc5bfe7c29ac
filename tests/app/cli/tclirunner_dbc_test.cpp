// The shipped DBC file, read by canmatrix as a telematics engineer would, decodes the
// runner's output log to what the data monitor shows.
#include "app/cli/tclirunner.h"
#include "clirunfixture.h"

#include "fms/tbusfmsstandard.h"
#include "fms/tvehicledatatext.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

const std::string Python = "cd / && /usr/bin/python3 -I";

struct TDecoded {
    int64_t Ms;
    std::string Comment;   // the data monitor's name of the signal
    uint64_t Raw;
    double Phys;
};

class TCliRunnerDbc : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::system((Python + " -c 'import canmatrix' >/dev/null 2>&1").c_str()) != 0)
            GTEST_SKIP() << "python3 with canmatrix is missing (tools/setup.sh installs python3-canmatrix): the "
                            "DBC file is not decoded";
        dir_ = std::filesystem::temp_directory_path() /
               ("qv_dbc_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override
    {
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }

    // Runs the runner; returns its stdout. Fails the test on any error.
    std::string Run(const std::vector<std::string>& words)
    {
        const clitest::TCliOutcome outcome = clitest::RunCommandLine(words);
        EXPECT_EQ(outcome.Status, 0) << outcome.Err;
        return outcome.Out;
    }

    // The last data monitor the runner printed: the value text of every signal.
    static std::vector<std::string> LastMonitor(const std::string& out)
    {
        const std::vector<TAString> names = TVehicleDataText::Names();
        size_t width = 0;
        for (const TAString& n : names) width = std::max(width, static_cast<size_t>(n.Length()));
        const size_t from = out.rfind("--- data monitor at ");
        std::istringstream in(out.substr(from));
        std::string line;
        std::getline(in, line);
        std::vector<std::string> values;
        for (const TAString& name : names) {
            std::getline(in, line);
            EXPECT_EQ(line.substr(0, static_cast<size_t>(name.Length())), name.str());
            values.push_back(line.size() > width + 1 ? line.substr(width + 1) : std::string());
        }
        return values;
    }

    // Every signal of every frame of the log the DBC describes, through canmatrix.
    static std::vector<TDecoded> Decode(const std::string& log)
    {
        const std::string command = Python + " '" + QV_TESTS_DIR + "/app/cli/dbc_decode.py' '" + QV_DATA_DIR +
                                    "/quorvella.dbc' '" + log + "' 2>/dev/null";
        std::FILE* pipe = ::popen(command.c_str(), "r");
        std::vector<TDecoded> decoded;
        if (!pipe) return decoded;
        char buf[512];
        while (std::fgets(buf, sizeof buf, pipe)) {
            std::string line(buf);
            std::istringstream fields(line);
            std::string micros, comment, raw, phys;
            std::getline(fields, micros, '\t');
            std::getline(fields, comment, '\t');
            std::getline(fields, raw, '\t');
            std::getline(fields, phys, '\n');
            decoded.push_back({std::stoll(micros) / 1000, comment, std::stoull(raw), std::stod(phys)});
        }
        EXPECT_EQ(::pclose(pipe), 0) << command;
        return decoded;
    }

    std::filesystem::path dir_;
};

// A 60 s drive. The vehicle steps every 20 ms from 0 ms; a group due at d ms is filled
// at the last 5 ms step before it, with the values of the vehicle step at or before
// that step, which the data monitor shows until the next vehicle step. So the monitor
// at the end of a run of ceil(d / 20) x 20 ms shows exactly what that frame carries;
// the runs below end at those moments for one frame of every group (the runs are the
// same to the millisecond, as the same command line always gives the same log).
TEST_F(TCliRunnerDbc, DecodedLogIsWhatTheDataMonitorShows)
{
    const std::vector<std::string> drive = {
        "--fast", "--starter", "--monitor", "--set", "Gang=3", "--set", "Tankinhalt=63.2", "--set", "AmbTemp=-7.5",
        "--set", "Motor:Kuehlmitteltemperatur=87", "--set", "SBraC1=840", "--set", "SBraC2=512", "--set",
        "WPFL=512.3", "--set", "WPHR=17.7", "--set", "Sec=37.25", "--set", "Min=41", "--set", "Hours=17", "--set",
        "Day=23.5", "--set", "Month=4", "--set", "Year=2031", "--set", "TCO:D1 Status=3", "--set",
        "TCO:D2 Status=1", "--set", "TCO:D1 ZeitStatus=4", "--set", "TCO:D2 Karte=1", "--set", "DoorOpen3=1",
        "--set", "DoorLock10=1", "--set", "AltStat2=1", "--set", "RampWheel=1", "--set", "DCPosDoor=1", "--set",
        "ParkBrake=1", "--telltale", "7=1", "--telltale", "20=3", "--telltale", "41=2"};
    auto withDuration = [&](const char* seconds, std::vector<std::string> more = {}) {
        std::vector<std::string> words = drive;
        words.push_back("--duration");
        words.push_back(seconds);
        words.insert(words.end(), more.begin(), more.end());
        return words;
    };
    const std::string log = Path("drive.l5");
    Run(withDuration("60", {"--log-out", log}));
    const std::map<int64_t, std::vector<std::string>> monitorAt = {
        {50020, LastMonitor(Run(withDuration("50.02")))},   // FMS at 50014 ms
        {59000, LastMonitor(Run(withDuration("59.00")))},   // CCVS at 59000 ms
        {59020, LastMonitor(Run(withDuration("59.02")))},   // EEC2 .. ET1 at 59002 .. 59020 ms
        {59040, LastMonitor(Run(withDuration("59.04")))},   // AMB .. ASC4 at 59022 .. 59040 ms
        {59060, LastMonitor(Run(withDuration("59.06")))},   // LFE, TTS at 59042, 59044 ms
    };

    const TBusFmsStandard catalogue("00.02");
    std::map<std::string, int> signalOf;
    for (int i = 0; i < catalogue.SignalCount(); ++i) signalOf[catalogue.Signal(i).Name.str()] = i;
    const int sw = signalOf.at("SW-version supported");
    const int tts = signalOf.at("Tell Tale Status");

    std::set<std::string> compared;
    const std::vector<TDecoded> decoded = Decode(log);
    ASSERT_GT(decoded.size(), 60000u);
    for (const TDecoded& d : decoded) {
        const std::string tellTale = "Tell Tale Status: tell-tale ";
        if (d.Comment.rfind(tellTale, 0) == 0) {
            // The tell-tales change only by the cockpit's clicks (here --telltale): the
            // three blocks of the last three seconds against the last monitor.
            if (d.Ms < 57000) continue;
            const int k = std::stoi(d.Comment.substr(tellTale.size()));
            const std::string& shown = monitorAt.at(59060)[static_cast<size_t>(tts)];
            ASSERT_EQ(shown.size(), 41u);
            EXPECT_EQ(d.Raw, static_cast<uint64_t>(shown[static_cast<size_t>(k - 1)] - '0')) << d.Comment;
            compared.insert(d.Comment);
            continue;
        }
        const int64_t at = (d.Ms + 19) / 20 * 20;
        const auto monitor = monitorAt.find(at);
        if (monitor == monitorAt.end() || !signalOf.count(d.Comment)) continue;
        const int i = signalOf.at(d.Comment);
        const TFmsMeasVal& signal = catalogue.Signal(i);
        const std::string& shown = monitor->second[static_cast<size_t>(i)];
        SCOPED_TRACE(d.Comment + " at " + std::to_string(d.Ms) + " ms, the monitor shows " + shown);
        if (i == sw) {
            // Four characters, the first in the low byte.
            std::string text;
            for (int b = 0; b < 4; ++b) text += static_cast<char>(d.Raw >> (8 * b));
            EXPECT_EQ(text, shown);
        } else if (dynamic_cast<const TMeasValEnum*>(signal.MeasVal.get())) {
            EXPECT_EQ(std::to_string(d.Raw), shown);
        } else {
            EXPECT_LE(std::fabs(d.Phys - std::stod(shown)), signal.Resolution * (1 + 1e-9));
        }
        compared.insert(d.Comment);
    }
    // Every signal of the single-frame groups: 86 without the three identifications
    // and the tell-tale table, which counts as its 41 tell-tales.
    EXPECT_EQ(compared.size(), 86u - 3u - 1u + 41u);

    // The values were worth comparing: the vehicle drives, the cockpit's settings arrived.
    const std::vector<std::string>& last = monitorAt.at(59060);
    EXPECT_GT(std::stod(last[static_cast<size_t>(signalOf.at("Wheel based speed"))]), 10.0);
    EXPECT_GT(std::stod(last[static_cast<size_t>(signalOf.at("Engine speed"))]), 1000.0);
    EXPECT_EQ(last[static_cast<size_t>(signalOf.at("Ambient Air Temperatur"))], "-7.500");
    EXPECT_EQ(last[static_cast<size_t>(signalOf.at("Driver 1 working state"))], "3");
}

// Forced states arrive as the raw codes of J1939: FF.. not available, FE.. error, in
// the field's top byte (2, 3 and 4-bit fields: their top values).
TEST_F(TCliRunnerDbc, ForcedStatesDecodeToTheirRawCodes)
{
    struct Case {
        const char* force;
        const char* signal;
        uint64_t raw;
        const char* shown;
    };
    const Case cases[] = {
        {"Engine speed=error", "Engine speed", 0xFEFF, "e"},
        {"Wheel based speed=not available", "Wheel based speed", 0xFFFF, "n"},
        {"Ambient Air Temperatur=error", "Ambient Air Temperatur", 0xFEFF, "e"},
        {"Accelerator pedal position=error", "Accelerator pedal position", 0xFE, "e"},
        {"Engine coolant temperature=not available", "Engine coolant temperature", 0xFF, "n"},
        {"Total fuel used=not available", "Total fuel used", 0xFFFFFFFF, "n"},
        {"Total engine hours=error", "Total engine hours", 0xFEFFFFFF, "e"},
        {"Clutch switch=error", "Clutch switch", 2, "e"},
        {"Driver 1 working state=not available", "Driver 1 working state", 7, "n"},
        {"Positions of doors=error", "Positions of doors", 14, "e"},
    };
    std::vector<std::string> words = {"--fast", "--duration", "5", "--starter", "--monitor"};
    for (const Case& c : cases) {
        words.push_back("--force");
        words.push_back(c.force);
    }
    const std::string log = Path("forced.l5");
    words.push_back("--log-out");
    words.push_back(log);
    const std::vector<std::string> monitor = LastMonitor(Run(words));

    const TBusFmsStandard catalogue("00.02");
    std::map<std::string, int> frames;
    for (const TDecoded& d : Decode(log)) {
        for (const Case& c : cases) {
            if (d.Comment != c.signal) continue;
            EXPECT_EQ(d.Raw, c.raw) << c.signal << " at " << d.Ms << " ms";
            ++frames[c.signal];
        }
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.signal);
        EXPECT_GT(frames[c.signal], 0);
        for (int i = 0; i < catalogue.SignalCount(); ++i) {
            if (catalogue.Signal(i).Name != c.signal) continue;
            EXPECT_EQ(monitor[static_cast<size_t>(i)], c.shown);
        }
    }
    EXPECT_EQ(frames["Engine speed"], 250);   // EEC1 every 20 ms for 5 s
}

}  // namespace
