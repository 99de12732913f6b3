#include "compute/kernel_simd.h"

#include <emmintrin.h>
#include <sleef.h>

namespace {
struct Sse2 {
    typedef double V __attribute__((vector_size(16)));
    static constexpr int W = 2;
    static V sine(V x) { return Sleef_cinz_sind2_u10sse2(x); }
    static V root(V x) { return _mm_sqrt_pd(x); }
};
} // namespace

namespace quadrilo::kernel {
void pointsSse2(double base, double stride, double first, double* out, std::size_t n)
{
    Simd<Sse2>::points(base, stride, first, out, n);
}
bool termsSse2(const double* theta, double* t, std::size_t n, double m, bool reciprocal)
{
    return Simd<Sse2>::terms(theta, t, n, m, reciprocal);
}
double unitsSse2(const double* t, std::size_t n, double scale, bool* exact)
{
    return Simd<Sse2>::units(t, n, scale, exact);
}
} // namespace quadrilo::kernel
