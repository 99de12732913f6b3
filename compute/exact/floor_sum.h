#pragma once

#include <boost/multiprecision/cpp_int.hpp>

#include <cstdint>
#include <optional>

namespace quadrilo {

using Wide = unsigned __int128;
using Big = boost::multiprecision::uint256_t;

// sum over i < n of floor((a i + b) / m), exactly, for m > 0: Euclid's
// algorithm on (m, a), in O(log m) steps, as in AtCoder's floor_sum. Every
// intermediate stays below a n + b + m; when that, or the sum, does not fit
// in the type's width less a bit, nothing is returned. For Wide and Big:
// the first several times faster, where it is wide enough.
template <class U>
std::optional<U> floorSum(std::uint64_t n, U m, U a, U b);

} // namespace quadrilo
