#include "compute/periods/easy.h"

#include "compute/periods/easy_simd.h"

namespace quadrilo {
namespace {
struct Scalar;
} // namespace

EasyResiduesFn easyResiduesAvx2();
EasyResiduesFn easyResiduesAvx512();

EasyResiduesFn easyResiduesFor(Isa isa)
{
#if defined(__x86_64__)
    switch (supportedUpTo(isa)) {
    case Isa::Avx512:
        return easyResiduesAvx512();
    case Isa::Avx2:
        return easyResiduesAvx2();
    case Isa::Scalar:
        break;
    }
#else
    (void)isa;
#endif
    return &easyResidues<Scalar>;
}

} // namespace quadrilo
