// The counting kernel against the exact one, which forms every term as the
// reference does: the same count and the same tie verdict for every run it
// agrees to count; and each term of its error bound against what it does.
#include "compute/engine.h"
#include "compute/exact/exact_sum.h"
#include "compute/kernels/kernels.h"
#include "compute/loop/passes.h"
#include "compute/yardsticks/exact_integral.h"
#include "tests/compute/engines.h"
#include "tests/compute/runs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using quadrilo::Isa;
using quadrilo::kernel::kMaxRun;
using KernelRun = quadrilo::kernel::Run;

std::vector<const quadrilo::kernel::Kernel*> countingKernels()
{
    std::vector<const quadrilo::kernel::Kernel*> kernels;
    for (Isa isa : supportedIsas())
        if (quadrilo::kernel::forIsa(isa).count)
            kernels.push_back(&quadrilo::kernel::forIsa(isa));
    return kernels;
}

// The runs of a block of the engine's, cut where segments end.
std::vector<KernelRun> runsOfBlock(const quadrilo::PassPlan& plan, std::uint64_t begin, std::size_t lanes)
{
    std::vector<KernelRun> runs;
    const std::uint64_t end = std::min(begin + kMaxRun, plan.passes);
    for (const quadrilo::Segment& s : plan.segments) {
        const std::uint64_t from = std::max(begin, s.firstPass), to = std::min(end, s.firstPass + s.count);
        if (from < to)
            runs.push_back(runOf(s, from - s.firstPass, to - from, lanes));
    }
    return runs;
}

// 1 / ulp(S) for S the sum so far, which the exact integral up to the run's
// first point approaches (the few units' difference seldom moves the binade;
// any scale is fair input anyway).
double scaleAt(const KernelRun& run, double m)
{
    const auto integral = quadrilo::legendreF(run.base + run.first * run.stride, m);
    return integral ? quadrilo::ExactSum::scaleOf(*integral) : 0.0;
}

struct Agreement {
    int counted = 0, declined = 0;
    int pastOne = 0, pastOneCounted = 0; // runs from theta >= 1, at the sum's own scale
};

// Counts the run with both kernels at the scale and at twice and half of it.
void compare(const quadrilo::kernel::Kernel& kernel, const KernelRun& run, double m, double scale, Agreement& seen,
             const std::string& where)
{
    if (scale == 0.0)
        return;
    std::vector<double> t(run.count + quadrilo::kernel::kMaxLanes);
    for (const double s : {scale / 2, scale, scale * 2}) {
        bool exactCounted = false, exactTerms = false;
        const double counted = kernel.count(run, m, s, &exactCounted);
        if (s == scale && run.base + run.first * run.stride >= 1) {
            ++seen.pastOne;
            seen.pastOneCounted += !std::isnan(counted);
        }
        if (std::isnan(counted)) {
            ++seen.declined;
            continue;
        }
        ++seen.counted;
        const double units = kernel.terms(run, m, quadrilo::Kind::First, s, t.data(), &exactTerms);
        ASSERT_EQ(counted, units) << where << " scale 2^" << std::log2(s);
        ASSERT_EQ(exactCounted, exactTerms) << where << " scale 2^" << std::log2(s);
    }
}

struct Case {
    const char* name;
    double phi;
    double degrees;
};

class CountingKernel : public testing::TestWithParam<Case> {};

// Up to 32 blocks spread over the limit's passes, the last one included.
TEST_P(CountingKernel, CountsAsTheExactKernel)
{
    const Case c = GetParam();
    const quadrilo::Request request = quadrilo::firstKindRequest(c.phi, c.degrees);
    const std::uint64_t blocks = (request.plan.passes + kMaxRun - 1) / kMaxRun;
    for (const auto* kernel : countingKernels()) {
        Agreement seen;
        for (std::uint64_t i = 0; i < 32; ++i) {
            const std::uint64_t block = blocks <= 32 ? i : (blocks - 1) * i / 31;
            if (block >= blocks)
                break;
            for (const KernelRun& run : runsOfBlock(request.plan, block * kMaxRun, kernel->lanes))
                compare(*kernel, run, request.m, scaleAt(run, request.m), seen,
                        std::string(quadrilo::isaName(kernel->isa)) + " block " + std::to_string(block));
        }
        std::printf("[ %s ] %s: %d runs counted, %d declined\n", quadrilo::isaName(kernel->isa), c.name, seen.counted,
                    seen.declined);
        // Near m = 1 the bound is loose at the peaks; elsewhere every run
        // past the first radian is counted.
        if (c.degrees < 89)
            EXPECT_EQ(seen.pastOneCounted, seen.pastOne) << quadrilo::isaName(kernel->isa);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CountingKernel,
    testing::Values(Case{"Phi3Alpha0", 3, 0}, Case{"Phi3Alpha30", 3, 30}, Case{"Phi7Alpha5", 7, 5},
                    Case{"Phi7AlphaMinus30", 7, -30}, Case{"Phi100Alpha45", 100, 45}, Case{"Phi100Alpha60", 100, 60},
                    Case{"Phi100Alpha80", 100, 80}, Case{"Phi1000Alpha30", 1000, 30}, Case{"Phi1000Alpha89", 1000, 89},
                    Case{"Phi1000Alpha89_99999", 1000, 89.99999}, Case{"Phi1000Alpha90", 1000, 90},
                    Case{"HalfPiAlpha30", 1.5707963, 30}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// The hard pass points below 64, each in runs that end past it at every
// lane. Refused, every lane is left to its exact term: the double-double
// sine's own rounding test fails there, and the sine comes from correctSin;
// 64 rows at most, as many refused vectors as the kernel notes.
TEST(CountingKernelAtHardPoints, CountsAsTheExactKernel)
{
    struct Runs {
        std::size_t count;
        std::vector<std::size_t> after;
        std::vector<double> degrees;
        bool refuseAll;
    };
    for (const auto* kernel : countingKernels())
        for (const Runs& runs : {Runs{4000, {0, 7, 13}, {30, 80}, false}, Runs{64 * 16 - 16, {0, 3, 9}, {45}, true}}) {
            Agreement seen;
            for (const auto& [theta, sine] : hardSines()) {
                const quadrilo::Segment segment = quadrilo::planPasses(theta).segments.back();
                for (const std::size_t after : runs.after) {
                    const std::size_t count = std::min<std::uint64_t>(runs.count + after, segment.count + after);
                    KernelRun run = runOf(segment, segment.count + after - count, count, kernel->lanes);
                    run.refuseAll = runs.refuseAll;
                    for (const double degrees : runs.degrees) {
                        const double m = quadrilo::firstKindRequest(1, degrees).m;
                        compare(*kernel, run, m, scaleAt(run, m), seen,
                                std::string(quadrilo::isaName(kernel->isa)) + " at " + std::to_string(theta));
                    }
                }
            }
            EXPECT_GT(seen.counted, 0) << quadrilo::isaName(kernel->isa) << (runs.refuseAll ? ", refused" : "");
        }
}

// Each term of the bound in kernel_count.h, measured in long double (64
// bits) against the worst it allows: the reference's rounding, the stepped
// cosine, the estimate with its correction, and the whole of rho.
struct Worst {
    double reference = 0, stepped = 0, root = 0, whole = 0;
    double restarted = 0; // |p - B cos 2theta| / (eps B) on the rows where the recurrence restarts
    double leastD = 0;    // the bound's least D over the least D seen, at most 1
    double largestX = 0;  // the largest x seen over the bound's
};

void measure(const quadrilo::kernel::Kernel& kernel, const KernelRun& run, double m, double scale, Worst& worst)
{
    const std::size_t room = run.count + quadrilo::kernel::kMaxLanes;
    std::vector<double> p(room), x(room), t(room);
    const quadrilo::kernel::CountProbe bound = kernel.countProbe(run, m, scale, p.data(), x.data());
    if (bound.rho == 0.0)
        return;
    bool exact = false;
    kernel.terms(run, m, quadrilo::Kind::First, 0.0, t.data(), &exact);
    constexpr long double eps = 0x1p-53L;
    const long double hs = 0.000001L * scale;
    for (std::size_t j = 0; j < run.count; ++j) {
        const long double theta = static_cast<long double>(run.base + (run.first + static_cast<double>(j)) * run.stride);
        const long double sine = std::sin(theta);
        const long double D = 1.0L - static_cast<long double>(m) * sine * sine;
        worst.leastD = std::max(worst.leastD, static_cast<double>(bound.leastD / D));
        worst.largestX = std::max(worst.largestX, x[j] / bound.largestX);
        const long double tau = hs / std::sqrt(D);
        const long double c = (1 - D) / D;
        const long double tu = static_cast<long double>(t[j]) * scale;
        worst.reference = std::max(worst.reference, static_cast<double>(std::fabs(tu - tau) / tau / (eps * (3.5L + 2 * c))));
        const long double cosine = std::cos(2 * theta) * static_cast<long double>(bound.B);
        const long double off = std::fabs(p[j] - cosine) / (eps * bound.B);
        worst.stepped = std::max(worst.stepped, static_cast<double>(off / bound.stepped));
        if (j / bound.lanes % 256 == 0)
            worst.restarted = std::max(worst.restarted, static_cast<double>(off));
        const double d = bound.A + p[j];
        worst.root = std::max(worst.root, static_cast<double>(std::fabs(x[j] * std::sqrt(static_cast<long double>(d)) - 1) /
                                                              (eps * bound.root)));
        worst.whole = std::max(worst.whole, static_cast<double>(std::fabs(tu - x[j]) / x[j] / bound.rho));
    }
}

TEST(CountingBound, EachTermHoldsWhereMeasured)
{
    struct Where {
        double phi, degrees;
    };
    for (const auto* kernel : countingKernels()) {
        Worst worst;
        for (const Where w : {Where{3, 30}, Where{100, 60}, Where{100, 80}, Where{1000, 30}, Where{1000, 85}}) {
            const quadrilo::Request request = quadrilo::firstKindRequest(w.phi, w.degrees);
            const std::uint64_t blocks = (request.plan.passes + kMaxRun - 1) / kMaxRun;
            for (const std::uint64_t block : {blocks / 2, blocks - 1})
                for (const KernelRun& run : runsOfBlock(request.plan, block * kMaxRun, kernel->lanes))
                    measure(*kernel, run, request.m, scaleAt(run, request.m), worst);
        }
        std::printf("[ %s ] worst seen / bound: reference %.3f, stepped %.3f, root %.3f, rho %.3f; "
                    "stepped where it restarts %.2f eps B\n",
                    quadrilo::isaName(kernel->isa), worst.reference, worst.stepped, worst.root, worst.whole,
                    worst.restarted);
        for (const double ratio : {worst.reference, worst.stepped, worst.root, worst.whole, worst.leastD, worst.largestX})
            EXPECT_LE(ratio, 1.0);
        // Every 256 rows p starts again from the sines, within 6.2 eps B.
        EXPECT_LE(worst.restarted, 6.2);
    }
}

// The terms combine as kernel_count.h's proof combines them, written here
// from the proof, not from the code: a smaller rho, Psi or threshold than it
// states would count lanes that it does not cover, where no measurement
// comes near enough to the bound to show it.
TEST(CountingBound, CombinesItsTermsAsTheProofStates)
{
    constexpr double eps = 0x1p-53;
    for (const auto* kernel : countingKernels())
        for (const double degrees : {5.0, 30.0, 60.0, 80.0}) {
            const quadrilo::Request request = quadrilo::firstKindRequest(100, degrees);
            const double m = request.m;
            for (const KernelRun& run : runsOfBlock(request.plan, 90 * kMaxRun, kernel->lanes)) {
                const double scale = scaleAt(run, m);
                std::vector<double> p(run.count + quadrilo::kernel::kMaxLanes), x(p.size());
                const quadrilo::kernel::CountProbe b = kernel->countProbe(run, m, scale, p.data(), x.data());
                ASSERT_FALSE(b.declined) << degrees;
                const double n = 256, delta = 2 * static_cast<double>(b.lanes) * run.stride;
                const double psi = (6.2 + n) * (1 + delta / 2) + n * delta * (12 + 4.7) + delta * n * (n + 2) / 2;
                EXPECT_GE(b.stepped, psi) << degrees;
                EXPECT_GE(b.root, 1.52) << degrees;
                const double c = (1 - b.leastD) / b.leastD, g = m / 2 / b.leastD;
                const double rhoX = eps * (2.5 + b.root + g * (3 + b.stepped) / 2);
                const double rho = (eps * (3.5 + 2 * c) + rhoX) / (1 - rhoX);
                EXPECT_GE(b.rho, rho) << degrees;
                EXPECT_LE(b.rho, rho * (1 + 0x1p-15)) << degrees;
                EXPECT_GE(b.largestX, 0.000001 * scale / std::sqrt(b.leastD) * (1 + rhoX)) << degrees;
                EXPECT_LE(b.within + b.rho * b.largestX, 0.5 * (1 - 0x1p-50)) << degrees;
            }
        }
}

} // namespace
