#include "compute/exact/floor_sum.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <utility>

namespace quadrilo {
namespace {

unsigned bits(const Wide& x)
{
    const auto high = static_cast<std::uint64_t>(x >> 64);
    return high != 0 ? 128 - static_cast<unsigned>(std::countl_zero(high))
                     : 64 - static_cast<unsigned>(std::countl_zero(static_cast<std::uint64_t>(x)));
}

unsigned bits(const Big& x) { return x == 0 ? 0 : static_cast<unsigned>(boost::multiprecision::msb(x)) + 1; }

template <class U>
constexpr unsigned kWidth = sizeof(U) == sizeof(Wide) ? 128 : 256;

} // namespace

template <class U>
std::optional<U> floorSum(std::uint64_t n, U m, U a, U b)
{
    assert(m > 0);
    // Past the first step, each a n + b is below the last one's a n + m, (n,
    // m, a) becoming (floor((a n + b) / m), a, m) with a and b reduced below
    // m; every part of the sum is below the whole, n (a n + b) / m. In bits,
    // for a width w: a n, b and m below 2^(w - 3) each keep a n + b + m below
    // 2^(w - 1), and the sum is below 2^(bits(n) + max(bits(a n), bits(b)) +
    // 1 - (bits(m) - 1)).
    constexpr unsigned room = kWidth<U> - 3;
    const unsigned count = bits(U{n});
    if (count + bits(a) > room || bits(b) > room || bits(m) > room ||
        count + std::max(count + bits(a), bits(b)) + 2 > room + 1 + bits(m))
        return std::nullopt;
    U sum = 0;
    for (;;) {
        if (a >= m) {
            const U pairs = n % 2 == 0 ? U{n / 2} * (n - 1) : U{n} * ((n - 1) / 2);
            sum += pairs * (a / m);
            a %= m;
        }
        if (b >= m) {
            sum += U{n} * (b / m);
            b %= m;
        }
        const U top = a * n + b;
        if (top < m)
            return sum;
        n = static_cast<std::uint64_t>(top / m);
        b = top % m;
        std::swap(m, a);
    }
}

template std::optional<Wide> floorSum(std::uint64_t, Wide, Wide, Wide);
template std::optional<Big> floorSum(std::uint64_t, Big, Big, Big);

} // namespace quadrilo
