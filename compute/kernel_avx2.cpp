#include "compute/kernel_simd.h"

#include <immintrin.h>

namespace {
typedef double V4 __attribute__((vector_size(32)));

struct Avx2 : Lanes<V4, 4> {
    static V fma(V a, V b, V c) { return _mm256_fmadd_pd(a, b, c); }
    static V mulAdd(V a, V b, V c) { return fma(a, b, c); }
    static V root(V x) { return _mm256_sqrt_pd(x); }

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
                               &Impl<Avx2>::sines, &Impl<Avx2>::clearance, &Impl<Avx2>::floor};
    return kernel;
}
} // namespace quadrilo::kernel
