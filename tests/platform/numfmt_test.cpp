#include "platform/convert.h"
#include "platform/numfmt.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

namespace {

struct Case {
    const char* name;
    double value;
    const char* separator;
    const char* text;
};

class FiveDecimals : public testing::TestWithParam<Case> {};

TEST_P(FiveDecimals, FollowsThePattern)
{
    EXPECT_EQ(quadrilo::formatFiveDecimals(GetParam().value, GetParam().separator),
              GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Pattern, FiveDecimals,
    testing::Values(
        Case{"ZeroKeepsTheSeparator", 0.0, ",", "0,"},
        Case{"BelowHalfOfTheLastPlace", 0.0000049999, ",", "0,"},
        Case{"AboveHalfOfTheLastPlace", 0.0000050001, ",", "0,00001"},
        Case{"FifthDecimalZeroDropped", 1.5707969999609606, ",", "1,5708"},
        Case{"RoundsDown", 1.685751058, ",", "1,68575"},
        Case{"RoundsUpIntoTheUnits", 1.999996, ",", "2,"},
        Case{"NoGrouping", 1234567.25, ".", "1234567.25"},
        Case{"LongSeparator", 0.5, "\xd9\xab", "0\xd9\xab" "5"},
        // 2^-6 = 0.015625 is an exact tie at the sixth decimal: goes to even.
        Case{"ExactTieToEven", 0.015625, ",", "0,01562"},
        Case{"ExactTieToEvenUp", 0.046875, ",", "0,04688"},
        // The double nearest to 0.123455 lies below the tie.
        Case{"DecimalTieIsNoBinaryTie", 0.123455, ",", "0,12345"},
        Case{"Huge", 1e20, ",", "100000000000000000000,"}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

struct Significant {
    const char* name;
    double value;
    int digits;
    const char* text;
};

class FormatSignificant : public testing::TestWithParam<Significant> {};

TEST_P(FormatSignificant, RoundsOnceAndWritesTheSeparator)
{
    EXPECT_EQ(quadrilo::formatSignificant(GetParam().value, GetParam().digits, ","), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Digits, FormatSignificant,
    testing::Values(Significant{"Units", 1.685750354812596, 10, "1,685750355"},
                    Significant{"Tens", 36.406921, 10, "36,40692100"},
                    Significant{"Negative", -4.4228613, 4, "-4,423"},
                    Significant{"SmallFraction", -0.00000042149, 4, "-0,0000004215"},
                    Significant{"AsManyIntegerDigitsAsAsked", 1234567890.4, 10, "1234567890"},
                    Significant{"IntegerDigitsBeyondThem", 21345678901.3, 10, "21345678900"},
                    Significant{"RoundingCarriesIntoANewDigit", 9.99999999996, 10, "10,00000000"},
                    Significant{"TinyWithAnExponent", 4.2149e-12, 4, "4,215E-12"},
                    Significant{"SmallestInPlainDecimals", 1.5e-9, 2, "0,0000000015"},
                    Significant{"LargestWithAnExponentBelow", 1.5e-10, 2, "1,5E-10"},
                    Significant{"LargestInPlainDigits", 1.5e15, 2, "1500000000000000"},
                    Significant{"SmallestWithAnExponentAbove", 1.5e16, 2, "1,5E16"},
                    Significant{"HugeWithAnExponent", -2.5e20, 3, "-2,50E20"},
                    Significant{"OneDigit", 7e-13, 1, "7E-13"},
                    Significant{"Zero", 0.0, 10, "0"}),
    [](const testing::TestParamInfo<Significant>& info) { return std::string(info.param.name); });

TEST(ComparisonText, GivesTheExactIntegralAndTheDifferenceOrSaysItDiverges)
{
    EXPECT_EQ(quadrilo::comparisonText(36.40692106103, 31.98406 - 36.40692106103, ","),
              "Integrale esatto: 36,40692106\nDifferenza della somma dei rettangoli: -4,423");
    EXPECT_EQ(quadrilo::comparisonText(1.5, 0.25, "."),
              "Integrale esatto: 1.500000000\nDifferenza della somma dei rettangoli: 0.2500");
    EXPECT_NE(quadrilo::comparisonText(std::nullopt, 0, ",").find("diverge"), std::string::npos);
}

TEST(FormatPercent, UsesTheSeparatorAndTheDecimalsAsked)
{
    EXPECT_EQ(quadrilo::formatPercent(12.5, 1, ","), "12,5 %");
    EXPECT_EQ(quadrilo::formatPercent(0.000012, 7, ","), "0,0000120 %");
    EXPECT_EQ(quadrilo::formatPercent(100, 2, "."), "100.00 %");
}

struct Settings {
    const char* name;
    const char* locale;
    const char* separator;
};

class Separator : public testing::TestWithParam<Settings> {};

// The C library's own numeric settings; Qt's Arabic locale would write "٫"
// next to Latin digits, the C library's "." agrees with them.
TEST_P(Separator, IsTheCLibrarysForTheLocale)
{
    EXPECT_EQ(quadrilo::decimalSeparatorOf(GetParam().locale), GetParam().separator)
        << GetParam().locale << " (./scripts/setup generates the locales the tests use)";
}

INSTANTIATE_TEST_SUITE_P(
    Locales, Separator,
    testing::Values(Settings{"Italian", "it_IT.UTF-8", ","}, Settings{"German", "de_DE.UTF-8", ","},
                    Settings{"Arabic", "ar_EG.UTF-8", "."}, Settings{"AmericanEnglish", "en_US.UTF-8", "."},
                    Settings{"C", "C", "."}, Settings{"NotOnTheSystem", "xx_YY.UTF-8", "."}),
    [](const testing::TestParamInfo<Settings>& info) { return std::string(info.param.name); });

// Under Italian settings, which Qt hands on to the C library, it reads and
// writes the comma; the conversion and the formatting must not follow it.
TEST(UnderItalianSettings, NumbersStillUseOnlyTheFullStopAndTheGivenSeparator)
{
#ifdef _WIN32
    const char* italian = "Italian_Italy.1252";
#else
    const char* italian = "it_IT.UTF-8";
#endif
    ASSERT_TRUE(std::setlocale(LC_ALL, italian)) << "./scripts/setup generates it_IT.UTF-8";
    EXPECT_EQ(std::strtod("1.5", nullptr), 1.0);
    EXPECT_EQ(quadrilo::textToNumber("1.5707963"), 1.5707963);
    EXPECT_EQ(quadrilo::textToNumber("-1.5e3"), -1500.0);
    EXPECT_EQ(quadrilo::formatFiveDecimals(1.6857510587, "."), "1.68575");
    EXPECT_EQ(quadrilo::formatFiveDecimals(1234567.0, "."), "1234567.");
    std::setlocale(LC_ALL, "C");
}

} // namespace
