#pragma once

#include "compute/sine.h"

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
    DoubleDouble cosLeap; // of lanes * stride
    // Vectors of sines failing the rounding test that a kernel notes while
    // it walks the run, to correct them after; past that, it walks the run
    // again and corrects them as it goes. Seldom more than one or two.
    int deferrable = 64;
};

// No kernel steps more lanes at a time than this.
inline constexpr std::size_t kMaxLanes = 16;

// The terms t[j] = fl(fl(1 / r) * h) (reciprocal) or fl(r * h), with
// r = sqrt(fl(1 - fl(m * fl(sin(theta_j)^2)))), for j < count; t must have
// room for count rounded up to kMaxLanes, and what lies past count is left
// unspecified. A root of 0 gives t[j] = +inf. With a scale, also counts the
// terms as UnitsFn does and returns the count; with none (0), returns 0.
using TermsFn = double (*)(const Run& run, double m, bool reciprocal, double scale, double* t, bool* exact);

// The sum of round(t[i] * scale) over i < n (n a multiple of 8, no t[i]
// negative, scale a power of two), exact while every quotient stays below
// 2^52 and the sum below 2^53; a quotient past that gives a sum of at least
// 2^52, and an infinite t[i] an infinite sum. Sets *exact to false when
// some t[i] * scale is a tie between two integers.
using UnitsFn = double (*)(const double* t, std::size_t n, double scale, bool* exact);

// The correctly rounded sines of a run's points, with the same room as
// TermsFn: what the terms are made from, for the tests.
using SinesFn = void (*)(const Run& run, double* s);

// For the tests: a lower bound on |sin| at every point that the kernel steps
// through for a run, rows past its count included, or 0 when the run comes
// too near a zero of the sine for the kernel's shortcuts (kernel_simd.h).
using ClearanceFn = double (*)(const Run& run);

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
};

const Kernel& forIsa(Isa isa);

} // namespace kernel
} // namespace quadrilo
