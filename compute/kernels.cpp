#include "compute/kernels.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace quadrilo {
namespace kernel {

bool termsScalar(const Run&, double, bool, double*);
double unitsScalar(const double*, std::size_t, double, bool*);
#if defined(__x86_64__)
bool termsAvx2(const Run&, double, bool, double*);
double unitsAvx2(const double*, std::size_t, double, bool*);
bool termsAvx512(const Run&, double, bool, double*);
double unitsAvx512(const double*, std::size_t, double, bool*);
#endif

const Kernel& forIsa(Isa isa)
{
    static const Kernel scalar{termsScalar, unitsScalar};
#if defined(__x86_64__)
    static const Kernel avx2{termsAvx2, unitsAvx2};
    static const Kernel avx512{termsAvx512, unitsAvx512};
    switch (isa) {
    case Isa::Avx2: return avx2;
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
    case Isa::Avx2: return "avx2";
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
    case Isa::Avx2: return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
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
            for (Isa isa : {Isa::Scalar, Isa::Avx2, Isa::Avx512})
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
    for (Isa isa : {Isa::Avx512, Isa::Avx2})
        if (isaSupported(isa))
            return isa;
    return Isa::Scalar;
}

} // namespace quadrilo
