#include "compute/kernel_simd.h"

#include <immintrin.h>
#include <sleef.h>

namespace {
struct Avx {
    typedef double V __attribute__((vector_size(32)));
    static constexpr int W = 4;
    static V sine(V x) { return Sleef_cinz_sind4_u10avx(x); }
    static V root(V x) { return _mm256_sqrt_pd(x); }
};
} // namespace

namespace quadrilo::kernel {
void pointsAvx(double base, double stride, double first, double* out, std::size_t n)
{
    Simd<Avx>::points(base, stride, first, out, n);
}
bool termsAvx(const double* theta, double* t, std::size_t n, double m, bool reciprocal)
{
    return Simd<Avx>::terms(theta, t, n, m, reciprocal);
}
double unitsAvx(const double* t, std::size_t n, double scale, bool* exact)
{
    return Simd<Avx>::units(t, n, scale, exact);
}
} // namespace quadrilo::kernel
