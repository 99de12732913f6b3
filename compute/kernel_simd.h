// The vector kernels, written once for GCC's vector types and compiled once
// for each instruction set by the kernel_*.cpp files. Everything here has
// internal linkage and uses no library code, so that no function built for a
// wider instruction set can be shared with, and then run by, a narrower one.
#pragma once

#include <cstddef>

namespace {

// Ops provides: using V (a vector of W doubles), W, sine(V), root(V).
template <typename Ops>
struct Simd {
    using V = typename Ops::V;
    static constexpr int W = Ops::W;
    using M = decltype(V{} < V{});

    static V load(const double* p)
    {
        V v;
        __builtin_memcpy(&v, p, sizeof v);
        return v;
    }
    static void store(double* p, V v) { __builtin_memcpy(p, &v, sizeof v); }
    static bool any(M mask)
    {
        auto bits = mask[0];
        for (int i = 1; i < W; ++i)
            bits |= mask[i];
        return bits != 0;
    }

    static void points(double base, double stride, double first, double* out, std::size_t n)
    {
        V k;
        for (int i = 0; i < W; ++i)
            k[i] = first + i;
        std::size_t i = 0;
        for (; i + W <= n; i += W) {
            store(out + i, base + k * stride);
            k += static_cast<double>(W);
        }
        for (; i < n; ++i)
            out[i] = base + (first + static_cast<double>(i)) * stride;
    }

    static bool terms(const double* theta, double* t, std::size_t n, double m, bool reciprocal)
    {
        constexpr double h = 0.000001;
        M zero = {};
        for (std::size_t i = 0; i < n; i += W) {
            const V s = Ops::sine(load(theta + i));
            const V d = 1.0 - m * (s * s);
            const V r = Ops::root(d);
            zero |= (r == 0.0);
            store(t + i, (reciprocal ? 1.0 / r : r) * h);
        }
        return !(reciprocal && any(zero));
    }

    static double units(const double* t, std::size_t n, double scale, bool* exact)
    {
        constexpr double shifter = 0x1p52; // (x + 2^52) - 2^52 rounds x to an integer
        V sum = {};
        M bad = {};
        for (std::size_t i = 0; i < n; i += W) {
            const V x = load(t + i) * scale;
            const V k = (x + shifter) - shifter;
            const V off = x - k;
            bad |= (off == 0.5) | (off == -0.5) | (x >= 0x1p51);
            sum += k;
        }
        *exact = !any(bad);
        double total = 0.0;
        for (int i = 0; i < W; ++i)
            total += sum[i];
        return total;
    }
};

} // namespace
