#include "fms/tcanframe.h"

#include "support/tbaseerror.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using Bytes = std::array<uint8_t, 8>;

const Bytes kCcvs{0xF3, 0x15, 0x00, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF};

void ExpectError(const TAString& line, TLogFormat layout, const char* op, const char* message)
{
    try {
        TCanFrame f(line, layout);
        ADD_FAILURE() << "no error for \"" << line.c_str() << "\"";
    } catch (const TBaseError& e) {
        EXPECT_EQ(e.Operation(), op);
        EXPECT_EQ(e.Message(), message);
    }
}

}  // namespace

TEST(TCanFrame, WritesTheFourLayouts)
{
    const TCanFrame at0(0x18FEF100, kCcvs, 8, 0);
    EXPECT_EQ(at0.ToString(lfFixedId), "000.0000 18FEF100F315000CFFFFFFFF");
    EXPECT_EQ(at0.ToString(lfFixedSaPgn), "000.0000 00FEF1F315000CFFFFFFFF");

    const TCanFrame at10ms(0x18FEF100, kCcvs, 8, 10000);
    EXPECT_EQ(at10ms.ToString(lfAscD8), "  0.0100 1 18FEF100x Rx d 8 F3 15 00 0C FF FF FF FF");
    EXPECT_EQ(at10ms.ToString(lfAscD8).WordCount(), 14);
    EXPECT_EQ(at10ms.ToString(lfAscD), "  0.0100 1 18FEF100x Rx D F3 15 00 0C FF FF FF FF");
    EXPECT_EQ(at10ms.ToString(lfAny), at10ms.ToString(lfAscD));

    // Layout 4 keeps the source address but neither priority nor data page.
    const TCanFrame sa(0x1DFEF127, kCcvs, 8, 1234500);
    EXPECT_EQ(sa.ToString(lfFixedSaPgn), "001.2345 27FEF1F315000CFFFFFFFF");
}

TEST(TCanFrame, ReadsTheFourLayouts)
{
    const TCanFrame l4("000.0000 00FEF1F315000CFFFFFFFF", lfFixedSaPgn);
    EXPECT_EQ(l4, TCanFrame(0x18FEF100, kCcvs, 8, 0));

    const TCanFrame l4sa("001.2345 27FEF1F315000CFFFFFFFF", lfFixedSaPgn);
    EXPECT_EQ(l4sa, TCanFrame(0x18FEF127, kCcvs, 8, 1234500));

    const TCanFrame l2("  0.0100 1 18FEF100x Rx d 8 F3 15 00 0C FF FF FF FF", lfAscD8);
    EXPECT_EQ(l2, TCanFrame(0x18FEF100, kCcvs, 8, 10000));

    const TCanFrame l1("0.0100\t1 18fef100X Rx D f3 15 00 0c ff ff ff ff\r\n", lfAscD);
    EXPECT_EQ(l1, TCanFrame(0x18FEF100, kCcvs, 8, 10000));

    // The VIN announcement and its first data frame as the program records them.
    const TCanFrame cm("000.0120 18ECFF0020180004FFECFE00", lfFixedId);
    EXPECT_EQ(cm, TCanFrame(0x18ECFF00, {0x20, 0x18, 0x00, 0x04, 0xFF, 0xEC, 0xFE, 0x00}, 8, 12000));
    const TCanFrame dt("000.1120 18EBFF000156656869636C65", lfFixedId);
    EXPECT_EQ(dt, TCanFrame(0x18EBFF00, {0x01, 'V', 'e', 'h', 'i', 'c', 'l', 'e'}, 8, 112000));
}

TEST(TCanFrame, DetectsLayoutsOnRequest)
{
    const TAString asc1 = "  0.0100 1 18FEF100x Rx D F3 15 00 0C FF FF FF FF";
    const TAString asc2 = "  0.0100 1 18FEF100x Rx d 8 F3 15 00 0C FF FF FF FF";
    const TAString fix4 = "000.0000 00FEF1F315000CFFFFFFFF";
    const TAString fix5 = "000.0000 18FEF100F315000CFFFFFFFF";
    struct Case { const TAString& line; TLogFormat asked; TLogFormat found; };
    const Case cases[] = {
        {asc1, lfAscD, lfAscD}, {asc1, lfAscD8, lfNone}, {asc1, lfAny, lfAscD}, {asc1, lfFixed, lfNone},
        {asc2, lfAscD8, lfAscD8}, {asc2, lfAscD, lfNone}, {asc2, lfAny, lfAscD8},
        {fix4, lfFixed, lfFixedSaPgn}, {fix4, lfFixedSaPgn, lfFixedSaPgn}, {fix4, lfFixedId, lfNone},
        {fix4, lfAny, lfFixedSaPgn}, {fix4, lfAscD, lfNone},
        {fix5, lfFixed, lfFixedId}, {fix5, lfFixedId, lfFixedId}, {fix5, lfFixedSaPgn, lfNone},
        {fix5, lfAny, lfFixedId},
        {fix5, lfNone, lfNone}, {fix5, TLogFormat(7), lfNone},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TCanFrame::DetectFormat(c.line, c.asked), c.found) << c.line.c_str() << " as " << c.asked;

    // The ASC text check: a decimal time, "1", hex digits ending in x.
    EXPECT_EQ(TCanFrame::DetectFormat("abc 1 18FEF100x Rx D F3 15 00 0C FF FF FF FF", lfAny), lfNone);
    EXPECT_EQ(TCanFrame::DetectFormat("0.01 2 18FEF100x Rx D F3 15 00 0C FF FF FF FF", lfAny), lfNone);
    EXPECT_EQ(TCanFrame::DetectFormat("0.01 1 18FEF100 Rx D F3 15 00 0C FF FF FF FF", lfAny), lfNone);
    EXPECT_EQ(TCanFrame::DetectFormat("0.01 1 18FEG100x Rx D F3 15 00 0C FF FF FF FF", lfAny), lfNone);
    // Fixed lines below 1000 s are told by length alone, whatever they hold.
    EXPECT_EQ(TCanFrame::DetectFormat(TAString(std::string(31, 'z')), lfFixed), lfFixedSaPgn);
    EXPECT_EQ(TCanFrame::DetectFormat(TAString(std::string(33, 'z')), lfFixed), lfFixedId);
    EXPECT_EQ(TCanFrame::DetectFormat(TAString(std::string(32, 'z')), lfFixed), lfNone);
    EXPECT_EQ(TCanFrame::DetectFormat("", lfAny), lfNone);
}

TEST(TCanFrame, FixedLinesFrom1000SecondsReadBack)
{
    const TCanFrame late(0x18FEF100, kCcvs, 8, 1000000000);
    const TAString l5 = late.ToString(lfFixedId);
    const TAString l4 = late.ToString(lfFixedSaPgn);
    EXPECT_EQ(l5, "1000.0000 18FEF100F315000CFFFFFFFF");
    EXPECT_EQ(l4, "1000.0000 00FEF1F315000CFFFFFFFF");
    EXPECT_EQ(TCanFrame::DetectFormat(l5, lfFixed), lfFixedId);
    EXPECT_EQ(TCanFrame::DetectFormat(l5, lfAny), lfFixedId);
    EXPECT_EQ(TCanFrame::DetectFormat(l4, lfFixed), lfFixedSaPgn);
    EXPECT_EQ(TCanFrame::DetectFormat(l4, lfFixedId), lfNone);
    EXPECT_EQ(TCanFrame(l5, lfFixedId), TCanFrame(0x18FEF100, kCcvs, 8, 1000000000));
    EXPECT_EQ(TCanFrame(l4, lfFixedSaPgn), TCanFrame(0x18FEF100, kCcvs, 8, 1000000000));

    const TAString hours = "99999.9999 18FEF100F315000CFFFFFFFF";
    EXPECT_EQ(TCanFrame(hours, lfFixedId).Time, 99999999900);

    // From 10000 s an lfFixedSaPgn line is 33 characters, as long as a short lfFixedId one.
    const TCanFrame later(0x18FEF100, kCcvs, 8, 10000000000);
    const TAString l4Late = later.ToString(lfFixedSaPgn);
    ASSERT_EQ(l4Late, "10000.0000 00FEF1F315000CFFFFFFFF");
    EXPECT_EQ(TCanFrame::DetectFormat(l4Late, lfFixed), lfFixedSaPgn);
    EXPECT_EQ(TCanFrame(l4Late, lfFixedSaPgn), TCanFrame(0x18FEF100, kCcvs, 8, 10000000000));

    // Past 8 characters the shape must hold: a decimal time, one blank, only hex digits.
    EXPECT_EQ(TCanFrame::DetectFormat("1000.000x 18FEF100F315000CFFFFFFFF", lfFixed), lfNone);
    EXPECT_EQ(TCanFrame::DetectFormat("1000.0000 18FEF100F315000CFFFFFFFG", lfFixed), lfNone);
    EXPECT_EQ(TCanFrame::DetectFormat("1000.0000 18FEF100F315000CFFFFFFFFF", lfFixed), lfNone);
    EXPECT_EQ(TCanFrame::DetectFormat("1000.0000  8FEF100F315000CFFFFFFFF", lfFixed), lfNone);
}

TEST(TCanFrame, TimeIsTheDecimalTextInMicroseconds)
{
    EXPECT_EQ(TCanFrame("000.0012 18FEF100F315000CFFFFFFFF", lfFixedId).Time, 1200);
    EXPECT_EQ(TCanFrame("059.9980 18FEF100F315000CFFFFFFFF", lfFixedId).Time, 59998000);
    EXPECT_EQ(TCanFrame("0.0000019 1 18FEF100x Rx D F3 15 00 0C FF FF FF FF", lfAscD).Time, 1);
    EXPECT_EQ(TCanFrame("-01.5000 18FEF100F315000CFFFFFFFF", lfFixedId).Time, -1500000);
    // A first word that is not a number is time 0.
    EXPECT_EQ(TCanFrame("abcdefgh 18FEF100F315000CFFFFFFFF", lfFixedId).Time, 0);
}

TEST(TCanFrame, ConstructorErrors)
{
    const char* ctor = "TCanFrame::TCanFrame";
    const TAString fix5 = "000.0000 18FEF100F315000CFFFFFFFF";
    ExpectError(fix5, lfFixed, ctor, "String error");
    ExpectError(fix5, lfAny, ctor, "String error");
    ExpectError(fix5, lfFixedSaPgn, ctor, "String error");
    ExpectError(fix5, lfAscD, ctor, "String error");
    ExpectError(fix5, TLogFormat(9), ctor, "String error");
    ExpectError(fix5, lfNone, ctor, "unknown format");

    ExpectError("000.0000 18FEF10GF315000CFFFFFFFF", lfFixedId, "TAString::AsNum", "Hex-Error");
    ExpectError("000.0000 18FEF100F3 5000CFFFFFFFF", lfFixedId, "TAString::AsNum", "Hex-Error");
    ExpectError("0.01 1 18FEF100x Rx D F3 15 00 0C FF FF FF 1FF", lfAscD, "TAString::AsNum", "OutOfRange");
    // Seconds whose microseconds would not fit 64 bits.
    ExpectError("99999999999999999999 18FEF100F315000CFFFFFFFF", lfFixedId, "TAString::AsNum", "OutOfRange");
}

TEST(TCanFrame, RandomFramesRoundTripThroughEveryLayout)
{
    std::mt19937 rng(1939);
    for (int n = 0; n < 2000; ++n) {
        TCanFrame f;
        f.Id = rng() & 0x1FFFFFFFu;
        for (auto& b : f.Data) b = uint8_t(rng());
        // Whole 100 µs steps, as the four decimals hold them; up to 9999.9999 s.
        f.Time = int64_t(rng() % 100000000u) * 100;
        for (TLogFormat layout : {lfAscD, lfAscD8, lfFixedSaPgn, lfFixedId}) {
            const TAString line = f.ToString(layout);
            ASSERT_EQ(TCanFrame::DetectFormat(line, lfAny), layout) << line.c_str();
            const TCanFrame back(line, layout);
            const uint32_t id = layout == lfFixedSaPgn ? 0x18000000u | (f.Id & 0x00FFFFFFu) : f.Id;
            EXPECT_EQ(back, TCanFrame(id, f.Data, 8, f.Time)) << line.c_str();
        }
    }
}

TEST(TCanFrame, ArbitraryBytesNeverBreakTheParser)
{
    std::mt19937 rng(4711);
    const std::string alphabet = "0123456789ABCDEFabcdefxX. -+\t\r\n";
    auto randomLine = [&] {
        std::string s(rng() % 48, ' ');
        for (char& c : s) c = (rng() % 4 == 0) ? char(rng()) : alphabet[rng() % alphabet.size()];
        // Lines of the fixed lengths and in ASC shape come up often enough to reach the parsers.
        if (rng() % 3 == 0) s.resize(rng() % 2 ? 31 : 33, '0');
        if (rng() % 5 == 0) s = "1.5 1 " + s.substr(0, 8) + "x Rx d 8 " + s;
        return TAString(s);
    };
    for (int n = 0; n < 20000; ++n) {
        const TAString line = randomLine();
        for (int layout = 0; layout <= 7; ++layout) {
            const TLogFormat found = TCanFrame::DetectFormat(line, TLogFormat(layout));
            EXPECT_TRUE(found == lfNone || found == lfAscD || found == lfAscD8 || found == lfFixedSaPgn ||
                        found == lfFixedId);
            try {
                const TCanFrame f(line, TLogFormat(layout));
                EXPECT_TRUE(f.IsJ1939Shape());
            } catch (const TBaseError&) {
            }
        }
    }
    for (int64_t t : {INT64_MIN, int64_t(-1), INT64_MAX}) {
        const TCanFrame f(0xFFFFFFFFu, {}, 0, t);
        for (int layout = 0; layout <= 7; ++layout) EXPECT_GT(f.ToString(TLogFormat(layout)).Length(), 30);
    }
}
