#pragma once

#include "compute/exact/exact_sum.h"
#include "compute/exact/sine.h"
#include "compute/loop/rules.h"

#include <cstddef>

namespace quadrilo {

// Instruction sets with a kernel of their own. Every kernel gives the same
// bits: the sine is correctly rounded, and the rest is IEEE arithmetic
// rounded step by step.
enum class Isa { Scalar, Avx2, Avx512 };

const char* isaName(Isa isa);

// The best instruction set that this processor supports, capped by the
// environment variable QUADRILO_ISA (scalar, avx2 or avx512) when set.
Isa bestIsa();
bool isaSupported(Isa isa);
// `isa`, or the best one below it that is supported.
Isa supportedUpTo(Isa isa);

namespace kernel {

// The longest run whose sines the kernels' error bound covers.
inline constexpr std::size_t kMaxRun = std::size_t{1} << 15;

// Pass points base + (first + j) * stride for j < count <= kMaxRun, all in one
// segment, with the sine and cosine of the first point (within 2^-96), of
// the stride and of the kernel's leap, its lanes times the stride (both to
// 2^-106). The kernels' error bound counts on both limits.
struct Run {
    double base = 0.0;
    double stride = 0.0;
    double first = 0.0;
    std::size_t count = 0;
    DoubleDouble sinFirst, cosFirst; // of base + first * stride
    DoubleDouble sinStride, cosStride;
    DoubleDouble sinLeap, cosLeap; // of lanes * stride
    // Vectors of sines failing the rounding test that a kernel notes while
    // it walks the run, to correct them after; past that, it walks the run
    // again and corrects them as it goes. Seldom more than one or two.
    int deferrable = 64;
    // For the tests: the counting kernel leaves every lane to its exact
    // term, as it does the few whose rounding its bound leaves in doubt.
    bool refuseAll = false;
};

// No kernel steps more lanes at a time than this.
inline constexpr std::size_t kMaxLanes = 16;

// The terms t[j] = fl(fl(1 / r) * h) (first kind) or fl(r * h), with
// r = sqrt(fl(1 - fl(m * fl(sin(theta_j)^2)))), for j < count; t must have
// room for count rounded up to kMaxLanes, and what lies past count is left
// unspecified. A root of 0 gives t[j] = +inf. With a scale, also counts the
// terms as UnitsFn does and returns the count; with none (0), returns 0.
using TermsFn = double (*)(const Run& run, double m, Kind kind, double scale, double* t, bool* exact);

// Counts terms in units of the sum's last place, as ExactSum takes them.
using quadrilo::UnitsFn;

// The correctly rounded sines of a run's points, with the same room as
// TermsFn: what the terms are made from, for the tests.
using SinesFn = void (*)(const Run& run, double* s);

// For the tests: a lower bound on |sin| at every point that the kernel steps
// through for a run, rows past its count included, or 0 when the run comes
// too near a zero of the sine for the kernel's shortcuts (kernel_simd.h).
using ClearanceFn = double (*)(const Run& run);

// The count of a run's first-kind terms, as TermsFn gives it
// with the same scale, but without forming most of them (kernel_count.h);
// NaN when the run is not one that it can count for this scale and m.
using CountFn = double (*)(const Run& run, double m, double scale, bool* exact);

// For the tests: what the counting kernel works with for a run. Its stepped
// part of d'' (p) and its x, for every point, with the same room as TermsFn,
// and the constants and error bound that it used; declined is set when the
// kernel would not count the run.
struct CountProbe {
    double K = 0.0, A = 0.0, B = 0.0; // d'' = A + p, p ~ B cos(2 theta)
    double leastD = 0.0;              // a lower bound on 1 - m sin^2 over the run
    double stepped = 0.0;             // bound on |p - B cos 2 theta| / (B 2^-53)
    double root = 0.0;                // bound on the estimate's relative error / 2^-53
    double rho = 0.0;                 // the whole bound on |t / u - x| / x
    double largestX = 0.0;            // a bound on x over the run
    double within = 0.0;              // a lane is counted when |x - round(x)| < within
    std::size_t lanes = 0;            // points a row; p restarts every 256 rows
    bool declined = false;
};
using CountProbeFn = CountProbe (*)(const Run& run, double m, double scale, double* p, double* x);

// For the benchmarks: `passes` square roots and divisions and nothing else,
// the least that the terms of as many passes need.
using FloorFn = double (*)(std::size_t passes);

struct Kernel {
    Isa isa;           // the instruction set it was built for
    std::size_t lanes; // points stepped at a time, at most kMaxLanes
    TermsFn terms;
    UnitsFn units;
    SinesFn sines;
    ClearanceFn clearance;
    FloorFn floor;
    CountFn count;           // none (nullptr) in the scalar kernel
    CountProbeFn countProbe; // likewise
};

const Kernel& forIsa(Isa isa);

} // namespace kernel
} // namespace quadrilo
