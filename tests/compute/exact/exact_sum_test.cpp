#include "compute/exact/exact_sum.h"
#include "tests/compute/engines.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using quadrilo::Counted;
using quadrilo::ExactSum;
using quadrilo::Isa;

// The chain that ExactSum must reproduce bit for bit.
double sequential(double sum, const std::vector<double>& terms)
{
    for (const double t : terms)
        sum = t + sum;
    return sum;
}

std::vector<double> padded(std::vector<double> terms)
{
    terms.resize((terms.size() + 7) / 8 * 8, 0.0);
    return terms;
}

// How the block is counted before its turn: for S as it is when added, for
// S as it was before the previous block (a worker that ran ahead), or not.
enum class Counting { Current, BeforePrevious, None };

struct Row {
    const char* name;
    std::vector<double> before; // added first, as one block, counted for S = 0
    std::vector<double> block;
    Counting counting;
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

class ExactSumTable : public testing::TestWithParam<Row> {};

TEST_P(ExactSumTable, AddsAsTheChainOfRoundedAdditions)
{
    const Row& row = GetParam();
    const double expected = sequential(sequential(0.0, row.before), row.block);
    for (Isa isa : supportedIsas()) {
        ExactSum sum(quadrilo::kernel::forIsa(isa).units);
        const double scaleBefore = sum.scale();
        const auto first = padded(row.before);
        sum.add(first.data(), row.before.size(), sum.count(first.data(), first.size(), sum.scale()));
        const auto block = padded(row.block);
        const double scale = row.counting == Counting::Current          ? sum.scale()
                             : row.counting == Counting::BeforePrevious ? scaleBefore
                                                                        : 0.0;
        const Counted counted = sum.count(block.data(), block.size(), scale);
        EXPECT_EQ(counted.scale, scale); // counted whenever there is a scale: the fast way is taken
        sum.add(block.data(), row.block.size(), counted);
        EXPECT_EQ(sum.value(), expected) << quadrilo::isaName(isa) << " is off by "
                                         << (sum.value() - expected);
    }
}

constexpr double u = 0x1p-52; // ulp(1)

INSTANTIATE_TEST_SUITE_P(
    Table, ExactSumTable,
    testing::Values(
        Row{"StartsFromZero", {}, {1e-6, 2e-6, 3e-6, 0.1}, Counting::Current},
        Row{"SmallTermsInOneBinade", {1.25}, {3 * u, 0.7 * u, 1.3 * u, 2.5e-9}, Counting::Current},
        // S / u even: the tie stays; odd: it goes up to the even neighbour.
        Row{"HalfUlpTieOnEvenSum", {1.0}, {u / 2, u / 2, u / 2}, Counting::Current},
        Row{"HalfUlpTieOnOddSum", {1.0 + u}, {u / 2, 3 * u / 2}, Counting::Current},
        Row{"TermOfTwoToThe52Units", {1.0}, {0x1p52 * u, u}, Counting::Current},
        Row{"TermJustBelowTwoToThe52Units", {1.0}, {0x1p52 * u - u, u, u}, Counting::Current},
        Row{"CrossesIntoTheNextBinade", {1.9}, {0.05, 0.05, 0.05, 0.0001}, Counting::Current},
        Row{"EndsOneUnitBelowTheBinadeTop", {1.5}, {0.25 - u, 0.25 - u}, Counting::Current},
        Row{"ReachesTheBinadeTop", {1.5}, {0.25, 0.25 - u / 2 + u / 4}, Counting::Current},
        // Counted, 2 + u would be a tie that stays at 2; the chain's last
        // term rounds in the binade above, to 2 + 2u.
        Row{"PassesTheBinadeTopByAUnit", {1.5}, {0.5, 1.2 * u}, Counting::Current},
        // 2^52 units at 2^-52 below 1: K past 2^53 would round.
        Row{"IntegerSumPastTwoToThe53", {0.75}, std::vector<double>(64, 0x1p46 * 0x1p-53), Counting::Current},
        Row{"CountedForAnOlderBinade", {0.6}, {0.3, 0.3, 1e-7}, Counting::BeforePrevious},
        Row{"NotCounted", {2.0}, {1e-6, 1.5e-6}, Counting::None}),
    [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

// Blocks of the sizes and magnitudes that the engine meets, in long chains.
TEST(ExactSum, RandomBlocksAddAsTheChain)
{
    std::mt19937_64 random(20261207);
    std::uniform_real_distribution<double> factor(1.0, 50.0);
    std::uniform_int_distribution<int> size(1, 700);
    for (Isa isa : supportedIsas()) {
        ExactSum sum(quadrilo::kernel::forIsa(isa).units);
        double chain = 0.0;
        double stale = 0.0;
        for (int b = 0; b < 400; ++b) {
            std::vector<double> block(static_cast<std::size_t>(size(random)));
            for (double& t : block)
                t = factor(random) * 1e-6;
            chain = sequential(chain, block);
            const auto terms = padded(block);
            // Every third block counted one block late, as a worker may.
            const double scale = b % 3 == 0 ? stale : sum.scale();
            stale = sum.scale();
            sum.add(terms.data(), block.size(), sum.count(terms.data(), terms.size(), scale));
            ASSERT_EQ(sum.value(), chain) << quadrilo::isaName(isa) << " block " << b;
        }
    }
}

} // namespace
