#include "compute/engine.h"
#include "platform/errors.h"
#include "platform/numfmt.h"
#include "tests/compute/engines.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using quadrilo::planPasses;

struct Published {
    const char* name;
    double phi;
    double degrees;
    std::uint64_t passes;
    double low;  // the published digits, truncated,
    double high; // and one unit more in their last place
    const char* shown;
    bool secondKind = false; // then at 5 degrees up to pi / 2, whatever the row says
};

class FirstKindPublished : public testing::TestWithParam<Published> {};

TEST_P(FirstKindPublished, MatchesThePublishedFigures)
{
    const Published& row = GetParam();
    const auto result = row.secondKind ? secondKind() : firstKind(row.phi, row.degrees);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->passes, row.passes);
    EXPECT_EQ(result->lastCounter, planPasses(row.secondKind ? quadrilo::kSecondKindEnd : row.phi).lastCounter);
    EXPECT_GE(result->sum, row.low);
    EXPECT_LT(result->sum, row.high);
    if (row.shown)
        EXPECT_EQ(quadrilo::formatFiveDecimals(result->sum, "."), row.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, FirstKindPublished,
    testing::Values(
        Published{"QuarterPeriodAt30", 1.5707963, 30, 1570797, 1.685751058, 1.685751059, "1.68575"},
        Published{"OneAt45", 1.0, 45, 1000000, 1.083216653, 1.083216654, "1.08322"},
        Published{"HalfAt60", 0.5, 60, 500001, 0.516170871, 0.516170872, "0.51617"},
        Published{"HalfPeriodAt30", 3.1415927, 30, 3141593, 3.371501063, 3.371501064, "3.3715"},
        Published{"ZeroLimit", 0.0, 30, 1, 0.000001, 0.0000010000001, "0."},
        Published{"NegativeLimit", -1.0, 30, 0, 0.0, 0.0000000001, "0."},
        Published{"NinetyDegreesPeaks", 2.0, 90, 2000001, 20.0, 50.0, nullptr},
        Published{"SecondKind", 0, 0, 1570797, 1.5678097464, 1.5678097465, "1.56781", true}),
    [](const testing::TestParamInfo<Published>& info) { return std::string(info.param.name); });

// With alpha = 0 every term is exactly h, so the sum is built by the very
// additions that move the counter: S equals the last counter bit for bit.
TEST(FirstKind, ZeroArgumentSumIsTheCounter)
{
    for (const double phi : {0.0, 0.3, 1.0, 1.5707963, 2.0, 3.5}) {
        const auto result = firstKind(phi, 0.0);
        ASSERT_TRUE(result);
        EXPECT_EQ(result->sum, planPasses(phi).lastCounter) << "phi " << phi;
    }
}

// Limits where the loop would never end are refused, with the bound.
TEST(FirstKind, RefusesLimitsWhereTheLoopWouldNeverEnd)
{
    for (const double phi : {17179869184.0, 1e300, double(INFINITY), double(NAN)}) {
        try {
            firstKind(phi, 30);
            ADD_FAILURE() << "evaluated " << phi;
        } catch (const quadrilo::InputRefused& refused) {
            EXPECT_EQ(refused.title(), "Valore non accettato");
            EXPECT_NE(refused.describe(".").find("minore di 17179869184."), std::string::npos);
        }
    }
}

} // namespace
