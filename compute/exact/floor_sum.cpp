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

// The leading 53 bits of x, truncated, times 2^shift: within 2^-52 of x
// relatively. They convert as a signed word: an unsigned one's conversion
// branches on its top bit, which Euclid's numbers set at random.
double leading(std::uint64_t high, std::uint64_t next, int shift)
{
    const int zeros = std::countl_zero(high);
    const std::uint64_t top = zeros == 0 ? high : (high << zeros) | (next >> (64 - zeros));
    const auto power = std::bit_cast<double>(static_cast<std::uint64_t>(1023 + shift + 11 - zeros) << 52);
    return static_cast<double>(static_cast<std::int64_t>(top >> 11)) * power;
}

using detail::Words;

Words wordsOf(const Big& x)
{
    Words words{};
    const auto* limbs = x.backend().limbs();
    for (unsigned i = 0; i < x.backend().size() && i < 4; ++i)
        words.word[i] = limbs[i];
    return words;
}

Big bigOf(const Words& x)
{
    Big big = 0;
    for (int i = 3; i >= 0; --i)
        big = (big << 64) | x.word[i];
    return big;
}

// x - y and whether it borrowed, word by word through 128 bits.
Words minus(const Words& x, const Words& y, bool& borrowed)
{
    Words difference;
    std::uint64_t borrow = 0;
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
        const Wide word = static_cast<Wide>(x.word[i]) - y.word[i] - borrow;
        difference.word[i] = static_cast<std::uint64_t>(word);
        borrow = static_cast<std::uint64_t>(word >> 64) & 1;
    }
    borrowed = borrow != 0;
    return difference;
}

bool operator<(const Words& x, const Words& y)
{
    bool borrowed;
    minus(x, y, borrowed);
    return borrowed;
}
bool operator>(const Words& x, const Words& y) { return y < x; }
bool operator>=(const Words& x, const Words& y) { return !(x < y); }
bool operator!=(const Words& x, std::uint64_t y)
{
    return x.word[0] != y || (x.word[1] | x.word[2] | x.word[3]) != 0;
}

Words& operator-=(Words& x, const Words& y)
{
    bool borrowed;
    x = minus(x, y, borrowed);
    return x;
}
Words operator-(Words x, const Words& y) { return x -= y; }

Words& operator+=(Words& x, const Words& y)
{
    Wide carry = 0;
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
        carry += static_cast<Wide>(x.word[i]) + y.word[i];
        x.word[i] = static_cast<std::uint64_t>(carry);
        carry >>= 64;
    }
    return x;
}
Words operator+(Words x, const Words& y) { return x += y; }

// The low 256 bits of the product.
Words operator*(const Words& x, std::uint64_t y)
{
    Words product{};
    Wide carry = 0;
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
        carry += static_cast<Wide>(x.word[i]) * y;
        product.word[i] = static_cast<std::uint64_t>(carry);
        carry >>= 64;
    }
    return product;
}
Words operator*(const Words& x, const Words& y)
{
    Words product{};
    for (int i = 0; i < 4; ++i)
        if (y.word[i] != 0) {
            Words part = x * y.word[i];
            for (int j = 3; j >= i; --j)
                part.word[j] = part.word[j - i];
            for (int j = 0; j < i; ++j)
                part.word[j] = 0;
            product += part;
        }
    return product;
}

std::uint64_t low(const Words& x) { return x.word[0]; }
std::uint64_t low(const Wide& x) { return static_cast<std::uint64_t>(x); }

double approximate(const Words& x)
{
    int top = 3;
    while (top > 0 && x.word[top] == 0)
        --top;
    return leading(x.word[top], top > 0 ? x.word[top - 1] : 0, 64 * top);
}

// The hardware's division, where the quotient is small as Euclid's mostly
// are, beats an estimate from doubles: 0.22 against 0.28 us a sum.
void divide(const Wide& x, const Wide& y, double, Wide& quotient, Wide& remainder)
{
    quotient = x / y;
    remainder = x - quotient * y;
}

void divideExactly(const Words& x, const Words& y, Words& quotient, Words& remainder)
{
    Big q, r;
    boost::multiprecision::divide_qr(bigOf(x), bigOf(y), q, r);
    quotient = wordsOf(q);
    remainder = wordsOf(r);
}

// floor(x / y) and the rest, given 1 / y within 2^-51 relatively. Euclid's
// quotients are mostly small: below 2^50 the product of the estimates is
// within 2^-50 relatively, so within 1 of x / y and 2 of the quotient, and
// a subtraction or two sets the guess right; y times the guess stays below
// x + 2 y, within the width. Past that, the division is made in full.
void divide(const Words& x, const Words& y, double inverse, Words& quotient, Words& remainder)
{
    if (x < y) {
        quotient = Words{0};
        remainder = x;
        return;
    }
    const double estimate = approximate(x) * inverse;
    if (!(estimate < 0x1p50)) {
        divideExactly(x, y, quotient, remainder);
        return;
    }
    auto guess = static_cast<std::uint64_t>(estimate);
    Words product = y * guess;
    for (; product > x; --guess)
        product -= y;
    remainder = x - product;
    for (; remainder >= y; ++guess)
        remainder -= y;
    quotient = Words{guess};
}

template <class N, class U>
N numberOf(const U& x)
{
    if constexpr (std::is_same_v<N, U>)
        return x;
    else if constexpr (std::is_same_v<U, Wide>)
        return N{static_cast<std::uint64_t>(x), static_cast<std::uint64_t>(x >> 64)};
    else
        return wordsOf(x);
}

// x y, for x below 2^128 and y below 2^64.
template <class N>
N times(const Wide& x, std::uint64_t y)
{
    if constexpr (std::is_same_v<N, Wide>) {
        return x * y;
    } else {
        const Wide low = static_cast<Wide>(static_cast<std::uint64_t>(x)) * y;
        const Wide high = static_cast<Wide>(static_cast<std::uint64_t>(x >> 64)) * y + (low >> 64);
        return N{static_cast<std::uint64_t>(low), static_cast<std::uint64_t>(high), static_cast<std::uint64_t>(high >> 64)};
    }
}

} // namespace

template <class U>
FloorSums<U>::FloorSums(U m, U a) : m_(m), a_(a)
{
    assert(m > 0);
    // (m, a) becomes (a mod m, m) until the slope is whole.
    for (;;) {
        const U quotient = a / m, rest = a - quotient * m;
        double inverse = 0.0;
        if constexpr (std::is_same_v<Number, Words>)
            inverse = 1.0 / approximate(numberOf<Number>(m));
        steps_.push_back(Step{numberOf<Number>(m), numberOf<Number>(rest), numberOf<Number>(quotient), inverse,
                              quotient >> 64 == 0});
        if (rest == 0)
            return;
        a = m;
        m = rest;
    }
}

template <class U>
std::optional<U> FloorSums<U>::operator()(std::uint64_t n, U b) const
{
    // Past the first step, each a n + b is below the last one's a n + m, (n,
    // m, a) becoming (floor((a n + b) / m), a, m) with a and b reduced below
    // m; every part of the sum is below the whole, n (a n + b) / m. In bits,
    // for a width w: a n, b and m below 2^(w - 3) each keep a n + b + m below
    // 2^(w - 1), and the sum is below 2^(bits(n) + max(bits(a n), bits(b)) +
    // 1 - (bits(m) - 1)).
    constexpr unsigned room = kWidth<U> - 3;
    const unsigned count = bits(U{n});
    if (count + bits(a_) > room || bits(b) > room || bits(m_) > room ||
        count + std::max(count + bits(a_), bits(b)) + 2 > room + 1 + bits(m_))
        return std::nullopt;
    const auto result = [](const Number& sum) {
        if constexpr (std::is_same_v<Number, U>)
            return sum;
        else
            return bigOf(sum);
    };
    Number sum{0}, quotient, remainder, rest = numberOf<Number>(b);
    for (const Step& step : steps_) {
        if (step.quotient != 0) {
            const Wide pairs = n % 2 == 0 ? Wide{n / 2} * (n - 1) : Wide{n} * ((n - 1) / 2);
            if (step.small)
                sum += times<Number>(pairs, low(step.quotient));
            else
                sum += numberOf<Number>(pairs) * step.quotient;
        }
        if (rest >= step.m) {
            divide(rest, step.m, step.inverse, quotient, remainder);
            sum += quotient * n;
            rest = remainder;
        }
        const Number top = step.a * n + rest;
        if (top < step.m)
            return result(sum);
        divide(top, step.m, step.inverse, quotient, rest);
        n = low(quotient);
    }
    // The last step's slope is 0, so its top is b, below m.
    assert(false);
    return result(sum);
}

template class FloorSums<Wide>;
template class FloorSums<Big>;

} // namespace quadrilo
