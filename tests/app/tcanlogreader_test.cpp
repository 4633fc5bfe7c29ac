#include "app/tcanlogreader.h"

#include "support/tbaseerror.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
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
                          {9000, 0x18FEE900, 15, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00}},
                          {10000, 0x0CFEC1FE, 17, {1, 2, 3, 4, 5, 6, 7, 8}},
                          {11000, 0x18FEF100, 18, {0xF3, 0x16, 0x00, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF}},
                      });
    const std::array<uint32_t, skCount> skipped{6, 1, 1, 2, 2, 4};
    EXPECT_EQ(log.Skipped, skipped);
    EXPECT_EQ(log.Summary(), Data("every_kind.asc") +
                                 ": 4 frames (ASC); 16 lines skipped: 6 header and comment lines, 1 blank line, "
                                 "1 standard (11-bit) frame, 2 remote frames, 2 error frames, 4 event lines");
    EXPECT_FALSE(log.PlaysFromFirstFrame());
}

TEST(TCanLogReader, AscRelativeTimesAddUpOverEveryTimedLine)
{
    const TCanLog log = TCanLogReader::Load(Data("relative.asc"));
    // 0.5, then 0.25 (an event), 0.125, 0.0625 (a standard frame), 0.03125 s.
    ExpectFrames(log, {
                          {500000, 0x18FEF100, 3, {0, 0, 0, 0, 0, 0, 0, 1}},
                          {875000, 0x18FEF100, 5, {0, 0, 0, 0, 0, 0, 0, 2}},
                          {968750, 0x18FEF100, 7, {0, 0, 0, 0, 0, 0, 0, 3}},
                      });
    EXPECT_EQ(log.Summary(), Data("relative.asc") +
                                 ": 3 frames (ASC); 4 lines skipped: 2 header and comment lines, "
                                 "1 standard (11-bit) frame, 1 event line");
}

TEST(TCanLogReader, AscBaseDecReadsIdentifierAndDataInDecimal)
{
    const TCanLog log = TCanLogReader::Load(Data("decimal.asc"));
    ExpectFrames(log, {{10000, 0x18FEF100, 2, {0xF3, 0x15, 0x00, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF}}});
}

TEST(TCanLogReader, CandumpLogTakesExtendedFramesWithOrWithoutDirection)
{
    const TCanLog log = TCanLogReader::Load(Data("bus.log"));
    EXPECT_EQ(log.Kind, lkCandump);
    EXPECT_TRUE(log.PlaysFromFirstFrame());
    ExpectFrames(log, {
                          {1700000000123456, 0x18FEF100, 1, {0xF3, 0x15, 0x00, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF}},
                          {1700000000133456, 0x18F00300, 2, {0xFF, 0xFA, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
                          {1700000000173456, 0x18FEE900, 7, {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00}},
                          {1700000000183456, 0x0CFEC1FE, 8, {1, 2, 3, 4, 5, 6, 7, 8}},
                      });
    EXPECT_EQ(log.Summary(), Data("bus.log") +
                                 ": 4 frames (candump); 4 lines skipped: 1 blank line, 1 standard (11-bit) frame, "
                                 "1 remote frame, 1 error frame");
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
        {asc + "0.010000 1 18FEF100x Rx d 4 F3 15 00 0C\n",
         "in.asc line 2: '0.010000 1 18FEF100x Rx d 4 F3 15 00 0C': data length 4: only frames with 8 data bytes can be "
         "replayed"},
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
         "in.asc line 2: '0.010000 1 18FEF100x Rx e 8 F3 15 00 0C FF FF FF FF': expected 'd 8' and the data bytes after "
         "the direction"},
        {asc + "0.010000 CANFD 1 Rx 18FEF100x 1 0 8 8 F3 15 00 0C FF FF FF FF 0 0 1000\n",
         "in.asc line 2: '0.010000 CANFD 1 Rx 18FEF100x 1 0 8 8 F3 15 00 0C FF FF FF F...': a CAN FD frame cannot be "
         "replayed"},
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
        {dump + "(1.5) can0 18FEF100##1F315000CFFFFFFFF\n",
         "in.asc line 2: '(1.5) can0 18FEF100##1F315000CFFFFFFFF': a CAN FD frame cannot be replayed"},
        {dump + "(1.5) can0 18FEF100#F315\n",
         "in.asc line 2: '(1.5) can0 18FEF100#F315': 2 data bytes: only frames with 8 data bytes can be replayed"},
        {dump + "(1.5) can0 18FEF100#F315000CFFFFFFFZ\n",
         "in.asc line 2: '(1.5) can0 18FEF100#F315000CFFFFFFFZ': data 'F315000CFFFFFFFZ' is not 8 bytes in hexadecimal"},
        {dump + "(1.5) can0 18FEF1#F315000CFFFFFFFF\n",
         "in.asc line 2: '(1.5) can0 18FEF1#F315000CFFFFFFFF': identifier '18FEF1' is not 3 (standard) or 8 (extended)"},
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

}  // namespace
