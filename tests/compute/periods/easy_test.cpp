#include "compute/periods/easy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

namespace {

using quadrilo::Isa;

// One residue set apart among many easy ones, at level 3 with a remainder
// far from 0: what it sorts to.
struct Residue {
    std::string name;
    double first, last; // its ends, in units
    double q;           // its remainder of pi/2
    std::int32_t level; // -1: not easy
};
void PrintTo(const Residue& row, std::ostream* out) { *out << row.name; }

constexpr double kDrift = 1e-3, kMargin = 0x1p-48;

class EasyResidues : public testing::TestWithParam<std::tuple<Residue, Isa>> {};

// At every place of a run whose length no vector width divides, so that the
// vector loops' tails sort it too.
TEST_P(EasyResidues, AreTheOnesWhoseEndsShareAClearLevelAwayFromAnyExtremum)
{
    const auto& [row, isa] = GetParam();
    if (!quadrilo::isaSupported(isa))
        GTEST_SKIP() << "not on this processor";
    constexpr std::size_t kSize = 37;
    const double sigma = 1e-6;
    for (std::size_t at = 0; at < kSize; ++at) {
        std::vector<double> first(kSize, 3.1), last(kSize, 2.8);
        std::vector<std::int32_t> levels(kSize, 7);
        first[at] = row.first;
        last[at] = row.last;
        // The remainder of residue j is q0 + j sigma.
        const double q0Here = row.q - static_cast<double>(at) * sigma;
        const auto sum = quadrilo::easyResiduesFor(isa)(first.data(), last.data(), kSize, 1.0, q0Here, sigma,
                                                        kDrift, kMargin, levels.data());
        EXPECT_EQ(levels[at], row.level) << "at " << at;
        std::uint64_t others = 0;
        for (std::size_t j = 0; j < kSize; ++j)
            if (j != at) {
                EXPECT_EQ(levels[j] == 3 || std::abs(q0Here + static_cast<double>(j) * sigma) < 0.01, true)
                    << "at " << at << ", residue " << j;
                others += levels[j] < 0 ? 0 : static_cast<std::uint64_t>(levels[j]);
            }
        EXPECT_EQ(sum, others + static_cast<std::uint64_t>(row.level < 0 ? 0 : row.level)) << "at " << at;
    }
}

INSTANTIATE_TEST_SUITE_P(
    , EasyResidues,
    testing::Combine(
        testing::Values(Residue{"one_level", 3.4, 2.6, 0.5, 3},
                        Residue{"level_zero", 0.1, 0.49, 0.5, 0},
                        Residue{"two_levels", 3.4, 3.6, 0.5, -1},
                        Residue{"a_tie_first", 3.5, 3.2, 0.5, -1},
                        Residue{"a_tie_last", 3.2, 2.5, 0.5, -1},
                        Residue{"too_large_a_level", 0x1p31, 0x1p31, 0.5, -1},
                        Residue{"largest_level_kept", 0x1p31 - 1, 0x1p31 - 1, 0.5, 0x7fffffff},
                        Residue{"drift_reaches_an_extremum", 3.1, 2.8, -kDrift / 2, -1},
                        Residue{"within_the_margin_before", 3.1, 2.8, kMargin / 2, -1},
                        Residue{"within_the_margin_after", 3.1, 2.8, -kDrift - kMargin / 2, -1},
                        Residue{"just_clear_of_the_margin", 3.1, 2.8, 4 * kMargin, 3},
                        Residue{"an_infinite_end", 3.1, INFINITY, 0.5, -1}),
        testing::Values(Isa::Avx512, Isa::Avx2, Isa::Scalar)),
    [](const auto& info) {
        return std::get<0>(info.param).name + "_" + quadrilo::isaName(std::get<1>(info.param));
    });

} // namespace
