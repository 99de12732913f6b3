#include "compute/kernels/kernel_count.h"

#include <immintrin.h>

namespace {
typedef double V4 __attribute__((vector_size(32)));

struct Avx2 : Lanes<V4, 4> {
    static V fma(V a, V b, V c) { return _mm256_fmadd_pd(a, b, c); }
    static V mulAdd(V a, V b, V c) { return fma(a, b, c); }
    static V root(V x) { return _mm256_sqrt_pd(x); }
    // Each lane starts from its last x: between rows d'' moves by under
    // 2^-10.5 where the kernel counts, and the conversions to single
    // precision and back that rsqrtps needs measured slower.
    static constexpr bool kFollows = true;
    static constexpr int kCountVectors = 4;
    static constexpr int kDegree = 4;
    static constexpr double kLargestE = 0x1p-10 / 1.4142135623730951;
    static V nearest(V x) { return _mm256_round_pd(x, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC); }
    using Mask = V; // all ones in the lanes that hold
    static Mask notBelow(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
    static Mask either(Mask a, Mask b) { return _mm256_or_pd(a, b); }
    static Mask butNot(Mask a, Mask b) { return _mm256_andnot_pd(b, a); }
    static bool anyOf(Mask m) { return _mm256_movemask_pd(m) != 0; }
    static unsigned bits(Mask m) { return static_cast<unsigned>(_mm256_movemask_pd(m)); }
    static V addUnless(V sum, Mask m, V x) { return sum + V(_mm256_andnot_pd(m, x)); }

    template <typename M> static bool any(M mask)
    {
        __m256d bits;
        __builtin_memcpy(&bits, &mask, sizeof bits);
        return _mm256_movemask_pd(bits) != 0;
    }
};
} // namespace

namespace quadrilo::kernel {
const Kernel& kernelAvx2()
{
    static const Kernel kernel{Isa::Avx2, Impl<Avx2>::kLanes, &Impl<Avx2>::terms, &Impl<Avx2>::units,
                               &Impl<Avx2>::sines, &Impl<Avx2>::clearance, &Impl<Avx2>::floor,
                               &Counting<Avx2>::count, &Counting<Avx2>::probe};
    return kernel;
}
} // namespace quadrilo::kernel
