#include "compute/exact/fused.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include <mpfr.h>

namespace {

// a b + c rounded once by MPFR, within binary64's range, subnormals
// included: the oracle.
double mpfrFused(double a, double b, double c)
{
    const mpfr_exp_t emin = mpfr_get_emin(), emax = mpfr_get_emax();
    mpfr_set_emin(-1073);
    mpfr_set_emax(1024);
    mpfr_t x, y, z, r;
    mpfr_inits2(53, x, y, z, r, static_cast<mpfr_ptr>(nullptr));
    mpfr_set_d(x, a, MPFR_RNDN);
    mpfr_set_d(y, b, MPFR_RNDN);
    mpfr_set_d(z, c, MPFR_RNDN);
    const int inexact = mpfr_fma(r, x, y, z, MPFR_RNDN);
    mpfr_subnormalize(r, inexact, MPFR_RNDN);
    const double result = mpfr_get_d(r, MPFR_RNDN);
    mpfr_clears(x, y, z, r, static_cast<mpfr_ptr>(nullptr));
    mpfr_set_emin(emin);
    mpfr_set_emax(emax);
    return result;
}

std::uint64_t bitsOf(double x)
{
    std::uint64_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    return std::isnan(x) ? 0x7ff8000000000000ULL : bits;
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Row {
    const char* name;
    double a, b, c;
};

class Fused : public testing::TestWithParam<Row> {};

TEST_P(Fused, RoundsOnceAsMpfrDoes)
{
    const auto [name, a, b, c] = GetParam();
    const double expected = mpfrFused(a, b, c);
    EXPECT_EQ(bitsOf(quadrilo::fusedSoftware(a, b, c)), bitsOf(expected))
        << std::hexfloat << quadrilo::fusedSoftware(a, b, c) << " against " << expected;
    EXPECT_EQ(bitsOf(quadrilo::fused(a, b, c)), bitsOf(expected));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Fused,
    testing::Values(
        // (2^27 + 1)^2 - (2^28 - 1) = 2^54 + 2, halfway between 2^54 and 2^54 + 4.
        Row{"ExactTieGoesToEven", 0x1.0000002p27, 0x1.0000002p27, -0x1.ffffffep27},
        Row{"CancelsToPlusZero", 3, 5, -15},
        // The product less the addend's leading bits is exactly halfway
        // between two doubles; the addend's last bit, lost in the
        // alignment, puts the exact result just below.
        Row{"BelowAHalfwayPointByTheAddendsLostBit", 0x1.0000002000001p0, 0x1.0000004000001p0, -0x1.8000004000001p-78},
        Row{"AddendJustBelowHalfTheLastPlace", 1, 1, 0x1.fffffffffffffp-54},
        Row{"AddendExactlyHalfTheLastPlace", 0x1.0000000000001p0, 1, 0x1p-53},
        Row{"ProductFarBelowTheAddend", 0x1p-600, 0x1p-600, 1},
        Row{"SubnormalTieGoesToEven", 0x1p-1074, 0.5, 0x1p-1074},
        Row{"SubnormalDifference", 0x1.0000000000001p-537, 0x1p-537, -0x1p-1074},
        Row{"BelowHalfTheSmallestSubnormal", 0x1p-600, 0x1p-600, -0x1p-1074},
        Row{"IntoTheNormalRange", 0x1.fffffffffffffp-1023, 1, 0x1p-1074},
        Row{"ProductOfSubnormalAndHuge", 0x1.8p-1070, 0x1p1000, -0x1p-60},
        Row{"OverflowsToInfinity", 0x1p1000, 0x1p24, 0x1p1023},
        Row{"LargestFiniteStaysFinite", 0x1.fffffffffffffp1023, 1, -0x1p970},
        Row{"RoundsUpToInfinity", 0x1.fffffffffffffp1023, 1, 0x1p970},
        Row{"ProductOverflowsButTheSumDoesNot", 0x1p600, 0x1p600, -kInf},
        Row{"InfiniteTimesZero", kInf, 0, 1},
        Row{"InfinitiesOfOppositeSign", kInf, 2, -kInf},
        Row{"NaNAddend", 1, 1, kNaN},
        Row{"NegativeZeroPlusNegativeZero", -0.0, 1, -0.0},
        Row{"ZeroPlusNegativeZero", 0.0, -1, 0.0},
        Row{"UnderflowingProductKeepsItsSign", 1e-200, -1e-200, 0.0},
        Row{"ZeroProductLeavesTheAddend", 0.0, 5, -0x1.8p-1070}),
    [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

// Any finite operands, with exponents halved so that products reach from the
// subnormals to overflow. A third of the addends are the exact error of a
// rounded product, where MinGW-w64's fma was wrong; a third lie a few units
// from minus the product, so that the sum cancels.
TEST(Fused, RoundsRandomOperandsOfEveryRange)
{
    std::mt19937_64 random(7);
    const auto anyFinite = [&] {
        double x = 0;
        do {
            const std::uint64_t bits = random();
            std::memcpy(&x, &bits, sizeof x);
        } while (!std::isfinite(x));
        int e = 0;
        const double m = std::frexp(x, &e);
        return std::ldexp(m, e / 2);
    };
    std::uniform_int_distribution<int> nudge(-3, 3);
    int wrong = 0;
    for (int i = 0; i < 3 << 16; ++i) {
        const double a = anyFinite(), b = anyFinite();
        double c = anyFinite() * 0x1p-512;
        if (i % 3 != 2 && std::isfinite(a * b)) {
            c = -(a * b);
            for (int k = i % 3 ? nudge(random) : 0; k != 0; k += k < 0 ? 1 : -1)
                c = std::nextafter(c, k < 0 ? -kInf : kInf);
        }
        const double expected = mpfrFused(a, b, c);
        wrong += bitsOf(quadrilo::fusedSoftware(a, b, c)) != bitsOf(expected);
        wrong += bitsOf(quadrilo::fused(a, b, c)) != bitsOf(expected);
    }
    EXPECT_EQ(wrong, 0);
}

} // namespace
