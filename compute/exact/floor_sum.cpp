#include "compute/exact/floor_sum.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
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

// x / y and x % y together: one division, not two.
void divide(const Wide& x, const Wide& y, Wide& quotient, Wide& remainder)
{
    quotient = x / y;
    remainder = x - quotient * y;
}

// Boost's division works limb by limb whatever the quotient; Euclid's
// quotients are mostly small, and the first divisor of the bands' sums is a
// power of two. A quotient below 2^50 comes from the doubles of x's and y's
// leading 64 bits, within 3 2^-53 relatively, so within one of the true
// one, and is set right by a subtraction or two.
void divide(const Big& x, const Big& y, Big& quotient, Big& remainder)
{
    const unsigned high = bits(x), low = bits(y);
    if (high < low) {
        quotient = 0;
        remainder = x;
        return;
    }
    if ((y & (y - 1)) == 0) {
        quotient = x >> (low - 1);
        remainder = x & (y - 1);
        return;
    }
    if (high - low >= 50) {
        boost::multiprecision::divide_qr(x, y, quotient, remainder);
        return;
    }
    const auto leading = [](const Big& z, unsigned width) {
        const unsigned shift = width > 64 ? width - 64 : 0;
        return std::ldexp(static_cast<double>(static_cast<std::uint64_t>(z >> shift)), static_cast<int>(shift));
    };
    auto guess = static_cast<std::uint64_t>(leading(x, high) / leading(y, low));
    Big product = y * guess;
    for (; product > x; --guess)
        product -= y;
    remainder = x - product;
    for (; remainder >= y; ++guess)
        remainder -= y;
    quotient = guess;
}

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
    U sum = 0, quotient, remainder;
    for (;;) {
        if (a >= m) {
            const U pairs = n % 2 == 0 ? U{n / 2} * (n - 1) : U{n} * ((n - 1) / 2);
            divide(a, m, quotient, remainder);
            sum += pairs * quotient;
            a = remainder;
        }
        if (b >= m) {
            divide(b, m, quotient, remainder);
            sum += U{n} * quotient;
            b = remainder;
        }
        const U top = a * n + b;
        if (top < m)
            return sum;
        divide(top, m, quotient, b);
        n = static_cast<std::uint64_t>(quotient);
        std::swap(m, a);
    }
}

template std::optional<Wide> floorSum(std::uint64_t, Wide, Wide, Wide);
template std::optional<Big> floorSum(std::uint64_t, Big, Big, Big);

} // namespace quadrilo
