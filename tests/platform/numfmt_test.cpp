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

struct Duration {
    const char* name;
    double seconds;
    const char* text;
};

class AboutDuration : public testing::TestWithParam<Duration> {};

TEST_P(AboutDuration, InItalianWords)
{
    EXPECT_EQ(quadrilo::aboutDuration(GetParam().seconds), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Words, AboutDuration,
    testing::Values(Duration{"UnderASecond", 0.2, "circa 1 secondo"}, Duration{"Seconds", 40, "circa 40 secondi"},
                    Duration{"ARoundMinute", 91, "circa 2 minuti"}, Duration{"AMinuteInSeconds", 60, "circa 60 secondi"},
                    Duration{"Minutes", 180, "circa 3 minuti"}, Duration{"AnHourInMinutes", 3600, "circa 60 minuti"},
                    Duration{"Hours", 5 * 3600, "circa 5 ore"}, Duration{"Days", 3 * 86400, "circa 3 giorni"},
                    Duration{"Months", 200 * 86400, "circa 7 mesi"},
                    Duration{"Years", 3 * 365.2425 * 86400, "circa 3 anni"}),
    [](const testing::TestParamInfo<Duration>& info) { return std::string(info.param.name); });

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
    ASSERT_TRUE(std::setlocale(LC_ALL, "it_IT.UTF-8")) << "./scripts/setup generates it_IT.UTF-8";
    EXPECT_EQ(std::strtod("1.5", nullptr), 1.0);
    EXPECT_EQ(quadrilo::textToNumber("1.5707963"), 1.5707963);
    EXPECT_EQ(quadrilo::textToNumber("-1.5e3"), -1500.0);
    EXPECT_EQ(quadrilo::formatFiveDecimals(1.6857510587, "."), "1.68575");
    EXPECT_EQ(quadrilo::formatFiveDecimals(1234567.0, "."), "1234567.");
    std::setlocale(LC_ALL, "C");
}

} // namespace
