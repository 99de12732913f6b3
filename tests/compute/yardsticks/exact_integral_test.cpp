#include "compute/yardsticks/exact_integral.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

namespace {

using quadrilo::legendreE;
using quadrilo::legendreF;

// Relative agreement to 2^-50: a few ulps of the double result.
constexpr double kClose = 0x1p-50;

void expectClose(double actual, long double expected)
{
    EXPECT_NEAR(actual, static_cast<double>(expected), kClose * std::fabs(static_cast<double>(expected)))
        << "relative error " << static_cast<double>((actual - expected) / expected);
}

// π as a double-double: fl(π), just below π, and the rest.
constexpr double kPi = std::numbers::pi;
constexpr double kPiRest = 1.2246467991473532e-16;
constexpr double kHalfPi = kPi / 2;

// 2K and 2E, which the integrals gain over each period: near m = 1 the
// integrand peaks at π/2, and fl(π/2) would miss 6·10^-17 of it; at π it
// is 1, so F(fl(π)) misses just the rest of π.
long double twoK(double m) { return *legendreF(kPi, m) + static_cast<long double>(kPiRest); }
long double twoE(double m) { return legendreE(kPi, m) + static_cast<long double>(kPiRest); }

struct Published {
    const char* name;
    double phi;
    double m;
    bool first;
    long double value;
};

class PublishedValues : public testing::TestWithParam<Published> {};

// Complete integrals to 16 digits, as tabled (Abramowitz and Stegun, 17.3);
// fl(π/2) lies 6·10^-17 below π/2, which moves none of them.
TEST_P(PublishedValues, Agree)
{
    const Published& p = GetParam();
    expectClose(p.first ? *legendreF(p.phi, p.m) : legendreE(p.phi, p.m), p.value);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, PublishedValues,
    testing::Values(Published{"KOfAQuarter", kHalfPi, 0.25, true, 1.685750354812596L},
                    Published{"KOfAHalf", kHalfPi, 0.5, true, 1.854074677301372L},
                    Published{"KOfZero", kHalfPi, 0.0, true, 1.570796326794897L},
                    Published{"EOfAQuarter", kHalfPi, 0.25, false, 1.467462209339427L},
                    Published{"EOfAHalf", kHalfPi, 0.5, false, 1.350643881047675L},
                    Published{"EOfZero", kHalfPi, 0.0, false, 1.570796326794897L},
                    // K(m) over two periods, and the same from the other side.
                    Published{"FOverTwoPeriods", 2 * kPi, 0.25, true, 4 * 1.685750354812596L},
                    Published{"EOverTwoPeriods", 2 * kPi, 0.5, false, 4 * 1.350643881047675L}),
    [](const testing::TestParamInfo<Published>& info) { return std::string(info.param.name); });

// Closed forms at the two ends of m: F(phi | 0) = phi, E(phi | 0) = phi, and
// F(phi | 1) = atanh(sin phi) below π/2, here with 1 − sin phi formed as
// 2 sin²((π/2 − phi)/2) so that it keeps its digits next to π/2.
TEST(ClosedForms, AtTheEndsOfM)
{
    for (const double phi : {1e-9, 0.5, 1.5707963, 3.0, 1000.25, 17179869183.0, 17179869183.999998}) {
        expectClose(*legendreF(phi, 0.0), phi);
        expectClose(legendreE(phi, 0.0), phi);
    }
    for (const double phi : {0.5, 1.0, 1.5, 1.5707963, 1.57079632679, kHalfPi}) {
        const long double delta = static_cast<long double>(kHalfPi - phi) + kPiRest / 2;
        const long double below = 2 * std::pow(std::sin(delta / 2), 2.0L); // 1 − sin phi
        expectClose(*legendreF(phi, 1.0), std::log((2 - below) / below) / 2);
    }
}

// Against libstdc++'s ellint_1 and ellint_2, an independent implementation,
// where m = k² is exact. Theirs are good to a few units of 10^-14 (E(1.2 | 0.765625)
// is 3.6·10^-14 low), and count periods in an int: past φ = 6·10^9
// they come out negative.
TEST(AgainstTheStandardLibrary, WhereKSquaredIsExact)
{
    for (const double k : {0.5, 0.75, 0.875})
        for (const double phi : {0.3, 1.2, 1.5707963, 3.0, 100.0, 1e9 + 0.5}) {
            const double m = k * k;
            EXPECT_NEAR(*legendreF(phi, m), std::ellint_1(k, phi), 5e-14 * std::ellint_1(k, phi)) << k << " " << phi;
            EXPECT_NEAR(legendreE(phi, m), std::ellint_2(k, phi), 5e-14 * std::ellint_2(k, phi)) << k << " " << phi;
        }
}

class Identities : public testing::TestWithParam<double> {};

// F(−phi) = −F(phi) and F(phi + π) = F(phi) + 2K, E likewise, for m up to
// the last double below 1. phi + π is not a double: the step taken is π + ε,
// and the integrand at phi, times ε, makes up the difference.
TEST_P(Identities, OddAndQuasiPeriodic)
{
    const double m = GetParam();
    for (const double phi : {0.3, 0.7, 1.2, 2.5, 40.0, 1e6 + 0.25}) {
        EXPECT_EQ(*legendreF(-phi, m), -*legendreF(phi, m));
        EXPECT_EQ(legendreE(-phi, m), -legendreE(phi, m));
        const double next = phi + kPi;
        const long double epsilon = ((static_cast<long double>(next) - phi) - kPi) - kPiRest;
        const long double s = std::sin(static_cast<long double>(phi));
        const long double root = std::sqrt(1 - m * s * s);
        expectClose(*legendreF(next, m), *legendreF(phi, m) + twoK(m) + epsilon / root);
        expectClose(legendreE(next, m), legendreE(phi, m) + twoE(m) + epsilon * root);
    }
}

INSTANTIATE_TEST_SUITE_P(FromZeroToJustBelowOne, Identities,
                         testing::Values(0.0, 0x1p-30, 0.25, 0.5, 0.9, 1 - 0x1p-20, 1 - 0x1p-40, 1 - 0x1p-53));

// With sin²α = 1 the integrand is unbounded at π/2: the integral is finite
// below it and diverges from it on, on either side of 0.
TEST(Divergence, OnlyFromHalfPiOnWhenMIsOne)
{
    EXPECT_TRUE(legendreF(kHalfPi, 1.0).has_value());
    EXPECT_GT(*legendreF(kHalfPi, 1.0), 37.0); // ln(2 / cos phi), cos phi ≈ 6·10^-17
    for (const double phi : {std::nextafter(kHalfPi, 2.0), 2.0, 3.0, 1e9, -2.0})
        EXPECT_FALSE(legendreF(phi, 1.0).has_value()) << phi;
    EXPECT_TRUE(legendreF(2.0, 1 - 0x1p-53).has_value());
}

// The comparison takes the very m and limit of the request: F(2 | m) with m
// the squared sine of the 90 degrees the sum uses, 2K − F(π − 2).
TEST(CompareWithExact, UsesTheRequestsMAndLimit)
{
    const auto first = quadrilo::firstKindRequest(2.0, 90.0);
    const auto comparison = quadrilo::compareWithExact(first, 31.98406);
    ASSERT_TRUE(comparison.exact.has_value());
    expectClose(*comparison.exact, twoK(first.m) - *legendreF(kPi - 2.0, first.m) - kPiRest);
    EXPECT_EQ(comparison.difference, 31.98406 - *comparison.exact);

    const auto second = quadrilo::secondKindRequest();
    const auto e = quadrilo::compareWithExact(second, 1.5678097464);
    ASSERT_TRUE(e.exact.has_value());
    expectClose(*e.exact, legendreE(quadrilo::kSecondKindEnd, second.m));
    // The sum's rectangles reach 6.5·10^-7 past P/2, where the integrand is
    // nearly 1: the sum, 1.5678097464, is that much above E.
    EXPECT_NEAR(*e.exact, 1.5678097464 - 6.5e-7, 1e-8);

    EXPECT_FALSE(quadrilo::compareWithExact(quadrilo::firstKindRequest(2.0, 89.999999), 1.0).exact.has_value());
}

} // namespace
