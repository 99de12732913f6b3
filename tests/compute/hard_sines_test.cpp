// The pass points below 64 whose sines lie nearest a rounding midpoint,
// checked elsewhere at 300 bits (data/hard-sines.txt): every kernel must
// notice that its sine there is too close to call, and round it correctly.
#include "compute/kernels.h"
#include "compute/passes.h"
#include "compute/sine.h"
#include "engines.h"
#include "runs.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using quadrilo::Isa;

struct HardSine {
    double theta;
    double sine; // correctly rounded
};

std::vector<HardSine> hardSines()
{
    std::vector<HardSine> rows;
    std::ifstream file(QUADRILO_HARD_SINES);
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string theta, decimal, sine;
        fields >> theta >> decimal >> sine;
        rows.push_back({std::strtod(theta.c_str(), nullptr), std::strtod(sine.c_str(), nullptr)});
    }
    return rows;
}

// A run of real pass points of theta's segment that ends `after` points
// past theta, so that theta lands in another lane for each `after`.
quadrilo::kernel::Run runTo(double theta, std::size_t count, std::size_t after, std::size_t lanes)
{
    const quadrilo::PassPlan plan = quadrilo::planPasses(theta);
    const quadrilo::Segment& segment = plan.segments.back();
    return runOf(segment, segment.count + after - count, count, lanes);
}

TEST(HardSines, TheReferenceSineAndEveryKernelRoundThemCorrectly)
{
    const auto rows = hardSines();
    ASSERT_EQ(rows.size(), 64u);
    for (const HardSine& row : rows)
        EXPECT_EQ(quadrilo::correctSin(row.theta), row.sine) << std::hexfloat << row.theta;
    for (Isa isa : supportedIsas()) {
        const auto& kernel = quadrilo::kernel::forIsa(isa);
        for (const HardSine& row : rows) {
            // 70 points: the point falls in the recurrence's third row or later.
            for (const std::size_t after : {0u, 5u, 31u}) {
                const auto run = runTo(row.theta, 70 + after, after, kernel.lanes);
                ASSERT_EQ(run.base + (run.first + static_cast<double>(69)) * run.stride, row.theta);
                std::vector<double> s(run.count + quadrilo::kernel::kMaxLanes);
                kernel.sines(run, s.data());
                EXPECT_EQ(s[69], row.sine) << quadrilo::isaName(isa) << std::hexfloat << " at " << row.theta;
            }
        }
    }
}

} // namespace
