// The first sort of a stretch's residues, one build per instruction set.
#pragma once

#include "compute/kernels/kernels.h"

#include <cstddef>
#include <cstdint>

namespace quadrilo {

// For j < size: the residues whose two ends, first[j] and last[j] times
// scale, share a clear level below 2^31 and whose remainders
// q0 + j sigma of pi/2, drifting by `drift`, stay farther than `margin`
// from 0. Their levels go to `levels`, -1 for every other residue, and their
// sum is returned. The same levels from every build: each step is one
// IEEE operation on the same operands, and the rest is exact.
using EasyResiduesFn = std::uint64_t (*)(const double* first, const double* last, std::size_t size,
                                         double scale, double q0, double sigma, double drift, double margin,
                                         std::int32_t* levels);

EasyResiduesFn easyResiduesFor(Isa isa);

} // namespace quadrilo
