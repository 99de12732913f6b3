// a b + c, correctly rounded, without a fused multiply-add instruction.
//
// Method: the three operands are taken apart into integer significands of
// at most 53 bits and exponents (m 2^e). The product's significand, at most
// 106 bits, is exact in 128-bit integer arithmetic. Product and addend are
// each shifted so that their leading bit is bit 125; the smaller one is
// then shifted right by the difference of their exponents, and the bits it
// loses are kept only as a sticky flag. The sum or difference of the two
// integers is exact, and the flag is folded into its last bit so that the
// result is the exact value rounded to odd at bit 0: (r - 1) | 1 for a
// difference, r | 1 for a sum. Rounding that integer once to 53 bits (fewer
// below the normal range), to nearest with ties to even, gives the same
// result as rounding the exact value, because bits are only lost when the
// shift exceeds 20 (the product's last bit is bit 20 or above), and then
// the result keeps at least 124 bits, so the rounding point lies at least
// 71 bits above the bit that was made odd.
// The rounded significand is added to the biased exponent as an integer,
// so that a carry out of the significand moves the exponent, into infinity
// when it overflows.
//
// Error: none; the result is a b + c correctly rounded to nearest, ties to
// even, with the signs of zero of IEEE 754's fusedMultiplyAdd. Infinities
// and NaNs give what a b + c gives, except that a finite product meeting an
// infinite addend gives the addend.
//
// The caller needs nothing: every double is accepted. About 20 ns a call.
#include "compute/exact/fused.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

namespace quadrilo {
namespace {

using Wide = unsigned __int128;

// |x| = m 2^e, m below 2^53; x finite and not zero.
struct Parts {
    std::uint64_t m;
    int e;
    bool negative;
};

Parts partsOf(double x)
{
    std::uint64_t bits = 0;
    std::memcpy(&bits, &x, sizeof bits);
    const int biased = static_cast<int>((bits >> 52) & 0x7ff);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    const bool negative = (bits >> 63) != 0;
    if (biased == 0)
        return {fraction, -1074, negative};
    return {fraction | (std::uint64_t{1} << 52), biased - 1075, negative};
}

int bitLength(Wide v)
{
    const auto high = static_cast<std::uint64_t>(v >> 64);
    const auto low = static_cast<std::uint64_t>(v);
    if (high != 0)
        return 128 - __builtin_clzll(high);
    return low != 0 ? 64 - __builtin_clzll(low) : 0;
}

// r 2^e rounded to a double, r not zero and rounded to odd at bit 0 when
// it is inexact, with at least 2 bits below the rounding point then.
double rounded(Wide r, int e, bool negative)
{
    const int n = bitLength(r);
    const int top = e + n - 1;
    const int precision = top >= -1022 ? 53 : top + 1075;
    const int shift = n - precision;
    std::uint64_t bits = 0;
    if (shift > n) {
        bits = 0; // below half the smallest subnormal
    } else {
        Wide kept = 0;
        if (shift <= 0) {
            kept = r << -shift;
        } else {
            kept = r >> shift;
            const Wide rest = r & ((Wide{1} << shift) - 1);
            const Wide half = Wide{1} << (shift - 1);
            if (rest > half || (rest == half && (kept & 1) != 0))
                ++kept;
        }
        // kept's last bit weighs 2^(e + shift): 2^-1074 below the normal
        // range, where the biased exponent field is 0.
        const int field = e + shift + 1074;
        if (kept == 0)
            bits = 0;
        else if (field > 2046)
            bits = 0x7ff0000000000000ULL;
        else
            bits = std::min((static_cast<std::uint64_t>(field) << 52) + static_cast<std::uint64_t>(kept),
                            std::uint64_t{0x7ff0000000000000ULL});
    }
    if (negative)
        bits |= std::uint64_t{1} << 63;
    double result = 0;
    std::memcpy(&result, &bits, sizeof result);
    return result;
}

#if defined(__x86_64__) && !defined(__FMA__)
[[gnu::target("fma")]] double fusedInstruction(double a, double b, double c)
{
    return __builtin_fma(a, b, c);
}
#endif

} // namespace

double fusedSoftware(double a, double b, double c)
{
    if (std::isnan(a) || std::isnan(b) || std::isnan(c) || std::isinf(a) || std::isinf(b))
        return a * b + c;
    if (std::isinf(c))
        return c;
    // The product is exact: a zero, or a sum rounded once.
    if (a == 0 || b == 0)
        return a * b + c;
    // Rounded once; a zero keeps the product's sign, as the exact sum does.
    if (c == 0)
        return a * b;

    const Parts x = partsOf(a), y = partsOf(b), z = partsOf(c);
    Wide big = Wide{x.m} * y.m;
    int bigE = x.e + y.e;
    bool bigNegative = x.negative != y.negative;
    Wide small = z.m;
    int smallE = z.e;
    bool smallNegative = z.negative;
    const int bigShift = 126 - bitLength(big), smallShift = 126 - bitLength(small);
    big <<= bigShift;
    bigE -= bigShift;
    small <<= smallShift;
    smallE -= smallShift;
    if (smallE > bigE || (smallE == bigE && small > big)) {
        std::swap(big, small);
        std::swap(bigE, smallE);
        std::swap(bigNegative, smallNegative);
    }

    const int distance = bigE - smallE;
    bool sticky = false;
    if (distance >= 128) {
        sticky = true;
        small = 0;
    } else if (distance > 0) {
        sticky = (small & ((Wide{1} << distance) - 1)) != 0;
        small >>= distance;
    }
    Wide r = 0;
    if (bigNegative == smallNegative) {
        r = big + small;
        if (sticky)
            r |= 1;
    } else {
        r = big - small;
        if (sticky)
            r = (r - 1) | 1;
    }
    if (r == 0)
        return 0.0; // an exact cancellation is +0 when rounding to nearest
    return rounded(r, bigE, bigNegative);
}

double fused(double a, double b, double c)
{
#if defined(__x86_64__) && !defined(__FMA__)
    static const bool instruction = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("fma") != 0;
    }();
    return instruction ? fusedInstruction(a, b, c) : fusedSoftware(a, b, c);
#else
    return __builtin_fma(a, b, c);
#endif
}

} // namespace quadrilo
