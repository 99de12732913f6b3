#include "compute/engine.h"
#include "compute/exact/sine.h"
#include "compute/kernels/kernels.h"
#include "compute/yardsticks/reference.h"
#include "platform/errors.h"
#include "tests/compute/engines.h"
#include "tests/compute/runs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using quadrilo::Isa;

// A row of data/sums.txt: an evaluation and the bits it gives everywhere.
struct Sum {
    std::string name;
    int kind = 1;
    double phi = 0.0, degrees = 0.0;
    std::uint64_t passes = 0;
    double lastCounter = 0.0;
    std::optional<double> sum; // none: a division by zero
};
void PrintTo(const Sum& row, std::ostream* out) { *out << row.name; }

std::vector<Sum> sums(std::uint64_t mostPasses = UINT64_MAX)
{
    std::ifstream file(QUADRILO_SUMS);
    std::vector<Sum> rows;
    for (std::string line; std::getline(file, line);) {
        std::istringstream in(line);
        Sum row;
        std::string counter, sum; // hexadecimal, exact
        if (line[0] != '#' && in >> row.name >> row.kind >> row.phi >> row.degrees >> row.passes >> counter >> sum &&
            row.passes <= mostPasses) {
            row.lastCounter = std::strtod(counter.c_str(), nullptr);
            row.sum = sum == "zero" ? std::nullopt : std::optional(std::strtod(sum.c_str(), nullptr));
            rows.push_back(row);
        }
    }
    if (rows.size() < 20)
        throw std::runtime_error("cannot read " QUADRILO_SUMS);
    return rows;
}

std::optional<quadrilo::Evaluation> evaluate(const Sum& row, Isa isa)
{
    return row.kind == 2 ? secondKind({}, isa) : firstKind(row.phi, row.degrees, {}, isa);
}

class Sums : public testing::TestWithParam<Sum> {};

TEST_P(Sums, TheEngineGivesTheTableBits)
{
    const Sum& row = GetParam();
    for (Isa isa : supportedIsas()) {
        if (!row.sum) {
            EXPECT_THROW(evaluate(row, isa), quadrilo::RuntimeError) << quadrilo::isaName(isa);
            continue;
        }
        const auto result = evaluate(row, isa);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->passes, row.passes) << quadrilo::isaName(isa);
        EXPECT_EQ(result->lastCounter, row.lastCounter) << quadrilo::isaName(isa);
        EXPECT_EQ(result->sum, *row.sum) << quadrilo::isaName(isa) << " is off by " << (result->sum - *row.sum);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, Sums, testing::ValuesIn(sums()),
                         [](const testing::TestParamInfo<Sum>& info) { return info.param.name; });

// The table is no copy to trust: the readable loop gives it again, for the
// rows it can run in a few seconds (none of them a division by zero).
class ReferenceSums : public testing::TestWithParam<Sum> {};

TEST_P(ReferenceSums, TheReferenceGivesTheTableBits)
{
    const Sum& row = GetParam();
    const auto reference = row.kind == 2 ? quadrilo::secondKindReference()
                                         : quadrilo::firstKindReference(row.phi, row.degrees);
    EXPECT_EQ(reference.passes, row.passes);
    EXPECT_EQ(reference.lastCounter, row.lastCounter);
    ASSERT_TRUE(row.sum);
    EXPECT_EQ(reference.sum, *row.sum);
}

INSTANTIATE_TEST_SUITE_P(Table, ReferenceSums, testing::ValuesIn(sums(2'000'000)),
                         [](const testing::TestParamInfo<Sum>& info) { return info.param.name; });

// How many of a run's terms differ from the reference's term at the same
// point.
int wrongTerms(const quadrilo::kernel::Run& run, const std::vector<double>& t, double m, quadrilo::Kind kind)
{
    int wrong = 0;
    for (std::size_t j = 0; j < run.count; ++j) // a root of 0 on both sides is +inf
        wrong += t[j] != quadrilo::term(run.base + (run.first + static_cast<double>(j)) * run.stride, m, kind);
    return wrong;
}

// A run of real pass points that ends where x's binade does.
quadrilo::kernel::Run runNear(double x, std::uint64_t count, std::size_t lanes)
{
    const quadrilo::PassPlan plan = quadrilo::planPasses(x);
    const quadrilo::Segment& segment = plan.segments.at(plan.segments.size() - 2);
    return runOf(segment, segment.count > count ? segment.count - count : 0, count, lanes);
}

// Every kernel against the reference's own term, point by point: the sines
// stepped by rotation must round exactly as the correctly rounded sine.
TEST(Kernels, TermsOfARunEqualTheReferenceTerms)
{
    for (const double x : {0.001, 0.5, 1.5707963, 3.1415926535897931, 6.283185307179586, 100.0,
                           1000.0, 12345.678, 8589934591.0}) {
        for (const double m : {0.0, 0.25, 0.7499999999999999, 1.0}) {
            for (const quadrilo::Kind kind : {quadrilo::Kind::First, quadrilo::Kind::Second}) {
                for (Isa isa : supportedIsas()) {
                    const auto& kernel = quadrilo::kernel::forIsa(isa);
                    const auto run = runNear(x, 3001, kernel.lanes);
                    if (run.stride == 0.0)
                        continue;
                    std::vector<double> t(run.count + quadrilo::kernel::kMaxLanes);
                    bool exact = false;
                    EXPECT_EQ(kernel.terms(run, m, kind, 0.0, t.data(), &exact), 0.0);
                    EXPECT_EQ(wrongTerms(run, t, m, kind), 0)
                        << quadrilo::isaName(isa) << " near " << x << " m " << m;
                }
            }
        }
    }
}

// The benchmarks' yardstick really takes a root and a division a pass: its
// sum is that of 1 / sqrt(x) along its chains, x = 1, 2, ... in each.
TEST(Kernels, TheFloorTakesARootAndADivisionAPass)
{
    for (Isa isa : supportedIsas()) {
        const auto& kernel = quadrilo::kernel::forIsa(isa);
        const std::size_t width = isa == Isa::Avx512 ? 8 : isa == Isa::Avx2 ? 4 : 1;
        double sum = 0.0;
        for (int chain = 0; chain < 4; ++chain)
            for (std::size_t pass = 0; pass < 1024 / (4 * width); ++pass)
                sum += static_cast<double>(width) / std::sqrt(1.0 + chain + static_cast<double>(pass));
        EXPECT_NEAR(kernel.floor(1024), sum, 1e-12 * sum) << quadrilo::isaName(isa);
    }
}

// Runs that end near a zero of the sine or cross it, short and as long as a
// block, on both sides of the clearance the kernels' shortcuts need. The
// clearance is no more than the least |sin| at every point the kernel steps
// through, its rows past the run's end included, and at least 2^-6 where it
// is not 0; far from a zero, it is not 0. Either way the terms are the
// reference's.
TEST(Kernels, RunsNearAZeroOfTheSineEqualTheReferenceTerms)
{
    constexpr double pi = 3.141592653589793;
    const quadrilo::PassPlan plan = quadrilo::planPasses(4.0);
    const quadrilo::Segment& segment = plan.segments.back();
    for (Isa isa : supportedIsas()) {
        const auto& kernel = quadrilo::kernel::forIsa(isa);
        for (const double distance : {1.0, 0.05, 0.035, 0.02, 0.016, 0.01}) {
            for (const std::size_t count : {70u, 3001u, 1u << 15}) {
                const auto first = static_cast<std::uint64_t>((pi - distance - segment.base) / segment.stride);
                const auto run = runOf(segment, first, count, kernel.lanes);
                const std::size_t stepped = ((count + kernel.lanes - 1) / kernel.lanes + 2) * kernel.lanes;
                double least = 1.0;
                for (std::size_t j = 0; j < stepped; ++j)
                    least = std::min(least, std::abs(std::sin(segment.point(segment.firstPass + first + j))));
                const std::string where = std::string(quadrilo::isaName(isa)) + " at " + std::to_string(distance) +
                                          " before pi, " + std::to_string(count) + " points";
                const double clearance = kernel.clearance(run);
                if (clearance != 0.0) {
                    EXPECT_GE(clearance, 0x1p-6) << where;
                    EXPECT_LE(clearance, least) << where;
                }
                if (distance == 1.0)
                    EXPECT_NE(clearance, 0.0) << where;
                std::vector<double> t(count + quadrilo::kernel::kMaxLanes);
                bool exact = false;
                kernel.terms(run, 0.75, quadrilo::Kind::First, 0.0, t.data(), &exact);
                EXPECT_EQ(wrongTerms(run, t, 0.75, quadrilo::Kind::First), 0) << where;
            }
        }
    }
}

// Values whose correct rounding is known independently of any library:
// the signed zeros, a subnormal that keeps itself, and pi - fl(pi), which
// is 1.2246467991473532e-16 to 17 digits.
TEST(CorrectSine, IsTheNearestDouble)
{
    for (const auto& [x, sine] : {std::pair{-0.0, -0.0}, {1e-310, 1e-310}, {3.141592653589793, 1.2246467991473532e-16},
                                  {-1.5707963267948966, -1.0}}) {
        EXPECT_EQ(quadrilo::correctSin(x), sine) << x;
        EXPECT_EQ(std::signbit(quadrilo::correctSin(x)), std::signbit(sine)) << x;
    }
}

// A block far into a segment starts from up to 39 turns: together they must
// stay within the 2^-96 that the kernels ask of a run's first point. Every
// angle here is exact, so the multiple-precision sine of the sum is the truth.
TEST(Turns, ThirtyNineStayWithinTheKernelsBound)
{
    const double base = 1.0, step = 3 * 0x1p-20;
    quadrilo::DoubleDouble sine, cosine, S, C, truthSine, truthCosine;
    quadrilo::sinCosOfMultiple(base, 1, sine, cosine);
    for (int k = 0; k < 39; ++k) {
        quadrilo::sinCosOfMultiple(std::ldexp(step, k), 1, S, C);
        quadrilo::turn(sine, cosine, S, C);
    }
    quadrilo::sinCosOfMultiple(base + step * (0x1p39 - 1), 1, truthSine, truthCosine);
    EXPECT_LE(std::abs((sine.hi - truthSine.hi) + (sine.lo - truthSine.lo)), 0x1p-96);
    EXPECT_LE(std::abs((cosine.hi - truthCosine.hi) + (cosine.lo - truthCosine.lo)), 0x1p-96);
}

struct UnitsCase {
    const char* name;
    std::vector<double> terms;
    double scale;
    double units;
    bool exact;
};

class KernelUnits : public testing::TestWithParam<UnitsCase> {};

TEST_P(KernelUnits, RoundEachTermAndFlagTies)
{
    const UnitsCase& c = GetParam();
    for (Isa isa : supportedIsas()) {
        // Padded with zeros to 32 terms: the unrolled loops of the vector
        // kernels run too, not only their tails.
        std::vector<double> terms = c.terms;
        terms.resize(32, 0.0);
        bool exact = !c.exact;
        const double units = quadrilo::kernel::forIsa(isa).units(terms.data(), terms.size(), c.scale, &exact);
        EXPECT_EQ(exact, c.exact) << quadrilo::isaName(isa);
        // Past 2^52 a count need only show that it is too large.
        if (c.exact)
            EXPECT_EQ(std::min(units, 0x1p52), std::min(c.units, 0x1p52)) << quadrilo::isaName(isa);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, KernelUnits,
    testing::Values(
        UnitsCase{"RoundsToNearest", {1.25, 2.75, 0.49, 0.51, 0, 0, 0, 0}, 1.0, 1 + 3 + 0 + 1, true},
        UnitsCase{"ScalesByAPowerOfTwo", {0.5, 0.25, 0.125, 0, 0, 0, 0, 3}, 8.0, 4 + 2 + 1 + 24, true},
        UnitsCase{"TieBelow", {0, 0, 0, 0, 0, 0, 2.5, 0}, 1.0, 0, false},
        UnitsCase{"TieAbove", {0, 0, 0, 0, 0, 0, 0, 0.5}, 1.0, 0, false},
        UnitsCase{"LargestThatFits", {0x1p52 - 1, 0, 0, 0, 0, 0, 0, 0}, 1.0, 0x1p52 - 1, true},
        UnitsCase{"TooLargeStaysTooLarge", {0x1p52 + 1, 0, 0, 0, 0, 0, 0, 0}, 1.0, 0x1p52 + 1, true},
        UnitsCase{"TieNearTheLimit", {0x1p52 - 1.5, 0, 0, 0, 0, 0, 0, 0}, 1.0, 0, false},
        // A root of 0: the count must not fit, and must not be NaN either.
        UnitsCase{"InfiniteTerm", {1, INFINITY, 0, 0, 0, 0, 0, 0}, 1.0, INFINITY, true}),
    [](const testing::TestParamInfo<UnitsCase>& info) { return std::string(info.param.name); });

// Each instruction set gets the kernel built for it: a mix-up would pass on
// a processor with every set and crash on one without. Asked for more than
// it may use, an engine takes the best it may.
TEST(Isa, EachSetGetsItsOwnKernelAndTheCapHolds)
{
    const char* cap = std::getenv("QUADRILO_ISA");
#if defined(__x86_64__)
    for (Isa isa : {Isa::Scalar, Isa::Avx2, Isa::Avx512})
        EXPECT_EQ(quadrilo::kernel::forIsa(isa).isa, isa) << quadrilo::isaName(isa);
    // Uncapped, the best is what the processor itself reports, or the
    // tables would silently leave its widest kernel out.
    const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    if (!cap)
        EXPECT_EQ(quadrilo::bestIsa(), __builtin_cpu_supports("avx512f") ? Isa::Avx512 : avx2 ? Isa::Avx2 : Isa::Scalar);
#endif
    EXPECT_EQ(quadrilo::Engine(quadrilo::EngineSettings{1, Isa::Avx512, {}, {}}).isa(), quadrilo::bestIsa());
    if (cap && std::string(cap) == "scalar")
        EXPECT_EQ(quadrilo::bestIsa(), Isa::Scalar);
}

} // namespace
