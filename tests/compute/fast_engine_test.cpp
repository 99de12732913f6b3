#include "compute/engine.h"
#include "compute/kernels.h"
#include "compute/reference.h"
#include "platform/errors.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

using quadrilo::Isa;

std::vector<Isa> supportedIsas()
{
    std::vector<Isa> isas;
    for (Isa isa : {Isa::Scalar, Isa::Sse2, Isa::Avx, Isa::Avx512})
        if (quadrilo::isaSupported(isa))
            isas.push_back(isa);
    return isas;
}

struct Case {
    std::string name;
    double phi;
    double degrees;
};

std::string safeName(std::string name)
{
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

// Ends in every binade up to 64, at pass points and next to them, and
// arguments across two turns either way.
std::vector<Case> cases()
{
    std::vector<Case> all;
    for (int e = -21; e <= 6; ++e) {
        const double phi = std::ldexp(1.0, e);
        all.push_back({"TwoToThe" + std::to_string(e), phi, 30});
        all.push_back({"JustBelowTwoToThe" + std::to_string(e), std::nextafter(phi, 0.0), 60});
        all.push_back({"ThreeQuartersOfTwoToThe" + std::to_string(e), 0.75 * phi, 89.9});
    }
    double theta = 0.0;
    for (int i = 0; i < 2500000; ++i)
        theta += quadrilo::kStep;
    all.push_back({"AtAPassPoint", theta, 45});
    all.push_back({"BelowAPassPoint", std::nextafter(theta, 0.0), 45});
    all.push_back({"AboveAPassPoint", std::nextafter(theta, 9.0), 45});
    for (double degrees : {-720.0, -450.0, -90.0, -45.5, 0.0, 13.0, 90.0, 179.0, 270.3, 360.0, 720.0})
        all.push_back({(degrees < 0 ? "ArgumentMinus" : "Argument") +
                           std::to_string(std::abs(degrees)), 1.5707963, degrees});
    all.push_back({"Hundred", 100.0, 30});
    return all;
}

class FastEngine : public testing::TestWithParam<Case> {};

TEST_P(FastEngine, EqualsTheReferenceBitForBitOnEveryInstructionSet)
{
    const Case& c = GetParam();
    const auto reference = quadrilo::firstKindReference(c.phi, c.degrees);
    for (Isa isa : supportedIsas()) {
        const auto fast = quadrilo::firstKind(c.phi, c.degrees, {}, isa);
        ASSERT_TRUE(fast);
        EXPECT_EQ(fast->passes, reference.passes) << quadrilo::isaName(isa);
        EXPECT_EQ(fast->lastCounter, reference.lastCounter) << quadrilo::isaName(isa);
        EXPECT_EQ(fast->sum, reference.sum) << quadrilo::isaName(isa) << " differs by "
                                            << (fast->sum - reference.sum);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, FastEngine, testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<Case>& info) {
                             return safeName(info.param.name);
                         });

TEST(FastEngine, SecondKindEqualsTheReference)
{
    const auto reference = quadrilo::secondKindReference();
    for (Isa isa : supportedIsas()) {
        const auto fast = quadrilo::secondKind({}, isa);
        ASSERT_TRUE(fast);
        EXPECT_EQ(fast->sum, reference.sum) << quadrilo::isaName(isa);
        EXPECT_EQ(fast->passes, reference.passes);
    }
}

TEST(FastEngine, ZeroRootIsADivisionByZeroOnEveryInstructionSet)
{
    for (Isa isa : supportedIsas()) {
        try {
            quadrilo::firstKind(142.9424658, 89.9999993, {}, isa);
            ADD_FAILURE() << "evaluated with " << quadrilo::isaName(isa);
        } catch (const quadrilo::RuntimeError& error) {
            EXPECT_EQ(error.code(), quadrilo::RuntimeError::DivisionByZero);
        }
    }
}

// Vector kernels against the scalar one, term by term, on random points:
// the same sine in every form, and every step rounded alike.
TEST(Kernels, GiveTheScalarKernelsBits)
{
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> angle(0.0, 200.0);
    std::vector<double> theta(4096);
    for (double& t : theta)
        t = angle(random);
    theta[0] = 0.0;
    theta[1] = 1.5707963267948966;
    const auto& scalar = quadrilo::kernel::forIsa(Isa::Scalar);
    for (const double m : {0.0, 0.25, 0.7499999999999999, 1.0})
        for (const bool reciprocal : {true, false}) {
            std::vector<double> expected(theta.size()), got(theta.size());
            const bool ok = scalar.terms(theta.data(), expected.data(), theta.size(), m, reciprocal);
            for (Isa isa : supportedIsas()) {
                const bool same = quadrilo::kernel::forIsa(isa).terms(
                    theta.data(), got.data(), theta.size(), m, reciprocal);
                EXPECT_EQ(same, ok) << quadrilo::isaName(isa);
                if (ok)
                    EXPECT_EQ(got, expected) << quadrilo::isaName(isa) << " m " << m;
            }
        }
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
        bool exact = !c.exact;
        const double units = quadrilo::kernel::forIsa(isa).units(c.terms.data(), c.terms.size(),
                                                                 c.scale, &exact);
        EXPECT_EQ(exact, c.exact) << quadrilo::isaName(isa);
        if (c.exact)
            EXPECT_EQ(units, c.units) << quadrilo::isaName(isa);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, KernelUnits,
    testing::Values(
        UnitsCase{"RoundsToNearest", {1.25, 2.75, 0.49, 0.51, 0, 0, 0, 0}, 1.0, 1 + 3 + 0 + 1, true},
        UnitsCase{"ScalesByAPowerOfTwo", {0.5, 0.25, 0.125, 0, 0, 0, 0, 3}, 8.0, 4 + 2 + 1 + 24, true},
        UnitsCase{"TieBelow", {0, 0, 0, 0, 0, 0, 2.5, 0}, 1.0, 0, false},
        UnitsCase{"TieAbove", {0, 0, 0, 0, 0, 0, 0, 0.5}, 1.0, 0, false},
        UnitsCase{"TooLarge", {0x1p51, 0, 0, 0, 0, 0, 0, 0}, 1.0, 0, false},
        UnitsCase{"LargeButExact", {0x1p51 - 1, 0, 0, 0, 0, 0, 0, 0}, 1.0, 0x1p51 - 1, true}),
    [](const testing::TestParamInfo<UnitsCase>& info) { return std::string(info.param.name); });

TEST(Isa, TheBestIsSupportedAndTheCapHolds)
{
    EXPECT_TRUE(quadrilo::isaSupported(quadrilo::bestIsa()));
    EXPECT_TRUE(quadrilo::isaSupported(Isa::Scalar));
    const char* cap = std::getenv("QUADRILO_ISA");
    if (cap && std::string(cap) == "scalar")
        EXPECT_EQ(quadrilo::bestIsa(), Isa::Scalar);
}

} // namespace
