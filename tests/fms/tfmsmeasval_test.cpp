#include "fms/tfmsmeasval.h"

#include "fms/tcanhigh.h"
#include "support/tbaseerror.h"

#include "tests/errorof.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

std::unique_ptr<TFmsMeasVal> Numeric(uint16_t bit, uint16_t bits, double res, double offset, double min, double max,
                                     uint16_t minInt, uint16_t maxInt, uint16_t minDec, uint16_t maxDec)
{
    return std::make_unique<TFmsMeasVal>("n", 0x00F00400, 4, 20, bit, bits, res, "u", offset,
                                         std::make_unique<TMeasValDouble>(0.0, min, max, 1.0, 2.0, 0.0, -1.0),
                                         minInt, maxInt, minDec, maxDec);
}

std::unique_ptr<TFmsMeasVal> EngineSpeed()
{
    return Numeric(24, 16, 0.125, 0, 0, 8031.8751, 1, 4, 0, 3);
}

std::unique_ptr<TFmsMeasVal> WheelSpeed()
{
    return Numeric(8, 16, 0.00390625, 0, 0, 250.9965, 1, 3, 0, 3);
}

std::unique_ptr<TFmsMeasVal> Enum(uint16_t bit, uint16_t bits, const char* texts)
{
    return std::make_unique<TFmsMeasVal>("e", 0x00FE6C00, 9, 20, bit, bits, 1.0, "", 0.0,
                                         std::make_unique<TMeasValEnum>(0, texts), 1, 1, 0, 0);
}

std::unique_ptr<TFmsMeasVal> Text(uint16_t bit, uint16_t bits, uint16_t minBytes, uint16_t maxBytes,
                                  const char* hex = "")
{
    return std::make_unique<TFmsMeasVal>("s", 0x00FEEC00, 6, 10000, bit, bits, 1.0, "", 0.0,
                                         std::make_unique<TMeasValString>(hex), minBytes, maxBytes, 0, 0);
}

std::unique_ptr<TFmsMeasVal> TellTales()
{
    return std::make_unique<TFmsMeasVal>("t", 0x00FD7D00, 21, 1000, 0, 64, 1.0, "", 0.0,
                                         std::make_unique<TMeasValTTS>(), 0, 41, 0, 0);
}

void Install(TFmsMeasVal& s, const char* text)
{
    s.MeasVal = s.Read(text);
}

Bytes Encode(TFmsMeasVal& s, uint32_t id = 0x00F00400)
{
    TCanHigh m(id);
    s.WriteToCan(m);
    return m.Data();
}

}  // namespace

TEST(RoundHalfAway, HalvesGoAwayFromZero)
{
    const struct {
        double x;
        int64_t raw;
    } cases[] = {
        {0.5, 1},    {1.5, 2},   {2.5, 3},    {-0.5, -1}, {-2.5, -3}, {0.49, 0}, {-0.49, 0}, {76800.0, 76800},
        // Decimal halves whose binary quotient lies a hair below the half.
        {0.15 / 0.1, 2}, {0.25 / 0.1, 3}, {0.075 / 0.05, 2}, {6425.45 / 0.1, 64255},
        {0.4999, 0}, {1.4999, 1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RoundHalfAway(c.x), c.raw) << c.x;
    EXPECT_EQ(RoundHalfAway(std::nan("")), 0);
    EXPECT_EQ(RoundHalfAway(1e300), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(RoundHalfAway(-1e300), std::numeric_limits<int64_t>::min());
}

TEST(TFmsMeasVal, IndicatorCodesFollowBitLength)
{
    struct Row { uint16_t bits; uint8_t ff, fe, fd, fc, fb; };
    const Row rows[] = {
        {1, 1, 0, 0, 0, 0},          {2, 3, 2, 0, 0, 0},          {3, 7, 6, 0, 0, 0},
        {4, 15, 14, 0, 0, 0},        {7, 127, 126, 0, 0, 0},      {8, 255, 254, 253, 252, 251},
        {16, 255, 254, 253, 252, 251}, {32, 255, 254, 253, 252, 251}, {33, 0, 0, 0, 0, 0},
        {64, 0, 0, 0, 0, 0},          {0xFFFF, 0, 0, 0, 0, 0},
    };
    for (const auto& r : rows) {
        TFmsMeasVal s("x", 0, 0, 100, 0, r.bits, 1, "", 0, std::make_unique<TMeasValEnum>(0, "a"), 1, 1, 0, 0);
        EXPECT_EQ(s.CodeFF, r.ff) << r.bits;
        EXPECT_EQ(s.CodeFE, r.fe) << r.bits;
        EXPECT_EQ(s.CodeFD, r.fd) << r.bits;
        EXPECT_EQ(s.CodeFC, r.fc) << r.bits;
        EXPECT_EQ(s.CodeFB, r.fb) << r.bits;
    }
    // Codes passed explicitly are kept as given.
    TFmsMeasVal own("x", 0, 0, 100, 0, 8, 1, "", 0, std::make_unique<TMeasValEnum>(0, "a"), 1, 1, 0, 0, 0xF0, 0, 0,
                    0, 0);
    EXPECT_EQ(own.CodeFF, 0xF0);
    EXPECT_EQ(own.CodeFE, 0);
}

TEST(TFmsMeasVal, ErrorOnEngineSpeedIsFFFEInBytes3And4)
{
    auto s = EngineSpeed();
    Install(*s, "1500");
    Install(*s, "e");
    EXPECT_EQ(s->MeasVal->State, msError);
    EXPECT_EQ(Encode(*s), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(s->Write(), "e");
    // The letter keeps the content: back to "o" the old number is sent.
    Install(*s, "o");
    EXPECT_DOUBLE_EQ(dynamic_cast<TMeasValDouble&>(*s->MeasVal).Value, 1500.0);
    EXPECT_EQ(Encode(*s), (Bytes{0xFF, 0xFF, 0xFF, 0xE0, 0x2E, 0xFF, 0xFF, 0xFF}));
}

TEST(TFmsMeasVal, ReadChecksDigitsThenCharacters)
{
    auto s = Numeric(0, 16, 1, 0, -1000, 9999, 1, 4, 0, 3);
    ExpectError([&] { (void)s->Read("1234.5678"); }, "TFmsMeasVal::Read", "too long");
    ExpectError([&] { (void)s->Read("12345"); }, "TFmsMeasVal::Read", "too long");
    ExpectError([&] { (void)s->Read(""); }, "TFmsMeasVal::Read", "too short");
    ExpectError([&] { (void)s->Read(".5"); }, "TFmsMeasVal::Read", "too short");
    ExpectError([&] { (void)s->Read("1e3"); }, "TFmsMeasVal::Read", "has illegal character");
    ExpectError([&] { (void)s->Read("+12"); }, "TFmsMeasVal::Read", "has illegal character");
    ExpectError([&] { (void)s->Read("1,5"); }, "TFmsMeasVal::Read", "has illegal character");
    // The length checks come first: "abcde" has five integer characters.
    ExpectError([&] { (void)s->Read("abcde"); }, "TFmsMeasVal::Read", "too long");

    auto two = Numeric(0, 8, 1, -125, -125, 126, 1, 2, 1, 2);
    ExpectError([&] { (void)two->Read("-12.0"); }, "TFmsMeasVal::Read", "too long");   // "-12": three characters
    ExpectError([&] { (void)two->Read("12"); }, "TFmsMeasVal::Read", "too short");     // no decimal
    ExpectError([&] { (void)two->Read("12."); }, "TFmsMeasVal::Read", "too short");
    auto v = two->Read("-1.25");
    EXPECT_DOUBLE_EQ(dynamic_cast<TMeasValDouble&>(*v).Value, -1.25);
    EXPECT_EQ(v->State, msValid);
    // The signal itself is untouched by Read.
    EXPECT_DOUBLE_EQ(dynamic_cast<TMeasValDouble&>(*two->MeasVal).Value, 0.0);
}

TEST(TFmsMeasVal, OutOfRangeIsSentAsTheNearestEndOfItsRange)
{
    auto s = WheelSpeed();
    Install(*s, "300");
    EXPECT_EQ(s->MeasVal->State, msOutOfRange);
    EXPECT_EQ(s->Write(), "o");
    // Not 76800 cut to 16 bits (0x2C00, 44 km/h): 250.9965 / 0.00390625 = 64255.1, raw
    // FAFF, the largest value the field carries. The value itself is kept as set.
    EXPECT_EQ(Encode(*s), (Bytes{0xFF, 0xFF, 0xFA, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(dynamic_cast<TMeasValDouble&>(*s->MeasVal).Value, 300.0);
}

TEST(TFmsMeasVal, NotANumberIsAnErrorNotARawValue)
{
    auto s = EngineSpeed();
    auto& d = dynamic_cast<TMeasValDouble&>(*s->MeasVal);
    d.SetValue(std::nan(""));
    EXPECT_EQ(d.State, msError);
    EXPECT_EQ(s->Write(), "e");
    EXPECT_EQ(Encode(*s), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF}));
    d.SetValue(std::numeric_limits<double>::infinity());   // the nearest end: the top
    EXPECT_EQ(d.State, msOutOfRange);
    EXPECT_EQ(Encode(*s), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFA, 0xFF, 0xFF, 0xFF}));
}

TEST(TFmsMeasVal, NumbersRoundAndCarryTheirStateCodes)
{
    // Halves away from zero alike: 0.2 / 0.4 = 0.5 goes to 1, 1.0 / 0.4 = 2.5 to 3.
    auto pedal = Numeric(8, 8, 0.4, 0, 0, 100, 1, 3, 0, 1);
    Install(*pedal, "0.2");
    EXPECT_EQ(Encode(*pedal)[1], 0x01);
    Install(*pedal, "1.0");
    EXPECT_EQ(Encode(*pedal)[1], 0x03);

    auto hours = Numeric(0, 32, 0.05, 0, 0, 210554060.755, 1, 9, 0, 2);
    Install(*hours, "1234.5");   // 24690 = 0x6072
    EXPECT_EQ(Encode(*hours), (Bytes{0x72, 0x60, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}));
    Install(*hours, "e");
    EXPECT_EQ(Encode(*hours), (Bytes{0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF}));
    Install(*hours, "p");
    EXPECT_EQ(Encode(*hours), (Bytes{0xFF, 0xFF, 0xFF, 0xFB, 0xFF, 0xFF, 0xFF, 0xFF}));

    auto temp = Numeric(0, 8, 1, -40, -40, 210, 1, 3, 0, 0);
    Install(*temp, "R");
    EXPECT_EQ(Encode(*temp), (Bytes{0xFD, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(TFmsMeasVal, NotSetNumberOrEnumerationCannotBeSent)
{
    auto s = EngineSpeed();
    ASSERT_EQ(s->MeasVal->State, msValid);
    s->MeasVal->Reset();
    ExpectError([&] { Encode(*s); }, "TFmsMeasVal::WriteToCan", "Error flag not supported");
    auto e = Enum(2, 2, "not_set,set");
    Install(*e, "*");
    ExpectError([&] { Encode(*e); }, "TFmsMeasVal::WriteToCan", "Error flag not supported");
}

TEST(TFmsMeasVal, TwoBitFieldHasOnlyErrorAndNotAvailable)
{
    auto s = Enum(2, 2, "not_set,set");
    for (const char* letter : {"r", "R", "p"}) {
        Install(*s, letter);
        ExpectError([&] { Encode(*s); }, "TFmsMeasVal::WriteToCan", "Error flag not supported");
    }
    Install(*s, "e");   // bits 2..3 = 10
    EXPECT_EQ(Encode(*s), (Bytes{0xFB, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    Install(*s, "n");
    EXPECT_EQ(Encode(*s), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    Install(*s, "1");   // bits 2..3 = 01
    EXPECT_EQ(Encode(*s), (Bytes{0xF7, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(s->Write(), "1");
}

TEST(TFmsMeasVal, EnumerationBeyondItsTextsIsSentAsItsLastEntry)
{
    auto s = Enum(8, 4, "normal,15min_bef_4.5h,4.5h_reached,15min_bef_9h,9h_reached,15min_bef_16h,16h_reached");
    Install(*s, "9");
    EXPECT_EQ(s->MeasVal->State, msOutOfRange);
    EXPECT_EQ(s->Write(), "o");
    // Entry 6 is the last one it has: 9 would be a number the field has no meaning for.
    EXPECT_EQ(Encode(*s), (Bytes{0xFF, 0xF6, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    // A 2-bit field with two entries never sends 2 or 3 (the error and not-available codes).
    auto park = Enum(2, 2, "not_set,set");
    for (const char* index : {"2", "3", "4", "255"}) {
        Install(*park, index);
        EXPECT_EQ(park->Write(), "o");
        EXPECT_EQ(Encode(*park), (Bytes{0xF7, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})) << index;
    }
    Install(*s, "x06");   // the number parser's hexadecimal form
    EXPECT_EQ(s->MeasVal->State, msValid);
    EXPECT_EQ(s->Write(), "6");
    ExpectError([&] { (void)s->Read("256"); }, "TAString::AsNum", "OutOfRange");
    ExpectError([&] { (void)s->Read("on"); }, "TAString::AsNum", "Hex-Error");
}

TEST(TFmsMeasVal, TellTaleBlocksRotateOnEveryEncoding)
{
    auto t = TellTales();
    const uint32_t id = 0x00FD7D00;
    EXPECT_EQ(Encode(*t, id), (Bytes{0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Encode(*t, id), (Bytes{0xF1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Encode(*t, id), (Bytes{0xF2, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Encode(*t, id), (Bytes{0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(t->Write(), TAString(std::string(41, '7')));

    // Not set or not available: each block with its block ID and every tell-tale not
    // available, never block 15 (FF), which does not exist.
    t->MeasVal->Reset();
    EXPECT_EQ(Encode(*t, id), (Bytes{0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Encode(*t, id), (Bytes{0xF1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Encode(*t, id), (Bytes{0xF2, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    Install(*t, "0");   // tell-tale 1 off, beside block ID 0
    EXPECT_EQ(Encode(*t, id), (Bytes{0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    Install(*t, "n");   // forced not available: tell-tale 1 is 7 again
    EXPECT_EQ(Encode(*t, id), (Bytes{0xF1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Encode(*t, id), (Bytes{0xF2, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Encode(*t, id), (Bytes{0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    ExpectError([&] { (void)t->Read(std::string(83, '0')); }, "TFmsMeasVal::Read", "too long");
}

TEST(TFmsMeasVal, StringDisplayShowsUnprintableBytesAsHex)
{
    auto s = Text(0, TFmsMeasVal::TextLength, 0, 20, "56450D");
    EXPECT_EQ(s->Write(), "VEx0D");
    Install(*s, "7E7F20");
    EXPECT_EQ(s->Write(), "~x7F ");
    Install(*s, "");
    EXPECT_EQ(s->Write(), "");
}

TEST(TFmsMeasVal, StringLimitsCountBytes)
{
    auto vin = Text(0, TFmsMeasVal::TextLength, 2, 200);
    ExpectError([&] { (void)vin->Read("2A"); }, "TFmsMeasVal::Read", "too short");
    ExpectError([&] { (void)vin->Read(std::string(402, '4')); }, "TFmsMeasVal::Read", "too long");
    auto ok = vin->Read("ZZZZ");   // the digits are only checked when sent
    EXPECT_EQ(dynamic_cast<TMeasValString&>(*ok).Text, "ZZZZ");
    vin->MeasVal = std::move(ok);
    ExpectError([&] { Encode(*vin, 0x00FEEC00); }, "TAString::AsNum", "Hex-Error");
}

TEST(TFmsMeasVal, StringsAsLongAsTheirTextAndAfterTheDataBefore)
{
    // A string without content is eight 0xFF bytes where it would start.
    TCanHigh n(0x00FE6B00);
    auto e1 = Text(0, TFmsMeasVal::TextLength, 0, 20, "41");
    auto e2 = Text(TFmsMeasVal::AfterData, TFmsMeasVal::TextLength, 0, 20, "42");
    e2->MeasVal->Reset();
    e1->WriteToCan(n);
    e2->WriteToCan(n);
    EXPECT_EQ(n.Data(), (Bytes{0x41, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));

    // A fixed-width string: the SW version in bytes 1..4.
    auto sw = Text(8, 32, 4, 4, "30303032");
    EXPECT_EQ(Encode(*sw, 0x00FDD100), (Bytes{0xFF, 0x30, 0x30, 0x30, 0x32, 0xFF, 0xFF, 0xFF}));
    ExpectError([&] { (void)sw->Read("0002"); }, "TFmsMeasVal::Read", "too short");
    sw->MeasVal->State = msError;
    EXPECT_EQ(Encode(*sw, 0x00FDD100), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(TFmsMeasVal, WriteFormatsEachKind)
{
    auto n = Numeric(0, 16, 0.1, 0, 0, 6425.5, 1, 4, 0, 3);
    Install(*n, "5.2");
    EXPECT_EQ(n->Write(), "5.200");
    auto z = Numeric(0, 16, 1, 0, 0, 100, 1, 4, 0, 0);
    Install(*z, "42.");
    EXPECT_EQ(z->Write(), "42");

    struct TOther : TMeasVal {
        bool IsEqual(const TMeasVal&) const override { return false; }
        std::unique_ptr<TMeasVal> Clone() const override { return std::make_unique<TOther>(*this); }
        TAString ContentRefusal(const TSignalContent&, const TFmsMeasVal&) const override { return "never"; }
        void TakeContent(const TSignalContent&) override {}
        TSignalContent Content() const override { return 0.0; }
        void ReadText(const TAString&, const TFmsMeasVal&, bool) override {}
        void Encode(const TFmsMeasVal&, TCanHigh&) override {}
    };
    auto other = std::make_unique<TOther>();
    other->State = msValid;
    TFmsMeasVal odd("x", 0, 0, 100, 0, 8, 1, "", 0, std::move(other), 1, 1, 0, 0);
    ExpectError([&] { (void)odd.Write(); }, "TFmsMeasVal::Write", "unknown type");
    odd.MeasVal->State = msNotAvailable;
    EXPECT_EQ(odd.Write(), "n");
}
