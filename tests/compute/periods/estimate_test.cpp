#include "compute/periods/stretch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>

#include <mpfr.h>

namespace {

// sin or cos of a + x, the double sum taken exactly, from MPFR.
double exactly(int (*function)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t), double a, double x)
{
    mpfr_t sum;
    mpfr_init2(sum, 256);
    mpfr_set_d(sum, a, MPFR_RNDN);
    mpfr_add_d(sum, sum, x, MPFR_RNDN); // exact at 256 bits for these rows
    function(sum, sum, MPFR_RNDN);
    const double value = mpfr_get_d(sum, MPFR_RNDN);
    mpfr_clear(sum);
    return value;
}

struct Turned {
    std::string name;
    double a, x;
};
void PrintTo(const Turned& row, std::ostream* out) { *out << row.name; }

class SineTurnedBy : public testing::TestWithParam<Turned> {};

// The estimates' sine and cosine: within the 2^-51 that their bound takes,
// with sin a and cos a rounded to doubles (2^-53 each) on top, over the
// whole drift a stretch allows.
TEST_P(SineTurnedBy, StaysWithinItsBound)
{
    const auto& [name, a, x] = GetParam();
    const double sine = exactly(mpfr_sin, a, 0.0), cosine = exactly(mpfr_cos, a, 0.0);
    const double turned = quadrilo::sineTurnedBy(sine, cosine, x);
    EXPECT_NEAR(turned, exactly(mpfr_sin, a, x), 0x1p-51 + 0x1p-52) << std::hexfloat << turned;
    const double cosineTurned = quadrilo::cosineTurnedBy(sine, cosine, x);
    EXPECT_NEAR(cosineTurned, exactly(mpfr_cos, a, x), 0x1p-51 + 0x1p-52) << std::hexfloat << cosineTurned;
}

INSTANTIATE_TEST_SUITE_P(, SineTurnedBy,
                         testing::Values(Turned{"largest_drift_forward", 0.3, 0.5},
                                         Turned{"largest_drift_back", 2.0, -0.5},
                                         Turned{"across_a_zero", -0.2, 0.45},
                                         Turned{"across_a_peak", 1.4, 0.35},
                                         Turned{"far_out", 123456.789, 0.41},
                                         Turned{"tiny_drift", 7.0, 0x1p-30},
                                         Turned{"no_drift", 3.0, 0.0}),
                         [](const auto& info) { return info.param.name; });

struct Range {
    std::string name;
    double least, largest;
    std::optional<double> level;
};
void PrintTo(const Range& row, std::ostream* out) { *out << row.name; }

class SharedLevel : public testing::TestWithParam<Range> {};

// A flat stretch adds one level a pass for every term in the range, so a
// range that reaches a half unit, or an infinite term, has none.
TEST_P(SharedLevel, IsTheLevelOfEveryValueInTheRange)
{
    const auto& [name, least, largest, level] = GetParam();
    EXPECT_EQ(quadrilo::sharedLevel(least, largest), level);
}

INSTANTIATE_TEST_SUITE_P(
    , SharedLevel,
    testing::Values(Range{"inside_one_level", 2.6, 3.4, 3.0},
                    Range{"one_value", 7.2, 7.2, 7.0},
                    Range{"all_below_half_a_unit", 0.0, 0.49, 0.0},
                    Range{"across_a_half_unit", 2.4, 2.6, std::nullopt},
                    Range{"up_to_a_tie", 2.6, 3.5, std::nullopt},
                    Range{"from_a_tie", 2.5, 2.7, std::nullopt},
                    Range{"ends_on_even_levels_apart", 1.9, 4.1, std::nullopt},
                    Range{"up_to_an_infinite_term", 3.0, INFINITY, std::nullopt},
                    Range{"whole_and_large", 0x1p53, 0x1p53, 0x1p53}),
    [](const auto& info) { return info.param.name; });

} // namespace
