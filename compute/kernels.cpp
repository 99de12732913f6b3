#include "compute/kernels.h"

#include <sleef.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace quadrilo {
namespace kernel {

#if defined(__x86_64__)
void pointsSse2(double, double, double, double*, std::size_t);
void pointsAvx(double, double, double, double*, std::size_t);
void pointsAvx512(double, double, double, double*, std::size_t);
bool termsSse2(const double*, double*, std::size_t, double, bool);
double unitsSse2(const double*, std::size_t, double, bool*);
bool termsAvx(const double*, double*, std::size_t, double, bool);
double unitsAvx(const double*, std::size_t, double, bool*);
bool termsAvx512(const double*, double*, std::size_t, double, bool);
double unitsAvx512(const double*, std::size_t, double, bool*);
#endif

namespace {

void pointsScalar(double base, double stride, double first, double* out, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        out[i] = base + (first + static_cast<double>(i)) * stride;
}

bool termsScalar(const double* theta, double* t, std::size_t n, double m, bool reciprocal)
{
    for (std::size_t i = 0; i < n; ++i) {
        const double s = Sleef_cinz_sind1_u10purec(theta[i]);
        const double r = std::sqrt(1.0 - m * (s * s));
        if (reciprocal && r == 0.0)
            return false;
        t[i] = (reciprocal ? 1.0 / r : r) * 0.000001;
    }
    return true;
}

double unitsScalar(const double* t, std::size_t n, double scale, bool* exact)
{
    double total = 0.0;
    *exact = true;
    for (std::size_t i = 0; i < n; ++i) {
        const double x = t[i] * scale;
        const double k = std::nearbyint(x);
        if (std::fabs(x - k) == 0.5 || x >= 0x1p51)
            *exact = false;
        total += k;
    }
    return total;
}

} // namespace

const Kernel& forIsa(Isa isa)
{
    static const Kernel scalar{pointsScalar, termsScalar, unitsScalar};
#if defined(__x86_64__)
    static const Kernel sse2{pointsSse2, termsSse2, unitsSse2};
    static const Kernel avx{pointsAvx, termsAvx, unitsAvx};
    static const Kernel avx512{pointsAvx512, termsAvx512, unitsAvx512};
    switch (isa) {
    case Isa::Sse2: return sse2;
    case Isa::Avx: return avx;
    case Isa::Avx512: return avx512;
    case Isa::Scalar: break;
    }
#else
    (void)isa;
#endif
    return scalar;
}

} // namespace kernel

const char* isaName(Isa isa)
{
    switch (isa) {
    case Isa::Sse2: return "sse2";
    case Isa::Avx: return "avx";
    case Isa::Avx512: return "avx512";
    case Isa::Scalar: break;
    }
    return "scalar";
}

namespace {

bool processorHas(Isa isa)
{
#if defined(__x86_64__)
    switch (isa) {
    case Isa::Sse2: return __builtin_cpu_supports("sse2");
    case Isa::Avx: return __builtin_cpu_supports("avx");
    case Isa::Avx512: return __builtin_cpu_supports("avx512f");
    case Isa::Scalar: return true;
    }
#endif
    return isa == Isa::Scalar;
}

// QUADRILO_ISA=scalar makes the program behave as on a processor without
// vector units, which is how the tests prove the fallback.
Isa allowedAtMost()
{
    static const Isa cap = [] {
        if (const char* wanted = std::getenv("QUADRILO_ISA"))
            for (Isa isa : {Isa::Scalar, Isa::Sse2, Isa::Avx, Isa::Avx512})
                if (std::strcmp(wanted, isaName(isa)) == 0)
                    return isa;
        return Isa::Avx512;
    }();
    return cap;
}

} // namespace

bool isaSupported(Isa isa)
{
    return static_cast<int>(isa) <= static_cast<int>(allowedAtMost()) && processorHas(isa);
}

Isa bestIsa()
{
    for (Isa isa : {Isa::Avx512, Isa::Avx, Isa::Sse2})
        if (isaSupported(isa))
            return isa;
    return Isa::Scalar;
}

} // namespace quadrilo
