#include "compute/kernels/kernels.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace quadrilo {
namespace kernel {

// Each defined in its own file, built for its instruction set.
const Kernel& kernelScalar();
#if defined(__x86_64__)
const Kernel& kernelAvx2();
const Kernel& kernelAvx512();
#endif

const Kernel& forIsa(Isa isa)
{
#if defined(__x86_64__)
    switch (isa) {
    case Isa::Avx2: return kernelAvx2();
    case Isa::Avx512: return kernelAvx512();
    case Isa::Scalar: break;
    }
#else
    (void)isa;
#endif
    return kernelScalar();
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

Isa supportedUpTo(Isa isa)
{
    while (isa != Isa::Scalar && !isaSupported(isa))
        isa = isa == Isa::Avx512 ? Isa::Avx2 : Isa::Scalar;
    return isa;
}

Isa bestIsa()
{
    for (Isa isa : {Isa::Avx512, Isa::Avx2})
        if (isaSupported(isa))
            return isa;
    return Isa::Scalar;
}

} // namespace quadrilo
