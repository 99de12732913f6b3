// The pass points below 64 whose sines lie nearest a rounding midpoint,
// checked elsewhere at 300 bits (hardSines): every kernel must
// notice that its sine there is too close to call, and round it correctly.
#include "compute/exact/sine.h"
#include "compute/kernels/kernels.h"
#include "compute/loop/passes.h"
#include "compute/yardsticks/reference.h"
#include "tests/compute/engines.h"
#include "tests/compute/runs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

using quadrilo::Isa;

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

// The kernels note the sines that fail the rounding test and correct them,
// with their terms and the count, after the walk; or, with no room to note
// them, walk again correcting as they go. Either way, at the hard points:
// the reference's term, and the count of the corrected terms, in units as
// fine as a hundred terms allow (2^-65, eight times a term's last place), where
// a corrected term can change it.
struct Room {
    const char* name;
    int deferrable;
};

class HardTerms : public testing::TestWithParam<Room> {};

TEST_P(HardTerms, AreCorrectedAndCountedAfterTheWalk)
{
    const auto rows = hardSines();
    for (Isa isa : supportedIsas()) {
        const auto& kernel = quadrilo::kernel::forIsa(isa);
        for (const HardSine& row : rows) {
            for (const quadrilo::Kind kind : {quadrilo::Kind::First, quadrilo::Kind::Second}) {
                auto run = runTo(row.theta, 70 + 31, 31, kernel.lanes);
                run.deferrable = GetParam().deferrable;
                for (const double scale : {0x1p20, 0x1p65}) {
                    std::vector<double> t(run.count + quadrilo::kernel::kMaxLanes);
                    bool exact = false, exactAfter = true;
                    const double units = kernel.terms(run, 0.75, kind, scale, t.data(), &exact);
                    const std::string where = std::string(quadrilo::isaName(isa)) + " at " +
                                              std::to_string(row.theta) + " scale " + std::to_string(scale);
                    EXPECT_EQ(t[69], quadrilo::term(row.theta, 0.75, kind)) << where;
                    t.resize((run.count + 7) / 8 * 8);
                    std::fill(t.begin() + static_cast<std::ptrdiff_t>(run.count), t.end(), 0.0);
                    EXPECT_EQ(units, kernel.units(t.data(), t.size(), scale, &exactAfter)) << where;
                    if (exact)
                        EXPECT_TRUE(exactAfter) << where;
                }
            }
        }
    }
}

// A first sine given as its wrong neighbour, with a low part of half its
// gap, fails the rounding test, and is corrected after the walk: its term
// and the count with it. Near pi/2 with m = 1 a sine's last place moves the
// term by about 2^-44, far above the units (2^-55), so the count shows
// whether the corrected term replaced the old one in it.
TEST_P(HardTerms, ACorrectedSineIsCountedAnew)
{
    const quadrilo::PassPlan plan = quadrilo::planPasses(1.5707963);
    const quadrilo::Segment& segment = plan.segments.back();
    for (Isa isa : supportedIsas()) {
        const auto& kernel = quadrilo::kernel::forIsa(isa);
        for (const std::size_t count : {8u, 101u}) {
            auto run = runOf(segment, segment.count - 1000, count, kernel.lanes);
            run.deferrable = GetParam().deferrable;
            const double right = run.sinFirst.hi;
            run.sinFirst.hi = std::nextafter(right, 0.0);
            run.sinFirst.lo = (right - run.sinFirst.hi) / 2;
            std::vector<double> t(run.count + quadrilo::kernel::kMaxLanes);
            bool exact = false, exactAfter = true;
            const double units = kernel.terms(run, 1.0, quadrilo::Kind::First, 0x1p55, t.data(), &exact);
            const std::string where = std::string(quadrilo::isaName(isa)) + ", " + std::to_string(count) + " points";
            EXPECT_EQ(t[0], quadrilo::term(run.base + run.first * run.stride, 1.0, quadrilo::Kind::First)) << where;
            t.resize((run.count + 7) / 8 * 8);
            std::fill(t.begin() + static_cast<std::ptrdiff_t>(run.count), t.end(), 0.0);
            EXPECT_EQ(units, kernel.units(t.data(), t.size(), 0x1p55, &exactAfter)) << where;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, HardTerms,
                         testing::Values(Room{"NotedAndCorrectedAfter", 64}, Room{"NoRoomWalkedAgain", 0},
                                         Room{"RoomForOne", 1}),
                         [](const testing::TestParamInfo<Room>& info) { return std::string(info.param.name); });

} // namespace
