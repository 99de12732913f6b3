#include "compute/kernel_simd.h"

#include <immintrin.h>

namespace {
struct Avx2 {
    typedef double V __attribute__((vector_size(32)));
    static constexpr int W = 4;
    static V fma(V a, V b, V c) { return _mm256_fmadd_pd(a, b, c); }
    static V root(V x) { return _mm256_sqrt_pd(x); }

    using L = decltype(V{} < V{});
    static V halfUlp(V x)
    {
        L bits;
        __builtin_memcpy(&bits, &x, sizeof bits);
        const L exponent = bits & 0x7ff0000000000000LL;
        V power; // 2^e, or 0 for 0
        __builtin_memcpy(&power, &exponent, sizeof power);
        const L mantissa = bits & 0x000fffffffffffffLL;
        // Below a power of two the neighbour is half as far.
        return mantissa == 0 ? power * 0x1p-54 : power * 0x1p-53;
    }
    static double get(V v, int i) { return v[i]; }
    static void set(V& v, int i, double x) { v[i] = x; }
    template <typename M> static bool lane(M mask, int i) { return mask[i] != 0; }
    template <typename M> static bool any(M mask)
    {
        __m256d bits;
        __builtin_memcpy(&bits, &mask, sizeof bits);
        return _mm256_movemask_pd(bits) != 0;
    }
};
} // namespace

namespace quadrilo::kernel {
bool termsAvx2(const Run& run, double m, bool reciprocal, double* t)
{
    return Impl<Avx2>::terms(run, m, reciprocal, t);
}
double unitsAvx2(const double* t, std::size_t n, double scale, bool* exact)
{
    return Impl<Avx2>::units(t, n, scale, exact);
}
} // namespace quadrilo::kernel
