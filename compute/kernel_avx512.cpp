#include "compute/kernel_simd.h"

#include <immintrin.h>

namespace {
typedef double V8 __attribute__((vector_size(64)));

struct Avx512 : Lanes<V8, 8> {
    static V fma(V a, V b, V c) { return _mm512_fmadd_pd(a, b, c); }
    static V mulAdd(V a, V b, V c) { return fma(a, b, c); }
    static V root(V x) { return _mm512_sqrt_pd(x); }

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
                               &Impl<Avx512>::sines, &Impl<Avx512>::clearance, &Impl<Avx512>::floor};
    return kernel;
}
} // namespace quadrilo::kernel
