#include "app/tloglinewriter.h"

#include "app/tcanlogreader.h"
#include "app/tlogout.h"

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
        {TLogOutFormat::Candump, kEngine, tx, "(0000000000.010000) can0 18FEF100#F315000CFFFFFFFF\n"},
        {TLogOutFormat::Candump, priority3, tx, "(0000001000.500001) can0 0CFE6CEE#00010203040506AB\n"},
        {TLogOutFormat::Candump, request, rx, "(0000000001.500000) can0rx 18EA0021#E5FE00FFFFFFFFFF\n"},
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
// ones ("Rx", interface can0rx): the reader takes them as frames like the sent ones.
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
            EXPECT_EQ(log.Frames[size_t(i)].Time, f.Time);
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
