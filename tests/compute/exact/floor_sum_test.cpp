#include "compute/exact/floor_sum.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace {

using quadrilo::Big;
using quadrilo::Wide;

struct Row {
    std::string name;
    std::uint64_t n;
    Big m, a, b;
};
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// The sum term by term: the oracle.
Big byTerms(const Row& row)
{
    Big sum = 0;
    for (std::uint64_t i = 0; i < row.n; ++i)
        sum += (row.a * i + row.b) / row.m;
    return sum;
}

template <class U>
std::optional<U> floorSum(std::uint64_t n, U m, U a, U b)
{
    return quadrilo::FloorSums<U>(m, a)(n, b);
}

class FloorSum : public testing::TestWithParam<Row> {};

// Wide's too, where the row fits it.
TEST_P(FloorSum, IsTheSumOfItsTerms)
{
    const Row& row = GetParam();
    const auto sum = floorSum<Big>(row.n, row.m, row.a, row.b);
    ASSERT_TRUE(sum.has_value());
    EXPECT_EQ(*sum, byTerms(row));
    const Big fits = Big{1} << 100;
    if (row.m >= fits || row.a >= fits || row.b >= fits)
        return;
    const auto wide = [](const Big& x) { return static_cast<Wide>(static_cast<std::uint64_t>(x >> 64)) << 64 |
                                                static_cast<std::uint64_t>(x & ~std::uint64_t{0}); };
    const auto narrow = floorSum<Wide>(row.n, wide(row.m), wide(row.a), wide(row.b));
    ASSERT_TRUE(narrow.has_value());
    EXPECT_TRUE(*narrow == wide(*sum));
}

const Big kTwo104 = Big{1} << 104;
const Big kTwo168 = Big{1} << 168;

INSTANTIATE_TEST_SUITE_P(
    , FloorSum,
    testing::Values(Row{"no_terms", 0, 7, 3, 5}, Row{"one_term", 1, 7, 3, 50},
                    Row{"slope_below_one", 1000, 1000003, 999983, 17},
                    Row{"slope_above_one", 1000, 97, 1000003, 5},
                    Row{"start_past_the_modulus", 777, 13, 5, 1000},
                    Row{"odd_count", 999, 12, 7, 0}, Row{"even_count", 1000, 12, 7, 0},
                    Row{"whole_slope", 5000, 3, 6, 1},
                    // The bands' shape: a slope near 2^-21.6 of 2^104, a
                    // start anywhere below 2^104.
                    Row{"bands_slope", 1 << 20, kTwo104, (kTwo104 >> 22) + 0x123456789abcdefULL,
                        (kTwo104 >> 1) + 12345},
                    Row{"bands_slope_from_zero", 3 << 18, kTwo104, (kTwo104 / 3141593) | 1, 0},
                    Row{"bands_slope_near_a_whole", 1 << 19, kTwo104, kTwo104 / 1000000 - 1, kTwo104 - 1},
                    Row{"bands_wide_slope", 1 << 20, kTwo168, (kTwo168 >> 22) + 0x123456789abcdefULL, kTwo168 - 12345},
                    // Quotients past what a double's estimate takes: the
                    // slope's whole part, the start's, and one of Euclid's
                    // later steps (2^168 / a is near 2^60).
                    Row{"huge_quotients", 1000, 3, (Big{1} << 200) + 12345, (Big{1} << 180) + 7},
                    Row{"huge_quotient_later", 3000, kTwo168, (Big{1} << 108) + 1, kTwo168 - 12345},
                    // Whole parts of the slope past a word, and in the
                    // third word alone.
                    Row{"whole_slope_past_a_word", 1000, 3, 3 * ((Big{1} << 64) + 5) + 1, 7},
                    Row{"whole_slope_in_the_third_word", 1000, 3, 3 * (Big{1} << 130), 7},
                    // Starts that are whole multiples of the modulus, and
                    // next to them: a guess from doubles truncated below
                    // or above the quotient must be set right.
                    Row{"start_a_multiple", 700, kTwo104 - 3, (kTwo104 >> 22) + 5, (kTwo104 - 3) * 5},
                    Row{"start_a_multiple_of_a_wide_modulus", 700, (kTwo168 / 3) | 1, kTwo168 >> 23,
                        ((kTwo168 / 3) | 1) * 7},
                    Row{"start_a_multiple_less_one", 700, (kTwo168 / 3) | 1, kTwo168 >> 23,
                        ((kTwo168 / 3) | 1) * 7 - 1}),
    [](const auto& info) { return info.param.name; });

// One slope's steps serve any number of sums, whatever their lengths and
// starts, and give each what a fresh one would.
TEST(FloorSums, ServeManySumsOverOneSlope)
{
    const Big m = kTwo168, a = (kTwo168 >> 22) + 0x9e3779b97f4a7c15ULL;
    const quadrilo::FloorSums<Big> sums(m, a);
    const struct {
        const char* name;
        std::uint64_t n;
        Big b;
    } cases[] = {{"none", 0, 5}, {"one", 1, m - 1}, {"short", 999, 12345}, {"long", 4000, m / 3},
                 {"start_past_the_modulus", 2500, m * 3 + 17}, {"short_again", 999, 12345}};
    for (const auto& c : cases) {
        const auto sum = sums(c.n, c.b);
        ASSERT_TRUE(sum.has_value()) << c.name;
        EXPECT_EQ(*sum, byTerms(Row{c.name, c.n, m, a, c.b})) << c.name;
    }
}

// Past its width it gives nothing rather than a wrapped sum, and takes
// the bands' largest: 2^54 passes and a slope near 2^-20 of 2^168 in Big,
// 2^40 passes and just under 2^-20 of 2^104 in Wide.
TEST(FloorSumRoom, RefusesWhatWouldOverflow)
{
    EXPECT_FALSE(floorSum<Big>(1 << 20, 3, Big{1} << 250, 0).has_value());
    EXPECT_FALSE(floorSum<Big>(1, 1, 0, Big{1} << 254).has_value());
    EXPECT_FALSE(floorSum<Big>(1, Big{1} << 252, 0, Big{1} << 254).has_value()) << "a start past the room";
    EXPECT_FALSE(floorSum<Big>(std::uint64_t{1} << 60, 1, Big{1} << 140, 0).has_value()) << "the sum";
    EXPECT_TRUE(floorSum<Big>(std::uint64_t{1} << 54, kTwo168, kTwo168 >> 20, kTwo168 - 1).has_value());
    EXPECT_TRUE(floorSum<Big>(1 << 20, 1, Big{1} << 210, 0).has_value()) << "a sum just within the bound";
    const Wide two104 = Wide{1} << 104;
    EXPECT_FALSE(floorSum<Wide>(1 << 20, 3, Wide{1} << 110, 0).has_value());
    EXPECT_FALSE(floorSum<Wide>(1, 1, 0, Wide{1} << 126).has_value());
    EXPECT_FALSE(floorSum<Wide>(std::uint64_t{1} << 40, 1, Wide{1} << 60, 0).has_value()) << "the sum";
    EXPECT_TRUE(floorSum<Wide>(std::uint64_t{1} << 40, two104, (two104 >> 20) - 1, two104 - 1).has_value());
}

} // namespace
