#include "compute/kernels/kernel_count.h"

#include <immintrin.h>

namespace {
typedef double V8 __attribute__((vector_size(64)));

struct Avx512 : Lanes<V8, 8> {
    static V fma(V a, V b, V c) { return _mm512_fmadd_pd(a, b, c); }
    static V mulAdd(V a, V b, V c) { return fma(a, b, c); }
    static V root(V x) { return _mm512_sqrt_pd(x); }
    // Within 2^-14 relatively, as the instruction set documents it.
    static V estimate(V x) { return _mm512_rsqrt14_pd(x); }
    static constexpr double kEstimate = 0x1p-14;
    static constexpr bool kFollows = false;
    static constexpr double kLargestE = 2 * kEstimate + kEstimate * kEstimate;
    static constexpr int kCountVectors = 2;
    static constexpr int kDegree = 3;
    static V nearest(V x) { return _mm512_roundscale_pd(x, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC); }
    using Mask = __mmask8;
    static Mask notBelow(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_GE_OQ); }
    static Mask either(Mask a, Mask b) { return a | b; }
    static Mask butNot(Mask a, Mask b) { return a & ~b; }
    static bool anyOf(Mask m) { return m != 0; }
    static unsigned bits(Mask m) { return m; }
    static V addUnless(V sum, Mask m, V x) { return _mm512_mask_add_pd(sum, static_cast<Mask>(~m), sum, x); }

    template <typename M> static bool any(M mask)
    {
        __m512i bits;
        __builtin_memcpy(&bits, &mask, sizeof bits);
        return _mm512_test_epi64_mask(bits, bits) != 0;
    }
};
} // namespace

namespace quadrilo::kernel {
const Kernel& kernelAvx512()
{
    static const Kernel kernel{Isa::Avx512, Impl<Avx512>::kLanes, &Impl<Avx512>::terms, &Impl<Avx512>::units,
                               &Impl<Avx512>::sines, &Impl<Avx512>::clearance, &Impl<Avx512>::floor,
                               &Counting<Avx512>::count, &Counting<Avx512>::probe};
    return kernel;
}
} // namespace quadrilo::kernel
