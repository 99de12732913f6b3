#include "compute/kernel_simd.h"

#include <immintrin.h>

namespace {
struct Avx512 {
    typedef double V __attribute__((vector_size(64)));
    static constexpr int W = 8;
    static V fma(V a, V b, V c) { return _mm512_fmadd_pd(a, b, c); }
    static V root(V x) { return _mm512_sqrt_pd(x); }

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
        __m512i bits;
        __builtin_memcpy(&bits, &mask, sizeof bits);
        return _mm512_test_epi64_mask(bits, bits) != 0;
    }
};
} // namespace

namespace quadrilo::kernel {
bool termsAvx512(const Run& run, double m, bool reciprocal, double* t)
{
    return Impl<Avx512>::terms(run, m, reciprocal, t);
}
double unitsAvx512(const double* t, std::size_t n, double scale, bool* exact)
{
    return Impl<Avx512>::units(t, n, scale, exact);
}
} // namespace quadrilo::kernel
