#include "compute/kernel_simd.h"

#include <immintrin.h>
#include <sleef.h>

namespace {
struct Avx512 {
    typedef double V __attribute__((vector_size(64)));
    static constexpr int W = 8;
    static V sine(V x) { return Sleef_cinz_sind8_u10avx512fnofma(x); }
    static V root(V x) { return _mm512_sqrt_pd(x); }
};
} // namespace

namespace quadrilo::kernel {
void pointsAvx512(double base, double stride, double first, double* out, std::size_t n)
{
    Simd<Avx512>::points(base, stride, first, out, n);
}
bool termsAvx512(const double* theta, double* t, std::size_t n, double m, bool reciprocal)
{
    return Simd<Avx512>::terms(theta, t, n, m, reciprocal);
}
double unitsAvx512(const double* t, std::size_t n, double scale, bool* exact)
{
    return Simd<Avx512>::units(t, n, scale, exact);
}
} // namespace quadrilo::kernel
