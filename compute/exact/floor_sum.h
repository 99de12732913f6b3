#pragma once

#include <boost/multiprecision/cpp_int.hpp>

#include <cstdint>
#include <optional>
#include <type_traits>
#include <vector>

namespace quadrilo {

using Wide = unsigned __int128;
using Big = boost::multiprecision::uint256_t;

namespace detail {
// Big's value in four words, least first, for the few operations of a sum's
// steps: Big's own carry a size and a sign test in each.
struct Words {
    std::uint64_t word[4];
};
} // namespace detail

// sum over i < n of floor((a i + b) / m), exactly, for m > 0, for many n
// and b over one slope a / m: Euclid's algorithm on (m, a), in O(log m)
// steps, as in AtCoder's floor_sum. The steps on (m, a) do not depend on n
// or b, so they are taken once, with each step's divisor and an estimate
// of its inverse; a sum then divides only its own numbers, Big's mostly by
// a guess from doubles set right by a subtraction or two. Every intermediate
// stays below a n + b + m; when that, or the sum, does not fit in the
// type's width less a bit, nothing is returned. For Wide and Big: the
// first several times faster, where it is wide enough.
template <class U>
class FloorSums {
public:
    FloorSums(U m, U a);
    std::optional<U> operator()(std::uint64_t n, U b) const;

private:
    using Number = std::conditional_t<std::is_same_v<U, Big>, detail::Words, U>;
    struct Step {
        Number m;        // the divisor
        Number a;        // the slope, below m
        Number quotient; // the slope's whole part, taken off before
        double inverse;  // Big's: 1 / m, within 2^-51 relatively
        bool small;      // the quotient is below 2^64
    };
    U m_, a_;
    std::vector<Step> steps_;
};

} // namespace quadrilo
