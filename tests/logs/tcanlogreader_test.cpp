#include "logs/tcanlogreader.h"

#include "support/tbaseerror.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using TBytes = std::array<uint8_t, 8>;

struct TExpected {
    int64_t Time;
    uint32_t Id;
    uint32_t Line;
    TBytes Data;
};

void ExpectFrames(const TCanLog& log, const std::vector<TExpected>& expected)
{
    ASSERT_EQ(log.Frames.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_EQ(log.Frames[i].Time, expected[i].Time);
        EXPECT_EQ(log.Frames[i].Id, expected[i].Id);
        EXPECT_EQ(log.Frames[i].Line, expected[i].Line);
        EXPECT_EQ(log.Frames[i].Data, expected[i].Data);
    }
}

std::string Data(const char* name)
{
    return std::string(QV_TEST_DATA_DIR) + "/logs/" + name;
}

// The detail of the error parsing text gives; "" when it is accepted.
std::string Refusal(const std::string& text)
{
    try {
        (void)TCanLogReader::Parse(text, "in.asc");
    } catch (const TBaseError& e) {
        EXPECT_EQ(e.Operation(), "");
        EXPECT_EQ(e.Message(), "Logfile Read Error");
        return e.Detail().str();
    }
    return "";
}

class TCanLogReaderFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("qv_reader_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const char* name) const { return (dir_ / name).string(); }
    std::string Write(const char* name, const std::string& text) const
    {
        const std::string path = Path(name);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
        return path;
    }
    static std::string LoadRefusal(const std::string& path, const TCanLogReader::TControl& control = {})
    {
        try {
            (void)TCanLogReader::Load(path, control);
        } catch (const TBaseError& e) {
            EXPECT_EQ(e.Message(), "Logfile Read Error");
            return e.Detail().str();
        }
        return "";
    }

    fs::path dir_;
};

TEST(TCanLogReader, AscFileSkipsEveryKindOfLineThatIsNoFrameAndCountsIt)
{
    const TCanLog log = TCanLogReader::Load(Data("every_kind.asc"));
    EXPECT_EQ(log.Kind, lkAsc);
    ExpectFrames(log, {
                          {1000, 0x18FEF100, 7, {0xF3, 0x15, 0x00, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF}},
                          {2000, 0x123, 8, {0x01, 0x02, 0, 0, 0, 0, 0, 0}},
                          {9000, 0x18FEE900, 15, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00}},
                          {10000, 0x0CFEC1FE, 17, {1, 2, 3, 4, 5, 6, 7, 8}},
                          {11000, 0x18FEF100, 18, {0xF3, 0x16, 0x00, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF}},
                      });
    EXPECT_FALSE(log.Frames[1].Extended);
    EXPECT_EQ(log.Frames[1].Dlc, 2);
    const std::array<uint32_t, skCount> skipped{6, 1, 2, 2, 0, 0, 4};
    EXPECT_EQ(log.Skipped, skipped);
    EXPECT_EQ(log.Summary(), Data("every_kind.asc") +
                                 ": 5 frames (ASC) from 2 channels merged into one replay: 1 (4 frames), 2 (1 frame); "
                                 "15 lines skipped: 6 header and comment lines, 1 blank line, 2 remote frames, "
                                 "2 error frames, 4 event lines");
    EXPECT_FALSE(log.PlaysFromFirstFrame());
}

TEST(TCanLogReader, AscRelativeTimesAddUpOverEveryTimedLine)
{
    const TCanLog log = TCanLogReader::Load(Data("relative.asc"));
    // 0.5, then 0.25 (an event), 0.125, 0.0625 (an 11-bit frame), 0.03125 s.
    ExpectFrames(log, {
                          {500000, 0x18FEF100, 3, {0, 0, 0, 0, 0, 0, 0, 1}},
                          {875000, 0x18FEF100, 5, {0, 0, 0, 0, 0, 0, 0, 2}},
                          {937500, 0x123, 6, {0, 0, 0, 0, 0, 0, 0, 0}},
                          {968750, 0x18FEF100, 7, {0, 0, 0, 0, 0, 0, 0, 3}},
                      });
    EXPECT_EQ(log.Summary(), Data("relative.asc") +
                                 ": 4 frames (ASC) on channel 1; 3 lines skipped: 2 header and comment lines, "
                                 "1 event line");
}

TEST(TCanLogReader, AscBaseDecReadsIdentifierAndDataInDecimal)
{
    const TCanLog log = TCanLogReader::Load(Data("decimal.asc"));
    ExpectFrames(log, {{10000, 0x18FEF100, 2, {0xF3, 0x15, 0x00, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF}}});
}

TEST(TCanLogReader, CandumpLogTakesFramesWithOrWithoutDirection)
{
    const TCanLog log = TCanLogReader::Load(Data("bus.log"));
    EXPECT_EQ(log.Kind, lkCandump);
    EXPECT_TRUE(log.PlaysFromFirstFrame());
    ExpectFrames(log, {
                          {1700000000123456, 0x18FEF100, 1, {0xF3, 0x15, 0x00, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF}},
                          {1700000000133456, 0x18F00300, 2, {0xFF, 0xFA, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
                          {1700000000143456, 0x123, 3, {0x01, 0x02, 0, 0, 0, 0, 0, 0}},
                          {1700000000173456, 0x18FEE900, 7, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00}},
                          {1700000000183456, 0x0CFEC1FE, 8, {1, 2, 3, 4, 5, 6, 7, 8}},
                      });
    EXPECT_EQ(log.Summary(), Data("bus.log") +
                                 ": 5 frames (candump) from 2 interfaces merged into one replay: can0 (4 frames), "
                                 "vcan1 (1 frame); 3 lines skipped: 1 blank line, 1 remote frame, 1 error frame");
}

TEST(TCanLogReader, KindIsFoundFromTheFirstLineThatTellsIt)
{
    const struct {
        const char* name;
        std::string text;
        TLogFileKind kind;
        int frames;
    } cases[] = {
        {"layout 5", "000.0000 18FEF100F315000CFFFFFFFF\n", lkFixed, 1},
        {"layout 4 after blank-free start", "000.0000 00FEF1F315000CFFFFFFFF\r\n", lkFixed, 1},
        {"empty file", "", lkFixed, 0},
        {"candump after blank lines", "\n\r\n(1.5) can0 18FEF100#F315000CFFFFFFFF\n", lkCandump, 1},
        {"ASC without header: an event first", "   0.000000 Start of measurement\n"
                                               "   0.001000 1  18FEF100x  Rx  d 8 F3 15 00 0C FF FF FF FF\n",
         lkAsc, 1},
        {"ASC comment first", "// a comment\n", lkAsc, 0},
        {"lfAscD alone", "  0.0100 1 18FEF100x Rx D F3 15 00 0C FF FF FF FF\n", lkAsc, 1},
        {"byte order mark", "\xEF\xBB\xBF" "date Mon Jan 06 02:03:04.005 PM 2025\n"
                            "0.010000 1 18FEF100x Tx d 8 F3 15 00 0C FF FF FF FF\n",
         lkAsc, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TCanLog log = TCanLogReader::Parse(c.text);
        EXPECT_EQ(log.Kind, c.kind);
        EXPECT_EQ(log.Count(), c.frames);
    }
}

// Every refused line: its number, the line itself and what was wrong or expected.
TEST(TCanLogReader, FirstLineThatCannotBeReadRefusesTheLogWithWhereAndWhy)
{
    const std::string good5 = "000.0000 18FEF100F315000CFFFFFFFF\n";
    const std::string asc = "base hex  timestamps absolute\n";
    const std::string dump = "(1.0) can0 18FEF100#F315000CFFFFFFFF\n";
    const struct {
        std::string text;
        std::string detail;
    } cases[] = {
        // Layouts 4 and 5.
        {good5 + "hello\n", "in.asc line 2: 'hello' is not a log line (expected e.g. '000.0000 18FEF100F315000CFFFFFFFF'"},
        {good5 + "\n", "in.asc line 2: '' is not a log line"},
        {"0000000a 18FEF100F315000CFFFFFFFF\n", "in.asc line 1: '0000000a 18FEF100F315000CFFFFFFFF': time '0000000a' is "
                                                "not a decimal number of seconds"},
        {"000.0000 18FEF1ZZF315000CFFFFFFFF\n", "in.asc line 1: '000.0000 18FEF1ZZF315000CFFFFFFFF': identifier "
                                                "'18FEF1ZZ' is not hexadecimal"},
        {"000.0000 18FEF100F315000CFFFFFFFG\n", "in.asc line 1: '000.0000 18FEF100F315000CFFFFFFFG': data "
                                                "'F315000CFFFFFFFG' is not hexadecimal"},
        {good5 + "000.0000 E8FEE900F315000CFFFFFFFF\n", "in.asc line 2: '000.0000 E8FEE900F315000CFFFFFFFF': "
                                                        "identifier 'E8FEE900' is wider than 29 bits"},
        {"000.0000 0GFEF1F315000CFFFFFFFF\n", "in.asc line 1: '000.0000 0GFEF1F315000CFFFFFFFF': source address and "
                                              "group '0GFEF1' are not hexadecimal"},
        {"000.0000x18FEF100F315000CFFFFFFFF\n", "in.asc line 1: '000.0000x18FEF100F315000CFFFFFFFF' is not a log line"},
        {good5 + std::string("000.0010 18FE\0F100F315000CFFFFFFF\n", 34),
         "in.asc line 2: '000.0010 18FE?F100F315000CFFFFFFF' holds a NUL byte at character 14 (a text log has none)"},
        {good5 + std::string(5000, '0') + "\n",
         "in.asc line 2: '" + std::string(60, '0') + "...' is longer than 4096 characters"},
        // ASC.
        {asc + "0.010000 1 18FEF100x Rx d 8 F3 15 00\n",
         "in.asc line 2: '0.010000 1 18FEF100x Rx d 8 F3 15 00': expected 8 data bytes, found 3"},
        {asc + "0.010000 1 18FEF100x Rx d 9 F3 15 00 0C FF FF FF FF 00\n",
         "in.asc line 2: '0.010000 1 18FEF100x Rx d 9 F3 15 00 0C FF FF FF FF 00': data length 9: a classic CAN frame "
         "has 0 to 8 data bytes"},
        {asc + "0.010000 1 18FEF100x Rx d 3 F3 15\n",
         "in.asc line 2: '0.010000 1 18FEF100x Rx d 3 F3 15': expected 3 data bytes, found 2"},
        {asc + "0.010000 1 800 Rx d 1 01\n", "in.asc line 2: '0.010000 1 800 Rx d 1 01': identifier '800' is wider "
                                               "than 11 bits"},
        {asc + "0.010000 1 3FEF1000x Rx d 8 F3 15 00 0C FF FF FF FF\n",
         "in.asc line 2: '0.010000 1 3FEF1000x Rx d 8 F3 15 00 0C FF FF FF FF': identifier '3FEF1000x' is wider than 29 "
         "bits"},
        {asc + "0.010000 1 18FEF100x Rx d 8 F3 15 ZZ 0C FF FF FF FF\n",
         "in.asc line 2: '0.010000 1 18FEF100x Rx d 8 F3 15 ZZ 0C FF FF FF FF': data byte 3 'ZZ' is not a byte in "
         "hexadecimal"},
        {asc + "0.010000 1 18FEF100x d 8 F3 15 00 0C FF FF FF FF\n",
         "in.asc line 2: '0.010000 1 18FEF100x d 8 F3 15 00 0C FF FF FF FF': expected Rx or Tx after the identifier "
         "'18FEF100x'"},
        {asc + "0.010000 A 18FEF100x Rx d 8 F3 15 00 0C FF FF FF FF\n",
         "in.asc line 2: '0.010000 A 18FEF100x Rx d 8 F3 15 00 0C FF FF FF FF': channel 'A' is not a number"},
        {asc + "0.010000 1 18FEF100x Rx e 8 F3 15 00 0C FF FF FF FF\n",
         "in.asc line 2: '0.010000 1 18FEF100x Rx e 8 F3 15 00 0C FF FF FF FF': expected 'd', the data length and the "
         "data bytes after the direction"},
        {asc + "0.010000 CANFD A Rx 18FEF100x 0 0 8 8 F3 15 00 0C FF FF FF FF 0 0 0\n",
         "in.asc line 2: '0.010000 CANFD A Rx 18FEF100x 0 0 8 8 F3 15 00 0C FF FF FF F...': channel 'A' is not a number"},
        {asc + "0.010000 CANFD 1 Rx 18FEF100x 0 0 3 3 F3 15 ZZ 0 0 0\n",
         "in.asc line 2: '0.010000 CANFD 1 Rx 18FEF100x 0 0 3 3 F3 15 ZZ 0 0 0': data byte 3 'ZZ' is not a byte"},
        {asc + "0.010000 CANFD 1 Rx 18FEF100x 0 0 x y\n",
         "in.asc line 2: '0.010000 CANFD 1 Rx 18FEF100x 0 0 x y': expected the bit rate switch, error state, DLC and "
         "data length after the identifier of a CANFD line"},
        {asc + "Begin Triggerblock\nhello\n", "in.asc line 3: 'hello' is not a line of an ASC file (expected a frame"},
        {"base oct\n", "in.asc line 1: 'base oct': expected 'base hex' or 'base dec'"},
        {"base hex timestamps sometimes\n",
         "in.asc line 1: 'base hex timestamps sometimes': expected 'timestamps absolute' or 'timestamps relative'"},
        {asc + std::string("// a \0 in a comment\n", 20),
         "in.asc line 2: '// a ? in a comment' holds a NUL byte at character 6"},
        // candump.
        {dump + "(1700001700000000000.163456) can0 18FEF100#F315000CFFFFFFFF\n",
         "in.asc line 2: '(1700001700000000000.163456) can0 18FEF100#F315000CFFFFFFFF': time "
         "'(1700001700000000000.163456)' is out of range"},
        {dump + "(1.5) can0 18FEF100#F31\n",
         "in.asc line 2: '(1.5) can0 18FEF100#F31': data 'F31' is not 0 to 8 bytes in hexadecimal digits"},
        {dump + "(1.5) can0 18FEF100#F315000CFFFFFFFF00\n",
         "in.asc line 2: '(1.5) can0 18FEF100#F315000CFFFFFFFF00': data 'F315000CFFFFFFFF00' is not 0 to 8 bytes"},
        {dump + "(1.5) can0 18FEF100#F315000CFFFFFFFZ\n",
         "in.asc line 2: '(1.5) can0 18FEF100#F315000CFFFFFFFZ': data 'F315000CFFFFFFFZ' is not 0 to 8 bytes in "
         "hexadecimal"},
        {dump + "(1.5) can0 18FEF1#F315000CFFFFFFFF\n",
         "in.asc line 2: '(1.5) can0 18FEF1#F315000CFFFFFFFF': identifier '18FEF1' is not 3 (11-bit) or 8 (29-bit)"},
        {dump + "(1.5) can0 800#01\n", "in.asc line 2: '(1.5) can0 800#01': identifier '800' is wider than 11 bits"},
        {dump + "(1.5) can0 48FEF100#F315000CFFFFFFFF\n",
         "in.asc line 2: '(1.5) can0 48FEF100#F315000CFFFFFFFF': identifier '48FEF100' is wider than 29 bits"},
        {dump + "(1.5) can0 18FEF100#F315000CFFFFFFFF X\n",
         "in.asc line 2: '(1.5) can0 18FEF100#F315000CFFFFFFFF X' is not a line of a candump log"},
        {dump + "(1.5x) can0 18FEF100#F315000CFFFFFFFF\n",
         "in.asc line 2: '(1.5x) can0 18FEF100#F315000CFFFFFFFF': time '(1.5x)' is not a decimal number of seconds"},
        {dump + "1.5 can0 18FEF100#F315000CFFFFFFFF\n",
         "in.asc line 2: '1.5 can0 18FEF100#F315000CFFFFFFFF' is not a line of a candump log"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 80));
        const std::string detail = Refusal(c.text);
        EXPECT_EQ(detail.rfind(c.detail, 0), 0u) << detail;
    }
    // The widest identifier of each kind is still read.
    EXPECT_EQ(Refusal("000.0000 1FFFFFFFF315000CFFFFFFFF\n"), "");
    EXPECT_EQ(Refusal("0.0 1 1FFFFFFFx Rx d 8 F3 15 00 0C FF FF FF FF\n"), "");
    EXPECT_EQ(Refusal("(0.0) can0 1FFFFFFF#F315000CFFFFFFFF\n"), "");
    // A line of MaxLineLength characters is read, one more is refused.
    std::string longest = "0.0 1 1FFFFFFFx Rx d 8 F3 15 00 0C FF FF FF FF Length=";
    longest += std::string(4096 - longest.size(), '1');
    EXPECT_EQ(Refusal(longest + "\r\n"), "");
    EXPECT_NE(Refusal(longest + "1\r\n").find("line 1: '0.0 1 1FFFFFFFx"), std::string::npos);
}

// Lines written in other hands than the usual tools' read as the same frame.
TEST(TCanLogReader, EveryWayOfWritingAFrameGivesTheSameFrame)
{
    const TExpected engine{10000, 0x18FEF100, 1, {0xF3, 0x15, 0x00, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF}};
    const char* const lines[] = {
        "0.010000 1  18FEF100x       Rx   d 8 F3 15 00 0C FF FF FF FF",
        "0.01 1 18fef100X rx d 8 f3 15 00 0c ff ff ff ff",
        "\t0.0100\t2\t18FEF100x\tTX\tD\t8\tF3\t15\t0\tC\tFF\tFF\tFF\tFF",
        "  0.0100 1 18FEF100x Rx D F3 15 00 0C FF FF FF FF",
        "0.010000 1 18FEF100x Tx d 08 F3 15 00 0C FF FF FF FF Length = 272000 BitCount = 140",
        "(0.010000) can0 18FEF100#F315000CFFFFFFFF",
        "(.01) vcan12 18fef100#f315000cffffffff t",
        "(0000000000.0100009) x 18FEF100#F315000CFFFFFFFF   R",
        "000.0100 18FEF100F315000CFFFFFFFF",
        "  0.0100 00FEF1F315000CFFFFFFFF",
    };
    for (const char* line : lines) {
        SCOPED_TRACE(line);
        ExpectFrames(TCanLogReader::Parse(std::string(line) + "\r\n"), {engine});
    }
}

TEST(TCanLogReader, TimesAreExactToTheMicrosecond)
{
    const TCanLog log = TCanLogReader::Parse("000.0012 18FEF100F315000CFFFFFFFF\n"
                                             "9999999.9999 18FEF100F315000CFFFFFFFF\n"
                                             "-00.0010 18FEF100F315000CFFFFFFFF\n");
    ASSERT_EQ(log.Count(), 3);
    EXPECT_EQ(log.Frames[0].Time, 1200);
    EXPECT_EQ(log.Frames[1].Time, 9999999999900);
    EXPECT_EQ(log.Frames[2].Time, -1000);
    const TCanLog dump = TCanLogReader::Parse("(1700000000.1234567) can0 18FEF100#F315000CFFFFFFFF\n");
    ASSERT_EQ(dump.Count(), 1);
    EXPECT_EQ(dump.Frames[0].Time, 1700000000123456);   // the seventh decimal is cut
    EXPECT_NE(Refusal("(99999999999999.0) can0 18FEF100#F315000CFFFFFFFF\n").find("is out of range"), std::string::npos);
}

// Lines of a file larger than one part of the reading: none lost, doubled or numbered
// wrongly where a part ends, and a fault after the first part still named by its line.
TEST_F(TCanLogReaderFiles, LargeFileKeepsEveryLineAcrossTheReadingParts)
{
    constexpr int kLines = 40000;   // 35 bytes each: 1.4 MB
    std::string text;
    char line[64];
    for (int k = 0; k < kLines; ++k) {
        std::snprintf(line, sizeof line, "%08.4f 18FEF1%02X%016X\r\n", k / 1000.0, k % 256, k);
        text += line;
    }
    std::vector<std::pair<uint64_t, uint64_t>> progress;
    TCanLogReader::TControl control;
    control.Progress = [&](uint64_t done, uint64_t size) { progress.emplace_back(done, size); };
    const TCanLog log = TCanLogReader::Load(Write("big.asc", text), control);
    ASSERT_EQ(log.Count(), kLines);
    for (int k = 0; k < kLines; ++k) {
        const TLogFrame& f = log.Frames[static_cast<size_t>(k)];
        ASSERT_EQ(f.Line, static_cast<uint32_t>(k + 1));
        ASSERT_EQ(f.Time, k * 1000);
        ASSERT_EQ(f.Id, 0x18FEF100u + static_cast<uint32_t>(k % 256));
        ASSERT_EQ(f.Data[6], static_cast<uint8_t>(k >> 8));
        ASSERT_EQ(f.Data[7], static_cast<uint8_t>(k));
    }
    // Two parts, the last one ending at the file's size.
    ASSERT_EQ(progress.size(), 2u);
    EXPECT_EQ(progress.back(), std::make_pair(uint64_t{kLines * 35}, uint64_t{kLines * 35}));

    std::string bad = text;
    bad.replace(35 * 39999 + 9, 1, "Z");   // line 40000, far past the first part
    EXPECT_EQ(LoadRefusal(Write("bad.asc", bad)).rfind(Path("bad.asc") + " line 40000: ", 0), 0u);
    std::string nul = text;
    nul[35 * 35000] = '\0';
    EXPECT_NE(LoadRefusal(Write("nul.asc", nul)).find(" line 35001: '?35.0000 18FEF1"), std::string::npos);
    std::string longLine = text;
    longLine.insert(35 * 29999, std::string(6000, '1'));   // across the end of the first part
    EXPECT_EQ(LoadRefusal(Write("long.asc", longLine)).find(Path("long.asc") + " line 30000: '1111"), 0u);
    // Two megabytes without a line end: refused at the first part.
    EXPECT_EQ(LoadRefusal(Write("oneline.asc", std::string(2000000, '1'))),
              Path("oneline.asc") + " line 1: '" + std::string(60, '1') + "...' is longer than 4096 characters");
}

TEST_F(TCanLogReaderFiles, WhatIsNoRegularFileIsRefusedAtOnceWithItsName)
{
    const std::string fifo = Path("fifo.asc");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        std::string path;
        const char* why;
    } cases[] = {
        {dir_.string(), ": is a directory, not a log file"},
        {fifo, ": is a FIFO (named pipe), not a log file"},   // no writer: opening it would wait
        {"/dev/zero", ": is a device, not a log file"},       // reading it would never end
        {Path("missing.asc"), ": cannot open the file: No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(LoadRefusal(c.path), c.path + c.why);
    }
    // A 2 GB file of nothing but zero bytes ends at its first line.
    const std::string sparse = Path("sparse.asc");
    ASSERT_EQ(::truncate(Write("sparse.asc", "").c_str(), off_t{2} << 30), 0);
    EXPECT_EQ(LoadRefusal(sparse), sparse + " line 1: '" + std::string(60, '?') +
                                       "...' holds a NUL byte at character 1 (a text log has none)");
}

TEST_F(TCanLogReaderFiles, CancelEndsTheLoadWithoutALog)
{
    const std::string path = Write("log.asc", "000.0000 18FEF100F315000CFFFFFFFF\n");
    std::atomic<int> cancel{1};
    TCanLogReader::TControl control;
    control.Cancel = &cancel;
    EXPECT_EQ(LoadRefusal(path, control), path + ": loading stopped before the end of the file");
    cancel = false;
    EXPECT_EQ(LoadRefusal(path, control), "");
}

TEST(TCanLog, SummaryCountsInWords)
{
    TCanLog log;
    EXPECT_EQ(log.Summary(), "the log: 0 frames (layout 4/5)");
    log.FileName = "a.log";
    log.Kind = lkCandump;
    log.Frames.resize(1);
    log.Skipped[skRemote] = 1;
    EXPECT_EQ(log.Summary(), "a.log: 1 frame (candump); 1 line skipped: 1 remote frame");
}


// A frame as the bus carries it: identifier and its kind, length, data, and the
// channel it came from (an index into the log's channel list).
struct TBusFrame {
    int64_t Time;
    uint32_t Id;
    bool Extended;
    uint8_t Dlc;
    TBytes Data;
    uint32_t Line;
    uint8_t Channel;
};

void ExpectBusFrames(const TCanLog& log, const std::vector<TBusFrame>& expected)
{
    ASSERT_EQ(log.Frames.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        const TLogFrame& f = log.Frames[i];
        EXPECT_EQ(f.Time, expected[i].Time);
        EXPECT_EQ(f.Id, expected[i].Id);
        EXPECT_EQ(f.Extended, expected[i].Extended);
        EXPECT_EQ(f.Dlc, expected[i].Dlc);
        EXPECT_EQ(f.Data, expected[i].Data);
        EXPECT_EQ(f.Line, expected[i].Line);
        EXPECT_EQ(f.Channel, expected[i].Channel);
        EXPECT_EQ(f.ToFrame(), TCanFrame(expected[i].Id, expected[i].Data, expected[i].Dlc, expected[i].Time,
                                         expected[i].Extended));
    }
}

std::vector<std::pair<std::string, uint32_t>> ChannelList(const TCanLog& log)
{
    std::vector<std::pair<std::string, uint32_t>> list;
    for (const TLogChannel& c : log.Channels) list.emplace_back(c.Name.str(), c.Frames);
    return list;
}

const TBytes kEngine{0xF3, 0x15, 0x00, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF};

// Recordings as loggers write them: a J1939 request of 3 bytes, 11-bit frames, empty
// frames, classic frames written as CANFD lines, several channels or interfaces;
// and what no classic bus carries (CAN FD, remote frames) or what is no frame (TxRq,
// a 5,000-character transport note) passed over and counted.
TEST(TCanLogReader, RecordingsKeepEveryClassicFrameWithItsLengthKindAndChannel)
{
    const struct {
        const char* file;
        std::vector<TBusFrame> frames;
        std::vector<std::pair<std::string, uint32_t>> channels;
        std::array<uint32_t, skCount> skipped;   // header, blank, remote, error, FD, TxRq, event
        std::string summary;
    } cases[] = {
        {"j1939_mixed.asc",
         {
             {1000, 0x18EA00F9, true, 3, {0xE5, 0xFE, 0x00, 0, 0, 0, 0, 0}, 6, 0},
             {2000, 0x123, false, 2, {0xAA, 0xBB, 0, 0, 0, 0, 0, 0}, 8, 0},
             {3000, 0x18FEF100, true, 8, kEngine, 9, 0},
             {3500, 0x18FEF101, true, 3, {0x01, 0x02, 0x03, 0, 0, 0, 0, 0}, 10, 0},
             {6000, 0x18EAFF00, true, 0, {}, 14, 0},
             {7000, 0x18FEF100, true, 8, kEngine, 15, 0},
         },
         {{"1", 6}},
         {5, 0, 1, 0, 1, 1, 2},
         ": 6 frames (ASC) on channel 1; 10 lines skipped: 5 header and comment lines, 1 remote frame, 1 CAN FD frame, "
         "1 transmit request (TxRq) line, 2 event lines"},
        // Channels in the order of their numbers, whatever order they first appear in.
        {"four_channels.asc",
         {
             {10000, 0x0CF00400, true, 8, {3, 0, 0, 0, 0, 0, 0, 0}, 5, 2},
             {10100, 0x18FEF100, true, 8, {1, 0, 0, 0, 0, 0, 0, 0}, 6, 0},
             {10050, 0x18FEF100, true, 8, {2, 0, 0, 0, 0, 0, 0, 0}, 7, 1},
             {10300, 0x123, false, 1, {4, 0, 0, 0, 0, 0, 0, 0}, 8, 3},
             {20000, 0x18FEF100, true, 8, {2, 1, 0, 0, 0, 0, 0, 0}, 9, 1},
             {20000, 0x18EA0021, true, 3, {0xE5, 0xFE, 0x00, 0, 0, 0, 0, 0}, 10, 3},
             {20100, 0x18FEF100, true, 8, {1, 1, 0, 0, 0, 0, 0, 0}, 11, 0},
             {30000, 0x0CF00400, true, 8, {3, 1, 0, 0, 0, 0, 0, 0}, 12, 2},
             {30000, 0x18FEF100, true, 8, {2, 2, 0, 0, 0, 0, 0, 0}, 13, 1},
         },
         {{"1", 2}, {"2", 3}, {"3", 2}, {"4", 2}},
         {5, 0, 0, 0, 0, 0, 0},
         ": 9 frames (ASC) from 4 channels merged into one replay: 1 (2 frames), 2 (3 frames), 3 (2 frames), "
         "4 (2 frames); 5 lines skipped: 5 header and comment lines"},
        {"two_interfaces.log",
         {
             {1700000000100000, 0x18FEF100, true, 8, kEngine, 1, 1},
             {1700000000100000, 0x18FEF100, true, 8, kEngine, 2, 0},
             {1700000000150000, 0x18EA00F9, true, 3, {0xE5, 0xFE, 0x00, 0, 0, 0, 0, 0}, 3, 0},
             {1700000000149700, 0x123, false, 2, {0xAA, 0xBB, 0, 0, 0, 0, 0, 0}, 4, 1},
             {1700000000200000, 0x18EAFF00, true, 0, {}, 5, 1},
             {1700000000250000, 0x7FF, false, 8, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}, 6, 0},
         },
         {{"can0", 3}, {"can1", 3}},
         {0, 0, 0, 0, 1, 0, 0},
         ": 6 frames (candump) from 2 interfaces merged into one replay: can0 (3 frames), can1 (3 frames); "
         "1 line skipped: 1 CAN FD frame"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const TCanLog log = TCanLogReader::Load(Data(c.file));
        ExpectBusFrames(log, c.frames);
        EXPECT_EQ(ChannelList(log), c.channels);
        EXPECT_EQ(log.Skipped, c.skipped);
        EXPECT_EQ(log.Summary(), Data(c.file) + c.summary);
        EXPECT_EQ(log.CutLine, 0u);
    }
}

// One line each: what it gives, in every way the formats write short, empty and
// 11-bit frames.
TEST(TCanLogReader, ShortAndElevenBitFramesReadAsWritten)
{
    const std::string asc = "base hex  timestamps absolute\n";
    const std::string dec = "base dec  timestamps absolute\n";
    const struct {
        std::string text;
        uint32_t id;
        bool extended;
        uint8_t dlc;
        TBytes data;
    } cases[] = {
        {asc + "0.001 1 18EA00F9x Rx d 3 E5 FE 00", 0x18EA00F9, true, 3, {0xE5, 0xFE, 0x00}},
        {asc + "0.001 1 18EA00F9x Rx d 3 E5 FE 00 Length = 116000 BitCount = 60", 0x18EA00F9, true, 3, {0xE5, 0xFE, 0x00}},
        {asc + "0.001 1 18EA00F9x Tx d 03 E5 FE 00", 0x18EA00F9, true, 3, {0xE5, 0xFE, 0x00}},
        {asc + "0.001 1 7FF Rx d 0", 0x7FF, false, 0, {}},
        {asc + "0.001 1 0 Rx d 1 01", 0x0, false, 1, {0x01}},
        {asc + "0.001 1 1x Rx d 1 01", 0x1, true, 1, {0x01}},
        {asc + "0.001 12 123 Tx d 7 1 2 3 4 5 6 7", 0x123, false, 7, {1, 2, 3, 4, 5, 6, 7}},
        {dec + "0.001 1 291 Rx d 2 170 187", 0x123, false, 2, {0xAA, 0xBB}},
        {asc + "0.001 CANFD 1 Tx 18EA00F9x 0 0 3 3 E5 FE 00 130000 130 0 0 0 0 0 0", 0x18EA00F9, true, 3, {0xE5, 0xFE, 0x00}},
        {asc + "0.001 CANFD 2 Rx 123 Name 0 0 2 2 AA BB 0 0 2000000 0 0 0 0 0", 0x123, false, 2, {0xAA, 0xBB}},
        {asc + "0.001 CANFD 1 Rx 7FF 0 0 0 0 0 0 0", 0x7FF, false, 0, {}},
        {"(0.001) can0 18EA00F9#E5FE00", 0x18EA00F9, true, 3, {0xE5, 0xFE, 0x00}},
        {"(0.001) can0 18EA00F9#E5FE00 T", 0x18EA00F9, true, 3, {0xE5, 0xFE, 0x00}},
        {"(0.001) can0 123#AABB", 0x123, false, 2, {0xAA, 0xBB}},
        {"(0.001) can0 123#aabb r", 0x123, false, 2, {0xAA, 0xBB}},
        {"(0.001) can0 000#", 0x0, false, 0, {}},
        {"(0.001) can0 00000000#", 0x0, true, 0, {}},
        {"(0.001) can0 7FF#0102030405060708_F", 0x7FF, false, 8, {1, 2, 3, 4, 5, 6, 7, 8}},
        {" (0.001)  can0  123#AABB   R ", 0x123, false, 2, {0xAA, 0xBB}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const TCanLog log = TCanLogReader::Parse(c.text + "\r\n");
        ASSERT_EQ(log.Count(), 1);
        ExpectBusFrames(log, {{1000, c.id, c.extended, c.dlc, c.data, c.text[0] == 'b' ? 2u : 1u, 0}});
    }
}

// Lines valid in their format that hold no classic frame: passed over, each counted
// by its reason, never a reason to refuse the log.
TEST(TCanLogReader, LinesThatAreNoClassicFrameAreCountedByReason)
{
    const std::string asc = "base hex  timestamps absolute\n";
    std::string note = "0.002 J1939TP FEECp 6 0 0 - Rx d 1600";
    while (note.size() < 5000) note += " 55";
    const struct {
        std::string line;
        TLogSkip reason;
    } cases[] = {
        {asc + "0.002 1 18EA00F9x TxRq d 3 E5 FE 00", skRequest},
        {asc + "0.002 CANFD 1 TxRq 18EA00F9x 0 0 3 3 E5 FE 00 0 0 0 0 0 0 0 0", skRequest},
        {asc + "0.002 CANFD 1 Rx 18FEF100x 1 0 8 8 F3 15 00 0C FF FF FF FF 0 0 3000 0 0 0 0 0", skFd},
        {asc + "0.002 CANFD 1 Rx 18FEF100x 0 0 8 8 F3 15 00 0C FF FF FF FF 0 0 1000 0 0 0 0 0", skFd},
        {asc + "0.002 CANFD 1 Rx 18FEF100x 0 1 8 8 F3 15 00 0C FF FF FF FF 0 0 0 0 0 0 0 0", skFd},
        {asc + "0.002 CANFD 1 Rx 18FEF100x 0 0 9 12 00 01 02 03 04 05 06 07 08 09 0A 0B 0 0 1000 0 0 0 0 0", skFd},
        {asc + "0.002 CANFD 1 Rx 18FEF100x 0 0 8 8 F3 15 00 0C FF FF FF FF", skFd},   // no flags: an FD logger's line
        {asc + "0.002 CANFD 1 Rx 7FF 0 0 0 0 0 0 10 0 0 0 0 0", skRemote},
        {asc + "0.002 CANFD 1 Rx ErrorFrame", skError},
        {asc + "0.002 1 123 Rx r", skRemote},
        {asc + note, skEvent},
        {asc + "// " + std::string(6000, 'c'), skHeader},
        {"(0.002) can0 18FEF100##1F315000CFFFFFFFF", skFd},
        {"(0.002) can0 123##0", skFd},
        {"(0.002) can0 123#R", skRemote},
        {"(0.002) can0 18FEF100#R8 T", skRemote},
        {"(0.002) can0 20000080#0000000000000000", skError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line.substr(0, 100));
        // Between two frames, which both stay.
        const bool isAsc = c.line[0] == 'b';
        const std::string before = isAsc ? "0.001 1 18FEF100x Rx d 8 F3 15 00 0C FF FF FF FF\n"
                                         : "(0.001) can0 18FEF100#F315000CFFFFFFFF\n";
        const std::string after = isAsc ? "0.003 1 18FEF100x Rx d 8 F3 15 00 0C FF FF FF FF\n"
                                         : "(0.003) can0 18FEF100#F315000CFFFFFFFF\n";
        const std::string head = isAsc ? asc : "";
        const std::string body = isAsc ? c.line.substr(asc.size()) : c.line;
        const TCanLog log = TCanLogReader::Parse(head + before + body + "\r\n" + after);
        ASSERT_EQ(log.Count(), 2);
        EXPECT_EQ(log.Frames[1].Line, isAsc ? 4u : 3u);
        // The ASC file's "base" line is a header line too.
        EXPECT_EQ(log.Skipped[c.reason], isAsc && c.reason == skHeader ? 2u : 1u);
        EXPECT_EQ(log.SkippedLines(), isAsc ? 2u : 1u);
    }
}

// Only the channels named are replayed; the list names them all, with what was left out.
TEST(TCanLog, SelectChannelsKeepsTheNamedChannelsInFileOrder)
{
    const TCanLog four = TCanLogReader::Load(Data("four_channels.asc"));
    const TCanLog two = TCanLogReader::Load(Data("two_interfaces.log"));
    const struct {
        const TCanLog* log;
        std::vector<TAString> names;
        std::vector<uint32_t> lines;
        std::string summary;
    } cases[] = {
        {&four, {"2", "4"}, {7, 8, 9, 10, 13},
         "four_channels.asc: 5 frames (ASC) from 2 of 4 channels merged into one replay: 1 (2 frames, not replayed), "
         "2 (3 frames), 3 (2 frames, not replayed), 4 (2 frames); 5 lines skipped: 5 header and comment lines"},
        {&four, {"3"}, {5, 12},
         "four_channels.asc: 2 frames (ASC) from channel 3 of 4: 1 (2 frames, not replayed), 2 (3 frames, not "
         "replayed), 3 (2 frames), 4 (2 frames, not replayed); 5 lines skipped: 5 header and comment lines"},
        {&four, {"4", "3", "2", "1", "1"}, {5, 6, 7, 8, 9, 10, 11, 12, 13},
         "four_channels.asc: 9 frames (ASC) from 4 channels merged into one replay: 1 (2 frames), 2 (3 frames), "
         "3 (2 frames), 4 (2 frames); 5 lines skipped: 5 header and comment lines"},
        {&two, {"can1"}, {1, 4, 5},
         "two_interfaces.log: 3 frames (candump) from interface can1 of 2: can0 (3 frames, not replayed), "
         "can1 (3 frames); 1 line skipped: 1 CAN FD frame"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.summary.substr(0, 40));
        const TCanLog selected = c.log->SelectChannels(c.names);
        std::vector<uint32_t> lines;
        for (const TLogFrame& f : selected.Frames) lines.push_back(f.Line);
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(selected.Summary(), Data("") + c.summary);
    }
    const struct {
        const TCanLog* log;
        TAString name;
        std::string detail;
    } refusals[] = {
        {&four, "5", Data("four_channels.asc") + ": no channel '5' (the log holds 1, 2, 3, 4)"},
        {&four, "01", Data("four_channels.asc") + ": no channel '01' (the log holds 1, 2, 3, 4)"},
        {&two, "can2", Data("two_interfaces.log") + ": no interface 'can2' (the log holds can0, can1)"},
    };
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.detail);
        try {
            (void)r.log->SelectChannels({r.name});
            ADD_FAILURE() << "accepted";
        } catch (const TBaseError& e) {
            EXPECT_EQ(e.Operation(), "TCanLog::SelectChannels");
            EXPECT_EQ(e.Message(), "Unknown channel");
            EXPECT_EQ(e.Detail(), r.detail);
        }
    }
    // Layouts 4 and 5 have no channels.
    try {
        (void)TCanLogReader::Parse("000.0000 18FEF100F315000CFFFFFFFF\n", "run.l5").SelectChannels({"1"});
        ADD_FAILURE() << "accepted";
    } catch (const TBaseError& e) {
        EXPECT_EQ(e.Detail(), "run.l5: no channel '1' (a layout 4/5 log has no channels)");
    }
}

TEST(TCanLog, FirstFrameLayoutFiveCannotHoldIsNamedWithItsLine)
{
    const TCanLog four = TCanLogReader::Load(Data("four_channels.asc"));
    ASSERT_EQ(four.FirstFrameNotInLayout5(), std::optional<std::size_t>(3));
    EXPECT_EQ(TCanLog::Describe(four.Frames[3]), "frame 0x123 (11-bit identifier) with 1 data byte at line 8");
    EXPECT_EQ(TCanLog::Describe(four.Frames[5]), "frame 0x18EA0021 with 3 data bytes at line 10");
    EXPECT_EQ(four.SelectChannels({"4"}).FirstFrameNotInLayout5(), std::optional<std::size_t>(0));
    EXPECT_EQ(four.SelectChannels({"1", "2", "3"}).FirstFrameNotInLayout5(), std::nullopt);
    EXPECT_EQ(TCanLogReader::Parse("(1.0) can0 7FF#0102030405060708\n").FirstFrameNotInLayout5(), std::optional<std::size_t>(0));
}

// A file whose last line has no line end was cut off or is still being written: the
// whole lines are read, the part of a line is not (it would read as a shorter frame).
TEST_F(TCanLogReaderFiles, LastLineWithoutLineEndIsCutNotRead)
{
    const TCanLog log = TCanLogReader::Load(Data("cut.log"));
    ExpectBusFrames(log, {
                             {1700000000100000, 0x18FEF100, true, 8, kEngine, 1, 0},
                             {1700000000200000, 0x18EA00F9, true, 3, {0xE5, 0xFE, 0x00, 0, 0, 0, 0, 0}, 2, 0},
                         });
    EXPECT_EQ(log.CutLine, 3u);
    EXPECT_EQ(log.Summary(), Data("cut.log") + ": 2 frames (candump) on interface can0; the last line (line 3) has "
                                               "no line end and was not read: '(1700000000.300000) can0 18FEF100#F315'");
    const struct {
        std::string text;
        int frames;
        uint32_t cut;
    } cases[] = {
        {"000.0000 18FEF100F315000CFFFFFFFF\r\n000.0010 18FEF100F315000CFFFF", 1, 2},
        {"000.0000 18FEF100F315000CFFFFFFFF\r\n000.0010 18FEF100F315000CFFFFFFFF", 1, 2},   // whole, but unended
        {"000.0000 18FEF100F315000CFFFFFFFF\r\n000.0010 18FEF100F315000CFFFFFFFF\r", 1, 2},
        {"000.0000 18FEF100F315000CFFFFFFFF\r\n", 1, 0},
        {"000.0000 18FEF100F315000CFFFFFFFF\n   \t", 1, 0},   // blanks are no line
        {"base hex\n0.001 1 18FEF100x Rx d 8 F3 15 00 0C FF FF FF FF\n0.002 1 18FEF100x Rx d 8 F3 15", 1, 3},
        {"0.001 1 18FEF100x Rx d 8 F3 15 00 0C FF FF FF FF\nnot even a frame", 1, 2},
        {"(1.0) can0 18FEF100#F3", 0, 1},
        {"", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const TCanLog cut = TCanLogReader::Load(Write("cut.asc", c.text));
        EXPECT_EQ(cut.Count(), c.frames);
        EXPECT_EQ(cut.CutLine, c.cut);
    }
    // Text held whole in memory (the internal log) needs no line end after its last line.
    std::ifstream in(Data("cut.log"), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(TCanLogReader::Parse(text).Count(), 3);
}

// A file written to while it loads: what was read may be a part of what is there now.
TEST_F(TCanLogReaderFiles, LogThatChangesWhileItLoadsIsRefused)
{
    std::string text;
    char line[64];
    for (int k = 0; k < 40000; ++k) {   // 1.4 MB: two parts
        std::snprintf(line, sizeof line, "%08.4f 18FEF1%02X%016X\r\n", k / 1000.0, k % 256, k);
        text += line;
    }
    const std::string path = Write("growing.asc", text);
    const uint64_t size = text.size();
    const struct {
        const char* name;
        std::function<void()> change;
        std::string detail;
    } cases[] = {
        {"appended", [&] { std::FILE* f = std::fopen(path.c_str(), "ab"); std::fputs("000.0000 18FEF100F315000CFFFFFFFF\r\n", f); std::fclose(f); },
         path + ": the file changed while it was loaded (" + std::to_string(size) + " bytes at the start, " +
             std::to_string(size + 35) + " at the end, " + std::to_string(size + 35) +
             " read): load it again once it is complete"},
        {"cut", [&] { ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size - 35)), 0); },
         path + ": the file changed while it was loaded (" + std::to_string(size) + " bytes at the start, " +
             std::to_string(size - 35) + " at the end, "},
        {"rewritten", [&] {
             const struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
             ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
         },
         path + ": the file changed while it was loaded (it was written to): load it again once it is complete"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Write("growing.asc", text);
        int calls = 0;
        TCanLogReader::TControl control;
        control.Progress = [&](uint64_t, uint64_t) {
            if (++calls == 1) c.change();
        };
        EXPECT_EQ(LoadRefusal(path, control).rfind(c.detail, 0), 0u) << LoadRefusal(path, control);
    }
    // Left alone, the same file loads.
    Write("growing.asc", text);
    EXPECT_EQ(TCanLogReader::Load(path).Count(), 40000);
}

// A note or comment far longer than a part of the reading is passed over as one line,
// and the lines after it keep their numbers.
TEST_F(TCanLogReaderFiles, LongNotesArePassedOverAcrossTheReadingParts)
{
    std::string text = "base hex  timestamps absolute\n";
    char line[96];
    for (int k = 0; k < 20000; ++k) {   // 60 bytes each: 1.2 MB, the first part ends among them
        std::snprintf(line, sizeof line, "%10.6f 1 18FEF1%02Xx Rx d 8 00 00 00 00 00 00 %02X %02X\n", k / 1000.0, k % 256,
                      (k >> 8) & 255, k & 255);
        text += line;
    }
    text += "// " + std::string(3000000, 'n') + "\n";   // across three parts
    text += "20.000000 J1939TP FEECp 6 0 0 - Rx d 1785" + std::string(6000, ' ') + "00\n";
    text += "20.001000 1 123 Rx d 1 07\n";
    const TCanLog log = TCanLogReader::Load(Write("notes.asc", text));
    ASSERT_EQ(log.Count(), 20001);
    EXPECT_EQ(log.Frames[19999].Line, 20001u);
    EXPECT_EQ(log.Frames[20000].Line, 20004u);
    EXPECT_EQ(log.Frames[20000].Id, 0x123u);
    EXPECT_EQ(log.Skipped[skHeader], 2u);
    EXPECT_EQ(log.Skipped[skEvent], 1u);
    // A NUL byte far into such a line is still found, and said where.
    std::string nul = text;
    const std::size_t at = nul.find("nnn") + 2500000;
    nul[at] = '\0';
    EXPECT_EQ(LoadRefusal(Write("nul.asc", nul)), Path("nul.asc") + " line 20002: '' holds a NUL byte at character 2500004 "
                                                                   "(a text log has none)");
    // A frame's line that long is refused.
    std::string frame = text.substr(0, 30) + "0.0 1 18FEF100x Rx d 8 F3 15 00 0C FF FF FF FF " + std::string(3000000, '1') + "\n";
    EXPECT_EQ(LoadRefusal(Write("frame.asc", frame)).rfind(Path("frame.asc") + " line 2: '0.0 1 18FEF100x", 0), 0u);
}

}  // namespace
