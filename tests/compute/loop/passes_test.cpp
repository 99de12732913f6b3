#include "compute/loop/passes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using quadrilo::kStep;
using quadrilo::planPasses;

// The loop itself, run for real.
quadrilo::PassPlan byRepeatedAddition(double end)
{
    quadrilo::PassPlan plan;
    for (double theta = 0.0; theta <= end;) {
        theta += kStep;
        ++plan.passes;
        plan.lastCounter = theta;
    }
    return plan;
}

// Ends below zero, at, just below and just above real pass points, at binade
// edges, at typed limits and at random, all against the loop run for real.
TEST(PassPlan, EqualsRepeatedAddition)
{
    std::vector<double> ends = {-1.0, 0.0, 0.00000099, 0.5, 1.0, 1.5707963, 3.1415927 / 2, 2.0, 3.1415927,
                                0x1p-20, 0x1p-19, 0x1p-18, 0x1p-17, 0x1p-16, 0.125, 0.25, 1.0 - 1e-7, 4.0,
                                0.0000019999, 0.000002, 0.0000030001};
    double theta = 0.0;
    for (int i = 0; i < 3000000; ++i) {
        theta += kStep;
        if (i % 250007 == 0 || i < 6) {
            ends.push_back(theta);
            ends.push_back(std::nextafter(theta, 0.0));
            ends.push_back(std::nextafter(theta, 10.0));
        }
    }
    std::mt19937_64 random(20261207);
    std::uniform_real_distribution<double> anywhere(0.0, 3.0);
    for (int i = 0; i < 40; ++i)
        ends.push_back(anywhere(random));

    for (const double end : ends) {
        const auto plan = planPasses(end);
        const auto real = byRepeatedAddition(end);
        EXPECT_EQ(plan.passes, real.passes) << "end " << end;
        EXPECT_EQ(plan.lastCounter, real.lastCounter) << "end " << end;
    }
}

TEST(PassPlan, ReachesTheLargestAcceptedLimitQuickly)
{
    const double end = std::nextafter(quadrilo::kLimitBound, 0.0);
    const auto plan = planPasses(end);
    EXPECT_GT(plan.lastCounter, end);
    // About one pass per microradian, give or take the rounding of each step.
    EXPECT_NEAR(static_cast<double>(plan.passes) * kStep / end, 1.0, 0.5);
}

} // namespace
