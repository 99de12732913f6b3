#pragma once

#include <cstdint>
#include <optional>

namespace quadrilo {

using Wide = unsigned __int128;

// sum over i < n of floor((a i + b) / m), exactly, for m > 0: Euclid's
// algorithm on (m, a), in O(log m) steps, as in AtCoder's floor_sum. Every
// intermediate stays below a n + b + m; when that does not fit in 127 bits,
// nothing is returned.
std::optional<Wide> floorSum(std::uint64_t n, Wide m, Wide a, Wide b);

} // namespace quadrilo
