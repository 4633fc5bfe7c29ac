#include "support/tastring.h"
#include "support/tbaseerror.h"

#include "tests/errorof.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>

namespace {

constexpr double kNo = TAString::NoDefault;

TEST(TAString, AsNumHexadecimalAndDecimalTable)
{
    struct Case {
        const char* text;
        int mode;
        double def;
        double expected;
    };
    const Case cases[] = {
        {"x1F", TAString::nmAuto, kNo, 31},
        {"x1F", TAString::nmHex, kNo, 31},
        {"1F", TAString::nmHex, kNo, 31},
        {"ff", TAString::nmHex, kNo, 255},
        {"1F", TAString::nmAuto, 7, 7},          // malformed decimal: the default
        {"  -12.5", TAString::nmAuto, kNo, -12.5},
        {"+3", TAString::nmDec, kNo, 3},
        {".5", TAString::nmAuto, kNo, 0.5},
        {"xZZ", TAString::nmAuto, 9, 9},         // malformed hex: the default
        {"xFFFFFFFF", TAString::nmAuto, kNo, 4294967295.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_DOUBLE_EQ(TAString(c.text).AsNum(1e12, -1e12, c.mode, c.def), c.expected);
    }
}

TEST(TAString, AsNumErrorsCarryTheirExactMessages)
{
    EXPECT_EQ(ErrorOf([] { TAString("x1F").AsNum(100, 0, TAString::nmDec, 5); }), "TAString::AsNum|Dez-Error(x)");
    EXPECT_EQ(ErrorOf([] { TAString("1F").AsNum(100, 0); }), "TAString::AsNum|Hex-Error");
    EXPECT_EQ(ErrorOf([] { TAString("xG").AsNum(100, 0); }), "TAString::AsNum|Hex-Error");
    EXPECT_EQ(ErrorOf([] { TAString("12 ").AsNum(100, 0); }), "TAString::AsNum|Hex-Error");
    EXPECT_EQ(ErrorOf([] { TAString("101").AsNum(100, 0, TAString::nmAuto, 3); }), "TAString::AsNum|OutOfRange");
    EXPECT_EQ(ErrorOf([] { TAString("-1").AsNum(100, 0); }), "TAString::AsNum|OutOfRange");
    EXPECT_EQ(ErrorOf([] { TAString("x65").AsNum(100, 0, TAString::nmAuto, 3); }), "TAString::AsNum|OutOfRange");
    // Hex text wider than 32 bits is out of a 32-bit range, not clipped into it.
    EXPECT_EQ(ErrorOf([] { TAString("100000000").AsUInt32(TAString::nmHex); }), "TAString::AsNum|OutOfRange");
    EXPECT_EQ(ErrorOf([] { TAString("x1FFFFFFFFFFFFFFFFFFFF").AsUInt32(); }), "TAString::AsNum|OutOfRange");
    EXPECT_EQ(TAString("0000000FFFFFFFF").AsUInt32(TAString::nmHex), 0xFFFFFFFFu);
}

TEST(TAString, AsNumEmptyHexTextIsAHexError)
{
    EXPECT_EQ(ErrorOf([] { TAString("").AsNum(100, 0, TAString::nmHex); }), "TAString::AsNum|Hex-Error");
    EXPECT_EQ(ErrorOf([] { TAString("x").AsNum(100, 0); }), "TAString::AsNum|Hex-Error");
    EXPECT_DOUBLE_EQ(TAString("x").AsNum(100, 0, TAString::nmAuto, 4), 4);
    EXPECT_EQ(ErrorOf([] { TAString("").AsNum(100, 0); }), "TAString::AsNum|Hex-Error");
}

TEST(TAString, TypedFormsFixTheirRanges)
{
    EXPECT_EQ(TAString("xFE").AsByte(), 254);
    EXPECT_EQ(ErrorOf([] { TAString("x100").AsByte(TAString::nmAuto, 0); }), "TAString::AsNum|OutOfRange");
    EXPECT_EQ(ErrorOf([] { TAString("256").AsByte(); }), "TAString::AsNum|OutOfRange");
    EXPECT_EQ(TAString("65535").AsWord(), 65535);
    EXPECT_EQ(TAString("xFFFFFFFF").AsUInt32(), 0xFFFFFFFFu);
    EXPECT_EQ(TAString("-2147483648").AsInt32(), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(TAString("12.9").AsByte(), 12);
    // A caller's default outside the type's range must not be converted with undefined behaviour.
    EXPECT_EQ(TAString("abc").AsByte(TAString::nmAuto, -1), 0);
}

TEST(TAString, IsNumberAcceptsOnlyPlainDecimals)
{
    EXPECT_TRUE(TAString("  -12.5").IsNumber());
    EXPECT_TRUE(TAString("\t+7").IsNumber());
    EXPECT_FALSE(TAString("12 ").IsNumber());
    EXPECT_FALSE(TAString("1e3").IsNumber());
    EXPECT_FALSE(TAString("1,000").IsNumber());
    EXPECT_FALSE(TAString("- 1").IsNumber());
    EXPECT_FALSE(TAString("1.2.3").IsNumber());
    EXPECT_FALSE(TAString(".").IsNumber());
    EXPECT_FALSE(TAString("").IsNumber());
    EXPECT_TRUE(TAString("").IsHex());
    EXPECT_TRUE(TAString("x0aF").IsHex(1));
    EXPECT_FALSE(TAString("0aG").IsHex());
}

TEST(TAString, CharacterAccessPastTheEndIsZero)
{
    TAString s("ab");
    EXPECT_EQ(s[1], 'b');
    EXPECT_EQ(s[2], '\0');
    EXPECT_EQ(s[1000], '\0');
    EXPECT_EQ(s[-1], '\0');
}

TEST(TAString, FindSubstringTruncateReplace)
{
    TAString s("CanAdapter Comm[1] Comm[2]");
    EXPECT_EQ(s.Find("Comm"), 11);
    EXPECT_EQ(s.Find("Comm", 12), 19);
    EXPECT_EQ(s.Find("Comm", 0, 15), 11);  // the whole match lies before the end
    EXPECT_EQ(s.Find("Comm", 0, 14), -1);
    EXPECT_EQ(s.Find("zz"), -1);
    EXPECT_EQ(s.FindOrLength("zz"), s.Length());
    EXPECT_EQ(s.SubString(11, 7), "Comm[1]");
    EXPECT_EQ(s.SubString(19), "Comm[2]");
    EXPECT_EQ(s.SubString(100), "");

    TAString t("abcdef");
    EXPECT_EQ(t.Truncate(4), 2);
    EXPECT_EQ(t, "abcd");
    EXPECT_EQ(t.Truncate(10), 0);

    TAString r("a-b-c-d");
    EXPECT_EQ(r.Replace("-", "+", 2), 2);
    EXPECT_EQ(r, "a+b+c-d");
    EXPECT_EQ(r.Remove("+", 5), 2);
    EXPECT_EQ(r, "abc-d");
    r.Insert(1, "XY");
    EXPECT_EQ(r, "aXYbc-d");
}

TEST(TAString, WordsAreSeparatedByBlanksTabsAndLineEnds)
{
    TAString s("  Simulation\tRAM 1\r\n 1 ");
    EXPECT_EQ(s.WordCount(), 4);
    EXPECT_EQ(s.Word(0), "Simulation");
    EXPECT_EQ(s.Word(1), "RAM");
    EXPECT_EQ(s.Word(3), "1");
    EXPECT_EQ(s.Word(4), "");
    EXPECT_EQ(TAString("").WordCount(), 0);
}

TEST(TAString, WildcardCompare)
{
    EXPECT_EQ(TAString("Comm[3]").WildCompare("Comm*"), 0);
    EXPECT_EQ(TAString("Comm[3]").WildCompare("Comm[?]"), 0);
    EXPECT_EQ(TAString("abc").WildCompare("abc"), 0);
    EXPECT_NE(TAString("abc").WildCompare("abd"), 0);
    EXPECT_LT(TAString("abc").WildCompare("abd"), 0);
    EXPECT_GT(TAString("abd").WildCompare("abc"), 0);
    EXPECT_NE(TAString("ab").WildCompare("ab?"), 0);
    EXPECT_NE(TAString("abc").WildCompare("ab"), 0);
    EXPECT_EQ(TAString("").WildCompare("*"), 0);
}

TEST(TAString, LineEndConversions)
{
    TAString s("a\nb\r\nc\n");
    s.LfToCrLf();
    EXPECT_EQ(s, "a\r\nb\r\nc\r\n");
    s.RemoveCr();
    EXPECT_EQ(s, "a\nb\nc\n");
}

TEST(TAString, NumberAndHexText)
{
    EXPECT_EQ(TAString(int32_t{-42}), "-42");
    EXPECT_EQ(TAString::Indexed("Comm", 3), "Comm[3]");
    EXPECT_EQ(TAString::Hex32(0x18FEF100), "18FEF100");
    EXPECT_EQ(TAString::Hex16(0xAB), "00AB");
    EXPECT_EQ(TAString::Hex8(0xF), "0F");
    EXPECT_EQ(TAString(7.25, 7, 2), "   7.25");
    EXPECT_EQ(TAString(1500.0, 0, 3), "1500.000");
}

TEST(TAString, ComparesBytesAsUnsigned)
{
    EXPECT_TRUE(TAString("a") < TAString("\xC3\xA4"));  // UTF-8 lead byte sorts after ASCII
    EXPECT_TRUE(TAString("") < TAString("a"));
    EXPECT_FALSE(TAString("b") < TAString("a"));
}

class TAStringFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path() /
               ("qv_tastring_" + std::to_string(::getpid()) +
                "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::filesystem::path dir_;
};

TEST_F(TAStringFile, SaveWithCrThenLoadStrippingCrRoundTrips)
{
    TAString name((dir_ / "a.txt").string());
    TAString("line 1\nline 2\n").SaveToFile(name, true);
    TAString raw;
    raw.LoadFromFile(name, false);
    EXPECT_EQ(raw, "line 1\r\nline 2\r\n");
    TAString stripped;
    stripped.LoadFromFile(name, true);
    EXPECT_EQ(stripped, "line 1\nline 2\n");
}

TEST_F(TAStringFile, LoadingALargeFileKeepsEveryChunk)
{
    std::string big(100000, 'q');
    big[50000] = '\n';
    {
        std::ofstream out(dir_ / "big.txt", std::ios::binary);
        out << big;
    }
    TAString s;
    s.LoadFromFile(TAString((dir_ / "big.txt").string()), false);
    EXPECT_EQ(s.str(), big);
}

TEST_F(TAStringFile, MissingFilesAndPathsThrowTheirErrors)
{
    TAString s("keep");
    EXPECT_EQ(ErrorOf([&] { s.LoadFromFile(TAString((dir_ / "none.txt").string()), false); }),
              "TAString::LoadFromFile|FileNotFound");
    EXPECT_EQ(s, "");
    EXPECT_EQ(ErrorOf([&] { TAString("x").SaveToFile(TAString((dir_ / "no/such/dir.txt").string()), false); }),
              "TAString::SaveToFile|PathNotFound");
}

}  // namespace
