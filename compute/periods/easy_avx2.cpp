#include "compute/periods/easy.h"

#include "compute/periods/easy_simd.h"

namespace quadrilo {
namespace {
struct Avx2;
} // namespace

EasyResiduesFn easyResiduesAvx2() { return &easyResidues<Avx2>; }

} // namespace quadrilo
