#include "app/remaining_time.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Row {
    const char* name;
    std::uint64_t total;
    std::vector<std::pair<double, std::uint64_t>> samples; // seconds elapsed, passes done
    std::optional<double> last; // what the last sample shows
};

class RemainingTimeTable : public testing::TestWithParam<Row> {};

TEST_P(RemainingTimeTable, ShowsOnlyASteadyEstimate)
{
    quadrilo::RemainingTime remaining(GetParam().total);
    std::optional<double> shown;
    for (const auto& [elapsed, done] : GetParam().samples)
        shown = remaining.update(elapsed, done);
    ASSERT_EQ(shown.has_value(), GetParam().last.has_value());
    if (shown)
        EXPECT_DOUBLE_EQ(*shown, *GetParam().last);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RemainingTimeTable,
    testing::Values(
        Row{"NothingDoneYet", 1000, {{1, 0}, {2, 0}, {3, 0}}, std::nullopt},
        Row{"TwoSamplesAreNotEnough", 1000, {{1, 10}, {2, 20}}, std::nullopt},
        // 10 passes a second: 970 left after 3 s.
        Row{"SteadyRate", 1000, {{1, 10}, {2, 20}, {3, 30}}, 97.0},
        Row{"SamplesUnderASecondApartCountOnce", 1000, {{1, 10}, {1.5, 15}, {1.9, 19}, {2, 20}}, std::nullopt},
        Row{"ErraticRate", 1000, {{1, 100}, {2, 120}, {3, 500}}, std::nullopt},
        // Judged on the last three samples, not on all since the start.
        Row{"SteadyAfterAnErraticStart", 1000, {{1, 100}, {2, 120}, {3, 500}, {4, 400}, {5, 500}, {6, 600}}, 4.0},
        Row{"FollowsTheLatestOnceSteady", 1000, {{1, 10}, {2, 20}, {3, 30}, {4, 100}}, 36.0},
        Row{"SlowingDown", 1000, {{1, 100}, {2, 150}, {3, 180}}, std::nullopt},
        Row{"AllDoneWhenSteady", 1000, {{1, 300}, {2, 600}, {3, 900}, {4, 1000}}, 0.0}),
    [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

TEST(PercentDecimals, MoveAboutOnceASecondAtABillionPassesASecond)
{
    EXPECT_EQ(quadrilo::percentDecimals(1), 1);
    EXPECT_EQ(quadrilo::percentDecimals(1'000'000'000), 1);
    EXPECT_EQ(quadrilo::percentDecimals(100'000'000'001), 1);
    EXPECT_EQ(quadrilo::percentDecimals(10'000'000'000'001), 3);
    EXPECT_EQ(quadrilo::percentDecimals(17'179'869'184'000'000), 6);
}

struct Duration {
    const char* name;
    double seconds;
    const char* text;
};

class TimeLeft : public testing::TestWithParam<Duration> {};

// The verb agrees with the count: "manca" for one of a unit, "mancano" for
// more.
TEST_P(TimeLeft, InItalianWordsWithTheVerbAgreeing)
{
    EXPECT_EQ(quadrilo::timeLeft(GetParam().seconds), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Words, TimeLeft,
    testing::Values(Duration{"UnderASecond", 0.2, "manca circa 1 secondo"},
                    Duration{"OneSecond", 1.4, "manca circa 1 secondo"},
                    Duration{"Seconds", 40, "mancano circa 40 secondi"},
                    Duration{"ARoundMinute", 91, "mancano circa 2 minuti"},
                    Duration{"AMinuteInSeconds", 60, "mancano circa 60 secondi"},
                    Duration{"Minutes", 180, "mancano circa 3 minuti"},
                    Duration{"AnHourInMinutes", 3600, "mancano circa 60 minuti"},
                    Duration{"Hours", 5 * 3600, "mancano circa 5 ore"},
                    Duration{"Days", 3 * 86400, "mancano circa 3 giorni"},
                    Duration{"Months", 200 * 86400, "mancano circa 7 mesi"},
                    Duration{"Years", 3 * 365.2425 * 86400, "mancano circa 3 anni"}),
    [](const testing::TestParamInfo<Duration>& info) { return std::string(info.param.name); });

} // namespace
