#include "compute/exact/arcsine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include <mpfr.h>

namespace {

using quadrilo::DoubleDouble;

struct Row {
    std::string name;
    double d; // e is the midpoint of d and the double below it, as the bands take it
    bool answers;
};
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

class ArcsineOverPi : public testing::TestWithParam<Row> {};

// Within its stated error of MPFR's asin(e) / pi, and that error far below
// the 2^-64 that a band's bracket can take.
TEST_P(ArcsineOverPi, IsWithinItsBoundOfMpfr)
{
    const Row& row = GetParam();
    const quadrilo::SineScratch scratch;
    const quadrilo::ArcsineOverPi arcsine;
    const double below = std::nextafter(row.d, 0.0);
    const auto result = arcsine(DoubleDouble{row.d, (below - row.d) / 2});
    ASSERT_EQ(result.has_value(), row.answers);
    if (!result)
        return;
    mpfr_t x, pi;
    mpfr_inits2(320, x, pi, static_cast<mpfr_ptr>(nullptr));
    mpfr_set_d(x, row.d, MPFR_RNDN);
    mpfr_add_d(x, x, below, MPFR_RNDN);
    mpfr_div_2ui(x, x, 1, MPFR_RNDN);
    mpfr_asin(x, x, MPFR_RNDN);
    mpfr_const_pi(pi, MPFR_RNDN);
    mpfr_div(x, x, pi, MPFR_RNDN);
    mpfr_sub_d(x, x, result->value.hi, MPFR_RNDN);
    mpfr_sub_d(x, x, result->value.lo, MPFR_RNDN);
    const double error = std::abs(mpfr_get_d(x, MPFR_RNDN));
    mpfr_clears(x, pi, static_cast<mpfr_ptr>(nullptr));
    EXPECT_LT(error, result->error) << std::hexfloat << error;
    EXPECT_LT(result->error, 0x1p-64) << std::hexfloat << result->error;
}

INSTANTIATE_TEST_SUITE_P(
    , ArcsineOverPi,
    testing::Values(Row{"tiny", 0x1p-700, true}, Row{"small", 3.0e-9, true}, Row{"a_table_point", std::sin(1.0 / 128), true},
                    Row{"between_table_points", 0.123456789, true}, Row{"a_half", 0.5, true},
                    Row{"a_power_of_two_below", 0.25, true}, Row{"sine_of_one", 0.8414709848078965, true},
                    Row{"steep", 0.999999, true}, Row{"steepest_answered", 1 - 0x1p-41, true},
                    Row{"too_near_one", 1 - 0x1p-45, false}, Row{"one", 1.0, false}),
    [](const auto& info) { return info.param.name; });

} // namespace
