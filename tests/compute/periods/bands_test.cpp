#include "compute/exact/sine.h"
#include "compute/periods/bands.h"
#include "compute/periods/stretch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

namespace {

using quadrilo::Bands;
using quadrilo::BandSettings;
using quadrilo::Crew;
using quadrilo::Segment;

struct Row {
    std::string name;
    double base, degrees;
    std::uint64_t passes;
    int scaleExponent;
    double startUnits; // S / u before the stretch: its parity settles ties
    BandSettings settings;
    std::uint64_t leastTies = 0; // a row for ties shows that many at least
    std::uint64_t top = ~std::uint64_t{0}; // edges below it, the terms past it made
};
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// The stretch pass by pass, as the loop adds it: each term's units at S's
// scale, a tie going to the even sum. The oracle.
struct ByPasses {
    std::uint64_t units = 0, ties = 0;
    double lowestTie = INFINITY, highestTie = 0.0; // v at them
    std::optional<std::uint64_t> firstTie;
};
ByPasses byPasses(const Segment& segment, double m, std::uint64_t passes, double scale, double startUnits)
{
    ByPasses result;
    auto sum = static_cast<std::uint64_t>(startUnits);
    for (std::uint64_t j = 0; j < passes; ++j) {
        const double v = quadrilo::firstKindTerm(segment.point(segment.firstPass + j), m) * scale;
        auto units = static_cast<std::uint64_t>(std::nearbyint(v));
        if (v - std::floor(v) == 0.5) {
            units = static_cast<std::uint64_t>(std::floor(v));
            units += (sum + units) % 2;
            ++result.ties;
            result.lowestTie = std::min(result.lowestTie, v);
            result.highestTie = std::max(result.highestTie, v);
            if (!result.firstTie)
                result.firstTie = j;
        }
        sum += units;
        result.units += units;
    }
    return result;
}

Segment segmentFrom(double base, std::uint64_t passes)
{
    return Segment{0, base, (base + 0.000001) - base, passes};
}

// As the program takes it: at a right angle sin^2 rounds to 1 - 2^-51.
double modulusOf(double degrees)
{
    if (degrees == 90)
        return 1 - 0x1p-51;
    const double s = std::sin(degrees * 3.141592653589793 / 180);
    return s * s;
}

class BandCount : public testing::TestWithParam<Row> {};

TEST_P(BandCount, IsTheLoopsUnitsPassByPass)
{
    const Row& row = GetParam();
    const quadrilo::SineScratch scratch;
    Crew crew(2, {}, [](const std::function<void()>& serve) {
        const quadrilo::SineScratch own;
        serve();
    });
    const Segment segment = segmentFrom(row.base, row.passes);
    const double m = modulusOf(row.degrees), scale = std::ldexp(1.0, row.scaleExponent);
    Bands bands(m, row.settings, &quadrilo::kernel::forIsa(quadrilo::bestIsa()));
    const auto count =
        bands.count(segment, 0, row.passes, scale, row.startUnits, crew, [] { return true; }, row.top);
    ASSERT_TRUE(count);
    ASSERT_FALSE(count->doubtful);
    if (row.settings.widening != 0)
        EXPECT_GT(count->halved, 0u) << "no bracket was halved";
    const ByPasses expected = byPasses(segment, m, row.passes, scale, row.startUnits);
    EXPECT_GE(expected.ties, row.leastTies) << "the row no longer shows ties";
    if (row.top < count->levels) {
        EXPECT_GT(count->peakPasses, 0u) << "no term made past the top";
        EXPECT_LT(count->peakPasses, row.passes) << "every term made";
        // The top's half unit, from the least term's, h scale.
        const double top = std::ceil(0.000001 * scale - 0.5) + static_cast<double>(row.top) + 0.5;
        if (row.leastTies > 0)
            EXPECT_GE(expected.highestTie, top) << "no tie past the top";
        if (row.name.find("both_sides") != std::string::npos)
            EXPECT_LT(expected.lowestTie, top) << "no tie below the top";
    }
    if (count->tie) {
        EXPECT_GT(expected.ties, row.settings.mostTies) << "cut short though it could settle them";
        EXPECT_EQ(count->firstTie, expected.firstTie.value_or(~std::uint64_t{0}));
        return;
    }
    EXPECT_TRUE(count->units == expected.units)
        << static_cast<unsigned long long>(count->units) << " against " << expected.units;
    EXPECT_EQ(count->ties, expected.ties);
}

constexpr std::uint64_t kShortChunk = 1 << 14;

// Scales from S's own (2^42 for S near 1000) up to far finer ones, where
// the half units fall on many terms and ties abound.
INSTANTIATE_TEST_SUITE_P(
    , BandCount,
    testing::Values(Row{"one_degree", 1024, 1, 200000, 42, 0, {}},
                    Row{"five_degrees", 1024, 5, 100000, 40, 0, {}},
                    Row{"eighty_degrees_many_edges", 1024, 80, 20000, 36, 0, {}},
                    Row{"no_argument_one_level", 1024, 0, 50000, 36, 0, {}},
                    Row{"minus_thirty_degrees_coarse", 3000, -30, 100000, 33, 0, {}},
                    // Across a peak at nearly a right angle (m = 1 - 2^-51),
                    // where v steps over many half units between doubles.
                    Row{"right_angle_across_a_peak", 0x1.fffffff85b399p+29, 90, 100000, 19, 0, {}},
                    Row{"right_angle_coarse_near_a_peak", 0x1.ff44ea93e48f0p+9, 90, 100000, 12, 0, {}},
                    Row{"short_chunks", 1024, 1, 100000, 42, 0, {kShortChunk, 0, 16, 0x1p17}},
                    Row{"halved_brackets", 1024, 5, 50000, 40, 0, {std::uint64_t{1} << 40, std::uint64_t{1} << 62, 16, 0x1p17}},
                    Row{"ties_settled_from_an_even_sum", 1, 0.01, 200000, 57, 0, {}, 5},
                    Row{"ties_settled_from_an_odd_sum", 1, 0.01, 200000, 57, 1, {}, 5},
                    Row{"ties_across_short_chunks", 1, 0.01, 200000, 57, 1, {kShortChunk, 0, 16, 0x1p17}, 5},
                    Row{"ties_with_edges_made_again", 1, 0.01, 200000, 57, 1, {std::uint64_t{1} << 40, 0, 16, 0}, 5},
                    Row{"too_many_ties_give_the_first", 1, 0.01, 200000, 60, 0, {}, 17},
                    // Edges up to a top half unit, the terms past it made:
                    // across a peak, and on the rising side of one.
                    Row{"peaks_past_a_top", 1022.57, 80, 20000, 36, 0, {}, 0, 326000},
                    Row{"right_angle_past_a_top", 0x1.fffffff85b399p+29, 90, 100000, 19, 0, {}, 0, 2'000'000},
                    // Runs from wide windows, that start and end on passes
                    // short of the top.
                    Row{"peaks_past_a_top_from_wide_windows", 1022.57, 80, 20000, 36, 0,
                        {std::uint64_t{1} << 54, 0, 16, 0x1p17, 0x1p-12}, 0, 326000},
                    Row{"right_angle_past_a_top_from_wide_windows", 0x1.fffffff85b399p+29, 90, 100000, 19, 0,
                        {std::uint64_t{1} << 54, 0, 16, 0x1p17, 0x1p-9}, 0, 2'000'000},
                    Row{"ties_past_a_top_settled", 1, 0.01, 200000, 57, 1, {}, 5, 1560},
                    Row{"ties_on_both_sides_of_a_top", 1, 0.01, 200000, 57, 0, {}, 5, 1700},
                    Row{"too_many_ties_past_a_top_give_the_first", 1, 0.01, 200000, 60, 0, {}, 17, 12500}),
    [](const auto& info) { return info.param.name; });

// Told to stop, a count gives nothing; the next one makes the edges it
// left unmade, and counts right.
TEST(BandCountStopped, GivesNothingAndTheNextCountsRight)
{
    const quadrilo::SineScratch scratch;
    Crew crew(1, {}, {});
    const Segment segment = segmentFrom(1024, 20000);
    const double m = modulusOf(80);
    Bands bands(m);
    int asked = 0;
    EXPECT_FALSE(bands.count(segment, 0, 20000, 0x1p36, 0, crew, [&] { return ++asked < 3; }));
    EXPECT_EQ(asked, 3);
    const auto count = bands.count(segment, 0, 20000, 0x1p36, 0, crew, [] { return true; });
    ASSERT_TRUE(count);
    EXPECT_TRUE(count->units == byPasses(segment, m, 20000, 0x1p36, 0).units);
}

// Told to stop among the runs near the peaks, a count gives nothing too,
// and leaves the next one right.
TEST(BandCountStopped, AmongThePeaksGivesNothing)
{
    const quadrilo::SineScratch scratch;
    Crew crew(1, {}, {});
    const Segment segment = segmentFrom(1, 8'000'000);
    const double m = modulusOf(0.01);
    const auto& kernel = quadrilo::kernel::forIsa(quadrilo::bestIsa());
    Bands bands(m, {}, &kernel);
    int asked = 0;
    // One edge: the runs alone ask.
    EXPECT_FALSE(bands.count(segment, 0, 8'000'000, 0x1p57, 0, crew, [&] { return ++asked < 3; }, 1));
    EXPECT_EQ(asked, 3);
    const auto count = bands.count(segment, 0, 8'000'000, 0x1p57, 0, crew, [] { return true; }, 1);
    Bands fresh(m, {}, &kernel);
    const auto again = fresh.count(segment, 0, 8'000'000, 0x1p57, 0, crew, [] { return true; }, 1);
    ASSERT_TRUE(count && again);
    EXPECT_GT(count->peakRuns, 3 * 64u);
    EXPECT_TRUE(count->units == again->units);
}

// The cost model's estimate of the edges: the half units where the term
// rises slowly, one for each double where it rises steeply; near enough to
// the edges a count makes.
TEST(BandEdges, AreEstimatedNearlyAsMade)
{
    const quadrilo::SineScratch scratch;
    Crew crew(2, {}, [](const std::function<void()>& serve) {
        const quadrilo::SineScratch own;
        serve();
    });
    struct Case {
        double degrees, base, scale;
        std::uint64_t top = ~std::uint64_t{0};
    };
    for (const Case& c : {Case{30, 4096, 0x1p36}, Case{90, 0x1p30, 0x1p19}, Case{90, 0x1p33, 0x1p15},
                          Case{90, 0x1p30, 0x1p19, 2'000'000}, Case{30, 4096, 0x1p36, 100'000}}) {
        Bands bands(modulusOf(c.degrees), {}, &quadrilo::kernel::forIsa(quadrilo::bestIsa()));
        const auto count =
            bands.count(segmentFrom(c.base, 1000), 0, 1000, c.scale, 0, crew, [] { return true; }, c.top);
        ASSERT_TRUE(count);
        const double made = static_cast<double>(count->edges), estimated = bands.edgesOf(c.scale, c.top);
        EXPECT_GT(estimated, 0.8 * made) << c.degrees << " degrees";
        EXPECT_LT(estimated, 1.25 * made) << c.degrees << " degrees";
        if (c.degrees == 90)
            EXPECT_LT(made, 0.2 * static_cast<double>(count->levels)) << "one edge for each half unit";
    }
}

// A plan stops the edges below the peaks where they crowd, at nearly a
// right angle, and only with a kernel to make the terms past them; its
// cost is the cheaper for it.
TEST(BandPlan, StopsTheEdgesWhereThePeaksCrowdThem)
{
    const quadrilo::BandCosts costs{9000, 3.5, 400};
    const auto& kernel = quadrilo::kernel::forIsa(quadrilo::bestIsa());
    const double scale = 0x1p29, passes = 1e12; // S's binade near theta = 10^6
    const Bands steep(modulusOf(90), {}, &kernel);
    const quadrilo::BandPlan plan = steep.plan(scale, passes, costs);
    const std::uint64_t levels = steep.levels(scale, ~std::uint64_t{0}).value();
    EXPECT_LT(plan.top, levels);
    EXPECT_GT(plan.peakPasses, 0.0);
    EXPECT_LT(plan.edges, 0.1 * steep.edgesOf(scale));
    EXPECT_LT(plan.cost, 0.1 * steep.edgesOf(scale) * costs.edge);

    const quadrilo::BandPlan without = Bands(modulusOf(90)).plan(scale, passes, costs);
    EXPECT_EQ(without.top, levels);
    EXPECT_EQ(without.peakPasses, 0.0);
    EXPECT_EQ(without.cost, steep.edgesOf(scale) * costs.edge);
}

// No bands where the largest term is infinite, or the edges too many.
TEST(BandLevels, AreTheHalfUnitsBetweenTheLeastAndLargestTerm)
{
    EXPECT_EQ(Bands(0.0).levels(0x1p40, 100), 0u);
    EXPECT_EQ(Bands(modulusOf(60)).levels(0x1p20, 100), 1u) << "1e-6 2^20 and 2e-6 2^20 lie either side of 1.5";
    EXPECT_EQ(Bands(1.0).levels(0x1p20, 100), std::nullopt);
    EXPECT_EQ(Bands(modulusOf(90)).levels(0x1p46, ~std::uint64_t{0}), std::nullopt) << "a term of 2^51 units";
    EXPECT_EQ(Bands(modulusOf(80)).levels(0x1p40, 1000), std::nullopt);
}

} // namespace
