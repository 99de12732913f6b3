#include "compute/periods/easy.h"

#include "compute/periods/easy_simd.h"

namespace quadrilo {
namespace {
struct Avx512;
} // namespace

EasyResiduesFn easyResiduesAvx512() { return &easyResidues<Avx512>; }

} // namespace quadrilo
