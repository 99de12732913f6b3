#pragma once

#include <cstddef>

namespace quadrilo {

// Instruction sets with a kernel of their own. Every kernel gives the same
// bits: the sine is SLEEF's deterministic one in its scalar and vector forms,
// and the rest is IEEE arithmetic rounded step by step.
enum class Isa { Scalar, Sse2, Avx, Avx512 };

const char* isaName(Isa isa);

// The best instruction set that this processor supports, capped by the
// environment variable QUADRILO_ISA (scalar, sse2, avx or avx512) when set.
Isa bestIsa();
bool isaSupported(Isa isa);

namespace kernel {

// The terms t[i] = fl(fl(1 / r) * h) (reciprocal) or fl(r * h), with
// r = sqrt(fl(1 - fl(m * fl(sin(theta[i])^2)))), for i < n, where n is a
// multiple of 8. Returns false, with t unspecified, when some r is 0.
using TermsFn = bool (*)(const double* theta, double* t, std::size_t n, double m, bool reciprocal);

// The sum of round(t[i] * scale) over i < n (n a multiple of 8), exact as
// long as it stays below 2^53. Sets *exact to false when some t[i] * scale is
// a tie between two integers or not below 2^51.
using UnitsFn = double (*)(const double* t, std::size_t n, double scale, bool* exact);

// out[i] = base + (first + i) * stride for i < n: exact, since each point is
// a multiple of its binade's ulp (first + i stays an exact integer).
using PointsFn = void (*)(double base, double stride, double first, double* out, std::size_t n);

struct Kernel {
    PointsFn points;
    TermsFn terms;
    UnitsFn units;
};

const Kernel& forIsa(Isa isa);

} // namespace kernel
} // namespace quadrilo
