#include "compute/exact/fused.h"
#include "compute/kernels/kernel_simd.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {
struct Scalar {
    using V = double;
    static constexpr int W = 1;
    static constexpr int K = 8; // enough independent steps to keep up with the divider
    static double fma(double a, double b, double c) { return quadrilo::fused(a, b, c); }
    // Rounded twice: without FMA in the baseline instruction set, fused is
    // a call, and the rounding test allows for the second rounding.
    static double mulAdd(double a, double b, double c) { return a * b + c; }
    static double root(double x) { return std::sqrt(x); }
    // As the vector lanes' (kernel_simd.h).
    static double halfUlp(double x)
    {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &x, sizeof bits);
        const std::uint64_t exponent = (bits - 1) & 0x7ff0000000000000ULL;
        double power = 0.0;
        std::memcpy(&power, &exponent, sizeof power);
        return power * 0x1p-53;
    }
    static double abs(double x) { return std::fabs(x); }
    static double get(double v, int) { return v; }
    static void set(double& v, int, double x) { v = x; }
    static bool lane(bool mask, int) { return mask; }
    static bool any(bool mask) { return mask; }
};
} // namespace

namespace quadrilo::kernel {
const Kernel& kernelScalar()
{
    static const Kernel kernel{Isa::Scalar, Impl<Scalar>::kLanes, &Impl<Scalar>::terms, &Impl<Scalar>::units,
                               &Impl<Scalar>::sines, &Impl<Scalar>::clearance, &Impl<Scalar>::floor,
                               nullptr, nullptr};
    return kernel;
}
} // namespace quadrilo::kernel
