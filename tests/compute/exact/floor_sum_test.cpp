#include "compute/exact/floor_sum.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace {

using quadrilo::Wide;

struct Row {
    std::string name;
    std::uint64_t n;
    Wide m, a, b;
};
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

// The sum term by term: the oracle.
Wide byTerms(const Row& row)
{
    Wide sum = 0;
    for (std::uint64_t i = 0; i < row.n; ++i)
        sum += (row.a * i + row.b) / row.m;
    return sum;
}

class FloorSum : public testing::TestWithParam<Row> {};

TEST_P(FloorSum, IsTheSumOfItsTerms)
{
    const Row& row = GetParam();
    const auto sum = quadrilo::floorSum(row.n, row.m, row.a, row.b);
    ASSERT_TRUE(sum.has_value());
    EXPECT_TRUE(*sum == byTerms(row)) << static_cast<unsigned long long>(*sum) << " against "
                                      << static_cast<unsigned long long>(byTerms(row));
}

constexpr Wide kTwo104 = Wide{1} << 104;

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
                    Row{"bands_slope_near_a_whole", 1 << 19, kTwo104, kTwo104 / 1000000 - 1, kTwo104 - 1}),
    [](const auto& info) { return info.param.name; });

// Past 127 bits it gives nothing rather than a wrapped sum.
TEST(FloorSumRoom, RefusesWhatWouldOverflow)
{
    EXPECT_FALSE(quadrilo::floorSum(1 << 20, 3, kTwo104, 0).has_value());
    EXPECT_FALSE(quadrilo::floorSum(1, 1, Wide{1} << 127, 0).has_value());
    EXPECT_FALSE(quadrilo::floorSum(std::uint64_t{1} << 40, 1, Wide{1} << 60, 0).has_value()) << "the sum itself";
    EXPECT_TRUE(quadrilo::floorSum(std::uint64_t{1} << 40, kTwo104, kTwo104 >> 20, kTwo104 - 1).has_value());
}

} // namespace
