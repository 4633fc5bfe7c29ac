// The signal monitor filled by the run engine from the frames that left: a replayed log
// decoded field by field, the simulation's values read back from the bus, and the
// filter of the monitor windows.

#include "engine/tsignalmonitor.h"

#include "logs/tcanlogreader.h"
#include "engine/trecordingcockpit.h"
#include "engine/trunengine.h"
#include "engine/ttimesource.h"
#include "runfakes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Catalogue positions of the signals below.
constexpr int ParkingBrake = 0;
constexpr int WheelSpeed = 1;
constexpr int ClutchSwitch = 2;
constexpr int BrakeSwitch = 3;
constexpr int CruiseActive = 4;
constexpr int EngineSpeed = 8;
constexpr int Vin = 10;
constexpr int AmbientTemp = 29;
constexpr int DoorPositions = 32;
constexpr int Seconds = 63;
constexpr int Minutes = 64;
constexpr int Driver1 = 81;
constexpr int Driver2 = 82;
constexpr int TellTales = 85;

struct TRig {
    TRig()
    {
        transmit.engine = &engine;
        engine.SetErrorReporter(&errors);
        engine.SetCanChannel(&channel);
    }
    void Replay(const std::string& log)
    {
        engine.Controls.Simulation = false;
        engine.Controls.InternalLog = true;
        engine.InternalLines = TCanLogReader::Parse(log);
        engine.Start();
        for (int tick = 0; tick < 200 && engine.Running(); ++tick) {
            clock.AdvanceMicros(TRunEngine::TickIntervalMs * 1000);
            engine.TimerSysTimer();
        }
    }
    TManualTimeSource clock{1000000000};
    TRecordingTransmit transmit;
    TScriptedChannel channel;
    TRecordingErrors errors;
    TRunEngine engine{clock, transmit};
};

struct TDecodeCase {
    const char* What;
    std::string Log;   // the program's own layout: time, identifier, 8 data bytes
    int Row;
    const char* Value;
    const char* Code;
    const char* State;
    const char* Raw;
};

// Expected values worked from the field layouts: engine speed 0x2EE0 * 0.125 rpm =
// 1500 rpm; wheel speed 0x3200 / 256 = 50 km/h; ambient 0x2620 * 0.03125 - 273 = 32 °C;
// seconds 0xF4 * 0.25 = 61 s, above the range's 60.
const TDecodeCase DecodeCases[] = {
    {"engine speed", "000.0010 0CF00400FFFFFFE02EFFFFFF", EngineSpeed, "1500.000", "", "valid", "E0 2E"},
    {"engine speed in error (FF FE)", "000.0010 0CF00400FFFFFFFFFEFFFFFF", EngineSpeed, "e", "e", "error", "FF FE"},
    {"engine speed not available", "000.0010 0CF00400FFFFFFFFFFFFFFFF", EngineSpeed, "n", "n", "not available", "FF FF"},
    {"engine speed parameter specific", "000.0010 0CF00400FFFFFF00FBFFFFFF", EngineSpeed, "p", "p", "parameter specific", "00 FB"},
    {"wheel speed", "000.0010 18FEF100F3003211FFFFFFFF", WheelSpeed, "50.000", "", "valid", "00 32"},
    {"parking brake bits 2..3", "000.0010 18FEF100F3003211FFFFFFFF", ParkingBrake, "0", "", "valid", "F3"},
    {"cruise control bits 24..25", "000.0010 18FEF100F3003211FFFFFFFF", CruiseActive, "1", "", "valid", "11"},
    {"brake switch bits 28..29", "000.0010 18FEF100F3003211FFFFFFFF", BrakeSwitch, "1", "", "valid", "11"},
    {"clutch switch bits 30..31", "000.0010 18FEF100F3003211FFFFFFFF", ClutchSwitch, "0", "", "valid", "11"},
    {"clutch switch 10 is error", "000.0010 18FEF100F30032B1FFFFFFFF", ClutchSwitch, "e", "e", "error", "B1"},
    {"ambient temperature with offset", "000.0010 18FEF500FFFFFF2026FFFFFF", AmbientTemp, "32.000", "", "valid", "20 26"},
    {"seconds above the range", "000.0010 18FEE600F4FFFFFFFFFFFFFF", Seconds, "o", "o", "out of range", "F4"},
    {"minutes not available", "000.0010 18FEE600F4FFFFFFFFFFFFFF", Minutes, "n", "n", "not available", "FF"},
    {"door position without an entry", "000.0010 18FE4E00F5FFFFFFFFFFFFFF", DoorPositions, "o", "o", "out of range", "F5"},
    {"vehicle identification in a broadcast transfer",
     "000.0010 18ECFF00200B0002FFECFE00\n000.0020 18EBFF0001574442313233 34\n"
     "000.0030 18EBFF0002353637 2AFFFFFF",
     Vin, "WDB1234567*", "", "valid", "57 44 42 31 32 33 34 35 36 37 2A"},
    {"driver 1 up to its end mark", "000.0010 18FE6B0044312A44322AFFFF", Driver1, "D1*", "", "valid", "44 31 2A"},
    {"driver 2 after driver 1's end mark", "000.0010 18FE6B0044312A44322AFFFF", Driver2, "D2*", "", "valid", "44 32 2A"},
    {"driver 2 a lone end mark", "000.0010 18FE6B0044312A2AFFFFFFFF", Driver2, "n", "n", "not available", "2A"},
    {"tell-tale 16 red in block 1", "000.0010 18FD7D0091FFFFFFFFFFFFFF", TellTales,
     "77777777777777717777777777777777777777777", "", "valid", "91 FF FF FF FF FF FF FF"},
};

std::string WithoutBlanks(std::string s)
{
    std::erase(s, ' ');
    return s;
}

}  // namespace

TEST(TSignalMonitor, ReplayedFramesAreDecodedFieldByField)
{
    for (const TDecodeCase& c : DecodeCases) {
        SCOPED_TRACE(c.What);
        TRig rig;
        std::string log;
        // Blanks in the table only group the bytes for the reader.
        for (std::size_t from = 0; from < c.Log.size();) {
            const std::size_t end = std::min(c.Log.find('\n', from), c.Log.size());
            const std::string line = c.Log.substr(from, end - from);
            log += line.substr(0, 9) + WithoutBlanks(line.substr(9)) + "\n";
            from = end + 1;
        }
        rig.Replay(log);
        ASSERT_FALSE(rig.engine.Running());
        const TSignalMonitor::TSnapshot s = rig.engine.Signals().Snapshot();
        ASSERT_EQ(s.Rows.size(), 86u);
        const TSignalRow& r = s.Rows[static_cast<std::size_t>(c.Row)];
        EXPECT_EQ(r.Value.str(), c.Value);
        EXPECT_EQ(r.StateCode.str(), c.Code);
        EXPECT_EQ(r.StateName.str(), c.State);
        EXPECT_EQ(r.Raw.str(), c.Raw);
        EXPECT_GE(r.LastFrame, 1000);   // the first frame at 1 ms
        EXPECT_GT(r.Changed, 0u);
    }
}

TEST(TSignalMonitor, SignalsWithoutAFrameShowNoFrameYetAndANewRunClearsTheRest)
{
    TRig rig;
    rig.Replay("000.0010 0CF00400FFFFFFE02EFFFFFF\n");
    TSignalMonitor::TSnapshot s = rig.engine.Signals().Snapshot();
    EXPECT_EQ(s.Rows[EngineSpeed].Value.str(), "1500.000");
    EXPECT_EQ(s.Rows[WheelSpeed].Value.str(), "");
    EXPECT_EQ(s.Rows[WheelSpeed].StateName.str(), "no frame yet");
    EXPECT_EQ(s.Rows[WheelSpeed].LastFrame, -1);
    const uint64_t before = rig.engine.Signals().Seq();

    rig.engine.Controls.Simulation = false;
    rig.engine.Start();
    s = rig.engine.Signals().Snapshot();
    EXPECT_GT(s.Seq, before);
    EXPECT_EQ(s.Rows[EngineSpeed].Value.str(), "");
    EXPECT_EQ(s.Rows[EngineSpeed].StateName.str(), "no frame yet");
    rig.engine.Stop();
}

TEST(TSignalMonitor, AFrameThatRepeatsTheValuesChangesNoRow)
{
    TRig rig;
    rig.Replay("000.0010 0CF00400FFFFFFE02EFFFFFF\n000.0030 0CF00400FFFFFFE02EFFFFFF\n000.0050 0CF00400FFFFFF002FFFFFFF\n");
    const TSignalMonitor::TSnapshot s = rig.engine.Signals().Snapshot();
    // Start cleared (1), the first frame set the row (2), the same values changed nothing,
    // the third frame (0x2F00 * 0.125 = 1504 rpm) changed it (3).
    EXPECT_EQ(s.Seq, 3u);
    EXPECT_EQ(s.Rows[EngineSpeed].Value.str(), "1504.000");
    EXPECT_EQ(s.Rows[EngineSpeed].Changed, 3u);
    EXPECT_EQ(s.Rows[EngineSpeed].LastFrame, 5000);
}

namespace {

// A message that repeats its group's last one byte for byte is not decoded again; what
// the rows show must not tell the difference.
struct TRepeatStep {
    uint32_t Id;                      // 0: no frame, set the out-of-range marks instead
    std::array<uint8_t, 8> Data;
    int64_t Time;
    int MarkedRow = -1;               // with Id 0: the row marked out of range, -1 none
};

struct TRepeatCase {
    const char* What;
    std::vector<TRepeatStep> Steps;
    int Row;
    const char* Value;
    const char* Code;
    int64_t LastFrame;
};

const std::array<uint8_t, 8> Eec1{0xFF, 0xFF, 0xFF, 0xE0, 0x2E, 0xFF, 0xFF, 0xFF};
const std::array<uint8_t, 8> Eec1Slower{0xFF, 0xFF, 0xFF, 0x00, 0x2E, 0xFF, 0xFF, 0xFF};
const std::array<uint8_t, 8> TellTale1Block0{0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const std::array<uint8_t, 8> TellTale16Block1{0x91, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const std::array<uint8_t, 8> BadBlock{0x93, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

const TRepeatCase RepeatCases[] = {
    {"a repeat moves the frame time of every row of its group",
     {{0x0CF00400, Eec1, 1000}, {0x0CF00400, Eec1, 3000}}, EngineSpeed, "1500.000", "", 3000},
    {"a repeat after another value of the group shows that value",
     {{0x0CF00400, Eec1, 1000}, {0x0CF00400, Eec1Slower, 2000}, {0x0CF00400, Eec1Slower, 3000}}, EngineSpeed,
     "1472.000", "", 3000},
    {"a block repeated after another block keeps both blocks' tell-tales",
     {{0x18FD7D00, TellTale1Block0, 1000}, {0x18FD7D00, TellTale16Block1, 2000}, {0x18FD7D00, TellTale1Block0, 3000}},
     TellTales, "17777777777777717777777777777777777777777", "", 3000},
    {"a repeated block that carries no tell-tales touches no row",
     {{0x18FD7D00, TellTale1Block0, 1000}, {0x18FD7D00, BadBlock, 2000}, {0x18FD7D00, BadBlock, 3000}}, TellTales,
     "17777777777777777777777777777777777777777", "", 1000},
    {"a repeat after the sender marked the value out of range shows the mark",
     {{0x0CF00400, Eec1, 1000}, {0, {}, 0, EngineSpeed}, {0x0CF00400, Eec1, 2000}}, EngineSpeed, "1500.000", "o",
     2000},
    {"a repeat after the mark was taken back is valid again",
     {{0, {}, 0, EngineSpeed}, {0x0CF00400, Eec1, 1000}, {0, {}, 0, -1}, {0x0CF00400, Eec1, 2000}}, EngineSpeed,
     "1500.000", "", 2000},
};

}  // namespace

TEST(TSignalMonitor, ARepeatedMessageShowsWhatDecodingItAgainWould)
{
    for (const TRepeatCase& c : RepeatCases) {
        SCOPED_TRACE(c.What);
        TSignalMonitor monitor;
        for (const TRepeatStep& step : c.Steps) {
            if (step.Id != 0) {
                monitor.Frame(step.Id, true, 8, step.Data, step.Time);
                continue;
            }
            std::vector<bool> marks(86);
            if (step.MarkedRow >= 0) marks[static_cast<std::size_t>(step.MarkedRow)] = true;
            monitor.SetSentOutOfRange(std::move(marks));
        }
        const TSignalMonitor::TSnapshot s = monitor.Snapshot();
        const TSignalRow& r = s.Rows[static_cast<std::size_t>(c.Row)];
        EXPECT_EQ(r.Value.str(), c.Value);
        EXPECT_EQ(r.StateCode.str(), c.Code);
        EXPECT_EQ(r.LastFrame, c.LastFrame);
    }
}

TEST(TSignalMonitor, TheSimulationsValuesReadBackFromTheBus)
{
    // Every signal the simulation sent decodes to the text the sending catalogue shows,
    // once each group has left at least once (the driver identification from 5 s on).
    TRig rig;
    TRecordingCockpit start;
    TFixedCockpit cockpit(start.Values());
    rig.engine.SetCockpit(&cockpit);
    rig.engine.Start();
    for (int tick = 0; tick < 6000 / TRunEngine::TickIntervalMs; ++tick) {
        rig.clock.AdvanceMicros(TRunEngine::TickIntervalMs * 1000);
        rig.engine.TimerSysTimer();
    }
    const TSignalMonitor::TSnapshot s = rig.engine.Signals().Snapshot();
    for (int i = 0; i < 86; ++i) {
        SCOPED_TRACE(s.Rows[static_cast<std::size_t>(i)].Name.str());
        EXPECT_GE(s.Rows[static_cast<std::size_t>(i)].LastFrame, 0);
        EXPECT_EQ(s.Rows[static_cast<std::size_t>(i)].Value.str(), rig.engine.Catalogue().Signal(i).Write().str());
    }
    EXPECT_GE(s.Now, 5900000);
}

struct TFilterCase {
    const char* Filter;
    std::vector<int> Rows;
};

TEST(TSignalMonitor, FilterMatchesNameGroupPgnAndSpn)
{
    std::vector<int> doors;
    for (int i = 30; i <= 62; ++i) doors.push_back(i);   // Door Control 1 and 2
    std::vector<int> all;
    for (int i = 0; i < 86; ++i) all.push_back(i);
    const TFilterCase cases[] = {
        {"", all},
        {"   ", all},
        {"engine speed", {EngineSpeed}},   // both words: only its name has both
        {"ENGINE SPEED", {EngineSpeed}},
        {"61444", {EngineSpeed}},          // EEC1 by its PGN
        {"f004", {EngineSpeed}},           // and in hex
        {"190", {EngineSpeed}},            // by its SPN
        {"959", {Seconds}},
        {"FEF1", {ParkingBrake, WheelSpeed, ClutchSwitch, BrakeSwitch, CruiseActive}},
        {"door", doors},
        {"no such signal", {}},
    };
    const std::vector<TSignalRow> rows = TSignalMonitor::CatalogueRows();
    ASSERT_EQ(rows.size(), 86u);
    for (const TFilterCase& c : cases) {
        SCOPED_TRACE(c.Filter);
        std::vector<int> matched;
        for (const TSignalRow& r : rows)
            if (TSignalMonitor::Matches(r, c.Filter)) matched.push_back(r.Index);
        EXPECT_EQ(matched, c.Rows);
    }
}

TEST(TSignalMonitor, RowsCarryGroupPgnSpnAndUnit)
{
    const std::vector<TSignalRow> rows = TSignalMonitor::CatalogueRows();
    EXPECT_EQ(rows[EngineSpeed].Name.str(), "Engine speed");
    EXPECT_EQ(rows[EngineSpeed].Group.str(), "Electronic Engine Controller #1");
    EXPECT_EQ(rows[EngineSpeed].Pgn, 61444u);
    EXPECT_EQ(rows[EngineSpeed].Spn, 190);
    EXPECT_EQ(rows[EngineSpeed].Unit.str(), "rpm");
    EXPECT_EQ(rows[WheelSpeed].Spn, 84);
    EXPECT_EQ(rows[Vin].Spn, 237);
    EXPECT_EQ(rows[33].Name.str(), "Lock Status of Door 1");
    EXPECT_EQ(rows[33].Spn, 3412);
    EXPECT_EQ(rows[62].Name.str(), "Enable Status of Door 10");
    EXPECT_EQ(rows[62].Spn, 3441);
    EXPECT_EQ(rows[TellTales].Spn, 0);
}
