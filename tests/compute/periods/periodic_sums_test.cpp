#include "compute/engine.h"
#include "platform/errors.h"
#include "tests/compute/engines.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

using quadrilo::Engine;
using quadrilo::EngineSettings;
using quadrilo::Isa;
using quadrilo::PeriodSettings;
using quadrilo::PeriodWork;

// What a row must make the periodic sum do, so that it proves that path.
enum Shows : unsigned {
    Stretches = 1,     // stretches counted by periods
    Flat = 2,          // stretches where every term has one level
    Ties = 4,          // a stretch cut short before a tie
    Overflows = 8,     // a stretch cut short where S leaves its binade
    Splits = 16,       // residues split at an extremum
    Searches = 32,     // levels inside a residue's periods, from estimates
    Exact = 128,       // terms inside a residue's periods made exactly
    CutAtTies = 64,    // a stretch cut short before a tie it could not settle
    Peaks = 256,       // terms near the peaks made, past the top edge
};

struct Row {
    std::string name;
    double phi, degrees;
    std::uint64_t mostPeriods;
    double overreach;
    unsigned shows;
    std::uint64_t mostSettled = std::uint64_t{1} << 20;
};
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// Short stretches from the first radian on, a few periods each of the
// shortest period (some 3.14 million passes, one half turn, a drift of up to
// a stride), against the same engine summing every pass: the plain loop's
// bits. Each row also shows the part of the method that it is there for.
const Row kRows[] = {
    {"thirty_degrees", 30, 30, 2, 3.0, Stretches | Ties},
    {"minus_thirty_degrees", 40, -30, 2, 2.0, Stretches},
    {"eighty_degrees", 40, 80, 2, 1.0, Stretches},
    {"nearly_a_right_angle", 40, 89.99, 2, 1.0, Stretches},
    {"right_angle_steep_peaks", 20, 90, 6, 1.0, Stretches | Splits},
    {"tiny_argument", 30, 0.001, 8, 1.0, Flat},
    {"zero_argument_constant_terms", 200, 0, 8, 1.0, Flat},
    {"searches_inside_residues", 40, 1, 6, 1.5, Stretches | Searches | Exact | Ties},
    {"ties_cut_stretches_short", 40, 1, 6, 1.5, Stretches | CutAtTies, 2},
    {"exits_in_the_last_period", 50, 45, 2, 8.0, Stretches | Overflows},
    {"just_past_two_to_the_sixth", 64.0000003, 20, 2, 1.0, Stretches},
};

constexpr std::uint64_t kShortestPeriod = 4'000'000;

#if defined(QUADRILO_EMULATED)
constexpr bool kEmulated = true;
#else
constexpr bool kEmulated = false;
#endif

// Every row, or under an emulator those two (see CMakeLists.txt).
std::vector<Row> rowsToRun()
{
    std::vector<Row> rows;
    for (const Row& row : kRows)
        if (!kEmulated || row.name == "right_angle_steep_peaks" || row.name == "exits_in_the_last_period")
            rows.push_back(row);
    return rows;
}

class PeriodicSums : public testing::TestWithParam<std::tuple<Row, Isa>> {};

TEST_P(PeriodicSums, HaveThePlainLoopsBits)
{
    const auto& [row, isa] = GetParam();
    if (!quadrilo::isaSupported(isa))
        GTEST_SKIP() << "not on this processor";
    // Periods only: these rows are for their parts.
    Engine engine(EngineSettings{
        0, isa, {}, PeriodSettings{true, 1.0, row.mostPeriods, row.overreach, kShortestPeriod, row.mostSettled, false}});
    const auto periodic = engine.firstKind(row.phi, row.degrees);
    ASSERT_TRUE(periodic);
    const auto plain = firstKind(row.phi, row.degrees, {}, isa);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->periods.stretches + plain->periods.flatStretches, 0u) << "the plain engine used periods";
    EXPECT_EQ(periodic->sum, plain->sum) << std::hexfloat << periodic->sum << " against " << plain->sum;
    EXPECT_EQ(periodic->passes, plain->passes);
    EXPECT_EQ(periodic->lastCounter, plain->lastCounter);

    struct Shown {
        Shows part;
        std::uint64_t PeriodWork::*count;
        const char* name;
    };
    const Shown parts[] = {
        {Stretches, &PeriodWork::stretches, "stretches"},  {Flat, &PeriodWork::flatStretches, "flat stretches"},
        {Ties, &PeriodWork::ties, "ties"},                  {Overflows, &PeriodWork::overflows, "overflows"},
        {Splits, &PeriodWork::splits, "splits"},            {Searches, &PeriodWork::estimates, "estimates"},
        {Exact, &PeriodWork::madeTerms, "made terms"},      {CutAtTies, &PeriodWork::cutAtTies, "cuts at ties"},
    };
    for (const Shown& shown : parts)
        if (row.shows & shown.part)
            EXPECT_GT(periodic->periods.*shown.count, 0u) << "no " << shown.name;
}

INSTANTIATE_TEST_SUITE_P(, PeriodicSums,
                         testing::Combine(testing::ValuesIn(rowsToRun()),
                                          testing::Values(Isa::Avx512, Isa::Avx2, Isa::Scalar)),
                         [](const auto& info) {
                             return std::get<0>(info.param).name + "_" + quadrilo::isaName(std::get<1>(info.param));
                         });

// Stretches by bands wherever their edges are few enough, from the first
// radian on: at small arguments only, since near S = 1 a unit is 2^-52 and
// the edges number some 2^32 m. The same bits as every pass summed.
struct BandRow {
    std::string name;
    double phi, degrees, overreach;
    std::uint64_t mostTies;
    unsigned shows; // of Stretches (by bands), Ties, CutAtTies, Overflows
};
void PrintTo(const BandRow& row, std::ostream* out) { *out << row.name; }

class BandSums : public testing::TestWithParam<BandRow> {};

TEST_P(BandSums, HaveThePlainLoopsBits)
{
    const BandRow& row = GetParam();
    if (kEmulated && row.name != "tenth_of_a_degree")
        GTEST_SKIP() << "one row under an emulator";
    PeriodSettings settings{true, 1.0, 0, row.overreach, kShortestPeriod};
    settings.alwaysBands = true;
    settings.mostBandTies = row.mostTies;
    Engine engine(EngineSettings{0, quadrilo::bestIsa(), {}, settings});
    const auto banded = engine.firstKind(row.phi, row.degrees);
    ASSERT_TRUE(banded);
    const auto plain = firstKind(row.phi, row.degrees);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->periods.bandStretches, 0u) << "the plain engine used bands";
    EXPECT_EQ(banded->sum, plain->sum) << std::hexfloat << banded->sum << " against " << plain->sum;
    EXPECT_EQ(banded->passes, plain->passes);

    struct Shown {
        Shows part;
        std::uint64_t PeriodWork::*count;
        const char* name;
    };
    const Shown parts[] = {
        {Stretches, &PeriodWork::bandStretches, "stretches by bands"},
        {Ties, &PeriodWork::ties, "ties"},
        {CutAtTies, &PeriodWork::cutAtTies, "cuts at ties"},
        {Overflows, &PeriodWork::overflows, "overflows"},
        {Peaks, &PeriodWork::peakPasses, "passes near the peaks"},
    };
    for (const Shown& shown : parts)
        if (row.shows & shown.part)
            EXPECT_GT(banded->periods.*shown.count, 0u) << "no " << shown.name;
}

INSTANTIATE_TEST_SUITE_P(, BandSums,
                         testing::Values(BandRow{"tenth_of_a_degree", 40, 0.1, 1.0, 16, Stretches | Ties | Peaks},
                                         BandRow{"minus_three_tenths", 40, -0.3, 1.0, 16, Stretches | Ties | Peaks},
                                         BandRow{"hundredth_of_a_degree", 40, 0.01, 1.0, 16, Stretches},
                                         BandRow{"ties_cut_stretches_short", 40, 0.1, 1.0, 0, Stretches | CutAtTies | Peaks},
                                         BandRow{"exits_the_binade", 50, 0.2, 8.0, 16, Stretches | Overflows | Peaks},
                                         BandRow{"just_past_two_to_the_sixth", 64.0000003, 0.05, 1.0, 16, Stretches | Peaks},
                                         BandRow{"eighty_degrees", 40, 80, 1.0, 16, Stretches | Peaks},
                                         BandRow{"right_angle", 40, 90, 1.0, 16, Stretches | Peaks}),
                         [](const auto& info) { return info.param.name; });

// m = 1 exactly, and a pass point whose sine rounds to 1: the root of 0 is
// a division by zero, inside a stretch as in the plain loop.
TEST(PeriodicEvaluation, ReportsARootOfZeroAsTheDivisionByZero)
{
    if (kEmulated)
        GTEST_SKIP() << "too slow under an emulator; the rows prove the arithmetic";
    Engine engine(EngineSettings{0, quadrilo::bestIsa(), {}, PeriodSettings{true, 1.0, 3, 1.0, kShortestPeriod}});
    try {
        engine.firstKind(142.9424658, 89.999999);
        FAIL() << "no division by zero";
    } catch (const quadrilo::RuntimeError& error) {
        EXPECT_EQ(error.code(), quadrilo::RuntimeError::DivisionByZero);
    }
}

// A stretch stops within a chunk of its residues when asked to, and the
// evaluation gives nothing.
TEST(PeriodicEvaluation, StopsWhenCancelledInsideAStretch)
{
    Engine engine(EngineSettings{0, quadrilo::bestIsa(), {}, PeriodSettings{true, 1.0, 3, 1.0, kShortestPeriod}});
    std::uint64_t calls = 0, lastDone = 0;
    const auto result = engine.firstKind(40, 30, [&](std::uint64_t done) {
        lastDone = done;
        return ++calls < 200;
    });
    EXPECT_FALSE(result);
    EXPECT_EQ(calls, 200u);
    EXPECT_LT(lastDone, 40'000'000u);
}

// A stretch by bands stops between its edges when asked to, and the
// evaluation gives nothing: asked again at the same pass, the engine is
// inside a stretch.
TEST(PeriodicEvaluation, StopsWhenCancelledInsideABandStretch)
{
    PeriodSettings settings{true, 1.0, 0, 1.0, kShortestPeriod};
    settings.alwaysBands = true;
    Engine engine(EngineSettings{0, quadrilo::bestIsa(), {}, settings});
    std::uint64_t last = 0, repeats = 0;
    const auto result = engine.firstKind(40, -0.3, [&](std::uint64_t done) {
        repeats = done == last ? repeats + 1 : 0;
        last = done;
        return repeats < 3;
    });
    EXPECT_FALSE(result);
    EXPECT_EQ(repeats, 3u);
    EXPECT_LT(last, 40'000'000u);
}

} // namespace

namespace {

// The same stretches cut by two different periods (the shortest, some 3.1
// million passes, and a convergent of up to 40 million) give the same bits.
TEST(PeriodicEvaluation, GivesTheSameBitsFromTwoPeriods)
{
    if (kEmulated)
        GTEST_SKIP() << "too slow under an emulator; the rows prove the arithmetic";
    const double phi = 120, degrees = 10;
    std::optional<double> sums[2];
    std::uint64_t stretches[2] = {};
    int i = 0;
    for (std::uint64_t longest : {kShortestPeriod, std::uint64_t{40'000'000}}) {
        PeriodSettings settings{true, 1.0, 3, 1.0, longest};
        settings.bands = false;
        Engine engine(EngineSettings{0, quadrilo::bestIsa(), {}, settings});
        const auto result = engine.firstKind(phi, degrees);
        ASSERT_TRUE(result);
        sums[i] = result->sum;
        stretches[i++] = result->periods.stretches;
    }
    EXPECT_GT(stretches[0], 0u);
    EXPECT_GT(stretches[1], 0u);
    EXPECT_NE(stretches[0], stretches[1]) << "the same periods, most likely";
    EXPECT_EQ(sums[0], sums[1]);
    EXPECT_EQ(sums[0], firstKind(phi, degrees)->sum);
}

} // namespace

namespace {

// The share of planned work that the time left follows only grows, and ends
// near the whole: the plan priced the stretches as the evaluation did.
TEST(PeriodicEvaluation, ReportsItsShareOfThePlannedWork)
{
    if (kEmulated)
        GTEST_SKIP() << "too slow under an emulator; the rows prove the arithmetic";
    Engine engine(EngineSettings{0, quadrilo::bestIsa(), {}, PeriodSettings{true, 1.0, 3, 1.0, kShortestPeriod}});
    double last = 0.0;
    bool grows = true;
    const auto result = engine.firstKind(40, 30, [&](std::uint64_t) {
        const double share = engine.workShare();
        grows = grows && share >= last;
        last = share;
        return true;
    });
    ASSERT_TRUE(result);
    EXPECT_GT(result->periods.stretches + result->periods.bandStretches, 0u);
    EXPECT_TRUE(grows);
    EXPECT_GT(engine.workShare(), 0.5);
    EXPECT_LE(engine.workShare(), 1.0);
}

} // namespace
