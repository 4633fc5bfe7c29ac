#include "logs/tloglinewriter.h"

#include "logs/tcanlogreader.h"
#include "logs/tlogout.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

const TCanFrame kEngine(0x18FEF100, {0xF3, 0x15, 0x00, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF}, 8, 10000);

std::string LineOf(TLogOutFormat format, const TCanFrame& frame, TLogDirection direction = TLogDirection::Sent)
{
    std::string out;
    TLogLineWriter::Create(format)->Append(frame, direction, out);
    return out;
}

std::tm Local(int year, int month, int day, int weekday, int hour, int minute, int second)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_wday = weekday;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

TEST(TLogLineWriter, EachFormatWritesTheFrameAsItsReadersExpect)
{
    const TCanFrame priority3(0x0CFE6CEE, {0, 1, 2, 3, 4, 5, 6, 0xAB}, 8, 1000500001);
    // A device (0x21) asking us (0x00) for the engine hours, read at 1.5 s.
    const TCanFrame request(0x18EA0021, {0xE5, 0xFE, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 8, 1500000);
    const TCanFrame shortRequest(0x18EA00F9, {0xE5, 0xFE, 0x00}, 3, 1000);
    const TCanFrame epochRequest(0x18EA00F9, {0xE5, 0xFE, 0x00}, 3, 1700000000001000);
    const TCanFrame standard(0x123, {0xAA, 0xBB}, 2, 2000, false);
    const TCanFrame empty(0x7FF, {}, 0, 3000, false);
    const TCanFrame lowExtended(0x5, {0x01}, 1, 4000, true);
    // Times the columns do not foresee: before the start, and wider than the column.
    const TCanFrame early(0x18FEF100, {0x01}, 1, -500000);
    const TCanFrame late(0x1FFFFFFF, {0x01}, 1, 123456789000001);
    constexpr TLogDirection tx = TLogDirection::Sent;
    constexpr TLogDirection rx = TLogDirection::Received;
    const struct {
        TLogOutFormat format;
        const TCanFrame& frame;
        TLogDirection direction;
        const char* line;
    } cases[] = {
        {TLogOutFormat::Layout5, kEngine, tx, "000.0100 18FEF100F315000CFFFFFFFF\r\n"},
        {TLogOutFormat::Asc, kEngine, tx, "   0.010000 1  18FEF100x       Tx   d 8 F3 15 00 0C FF FF FF FF\r\n"},
        {TLogOutFormat::Asc, priority3, tx, "1000.500001 1  CFE6CEEx        Tx   d 8 00 01 02 03 04 05 06 AB\r\n"},
        {TLogOutFormat::Asc, request, rx, "   1.500000 1  18EA0021x       Rx   d 8 E5 FE 00 FF FF FF FF FF\r\n"},
        // The writer takes candump times as given: TLogOut hands it seconds since the epoch.
        {TLogOutFormat::Candump, kEngine, tx, "(0000000000.010000) can0 18FEF100#F315000CFFFFFFFF T\n"},
        {TLogOutFormat::Candump, priority3, tx, "(0000001000.500001) can0 0CFE6CEE#00010203040506AB T\n"},
        {TLogOutFormat::Candump, request, rx, "(0000000001.500000) can0 18EA0021#E5FE00FFFFFFFFFF R\n"},
        // Frames as the bus carries them: a 3-byte request, 11-bit and empty frames.
        {TLogOutFormat::Asc, shortRequest, rx, "   0.001000 1  18EA00F9x       Rx   d 3 E5 FE 00\r\n"},
        {TLogOutFormat::Asc, standard, tx, "   0.002000 1  123             Tx   d 2 AA BB\r\n"},
        {TLogOutFormat::Asc, empty, tx, "   0.003000 1  7FF             Tx   d 0\r\n"},
        {TLogOutFormat::Asc, lowExtended, tx, "   0.004000 1  5x              Tx   d 1 01\r\n"},
        {TLogOutFormat::Candump, epochRequest, rx, "(1700000000.001000) can0 18EA00F9#E5FE00 R\n"},
        {TLogOutFormat::Candump, standard, tx, "(0000000000.002000) can0 123#AABB T\n"},
        {TLogOutFormat::Candump, empty, tx, "(0000000000.003000) can0 7FF# T\n"},
        {TLogOutFormat::Candump, lowExtended, tx, "(0000000000.004000) can0 00000005#01 T\n"},
        {TLogOutFormat::Asc, early, tx, "  -0.500000 1  18FEF100x       Tx   d 1 01\r\n"},
        {TLogOutFormat::Asc, late, tx, "123456789.000001 1  1FFFFFFFx       Tx   d 1 01\r\n"},
        {TLogOutFormat::Candump, early, tx, "(-0000000000.500000) can0 18FEF100#01 T\n"},
        {TLogOutFormat::Candump, late, rx, "(0123456789.000001) can0 1FFFFFFF#01 R\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        EXPECT_EQ(LineOf(c.format, c.frame, c.direction), c.line);
    }
    EXPECT_FALSE(TLogLineWriter::HasDirection(TLogOutFormat::Layout5));
    EXPECT_TRUE(TLogLineWriter::HasDirection(TLogOutFormat::Asc));
    EXPECT_TRUE(TLogLineWriter::HasDirection(TLogOutFormat::Candump));
}

TEST(TLogLineWriter, AscHeaderComesBeforeTheFirstBlockAndABlockBeforeEachOpening)
{
    const auto asc = TLogLineWriter::Create(TLogOutFormat::Asc);
    // Monday 6 January 2025, 14:03:04.005.
    const std::tm afternoon = Local(2025, 1, 6, 1, 14, 3, 4);
    EXPECT_EQ(asc->Begin(true, afternoon, 5), "date Mon Jan 06 02:03:04.005 PM 2025\r\n"
                                              "base hex  timestamps absolute\r\n"
                                              "no internal events logged\r\n"
                                              "Begin Triggerblock Mon Jan 06 02:03:04.005 PM 2025\r\n");
    // Midnight and noon are 12 on the clock; Sunday 31 December.
    EXPECT_EQ(asc->Begin(false, Local(2023, 12, 31, 0, 0, 0, 0), 999),
              "Begin Triggerblock Sun Dec 31 12:00:00.999 AM 2023\r\n");
    EXPECT_EQ(asc->Begin(false, Local(2024, 7, 3, 3, 12, 30, 59), 0),
              "Begin Triggerblock Wed Jul 03 12:30:59.000 PM 2024\r\n");
    EXPECT_EQ(asc->End(), "End TriggerBlock\r\n");
    for (TLogOutFormat f : {TLogOutFormat::Layout5, TLogOutFormat::Candump}) {
        EXPECT_EQ(TLogLineWriter::Create(f)->Begin(true, afternoon, 5), "");
        EXPECT_EQ(TLogLineWriter::Create(f)->End(), "");
    }
}

TEST(TLogLineWriter, NamesAndExtensions)
{
    const struct {
        TLogOutFormat format;
        const char* name;
        const char* extension;
    } cases[] = {
        {TLogOutFormat::Layout5, "l5", "asc"},
        {TLogOutFormat::Asc, "asc", "asc"},
        {TLogOutFormat::Candump, "candump", "log"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(TLogLineWriter::Name(c.format), c.name);
        EXPECT_STREQ(TLogLineWriter::Extension(c.format), c.extension);
        EXPECT_EQ(TLogLineWriter::FromName(c.name), c.format);
    }
    EXPECT_EQ(TLogLineWriter::FromName("ASC"), std::nullopt);
    EXPECT_EQ(TLogLineWriter::FromName(""), std::nullopt);
}

TEST(TLogLineWriter, FileNameExtensionTellsTheFormat)
{
    const struct {
        const char* name;
        TLogOutFormat format;
    } cases[] = {
        {"fms.asc", TLogOutFormat::Asc},
        {"/tmp/run/FMS.ASC", TLogOutFormat::Asc},
        {"bus.log", TLogOutFormat::Candump},
        {"dir.asc/bus.Log", TLogOutFormat::Candump},
        {"run.l5", TLogOutFormat::Layout5},
        {"run.txt", TLogOutFormat::Layout5},
        {"run", TLogOutFormat::Layout5},
        {"dir.log/run", TLogOutFormat::Layout5},
        {".asc", TLogOutFormat::Layout5},   // a hidden file named "asc", no extension
        {"run.asc.bak", TLogOutFormat::Layout5},
        {"/dev/stdout", TLogOutFormat::Layout5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TLogLineWriter::FormatOfFileName(c.name), c.format);
    }
}

TEST(TLogLineWriter, OnlyLayoutFiveIsLimitedTo29BitFramesOfEightBytes)
{
    const struct {
        TCanFrame frame;
        bool layout5;
    } cases[] = {
        {kEngine, true},
        {TCanFrame(0x18EA00F9, {0xE5, 0xFE, 0x00}, 3), false},
        {TCanFrame(0x123, {1, 2, 3, 4, 5, 6, 7, 8}, 8, 0, false), false},
        {TCanFrame(0x18EA00F9, {}, 0), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TLogLineWriter::Holds(TLogOutFormat::Layout5, c.frame), c.layout5);
        EXPECT_TRUE(TLogLineWriter::Holds(TLogOutFormat::Asc, c.frame));
        EXPECT_TRUE(TLogLineWriter::Holds(TLogOutFormat::Candump, c.frame));
    }
}

class TLogOutFormats : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("qv_logout_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Path(const char* name) const { return (dir_ / name).string(); }
    static std::string ReadAll(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    fs::path dir_;
};

// Every format read back by the program's own reader, frame for frame; a file opened
// twice holds both runs. In ASC and candump the second and fourth frames are received
// ones ("Rx", "R"): the reader takes them as frames like the sent ones. candump times
// are the wall clock at the start plus the run time.
TEST_F(TLogOutFormats, EveryFormatReadsBackFrameForFrame)
{
    const TCanFrame frames[] = {
        kEngine,
        TCanFrame(0x18ECFF00, {0x20, 0x18, 0x00, 0x04, 0xFF, 0xEC, 0xFE, 0x00}, 8, 12300),
        TCanFrame(0x0CFE6CEE, {0, 1, 2, 3, 4, 5, 6, 0xAB}, 8, 1000500000),
        TCanFrame(0x1FFFFFFF, {9, 9, 9, 9, 9, 9, 9, 9}, 8, 1000500100),
    };
    const struct {
        TLogOutFormat format;
        TLogFileKind kind;
        uint32_t headerLines;   // skipped when read back
    } cases[] = {
        {TLogOutFormat::Layout5, lkFixed, 0},
        {TLogOutFormat::Asc, lkAsc, 4 + 1 + 1 + 1},   // header and block, second block, two ends
        {TLogOutFormat::Candump, lkCandump, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(TLogLineWriter::Name(c.format));
        const std::string path = Path(TLogLineWriter::Name(c.format));
        TLogOut out;
        out.SetFormat(c.format);
        out.SetWallClock([] { return int64_t{1700000000000000}; });
        for (int run = 0; run < 2; ++run) {
            ASSERT_TRUE(out.Open(path));
            for (int i = 0; i < 4; ++i) {
                const bool received = i % 2 == 1 && TLogLineWriter::HasDirection(c.format);
                ASSERT_TRUE(out.Append(frames[i], received ? TLogDirection::Received : TLogDirection::Sent));
            }
            out.Close();
        }
        const TCanLog log = TCanLogReader::Load(path);
        EXPECT_EQ(log.Kind, c.kind);
        EXPECT_EQ(log.SkippedLines(), c.headerLines);
        ASSERT_EQ(log.Count(), 8);
        for (int i = 0; i < 8; ++i) {
            const TCanFrame& f = frames[i % 4];
            EXPECT_EQ(log.Frames[size_t(i)].Id, f.Id);
            EXPECT_EQ(log.Frames[size_t(i)].Data, f.Data);
            EXPECT_EQ(log.Frames[size_t(i)].Time, f.Time + (c.format == TLogOutFormat::Candump ? 1700000000000000 : 0));
        }
    }
    // The second opening of an ASC file adds a block, not a second header.
    const std::string asc = ReadAll(Path("asc"));
    EXPECT_EQ(asc.find("date "), 0u);
    EXPECT_EQ(asc.find("date ", 1), std::string::npos);
    EXPECT_NE(asc.find("End TriggerBlock\r\nBegin Triggerblock "), std::string::npos);
    EXPECT_EQ(asc.substr(asc.size() - 18), "End TriggerBlock\r\n");
}

// Layout 5 has no direction: a received frame ends the file as a failed write does,
// after the whole lines written before it, and the error says why.
TEST_F(TLogOutFormats, Layout5RefusesAReceivedFrameAndKeepsItsWholeLines)
{
    const std::string path = Path("l5.asc");
    TLogOut out;
    ASSERT_TRUE(out.Open(path));
    EXPECT_FALSE(out.TakesReceived());
    ASSERT_TRUE(out.Append(kEngine));
    const TCanFrame request(0x18EA0021, {0xE5, 0xFE, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 8, 20000);
    EXPECT_FALSE(out.Append(request, TLogDirection::Received));
    EXPECT_FALSE(out.IsOpen());
    EXPECT_EQ(out.Error().Message(), "Output log write error");
    EXPECT_NE(out.Error().Detail().Find("layout 5 has no direction"), -1) << out.Error().Detail().str();
    EXPECT_NE(out.Error().Detail().Find("1 lines written"), -1) << out.Error().Detail().str();
    EXPECT_EQ(ReadAll(path), "000.0100 18FEF100F315000CFFFFFFFF\r\n");

    out.SetFormat(TLogOutFormat::Asc);
    ASSERT_TRUE(out.Open(path));
    EXPECT_TRUE(out.TakesReceived());
}

// Frames as the bus carried them come back as they were: identifier kind, length,
// data, direction (as python-can and can-utils tell it) and time, the candump time
// counting from the wall clock at the run's start.
TEST_F(TLogOutFormats, ShortAndElevenBitFramesReadBackAsWritten)
{
    const struct {
        TCanFrame frame;
        TLogDirection direction;
    } frames[] = {
        {TCanFrame(0x18EA00F9, {0xE5, 0xFE, 0x00}, 3, 1000), TLogDirection::Received},
        {TCanFrame(0x18FEE500, {0x10, 0x27, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}, 8, 1000), TLogDirection::Sent},
        {TCanFrame(0x123, {0xAA, 0xBB}, 2, 2500, false), TLogDirection::Sent},
        {TCanFrame(0x7FF, {}, 0, 3000, false), TLogDirection::Received},
        {TCanFrame(0x00000005, {0x01}, 1, 4000), TLogDirection::Sent},
    };
    const struct {
        TLogOutFormat format;
        const char* file;
        int64_t base;
        const char* text;   // the lines, without the ASC header
    } cases[] = {
        {TLogOutFormat::Asc, "short.asc", 0,
         "   0.001000 1  18EA00F9x       Rx   d 3 E5 FE 00\r\n"
         "   0.001000 1  18FEE500x       Tx   d 8 10 27 00 00 FF FF FF FF\r\n"
         "   0.002500 1  123             Tx   d 2 AA BB\r\n"
         "   0.003000 1  7FF             Rx   d 0\r\n"
         "   0.004000 1  5x              Tx   d 1 01\r\n"
         "End TriggerBlock\r\n"},
        {TLogOutFormat::Candump, "short.log", 1700000000250000,
         "(1700000000.251000) can0 18EA00F9#E5FE00 R\n"
         "(1700000000.251000) can0 18FEE500#10270000FFFFFFFF T\n"
         "(1700000000.252500) can0 123#AABB T\n"
         "(1700000000.253000) can0 7FF# R\n"
         "(1700000000.254000) can0 00000005#01 T\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = Path(c.file);
        TLogOut out;
        out.SetFormat(c.format);
        out.SetWallClock([] { return int64_t{1600000000000000}; });   // at the opening: replaced by StartRun
        ASSERT_TRUE(out.Open(path));
        out.StartRun(1700000000250000);
        for (const auto& f : frames) ASSERT_TRUE(out.Append(f.frame, f.direction));
        ASSERT_TRUE(out.Close());
        const std::string text = ReadAll(path);
        const std::size_t first = c.format == TLogOutFormat::Asc ? text.find("\r\n   ") + 2 : 0;
        EXPECT_EQ(text.substr(first), c.text);
        const TCanLog log = TCanLogReader::Load(path);
        ASSERT_EQ(log.Count(), 5);
        for (std::size_t i = 0; i < 5; ++i) {
            SCOPED_TRACE(i);
            TCanFrame expected = frames[i].frame;
            expected.Time += c.base;
            EXPECT_EQ(log.Frames[i].ToFrame(), expected);
        }
    }
}

// A candump log's times count from the wall clock at the run's start, also in a file
// opened while the run goes on; before any run, from the opening.
TEST_F(TLogOutFormats, CandumpTimesCountFromTheRunsStart)
{
    int64_t wall = 1700000000000000;
    TLogOut out;
    out.SetFormat(TLogOutFormat::Candump);
    out.SetWallClock([&] { return wall; });
    const std::string before = Path("before.log");
    ASSERT_TRUE(out.Open(before));
    ASSERT_TRUE(out.Append(kEngine));
    wall += 5000000;
    out.StartRun();   // 5 s after the opening
    ASSERT_TRUE(out.Append(kEngine));
    wall += 60000000;
    const std::string during = Path("during.log");   // a minute into the run
    ASSERT_TRUE(out.Open(during));
    ASSERT_TRUE(out.Append(kEngine));
    ASSERT_TRUE(out.Close());
    EXPECT_EQ(ReadAll(before), "(1700000000.010000) can0 18FEF100#F315000CFFFFFFFF T\n"
                               "(1700000005.010000) can0 18FEF100#F315000CFFFFFFFF T\n");
    EXPECT_EQ(ReadAll(during), "(1700000005.010000) can0 18FEF100#F315000CFFFFFFFF T\n");
}

// Layout 5 cannot hold a short or an 11-bit frame: the file ends with the whole lines
// before it, as after a failed write, and the error says why and what to use instead.
TEST_F(TLogOutFormats, Layout5RefusesFramesItCannotHold)
{
    const struct {
        TCanFrame frame;
        const char* why;
    } cases[] = {
        {TCanFrame(0x18EA00F9, {0xE5, 0xFE, 0x00}, 3, 20000),
         "the frame 18EA00F9 with 3 data bytes cannot be written: layout 5 holds only 29-bit identifiers with 8 data "
         "bytes (ASC and candump logs hold every frame); 1 lines written, the file ends with the last whole line"},
        {TCanFrame(0x123, {1, 2, 3, 4, 5, 6, 7, 8}, 8, 20000, false),
         "the frame 123 (11-bit identifier) with 8 data bytes cannot be written: layout 5 holds only 29-bit"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        const std::string path = Path("l5.txt");
        TLogOut out;
        ASSERT_TRUE(out.Open(path, TLogOut::omReplace));
        ASSERT_TRUE(out.Append(kEngine));
        EXPECT_FALSE(out.Append(c.frame));
        EXPECT_FALSE(out.IsOpen());
        EXPECT_EQ(out.Error().Operation(), "TLogOut::Write");
        EXPECT_EQ(out.Error().Message(), "Output log write error");
        EXPECT_NE(out.Error().Detail().Find(c.why), -1) << out.Error().Detail().str();
        EXPECT_EQ(ReadAll(path), "000.0100 18FEF100F315000CFFFFFFFF\r\n");
        EXPECT_FALSE(out.Append(kEngine));   // the failure stays until the next opening
    }
}

TEST_F(TLogOutFormats, FormatAppliesFromTheNextOpening)
{
    const std::string path = Path("switch.asc");
    TLogOut out;
    ASSERT_TRUE(out.Open(path));
    out.SetFormat(TLogOutFormat::Candump);
    ASSERT_TRUE(out.Append(kEngine));
    out.Close();
    EXPECT_EQ(ReadAll(path), "000.0100 18FEF100F315000CFFFFFFFF\r\n");
    EXPECT_EQ(out.Format(), TLogOutFormat::Candump);
}

}  // namespace
