#include "compute/loop/passes.h"
#include "compute/periods/convergents.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include <mpfr.h>

namespace {

// |n stride - round(n stride / pi) pi|, from MPFR at 400 bits: how far n
// strides fall from a whole number of half turns.
double distanceToHalfTurns(double stride, std::uint64_t n)
{
    mpfr_t pi, x, k;
    mpfr_inits2(400, pi, x, k, static_cast<mpfr_ptr>(nullptr));
    mpfr_const_pi(pi, MPFR_RNDN);
    mpfr_set_d(x, stride, MPFR_RNDN);
    mpfr_mul_d(x, x, static_cast<double>(n), MPFR_RNDN);
    mpfr_div(k, x, pi, MPFR_RNDN);
    mpfr_round(k, k);
    mpfr_mul(k, k, pi, MPFR_RNDN);
    mpfr_sub(x, x, k, MPFR_RNDN);
    const double d = std::abs(mpfr_get_d(x, MPFR_RNDN));
    mpfr_clears(pi, x, k, static_cast<mpfr_ptr>(nullptr));
    return d;
}

struct Stride {
    std::string name;
    double theta; // a pass point of the segment whose stride it is
};
void PrintTo(const Stride& row, std::ostream* out) { *out << row.name; }

class Periods : public testing::TestWithParam<Stride> {};

// The stride of the segment that ends at the row's point.
double strideAt(double theta)
{
    return quadrilo::planPasses(theta).segments.back().stride;
}

TEST_P(Periods, AreTheBestApproximationsOfHalfTurns)
{
    const double stride = strideAt(GetParam().theta);
    ASSERT_GT(stride, 0.0);
    const auto periods = quadrilo::periodsOf(stride, std::uint64_t{1} << 36);
    ASSERT_GE(periods.size(), 3u);
    for (std::size_t i = 0; i < periods.size(); ++i) {
        const auto& period = periods[i];
        SCOPED_TRACE(period.passes);
        // The drift is what MPFR makes of N stride - M pi, within its rounding.
        const double distance = distanceToHalfTurns(stride, period.passes);
        EXPECT_NEAR(std::abs(period.drift), distance, distance * 0x1p-50);
        EXPECT_NEAR(static_cast<double>(period.halfTurns),
                    static_cast<double>(period.passes) * stride / 3.141592653589793, 1.0);
        if (i == 0)
            continue;
        EXPECT_GT(period.passes, periods[i - 1].passes);
        EXPECT_LT(std::abs(period.drift), std::abs(periods[i - 1].drift));
        // Fewer passes never come nearer: sampled just below this period,
        // just above the one before, and midway.
        for (std::uint64_t n : {period.passes - 1, periods[i - 1].passes + 1, (period.passes + periods[i - 1].passes) / 2})
            if (n != periods[i - 1].passes && n != period.passes)
                EXPECT_GT(distanceToHalfTurns(stride, n), std::abs(period.drift)) << n;
    }
}

INSTANTIATE_TEST_SUITE_P(, Periods,
                         testing::Values(Stride{"first_radian", 1.5}, Stride{"past_4096", 5000.0},
                                         Stride{"past_a_million", 1.5e6},
                                         Stride{"last_segment", 1.7e10}),
                         [](const auto& info) { return info.param.name; });

} // namespace
