#pragma once

namespace quadrilo {

// a b + c rounded once, to nearest with ties to even, on every platform:
// the processor's fused multiply-add where it has one, fusedSoftware where
// it has not. The C library's fma is not used, since not every one is
// correctly rounded (MinGW-w64's is not).
double fused(double a, double b, double c);

// The same result without the instruction; slower.
double fusedSoftware(double a, double b, double c);

// For code built for an instruction set: one instruction where that set
// has it, a call to fused otherwise. Internal linkage, since translation
// units built for different sets differ here.
[[gnu::always_inline]] static inline double fusedHere(double a, double b, double c)
{
#if defined(__FMA__) || defined(__aarch64__)
    return __builtin_fma(a, b, c);
#else
    return fused(a, b, c);
#endif
}

} // namespace quadrilo
